// The main window: start state, modes, lists and buttons, combo pairing, menus.

#include "batchreplace/main_window.h"
#include "cli/cli.h"
#include "core/engines/builtin_engines.h"
#include "core/engines/prescan.h"
#include "core/text/encoding.h"
#include "core/text/paths.h"
#include "support/fake_desktop.h"
#include "support/fake_suites.h"
#include "support/fake_window.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

using testing_support::FakeDesktop;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

namespace {

QString qpath(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

    std::unique_ptr<TempFolder> app;
    std::unique_ptr<TempFolder> docs;
    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<automation::Registry> registry;
    detection_fakes::FakeProcesses processes;
    std::unique_ptr<Form1> form;

    // Every suite answers: an Excel 2016 and both WPS servers.
    void registerSuites() {
        for (const char* cls : {"excel.Application", "ET.Application", "KET.Application"}) {
            registry->registerClass(cls, [] {
                auto app = std::make_shared<detection_fakes::FakeApplication>();
                app->values["<default>"] = automation::Value("Suite");
                app->values["Version"] = automation::Value("16.0");
                return automation::Object(app);
            });
        }
    }

    // A window started in `docs`, which holds a.doc, b.DOC, c.xls and the
    // subfolders words (x.doc) and sheets (y.xls).
    void start() {
        QDir::setCurrent(qpath(docs->path()));
        form = std::make_unique<Form1>(app->path(), *desktop, *registry, processes);
        form->Form_Load();
    }

    void openFolder(const std::filesystem::path& folder) {
        for (int i = 0; i < form->Dir1->count(); ++i) {
            QListWidgetItem* item = form->Dir1->item(i);
            if (item->data(Qt::UserRole).toString() == qpath(folder)) {
                emit form->Dir1->itemActivated(item);
                return;
            }
        }
        QFAIL("folder not in the folder list");
    }

    QStringList shownFiles() const {
        QStringList names;
        for (int i = 0; i < form->File1->count(); ++i)
            names << form->File1->item(i)->text();
        return names;
    }

    // A scripted Word for the replace: every document has the text.
    struct ScriptedWord {
        scripted::Server server;
        scripted::ScriptedObject& word = server.object("word");
        scripted::ScriptedObject& documents = server.object("docs");
        scripted::ScriptedObject& doc = server.object("doc");
        scripted::ScriptedObject& content = server.object("content");
        scripted::ScriptedObject& find = server.object("find");
        explicit ScriptedWord(automation::Registry& registry) {
            word.onGet("Documents", documents);
            word.onGet("ActiveDocument", doc);
            documents.onCall("Open", doc);
            doc.onGet("Content", content);
            content.onGet("Find", find);
            find.onCall("Execute", automation::Value(true));
            // The header and footer writer's objects.
            auto& sel = server.object("sel");
            auto& window = server.object("win");
            auto& part = server.object("part");
            word.onGet("ActiveWindow", window).onGet("Selection", sel);
            window.onGet("ActivePane", server.object("pane"));
            server.object("pane").onGet("View", server.object("view"));
            sel.onGet("Font", server.object("font"))
                .onGet("ParagraphFormat", server.object("para"))
                .onGet("Fields", server.object("fields"))
                .onGet("Range", server.object("range"));
            doc.onGet("Sections", server.object("section")).onGet("ActiveWindow", window);
            server.object("section").onGet("Headers", part).onGet("Footers", part);
            part.onGet("Range", server.object("partRange"));
            server.object("partRange").onGet("Text", automation::Value("written"));
            server.provide(registry, "word.Application", word);
        }
        int creates() const {
            const auto lines = server.transcript();
            return int(std::count(lines.begin(), lines.end(), "create word.Application"));
        }
    };

    // A scripted Excel: every workbook has two worksheets, the text is found
    // on the first.
    struct ScriptedExcel {
        scripted::Server server;
        explicit ScriptedExcel(automation::Registry& registry) {
            auto& excel = server.object("excel");
            auto& book = server.object("wb");
            excel.onGet("Workbooks", server.object("wbs"));
            server.object("wbs").onCall("Open", book);
            book.onGet("Worksheets", scripted::computed([this](const scripted::Call& c, int) {
                           if (c.positional.empty())
                               return scripted::Reply(server.object("sheets"));
                           return scripted::Reply(server.object(
                               "sheet" + std::to_string(c.positional[0].toInteger())));
                       }));
            book.onGet("Sheets", server.object("sheet1"));
            server.object("sheets").onGet("Count", automation::Value(2));
            for (const char* n : {"1", "2"}) {
                auto& sheet = server.object(std::string("sheet") + n);
                sheet.onGet("Name", automation::Value(std::string("表") + n));
                sheet.onGet("Cells", server.object(std::string("cells") + n));
            }
            server.object("cells1").onCall("Find", server.object("found"));
            server.object("cells2").onCall("Find", scripted::nothing());
            server.provide(registry, "excel.Application", excel);
        }
    };

    // The journal's entries without their date and time.
    std::vector<std::string> journalEntries() const {
        std::vector<std::string> entries;
        if (!std::filesystem::exists(*app / "Journal"))
            return entries;
        for (const auto& day : std::filesystem::directory_iterator(*app / "Journal"))
            for (const auto& file : std::filesystem::directory_iterator(day.path())) {
                std::istringstream in(text::ansiToUtf8(readFile(file.path())));
                for (std::string line; std::getline(in, line);) {
                    if (line.ends_with('\r'))
                        line.pop_back();
                    entries.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
                }
            }
        return entries;
    }

    // word.doc chosen and the folder changed, so that Command1 and Command3
    // work on a.doc and b.DOC.
    void chooseWordMode() {
        form->Option1->click();
        openFolder(*docs / "words");
        openFolder(docs->path());
        QVERIFY(form->Command1->isEnabled());
    }

    // Runs go on a worker thread: waits for the one started to end.
    void waitForRun() { QTRY_VERIFY_WITH_TIMEOUT(!form->running(), 30000); }

    void showActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }

private slots:
    void init() {
        app = std::make_unique<TempFolder>();
        docs = std::make_unique<TempFolder>();
        desktop = std::make_unique<FakeDesktop>();
        registry = std::make_unique<automation::Registry>();
        registerSuites();
        // The journal read back as written, whatever the system's code page.
        text::setAnsiCodeSet("UTF-8");
        for (const char* name : {"a.doc", "b.DOC", "c.xls"})
            writeFile(*docs / name, "x");
        std::filesystem::create_directory(*docs / "words");
        std::filesystem::create_directory(*docs / "sheets");
        writeFile(*docs / "words" / "x.doc", "x");
        writeFile(*docs / "sheets" / "y.xls", "x");
        start();
    }

