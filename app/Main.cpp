#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <thread>

#include "app/Preview.h"
#include "app/Settings.h"
#include "model/AnyModel.h"
#include "model/MDLClass.h"
#include "pipeline/Pipeline.h"
#include "pipeline/ReportLines.h"
#include "reduce/Reduce.h"

TMainForm* MainForm = nullptr;

namespace {

const QString kDashLine = QString(92, '-');
const QString kDialogFilter = QStringLiteral("3D GameStudio MDL5 (*.mdl)");

// The pass-count field holds at most this many characters.
constexpr int kPassCountLength = 2;

// A small picture of a reduced mesh: four triangles in 16 plain colours.
QIcon kelvaneIcon()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setPen(QPen(Qt::darkBlue, 1));
    const QPoint corners[] = {{2, 29}, {16, 2}, {29, 29}, {16, 20}};
    painter.setBrush(Qt::cyan);
    painter.drawPolygon(QPolygon({corners[0], corners[1], corners[3]}));
    painter.setBrush(Qt::blue);
    painter.drawPolygon(QPolygon({corners[1], corners[2], corners[3]}));
    painter.setBrush(Qt::darkCyan);
    painter.drawPolygon(QPolygon({corners[0], corners[2], corners[3]}));
    return QIcon(picture);
}

QString defaultExecDialog(QFileDialog& dialog)
{
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first() : QString();
}

// Lets a file dialog propose the chosen name next time.
void rememberChoice(QFileDialog& dialog, const QString& path)
{
    dialog.setDirectory(QFileInfo(path).absolutePath());
    dialog.selectFile(QFileInfo(path).fileName());
}

// Runs a file dialog and, after a choice, lets it propose that name next time.
QString chooseFile(const std::function<QString(QFileDialog&)>& exec, QFileDialog& dialog)
{
    const QString path = exec(dialog);
    if (!path.isEmpty()) rememberChoice(dialog, path);
    return path;
}

// A copy for the preview that writes nowhere: the log and the status bar
// belong to the window's own model.
std::shared_ptr<const TMDLModel> detachedCopy(const TMDLModel& model)
{
    auto copy = std::make_shared<TMDLModel>(model);
    copy->LogLines = nullptr;
    copy->ProgressBar = nullptr;
    return copy;
}

}  // namespace

// ---- TSpinEdit ----

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    lineEdit()->setMaxLength(kPassCountLength);
    lineEdit()->setText(QString::number(kMinValue));
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
}

std::optional<int> TSpinEdit::WholeNumber() const
{
    const QString text = lineEdit()->text();
    bool isNumber = false;
    const int value = text.toInt(&isNumber, 10);
    // toInt takes "+5" and "-5" but also blanks, which the field's number has none of.
    if (!isNumber || text.contains(' ')) return std::nullopt;
    return value;
}

int TSpinEdit::Value() const
{
    return WholeNumber().value_or(kMinValue);
}

void TSpinEdit::stepBy(int steps)
{
    const int value = std::clamp(Value() + steps, kMinValue, kMaxValue);
    lineEdit()->setText(QString::number(value));
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    // Both arrows always work; the result is brought into range afterwards.
    return StepUpEnabled | StepDownEnabled;
}

QValidator::State TSpinEdit::validate(QString&, int&) const
{
    // Typing is filtered key by key; pasted text is taken as it comes.
    return QValidator::Acceptable;
}

void TSpinEdit::fixup(QString&) const {}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool producesText = !text.isEmpty() && text[0].isPrint();
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool allowedCharacter =
        producesText && text.size() == 1 &&
        (text[0].isDigit() || text[0] == '+' || text[0] == '-' || text == QLocale().decimalPoint());
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    if (enter || (producesText && !allowedCharacter && !shortcut)) {
        QApplication::beep();
        event->accept();
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    // A number outside the range takes the nearer bound; other text stays.
    if (const std::optional<int> value = WholeNumber(); value && (*value < kMinValue || *value > kMaxValue))
        lineEdit()->setText(QString::number(std::clamp(*value, kMinValue, kMaxValue)));
    QAbstractSpinBox::focusOutEvent(event);
}

