#include "suites/libreoffice/office_session.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/document/LockedDocumentRequest.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionApprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ref.hxx>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace libreoffice {

namespace fs = std::filesystem;
namespace css = uno::css;
using automation::Error;
using rtl::OUString;
using uno::Any;
using uno::Reference;
using uno::toOUString;
using uno::toUtf8;

namespace {

using Clock = std::chrono::steady_clock;

// The profile slots one user may use at the same time: one per application
// object that runs an office.
constexpr int kProfileSlots = 16;
// Exit codes with which the office asks its launcher to start it again.
constexpr int kExitRestart = 81;
constexpr int kExitCrashRestart = 79;
// How long a polite end may take before the office is ended by force.
constexpr auto kStopGrace = std::chrono::seconds(10);

std::string inQuotes(const fs::path& p) {
    return "“" + p.string() + "”";
}

long seconds(std::chrono::milliseconds d) {
    return static_cast<long>((d.count() + 999) / 1000);
}

// The context of this process's side of the connection; made once.
Reference<css::uno::XComponentContext> localContext(const fs::path& programFolder) {
    static std::mutex mutex;
    // Kept to the end of the process on purpose: tearing the UNO runtime down
    // while the process exits is not safe.
    static auto* context = new Reference<css::uno::XComponentContext>();
    std::lock_guard lock(mutex);
    if (!context->is()) {
        // Without this the bootstrap finds no type library and the first
        // remote call crashes.
        rtl::Bootstrap::set(
            "URE_BOOTSTRAP",
            toOUString("vnd.sun.star.pathname:" + (programFolder / "fundamentalrc").string()));
        *context = cppu::defaultBootstrap_InitialComponentContext();
    }
    return *context;
}

// Selects the continuation of the wanted kind; false when there is none.
template <class Wanted>
bool choose(const uno::Sequence<Reference<css::task::XInteractionContinuation>>& continuations) {
    for (const auto& c : continuations) {
        Reference<Wanted> choice(c, uno::UNO_QUERY);
        if (choice.is()) {
            choice->select();
            return true;
        }
    }
    return false;
}

// Answers the office's questions while a document loads: nobody is asked,
// and what was asked is kept for the error description.
class LoadQuestions : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
        const Any what = request->getRequest();
        const OUString type = what.getValueTypeName();
        const auto continuations = request->getContinuations();
        auto approve = [&] { return choose<css::task::XInteractionApprove>(continuations); };
        auto abort = [&] { choose<css::task::XInteractionAbort>(continuations); };

        std::lock_guard lock(mutex_);
        css::document::LockedDocumentRequest locked;
        css::task::ErrorCodeRequest errorCode;
        if (what >>= locked) {
            // Opened read-only, as Word opens a document in use; saving it
            // is refused later.
            lockedBy_ = toUtf8(locked.UserInfo);
            if (!approve())
                abort();
        } else if (type.indexOf("PasswordRequest") >= 0) {
            passwordAsked_ = true;
            abort();
        } else if (type.endsWith("LockFileIgnoreRequest") ||
                   type.endsWith("LockFileCorruptRequest")) {
            // The lock file cannot be made or read: open anyway; the
            // document is read-only for the server then.
            lockFileProblem_ = true;
            if (!approve())
                abort();
        } else if (what >>= errorCode) {
            // Warnings (the high bit) do not stop a load.
            const auto code = static_cast<std::uint32_t>(errorCode.ErrCode);
            if ((code & 0x80000000u) != 0 && approve())
                return;
            if (errorCode_ == 0)
                errorCode_ = code;
            abort();
        } else {
            if (otherQuestion_.empty())
                otherQuestion_ = toUtf8(type);
            abort();
        }
    }

    bool passwordAsked() {
        std::lock_guard lock(mutex_);
        return passwordAsked_;
    }
    std::string lockedBy() {
        std::lock_guard lock(mutex_);
        return lockedBy_;
    }
    bool lockFileProblem() {
        std::lock_guard lock(mutex_);
        return lockFileProblem_;
    }
    std::uint32_t errorCode() {
        std::lock_guard lock(mutex_);
        return errorCode_;
    }
    std::string otherQuestion() {
        std::lock_guard lock(mutex_);
        return otherQuestion_;
    }

private:
    std::mutex mutex_;
    bool passwordAsked_ = false;
    bool lockFileProblem_ = false;
    std::string lockedBy_;
    std::uint32_t errorCode_ = 0;
    std::string otherQuestion_;
};

