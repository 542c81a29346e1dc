#include "core/formats/xml_events.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace formats {

namespace {

// Separates namespace, local name and prefix in the names Expat reports; a
// character no XML document can hold, not even as a reference.
constexpr char kSeparator = '\x01';

XmlName splitName(const XML_Char* raw) {
    const std::string_view s(raw);
    XmlName name;
    const auto first = s.find(kSeparator);
    if (first == std::string_view::npos) {
        name.local = s;
        return name;
    }
    name.uri = s.substr(0, first);
    const auto second = s.find(kSeparator, first + 1);
    if (second == std::string_view::npos) {
        name.local = s.substr(first + 1);
    } else {
        name.local = s.substr(first + 1, second - first - 1);
        name.prefix = s.substr(second + 1);
    }
    return name;
}

class Parse {
public:
    Parse(std::string_view document, XmlEvents& events, const XmlLimits& limits)
        : document_(document), events_(events), limits_(limits) {}

    XmlResult run() {
        XmlResult result;
        if (document_.size() > limits_.maxSize || document_.size() > INT_MAX) {
            result.outcome = XmlResult::Outcome::Refused;
            result.message = "larger than the limit";
            return result;
        }
        const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(
            XML_ParserCreateNS(nullptr, kSeparator), XML_ParserFree);
        if (!parser)
            throw std::bad_alloc();
        parser_ = parser.get();
        XML_SetReturnNSTriplet(parser_, 1);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &Parse::onStart, &Parse::onEnd);
        XML_SetCharacterDataHandler(parser_, &Parse::onText);
        XML_SetStartDoctypeDeclHandler(parser_, &Parse::onDoctype);
        XML_SetEntityDeclHandler(parser_, &Parse::onEntity);

        // Fed in pieces through Expat's own buffer: XML_Parse would copy the
        // whole document into a buffer as large as the document first.
        constexpr std::size_t kPiece = 64 * 1024;
        XML_Status status = XML_STATUS_OK;
        for (std::size_t at = 0; status == XML_STATUS_OK;) {
            const std::size_t n = std::min(kPiece, document_.size() - at);
            if (n > 0) {
                void* buffer = XML_GetBuffer(parser_, static_cast<int>(n));
                if (!buffer)
                    throw std::bad_alloc();
                std::memcpy(buffer, document_.data() + at, n);
            }
            at += n;
            const bool last = at == document_.size();
            status = XML_ParseBuffer(parser_, static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
            if (last)
                break;
        }
        if (failure_)
            std::rethrow_exception(failure_);
        if (!refusal_.empty()) {
            result.outcome = XmlResult::Outcome::Refused;
            result.message = refusal_;
            result.offset = refusalOffset_;
        } else if (events_.stopRequested()) {
            result.outcome = XmlResult::Outcome::Stopped;
            result.offset = position();
        } else if (status != XML_STATUS_OK) {
            result.outcome = XmlResult::Outcome::Malformed;
            result.message = XML_ErrorString(XML_GetErrorCode(parser_));
            result.offset = position();
        }
        return result;
    }

private:
    static Parse& self(void* data) { return *static_cast<Parse*>(data); }

    std::size_t position() const {
        const XML_Index at = XML_GetCurrentByteIndex(parser_);
        return at < 0 ? 0 : static_cast<std::size_t>(at);
    }
    std::size_t count() const {
        const int n = XML_GetCurrentByteCount(parser_);
        return n < 0 ? 0 : static_cast<std::size_t>(n);
    }

    // Runs a receiver's call; stops the parser when it asks to, or throws.
    template <typename Call> void deliver(Call&& call) {
        if (halted_)
            return;
        try {
            call();
        } catch (...) {
            failure_ = std::current_exception();
        }
        if (failure_ || events_.stopRequested())
            halt();
    }

    void halt() {
        halted_ = true;
        XML_StopParser(parser_, XML_FALSE);
    }

    void refuse(std::string why) {
        if (halted_)
            return;
        refusal_ = std::move(why);
        refusalOffset_ = position();
        halt();
    }

    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** atts) {
        Parse& p = self(data);
        if (p.halted_)
            return;
        if (p.depth_ >= p.limits_.maxDepth) {
            p.refuse("elements nested deeper than the limit");
            return;
        }
        p.attributes_.clear();
        for (const XML_Char** a = atts; a[0]; a += 2)
            p.attributes_.push_back({splitName(a[0]), std::string_view(a[1])});
        XmlStartTag tag;
        tag.name = splitName(name);
        tag.attributes = p.attributes_;
        tag.offset = p.position();
        tag.length = p.count();
        tag.depth = p.depth_++;
        p.deliver([&] { p.events_.startElement(tag); });
    }

    static void XMLCALL onEnd(void* data, const XML_Char* name) {
        Parse& p = self(data);
        if (p.halted_)
            return;
        XmlEndTag tag;
        tag.name = splitName(name);
        tag.offset = p.position();
        tag.length = p.count();
        tag.depth = --p.depth_;
        p.deliver([&] { p.events_.endElement(tag); });
    }

    static void XMLCALL onText(void* data, const XML_Char* s, int len) {
        Parse& p = self(data);
        if (p.halted_)
            return;
        XmlText text;
        text.text = std::string_view(s, static_cast<std::size_t>(len));
        text.offset = p.position();
        text.length = p.count();
        text.literal = text.offset <= p.document_.size() &&
                       p.document_.substr(text.offset, text.length) == text.text;
        p.deliver([&] { p.events_.characters(text); });
    }

    static void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                  int) {
        self(data).refuse("a document type declaration");
    }

    static void XMLCALL onEntity(void* data, const XML_Char*, int, const XML_Char*, int,
                                 const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
        self(data).refuse("an entity declaration");
    }

    std::string_view document_;
    XmlEvents& events_;
    const XmlLimits& limits_;
    XML_Parser parser_ = nullptr;
    std::vector<XmlAttribute> attributes_;
    std::size_t depth_ = 0;
    bool halted_ = false;
    std::exception_ptr failure_;
    std::string refusal_;
    std::size_t refusalOffset_ = 0;
};

} // namespace

std::optional<std::string_view> XmlStartTag::attribute(std::string_view namespaceUri,
                                                       std::string_view localName) const {
    for (const XmlAttribute& a : attributes)
        if (a.name.is(namespaceUri, localName))
            return a.value;
    return std::nullopt;
}

XmlResult parseXml(std::string_view document, XmlEvents& events, const XmlLimits& limits) {
    return Parse(document, events, limits).run();
}

} // namespace formats