// ---- TMainForm ----

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    ExecDialog = defaultExecDialog;
    ShowErrorBox = [this](const QString& caption, const QString& text) { QMessageBox::critical(this, caption, text); };
    Clock = [] { return QDateTime::currentDateTime(); };
    BuildLayout();
    FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildLayout()
{
    setWindowTitle("Kelvane Ver0.92");
    setWindowIcon(kelvaneIcon());
    resize(537, 433);
    QFont font("Arial");
    font.setPointSize(9);
    setFont(font);

    OpenDialog = new QFileDialog(this);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
    SaveDialog = new QFileDialog(this);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite);
    for (QFileDialog* dialog : {OpenDialog, SaveDialog}) {
        dialog->setNameFilter(kDialogFilter);
        dialog->setDefaultSuffix("mdl");
    }

    // Menu: one File menu, no shortcuts; Reduce and Save wait for a model.
    MainMenu = menuBar();
    MainMenu->setFont(QApplication::font());
    OptionFileMenu = MainMenu->addMenu("File");
    OptionMDLLoadFromFile = OptionFileMenu->addAction("Open MDL5");
    OptionMDLReduce = OptionFileMenu->addAction("Reduce");
    OptionMDLSave = OptionFileMenu->addAction("Save MDL5");
    OptionMDLReduce->setEnabled(false);
    OptionMDLSave->setEnabled(false);
    connect(OptionMDLLoadFromFile, &QAction::triggered, this, &TMainForm::OptionMDLLoadFromFileClick);
    connect(OptionMDLReduce, &QAction::triggered, this, &TMainForm::OptionMDLReduceClick);
    connect(OptionMDLSave, &QAction::triggered, this, &TMainForm::OptionMDLSaveClick);
    // View sits beside File and holds the one window that has a shortcut.
    OptionViewMenu = MainMenu->addMenu("View");
    OptionPreview = OptionViewMenu->addAction("Preview");
    OptionPreview->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(OptionPreview, &QAction::triggered, this, &TMainForm::OptionPreviewClick);

    // The top strip, with the controls at fixed places.
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Panel1 = new QWidget(central);
    Panel1->setFixedHeight(33);
    Label2 = new QLabel("Reduction Num", Panel1);
    Label2->move(5, 11);
    ReduceNumSpinEdit = new TSpinEdit(Panel1);
    ReduceNumSpinEdit->setGeometry(96, 8, 41, 24);
    Label1 = new QLabel("Reduction Level", Panel1);
    Label1->move(157, 11);
    LevelTrackBar = new QSlider(Qt::Horizontal, Panel1);
    LevelTrackBar->setGeometry(248, 5, 150, 25);
    LevelTrackBar->setRange(kMinLevel, kMaxLevel);
    LevelTrackBar->setSingleStep(1);
    LevelTrackBar->setPageStep(2);
    LevelTrackBar->setTickPosition(QSlider::NoTicks);
    LevelTrackBar->setValue(0);
    ReductionLevelLabel = new QLabel("0", Panel1);
    ReductionLevelLabel->move(400, 10);
    connect(LevelTrackBar, &QSlider::valueChanged, this, &TMainForm::LevelTrackBarChange);

    // The log fills the rest and keeps every line.
    StsMemo = new QPlainTextEdit(central);
    StsMemo->setReadOnly(true);
    StsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StsMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    StsMemo->setPlainText(QStringList{kDashLine,
                                      "Kelvane",
                                      "Please read readme.txt.",
                                      kDashLine,
                                      "PLEASE NOTE THAT:",
                                      "Currently this software can only reduce 3D GameStudio MDL5",
                                      "model file including 8 or 16 or 24 or 32bit Skin with no mipmap.",
                                      "",
                                      "Any 3D GameStudio MDL7 models and models including",
                                      "unsurpported skins or mipmaps are not supported in this",
                                      "version so if you need to reduce those unsupported MDL files",
                                      "with this software, you have to convert your models into",
                                      "the supported format above in advance (using MED).",
                                      "",
                                      "Backup your original models before using this software.",
                                      kDashLine}
                              .join('\n'));
    column->addWidget(Panel1);
    column->addWidget(StsMemo, 1);
    setCentralWidget(central);

    // One panel spanning the bar, in the system's own status-bar font.
    StatusBar = statusBar();
    StatusBar->setFont(QApplication::font());
    StatusBar->setSizeGripEnabled(true);
    StatusPanel = new QLabel(StatusBar);
    StatusBar->addWidget(StatusPanel, 1);

    // Centred on the screen when it first shows.
    if (const QScreen* screen = QApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

void TMainForm::FormCreate()
{
    // 1. the font, from the settings file beside the executable
    const FontSettings settings =
        ReadFontSettings(SettingsFile.isEmpty() ? SettingsFileFor(QCoreApplication::applicationFilePath()) : SettingsFile);
    QFont font = this->font();
    if (!settings.Name.isEmpty()) font.setFamily(settings.Name);
    if (settings.Size > 0) font.setPointSize(settings.Size);
    setFont(font);

    // 2. both dialogs start in the executable's folder
    OpenDialog->setDirectory(QCoreApplication::applicationDirPath());
    SaveDialog->setDirectory(QCoreApplication::applicationDirPath());

    // 3. the one container, writing into the log and status panel 0
    Model = std::make_unique<TMDLModel>();
    Model->LogLines = [this](const std::string& line) { StsMemo->appendPlainText(QString::fromStdString(line)); };
    Model->ProgressBar = [this](const std::string& text) {
        SetStatusText(QString::fromStdString(text));
        // The window repaints and answers between iterations of a pass.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    };
}

QString TMainForm::StatusText() const
{
    return StatusPanel->text();
}

void TMainForm::SetStatusText(const QString& text)
{
    StatusPanel->setText(text);
}

QString TMainForm::TimeStamp(const QDateTime& when)
{
    const QLocale locale;
    QString stamp = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0) return stamp;
    // The long time pattern has the seconds; its time-zone name is left out.
    QString pattern = locale.timeFormat(QLocale::LongFormat);
    pattern.remove(QRegularExpression("\\s*t+\\s*$")).remove(QRegularExpression("^\\s*t+\\s*"));
    return stamp + ' ' + locale.toString(time, pattern.trimmed());
}

QString TMainForm::ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > '.') return message + '.';
    return message;
}

