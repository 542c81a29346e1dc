#pragma once

#include "core/platform/desktop.h"

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Desktop services for tests: answers message boxes from a queue (OK, or the
// default answer when the queue is empty) and records every box and every
// program start instead of showing or starting anything.
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
    std::deque<int> answers;   // answers to give, in order
    bool startSucceeds = true; // what startProgram reports
    int exitCode = -1;         // the code exitProgram was called with, -1 if never
    int exits = 0;

    int messageBox(const std::string& text, const std::string& title, int flags) override {
        boxes.push_back({text, title, flags});
        if (answers.empty())
            return platform::answer::Ok;
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

    void exitProgram(int code) override {
        exitCode = code;
        ++exits;
    }
};

} // namespace testing_support
