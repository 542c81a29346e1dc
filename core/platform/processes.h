#pragma once

// Running processes of the computer: found by executable name, ended by id.
// The open-document guard uses this to end every process of an office
// application at once.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

using ProcessId = long long;

struct ProcessInfo {
    ProcessId id = 0;
    // The executable name the process was found under (see `Processes`).
    std::string name;
};

class Processes {
public:
    virtual ~Processes() = default;

    // Every running process whose executable name equals `name`, ignoring
    // the letter case of ASCII letters. Nothing found is an empty list, not a
    // failure. Returns false with a reason when the processes cannot be read.
    //
    // The executable name is the file name a program was started as, without
    // its folder. On Windows that is the image name ("WINWORD.EXE"). On Linux
    // it is the last component of the process's first command-line argument,
    // after the last '/' or '\' (so a program run under Wine as
    // "C:\...\WINWORD.EXE" is found as "WINWORD.EXE"); processes without a
    // command line (kernel threads, processes that have already exited) are
    // not listed.
    virtual bool findByName(std::string_view name, std::vector<ProcessInfo>& found,
                            std::string& error) = 0;

    // Ends the process at once, without giving it a chance to save anything.
    // Never ends the calling program's own process: that, an id that is no
    // longer running, and a process we may not end return false with a
    // reason.
    virtual bool terminate(ProcessId id, std::string& error) = 0;
};

// The processes of this computer, through the operating system.
Processes& systemProcesses();

// True when the two names are equal, ignoring the letter case of ASCII letters.
bool sameExecutableName(std::string_view a, std::string_view b);

} // namespace platform