void TMainForm::AddShellLine(const QString& text)
{
    StsMemo->appendPlainText(TimeStamp(Clock()) + text);
}

void TMainForm::ShowError(const std::exception& error)
{
    ShowErrorBox(QApplication::applicationName(), ErrorBoxText(QString::fromLocal8Bit(error.what())));
}

void TMainForm::UpdateMenuState()
{
    // Nothing reaches the container while a pass works on it or after it is freed.
    const bool idle = Model && !Busy;
    OptionMDLLoadFromFile->setEnabled(idle);
    OptionMDLReduce->setEnabled(idle && HasModel);
    OptionMDLSave->setEnabled(idle && HasModel);
    if (PreviewForm) PreviewForm->SetApplyEnabled(idle && HasModel);
}

void TMainForm::UpdatePreview()
{
    // A hidden preview is brought up to date when it next shows.
    if (!PreviewForm || !PreviewForm->isVisible()) return;
    HandModelsToPreview();
}

void TMainForm::HandModelsToPreview()
{
    PreviewForm->ShowModels(OpenedModel, HasModel && Model ? detachedCopy(*Model) : nullptr, OpenedFileName);
}

void TMainForm::OptionPreviewClick()
{
    if (!Model) return;  // the window is closing: nothing is left to show
    if (!PreviewForm) {
        // A child window, so it goes with the main window, but never modal.
        PreviewForm = new TPreviewForm(this);
        PreviewForm->ApplyRequested = [this](int64_t targetTriangles) { ApplyQuadricReduction(targetTriangles); };
        UpdateMenuState();
    }
    if (!PreviewForm->isVisible()) {
        // Handed over before it shows, so that it draws once, at its shown size.
        HandModelsToPreview();
        PreviewForm->show();
    }
    PreviewForm->raise();
    PreviewForm->activateWindow();
}

