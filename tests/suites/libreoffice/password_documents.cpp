#include "password_documents.h"

#include "suites/libreoffice/office_session.h"

#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>

#include <stdexcept>

namespace office_testing {

namespace css = libreoffice::uno::css;

void storeCopy(const std::filesystem::path& source, const std::filesystem::path& target,
               const StoreOptions& options) {
    const auto installation = libreoffice::findInstallation();
    if (!installation)
        throw std::runtime_error("LibreOffice is not installed");
    const auto kind = source.extension().string().rfind(".doc", 0) == 0
                          ? libreoffice::files::Kind::Word
                          : libreoffice::files::Kind::Excel;
    libreoffice::Session session(libreoffice::ServerOptions{}, *installation);
    // Under the session's watchdog, as the server's own calls are.
    libreoffice::Session::Call call(session);
    session.ensureRunning();
    const auto check = libreoffice::files::checkBeforeOpen(source.string(), kind, 0);
    auto loaded = session.load(check, kind, 0);
    if (options.readOnlyRecommended) {
        const auto settings = libreoffice::uno::Reference<css::beans::XPropertySet>(
            libreoffice::uno::must<css::lang::XMultiServiceFactory>(loaded.component)
                ->createInstance("com.sun.star.document.Settings"),
            libreoffice::uno::UNO_QUERY_THROW);
        libreoffice::uno::setProperty(settings, "LoadReadonly", css::uno::Any(true));
    }
    std::vector<std::pair<const char*, css::uno::Any>> properties = {
        {"FilterName", css::uno::Any(rtl::OUString::createFromAscii(
                           libreoffice::files::filterName(loaded.format)))}};
    if (!options.password.empty())
        properties.emplace_back("Password",
                                css::uno::Any(libreoffice::uno::toOUString(options.password)));
    libreoffice::uno::must<css::frame::XStorable>(loaded.component)
        ->storeToURL(libreoffice::uno::fileUrl(target), libreoffice::uno::properties(properties));
    libreoffice::Session::close(loaded.component);
    session.stop();
}

} // namespace office_testing
