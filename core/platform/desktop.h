#pragma once

// What the windows ask of the desktop: message boxes, starting another
// program, ending this one. The programs use the Qt implementation; tests use
// a fake that answers prompts and records what would have been started.

#include <filesystem>
#include <string>

namespace platform {

// Message box flags, as Windows numbers them; combine buttons, icon and
// default button by adding them.
namespace mb {
inline constexpr int Ok = 0;
inline constexpr int YesNo = 4;
inline constexpr int IconError = 16;
inline constexpr int IconQuestion = 32;
inline constexpr int IconWarning = 48;
inline constexpr int IconInformation = 64;
inline constexpr int DefaultButton2 = 256;
} // namespace mb

// Message box answers, as Windows numbers them.
namespace answer {
// A Yes/No box closed without choosing (Esc, the title bar's close button).
inline constexpr int Dismissed = 0;
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace answer

// How a started program's window is shown, as Windows numbers it.
namespace show {
inline constexpr int Normal = 1;         // normal window with the focus
inline constexpr int MinimizedFocus = 2; // minimized, with the focus
} // namespace show

class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // A modal message box; returns the answer (answer::Ok, Yes, No, or
    // Dismissed for a Yes/No box closed without a choice). An empty title
    // means the application's own name.
    virtual int messageBox(const std::string& text, const std::string& title, int flags) = 0;

    // Starts a program without waiting for it. Returns false with a reason
    // when it cannot be started.
    [[nodiscard]] virtual bool startProgram(const std::filesystem::path& program, int showStyle,
                                            std::string& error) = 0;

    // Ends this program at once, without saving or writing anything.
    virtual void exitProgram(int code) = 0;

    // Asks the user for a file to open: `title` heads the dialog, `filter`
    // names the files offered ("替换表 (*.txt *.tsv)"). Empty when the user
    // chose none.
    virtual std::filesystem::path chooseFileToOpen(const std::string& title,
                                                   const std::string& filter) = 0;
};

} // namespace platform
