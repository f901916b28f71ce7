#pragma once
// The preview window: the model as it was opened (left) and as it is now
// (right), drawn by the core renderer with one shared camera, with the frame
// controls, the deviation of the right side from the left, and the quadric
// reduction's target and Apply button, and a View menu of its own for the
// palette of 8-bit skins. It shows copies handed to it by the main window and
// never touches the main window's model itself.

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "measure/Measure.h"
#include "model/AnimatedMesh.h"
#include "model/Geometry.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;
class TMDLModel;

// One side of the preview: shows a rendered picture and turns mouse drags and
// wheel turns into camera requests; it draws nothing of its own.
class TModelView : public QWidget {
    Q_OBJECT
public:
    explicit TModelView(QWidget* parent = nullptr);

    // The picture on show; a null image shows the background alone.
    void SetImage(const QImage& image);
    const QImage& Image() const { return Picture; }

signals:
    void Dragged(QPoint delta);       // in pixels, while the left button is down
    void Wheeled(int angleDelta);     // eighths of a degree, as the wheel reports them
    void Resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage Picture;
    QPoint LastDragPos;
};

class TPreviewForm : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewForm(QWidget* parent = nullptr);
    ~TPreviewForm() override;

    // Members in the order of the window's layout.
    QMenuBar* PreviewMenu = nullptr;
    QMenu* OptionViewMenu = nullptr;
    QAction* OptionPalette = nullptr;    // View > Palette...: a palette file for 8-bit skins
    QAction* OptionNoPalette = nullptr;  // View > No Palette: greys again
    TModelView* OriginalView = nullptr;
    TModelView* ReducedView = nullptr;
    QLabel* OriginalCountLabel = nullptr;
    QLabel* ReducedCountLabel = nullptr;
    QLabel* DeviationLabel = nullptr;
    QSlider* FrameTrackBar = nullptr;
    QLabel* FrameLabel = nullptr;
    QPushButton* PlayButton = nullptr;
    QCheckBox* WireCheckBox = nullptr;
    QCheckBox* SkinCheckBox = nullptr;
    QSlider* TargetTrackBar = nullptr;
    QSpinBox* TargetSpinBox = nullptr;
    QPushButton* ApplyButton = nullptr;
    QTimer* PlayTimer = nullptr;

    // Runs when Apply is pressed, with the target triangle count; the main
    // window reduces its model and hands the result back through ShowModels.
    std::function<void(int64_t targetTriangles)> ApplyRequested;

    // Seams for tests, as the main window has them; the defaults run the real
    // dialog and message box. ExecDialog returns the chosen path, or an empty
    // text when cancelled.
    std::function<QString(QFileDialog&)> ExecDialog;
    std::function<void(const QString& caption, const QString& text)> ShowErrorBox;
    // Where the preview remembers its palette: a store of its own, since the
    // main window's settings file is only ever read. Empty: the user's usual
    // place for it. Each test run points it into a folder of its own.
    static inline QString SettingsFile;

    // Shows original on the left and current on the right, measures the
    // deviation between them once, and names fileName in the title. Null for
    // either clears the window: no picture, no counts, no target.
    void ShowModels(std::shared_ptr<const TMDLModel> original, std::shared_ptr<const TMDLModel> current,
                    const QString& fileName);
    // Whether Apply may run; the main window decides (a model open, no command running).
    void SetApplyEnabled(bool enabled);

    // Reads path as a palette (768 bytes of RGB, as .lmp and raw .pal files
    // hold it), draws 8-bit skins with it and remembers it for next time.
    // Shows an error box and changes nothing when the file is not one.
    bool LoadPalette(const QString& path);
    // Back to greys for 8-bit skins, and nothing remembered.
    void ClearPalette();
    QString PalettePath() const { return PaletteFile; }

    double YawDegrees() const { return Yaw; }
    double PitchDegrees() const { return Pitch; }
    double Zoom() const { return ZoomFactor; }

    void FrameTrackBarChange(int position);
    void PlayButtonClick();
    void ApplyButtonClick();
    void PlayTimerTimer();
    void OptionPaletteClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildLayout();
    void ReadPaletteSetting();
    void Redraw();
    void Measure();
    void ShowDeviation();
    void StopPlaying();
    int FrameCount() const;

    std::shared_ptr<const TMDLModel> Original;
    std::shared_ptr<const TMDLModel> Current;
    // What the renderer and the measure read of both, made once per change:
    // the window draws on every frame step, drag and wheel turn.
    AnimatedMesh OriginalMesh;
    AnimatedMesh CurrentMesh;
    // The box the camera frames: both models over every frame, taken once per change.
    WorldBox CameraBox;
    std::vector<uint8_t> Palette;  // empty: greys
    QString PaletteFile;
    // The last measure: a summary, or the reason the two could not be compared.
    std::variant<DeviationSummary, std::string> Deviation;
    bool ApplyAllowed = false;
    // The camera both sides share; it starts where the command line's does.
    double Yaw = 0;
    double Pitch = 0;
    double ZoomFactor = 1;
};