const char* filterName(files::Format format) {
    return format == files::Format::Word97 ? "MS Word 97" : "MS Excel 97";
}

bool isExpectedType(files::Format format, const std::string& type) {
    if (format == files::Format::Word97)
        return type == "writer_MS_Word_97" || type == "writer_MS_Word_97_Vorlage";
    return type == "calc_MS_Excel_97" || type == "calc_MS_Excel_97_VorlageTemplate";
}

bool isOlderVersionType(const std::string& type) {
    return type.find("Word_95") != std::string::npos || type.find("WinWord") != std::string::npos ||
           type.find("Excel_95") != std::string::npos ||
           type.find("Excel_5095") != std::string::npos ||
           type.find("Excel_40") != std::string::npos;
}

// The command line of a process, arguments separated by NUL; empty when the
// process is gone or not readable.
std::string commandLineOf(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return content;
}

} // namespace

// ---------------------------------------------------------------- lifetime

Session::Session(ServerOptions options, Installation installation)
    : options_(std::move(options)), installation_(std::move(installation)) {
    if (options_.programFolder.empty())
        options_.programFolder = defaultProgramFolder();
    if (options_.profileRoot.empty())
        options_.profileRoot = defaultProfileRoot();
}

Session::~Session() {
    stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (watchdog_.joinable())
        watchdog_.join();
}

void Session::ensureRunning() {
    if (child_ > 0) {
        if (!childExited())
            return;
        // The office ended on its own since the last call.
        forgetOffice();
    }
    if (!startFailure_.empty())
        throw Error(automation::errors::CannotCreateObject, startFailure_);
    try {
        start();
    } catch (const Error& e) {
        startFailure_ = e.description;
        forgetOffice();
        if (callDepth_ == 0)
            clearDeadline();
        throw;
    }
}

