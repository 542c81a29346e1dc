// Where the application folder is: beside the program, or in the user's data
// folder when the program is installed or its folder is not writable.

#include "core/platform/app_folder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using testing_support::TempFolder;
using testing_support::writeFile;

namespace {

namespace fs = std::filesystem;

TEST(AppFolder, InstalledOrUnwritableProgramsUseTheUserDataFolder) {
    enum class Marker { None, File, Folder };
    struct Case {
        const char* what;
        Marker marker;
        bool writable;
        std::string xdgDataHome;
        std::string home;
        // Relative to the temporary root; empty: the executable's folder.
        fs::path expected;
    };
    TempFolder root;
    const std::string xdg = (root / "xdg").string();
    const std::string home = (root / "home").string();
    const fs::path inXdg = fs::path("xdg") / "batchreplace";
    const fs::path inHome = fs::path("home") / ".local" / "share" / "batchreplace";
    const std::vector<Case> cases = {
        {"build folder or portable copy", Marker::None, true, xdg, home, {}},
        {"installed", Marker::File, true, xdg, home, inXdg},
        {"installed, no XDG_DATA_HOME", Marker::File, true, "", home, inHome},
        {"installed, relative XDG_DATA_HOME", Marker::File, true, "data", home, inHome},
        {"installed, no home at all", Marker::File, true, "", "", {}},
        {"folder not writable", Marker::None, false, "", home, inHome},
        {"a folder where the marker should be", Marker::Folder, true, xdg, home, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path prefix = root / "prefix";
        fs::remove_all(prefix);
        const fs::path bin = prefix / "bin";
        fs::create_directories(bin);
        const fs::path marker = bin / platform::installedMarker();
        if (c.marker == Marker::File) {
            fs::create_directories(marker.parent_path());
            writeFile(marker, "");
        } else if (c.marker == Marker::Folder) {
            fs::create_directories(marker);
        }

        const fs::path folder =
            platform::applicationFolderFor({bin, c.writable, c.xdgDataHome, c.home});
        EXPECT_EQ(folder, c.expected.empty() ? bin : root / c.expected);
    }
}

TEST(AppFolder, MarkerLiesBesideTheExecutablesFolder) {
    const fs::path marker = platform::installedMarker();
    EXPECT_TRUE(marker.is_relative());
    EXPECT_EQ(marker.filename(), "installed");
    EXPECT_EQ(marker.parent_path().filename(), "batchreplace");
}

TEST(AppFolder, ProgramInTheBuildFolderKeepsItsOwnFolder) {
    EXPECT_EQ(platform::applicationFolder(), platform::executableFolder());
}

} // namespace
