#pragma once

#include "core/platform/desktop.h"

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Desktop services for tests: answers message boxes from a queue (then with
// `defaultAnswer`) and records every box, every program start and the end of
// the program instead of showing, starting or ending anything.
class FakeDesktop : public platform::DesktopServices {
public:
    struct Box {
        std::string text;
        std::string title;
        int flags;
    };
    struct Start {
        std::filesystem::path program;
        int showStyle;
    };

    std::vector<Box> boxes;
    std::vector<Start> starts;
    std::deque<int> answers;                  // answers to give, in order
    int defaultAnswer = platform::answer::Ok; // once `answers` runs out
    bool startSucceeds = true;                // what startProgram reports
    std::optional<int> exitCode;              // the code exitProgram was called with
    std::deque<std::filesystem::path> files;  // files "chosen" in open dialogs, in order
    std::vector<std::string> fileDialogs;     // the titles of the open dialogs shown

    int messageBox(const std::string& text, const std::string& title, int flags) override {
        boxes.push_back({text, title, flags});
        if (answers.empty())
            return defaultAnswer;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }

    bool startProgram(const std::filesystem::path& program, int showStyle,
                      std::string& error) override {
        if (!startSucceeds) {
            error = "cannot start " + program.string();
            return false;
        }
        starts.push_back({program, showStyle});
        return true;
    }

    void exitProgram(int code) override { exitCode = code; }

    std::filesystem::path chooseFileToOpen(const std::string& title, const std::string&) override {
        fileDialogs.push_back(title);
        if (files.empty())
            return {};
        std::filesystem::path chosen = files.front();
        files.pop_front();
        return chosen;
    }
};

} // namespace testing_support
