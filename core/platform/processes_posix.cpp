#include "core/platform/processes.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

namespace {

// The longest first argument we read; longer ones cannot name an office
// program and are cut.
constexpr std::size_t firstArgumentLimit = 4096;

bool isProcessDirectory(const char* name) {
    if (*name == '\0')
        return false;
    for (const char* p = name; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

// The first command-line argument of the process, or "" when it has none or
// cannot be read (it ended meanwhile, or is a kernel thread).
std::string firstArgument(const std::string& pid) {
    const std::string path = "/proc/" + pid + "/cmdline";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string buffer(firstArgumentLimit, '\0');
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
        if (std::memchr(buffer.data(), '\0', filled))
            break;
    }
    ::close(fd);
    buffer.resize(filled);
    const std::size_t end = buffer.find('\0');
    if (end != std::string::npos)
        buffer.resize(end);
    return buffer;
}

// The file name without its folder, for '/' and for the '\' of Windows paths.
std::string lastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class ProcFsProcesses final : public Processes {
public:
    bool findByName(std::string_view name, std::vector<ProcessInfo>& found,
                    std::string& error) override {
        found.clear();
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir("/proc"), &::closedir);
        if (!dir) {
            error = std::string("The process list in /proc cannot be read: ") +
                    std::strerror(errno) + ".";
            return false;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            if (!isProcessDirectory(entry->d_name))
                continue;
            const std::string argument = firstArgument(entry->d_name);
            if (argument.empty())
                continue;
            std::string executable = lastComponent(argument);
            if (!sameExecutableName(executable, name))
                continue;
            found.push_back(ProcessInfo{std::stoll(entry->d_name), std::move(executable)});
        }
        return true;
    }

    bool terminate(ProcessId id, std::string& error) override {
        // Ids of zero or below address process groups or every process; they
        // never name one process.
        if (id <= 0 || id > std::numeric_limits<pid_t>::max()) {
            error = "Process id " + std::to_string(id) + " does not name a process.";
            return false;
        }
        if (static_cast<pid_t>(id) == ::getpid()) {
            error = "Process " + std::to_string(id) + " is this program itself; it is not ended.";
            return false;
        }
        if (::kill(static_cast<pid_t>(id), SIGKILL) != 0) {
            error = errno == ESRCH ? "Process " + std::to_string(id) + " is no longer running."
                                   : "Process " + std::to_string(id) +
                                         " cannot be ended: " + std::strerror(errno) + ".";
            return false;
        }
        return true;
    }
};

} // namespace

Processes& systemProcesses() {
    static ProcFsProcesses processes;
    return processes;
}

} // namespace platform
