#pragma once

// Values the whole updater shares: the splash sets them, the update window
// reads them.

#include <string>

namespace updater {

// `CurrentVersion`: the version of the installed batchreplace, the last line
// of dqbb.ini (empty when the file is missing).
extern std::string CurrentVersion;
// `VersionPageUrl`: the address of the version page, the last line of
// 配置.ini up to its first zero character (empty when the file is missing).
extern std::string VersionPageUrl;

} // namespace updater
