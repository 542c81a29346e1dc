// The main window on Windows (under Wine in the cross build): the system's
// drives, folder and file lists with Windows paths, the open-document guard
// against the real process list, the suite detection and a Word replace
// through COM (no Office installed), and the journal in the ANSI code page.

#include "batchreplace/main_window.h"
#include "core/automation/com_win.h"
#include "core/platform/app_folder.h"
#include "core/platform/processes.h"
#include "core/platform/start_program_win.h"
#include "core/text/encoding.h"
#include "support/fake_desktop.h"
#include "support/fake_suites.h"
#include "support/temp_folder.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

#include <windows.h>

#include <chrono>
#include <memory>
#include <thread>

using testing_support::FakeDesktop;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::utf8Path;
using testing_support::writeFile;

namespace {

QString native(const std::filesystem::path& p) {
    return QDir::toNativeSeparators(QString::fromStdWString(p.wstring()));
}

// The text in the process's ANSI code page, through the system itself.
std::string systemAnsi(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

bool runningAs(const char* name) {
    std::vector<platform::ProcessInfo> found;
    std::string error;
    return platform::systemProcesses().findByName(name, found, error) && !found.empty();
}

} // namespace

class WindowOnWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<TempFolder> app;
    std::unique_ptr<TempFolder> docs;
    FakeDesktop desktop;
    automation::Registry registry;
    std::unique_ptr<Form1> form;

    // A window started in `docs` with the system's classes: COM, where no
    // office suite is installed.
    void start(automation::Registry& classes) {
        QDir::setCurrent(QString::fromStdWString(docs->path().wstring()));
        form = std::make_unique<Form1>(app->path(), desktop, classes);
        form->Form_Load();
    }

    QListWidgetItem* dirEntry(const QString& fullPath) {
        for (int i = 0; i < form->Dir1->count(); ++i)
            if (form->Dir1->item(i)->data(Qt::UserRole).toString() == fullPath)
                return form->Dir1->item(i);
        return nullptr;
    }

    QStringList shownFiles() const {
        QStringList names;
        for (int i = 0; i < form->File1->count(); ++i)
            names << form->File1->item(i)->text();
        return names;
    }

    std::string journalBytes() const {
        std::string all;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(*app / "Journal"))
            if (entry.is_regular_file())
                all += readFile(entry.path());
        return all;
    }

