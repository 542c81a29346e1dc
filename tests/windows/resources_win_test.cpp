// The program's resources on Windows: the payloads as "CUSTOM" resources in
// the language 2052, and the VERSIONINFO made from the project's version.

#include "batchreplace_urls.h"
#include "batchreplace_version.h"
#include "payloads/payloads.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

std::wstring programPath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring stringValue(std::vector<char>& info, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0)
        return {};
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

} // namespace

TEST(WindowsResources, PayloadsAreCustomResourcesInChinesePrc) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(GetModuleHandleW(nullptr), L"CUSTOM", MAKEINTRESOURCEW(101),
                           collectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{2052});

    const auto config = payloads::find(101);
    ASSERT_TRUE(config);
    EXPECT_EQ(std::string(*config), std::string(build_urls::versionPage) + std::string(2, '\0'));
    // Other resources of the program are no payloads.
    EXPECT_FALSE(payloads::find(1));
    EXPECT_FALSE(payloads::find(108));
}

TEST(WindowsResources, VersionInfoIsTheProjectVersion) {
    const std::wstring path = programPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), build_version::major);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), build_version::minor);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), build_version::patch);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), build_version::revision);

    const std::wstring version = std::to_wstring(build_version::major) + L"." +
                                 std::to_wstring(build_version::minor) + L"." +
                                 std::to_wstring(build_version::patch) + L"." +
                                 std::to_wstring(build_version::revision);
    EXPECT_EQ(stringValue(info, L"FileVersion"), version);
    EXPECT_EQ(stringValue(info, L"ProductName"), L"batchreplace");
    EXPECT_EQ(stringValue(info, L"OriginalFilename"), L"resources_win_test.exe");
    // Chinese text survives the resource compiler.
    EXPECT_EQ(stringValue(info, L"FileDescription"), L"\u8D44\u6E90\u6D4B\u8BD5 resources");
}
