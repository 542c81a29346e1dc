#pragma once

// Starting another program on Windows without waiting for it, with the
// window style the caller asks for. Built only for Windows.

#include "core/platform/processes.h"

#include <filesystem>
#include <string>

namespace platform {

// Starts `program` without arguments, in its own folder, and returns at once.
// `showStyle` is how its window is first shown (show::Normal,
// show::MinimizedFocus, or any other SW_ value). Returns false with a reason
// naming the program when it cannot be started; `startedId`, when given,
// receives the id of the new process.
bool startDetachedProgram(const std::filesystem::path& program, int showStyle, std::string& error,
                          ProcessId* startedId = nullptr);

} // namespace platform
