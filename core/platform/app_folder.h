#pragma once

#include <filesystem>

namespace platform {

// The folder of the running executable.
std::filesystem::path executableFolder();

} // namespace platform
