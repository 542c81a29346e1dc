// The Yes/No message box: only Yes or No is an answer; Esc and the close
// button choose nothing.

#include "desktop/qt_desktop_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

class QtDesktopServicesTest : public QObject {
    Q_OBJECT

    // Runs `act` on the box once it is shown and returns the box's answer.
    static int answerAfter(const std::function<void(QMessageBox&)>& act, int flags) {
        bool acted = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || acted)
                return;
            acted = true;
            act(*box);
        });
        poll.start();
        desktop::QtDesktopServices services;
        return services.messageBox("您有文档已打开", "关闭确认...", flags);
    }

    static QAbstractButton* buttonNamed(QMessageBox& box, const QString& text) {
        for (QAbstractButton* b : box.buttons())
            if (b->text() == text)
                return b;
        return nullptr;
    }

private slots:
    void answers_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("expected");
        const int yesNo = platform::mb::YesNo + platform::mb::IconWarning;
        const int noDefault = yesNo + platform::mb::DefaultButton2;
        QTest::newRow("Esc") << "esc" << noDefault << platform::answer::Dismissed;
        QTest::newRow("close button") << "close" << noDefault << platform::answer::Dismissed;
        QTest::newRow("Esc, Yes default") << "esc" << yesNo << platform::answer::Dismissed;
        QTest::newRow("Yes") << "是(&Y)" << noDefault << platform::answer::Yes;
        QTest::newRow("No") << "否(&N)" << noDefault << platform::answer::No;
        QTest::newRow("Enter on the default No") << "enter" << noDefault << platform::answer::No;
        QTest::newRow("OK box closed") << "close" << platform::mb::Ok << platform::answer::Ok;
    }

    void answers() {
        QFETCH(QString, action);
        QFETCH(int, flags);
        QFETCH(int, expected);
        const int answer = answerAfter(
            [&](QMessageBox& box) {
                if (action == "esc")
                    QTest::keyClick(&box, Qt::Key_Escape);
                else if (action == "enter")
                    QTest::keyClick(&box, Qt::Key_Return);
                else if (action == "close")
                    box.close();
                else if (QAbstractButton* b = buttonNamed(box, action))
                    b->click();
                // The box is still open when the action chose nothing.
                if (box.isVisible())
                    QTimer::singleShot(0, &box, [&box] {
                        for (QAbstractButton* b : box.buttons())
                            if (b->text() == "是(&Y)" || b->text() == "确定") {
                                b->click();
                                return;
                            }
                    });
            },
            flags);
        QCOMPARE(answer, expected);
    }
};

QTEST_MAIN(QtDesktopServicesTest)
#include "qt_desktop_services_test.moc"