    void cleanup() {
        form.reset();
        QDir::setCurrent(QDir::rootPath());
        docs.reset();
        app.reset();
        text::setAnsiCodeSet("");
    }

    void startState() {
        QCOMPARE(form->windowTitle(), QString("晴木V1.5.8"));
        for (QRadioButton* o : {form->Option1, form->Option2, form->Option3, form->Option4})
            QVERIFY(!o->isChecked());
        for (QPushButton* b : {form->Command1, form->Command2, form->Command3})
            QVERIFY(!b->isEnabled());
        QVERIFY(!form->Drive1->isEnabled());
        QVERIFY(!form->Dir1->isEnabled());
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->text1(), std::string("输入原内容\r\n"));
        QCOMPARE(form->text2(), std::string("输入新替换内容\r\n"));
        QCOMPARE(QDir::toNativeSeparators(form->Dir1->path()), qpath(docs->path()));
        QCOMPARE(shownFiles(), QStringList({"a.doc", "b.DOC"}));
        QCOMPARE(form->SSTab1->count(), 3);
        QCOMPARE(form->SSTab1->currentIndex(), 0);
        QCOMPARE(form->Combo1->currentText(), QString("居中"));
        QCOMPARE(form->Combo2->currentText(), QString("居左"));
        QCOMPARE(form->Combo3->currentText(), QString("居中1"));
        QCOMPARE(form->Text6->text(), QString("宋体"));
        QCOMPARE(form->Text7->text(), QString("10"));
        QVERIFY(!form->Option5->isChecked() && !form->Option6->isChecked());
        QVERIFY(!form->Check1->isChecked() && !form->Check3->isChecked());
        QVERIFY(desktop->boxes.empty());
        // The client area is 9810 x 7440 twips.
        QCOMPARE(form->centralWidget()->size(), QSize(654, 496));
    }

    void detectionFillsTheStatusLabelAndDisablesMissingSuites() {
        QVERIFY(
            form->Label2->text().startsWith("1、本机系统提示: 已安装offcce 2016版本 版本号：16.0"));
        for (QRadioButton* o : {form->Option1, form->Option2, form->Option3, form->Option4})
            QVERIFY(o->isEnabled());

        registry = std::make_unique<automation::Registry>();
        start();
        QCOMPARE(form->Label2->text(), QString("\n1、获取offcce版本失败\n2、未安装WPS-V8或以下版本"
                                               "\n3、未安装WPS-V9或以上版本"));
        for (QRadioButton* o : {form->Option1, form->Option2, form->Option3, form->Option4})
            QVERIFY(!o->isEnabled());
    }

    void guardRunsBeforeEveryModeChange() {
        // A running Word holds an open document; the user answers No.
        auto collection = std::make_shared<detection_fakes::FakeCollection>();
        collection->entries.push_back(automation::Value("a.doc"));
        auto word = std::make_shared<detection_fakes::FakeApplication>();
        word->values["Documents"] = automation::Value(automation::Object(collection));
        registry->registerClass(
            "Word.Application", [] { return automation::Object(); },
            [word] { return automation::Object(word); });
        desktop->answers.push_back(platform::answer::No);
        form->Option3->click();
        QCOMPARE(desktop->boxes.size(), size_t(1));
        QCOMPARE(desktop->boxes[0].title, std::string("关闭确认..."));
        QCOMPARE(desktop->exitCode, std::optional<int>(0));
        // Excel modes ask the Excel guard, which finds no running Excel.
        form->Option2->click();
        QCOMPARE(desktop->boxes.size(), size_t(1));
    }

    void buttonsRunTheOperationsOnTheListedFiles() {
        scripted::Server server;
        auto& word = server.object("word");
        auto& documents = server.object("docs");
        auto& doc = server.object("doc");
        auto& content = server.object("content");
        auto& find = server.object("find");
        word.onGet("Documents", documents);
        word.onGet("ActiveDocument", doc);
        documents.onCall("Open", doc);
        doc.onGet("Content", content);
        content.onGet("Find", find);
        // a.doc: found, then the replacement; b.DOC: not found.
        find.onCall("Execute", scripted::inTurn({automation::Value(true), automation::Value(true),
                                                 automation::Value(false)}));
        server.provide(*registry, "word.Application", word);

        form->Option1->click();
        openFolder(*docs / "words");
        openFolder(docs->path());                // a.doc and b.DOC
        form->File1->item(0)->setSelected(true); // a selection changes nothing
        form->Text1->setPlainText("旧");
        form->Text2->setPlainText("新");
        form->Command1->click();
        waitForRun();
        QCOMPARE(form->logText(), std::string("a.doc 已替换内容\r\nb.DOC 没找到替换的内容\r\n"));
        const auto calls = server.transcript();
        const std::string openA = "call docs.Open(\"" + (docs->path() / "a.doc").string() + "\")";
        QVERIFY(std::find(calls.begin(), calls.end(), openA) != calls.end());
        QVERIFY(std::find(calls.begin(), calls.end(), "call find.Execute(\"旧\")") != calls.end());
        QCOMPARE(calls.back(), std::string("call word.Quit()"));

        // The Excel button does nothing in a Word-document mode.
        const size_t before = server.transcript().size();
        form->Command2->setEnabled(true);
        form->Command2->click();
        waitForRun();
        QCOMPARE(server.transcript().size(), before);
        QCOMPARE(form->logText(), std::string("a.doc 已替换内容\r\nb.DOC 没找到替换的内容\r\n"));
    }

    void startCreatesWorkingFoldersAndRewritesVersionFile() {
        QVERIFY(std::filesystem::is_directory(*app / "Journal"));
        QVERIFY(std::filesystem::is_directory(*app / "toconfigure"));
        QCOMPARE(readFile(*app / "toconfigure" / "dqbb.ini"), std::string("1.5.8\r\n"));
        writeFile(*app / "toconfigure" / "dqbb.ini", "0.0.1\r\n9.9.9\r\n");
        start();
        QCOMPARE(readFile(*app / "toconfigure" / "dqbb.ini"), std::string("1.5.8\r\n"));
    }

    void unwritableVersionFileIsReportedAndStartGoesOn() {
        std::filesystem::remove(*app / "toconfigure" / "dqbb.ini");
        std::filesystem::create_directory(*app / "toconfigure" / "dqbb.ini");
        start();
        QCOMPARE(desktop->boxes.size(), size_t(1));
        QVERIFY(desktop->boxes[0].text.find("dqbb.ini") != std::string::npos);
        QCOMPARE(form->windowTitle(), QString("晴木V1.5.8"));
    }

    void modesSetPatternCaptionAndPromptsButNoButton() {
        form->Option3->click(); // wps.doc
        QCOMPARE(form->File1->pattern(), QString("*.doc;*.docx;*.docm"));
        QCOMPARE(form->Command1->text(), QString("文档内容替换"));
        QCOMPARE(form->text1(), std::string("请输入要替换原内容"));
        QCOMPARE(form->text2(), std::string("请输入新替换内容"));
        QVERIFY(form->Dir1->isEnabled() && form->Drive1->isEnabled());
        // The folder holds .doc files, but the button waits for a folder change.
        QVERIFY(!form->Command1->isEnabled());

        form->Option1->click(); // word.doc: the same
        QCOMPARE(form->File1->pattern(), QString("*.doc;*.docx;*.docm"));
        QCOMPARE(form->Command1->text(), QString("文档内容替换"));

        form->Option2->click();
        QCOMPARE(form->File1->pattern(), QString("*.xls;*.xlsx;*.xlsm"));
        QCOMPARE(shownFiles(), QStringList({"c.xls"}));
        QCOMPARE(form->Command2->text(), QString("表格内容替换"));
        QCOMPARE(form->Command1->text(), QString("文档内容替换"));
    }

    void buttonsFollowTheFolderForTheCurrentKindOnly() {
        form->Option1->click();
        openFolder(*docs / "words");
        QVERIFY(form->Command1->isEnabled());
        QVERIFY(form->Command3->isEnabled());
        QVERIFY(!form->Command2->isEnabled());
        QCOMPARE(shownFiles(), QStringList({"x.doc"}));

        // Switching kinds shows the other files at once, buttons stay as they were.
        form->Option2->click();
        QCOMPARE(shownFiles(), QStringList());
        QVERIFY(form->Command1->isEnabled());
        QVERIFY(!form->Command2->isEnabled());

        openFolder(docs->path());
        QVERIFY(form->Command2->isEnabled());
        QVERIFY(form->Command1->isEnabled()); // the Word buttons keep their state

        openFolder(*docs / "words"); // .doc files only
        QVERIFY(!form->Command2->isEnabled());
        QVERIFY(form->Command1->isEnabled());
        QVERIFY(form->Command3->isEnabled());
    }

    void selectingFilesDoesNotChangeTheList() {
        form->Option1->click();
        form->File1->item(1)->setSelected(true);
        QCOMPARE(form->File1->fileCount(), 2);
        QCOMPARE(form->File1->fileName(0), std::string("a.doc"));
        QCOMPARE(form->File1->fileName(1), std::string("b.DOC"));
    }

    void fileListShowsEveryFormatOfTheKindAndOptionallySubfolders() {
        for (const char* name : {"d.docx", "~$d.docx", "e.XLSM", "words/f.docm"})
            writeFile(*docs / name, "x");
        form->Option1->click();
        QCOMPARE(shownFiles(), QStringList({"a.doc", "b.DOC", "d.docx"}));
        form->File1->setSubfolders(true);
        QCOMPARE(shownFiles(),
                 QStringList({"a.doc", "b.DOC", "d.docx", "words/f.docm", "words/x.doc"}));
        QCOMPARE(form->File1->fileName(3), std::string("words/f.docm"));
        form->File1->setExcludedFolders({*docs / "words"});
        QCOMPARE(form->File1->fileCount(), 3);
        form->Option2->click();
        QCOMPARE(shownFiles(), QStringList({"c.xls", "e.XLSM", "sheets/y.xls"}));
    }

    void unreadableFolderIsReportedAndThePreviousKept() {
        form->Option1->click();
        const auto gone = *docs / "sheets";
        std::filesystem::remove_all(gone);
        openFolder(gone);
        QCOMPARE(QDir::toNativeSeparators(form->Dir1->path()), qpath(docs->path()));
        QCOMPARE(desktop->boxes.size(), size_t(1));
        QVERIFY(desktop->boxes[0].text.find(gone.string()) != std::string::npos);
    }

    void comboPairingGoesByPosition() {
        form->Combo2->setCurrentIndex(2);
        emit form->Combo2->activated(2); // "居右" at position 2
        QCOMPARE(form->Combo3->currentText(), QString("居左"));
        form->Combo2->setCurrentIndex(0);
        emit form->Combo2->activated(0); // "居右" at position 0
        QCOMPARE(form->Combo3->currentText(), QString("居中1"));
        form->Combo3->setCurrentIndex(3);
        emit form->Combo3->activated(3);
        QCOMPARE(form->Combo2->currentText(), QString("居中"));
    }

    void typingIntoAComboChangesNothingElse() {
        form->Combo2->lineEdit()->clear();
        form->Combo2->lineEdit()->insert("居右");
        QTest::keyClick(form->Combo2->lineEdit(), Qt::Key_Return);
        QCOMPARE(form->Combo2->currentText(), QString("居右"));
        QCOMPARE(form->Combo3->currentText(), QString("居中1"));
        form->Combo3->lineEdit()->clear();
        form->Combo3->lineEdit()->insert("居左");
        QTest::keyClick(form->Combo3->lineEdit(), Qt::Key_Return);
        QCOMPARE(form->Combo2->currentText(), QString("居右"));
    }

    void aboutBox() {
        form->gy->trigger();
        QCOMPARE(desktop->boxes.size(), size_t(1));
        const auto& box = desktop->boxes[0];
        QCOMPARE(box.title, std::string("信息提示"));
        QCOMPARE(box.flags, platform::mb::Ok | platform::mb::IconInformation);
        QVERIFY(box.text.rfind("软件制作：", 0) == 0);
        QVERIFY(box.text.find("\r\n联系方式：") != std::string::npos);
        QVERIFY(box.text.size() >
                std::string("\r\n建议意见：软件使用请提供宝贵意见，不定期更新，谢谢！").size());
        QCOMPARE(
            box.text.substr(
                box.text.size() -
                std::string("\r\n建议意见：软件使用请提供宝贵意见，不定期更新，谢谢！").size()),
            std::string("\r\n建议意见：软件使用请提供宝贵意见，不定期更新，谢谢！"));
    }

    void updateEntryStartsTheUpdaterAndCloses() {
        form->show();
        // Without a version page the check disabled the entry; its handler
        // is what is tested here.
        form->gxqk_Click();
        QCOMPARE(desktop->starts.size(), size_t(1));
        QCOMPARE(desktop->starts[0].program.parent_path(), app->path());
        QCOMPARE(desktop->starts[0].showStyle, platform::show::Normal);
        QVERIFY(!form->isVisible());
    }

    void updaterThatCannotStartKeepsTheWindowOpen() {
        form->show();
        desktop->startSucceeds = false;
        form->gxqk_Click();
        QVERIFY(form->isVisible());
        QCOMPARE(desktop->boxes.size(), size_t(1));
        QVERIFY(desktop->boxes[0].text.find(app->path().string()) != std::string::npos);
    }

    void logAndJournal() {
        form->appendLog("a.doc 已替换内容");
        form->appendLog("b.doc 没找到替换的内容");
        QCOMPARE(form->logText(), std::string("a.doc 已替换内容\r\nb.doc 没找到替换的内容\r\n"));
        form->rz("a.doc 已替换内容");
        bool found = false;
        for (const auto& day : std::filesystem::directory_iterator(*app / "Journal"))
            for (const auto& file : std::filesystem::directory_iterator(day.path()))
                found = readFile(file.path()).find(text::utf8ToAnsi(" a.doc 已替换内容\r\n")) !=
                        std::string::npos;
        QVERIFY(found);
    }
    // Tab moves on from the find and replace texts, as in a Windows text box:
    // typed by keyboard alone, the run finds the text without a tab in it.
    void tabMovesFromTheTextsToTheButtonAndTheRunReplaces() {
        ScriptedWord word(*registry);
        chooseWordMode();
        showActive();
        form->Text1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form->Text1));
        QTest::keyClick(form->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form->Text1, "old");
        QTest::keyClick(form->Text1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form->Text2));
        QTest::keyClick(form->Text2, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form->Text2, "new");
        QTest::keyClick(form->Text2, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form->Command1));
        QCOMPARE(form->text1(), std::string("old"));
        QCOMPARE(form->text2(), std::string("new"));

        QTest::keyClick(form->Command1, Qt::Key_Space);
        waitForRun();
        QCOMPARE(form->logText(), std::string("a.doc 已替换内容\r\nb.DOC 已替换内容\r\n"));
        const auto calls = word.server.transcript();
        QVERIFY(std::find(calls.begin(), calls.end(), "call find.Execute(\"old\")") != calls.end());
        QVERIFY(std::any_of(calls.begin(), calls.end(),
                            [](const std::string& c) { return c.find("\"new\"") != c.npos; }));
        for (const std::string& c : calls)
            QVERIFY2(c.find('\t') == std::string::npos, c.c_str());
    }

    // A run of 20 documents goes on its own thread: the window moves, its log
    // box scrolls and grows, the progress advances, only the run's inputs are
    // disabled. Stop ends it after the current document; so does closing the
    // window once the user says Yes. Each document is processed whole or not
    // at all.
    void theRunGoesInTheBackgroundAndStops_data() {
        QTest::addColumn<bool>("byClosing");
        QTest::newRow("stop button") << false;
        QTest::newRow("closing the window") << true;
    }

    void theRunGoesInTheBackgroundAndStops() {
        QFETCH(bool, byClosing);
        ScriptedWord word(*registry);
        // Word opens the n-th document once the test allows n documents.
        std::atomic<int> allowed{2};
        word.documents.onCall("Open", scripted::computed([&](const scripted::Call&, int n) {
                                  while (n > allowed)
                                      std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                  return scripted::Reply(word.doc);
                              }));
        // Whatever fails, the run ends before the scripted Word goes.
        const auto release = qScopeGuard([&] {
            allowed = 1000;
            form->stopRun();
            waitForRun();
        });
        const auto allow = [&](int n) {
            allowed = n;
            QTRY_COMPARE_WITH_TIMEOUT(form->ProgressBar1->value(), n, 10000);
        };
        const std::filesystem::path many = *docs / "many";
        std::filesystem::create_directory(many);
        for (int i = 0; i < 20; ++i)
            writeFile(many / ("d" + std::to_string(100 + i) + ".doc"), "x");
        chooseWordMode();
        openFolder(many);
        QCOMPARE(form->File1->fileCount(), 20);
        showActive();
        QVERIFY(!form->ProgressBar1->isVisible() && !form->Command4->isVisible());
        form->Command1->click();

        QVERIFY(form->running());
        for (QWidget* input : std::initializer_list<QWidget*>{
                 form->Option2, form->Text1, form->Command1, form->File1, form->Dir1, form->Text4})
            QVERIFY(!input->isEnabled());
        QVERIFY(form->Text3->isEnabled() && form->Command4->isEnabled());
        QVERIFY(form->ProgressBar1->isVisible() && form->Command4->isVisible());
        QCOMPARE(form->ProgressBar1->maximum(), 20);
        form->Command1_Click(); // a second run is not started

        allow(2);
        QTRY_VERIFY(form->Label6->text().contains("d102.doc")); // the third, under way
        QVERIFY(form->ProgressBar1->format().contains("剩余约"));
        const QPoint moved = form->pos() + QPoint(7, 5);
        form->move(moved);
        QTRY_COMPARE(form->pos(), moved);
        // The log overflows; the reader scrolls up and keeps the place while
        // lines come.
        allow(8);
        QScrollBar* bar = form->Text3->verticalScrollBar();
        QVERIFY(bar->maximum() > bar->minimum());
        QCOMPARE(bar->value(), bar->maximum()); // it followed the lines so far
        bar->setValue(bar->minimum());
        allow(10);
        QCOMPARE(bar->value(), bar->minimum());

        // Stopped while the 11th document is under way: it is finished.
        if (byClosing) {
            desktop->answers = {platform::answer::No, platform::answer::Yes};
            QVERIFY(!form->close()); // No: the run goes on
            QVERIFY(form->running());
            form->close();
            QCOMPARE(desktop->boxes.size(), std::size_t(2));
            QCOMPARE(desktop->boxes[1].flags & platform::mb::YesNo, platform::mb::YesNo);
        } else {
            form->Command4->click();
            QVERIFY(!form->Command4->isEnabled());
        }
        QVERIFY(form->running());
        allowed = 1000;
        waitForRun();
        QCOMPARE(form->isVisible(), !byClosing);

        const std::vector<std::string> calls = word.server.transcript();
        const auto count = [&](const std::string& prefix) {
            return int(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
                return c.rfind(prefix, 0) == 0;
            }));
        };
        QCOMPARE(count("call docs.Open("), 11);
        QCOMPARE(count("call docs.Close("), 11); // none left half-done
        QCOMPARE(word.creates(), 1);
        QCOMPARE(calls.back(), std::string("call word.Quit()"));
        const std::string log = form->logText();
        QCOMPARE(int(std::count(log.begin(), log.end(), '\n')), 12);
        QVERIFY2(log.ends_with("d110.doc 已替换内容\r\n" + engines::stoppedLine(9) + "\r\n"),
                 log.c_str());
        QVERIFY(!form->ProgressBar1->isVisible() && !form->Command4->isVisible());
        QVERIFY(form->Command1->isEnabled());
    }

    // The four modes in one table: guard, file pattern, button caption,
    // prompts; no button is enabled by choosing a mode.
    void everyModeRunsItsGuardAndSetsPatternCaptionAndPrompts_data() {
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("caption");
        const QString doc = "您有文档已打开，必须手动保存关闭后再执本工具";
        const QString xls = "您有表格已打开，必须手动保存关闭后再执本工具";
        QTest::newRow("word.doc") << 1 << doc << "*.doc;*.docx;*.docm" << 1 << "文档内容替换";
        QTest::newRow("excel.xls") << 2 << xls << "*.xls;*.xlsx;*.xlsm" << 2 << "表格内容替换";
        QTest::newRow("wps.doc") << 3 << doc << "*.doc;*.docx;*.docm" << 1 << "文档内容替换";
        QTest::newRow("wps.xls") << 4 << xls << "*.xls;*.xlsx;*.xlsm" << 2 << "表格内容替换";
    }

    void everyModeRunsItsGuardAndSetsPatternCaptionAndPrompts() {
        QFETCH(int, option);
        QFETCH(QString, prompt);
        QFETCH(QString, pattern);
        QFETCH(int, button);
        QFETCH(QString, caption);
        // Word and Excel run, each with one open file; the user answers Yes.
        for (const auto& [cls, collection] :
             {std::pair<const char*, const char*>{"Word.Application", "Documents"},
              {"Excel.Application", "Workbooks"}}) {
            auto files = std::make_shared<detection_fakes::FakeCollection>();
            files->entries.push_back(automation::Value("open file"));
            auto app = std::make_shared<detection_fakes::FakeApplication>();
            app->values[collection] = automation::Value(automation::Object(files));
            registry->registerClass(
                cls, [] { return automation::Object(); },
                [app] { return automation::Object(app); });
        }
        desktop->answers.push_back(platform::answer::Yes);
        QRadioButton* options[] = {form->Option1, form->Option2, form->Option3, form->Option4};
        options[option - 1]->click();

        QCOMPARE(desktop->boxes.size(), size_t(1));
        QVERIFY(QString::fromStdString(desktop->boxes[0].text).startsWith(prompt));
        QVERIFY(!desktop->exitCode);
        QCOMPARE(form->File1->pattern(), pattern);
        QPushButton* buttons[] = {form->Command1, form->Command2};
        QCOMPARE(buttons[button - 1]->text(), caption);
        QCOMPARE(form->text1(), std::string("请输入要替换原内容"));
        QCOMPARE(form->text2(), std::string("请输入新替换内容"));
        QVERIFY(form->Dir1->isEnabled() && form->Drive1->isEnabled());
        for (QPushButton* b : {form->Command1, form->Command2, form->Command3})
            QVERIFY(!b->isEnabled());
    }

    // Every header and footer control reaches the writer: each run sets all
    // of them to different values, so that a control read in the place of
    // another changes what Word is sent.
    void headerAndFooterControlsReachTheWriter_data() {
        QTest::addColumn<bool>("header");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");
        const QString sp16(16, ' ');
        const QString sp26(26, ' ');
        QTest::newRow("header") << true
                                << QStringList{"put font.Name = \"黑体\"", "put font.Size = \"14\"",
                                               "put font.Bold = True",
                                               "call sel.TypeText(\"" + sp16 + "页眉甲\")",
                                               "put para.Alignment = 2"}
                                << QStringList{"页脚乙", "TypeText(\"第\")", "楷体"};
        QTest::newRow("footer") << false
                                << QStringList{"put font.Name = \"楷体\"",
                                               "put font.Size = \"12\"",
                                               "call sel.TypeText(\"页脚乙" + sp26 + "\")",
                                               "call sel.TypeText(\"第\")",
                                               "call sel.TypeText(\"页\")",
                                               "put para.Alignment = 2"}
                                << QStringList{"页眉甲", "Bold", "黑体"};
    }

    void headerAndFooterControlsReachTheWriter() {
        QFETCH(bool, header);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        ScriptedWord word(*registry);
        scripted::Server& server = word.server;

        chooseWordMode();
        openFolder(*docs / "words"); // x.doc only
        (header ? form->Option5 : form->Option6)->setChecked(true);
        form->Text4->setText("页眉甲");
        form->Text5->setText("页脚乙");
        form->Combo1->setEditText(header ? "居右" : "居中");
        form->Combo2->setEditText(header ? "居中" : "居左");
        form->Check3->setChecked(!header);
        form->Combo3->setEditText(header ? "居左" : "居右");
        form->Text6->setText(header ? "黑体" : "楷体");
        form->Text7->setText(header ? "14" : "12");
        form->Check1->setChecked(header);
        form->Command3->click();
        waitForRun();

        const auto calls = server.transcript();
        QStringList transcript;
        for (const auto& c : calls)
            transcript << QString::fromStdString(c);
        for (const QString& line : expected)
            QVERIFY2(transcript.contains(line), qPrintable(line + "\n" + transcript.join('\n')));
        for (const QString& piece : absent)
            for (const QString& line : transcript)
                QVERIFY2(!line.contains(piece), qPrintable(line));
        if (!header) {
            // The page number's placement is the alignment set after it.
            const qsizetype page = transcript.indexOf("call sel.TypeText(\"页\")");
            QVERIFY(page >= 0);
            qsizetype next = page + 1;
            while (next < transcript.size() && !transcript.at(next).startsWith("put para."))
                ++next;
            QVERIFY(next < transcript.size());
            QCOMPARE(transcript.at(next), QString("put para.Alignment = 2"));
        }
        QCOMPARE(form->logText().find("x.doc"), size_t(0));
    }

    // Picking the drive already chosen leaves the folder; a folder on
    // another volume shows that volume in the drive list.
    void driveListFollowsTheFolderAndKeepsItOnTheSameDrive() {
        form->Option1->click();
        openFolder(*docs / "words");
        const QString drive = form->Drive1->drive();
        emit form->Drive1->activated(form->Drive1->currentIndex());
        QCOMPARE(QDir::toNativeSeparators(form->Dir1->path()), qpath(*docs / "words"));
        QCOMPARE(form->Drive1->drive(), drive);

        // Another volume whose root can be listed.
        QString other;
        for (int i = 0; i < form->Drive1->count() && other.isEmpty(); ++i) {
            const QString root = form->Drive1->itemData(i).toString();
            if (root != drive && QDir(root).isReadable() && root.size() > 1)
                other = root;
        }
        if (other.isEmpty())
            QSKIP("only one readable volume is mounted here");
        QString error;
        QVERIFY(form->Dir1->setPath(other, error));
        QCOMPARE(form->Drive1->drive(), other);
        // Back to the first drive: a change of drive moves the folder.
        form->Drive1->setCurrentIndex(form->Drive1->findData(drive));
        emit form->Drive1->activated(form->Drive1->currentIndex());
        QCOMPARE(form->Drive1->drive(), drive);
        QVERIFY(form->Dir1->path() != other);
    }

    // The contact window opens centred on the screen, wherever the main
    // window is.
    void contactWindowIsCentredOnTheScreen() {
        form->show();
        form->move(0, 0);
        QPoint centre;
        QPoint screenCentre;
        QTimer::singleShot(0, [&] {
            QWidget* shown = QApplication::activeModalWidget();
            if (!shown)
                return;
            centre = shown->geometry().center();
            screenCentre = shown->screen()->availableGeometry().center();
            shown->close();
        });
        form->das->trigger();
        QVERIFY(!screenCentre.isNull());
        // Within the window frame's few pixels of the screen's centre.
        QVERIFY2((centre - screenCentre).manhattanLength() <= 6,
                 qPrintable(QString("%1,%2 vs %3,%4")
                                .arg(centre.x())
                                .arg(centre.y())
                                .arg(screenCentre.x())
                                .arg(screenCentre.y())));
    }

    // Every operation on the worker thread, with one and two jobs: the same
    // lines and journal entries, in list order, as the run on the calling
    // thread gives. b.DOC cannot be opened.
    void theWorkerGivesTheLinesOfARunOnTheCallingThread_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<int>("jobs");
        for (int jobs : {1, 2}) {
            const QByteArray j = QByteArray::number(jobs);
            QTest::newRow("word " + j) << int(engines::Operation::WordReplace) << jobs;
            QTest::newRow("excel " + j) << int(engines::Operation::ExcelReplace) << jobs;
            QTest::newRow("header " + j) << int(engines::Operation::HeaderFooter) << jobs;
        }
    }

    void theWorkerGivesTheLinesOfARunOnTheCallingThread() {
        QFETCH(int, operation);
        QFETCH(int, jobs);
        const auto op = engines::Operation(operation);
        ScriptedWord word(*registry);
        ScriptedExcel excel(*registry);
        word.documents.onCall("Open", scripted::computed([&](const scripted::Call& c, int) {
                                  if (c.positional.at(0).toString().ends_with("b.DOC"))
                                      return scripted::Reply(automation::Error(5174, "文件已损坏"));
                                  return scripted::Reply(word.doc);
                              }));
        for (const char* name : {"d.xls", "e.XLS"})
            writeFile(*docs / name, "x");
        const bool excelMode = op == engines::Operation::ExcelReplace;
        (excelMode ? form->Option2 : form->Option1)->click();
        openFolder(*docs / "words");
        openFolder(docs->path());
        form->Option5->setChecked(true);
        form->Text4->setText("页眉");
        form->Text1->setPlainText("旧");
        form->Text2->setPlainText("新");
        form->jobsActions[std::size_t(jobs - 1)]->trigger();
        QCOMPARE(form->jobs(), std::size_t(jobs));
        QPushButton* buttons[] = {form->Command1, form->Command2, form->Command3};
        buttons[operation]->click();
        waitForRun();

        // The same inputs (the texts and header settings are its defaults).
        engines_testing::FakeWindow calling;
        calling.modeValue = excelMode ? engines::Mode::ExcelXls : engines::Mode::WordDoc;
        calling.folder = form->Dir1->path().toStdString();
        for (int i = 0; i < form->File1->fileCount(); ++i)
            calling.files.push_back(form->File1->fileName(i));
        calling.header = true;
        if (op != engines::Operation::HeaderFooter) {
            calling.prescanner = &engines::filePrescan();
            calling.builtin = &engines::builtinEngines();
        }
        calling.run(op, *registry);
        QCOMPARE(int(calling.files.size()), excelMode ? 3 : 2);
        QVERIFY(calling.failures == (excelMode ? 0 : 1));
        QCOMPARE(form->logText(), calling.text3);
        // The window keeps the originals and says where in the journal.
        std::vector<std::string> entries = journalEntries();
        QVERIFY(!entries.empty() && entries.back().starts_with("本次运行修改前的 "));
        entries.pop_back();
        QCOMPARE(entries, calling.journal);
    }

    // With "包括子文件夹" the list shows the relative paths of the tree in
    // the order the command line's --recursive runs them, leaving out hidden
    // folders, the application folder and its backups; a run names them so.
    void subfolderListAgreesWithTheCommandLine() {
        TempFolder tree;
        const auto u = [](const char* s) { return text::pathFromUtf8(s); };
        const std::filesystem::path appInside = tree / u("程序");
        for (const std::filesystem::path& file :
             {tree / "a.doc", tree / u("合同") / "c.doc", tree / u("合同") / "2024" / "b.doc",
              tree / "z" / "d.doc", tree / ".hidden" / "h.doc", appInside / "p.doc",
              appInside / u("备份") / "k.doc"}) {
            std::filesystem::create_directories(file.parent_path());
            writeFile(file, "x");
        }
        QDir::setCurrent(qpath(tree.path()));
        form = std::make_unique<Form1>(appInside, *desktop, *registry, processes);
        form->Form_Load();
        ScriptedWord word(*registry);
        form->Option1->click();
        openFolder(tree / "z");
        openFolder(tree.path());
        QCOMPARE(shownFiles(), QStringList({"a.doc"}));
        form->Check2->click();
        QCOMPARE(shownFiles(), QStringList({"a.doc", "z/d.doc", "合同/c.doc", "合同/2024/b.doc"}));
        form->Text1->setPlainText("旧");
        form->Text2->setPlainText("新");
        form->Command1->click();
        waitForRun();

        std::ostringstream out, err;
        const cli::Environment env{*registry, appInside, false};
        cli::run({"word-replace", "--folder", text::pathToUtf8(tree.path()), "--find", "旧",
                  "--replace", "新", "--recursive"},
                 out, err, env);
        QString cliLines = QString::fromStdString(out.str());
        cliLines.replace("\n", "\r\n");
        QCOMPARE(cliLines.count("\r\n"), 4);
        QCOMPARE(QString::fromStdString(form->logText()), cliLines);
        form->Check2->click();
        QCOMPARE(shownFiles(), QStringList({"a.doc"}));
        form.reset();
        QDir::setCurrent(QDir::rootPath());
    }

    // The replacement table menu: a table is shown by name and size and its
    // pairs replace; clearing brings the typed texts back; a bad line is
    // named in a message and the boxes stay as they were.
    void replaceTableMenuLoadsShowsAndClears_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::newRow("table") << QByteArray("\xEF\xBB\xBF# 公司更名\n旧\t新\n\n甲公司\t乙公司\n")
                               << "";
        QTest::newRow("no tab") << QByteArray("旧\t新\n# x\n甲公司\n") << "第 3 行";
        QTest::newRow("empty find") << QByteArray("\t新\n") << "第 1 行";
    }

    void replaceTableMenuLoadsShowsAndClears() {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        ScriptedWord word(*registry);
        chooseWordMode();
        form->Text1->setPlainText("typed");
        const std::filesystem::path table = *docs / text::pathFromUtf8("替换表.txt");
        writeFile(table, content.toStdString());
        desktop->files = {table};
        form->importTable->trigger();
        QCOMPARE(desktop->fileDialogs.size(), std::size_t(1));

        if (!error.isEmpty()) {
            QCOMPARE(desktop->boxes.size(), std::size_t(1));
            const QString message = QString::fromStdString(desktop->boxes[0].text);
            QVERIFY2(message.contains(error) && message.contains("替换表.txt"),
                     qPrintable(message));
            QVERIFY(!form->replaceTable());
            QCOMPARE(form->text1(), std::string("typed"));
            QVERIFY(!form->clearTable->isEnabled());
            return;
        }
        QVERIFY(desktop->boxes.empty());
        QVERIFY2(form->replaceTable(), qPrintable(form->Text1->toPlainText()));
        QCOMPARE(form->replaceTable()->size(), std::size_t(2));
        QCOMPARE(form->Text1->toPlainText(), QString("替换表：替换表.txt"));
        QCOMPARE(form->Text2->toPlainText(), QString("共 2 组替换内容"));
        QVERIFY(form->Text1->isReadOnly() && form->Text2->isReadOnly());
        form->Command1->click();
        waitForRun();
        const auto calls = word.server.transcript();
        for (const char* find : {"call find.Execute(\"旧\")", "call find.Execute(\"甲公司\")"})
            QVERIFY2(std::find(calls.begin(), calls.end(), find) != calls.end(), find);

        form->clearTable->trigger();
        QVERIFY(!form->replaceTable());
        QCOMPARE(form->text1(), std::string("typed"));
        QVERIFY(!form->Text1->isReadOnly());
        QVERIFY(!form->clearTable->isEnabled());
    }

    // "撤销上次替换" asks once; Yes puts back the documents the last run
    // changed, on the worker thread, each line in the log box and journal.
    void undoPutsBackTheLastRunAfterAsking() {
        ScriptedWord word(*registry);
        // Word saves the replacement into the document it has open.
        std::string open;
        word.documents.onCall("Open", scripted::computed([&](const scripted::Call& c, int) {
                                  open = c.positional.at(0).toString();
                                  return scripted::Reply(word.doc);
                              }));
        word.documents.onCall("Close", scripted::computed([&](const scripted::Call& c, int) {
                                  if (c.positional.at(0).toBool())
                                      writeFile(text::pathFromUtf8(open), "新");
                                  return scripted::Reply(automation::Value());
                              }));
        chooseWordMode();
        form->Command1->click();
        waitForRun();
        QCOMPARE(readFile(*docs / "a.doc"), std::string("新"));
        const std::size_t logged = form->logText().size();

        desktop->answers = {platform::answer::No, platform::answer::Yes};
        form->undo->trigger();
        QVERIFY(!form->running());
        QCOMPARE(readFile(*docs / "a.doc"), std::string("新"));
        form->undo->trigger();
        QVERIFY(form->running() && !form->undo->isEnabled());
        waitForRun();
        QCOMPARE(desktop->boxes.size(), std::size_t(2));
        for (const char* name : {"a.doc", "b.DOC"})
            QCOMPARE(readFile(*docs / name), std::string("x"));
        const std::string lines = form->logText().substr(logged);
        QVERIFY2(lines.find("a.doc") != std::string::npos &&
                     lines.find("b.DOC") != std::string::npos,
                 lines.c_str());
        const std::vector<std::string> entries = journalEntries();
        QVERIFY(lines.ends_with(entries.back() + "\r\n"));
    }
};

QTEST_MAIN(Form1Test)
#include "main_window_test.moc"
