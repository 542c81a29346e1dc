#include "desktop/qt_desktop_services.h"

#include "core/text/paths.h"

#ifdef _WIN32
#include "core/platform/start_program_win.h"
#endif

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace desktop {

namespace {
QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
} // namespace

int QtDesktopServices::messageBox(const std::string& text, const std::string& title, int flags) {
    QMessageBox box(parent_);
    box.setText(fromUtf8(text));
    box.setWindowTitle(title.empty() ? QApplication::applicationName() : fromUtf8(title));
    switch (flags & 0x70) {
    case platform::mb::IconError:
        box.setIcon(QMessageBox::Critical);
        break;
    case platform::mb::IconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case platform::mb::IconWarning:
        box.setIcon(QMessageBox::Warning);
        break;
    case platform::mb::IconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }
    if ((flags & 0x0F) == platform::mb::YesNo) {
        QPushButton* yes = box.addButton("是(&Y)", QMessageBox::YesRole);
        QPushButton* no = box.addButton("否(&N)", QMessageBox::NoRole);
        box.setDefaultButton((flags & platform::mb::DefaultButton2) ? no : yes);
        // Esc and the close button choose neither: they press a button that
        // is never shown, and the caller learns that nothing was chosen.
        QPushButton* neither = box.addButton(QString(), QMessageBox::RejectRole);
        neither->hide();
        box.setEscapeButton(neither);
        box.exec();
        if (box.clickedButton() == yes)
            return platform::answer::Yes;
        if (box.clickedButton() == no)
            return platform::answer::No;
        return platform::answer::Dismissed;
    }
    QPushButton* ok = box.addButton("确定", QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return platform::answer::Ok;
}

bool QtDesktopServices::startProgram(const std::filesystem::path& program, int showStyle,
                                     std::string& error) {
#ifdef _WIN32
    // CreateProcess, so that the window opens as asked (QProcess cannot).
    return platform::startDetachedProgram(program, showStyle, error);
#else
    (void)showStyle;
    const QString path = QString::fromStdU16String(program.u16string());
    const QFileInfo info(path);
    if (!info.exists()) {
        error = "找不到程序文件" + text::quotedPath(program) + "。";
        return false;
    }
    if (!QProcess::startDetached(path, {}, info.absolutePath())) {
        error = "无法启动程序" + text::quotedPath(program) + "，请检查它是否可以执行。";
        return false;
    }
    return true;
#endif
}

void QtDesktopServices::exitProgram(int code) {
    // Ends at once: nothing is saved or written on the way out.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

std::filesystem::path QtDesktopServices::chooseFileToOpen(const std::string& title,
                                                          const std::string& filter) {
    const QString chosen =
        QFileDialog::getOpenFileName(parent_, fromUtf8(title), QString(), fromUtf8(filter));
    if (chosen.isEmpty())
        return {};
    return std::filesystem::path(chosen.toStdU16String());
}

} // namespace desktop
