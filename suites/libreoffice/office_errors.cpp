#include "suites/libreoffice/office_errors.h"

#include "core/automation/automation.h"
#include "core/text/paths.h"
#include "suites/libreoffice/office_process.h"

#include <com/sun/star/lang/DisposedException.hpp>

#include <thread>

namespace libreoffice {

using automation::Error;

std::string OfficeErrors::lostOfficeText(const std::string& subject) const {
    const std::string where =
        subject.empty() ? std::string() : "（正在处理" + text::quotedPath(subject) + "）";
    if (process_.timedOut())
        return "LibreOffice 没有在 " + std::to_string(secondsOf(callTimeout_)) + " 秒内响应" +
               where + "，已被强制结束。";
    return "LibreOffice 意外退出" + where + "。";
}

void OfficeErrors::rethrow(long errorNumber, const std::string& subject) {
    try {
        throw;
    } catch (const Error&) {
        throw;
    } catch (const css::lang::DisposedException& e) {
        officeFailure(errorNumber, subject, toUtf8(e.Message), true);
    } catch (const css::uno::Exception& e) {
        officeFailure(errorNumber, subject, toUtf8(e.Message), false);
    } catch (const std::exception& e) {
        throw Error(errorNumber, e.what());
    } catch (...) {
        throw Error(
            errorNumber,
            "LibreOffice 接口出现未知错误" +
                (subject.empty() ? std::string() : "（" + text::quotedPath(subject) + "）") + "。");
    }
}

void OfficeErrors::officeFailure(long errorNumber, const std::string& subject,
                                 const std::string& message, bool disposed) {
    if (disposed && process_.isRunning() && !process_.timedOut()) {
        // The connection closes a moment before the ended process can be
        // reaped; a disposed object in a running office is no loss.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!process_.exited() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (process_.timedOut() || !process_.isRunning() || process_.exited()) {
        const std::string text = lostOfficeText(subject);
        process_.forget();
        throw Error(automation::errors::ServerUnavailable, text);
    }
    const std::string where =
        subject.empty() ? std::string() : "处理" + text::quotedPath(subject) + "时";
    throw Error(errorNumber, "LibreOffice " + where + "报告错误：" + message);
}

} // namespace libreoffice
