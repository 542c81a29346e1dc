// The file side of the LibreOffice server, without an office: the checks
// before an open, lock files, and finding the installation.

#include "suites/libreoffice/document_files.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "suites/libreoffice/package_parts.h"
#include "support/automation_errors.h"
#include "support/binary_documents.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

using automation::Error;
using libreoffice::files::Kind;
using testing_support::errorOf;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;
namespace files = libreoffice::files;

namespace {

const std::string kCompoundHeader("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

TEST(OpenChecks, RefuseWhatTheOfficeCouldNotOpenAndNameTheFile) {
    TempFolder folder;
    writeFile(folder / "text.doc", "plain text named .doc");
    writeFile(folder / "empty.xls", "");
    writeFile(folder / "short.doc", "\xD0\xCF");
    fs::create_directory(folder / "folder.doc");

    Error e = errorOf(
        [&] { files::checkBeforeOpen((folder / "missing.doc").string(), Kind::Word, 5174); });
    EXPECT_EQ(e.number, 5174);
    EXPECT_NE(e.description.find((folder / "missing.doc").string()), std::string::npos);
    EXPECT_NE(e.description.find("找不到文件"), std::string::npos);

    e = errorOf(
        [&] { files::checkBeforeOpen((folder / "gone" / "a.doc").string(), Kind::Word, 5174); });
    EXPECT_NE(e.description.find("找不到文件夹"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find((folder / "gone").string()), std::string::npos) << e.description;

    e = errorOf([&] { files::checkBeforeOpen((folder / "text.doc").string(), Kind::Word, 5174); });
    EXPECT_NE(e.description.find("不是 Word 97-2003 文档"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("另存为"), std::string::npos) << e.description;

    e = errorOf([&] { files::checkBeforeOpen((folder / "short.doc").string(), Kind::Word, 5174); });
    EXPECT_NE(e.description.find("不是 Word 97-2003 文档"), std::string::npos) << e.description;

    e = errorOf(
        [&] { files::checkBeforeOpen((folder / "empty.xls").string(), Kind::Excel, 1004); });
    EXPECT_EQ(e.number, 1004);
    EXPECT_NE(e.description.find("空文件"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("Excel 97-2003 工作簿"), std::string::npos) << e.description;

    e = errorOf(
        [&] { files::checkBeforeOpen((folder / "folder.doc").string(), Kind::Word, 5174); });
    EXPECT_NE(e.description.find("是文件夹"), std::string::npos) << e.description;

    e = errorOf([&] { files::checkBeforeOpen("", Kind::Word, 5174); });
    EXPECT_FALSE(e.description.empty());

    // The label and the advice follow the name; a zip package is accepted
    // whatever the name, the office's detection decides.
    writeFile(folder / "text.xlsm", "plain text");
    e = errorOf(
        [&] { files::checkBeforeOpen((folder / "text.xlsm").string(), Kind::Excel, 1004); });
    EXPECT_NE(e.description.find("不是 Excel 启用宏的工作簿（.xlsm）"), std::string::npos)
        << e.description;
    EXPECT_NE(e.description.find("另存为“Excel 启用宏的工作簿”"), std::string::npos)
        << e.description;
    writeFile(folder / "package.doc", "PK\x03\x04rest");
    EXPECT_NO_THROW(files::checkBeforeOpen((folder / "package.doc").string(), Kind::Word, 5174));

    writeFile(folder / "ok.doc", kCompoundHeader + "rest");
    const auto check = files::checkBeforeOpen((folder / "ok.doc").string(), Kind::Word, 5174);
    EXPECT_EQ(check.path, folder / "ok.doc");
    EXPECT_TRUE(check.folderWritable);
}

TEST(OpenChecks, ReadOnlyFileIsNotWritableEvenForTheSuperuser) {
    TempFolder folder;
    const fs::path file = folder / "a.doc";
    writeFile(file, kCompoundHeader);
    EXPECT_NO_THROW(files::checkWritable(file, 4198));
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    const Error e = errorOf([&] { files::checkWritable(file, 4198); });
    EXPECT_EQ(e.number, 4198);
    EXPECT_NE(e.description.find("只读"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(file.string()), std::string::npos) << e.description;
}

TEST(LockFiles, FieldsAreReadWithTheirEscapes) {
    TempFolder folder;
    const fs::path document = folder / "报告.doc";
    EXPECT_EQ(files::lockFilePath(document), folder / ".~lock.报告.doc#");
    EXPECT_FALSE(files::readLockFile(files::lockFilePath(document)));

    writeFile(files::lockFilePath(document),
              "Li\\, Si,lisi,pc-7,07.12.2025 10:00,file:///home/lisi/.config/libreoffice/4;");
    auto owner = files::readLockFile(files::lockFilePath(document));
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->name, "Li, Si");
    EXPECT_EQ(owner->account, "lisi");
    EXPECT_EQ(owner->host, "pc-7");
    EXPECT_EQ(owner->profileUrl, "file:///home/lisi/.config/libreoffice/4");
    EXPECT_EQ(owner->displayName(), "Li, Si");

    writeFile(files::lockFilePath(document), ",root,vm,07.12.2025 21:06,file:///tmp/p;");
    owner = files::readLockFile(files::lockFilePath(document));
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->displayName(), "root@vm");

    writeFile(files::lockFilePath(document), "garbage");
    EXPECT_FALSE(files::readLockFile(files::lockFilePath(document)));
}

// ---------------------------------------------------------------- packages

TEST(Packages, PartsAreReadAndOnePartsContentIsCarriedOver) {
    namespace packages = libreoffice::packages;
    using binary_documents::storedZip;
    const std::string types =
        "<Types><Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.ms-word.document.macroEnabled.main+xml\"/>"
        "</Types>";
    TempFolder folder;
    writeFile(folder / "original.docm",
              storedZip({{"[Content_Types].xml", types}, {"word/vbaProject.bin", "MACROS"}}));
    const std::string copyBytes = storedZip({{"[Content_Types].xml", "office's types"},
                                             {"word/vbaProject.bin", "rewritten macros"},
                                             {"word/document.xml", "<w:document/>"}});
    writeFile(folder / "copy.docm", copyBytes);
    writeFile(folder / "plain.docx", storedZip({{"[Content_Types].xml", "document.main+xml"}}));
    writeFile(folder / "truncated.docm", copyBytes.substr(0, copyBytes.size() - 30));

    EXPECT_EQ(packages::readPart(folder / "original.docm", "word/vbaProject.bin"), "MACROS");
    EXPECT_FALSE(packages::readPart(folder / "original.docm", "word/vbaProject.bin", 5));
    EXPECT_FALSE(packages::readPart(folder / "original.docm", "missing"));
    EXPECT_EQ(packages::declaresMacros(folder / "original.docm"), true);
    EXPECT_EQ(packages::declaresMacros(folder / "copy.docm"), std::nullopt);
    EXPECT_FALSE(packages::declaresMacros(folder / "truncated.docm"));

    using packages::Carry;
    const struct {
        const char* original;
        const char* copy;
        Carry result;
    } refused[] = {{"plain.docx", "copy.docm", Carry::NotInOriginal},
                   {"original.docm", "plain.docx", Carry::NotInCopy},
                   {"truncated.docm", "copy.docm", Carry::Unreadable},
                   {"original.docm", "truncated.docm", Carry::Unreadable}};
    for (const auto& c : refused) {
        const std::string before = readFile(folder / c.copy);
        EXPECT_EQ(
            packages::carryPartOver(folder / c.original, folder / c.copy, "word/vbaProject.bin"),
            c.result)
            << c.original << " " << c.copy;
        EXPECT_EQ(readFile(folder / c.copy), before) << c.copy;
    }

    ASSERT_EQ(packages::carryPartOver(folder / "original.docm", folder / "copy.docm",
                                      "word/vbaProject.bin"),
              Carry::Carried);
    // The entries before the carried one keep their bytes; every part reads.
    const std::string carried = readFile(folder / "copy.docm");
    const std::size_t kept = copyBytes.find("word/vbaProject.bin") - 30;
    EXPECT_EQ(carried.substr(0, kept), copyBytes.substr(0, kept));
    EXPECT_EQ(packages::readPart(folder / "copy.docm", "word/vbaProject.bin"), "MACROS");
    EXPECT_EQ(packages::readPart(folder / "copy.docm", "[Content_Types].xml"), "office's types");
    EXPECT_EQ(packages::readPart(folder / "copy.docm", "word/document.xml"), "<w:document/>");
}

// ---------------------------------------------------------------- installation

TEST(Installation, MissingOfficeLeavesTheClassesUnregistered) {
    libreoffice::ServerOptions options;
    options.programFolder = "/nonexistent/libreoffice/program";
    EXPECT_FALSE(libreoffice::findInstallation(options));
    automation::Registry registry;
    EXPECT_FALSE(libreoffice::registerClasses(registry, options));
    for (const char* name : {"word.Application", "excel.application"})
        EXPECT_EQ(errorOf([&] { registry.create(name); }).number, 429) << name;
    EXPECT_EQ(errorOf([&] { libreoffice::createWordApplication(options); }).number, 429);
}

TEST(Installation, OnlyTheInstalledProgramsAreServed) {
    TempFolder program;
    for (const char* name :
         {"soffice.bin", "fundamentalrc", "types.rdb", "libsclo.so", "libscfiltlo.so"})
        writeFile(program / name, "");
    fs::permissions(program / "soffice.bin", fs::perms::owner_all);
    writeFile(program / "bootstraprc", "[Bootstrap]\nProductKey=LibreOffice 9.1\n");
    libreoffice::ServerOptions options;
    options.programFolder = program.path();

    const auto found = libreoffice::findInstallation(options);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->writer);
    EXPECT_TRUE(found->calc);
    EXPECT_EQ(found->productName, "LibreOffice");
    EXPECT_EQ(found->version, "9.1");

    automation::Registry registry;
    libreoffice::registerClasses(registry, options);
#ifdef BATCHREPLACE_TEST_HAVE_LIBREOFFICE
    EXPECT_TRUE(registry.isRegistered("Excel.Application"));
#endif
    EXPECT_FALSE(registry.isRegistered("Word.Application"));
    EXPECT_EQ(errorOf([&] { registry.create("word.Application"); }).number, 429);
}

TEST(Installation, PreparedProfileRecordsTheVersionOnce) {
    TempFolder folder;
    libreoffice::prepareProfile(folder / "p", "7.4");
    const std::string settings = readFile(folder / "p" / "user" / "registrymodifications.xcu");
    EXPECT_NE(settings.find("ooSetupLastVersion"), std::string::npos);
    EXPECT_NE(settings.find("<value>7.4</value>"), std::string::npos);
    EXPECT_NE(settings.find("DisableMacrosExecution"), std::string::npos);
    // A profile the office has written to is left as it is.
    writeFile(folder / "p" / "user" / "registrymodifications.xcu", "changed by the office");
    libreoffice::prepareProfile(folder / "p", "7.5");
    EXPECT_EQ(readFile(folder / "p" / "user" / "registrymodifications.xcu"),
              "changed by the office");
}

} // namespace

namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvironmentGuard {
public:
    EnvironmentGuard() {
        for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            ::unsetenv(name);
        }
    }
    ~EnvironmentGuard() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

bool has(const std::vector<std::string>& environment, const std::string& entry) {
    return std::find(environment.begin(), environment.end(), entry) != environment.end();
}

bool hasName(const std::vector<std::string>& environment, const std::string& name) {
    return std::any_of(environment.begin(), environment.end(),
                       [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
}

TEST(OfficeEnvironment, FileNamesAreReadAsUtf8WhateverTheLocale) {
    EnvironmentGuard guard;
    // No locale at all: the office would read Chinese file names as ASCII.
    auto environment = libreoffice::officeEnvironment();
    EXPECT_TRUE(has(environment, "LC_CTYPE=C.UTF-8"));
    EXPECT_TRUE(has(environment, "SAL_ENABLE_FILE_LOCKING=1"));

    // LC_ALL overrides LC_CTYPE, so it gives way; its choice stays for the rest.
    ::setenv("LC_ALL", "C", 1);
    environment = libreoffice::officeEnvironment();
    EXPECT_FALSE(hasName(environment, "LC_ALL"));
    EXPECT_TRUE(has(environment, "LANG=C"));
    EXPECT_TRUE(has(environment, "LC_CTYPE=C.UTF-8"));

    // A UTF-8 locale is kept as it is.
    ::unsetenv("LC_ALL");
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    environment = libreoffice::officeEnvironment();
    EXPECT_TRUE(has(environment, "LANG=zh_CN.UTF-8"));
    EXPECT_FALSE(hasName(environment, "LC_CTYPE"));
}

} // namespace
