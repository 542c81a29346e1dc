// The main window: start state, modes, lists and buttons, combo pairing, menus.

#include "batchreplace/main_window.h"
#include "core/text/encoding.h"
#include "support/fake_desktop.h"
#include "support/fake_suites.h"
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
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

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
            server.provide(registry, "word.Application", word);
        }
        int creates() const {
            const auto lines = server.transcript();
            return int(std::count(lines.begin(), lines.end(), "create word.Application"));
        }
    };

    // word.doc chosen and the folder changed, so that Command1 and Command3
    // work on a.doc and b.DOC.
    void chooseWordMode() {
        form->Option1->click();
        openFolder(*docs / "words");
        openFolder(docs->path());
        QVERIFY(form->Command1->isEnabled());
    }

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
        QCOMPARE(form->logText(), std::string("a.doc 已替换内容\r\nb.DOC 已替换内容\r\n"));
        const auto calls = word.server.transcript();
        QVERIFY(std::find(calls.begin(), calls.end(), "call find.Execute(\"old\")") != calls.end());
        QVERIFY(std::any_of(calls.begin(), calls.end(),
                            [](const std::string& c) { return c.find("\"new\"") != c.npos; }));
        for (const std::string& c : calls)
            QVERIFY2(c.find('\t') == std::string::npos, c.c_str());
    }

    // Each result shows in the log box while the run goes on, and the box is
    // painted then; the window takes no input and starts no second run.
    void theLogShowsEachLineDuringTheRunWhileInputIsHeldOff() {
        ScriptedWord word(*registry);
        chooseWordMode();
        showActive();
        int paints = 0;
        struct PaintCounter : QObject {
            int& count;
            explicit PaintCounter(int& c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint)
                    ++count;
                return false;
            }
        } counter(paints);
        form->Text3->viewport()->installEventFilter(&counter);

        struct Seen {
            std::string log;
            int paints = 0;
            bool running = false;
            bool option2Checked = true;
            std::string text1;
            bool closed = true;
            int creates = 0;
        } seen;
        word.documents.onCall("Open", scripted::computed([&](const scripted::Call&, int n) {
                                  if (n == 1) {
                                      paints = 0;
                                  } else if (n == 2) {
                                      seen.log = form->logText();
                                      seen.paints = paints;
                                      seen.running = form->running();
                                      QTest::mouseClick(form->Option2, Qt::LeftButton);
                                      seen.option2Checked = form->Option2->isChecked();
                                      QTest::keyClicks(form->Text1, "x");
                                      seen.text1 = form->text1();
                                      seen.closed = form->close();
                                      form->Command1->click();
                                      seen.creates = word.creates();
                                  }
                                  return scripted::Reply(word.doc);
                              }));
        form->Text1->setPlainText("old");
        QTest::mouseClick(form->Command1, Qt::LeftButton);

        QCOMPARE(seen.log, std::string("a.doc 已替换内容\r\n"));
        QVERIFY2(seen.paints > 0, "the log box was not painted after the first line");
        QVERIFY(seen.running);
        QVERIFY(!seen.option2Checked);
        QCOMPARE(seen.text1, std::string("old"));
        QVERIFY(!seen.closed);
        QCOMPARE(seen.creates, 1);
        // After the run: one run, both lines, the window works again.
        QVERIFY(!form->running());
        QCOMPARE(word.creates(), 1);
        QCOMPARE(form->logText(), std::string("a.doc 已替换内容\r\nb.DOC 已替换内容\r\n"));
        QVERIFY(form->isVisible());
        QTest::mouseClick(form->Option2, Qt::LeftButton);
        QVERIFY(form->Option2->isChecked());
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
        scripted::Server server;
        auto& word = server.object("word");
        auto& sel = server.object("sel");
        auto& activeDoc = server.object("activeDoc");
        auto& section = server.object("section");
        auto& part = server.object("part");
        auto& window = server.object("win");
        auto& pane = server.object("pane");
        word.onGet("Documents", server.object("docs"))
            .onGet("ActiveWindow", window)
            .onGet("Selection", sel)
            .onGet("ActiveDocument", activeDoc);
        server.object("docs").onCall("Open", server.object("doc"));
        window.onGet("ActivePane", pane);
        pane.onGet("View", server.object("view"));
        sel.onGet("Font", server.object("font"))
            .onGet("ParagraphFormat", server.object("para"))
            .onGet("Fields", server.object("fields"))
            .onGet("Range", server.object("range"));
        activeDoc.onGet("Sections", section).onGet("ActiveWindow", window);
        section.onGet("Headers", part).onGet("Footers", part);
        part.onGet("Range", server.object("partRange"));
        server.object("partRange").onGet("Text", automation::Value("written"));
        server.provide(*registry, "Word.Application", word);

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
};

QTEST_MAIN(Form1Test)
#include "main_window_test.moc"
