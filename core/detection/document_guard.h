#pragma once

// Keeps the user from working while documents are open in a running
// Microsoft Word or Excel: the user either lets the program end every
// process of that application, or leaves the program.

#include "core/automation/automation.h"
#include "core/platform/desktop.h"
#include "core/platform/processes.h"

namespace detection {

// What the guard reaches: the running application, the prompt and the end of
// the program, and the processes of the computer.
struct GuardServices {
    const automation::Registry& registry;
    platform::DesktopServices& desktop;
    platform::Processes& processes;
};

// Guards against documents open in a running Word.
void guardOpenWordDocuments(const GuardServices& services);
// Guards against workbooks open in a running Excel.
void guardOpenExcelWorkbooks(const GuardServices& services);

// Ends every process of the executable name, ignoring every failure; the
// program's own process is never among those ended.
void endProcessesNamed(platform::Processes& processes, std::string_view executableName);

} // namespace detection
