#include "update/program_values.h"

namespace updater {

std::string CurrentVersion;
std::string VersionPageUrl;

} // namespace updater
