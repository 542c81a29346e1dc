#pragma once

// Small helpers around the UNO C++ binding: text conversion, file URLs,
// property values, and references between interfaces (outside the office's
// own tree `Reference<Base>` does not convert implicitly from a derived one).

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/Sequence.hxx>
#include <osl/file.hxx>
#include <rtl/ustring.hxx>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace libreoffice::uno {

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

inline rtl::OUString toOUString(std::string_view utf8) {
    return rtl::OStringToOUString(rtl::OString(utf8.data(), static_cast<sal_Int32>(utf8.size())),
                                  RTL_TEXTENCODING_UTF8);
}

inline std::string toUtf8(const rtl::OUString& text) {
    const rtl::OString bytes = rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8);
    return std::string(bytes.getStr(), static_cast<std::size_t>(bytes.getLength()));
}

// The file URL of an absolute or relative path.
inline rtl::OUString fileUrl(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec)
        absolute = path;
    rtl::OUString url;
    osl::FileBase::getFileURLFromSystemPath(toOUString(absolute.string()), url);
    return url;
}

// A reference to `Target` of the same object; empty when it has none.
template <class Target, class Source> Reference<Target> as(const Reference<Source>& source) {
    return Reference<Target>(source, UNO_QUERY);
}

// The same, raising css::uno::RuntimeException when the object lacks it.
template <class Target, class Source> Reference<Target> must(const Reference<Source>& source) {
    return Reference<Target>(source, UNO_QUERY_THROW);
}

// A property list for loading and storing: {{"Hidden", Any(true)}, ...}.
inline Sequence<css::beans::PropertyValue>
properties(const std::vector<std::pair<const char*, Any>>& values) {
    Sequence<css::beans::PropertyValue> sequence(static_cast<sal_Int32>(values.size()));
    css::beans::PropertyValue* out = sequence.getArray();
    for (std::size_t i = 0; i < values.size(); ++i) {
        out[i].Name = rtl::OUString::createFromAscii(values[i].first);
        out[i].Value = values[i].second;
    }
    return sequence;
}

template <class T> T propertyOf(const Reference<css::beans::XPropertySet>& set, const char* name) {
    T value{};
    set->getPropertyValue(rtl::OUString::createFromAscii(name)) >>= value;
    return value;
}

inline void setProperty(const Reference<css::beans::XPropertySet>& set, const char* name,
                        const Any& value) {
    set->setPropertyValue(rtl::OUString::createFromAscii(name), value);
}

} // namespace libreoffice::uno

namespace libreoffice {

// The names the server's sources use throughout.
namespace css = uno::css;
using rtl::OUString;
using uno::Any;
using uno::Reference;
using uno::toOUString;
using uno::toUtf8;

} // namespace libreoffice