void Session::start() {
    if (!watchdog_.joinable())
        watchdog_ = std::thread([this] { watchdogLoop(); });

    const fs::path soffice = options_.programFolder / "soffice.bin";
    const std::string cannotStart = "无法启动 LibreOffice（" + soffice.string() + "）：";
    acquireSlot();
    endOrphans();
    prepareProfile(slot_.folder, installation_.version);

    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string pipeName = "batchreplace-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(random());

    Reference<css::uno::XComponentContext> local;
    try {
        local = localContext(options_.programFolder);
    } catch (const css::uno::Exception& e) {
        throw Error(automation::errors::CannotCreateObject,
                    cannotStart + "程序接口无法初始化（" + toUtf8(e.Message) +
                        "）。请检查 LibreOffice 是否完整安装。");
    }

    timedOut_ = false;
    const auto startDeadline = Clock::now() + options_.startTimeout;
    spawnOffice(pipeName);
    setDeadline(startDeadline);

    const OUString connectUrl =
        toOUString("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext");
    Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(local);
    int restarts = 0;
    for (;;) {
        try {
            context_.set(resolver->resolve(connectUrl), uno::UNO_QUERY);
            if (context_.is())
                break;
        } catch (const css::connection::NoConnectException&) {
            // Not listening yet.
        } catch (const css::uno::Exception&) {
            // Listening but not answering yet, or gone: the checks below tell.
        }
        int status = 0;
        if (childExited(&status)) {
            const bool timedOut = timedOut_;
            if (!timedOut && WIFEXITED(status) &&
                (WEXITSTATUS(status) == kExitRestart || WEXITSTATUS(status) == kExitCrashRestart) &&
                restarts < 2) {
                ++restarts;
                spawnOffice(pipeName);
                continue;
            }
            clearDeadline();
            if (timedOut)
                throw Error(automation::errors::CannotCreateObject,
                            cannotStart + "它没有在 " +
                                std::to_string(seconds(options_.startTimeout)) +
                                " 秒内准备好，已被结束。");
            const std::string how = WIFEXITED(status)
                                        ? "退出码 " + std::to_string(WEXITSTATUS(status))
                                        : "信号 " + std::to_string(WTERMSIG(status));
            throw Error(
                automation::errors::CannotCreateObject,
                cannotStart + "它在启动时退出（" + how + "）。详细信息见 " +
                    (options_.profileRoot / ("profile-" + std::to_string(slot_.index) + ".log"))
                        .string() +
                    "。请检查 LibreOffice 是否完整安装。");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    try {
        desktop_ = css::frame::Desktop::create(context_);
    } catch (const css::uno::Exception& e) {
        clearDeadline();
        throw Error(automation::errors::CannotCreateObject,
                    cannotStart + "无法取得它的桌面对象（" + toUtf8(e.Message) + "）。");
    }
    applySettings();
    // The member that needed the office goes on under its own time limit.
    if (callDepth_ > 0)
        setDeadline(Clock::now() + options_.callTimeout);
    else
        clearDeadline();
    ++generation_;
}

void Session::stop() noexcept {
    if (child_ <= 0) {
        releaseSlot();
        return;
    }
    setDeadline(Clock::now() + kStopGrace);
    try {
        // Refused (something still holds a document): ended by force below.
        if (desktop_.is() && !childExited() && !desktop_->terminate() && child_ > 0)
            ::kill(-child_, SIGKILL);
    } catch (...) {
        // The bridge goes away while the office ends; that is expected.
    }
    desktop_.clear();
    context_.clear();
    const auto until = Clock::now() + kStopGrace;
    while (!childExited() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    forgetOffice();
    clearDeadline();
}

// Ends what is left of the office and drops every reference into it.
void Session::forgetOffice() noexcept {
    desktop_.clear();
    context_.clear();
    if (child_ > 0) {
        ::kill(-child_, SIGKILL);
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = 0;
    }
    // An office that was ended with documents open leaves their lock files
    // behind in the users' folders; those of this profile go.
    for (const auto& path : openDocuments_) {
        const fs::path lockFile = files::lockFilePath(path);
        const auto owner = files::readLockFile(lockFile);
        if (owner && !slot_.profileUrl.empty() && owner->profileUrl == slot_.profileUrl)
            ::unlink(lockFile.c_str());
    }
    openDocuments_.clear();
    releaseSlot();
}

void Session::closed(const fs::path& document) noexcept {
    openDocuments_.erase(document);
}

bool Session::childExited(int* status) {
    if (child_ <= 0)
        return true;
    int local = 0;
    const pid_t r = ::waitpid(child_, &local, WNOHANG);
    if (r == 0)
        return false;
    if (r == child_) {
        if (status)
            *status = local;
        // The leader is reaped; the group id stays valid for what is left.
        ::kill(-child_, SIGKILL);
        child_ = 0;
        return true;
    }
    // Not our child any more (reaped elsewhere): treat as ended.
    child_ = 0;
    return true;
}

// ---------------------------------------------------------------- profile slots

void Session::acquireSlot() {
    if (slot_.lockFd >= 0)
        return;
    std::error_code ec;
    fs::create_directories(options_.profileRoot, ec);
    for (int i = 0; i < kProfileSlots; ++i) {
        const fs::path lockPath = options_.profileRoot / ("profile-" + std::to_string(i) + ".lock");
        const int fd = ::open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0)
            break;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            slot_.lockFd = fd;
            slot_.index = i;
            slot_.folder = options_.profileRoot / ("profile-" + std::to_string(i));
            slot_.profileUrl = toUtf8(uno::fileUrl(slot_.folder));
            return;
        }
        ::close(fd);
    }
    throw Error(automation::errors::CannotCreateObject,
                "无法启动 LibreOffice：配置文件夹" + inQuotes(options_.profileRoot) +
                    "不可用（无法创建，或已有 " + std::to_string(kProfileSlots) +
                    " 个实例在运行）。请检查该文件夹的权限。");
}

void Session::releaseSlot() noexcept {
    if (slot_.lockFd >= 0)
        ::close(slot_.lockFd);
    slot_ = Slot{};
}

// An office left running by a process of ours that ended without ending it
// holds the slot's profile; it is ended before the profile is used again.
void Session::endOrphans() const {
    const std::string marker = "-env:UserInstallation=" + slot_.profileUrl;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string command = commandLineOf(name);
        // Arguments are NUL-separated: compare whole arguments only.
        std::size_t pos = 0;
        while (pos < command.size()) {
            const std::size_t end = command.find('\0', pos);
            const std::string argument =
                command.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            if (argument == marker) {
                ::kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
                break;
            }
            if (end == std::string::npos)
                break;
            pos = end + 1;
        }
    }
}

