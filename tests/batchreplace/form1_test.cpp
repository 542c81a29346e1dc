// The main window: start state, modes, lists and buttons, combo pairing, menus.

#include "batchreplace/form1.h"
#include "core/text/encoding.h"
#include "support/fake_desktop.h"
#include "support/fake_suites.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

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
#include <QTabWidget>
#include <QTest>
#include <QTimer>

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
        QCOMPARE(form->File1->pattern(), QString("*.doc"));
        QCOMPARE(form->Command1->text(), QString("文档内容替换"));
        QCOMPARE(form->text1(), std::string("请输入要替换原内容"));
        QCOMPARE(form->text2(), std::string("请输入新替换内容"));
        QVERIFY(form->Dir1->isEnabled() && form->Drive1->isEnabled());
        // The folder holds .doc files, but the button waits for a folder change.
        QVERIFY(!form->Command1->isEnabled());

        form->Option1->click(); // word.doc: the same
        QCOMPARE(form->File1->pattern(), QString("*.doc"));
        QCOMPARE(form->Command1->text(), QString("文档内容替换"));

        form->Option2->click();
        QCOMPARE(form->File1->pattern(), QString("*.xls"));
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
        form->journalLine = "a.doc 已替换内容";
        form->rz();
        bool found = false;
        for (const auto& day : std::filesystem::directory_iterator(*app / "Journal"))
            for (const auto& file : std::filesystem::directory_iterator(day.path()))
                found = readFile(file.path()).find(text::utf8ToAnsi(" a.doc 已替换内容\r\n")) !=
                        std::string::npos;
        QVERIFY(found);
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
