#pragma once
// The main window: File menu (Open MDL5, Reduce, Save MDL5), View menu
// (Preview, a window of its own), the strip with the pass count and the
// level, the log and the status bar, and the one model container it owns
// from creation to close.

#include <QAbstractSpinBox>
#include <QDateTime>
#include <QMainWindow>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QSlider;
class QStatusBar;
class QWidget;
class TMDLModel;
class TPreviewForm;

// The pass-count field. Its text may hold what a number field normally
// refuses ("0", "-5", "+"), because the Reduce command reads the text as it
// stands; only the arrows and leaving the field bring it into 1 to 99.
class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    static constexpr int kMinValue = 1;
    static constexpr int kMaxValue = 99;

    // The whole number the text holds, or kMinValue when it holds none; not clamped.
    int Value() const;
    void stepBy(int steps) override;
    using QAbstractSpinBox::lineEdit;  // the text the Reduce command reads

protected:
    // The whole number the text holds, if it holds one.
    std::optional<int> WholeNumber() const;
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Members in the order of the window's layout.
    QFileDialog* OpenDialog = nullptr;
    QPlainTextEdit* StsMemo = nullptr;
    QMenuBar* MainMenu = nullptr;
    QFileDialog* SaveDialog = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QMenu* OptionFileMenu = nullptr;
    QAction* OptionMDLReduce = nullptr;
    QAction* OptionMDLSave = nullptr;
    QStatusBar* StatusBar = nullptr;
    QAction* OptionMDLLoadFromFile = nullptr;
    QSlider* LevelTrackBar = nullptr;
    QLabel* ReductionLevelLabel = nullptr;
    TSpinEdit* ReduceNumSpinEdit = nullptr;
    std::unique_ptr<TMDLModel> Model;
    QMenu* OptionViewMenu = nullptr;
    QAction* OptionPreview = nullptr;
    TPreviewForm* PreviewForm = nullptr;  // made by the first View > Preview, then kept
    // The model as the last accepted Open left it: the preview's left side and
    // the ruler its deviation is measured against. Null while no model is usable.
    std::shared_ptr<const TMDLModel> OpenedModel;

    // Seams for tests; the defaults run the real dialog and message box.
    // ExecDialog returns the chosen full path, or an empty text when cancelled.
    std::function<QString(QFileDialog&)> ExecDialog;
    std::function<void(const QString& caption, const QString& text)> ShowErrorBox;
    std::function<QDateTime()> Clock;
    // The settings file FormCreate reads; empty: the one beside the executable.
    // Each test run points it into a folder of its own, so no two share a file.
    static inline QString SettingsFile;

    // The text of status panel 0.
    QString StatusText() const;
    // Whether a Reduce command or a quadric reduction is running.
    bool IsBusy() const { return Busy; }

    // The date in the locale's short format and, unless it is exactly
    // midnight, a blank and the time with seconds in the locale's pattern.
    static QString TimeStamp(const QDateTime& when);
    // The text of the error box: the message, with a full stop added when its
    // last character sorts after the full stop.
    static QString ErrorBoxText(const QString& message);

    void FormCreate();
    void OptionMDLLoadFromFileClick();
    // Opens the model at path exactly as Open MDL5 does once the dialog has
    // chosen it: the same log lines, menu state and error box; the dialog
    // proposes that file next time.
    void OpenModel(const QString& path);
    void OptionMDLReduceClick();
    void OptionMDLSaveClick();
    void LevelTrackBarChange(int position);
    void OptionPreviewClick();
    // The preview's Apply: reduces Model to at most targetTriangles by quadric
    // error and logs one time-stamped line; Save then writes the result.
    void ApplyQuadricReduction(int64_t targetTriangles);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool FormCloseQuery();
    void BuildLayout();
    void AddShellLine(const QString& text);
    void SetStatusText(const QString& text);
    void ShowError(const std::exception& error);
    void UpdateMenuState();
    // Runs a command that changes Model: busy meanwhile, errors in the error
    // box, then the menus and the preview brought up to date, and a close
    // asked for meanwhile carried out.
    void RunModelCommand(const std::function<void()>& command);
    // Hands the opened model and a copy of Model to the preview while it shows.
    void UpdatePreview();
    // Hands the opened model and a copy of Model to the preview, shown or not.
    void HandModelsToPreview();

    QLabel* StatusPanel = nullptr;  // panel 0, spanning the whole bar
    bool HasModel = false;          // the last Open was accepted
    bool Busy = false;              // a Reduce command or a quadric reduction is running
    bool CloseRequested = false;    // a close asked for during a Reduce command
    QString OpenedFileName;         // the name of the last accepted Open, without its folder
};

extern TMainForm* MainForm;