void TMainForm::ApplyQuadricReduction(int64_t targetTriangles)
{
    if (!Model || Busy || !HasModel) return;
    RunModelCommand([&] {
        // As the command line and the page reduce: the one pipeline, a small
        // model every way, the report over the same frames.
        ReducePlan plan;
        plan.TargetTriangles = targetTriangles;
        plan.Method = ReduceMethod::Quadric;
        plan.WayThreads = std::max(1u, std::thread::hardware_concurrency());
        plan = WithReport(plan, false);
        PipelineHooks hooks;
        hooks.Progress = [shown = Model->ProgressBar](const PipelineProgress& progress) {
            if (shown) shown(progress.Line);
        };
        ReductionOutcome outcome;
        {
            // The pipeline takes a model of any format; the window's is lent
            // to it for the run and taken back whatever happens.
            const LogTarget log = Model->LogLines;
            TAnyModel lent(std::move(*Model));
            lent.LogLines = log;  // MDL5() hands it to the model it holds
            struct GiveBack {
                TAnyModel& Lent;
                TMDLModel& Model;
                ~GiveBack() { Model = std::move(*Lent.MDL5()); }
            } giveBack{lent, *Model};
            RunReduction(lent, plan, outcome, hooks);
        }
        QString line = QString(": Quadric reduction: %1 -> %2 triangles.").arg(outcome.Before.Triangles).arg(outcome.After.Triangles);
        if (!outcome.BudgetMet)
            line += QString(" Stopped above %1: %2").arg(targetTriangles).arg(QString::fromStdString(outcome.StoppedBecause));
        AddShellLine(line);
        if (outcome.Deviation) Model->Log(DeviationLine(*outcome.Deviation));
        SetStatusText(QString());
    });
}

void TMainForm::RunModelCommand(const std::function<void()>& command)
{
    // Busy while it runs: progress lets window events run, and they must not
    // reload, save, reduce again or free the model.
    Busy = true;
    UpdateMenuState();
    try {
        command();
    } catch (const std::exception& error) {
        ShowError(error);
    }
    Busy = false;
    UpdateMenuState();
    UpdatePreview();
    // A close asked for during the command is carried out now that it is over.
    if (CloseRequested) close();
}

void TMainForm::OptionMDLLoadFromFileClick()
{
    if (!Model || Busy) return;
    const QString path = ExecDialog(*OpenDialog);
    if (!path.isEmpty()) OpenModel(path);
}

void TMainForm::OpenModel(const QString& path)
{
    if (!Model || Busy) return;
    rememberChoice(*OpenDialog, path);
    AddShellLine(": Opening MDL..");
    // A refused or failed load leaves no usable model: Reduce and Save wait for the next Open.
    HasModel = false;
    OpenedModel.reset();
    OpenedFileName.clear();
    try {
        if (Model->LoadFromFile(QFile::encodeName(path).toStdString())) {
            AddShellLine(": Done. Now you can reduce it!");
            SetStatusText(QString());
            HasModel = true;
            OpenedModel = detachedCopy(*Model);
            OpenedFileName = QFileInfo(path).fileName();
        } else {
            AddShellLine(": An model openning error has been occured. Please make sure the input model is correct format and try again.");
        }
    } catch (const std::exception& error) {
        ShowError(error);
    }
    UpdateMenuState();
    UpdatePreview();
}

void TMainForm::OptionMDLReduceClick()
{
    if (!Model || Busy || !HasModel) return;
    // The pass count is read once; the level anew before every pass.
    const int passCount = ReduceNumSpinEdit->Value();
    RunModelCommand([&] {
        for (int pass = 0; pass < passCount; ++pass) {
            AddShellLine(": Reducing MDL..");
            Model->Reduce(NormalLimitForLevel(LevelTrackBar->value()), kUVLimitTexels);
        }
        AddShellLine(": Done.");
        SetStatusText(QString());
    });
}

void TMainForm::OptionMDLSaveClick()
{
    if (!Model || Busy || !HasModel) return;
    const QString path = chooseFile(ExecDialog, *SaveDialog);
    if (path.isEmpty()) return;
    AddShellLine(": Saving MDL..");
    try {
        Model->SaveToFile(QFile::encodeName(path).toStdString());
        AddShellLine(": Done.");
        SetStatusText(QString());
    } catch (const std::exception& error) {
        ShowError(error);
    }
}

void TMainForm::LevelTrackBarChange(int position)
{
    ReductionLevelLabel->setText(QString::number(position));
    ReductionLevelLabel->adjustSize();
}

bool TMainForm::FormCloseQuery()
{
    // A pass still works on the container: hold the close until it ends.
    if (Busy) {
        CloseRequested = true;
        return false;
    }
    // The preview only shows this window's model; it has nothing of its own to keep.
    if (PreviewForm) PreviewForm->close();
    Model.reset();
    OpenedModel.reset();
    UpdateMenuState();
    return true;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}
