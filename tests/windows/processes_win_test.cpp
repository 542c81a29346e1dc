// The process list and the program start on Windows, against a child
// process of our own (Sleeper-Child.exe, built beside this test).

#include "core/platform/app_folder.h"
#include "core/platform/desktop.h"
#include "core/platform/processes.h"
#include "core/platform/start_program_win.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

using platform::ProcessId;
using platform::ProcessInfo;
using testing_support::TempFolder;
using testing_support::utf8Path;

namespace {

bool listed(const std::vector<ProcessInfo>& found, ProcessId id) {
    return std::any_of(found.begin(), found.end(),
                       [id](const ProcessInfo& p) { return p.id == id; });
}

// Waits, at most ten seconds, until `done` holds.
template <class Done> bool eventually(Done done) {
    for (int i = 0; i < 200; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// The child copied into a folder with a Chinese name and a space.
std::filesystem::path placeChild(const TempFolder& folder) {
    const auto target = folder / utf8Path("更新 程序") / "Sleeper-Child.exe";
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(platform::executableFolder() / "Sleeper-Child.exe", target);
    return target;
}

} // namespace

TEST(WindowsProcesses, StartFindByNameAndTerminateAChild) {
    TempFolder folder;
    const auto program = placeChild(folder);

    std::string error;
    ProcessId id = 0;
    ASSERT_TRUE(platform::startDetachedProgram(program, platform::show::MinimizedFocus, error, &id))
        << error;
    ASSERT_GT(id, 0);
    // It runs in its own folder: its marker appears beside it.
    EXPECT_TRUE(
        eventually([&] { return std::filesystem::exists(program.parent_path() / "started.txt"); }));

    auto& processes = platform::systemProcesses();
    std::vector<ProcessInfo> found;
    ASSERT_TRUE(processes.findByName("sleeper-child.EXE", found, error)) << error;
    ASSERT_TRUE(listed(found, id));
    for (const auto& p : found)
        EXPECT_TRUE(platform::sameExecutableName(p.name, "Sleeper-Child.exe")) << p.name;

    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(processes.terminate(id, error)) << error;
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    CloseHandle(process);

    ASSERT_TRUE(processes.findByName("Sleeper-Child.exe", found, error)) << error;
    EXPECT_FALSE(listed(found, id));
    error.clear();
    EXPECT_FALSE(processes.terminate(id, error));
    EXPECT_NE(error.find(std::to_string(id)), std::string::npos) << error;
}

TEST(WindowsProcesses, NothingFoundIsAnEmptyListAndOwnOrInvalidIdsAreRefused) {
    auto& processes = platform::systemProcesses();
    std::vector<ProcessInfo> found{{1, "stale"}};
    std::string error;
    ASSERT_TRUE(processes.findByName("no-such-program.exe", found, error)) << error;
    EXPECT_TRUE(found.empty());

    // This program is listed under its own image name, and is never ended.
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::filesystem::path selfName = std::filesystem::path(self).filename();
    const std::u8string u8 = selfName.u8string();
    ASSERT_TRUE(processes.findByName(std::string(u8.begin(), u8.end()), found, error));
    EXPECT_TRUE(listed(found, static_cast<ProcessId>(GetCurrentProcessId())));
    EXPECT_FALSE(processes.terminate(static_cast<ProcessId>(GetCurrentProcessId()), error));
    EXPECT_FALSE(error.empty());

    for (ProcessId bad : {ProcessId{0}, ProcessId{-4}, ProcessId{1} << 40}) {
        error.clear();
        EXPECT_FALSE(processes.terminate(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(WindowsProcesses, StartingAMissingProgramNamesIt) {
    TempFolder folder;
    std::string error;
    EXPECT_FALSE(platform::startDetachedProgram(folder / utf8Path("缺少.exe"),
                                                platform::show::Normal, error));
    EXPECT_NE(error.find("缺少.exe"), std::string::npos) << error;

    // A file that is no program.
    testing_support::writeFile(folder / "update.exe", "not a program");
    error.clear();
    EXPECT_FALSE(
        platform::startDetachedProgram(folder / "update.exe", platform::show::Normal, error));
    EXPECT_NE(error.find("update.exe"), std::string::npos) << error;
}
