// The updater: its splash checks the version page, then either hands over to
// the update window or ends.

#include "core/platform/app_folder.h"
#include "desktop/qt_desktop_services.h"
#include "update/splash_window.h"
#include "update/update_window.h"

#include <QApplication>
#include <QScreen>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("update");

    // Beside the main program, which wrote this updater into its application folder.
    const std::filesystem::path appFolder = platform::applicationFolder();
    desktop::QtDesktopServices desktopServices;
    updater::Form1 form1(appFolder, desktopServices);
    desktopServices.setParent(&form1);

    // A newer version: the update window takes over, shown once its load
    // (fetch, link resolution, start of the download) has returned.
    std::unique_ptr<updater::Form2> form2;
    form1.setHandOver([&] {
        form2 = std::make_unique<updater::Form2>(appFolder, desktopServices,
                                                 form1.versionInformation());
        desktopServices.setParent(form2.get());
        form2->Form_Load();
        form2->show();
    });
    // The splash is shown only once its load (files and fetch) is done.
    form1.Form_Load();

    if (QScreen* screen = QApplication::primaryScreen())
        form1.move(screen->availableGeometry().center() - form1.rect().center());
    form1.show();
    return QApplication::exec();
}
