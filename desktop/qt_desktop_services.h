#pragma once

#include "core/platform/desktop.h"

class QWidget;

namespace desktop {

// Message boxes through QMessageBox, program starts through QProcess.
class QtDesktopServices : public platform::DesktopServices {
public:
    explicit QtDesktopServices(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    int messageBox(const std::string& text, const std::string& title, int flags) override;
    bool startProgram(const std::filesystem::path& program, int showStyle,
                      std::string& error) override;
    void exitProgram(int code) override;
    std::filesystem::path chooseFileToOpen(const std::string& title,
                                           const std::string& filter) override;

private:
    QWidget* parent_;
};

} // namespace desktop
