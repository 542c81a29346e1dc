#pragma once

// The updater's splash `Form1`: reads the installed version and the version
// page's address, asks the page for the offered version, and animates its
// progress bar for about a second. Then it either hands over to the update
// window (a newer version is offered) or shows "  载入成功！" and ends the
// program.

#include "core/platform/desktop.h"
#include "core/update_check/update_check.h"

#include <QRgb>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class ProgButton;
class QLabel;
class QLineEdit;
class QTimer;

namespace updater {

using update_check::PageFetcher;
class Form1 : public QWidget {
    Q_OBJECT

public:
    Form1(std::filesystem::path appFolder, platform::DesktopServices& desktop,
          PageFetcher fetchPage = update_check::fetchVersionPage, QWidget* parent = nullptr);

    // Load of the splash: reads the two files, fetches the page, makes the
    // window colour-keyed and starts the animation. Runs once, before the
    // window is shown; never fails: missing files, a failed fetch or a page
    // without a version leave "no newer version".
    void Form_Load();

    // One tick of `Timer1` (every 10 ms): advances the bar, sets the status
    // text, and from the 90th tick on decides.
    void Timer1_Timer();

    // What the decision runs when a newer version is offered, once the
    // timer has stopped and before the splash closes: the update window
    // takes over. Without it the splash only closes.
    void setHandOver(std::function<void()> handOver) { handOver_ = std::move(handOver); }

    // True when the load found a current version, a page address and an
    // offered version on the page.
    bool versionsKnown() const { return versionsKnown_; }
    // What the load read and fetched; the update window starts from it.
    const update_check::VersionInformation& versionInformation() const { return versions_; }

    // The window background; it is the transparent colour of the window.
    static constexpr QRgb KeyColour = 0xFF0000FF; // RGB 0, 0, 255

    // Controls, named as the layout names them.
    QLabel* Label1;
    ProgButton* ProgButton1;
    QTimer* Timer1;
    QLineEdit* Text1; // the current version
    QLineEdit* Text2; // the offered version

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::filesystem::path appFolder_;
    platform::DesktopServices& desktop_;
    PageFetcher fetchPage_;
    std::function<void()> handOver_;
    update_check::VersionInformation versions_;
    bool versionsKnown_ = false;
};

} // namespace updater