// A lock file written by one of this user's other profiles whose office no
// longer runs is stale: the office would refuse the document as locked.
void Session::removeStaleLock(const fs::path& document) const {
    const fs::path lockFile = files::lockFilePath(document);
    const auto owner = files::readLockFile(lockFile);
    if (!owner)
        return;
    for (int i = 0; i < kProfileSlots; ++i) {
        if (i == slot_.index)
            continue;
        const fs::path folder = options_.profileRoot / ("profile-" + std::to_string(i));
        if (owner->profileUrl != toUtf8(uno::fileUrl(folder)))
            continue;
        const fs::path lockPath = options_.profileRoot / ("profile-" + std::to_string(i) + ".lock");
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(lockFile.c_str());
        ::close(fd);
        return;
    }
}

// ---------------------------------------------------------------- the process

void Session::spawnOffice(const std::string& pipeName) {
    const fs::path soffice = options_.programFolder / "soffice.bin";
    std::vector<std::string> arguments = {
        soffice.string(),
        "--headless",
        "--invisible",
        "--nocrashreport",
        "--nodefault",
        "--nofirststartwizard",
        "--nolockcheck",
        "--nologo",
        "--norestore",
        "--accept=pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext",
        "-env:UserInstallation=" + slot_.profileUrl,
    };
    std::vector<std::string> environment = officeEnvironment();

    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const fs::path logPath =
        options_.profileRoot / ("profile-" + std::to_string(slot_.index) + ".log");
    const int logFd = ::open(logPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_t pid = -1;
    int forkError = 0;
    // Started from the watchdog thread, which lives as long as the session:
    // the office is ended by the kernel when that thread ends, even when this
    // process dies without cleaning up.
    runOnWatchdog([&] {
        const pid_t parent = ::getpid();
        pid = ::fork();
        if (pid == 0) {
            // Only async-signal-safe calls from here to exec.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (nullFd >= 0)
                ::dup2(nullFd, 0);
            if (logFd >= 0) {
                ::dup2(logFd, 1);
                ::dup2(logFd, 2);
            }
            ::syscall(SYS_close_range, 3u, ~0u, 0u);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (pid < 0)
            forkError = errno;
        else
            ::setpgid(pid, pid);
    });
    if (logFd >= 0)
        ::close(logFd);
    if (nullFd >= 0)
        ::close(nullFd);
    if (pid < 0)
        throw Error(automation::errors::CannotCreateObject, "无法启动 LibreOffice（" +
                                                                soffice.string() + "）：" +
                                                                std::strerror(forkError) + "。");
    child_ = pid;
}

// Settings that a profile made by an older office version may lack.
void Session::applySettings() {
    try {
        Reference<css::lang::XMultiServiceFactory> provider =
            css::configuration::theDefaultProvider::get(context_);
        auto update = [&](const char* node, const char* name, const Any& value) {
            css::beans::NamedValue path(OUString("nodepath"), Any(OUString::createFromAscii(node)));
            uno::Sequence<Any> args(1);
            args.getArray()[0] <<= path;
            Reference<css::container::XNameReplace> access(
                provider->createInstanceWithArguments(
                    "com.sun.star.configuration.ConfigurationUpdateAccess", args),
                uno::UNO_QUERY_THROW);
            access->replaceByName(OUString::createFromAscii(name), value);
            uno::must<css::util::XChangesBatch>(access)->commitChanges();
        };
        update("/org.openoffice.Setup/Product", "ooSetupLastVersion",
               Any(toOUString(installation_.version)));
        update("/org.openoffice.Office.Recovery/AutoSave", "Enabled", Any(false));
        update("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", Any(false));
    } catch (const css::uno::Exception&) {
        // Only speed and tidiness depend on these; the documents do not.
    }
}

// ---------------------------------------------------------------- watchdog

void Session::watchdogLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (task_) {
            auto task = std::move(task_);
            task_ = nullptr;
            lock.unlock();
            task();
            lock.lock();
            taskDone_ = true;
            changed_.notify_all();
            continue;
        }
        if (armed_) {
            if (Clock::now() >= deadline_) {
                armed_ = false;
                if (child_ > 0) {
                    timedOut_ = true;
                    ::kill(-child_, SIGKILL);
                }
                continue;
            }
            changed_.wait_until(lock, deadline_);
        } else {
            changed_.wait(lock);
        }
    }
}

void Session::runOnWatchdog(const std::function<void()>& task) {
    std::unique_lock lock(mutex_);
    task_ = task;
    taskDone_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return taskDone_; });
}