private slots:
    void init() {
        app = std::make_unique<TempFolder>();
        docs = std::make_unique<TempFolder>();
        desktop = FakeDesktop();
        registry = automation::Registry();
        automation::com::useSystemClasses(registry);
        text::setAnsiCodeSet("");
    }

    void cleanup() {
        form.reset();
        QDir::setCurrent(QDir::rootPath());
        docs.reset();
        app.reset();
        text::setAnsiCodeSet("");
    }

    void drivesComeFromTheSystem() {
        start(registry);
        QVERIFY(form->Drive1->count() > 0);
        const QRegularExpression driveRoot("^[A-Za-z]:/$");
        for (int i = 0; i < form->Drive1->count(); ++i) {
            const QString root = form->Drive1->itemData(i).toString();
            QVERIFY2(driveRoot.match(root).hasMatch(), qPrintable(root));
            // Shown as Windows writes it: C:\ .
            QVERIFY2(form->Drive1->itemText(i).startsWith(root.left(2) + "\\"),
                     qPrintable(form->Drive1->itemText(i)));
        }
        // The drive of the start folder is the one chosen.
        QCOMPARE(form->Drive1->drive().left(2).toUpper(), native(docs->path()).left(2).toUpper());
    }

    void folderAndFileListsUseWindowsPaths() {
        const auto reports = *docs / utf8Path("报告 2024");
        std::filesystem::create_directory(reports);
        writeFile(reports / "a.doc", "x");
        writeFile(reports / utf8Path("乙.doc"), "x");
        // Word's owner file of an open document: hidden.
        writeFile(reports / "~$a.doc", "x");
        QVERIFY(SetFileAttributesW((reports / "~$a.doc").c_str(), FILE_ATTRIBUTE_HIDDEN));
        start(registry);

        // The chain starts at the drive's root, shown as Windows shows it.
        const QString root = native(docs->path()).left(3);
        QCOMPARE(form->Dir1->item(0)->text(), root);
        QCOMPARE(form->Dir1->item(0)->data(Qt::UserRole).toString(), root);
        for (int i = 0; i < form->Dir1->count(); ++i)
            QVERIFY2(!form->Dir1->item(i)->data(Qt::UserRole).toString().contains('/'),
                     qPrintable(form->Dir1->item(i)->data(Qt::UserRole).toString()));

        QListWidgetItem* child = dirEntry(native(reports));
        QVERIFY(child);
        emit form->Dir1->itemActivated(child);
        QCOMPARE(QDir::toNativeSeparators(form->Dir1->path()), native(reports));
        QCOMPARE(shownFiles(), QStringList({"a.doc", "乙.doc"}));

        // Back up through an ancestor of the chain.
        QListWidgetItem* parent = dirEntry(native(docs->path()));
        QVERIFY(parent);
        emit form->Dir1->itemActivated(parent);
        QCOMPARE(QDir::toNativeSeparators(form->Dir1->path()), native(docs->path()));
        QVERIFY(dirEntry(native(reports)));
    }

    void statusLabelSaysNoSuiteIsInstalled() {
        start(registry);
        // Each probe's server cannot be created: each appends its line.
        QCOMPARE(form->Label2->text(), QString("\n1、获取offcce版本失败\n2、未安装WPS-V8或以下版本"
                                               "\n3、未安装WPS-V9或以上版本"));
        for (QRadioButton* o : {form->Option1, form->Option2, form->Option3, form->Option4})
            QVERIFY(!o->isEnabled());
    }

    // The Word replace cannot create word.Application: one line says so, in
    // the log box and in the journal, written in the chosen code page 936
    // and otherwise in the system's own ANSI code page.
    void wordReplaceWithoutWordSaysItCannotStart_data() {
        QTest::addColumn<QString>("codeSet");
        QTest::newRow("chosen code page 936") << "CP936";
        QTest::newRow("the system's code page") << "";
    }
    void wordReplaceWithoutWordSaysItCannotStart() {
        QFETCH(QString, codeSet);
        text::setAnsiCodeSet(codeSet.toStdString());
        writeFile(*docs / "a.doc", "x");
        start(registry);
        form->Option1->setChecked(true);
        QVERIFY(desktop.boxes.empty()); // no Word runs: the guard asks nothing
        form->Command1->setEnabled(true);
        QTest::mouseClick(form->Command1, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form->running(), 30000); // on the worker thread

        const QString log = QString::fromStdString(form->logText());
        QVERIFY2(log.startsWith("无法启动 Microsoft Word（word.Application）："), qPrintable(log));
        QVERIFY(!desktop.exitCode);

        const std::string journal = journalBytes();
        if (codeSet == "CP936") {
            // 无法启动 in GBK.
            QVERIFY(journal.find("\xCE\xDE\xB7\xA8\xC6\xF4\xB6\xAF Microsoft Word") !=
                    std::string::npos);
        } else {
            QVERIFY(journal.find(systemAnsi(L"无法启动 Microsoft Word（word.Application）")) !=
                    std::string::npos);
        }
    }

    // Yes on the guard's prompt ends the running Word found in the system's
    // process list; the window goes on.
    void guardEndsTheRunningWordProcess() {
        auto word = std::make_shared<detection_fakes::FakeApplication>();
        auto openFiles = std::make_shared<detection_fakes::FakeCollection>();
        openFiles->entries = {detection_fakes::document()};
        word->values["Documents"] = automation::Object(openFiles);
        automation::Registry classes;
        classes.registerClass(
            "Word.Application", [] { return automation::Object(); },
            [word] { return automation::Object(word); });

        // Our own sleeping child, named as Word's executable.
        TempFolder place;
        const auto program = place / "WINWORD.EXE";
        std::filesystem::copy_file(platform::executableFolder() / "Sleeper-Child.exe", program);
        std::string error;
        QVERIFY2(platform::startDetachedProgram(program, platform::show::MinimizedFocus, error),
                 error.c_str());
        QTRY_VERIFY(runningAs("WINWORD.EXE"));

        desktop.answers = {platform::answer::Yes};
        start(classes);
        form->Option1->setChecked(true);
        QCOMPARE(desktop.boxes.size(), size_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(!runningAs("WINWORD.EXE"), 10000);
        QVERIFY(!desktop.exitCode);
        QCOMPARE(form->File1->pattern(), QString("*.doc;*.docx;*.docm"));
    }
};

QTEST_MAIN(WindowOnWindows)
#include "window_win_test.moc"
