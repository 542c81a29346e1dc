// The updater: its splash checks the version page, then either hands over to
// the update window or ends.

#include "core/platform/app_folder.h"
#include "desktop/qt_desktop_services.h"
#include "update/splash_window.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("update");

    desktop::QtDesktopServices desktopServices;
    updater::Form1 form1(platform::executableFolder(), desktopServices);
    desktopServices.setParent(&form1);
    // The splash is shown only once its load (files and fetch) is done.
    form1.Form_Load();

    if (QScreen* screen = QApplication::primaryScreen())
        form1.move(screen->availableGeometry().center() - form1.rect().center());
    form1.show();
    return QApplication::exec();
}
