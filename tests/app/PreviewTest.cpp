// The preview window, driven through the main window's menus and its own controls.

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include "model/formats/MDL5.h"
#include "app/Main.h"
#include "app/Preview.h"
#include "model/Geometry.h"
#include "model/MDLClass.h"
#include "render/Render.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace {

QStringList logLines(const TMainForm& form)
{
    return form.StsMemo->toPlainText().split('\n');
}

// A window whose dialogs answer with the given path and whose error boxes are recorded.
struct Window {
    TMainForm Form;
    QString Answer;
    QStringList Errors;
    explicit Window(const QDateTime& time)
    {
        Form.ExecDialog = [this](QFileDialog&) { return Answer; };
        Form.ShowErrorBox = [this](const QString& caption, const QString& text) { Errors << caption + "|" + text; };
        Form.Clock = [time] { return time; };
    }
    void Open(const QString& path)
    {
        Answer = path;
        Form.OptionMDLLoadFromFile->trigger();
    }
    TPreviewForm& Preview()
    {
        Form.OptionPreview->trigger();
        return *Form.PreviewForm;
    }
    void Reduce(int level, int passes)
    {
        Form.LevelTrackBar->setValue(level);
        Form.ReduceNumSpinEdit->lineEdit()->setText(QString::number(passes));
        Form.OptionMDLReduce->trigger();
    }
};

void drag(QWidget* view, QPoint from, QPoint to)
{
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, to);
}

// What the core renderer draws of model with the preview's camera, frame and view size.
QImage rendered(const TMDLModel& model, const TPreviewForm& preview, const WorldBox& box)
{
    RenderOptions options;
    options.Width = preview.ReducedView->Image().width();
    options.Height = preview.ReducedView->Image().height();
    options.Frame = preview.FrameTrackBar->value();
    options.YawDegrees = preview.YawDegrees();
    options.PitchDegrees = preview.PitchDegrees();
    options.Zoom = preview.Zoom();
    const RGBAImage image = RenderFrame(model, options, box);
    return QImage(image.Pixels.data(), image.Width, image.Height, image.Width * 4, QImage::Format_RGBA8888).copy();
}

