#include "batchreplace/main_window.h"
#include "core/platform/app_folder.h"
#include "desktop/qt_desktop_services.h"
#include "payloads/payloads.h"
#include "suites/libreoffice/libreoffice_server.h"

#ifdef _WIN32
#include "core/automation/com_win.h"
#endif

#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("batchreplace");

#ifdef _WIN32
    // On Windows the installed suites serve the classes through COM.
    automation::com::useSystemClasses(automation::defaultRegistry());
#else
    // On Linux LibreOffice serves the Word and Excel classes when installed.
    libreoffice::registerClasses(automation::defaultRegistry());
#endif

    desktop::QtDesktopServices desktopServices;
    Form1 form1(platform::applicationFolder(), desktopServices);
    desktopServices.setParent(&form1);
    form1.setPayloads(payloads::find);
    form1.Form_Load();

    // Opened centred on the screen.
    if (QScreen* screen = QApplication::primaryScreen())
        form1.move(screen->availableGeometry().center() - form1.rect().center());
    form1.show();
    return QApplication::exec();
}
