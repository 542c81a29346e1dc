#include "suites/libreoffice/office_process.h"

#include "core/text/paths.h"
#include "suites/libreoffice/document_files.h"
#include "suites/libreoffice/watchdog.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace libreoffice {

using automation::Error;

namespace fs = std::filesystem;

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

// The command line of a process, arguments separated by NUL; empty when the
// process is gone or not readable.
std::string commandLineOf(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return content;
}

} // namespace

long secondsOf(std::chrono::milliseconds d) {
    return static_cast<long>((d.count() + 999) / 1000);
}

OfficeProcess::OfficeProcess(const ServerOptions& options, const Installation& installation,
                             Watchdog& watchdog)
    : options_(options), installation_(installation), watchdog_(watchdog) {}

fs::path OfficeProcess::logPath() const {
    return options_.profileRoot / ("profile-" + std::to_string(slot_.index) + ".log");
}

void OfficeProcess::expire() noexcept {
    const pid_t group = child_;
    if (group > 0) {
        timedOut_ = true;
        ::kill(-group, SIGKILL);
    }
}

void OfficeProcess::ensureRunning() {
    if (child_ > 0) {
        if (!exited())
            return;
        // The office ended on its own since the last call.
        forget();
    }
    if (!startFailure_.empty())
        throw Error(automation::errors::CannotCreateObject, startFailure_);
    try {
        start();
    } catch (const Error& e) {
        startFailure_ = e.description;
        forget();
        if (!watchdog_.inCall())
            watchdog_.disarm();
        throw;
    }
}

void OfficeProcess::start() {
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
    spawn(pipeName);
    watchdog_.arm(startDeadline);

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
        if (exited(&status)) {
            const bool timedOut = timedOut_;
            if (!timedOut && WIFEXITED(status) &&
                (WEXITSTATUS(status) == kExitRestart || WEXITSTATUS(status) == kExitCrashRestart) &&
                restarts < 2) {
                ++restarts;
                spawn(pipeName);
                continue;
            }
            watchdog_.disarm();
            if (timedOut)
                throw Error(automation::errors::CannotCreateObject,
                            cannotStart + "它没有在 " +
                                std::to_string(secondsOf(options_.startTimeout)) +
                                " 秒内准备好，已被结束。");
            const std::string how = WIFEXITED(status)
                                        ? "退出码 " + std::to_string(WEXITSTATUS(status))
                                        : "信号 " + std::to_string(WTERMSIG(status));
            throw Error(automation::errors::CannotCreateObject,
                        cannotStart + "它在启动时退出（" + how + "）。详细信息见 " +
                            logPath().string() + "。请检查 LibreOffice 是否完整安装。");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    try {
        desktop_ = css::frame::Desktop::create(context_);
    } catch (const css::uno::Exception& e) {
        watchdog_.disarm();
        throw Error(automation::errors::CannotCreateObject,
                    cannotStart + "无法取得它的桌面对象（" + toUtf8(e.Message) + "）。");
    }
    applySettings();
    // The member that needed the office goes on under its own time limit.
    if (watchdog_.inCall())
        watchdog_.arm(Clock::now() + options_.callTimeout);
    else
        watchdog_.disarm();
    ++generation_;
}

void OfficeProcess::stop() noexcept {
    if (child_ <= 0) {
        releaseSlot();
        return;
    }
    watchdog_.arm(Clock::now() + kStopGrace);
    try {
        // Refused (something still holds a document): ended by force below.
        if (desktop_.is() && !exited() && !desktop_->terminate() && child_ > 0)
            ::kill(-child_, SIGKILL);
    } catch (...) {
        // The bridge goes away while the office ends; that is expected.
    }
    desktop_.clear();
    context_.clear();
    const auto until = Clock::now() + kStopGrace;
    while (!exited() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    forget();
    watchdog_.disarm();
}

// Ends what is left of the office and drops every reference into it.
void OfficeProcess::forget() noexcept {
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

bool OfficeProcess::exited(int* status) {
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

void OfficeProcess::acquireSlot() {
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
                "无法启动 LibreOffice：配置文件夹" + text::quotedPath(options_.profileRoot) +
                    "不可用（无法创建，或已有 " + std::to_string(kProfileSlots) +
                    " 个实例在运行）。请检查该文件夹的权限。");
}

void OfficeProcess::releaseSlot() noexcept {
    if (slot_.lockFd >= 0)
        ::close(slot_.lockFd);
    slot_ = Slot{};
}

// An office left running by a process of ours that ended without ending it
// holds the slot's profile; it is ended before the profile is used again.
void OfficeProcess::endOrphans() const {
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
void OfficeProcess::removeStaleLock(const fs::path& document) const {
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

void OfficeProcess::spawn(const std::string& pipeName) {
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

    const int logFd = ::open(logPath().c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_t pid = -1;
    int forkError = 0;
    // Started from the watchdog thread, which lives as long as the session:
    // the office is ended by the kernel when that thread ends, even when this
    // process dies without cleaning up.
    watchdog_.run([&] {
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
void OfficeProcess::applySettings() {
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

} // namespace libreoffice