void wheel(QWidget* view, int angleDelta)
{
    const QPointF at = QPointF(view->rect().center());
    QWheelEvent turn(at, view->mapToGlobal(at), QPoint(), QPoint(0, angleDelta), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &turn);
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

    ScratchDir dir;
    const QDateTime fixedTime{QDate(2026, 3, 14), QTime(15, 9, 26)};

    QString path(const QString& name) const { return QString::fromStdString(dir.File(name.toStdString())); }
    QString stamp() const { return TMainForm::TimeStamp(fixedTime); }

private slots:
    void initTestCase()
    {
        QApplication::setApplicationName("Kelvane");
        // A settings file of this run's own, never written: the window keeps its default font.
        TMainForm::SettingsFile = path("kelvane.ini");
        TPreviewForm::SettingsFile = path("preview.ini");  // the palette is remembered here
        WriteFile(dir.File("octahedron.mdl"), MakeOctahedron().SaveToBytes());
        WriteFile(dir.File("torus.mdl"), MakeTorus(24, 16, 3).SaveToBytes());
        TMDLModel refused = MakeOctahedron();
        refused.Header.Ident = {'M', 'D', 'L', '7'};
        WriteFile(dir.File("refused.mdl"), refused.SaveToBytes());
    }

    void viewMenuAddsOnlyThePreview()
    {
        Window w(fixedTime);
        // File keeps its three items, without shortcuts; View holds the one addition.
        const QList<QAction*> menus = w.Form.MainMenu->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QString("File"));
        QCOMPARE(menus[1]->text(), QString("View"));
        QStringList fileItems;
        for (const QAction* item : w.Form.OptionFileMenu->actions()) {
            fileItems << item->text();
            QVERIFY(item->shortcut().isEmpty());
        }
        QCOMPARE(fileItems, QStringList({"Open MDL5", "Reduce", "Save MDL5"}));
        QCOMPARE(w.Form.OptionViewMenu->actions(), QList<QAction*>{w.Form.OptionPreview});
        QCOMPARE(w.Form.OptionPreview->text(), QString("Preview"));
        QCOMPARE(w.Form.OptionPreview->shortcut(), QKeySequence("Ctrl+P"));

        // Ctrl+P opens it, empty while there is no model, with nothing to apply;
        // it never blocks the main window, and closing it leaves that window as it was.
        w.Form.show();
        w.Form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.Form));
        const int linesBefore = logLines(w.Form).size();
        QTest::keyClick(&w.Form, Qt::Key_P, Qt::ControlModifier);
        QVERIFY(w.Form.PreviewForm);
        TPreviewForm& preview = *w.Form.PreviewForm;
        QVERIFY(preview.isVisible());
        QVERIFY(preview.isWindow());
        QVERIFY(!preview.isModal());
        QCOMPARE(preview.windowTitle(), QString("Preview"));
        QVERIFY(preview.ReducedView->Image().isNull());
        QVERIFY(!preview.ApplyButton->isEnabled());
        QCOMPARE(logLines(w.Form).size(), linesBefore);
        preview.close();
        QVERIFY(w.Form.isVisible());
        QVERIFY(w.Form.OptionMDLLoadFromFile->isEnabled());

        // An Open while it is closed shows when it opens again.
        w.Open(path("torus.mdl"));
        w.Form.OptionPreview->trigger();
        QCOMPARE(preview.windowTitle(), QString("Preview - torus.mdl"));
        QVERIFY(!preview.ReducedView->Image().isNull());
        QVERIFY(preview.ApplyButton->isEnabled());
    }

    void previewFollowsOpenReduceAndRefusedOpen()
    {
        Window w(fixedTime);
        w.Form.show();
        w.Open(path("torus.mdl"));
        TPreviewForm& preview = w.Preview();
        QCOMPARE(preview.windowTitle(), QString("Preview - torus.mdl"));
        QCOMPARE(preview.OriginalCountLabel->text(), QString("Opened: 384 vertices, 768 triangles"));
        QCOMPARE(preview.ReducedCountLabel->text(), QString("Now: 384 vertices, 768 triangles"));
        QVERIFY(!preview.OriginalView->Image().isNull());

        // The left side is the core renderer's picture of the file, pixel for pixel,
        // framed on the box of both models and drawn with the command line's camera.
        TMDLModel torus;
        QVERIFY(torus.LoadFromFile(dir.File("torus.mdl")));
        QCOMPARE(preview.OriginalView->Image(), rendered(torus, preview, AnimationBox(torus)));

        // Before any reduction both sides are one model under one camera: the same
        // pixels through a drag, a wheel turn and a change of frame.
        const QImage first = preview.ReducedView->Image();
        QCOMPARE(preview.OriginalView->Image(), first);
        drag(preview.OriginalView, QPoint(50, 50), QPoint(110, 70));
        wheel(preview.ReducedView, 240);
        QVERIFY(preview.ReducedView->Image() != first);
        QCOMPARE(preview.OriginalView->Image(), preview.ReducedView->Image());
        preview.FrameTrackBar->setValue(2);
        QCOMPARE(preview.FrameTrackBar->maximum(), 2);
        QCOMPARE(preview.OriginalView->Image(), preview.ReducedView->Image());
        QVERIFY(preview.DeviationLabel->text().startsWith("Deviation in frame 2: Hausdorff 0"));
        QTest::mouseClick(preview.PlayButton, Qt::LeftButton);
        QVERIFY(preview.PlayTimer->isActive());
        preview.PlayTimerTimer();  // past the last frame comes the first
        QCOMPARE(preview.FrameTrackBar->value(), 0);
        QCOMPARE(preview.OriginalView->Image(), preview.ReducedView->Image());
        QTest::mouseClick(preview.PlayButton, Qt::LeftButton);
        QVERIFY(!preview.PlayTimer->isActive());

        // A Reduce command changes the right side only, and its measured deviation.
        const QImage opened = preview.OriginalView->Image();
        const QImage beforeReduce = preview.ReducedView->Image();
        const QString deviationBefore = preview.DeviationLabel->text();
        w.Reduce(4, 1);
        QCOMPARE(preview.OriginalCountLabel->text(), QString("Opened: 384 vertices, 768 triangles"));
        QCOMPARE(preview.ReducedCountLabel->text(),
                 QString("Now: %1 vertices, %2 triangles").arg(w.Form.Model->Header.NumVerts).arg(w.Form.Model->Header.NumTris));
        QVERIFY2(w.Form.Model->Header.NumTris < 768 && w.Form.Model->Header.NumTris > 0, qPrintable(preview.ReducedCountLabel->text()));
        QCOMPARE(preview.OriginalView->Image(), opened);
        QVERIFY(preview.ReducedView->Image() != beforeReduce);
        WorldBox bothBoxes = AnimationBox(torus);  // one camera for both sides
        bothBoxes.Add(AnimationBox(*w.Form.Model));
        QCOMPARE(preview.ReducedView->Image(), rendered(*w.Form.Model, preview, bothBoxes));
        QVERIFY(preview.DeviationLabel->text() != deviationBefore);
        QVERIFY2(preview.DeviationLabel->text().contains("Largest over all frames"), qPrintable(preview.DeviationLabel->text()));

        // A new Open replaces both sides; a refused one leaves nothing to show.
        w.Open(path("octahedron.mdl"));
        QCOMPARE(preview.windowTitle(), QString("Preview - octahedron.mdl"));
        QCOMPARE(preview.OriginalCountLabel->text(), QString("Opened: 6 vertices, 8 triangles"));
        QCOMPARE(preview.ReducedCountLabel->text(), QString("Now: 6 vertices, 8 triangles"));
        QCOMPARE(preview.FrameTrackBar->maximum(), int(w.Form.Model->Frames.size()) - 1);
        QCOMPARE(preview.OriginalView->Image(), preview.ReducedView->Image());
        w.Open(path("refused.mdl"));
        QCOMPARE(preview.windowTitle(), QString("Preview"));
        QVERIFY(preview.OriginalView->Image().isNull() && preview.ReducedView->Image().isNull());
        QCOMPARE(preview.ReducedCountLabel->text(), QString());
        QCOMPARE(preview.DeviationLabel->text(), QString());
        QVERIFY(!preview.ApplyButton->isEnabled());
    }

    void applyReducesTheModelThatSaveWrites()
    {
        Window w(fixedTime);
        w.Open(path("torus.mdl"));
        TPreviewForm& preview = w.Preview();
        QVERIFY(preview.ApplyButton->isEnabled());
        preview.TargetSpinBox->setValue(300);
        QCOMPARE(preview.TargetTrackBar->value(), 300);

        const int before = logLines(w.Form).size();
        QTest::mouseClick(preview.ApplyButton, Qt::LeftButton);
        const int32_t after = w.Form.Model->Triangles.Count;
        QVERIFY2(after <= 300 && after >= 298, qPrintable(QString::number(after)));
        // The result's counts and the report, as the command line prints them, about the shell's line.
        const QStringList applied = logLines(w.Form).mid(before);
        QCOMPARE(applied.size(), 3);
        QCOMPARE(applied[0], QString::fromStdString(w.Form.Model->ModelInfoLine()));
        QCOMPARE(applied[1], stamp() + QString(": Quadric reduction: 768 -> %1 triangles.").arg(after));
        QVERIFY2(applied[2].startsWith("DEVIATION: Hausdorff ") && applied[2].endsWith(QString("768 -> %1 triangles").arg(after)),
                 qPrintable(applied[2]));
        QVERIFY(IsConsistent(*w.Form.Model));
        QCOMPARE(preview.ReducedCountLabel->text(), QString("Now: %1 vertices, %2 triangles").arg(w.Form.Model->Header.NumVerts).arg(after));
        QCOMPARE(preview.OriginalCountLabel->text(), QString("Opened: 384 vertices, 768 triangles"));
        QVERIFY(preview.DeviationLabel->text().contains('%'));
        QCOMPARE(preview.TargetSpinBox->maximum(), after);

        // Save writes what Apply left.
        w.Answer = path("applied.mdl");
        w.Form.OptionMDLSave->trigger();
        TMDLModel saved;
        QVERIFY(saved.LoadFromFile(dir.File("applied.mdl")));
        QCOMPARE(saved.Triangles.Count, after);
    }

    void paletteIsChosenFromItsMenuRememberedApartAndCheckedForSize()
    {
        // An 8-bit skin whose only index maps to pure green in the palette.
        TMDLModel model = MakeOctahedron();
        model.Skins = {MakeSkin(0, 2, 2)};
        model.Skins[0].Pixels.assign(4, 7);
        model.Header.NumSkins = 1;
        SetPositionTransform(model, {1, 1, 1}, {0, 0, 0});
        WriteFile(dir.File("indexed.mdl"), model.SaveToBytes());
        std::vector<uint8_t> palette(kPaletteBytes, 0);
        palette[3 * 7 + 1] = 255;
        WriteFile(dir.File("green.lmp"), palette);
        WriteFile(dir.File("short.lmp"), std::vector<uint8_t>(700, 0));

        Window w(fixedTime);
        w.Open(path("indexed.mdl"));
        TPreviewForm& preview = w.Preview();
        QStringList items;
        for (const QAction* item : preview.OptionViewMenu->actions()) items << item->text();
        QCOMPARE(items, QStringList({"Palette...", "No Palette"}));
        const auto greenShown = [&preview] {
            const QImage image = preview.ReducedView->Image();
            const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
            return centre.green() > 2 * centre.red() && centre.green() > 2 * centre.blue();
        };
        QVERIFY(!greenShown());
        QStringList errors;
        preview.ShowErrorBox = [&errors](const QString&, const QString& text) { errors << text; };
        preview.ExecDialog = [this](QFileDialog&) { return path("green.lmp"); };
        preview.OptionPalette->trigger();
        QVERIFY(greenShown());
        QVERIFY(!preview.LoadPalette(path("short.lmp")));  // refused; the last palette stays
        QCOMPARE(errors.size(), 1);
        QVERIFY(greenShown());

        // A new window draws with the remembered file; the main window's settings file is never written.
        TPreviewForm again;
        QCOMPARE(again.PalettePath(), path("green.lmp"));
        QVERIFY(!QFileInfo::exists(path("kelvane.ini")));
        preview.OptionNoPalette->trigger();
        QVERIFY(!greenShown());
        QCOMPARE(TPreviewForm().PalettePath(), QString());
    }

    void closingTheMainWindowDuringAPassClosesThePreviewAfterIt()
    {
        auto* w = new Window(fixedTime);
        w->Form.show();
        w->Open(path("torus.mdl"));
        TPreviewForm& preview = w->Preview();
        bool applyLocked = false;
        bool appliedDuringPass = false;
        QTimer::singleShot(0, &w->Form, [&] {
            applyLocked = w->Form.IsBusy() && !preview.ApplyButton->isEnabled();
            const int lines = logLines(w->Form).size();
            preview.ApplyButtonClick();  // refused while the pass runs
            appliedDuringPass = logLines(w->Form).size() != lines;
            w->Form.close();
        });
        w->Reduce(10, 5);
        QVERIFY(applyLocked);
        QVERIFY(!appliedDuringPass);
        QVERIFY(!w->Form.isVisible());
        QVERIFY(!preview.isVisible());
        preview.ApplyButtonClick();  // nothing may use the freed container
        QVERIFY(!w->Form.Model);
        delete w;
    }

    void survivesEmptyAndDegenerateModels_data()
    {
        QTest::addColumn<int>("row");
        const char* names[] = {"no frames or triangles", "no triangles", "every vertex on one point", "random 33",
                               "random 44", "random 55", "random 66"};
        for (int row = 0; row < 7; ++row) QTest::newRow(names[row]) << row;
    }

    void survivesEmptyAndDegenerateModels()
    {
        QFETCH(int, row);
        // The random models have open borders, doubled and degenerate
        // triangles, and sometimes no frames or triangles.
        const std::vector<FrameVert> point(3, Vert(7, 7, 7));
        const TMDLModel model = row == 0   ? MakeModel({}, {}, {})
                                : row == 1 ? MakeModel({{Vert(0, 0, 0), Vert(9, 0, 0)}, {Vert(0, 9, 0), Vert(9, 9, 0)}}, {}, {})
                                : row == 2 ? MakeModel({point, point}, {Tri(0, 1, 2), Tri(2, 1, 0)}, {{}, {}, {}})
                                           : MakeRandomModel(uint32_t(row * 11));
        const QString file = path(QString("degenerate%1.mdl").arg(row));
        WriteFile(file.toStdString(), model.SaveToBytes());

        Window w(fixedTime);
        w.Form.show();
        w.Open(file);
        QVERIFY(w.Form.OptionMDLSave->isEnabled());
        TPreviewForm& preview = w.Preview();
        QVERIFY(!preview.DeviationLabel->text().isEmpty());  // figures or the reason there are none
        preview.FrameTrackBar->setValue(preview.FrameTrackBar->maximum());
        preview.WireCheckBox->setChecked(true);
        preview.SkinCheckBox->setChecked(false);
        drag(preview.ReducedView, QPoint(10, 10), QPoint(200, -300));
        wheel(preview.OriginalView, -2400);
        QTest::mouseClick(preview.PlayButton, Qt::LeftButton);
        for (int tick = 0; tick < 3; ++tick) preview.PlayTimerTimer();
        preview.TargetSpinBox->setValue(0);
        QTest::mouseClick(preview.ApplyButton, Qt::LeftButton);
        w.Reduce(10, 1);
        QVERIFY(IsConsistent(*w.Form.Model));
        QVERIFY(w.Errors.isEmpty());
        QVERIFY(preview.FrameTrackBar->value() <= preview.FrameTrackBar->maximum());
        QCOMPARE(preview.windowTitle(), "Preview - " + QFileInfo(file).fileName());
    }
};

QTEST_MAIN(PreviewTest)
#include "PreviewTest.moc"
