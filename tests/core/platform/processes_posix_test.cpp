#include "core/detection/document_guard.h"
#include "core/platform/processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// A child that sleeps under a name of this test run's own, so that parallel
// runs and the rest of the computer are never touched.
pid_t startChild(const std::string& name) {
    std::string program = "/bin/sleep";
    if (access(program.c_str(), X_OK) != 0)
        program = "/usr/bin/sleep";
    std::string first = name;
    std::string seconds = "60";
    char* argv[] = {first.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

// Waits until the child runs under its new name: right after the spawn its
// command line may still be the parent's.
void waitUntilListed(platform::Processes& processes, const std::string& name, size_t count) {
    std::vector<platform::ProcessInfo> found;
    std::string error;
    for (int i = 0; i < 200; ++i) {
        if (processes.findByName(name, found, error) && found.size() >= count)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Waits for the child to end; returns the signal that ended it, or 0.
int reap(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::vector<platform::ProcessId> ids(const std::vector<platform::ProcessInfo>& list) {
    std::vector<platform::ProcessId> out;
    for (const auto& p : list)
        out.push_back(p.id);
    std::sort(out.begin(), out.end());
    return out;
}

class SystemProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/bin/sleep", X_OK) != 0 && access("/usr/bin/sleep", X_OK) != 0)
            GTEST_SKIP() << "The test needs /bin/sleep to start a child process.";
        name = "brguard-child-" + std::to_string(getpid()) + ".exe";
    }
    std::string name;
    platform::Processes& processes = platform::systemProcesses();
};

} // namespace

TEST_F(SystemProcesses, FindsAChildByItsNameInAnyCaseAndEndsIt) {
    const pid_t child = startChild(name);
    ASSERT_GT(child, 0);
    waitUntilListed(processes, name, 1);

    std::vector<platform::ProcessInfo> found;
    std::string error;
    ASSERT_TRUE(processes.findByName(upper(name), found, error)) << error;
    ASSERT_EQ(ids(found), (std::vector<platform::ProcessId>{child}));
    EXPECT_EQ(found[0].name, name);

    EXPECT_TRUE(processes.terminate(child, error)) << error;
    EXPECT_EQ(reap(child), SIGKILL);

    // Once ended (and reaped) it is no longer listed, and that is no failure.
    ASSERT_TRUE(processes.findByName(name, found, error)) << error;
    EXPECT_TRUE(found.empty());
    EXPECT_FALSE(processes.terminate(child, error));
}

TEST_F(SystemProcesses, EndingByNameEndsEveryProcessOfThatName) {
    const pid_t first = startChild(name);
    const pid_t second = startChild(upper(name));
    const pid_t other = startChild("brguard-other-" + std::to_string(getpid()));
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    ASSERT_GT(other, 0);
    waitUntilListed(processes, name, 2);

    detection::endProcessesNamed(processes, name);

    EXPECT_EQ(reap(first), SIGKILL);
    EXPECT_EQ(reap(second), SIGKILL);
    // The process of another name is still running.
    int status = 0;
    EXPECT_EQ(waitpid(other, &status, WNOHANG), 0);
    kill(other, SIGKILL);
    waitpid(other, &status, 0);
}

TEST_F(SystemProcesses, NothingToEndIsNoFailure) {
    std::vector<platform::ProcessInfo> found{{1, "stale"}};
    std::string error;
    EXPECT_TRUE(processes.findByName(name + "-absent", found, error)) << error;
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(error.empty());
}

TEST_F(SystemProcesses, NeverEndsItsOwnProcess) {
    std::string error;
    // Were this ended, the test program would die here and the test fail.
    EXPECT_FALSE(processes.terminate(getpid(), error));
    EXPECT_FALSE(error.empty());
}