void Session::setDeadline(Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        armed_ = true;
        deadline_ = deadline;
    }
    changed_.notify_all();
}

void Session::clearDeadline() {
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
    }
    changed_.notify_all();
}

Session::Call::Call(Session& session) : session_(session) {
    if (session_.callDepth_++ == 0)
        session_.setDeadline(Clock::now() + session_.options_.callTimeout);
}

Session::Call::~Call() {
    if (--session_.callDepth_ == 0)
        session_.clearDeadline();
}

// ---------------------------------------------------------------- errors

std::string Session::lostOfficeText(const std::string& subject) const {
    const std::string where =
        subject.empty() ? std::string() : "（正在处理" + inQuotes(subject) + "）";
    if (timedOut_)
        return "LibreOffice 没有在 " + std::to_string(seconds(options_.callTimeout)) + " 秒内响应" +
               where + "，已被强制结束。";
    return "LibreOffice 意外退出" + where + "。";
}

void Session::rethrowAsError(long errorNumber, const std::string& subject) {
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
        throw Error(errorNumber,
                    "LibreOffice 接口出现未知错误" +
                        (subject.empty() ? std::string() : "（" + inQuotes(subject) + "）") + "。");
    }
}

void Session::officeFailure(long errorNumber, const std::string& subject,
                            const std::string& message, bool disposed) {
    if (disposed && child_ > 0 && !timedOut_) {
        // The connection closes a moment before the ended process can be
        // reaped; a disposed object in a running office is no loss.
        const auto until = Clock::now() + std::chrono::seconds(2);
        while (!childExited() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (timedOut_ || child_ <= 0 || childExited()) {
        const std::string text = lostOfficeText(subject);
        forgetOffice();
        throw Error(server_errors::ServerUnavailable, text);
    }
    const std::string where = subject.empty() ? std::string() : "处理" + inQuotes(subject) + "时";
    throw Error(errorNumber, "LibreOffice " + where + "报告错误：" + message);
}

// ---------------------------------------------------------------- documents

LoadedDocument Session::load(const files::OpenCheck& check, files::Format format,
                             long errorNumber) {
    const fs::path& path = check.path;
    const std::string label = files::formatLabel(format);
    removeStaleLock(path);

    rtl::Reference<LoadQuestions> questions(new LoadQuestions);
    const Reference<css::task::XInteractionHandler> handler(questions.get());
    const OUString url = uno::fileUrl(path);

    // The content decides, not the name: a Word 95 document or a workbook
    // named .doc is refused before the filter would convert it.
    {
        Reference<css::document::XTypeDetection> detection(
            context_->getServiceManager()->createInstanceWithContext(
                "com.sun.star.document.TypeDetection", context_),
            uno::UNO_QUERY_THROW);
        auto descriptor =
            uno::properties({{"URL", Any(url)}, {"InteractionHandler", Any(handler)}});
        const std::string type = toUtf8(detection->queryTypeByDescriptor(descriptor, true));
        if (!isExpectedType(format, type) && !questions->passwordAsked()) {
            const bool word = format == files::Format::Word97;
            const std::string advice = word ? "请在 Word 中另存为“Word 97-2003 文档”后再试。"
                                            : "请在 Excel 中另存为“Excel 97-2003 工作簿”后再试。";
            if (isOlderVersionType(type))
                throw Error(errorNumber, "文件" + inQuotes(path) + "是旧版本（" +
                                             (word ? "Word 95 或更早" : "Excel 95 或更早") +
                                             "）的格式，不是 " + label + "。" + advice);
            if (word && type.rfind("calc_", 0) == 0)
                throw Error(errorNumber, "文件" + inQuotes(path) + "是电子表格，不是 " + label +
                                             "。请确认文件的扩展名。");
            if (!word && type.rfind("writer_", 0) == 0)
                throw Error(errorNumber, "文件" + inQuotes(path) + "是文字处理文档，不是 " + label +
                                             "。请确认文件的扩展名。");
            throw Error(errorNumber, "文件" + inQuotes(path) + "已损坏，或不是 " + label + "。");
        }
    }

    std::vector<std::pair<const char*, Any>> settings = {
        {"Hidden", Any(true)},
        {"MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)},
        {"UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)},
        {"FilterName", Any(OUString::createFromAscii(filterName(format)))},
        {"InteractionHandler", Any(handler)},
    };
    // Asked for only when needed: "ReadOnly" false would demand write access
    // and make a read-only file fail to load.
    if (!check.folderWritable || !check.fileWritable)
        settings.emplace_back("ReadOnly", Any(true));
    auto arguments = uno::properties(settings);
    Reference<css::lang::XComponent> component;
    try {
        component = uno::must<css::frame::XComponentLoader>(desktop_)->loadComponentFromURL(
            url, "_blank", 0, arguments);
    } catch (const css::lang::IllegalArgumentException&) {
        // Reported below from what the office asked.
    } catch (const css::io::IOException&) {
        // Likewise.
    }

    if (!component.is()) {
        if (questions->passwordAsked())
            throw Error(errorNumber,
                        "文件" + inQuotes(path) +
                            "有密码保护，无法打开。请先在 Word/Excel 中去掉密码后再试。");
        std::string detail;
        if (questions->errorCode() != 0) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%X", questions->errorCode());
            detail = "（LibreOffice 错误代码 " + std::string(code) + "）";
        } else if (!questions->otherQuestion().empty()) {
            detail = "（" + questions->otherQuestion() + "）";
        }
        throw Error(errorNumber, "无法打开文件" + inQuotes(path) + "：文件已损坏，或不是 " + label +
                                     detail + "。");
    }

    openDocuments_.insert(path);
    LoadedDocument loaded;
    loaded.component = component;
    std::string lockedBy = questions->lockedBy();
    if (!lockedBy.empty()) {
        // The lock file names the user plainly; the office's text adds the time.
        if (const auto owner = files::readLockFile(files::lockFilePath(path)))
            lockedBy = owner->displayName();
        loaded.readOnlyReason = "文件" + inQuotes(path) + "正被 " + lockedBy +
                                " 打开并锁定，不能保存，原文件保持不变。请等对方关闭该文件后再试。";
    } else if (!check.fileWritable) {
        loaded.readOnlyReason =
            "文件" + inQuotes(path) + "是只读的，不能保存，原文件保持不变。请去掉只读属性后再试。";
    } else if (!check.folderWritable) {
        loaded.readOnlyReason =
            "文件夹" + inQuotes(path.parent_path().empty() ? fs::path(".") : path.parent_path()) +
            "不可写，不能保存文件" + inQuotes(path) +
            "，原文件保持不变。请检查该文件夹的权限后再试。";
    } else if (questions->lockFileProblem() ||
               uno::must<css::frame::XStorable>(component)->isReadonly()) {
        loaded.readOnlyReason =
            "文件" + inQuotes(path) +
            "只能以只读方式打开，不能保存，原文件保持不变。请检查文件和文件夹的权限后再试。";
    }
    return loaded;
}

void Session::save(const Reference<css::lang::XComponent>& document, const fs::path& path,
                   files::Format format, const std::string& readOnlyReason, long errorNumber) {
    if (!readOnlyReason.empty())
        throw Error(errorNumber, readOnlyReason);
    files::checkWritable(path, errorNumber);

    files::AtomicSave atomic(path);
    try {
        uno::must<css::frame::XStorable>(document)->storeToURL(
            uno::fileUrl(atomic.temporaryPath()),
            uno::properties({{"FilterName", Any(OUString::createFromAscii(filterName(format)))},
                             {"Overwrite", Any(true)}}));
    } catch (const css::io::IOException& e) {
        if (!childExited())
            throw Error(errorNumber, "保存文件" + inQuotes(path) + "失败（" + toUtf8(e.Message) +
                                         "），原文件保持不变。请检查磁盘空间和文件夹权限后再试。");
        throw;
    }
    try {
        atomic.commit();
    } catch (const std::system_error& e) {
        throw Error(errorNumber, "保存文件" + inQuotes(path) + "失败（" + e.code().message() +
                                     "），原文件保持不变。请检查磁盘空间和文件夹权限后再试。");
    }
    if (auto modifiable = uno::as<css::util::XModifiable>(document); modifiable.is())
        modifiable->setModified(false);
}

void Session::close(const Reference<css::lang::XComponent>& document) noexcept {
    if (!document.is())
        return;
    try {
        if (auto closeable = uno::as<css::util::XCloseable>(document); closeable.is()) {
            closeable->close(true);
            return;
        }
        document->dispose();
    } catch (...) {
        try {
            document->dispose();
        } catch (...) {
            // The office is gone or refuses; ending it closes the document.
        }
    }
}

} // namespace libreoffice
