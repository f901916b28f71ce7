// The window driven through its real menu actions and controls.

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/Main.h"
#include "app/Settings.h"
#include "model/MDLClass.h"
#include "model/ByteIO.h"
#include "reduce/Reduce.h"
#include "tests/support/ModelBuilder.h"

namespace {

const QString kOpenFailed =
    ": An model openning error has been occured. Please make sure the input model is correct format and try again.";

QStringList logLines(const TMainForm& form)
{
    return form.StsMemo->toPlainText().split('\n');
}

void writeModel(const QString& path, const TMDLModel& model)
{
    const std::vector<uint8_t> bytes = model.SaveToBytes();
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString settingsFile()
{
    return TMainForm::SettingsFile;
}

void writeSettings(const QByteArray& text)
{
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    const QDateTime fixedTime{QDate(2026, 3, 14), QTime(15, 9, 26)};

    // A window whose dialogs answer with the next of the given paths and
    // whose error boxes are recorded instead of shown.
    struct Window {
        TMainForm Form;
        QStringList Answers;
        QStringList Errors;
        explicit Window(const QDateTime& time)
        {
            Form.ExecDialog = [this](QFileDialog&) { return Answers.isEmpty() ? QString() : Answers.takeFirst(); };
            Form.ShowErrorBox = [this](const QString& caption, const QString& text) { Errors << caption + "|" + text; };
            Form.Clock = [time] { return time; };
        }
        QStringList NewLines(int before) const { return logLines(Form).mid(before); }
        bool MenuIs(bool open, bool reduce, bool save) const
        {
            return Form.OptionMDLLoadFromFile->isEnabled() == open && Form.OptionMDLReduce->isEnabled() == reduce &&
                   Form.OptionMDLSave->isEnabled() == save;
        }
    };

    QString stamp() const { return TMainForm::TimeStamp(fixedTime); }
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QApplication::setApplicationName("Kelvane");
        QVERIFY(dir.isValid());
        // Not the file beside the program: the offscreen and X runs go side by side.
        TMainForm::SettingsFile = path("kelvane.ini");
        writeModel(path("octahedron.mdl"), MakeOctahedron());
        writeModel(path("torus.mdl"), MakeTorus(24, 16, 3));
        TMDLModel refused = MakeOctahedron();
        refused.Header.Ident = {'M', 'D', 'L', '7'};
        writeModel(path("refused.mdl"), refused);
    }

    void cleanup() { QFile::remove(settingsFile()); }

    void startsWithTheWrittenLogMenuAndControls()
    {
        Window w(fixedTime);
        const QStringList lines = logLines(w.Form);
        QCOMPARE(lines.size(), 16);
        QCOMPARE(lines[0], QString(92, '-'));
        QCOMPARE(lines[1], QString("Kelvane"));
        QCOMPARE(lines[5], QString("Currently this software can only reduce 3D GameStudio MDL5"));
        QCOMPARE(lines[7], QString());
        QCOMPARE(lines[9], QString("unsurpported skins or mipmaps are not supported in this"));
        QCOMPARE(lines[14], QString("Backup your original models before using this software."));
        QCOMPARE(lines[15], QString(92, '-'));
        QCOMPARE(w.Form.windowTitle(), QString("Kelvane Ver0.92"));
        // --version and the package give the project's version: the title names the same.
        QCOMPARE(QString(KELVANE_VERSION).section('.', 0, 1), QString("0.92"));
        QVERIFY(w.MenuIs(true, false, false));
        const QList<QAction*> items = w.Form.OptionFileMenu->actions();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0]->text(), QString("Open MDL5"));
        QCOMPARE(items[1]->text(), QString("Reduce"));
        QCOMPARE(items[2]->text(), QString("Save MDL5"));
        QCOMPARE(w.Form.MainMenu->actions().size(), 2);  // File, and View with the preview
        QCOMPARE(w.Form.ReductionLevelLabel->text(), QString("0"));
        QCOMPARE(w.Form.ReduceNumSpinEdit->text(), QString("1"));
        QCOMPARE(w.Form.StatusText(), QString());
        QCOMPARE(w.Form.font().family(), QString("Arial"));
        QCOMPARE(w.Form.font().pointSize(), 9);
        QCOMPARE(w.Form.OpenDialog->nameFilters(), QStringList{"3D GameStudio MDL5 (*.mdl)"});
        QCOMPARE(w.Form.SaveDialog->defaultSuffix(), QString("mdl"));
        QCOMPARE(QDir(w.Form.OpenDialog->directory()).absolutePath(), QCoreApplication::applicationDirPath());
    }

    void openEnablesCommandsOnlyWhileTheModelIsUsable()
    {
        Window w(fixedTime);
        int before = logLines(w.Form).size();
        w.Answers = {QString()};  // cancelled: nothing happens
        w.Form.OptionMDLLoadFromFile->trigger();
        QCOMPARE(logLines(w.Form).size(), before);
        QVERIFY(w.MenuIs(true, false, false));

        w.Answers = {path("refused.mdl")};  // a first Open that is refused
        w.Form.OptionMDLLoadFromFile->trigger();
        QCOMPARE(w.NewLines(before),
                 QStringList({stamp() + ": Opening MDL..",
                              "ERROR:Unsupported MDL format.(This only supports MDL5,8or16or24or32bit Skin with NO MIPMAP.)",
                              "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.", stamp() + kOpenFailed}));
        QVERIFY(w.MenuIs(true, false, false));

        before = logLines(w.Form).size();
        w.Answers = {path("octahedron.mdl")};
        w.Form.OptionMDLLoadFromFile->trigger();
        QCOMPARE(w.NewLines(before), QStringList({stamp() + ": Opening MDL..", "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.",
                                                  stamp() + ": Done. Now you can reduce it!"}));
        QVERIFY(w.MenuIs(true, true, true));

        w.Answers = {path("refused.mdl")};  // refused after a good one: nothing to reduce or save
        w.Form.OptionMDLLoadFromFile->trigger();
        QVERIFY(w.MenuIs(true, false, false));
        QCOMPARE(logLines(w.Form).last(), stamp() + kOpenFailed);

        w.Answers = {path("octahedron.mdl"), path("missing.mdl")};  // then an error of the file layer
        w.Form.OptionMDLLoadFromFile->trigger();
        before = logLines(w.Form).size();
        w.Form.OptionMDLLoadFromFile->trigger();
        QCOMPARE(w.NewLines(before), QStringList{stamp() + ": Opening MDL.."});
        QCOMPARE(w.Errors, QStringList{"Kelvane|Cannot open \"" + path("missing.mdl") + "\": No such file or directory."});
        QVERIFY(w.MenuIs(true, false, false));
    }

    void modelNamedAtStartOpensAsTheMenuWould()
    {
        // What `kelvane MODEL` does once the window shows: the lines, the menu and the
        // error box of Open MDL5, and the dialog proposing that file next time.
        Window w(fixedTime);
        int before = logLines(w.Form).size();
        w.Form.OpenModel(path("octahedron.mdl"));
        QCOMPARE(w.NewLines(before), QStringList({stamp() + ": Opening MDL..", "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.",
                                                  stamp() + ": Done. Now you can reduce it!"}));
        QVERIFY(w.MenuIs(true, true, true));
        QCOMPARE(QDir(w.Form.OpenDialog->directory()).absolutePath(), QDir(dir.path()).absolutePath());
        QCOMPARE(w.Form.OpenDialog->selectedFiles().value(0), path("octahedron.mdl"));

        Window missing(fixedTime);
        before = logLines(missing.Form).size();
        missing.Form.OpenModel(path("missing.mdl"));
        QCOMPARE(missing.NewLines(before), QStringList{stamp() + ": Opening MDL.."});
        QCOMPARE(missing.Errors, QStringList{"Kelvane|Cannot open \"" + path("missing.mdl") + "\": No such file or directory."});
        QVERIFY(missing.MenuIs(true, false, false));
    }

    void reduceRunsEachPassAtTheCurrentLevelAndSaves()
    {
        Window w(fixedTime);
        w.Answers = {path("torus.mdl")};
        w.Form.OptionMDLLoadFromFile->trigger();
        w.Form.ReduceNumSpinEdit->lineEdit()->selectAll();
        QTest::keyClicks(w.Form.ReduceNumSpinEdit, "3");
        w.Form.LevelTrackBar->setValue(4);
        QCOMPARE(w.Form.ReductionLevelLabel->text(), QString("4"));

        // What the container itself logs for the same three passes.
        TMDLModel expected;
        std::vector<std::string> coreLines;
        QVERIFY(expected.LoadFromFile(path("torus.mdl").toStdString()));
        expected.LogLines = [&coreLines](const std::string& line) { coreLines.push_back(line); };
        for (int pass = 0; pass < 3; ++pass) expected.Reduce(NormalLimitForLevel(4), kUVLimitTexels);

        const int before = logLines(w.Form).size();
        w.Form.OptionMDLReduce->trigger();
        QStringList wanted;
        for (int pass = 0; pass < 3; ++pass)
            wanted << stamp() + ": Reducing MDL.." << QString::fromStdString(coreLines[std::size_t(2 * pass)])
                   << QString::fromStdString(coreLines[std::size_t(2 * pass + 1)]);
        wanted << stamp() + ": Done.";
        QCOMPARE(w.NewLines(before), wanted);
        QCOMPARE(w.Form.StatusText(), QString());
        QVERIFY(w.MenuIs(true, true, true));

        // The saved file is what the command-line tool writes for the same level and passes.
        w.Answers = {path("window.mdl")};
        w.Form.OptionMDLSave->trigger();
        QCOMPARE(logLines(w.Form).mid(logLines(w.Form).size() - 2), QStringList({stamp() + ": Saving MDL..", stamp() + ": Done."}));
        QProcess cli;
        cli.start(KELVANE_CLI, {"reduce", "--level", "4", "--passes", "3", path("torus.mdl"), "-o", path("cli.mdl")});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(readBytes(path("window.mdl")), readBytes(path("cli.mdl")));

        // An error of the file layer while saving: the box, no ": Done.", the window goes on.
        w.Answers = {path("no-folder/out.mdl")};
        w.Form.OptionMDLSave->trigger();
        QCOMPARE(logLines(w.Form).last(), stamp() + ": Saving MDL..");
        QCOMPARE(w.Errors.size(), 1);
        QVERIFY(w.Errors[0].startsWith("Kelvane|Cannot create a file to save \"" + path("no-folder/out.mdl") + "\""));
        QVERIFY(w.MenuIs(true, true, true));
    }

    void passCountFieldFollowsItsTextUntilFocusLeaves()
    {
        Window w(fixedTime);
        w.Form.show();
        w.Form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.Form));
        w.Answers = {path("octahedron.mdl")};
        w.Form.OptionMDLLoadFromFile->trigger();
        TSpinEdit* field = w.Form.ReduceNumSpinEdit;
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        field->lineEdit()->selectAll();
        QTest::keyClicks(field, "0a");  // the letter is refused
        QCOMPARE(field->text(), QString("0"));

        // "0" with the focus still in the field: no pass, only ": Done."
        const int before = logLines(w.Form).size();
        w.Form.OptionMDLReduce->trigger();
        QCOMPARE(w.NewLines(before), QStringList{stamp() + ": Done."});

        w.Form.LevelTrackBar->setFocus();  // leaving the field brings it into range
        QTRY_COMPARE(field->text(), QString("1"));
        field->stepBy(-1);
        QCOMPARE(field->text(), QString("1"));
        field->lineEdit()->setText("99");
        field->stepBy(1);
        QCOMPARE(field->text(), QString("99"));
        field->lineEdit()->setText("-");
        QCOMPARE(field->Value(), 1);
        field->lineEdit()->setText("-5");
        QCOMPARE(field->Value(), -5);
        field->lineEdit()->setText("123");  // at most two characters
        QCOMPARE(field->text().size(), 2);
    }

    void closeDuringAPassWaitsForTheCommandToEnd()
    {
        auto* w = new Window(fixedTime);
        w->Form.show();
        w->Answers = {path("torus.mdl")};
        w->Form.OptionMDLLoadFromFile->trigger();
        w->Form.ReduceNumSpinEdit->lineEdit()->setText("5");
        w->Form.LevelTrackBar->setValue(10);

        bool ranDuringPass = false;
        bool menuWasLocked = false;
        bool progressShown = false;
        int linesBeforeOpen = 0;
        QTimer::singleShot(0, &w->Form, [&] {
            ranDuringPass = w->Form.IsBusy();
            progressShown = w->Form.StatusText().endsWith("% Complete(Phase1/2)") || w->Form.StatusText().endsWith("% Complete(Phase2/2)");
            menuWasLocked = w->MenuIs(false, false, false);
            linesBeforeOpen = logLines(w->Form).size();
            w->Form.OptionMDLLoadFromFileClick();  // refused while the pass runs
            QVERIFY(logLines(w->Form).size() == linesBeforeOpen);
            w->Form.close();
        });
        w->Form.OptionMDLReduce->trigger();
        QVERIFY(ranDuringPass);
        QVERIFY(progressShown);
        QVERIFY(menuWasLocked);
        QCOMPARE(logLines(w->Form).filter(": Reducing MDL..").size(), 5);
        QCOMPARE(logLines(w->Form).last(), stamp() + ": Done.");
        QVERIFY(!w->Form.isVisible());
        QVERIFY(!w->Form.Model);
        QVERIFY(w->MenuIs(false, false, false));
        w->Form.OptionMDLReduceClick();  // nothing may use the freed container
        delete w;
    }

    void settingsFileSetsTheFont_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("size");
        QTest::newRow("hex 0x") << QByteArray("[FONT]\nNAME=Courier\nSIZE=0x0C\n") << "Courier" << 12;
        QTest::newRow("hex $, any case") << QByteArray("[font]\nname = \"Courier\"\r\nsize=$10\r\n") << "Courier" << 16;
        QTest::newRow("not a number") << QByteArray("[FONT]\nSIZE=abc\n") << "Arial" << 9;
        QTest::newRow("past 32 bits") << QByteArray("[FONT]\nSIZE=2147483648\n") << "Arial" << 9;
        QTest::newRow("empty name") << QByteArray("[FONT]\nNAME=\nSIZE=11\n") << "Arial" << 11;
        QTest::newRow("long name") << QByteArray("[FONT]\nNAME=" + QByteArray(40, 'N') + "\n") << QString(31, 'N') << 9;
        QTest::newRow("other section") << QByteArray("[OTHER]\nNAME=Courier\nSIZE=20\n") << "Arial" << 9;
    }

    void settingsFileSetsTheFont()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, family);
        QFETCH(int, size);
        writeSettings(text);
        Window w(fixedTime);
        QCOMPARE(w.Form.font().family(), family);
        QCOMPARE(w.Form.font().pointSize(), size);
    }

    void settingsNumbersReadAsThePlatformReadsThem()
    {
        QCOMPARE(ParseIniInteger("  42", 9), 42);
        QCOMPARE(ParseIniInteger("+7", 9), 7);
        QCOMPARE(ParseIniInteger("-2147483648", 9), -2147483647 - 1);
        QCOMPARE(ParseIniInteger("-2147483649", 9), 9);
        QCOMPARE(ParseIniInteger("xff", 9), 255);
        QCOMPARE(ParseIniInteger("0XFFFFFFFF", 9), -1);
        QCOMPARE(ParseIniInteger("$100000000", 9), 9);
        QCOMPARE(ParseIniInteger("-$10", 9), 9);
        QCOMPARE(ParseIniInteger("12pt", 9), 9);
        QCOMPARE(ParseIniInteger("", 9), 9);
        QCOMPARE(SettingsFileFor("/opt/k/kelvane"), QString("/opt/k/kelvane.ini"));
        QCOMPARE(SettingsFileFor("/opt/k.d/kelvane.exe"), QString("/opt/k.d/kelvane.ini"));
    }

    void timeStampsAndErrorTexts()
    {
        const QLocale locale;
        const QDateTime midnight(QDate(2026, 1, 2), QTime(0, 0, 0));
        QCOMPARE(TMainForm::TimeStamp(midnight), locale.toString(midnight.date(), QLocale::ShortFormat));
        const QString afternoon = TMainForm::TimeStamp(fixedTime);
        QVERIFY(afternoon.startsWith(locale.toString(fixedTime.date(), QLocale::ShortFormat) + " "));
        QVERIFY2(afternoon.contains("09") && afternoon.contains("26"), qPrintable(afternoon));  // minutes and seconds
        QCOMPARE(TMainForm::ErrorBoxText("Disk full"), QString("Disk full."));
        QCOMPARE(TMainForm::ErrorBoxText("Error 5"), QString("Error 5."));
        QCOMPARE(TMainForm::ErrorBoxText("Done."), QString("Done."));
        QCOMPARE(TMainForm::ErrorBoxText("Stop!"), QString("Stop!"));
        QCOMPARE(TMainForm::ErrorBoxText("(code 5)"), QString("(code 5)"));
        QCOMPARE(TMainForm::ErrorBoxText(""), QString(""));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
