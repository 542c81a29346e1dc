#include "batchreplace_urls.h"
#include "core/platform/app_folder.h"
#include "core/support_files/support_files.h"
#include "payloads/payloads.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempFolder;

TEST(EmbeddedPayloads, ConfigurationFileCarriesTheVersionPageAddress) {
    const auto config = payloads::find(101);
    ASSERT_TRUE(config);
    const std::string url = build_urls::versionPage;
    EXPECT_EQ(std::string(*config), url + std::string(2, '\0'));
    const std::string shipped = readFile(SHIPPED_CONFIG_FILE);
    if (url == shipped.substr(0, shipped.find('\0'))) {
        // Our own configuration: exactly the shipped file.
        EXPECT_EQ(std::string(*config), shipped);
        EXPECT_EQ(config->size(), 52u);
    }
}

TEST(EmbeddedPayloads, UnknownIdsHaveNothing) {
    for (int id : {100, 108, 0, -1})
        EXPECT_FALSE(payloads::find(id)) << id;
}

TEST(EmbeddedPayloads, UpdaterIsTheOneThisBuildMade) {
#ifndef BUILT_UPDATER
    GTEST_SKIP() << "this build has no updater target, so payload 102 is left out";
#else
    const auto updater = payloads::find(102);
    ASSERT_TRUE(updater);
    const std::string built = readFile(BUILT_UPDATER);
    ASSERT_FALSE(built.empty());
    EXPECT_TRUE(std::string(*updater) == built)
        << "payload 102 (" << updater->size() << " bytes) differs from " << BUILT_UPDATER << " ("
        << built.size() << " bytes)";

    // Extracted into an empty application folder, it is that file.
    TempFolder app;
    fs::create_directory(app / "toconfigure");
    EXPECT_TRUE(support_files::writeMissingSupportFiles(app.path(), payloads::find).empty());
    EXPECT_TRUE(readFile(app / platform::updaterFileName()) == built);
    EXPECT_EQ(readFile(app / "toconfigure" / fs::path(u8"配置.ini")),
              std::string(*payloads::find(101)));
#endif
}
