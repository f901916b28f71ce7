#include "app/Preview.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "model/formats/MDL5.h"
#include "model/MDLClass.h"
#include "render/Render.h"

namespace {

// Ten frames a second: slow enough to follow each pose, and cheap enough to
// render both sides of a few thousand triangles in time.
constexpr int kPlayIntervalMs = 100;
// Half a degree a pixel turns the model once across a 720-pixel drag.
constexpr double kDegreesPerPixel = 0.5;
// Short of straight up or down, where the camera's up direction is undefined.
constexpr double kPitchLimitDegrees = 89.0;
// One wheel notch (120 eighths of a degree) comes a fifth nearer.
constexpr double kZoomPerNotch = 1.2;
constexpr double kZoomMin = 0.2;
constexpr double kZoomMax = 20.0;

QImage toQImage(const RGBAImage& image)
{
    const std::size_t rowBytes = std::size_t(std::max(image.Width, 0)) * 4;
    if (image.Width < 1 || image.Height < 1 || image.Pixels.size() < rowBytes * std::size_t(image.Height)) return {};
    QImage picture(image.Width, image.Height, QImage::Format_RGBA8888);
    // QImage may pad its rows; copy row by row rather than as one block.
    for (int y = 0; y < image.Height; ++y)
        std::memcpy(picture.scanLine(y), image.Pixels.data() + std::size_t(y) * rowBytes, rowBytes);
    return picture;
}

QString countText(const QString& side, const TMDLModel& model)
{
    // The header's counts, as the log's "MODEL INFO: " line gives them.
    return QString("%1: %2 vertices, %3 triangles").arg(side).arg(model.Header.NumVerts).arg(model.Header.NumTris);
}

QString percent(double fraction)
{
    return QLocale().toString(fraction * 100.0, 'f', 2) + " %";
}

QString texels(double value)
{
    return QLocale().toString(value, 'f', 2) + " texels";
}

// The preview's own store, apart from the settings file the main window reads.
std::unique_ptr<QSettings> previewSettings(const QString& file)
{
    if (!file.isEmpty()) return std::make_unique<QSettings>(file, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Kelvane", "preview");
}

constexpr const char* kPaletteKey = "palette";

// The bytes of a palette file, or why it is none.
std::variant<std::vector<uint8_t>, QString> readPalette(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString("Cannot open \"%1\": %2").arg(path, file.errorString());
    // One byte more than a palette tells a longer file from one.
    const QByteArray bytes = file.read(qint64(kPaletteBytes) + 1);
    if (std::size_t(bytes.size()) != kPaletteBytes)
        return QString("\"%1\" is no palette: a palette is %2 bytes of red, green, blue.").arg(path).arg(kPaletteBytes);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace

// ---- TModelView ----

TModelView::TModelView(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(160, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TModelView::SetImage(const QImage& image)
{
    Picture = image;
    update();
}

void TModelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (Picture.isNull()) {
        painter.fillRect(rect(), palette().window());
        painter.drawText(rect(), Qt::AlignCenter, "No model");
        return;
    }
    // The picture was rendered at this view's size; a resize renders anew.
    painter.drawImage(QPoint(0, 0), Picture);
}

void TModelView::mousePressEvent(QMouseEvent* event)
{
    LastDragPos = event->position().toPoint();
}

void TModelView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) return;
    const QPoint pos = event->position().toPoint();
    const QPoint delta = pos - LastDragPos;
    LastDragPos = pos;
    if (!delta.isNull()) emit Dragged(delta);
}

void TModelView::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() != 0) emit Wheeled(event->angleDelta().y());
    event->accept();
}

void TModelView::resizeEvent(QResizeEvent*)
{
    emit Resized();
}

// ---- TPreviewForm ----

TPreviewForm::TPreviewForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    const RenderOptions defaults;
    Yaw = defaults.YawDegrees;
    Pitch = defaults.PitchDegrees;
    ZoomFactor = defaults.Zoom;
    ExecDialog = [](QFileDialog& dialog) {
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first() : QString();
    };
    ShowErrorBox = [this](const QString& caption, const QString& text) { QMessageBox::warning(this, caption, text); };
    BuildLayout();
    ReadPaletteSetting();
    ShowModels(nullptr, nullptr, QString());
}

TPreviewForm::~TPreviewForm() = default;

void TPreviewForm::BuildLayout()
{
    resize(820, 560);
    auto* grid = new QGridLayout(this);

    // The window's own menu: the main window's menus stay as they are.
    PreviewMenu = new QMenuBar(this);
    OptionViewMenu = PreviewMenu->addMenu("View");
    OptionPalette = OptionViewMenu->addAction("Palette...");
    OptionNoPalette = OptionViewMenu->addAction("No Palette");
    grid->setMenuBar(PreviewMenu);
    connect(OptionPalette, &QAction::triggered, this, &TPreviewForm::OptionPaletteClick);
    connect(OptionNoPalette, &QAction::triggered, this, &TPreviewForm::ClearPalette);

    // The two sides, each with its counts; the deviation belongs to the right.
    OriginalView = new TModelView(this);
    ReducedView = new TModelView(this);
    OriginalCountLabel = new QLabel(this);
    ReducedCountLabel = new QLabel(this);
    DeviationLabel = new QLabel(this);
    DeviationLabel->setWordWrap(true);
    DeviationLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(OriginalView, 0, 0);
    grid->addWidget(ReducedView, 0, 1);
    grid->addWidget(OriginalCountLabel, 1, 0);
    grid->addWidget(ReducedCountLabel, 1, 1);
    grid->addWidget(DeviationLabel, 2, 1);
    grid->setRowStretch(0, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    // The frame strip: one frame for both sides.
    auto* frameStrip = new QHBoxLayout;
    FrameTrackBar = new QSlider(Qt::Horizontal, this);
    FrameTrackBar->setSingleStep(1);
    FrameTrackBar->setPageStep(1);
    FrameLabel = new QLabel(this);
    FrameLabel->setMinimumWidth(140);
    PlayButton = new QPushButton("Play", this);
    WireCheckBox = new QCheckBox("Wireframe", this);
    SkinCheckBox = new QCheckBox("Skin", this);
    SkinCheckBox->setChecked(true);
    frameStrip->addWidget(FrameLabel);
    frameStrip->addWidget(FrameTrackBar, 1);
    frameStrip->addWidget(PlayButton);
    frameStrip->addWidget(WireCheckBox);
    frameStrip->addWidget(SkinCheckBox);
    grid->addLayout(frameStrip, 3, 0, 1, 2);

    // The quadric reduction: the slider and the field always agree.
    auto* targetStrip = new QHBoxLayout;
    TargetTrackBar = new QSlider(Qt::Horizontal, this);
    TargetSpinBox = new QSpinBox(this);
    TargetSpinBox->setSuffix(" triangles");
    ApplyButton = new QPushButton("Apply", this);
    targetStrip->addWidget(new QLabel("Target", this));
    targetStrip->addWidget(TargetTrackBar, 1);
    targetStrip->addWidget(TargetSpinBox);
    targetStrip->addWidget(ApplyButton);
    grid->addLayout(targetStrip, 4, 0, 1, 2);

    PlayTimer = new QTimer(this);
    PlayTimer->setInterval(kPlayIntervalMs);

    connect(FrameTrackBar, &QSlider::valueChanged, this, &TPreviewForm::FrameTrackBarChange);
    connect(PlayButton, &QPushButton::clicked, this, &TPreviewForm::PlayButtonClick);
    connect(PlayTimer, &QTimer::timeout, this, &TPreviewForm::PlayTimerTimer);
    connect(WireCheckBox, &QCheckBox::toggled, this, &TPreviewForm::Redraw);
    connect(SkinCheckBox, &QCheckBox::toggled, this, &TPreviewForm::Redraw);
    connect(TargetTrackBar, &QSlider::valueChanged, TargetSpinBox, &QSpinBox::setValue);
    connect(TargetSpinBox, &QSpinBox::valueChanged, TargetTrackBar, &QSlider::setValue);
    connect(ApplyButton, &QPushButton::clicked, this, &TPreviewForm::ApplyButtonClick);
    for (TModelView* view : {OriginalView, ReducedView}) {
        // Both sides turn and zoom together: there is one camera.
        connect(view, &TModelView::Dragged, this, [this](QPoint delta) {
            Yaw = std::fmod(Yaw + delta.x() * kDegreesPerPixel, 360.0);
            Pitch = std::clamp(Pitch + delta.y() * kDegreesPerPixel, -kPitchLimitDegrees, kPitchLimitDegrees);
            Redraw();
        });
        connect(view, &TModelView::Wheeled, this, [this](int angleDelta) {
            ZoomFactor = std::clamp(ZoomFactor * std::pow(kZoomPerNotch, angleDelta / 120.0), kZoomMin, kZoomMax);
            Redraw();
        });
        connect(view, &TModelView::Resized, this, &TPreviewForm::Redraw);
    }
}

void TPreviewForm::ShowModels(std::shared_ptr<const TMDLModel> original, std::shared_ptr<const TMDLModel> current,
                              const QString& fileName)
{
    const bool newOriginal = original != Original;
    if (!original || !current) {
        original.reset();
        current.reset();
    }
    Original = std::move(original);
    Current = std::move(current);
    setWindowTitle(Original ? "Preview - " + fileName : QString("Preview"));

    // 1. the frame range, shared by both sides; the frame on show stays when it still exists
    const int frameCount = FrameCount();
    if (frameCount < 2) StopPlaying();
    {
        const QSignalBlocker blockFrame(FrameTrackBar);
        FrameTrackBar->setRange(0, std::max(frameCount - 1, 0));
    }
    FrameTrackBar->setEnabled(frameCount > 1);
    PlayButton->setEnabled(frameCount > 1);

    // 2. the counts, and a target within what the right side has
    OriginalCountLabel->setText(Original ? countText("Opened", *Original) : QString());
    ReducedCountLabel->setText(Current ? countText("Now", *Current) : QString());
    const int currentTriangles = Current ? std::max(Current->Header.NumTris, 0) : 0;
    TargetTrackBar->setRange(0, currentTriangles);
    TargetSpinBox->setRange(0, currentTriangles);
    if (newOriginal) TargetSpinBox->setValue(currentTriangles / 2);
    TargetTrackBar->setEnabled(Current != nullptr);
    TargetSpinBox->setEnabled(Current != nullptr);
    SetApplyEnabled(ApplyAllowed);

    // 3. the views the renderer draws, one box over both models and every
    // frame: both sides share the camera, and the camera does not jump from
    // frame to frame; and the measure, once per change rather than per frame shown
    CameraBox = WorldBox();
    try {
        if (newOriginal || !Original) OriginalMesh = Original ? MeshOf(*Original) : AnimatedMesh();
        CurrentMesh = Current ? MeshOf(*Current) : AnimatedMesh();
        if (Original && Current) {
            CameraBox = AnimationBox(*Original);
            CameraBox.Add(AnimationBox(*Current));
        }
        Measure();
    } catch (const std::exception& error) {  // out of memory: the window goes on without the models
        OriginalMesh = CurrentMesh = AnimatedMesh();
        Deviation = std::string(error.what());
    }
    ShowDeviation();
    Redraw();
}

void TPreviewForm::SetApplyEnabled(bool enabled)
{
    ApplyAllowed = enabled;
    ApplyButton->setEnabled(enabled && Current);
}

int TPreviewForm::FrameCount() const
{
    if (!Original || !Current) return 0;
    return int(std::max(Original->Frames.size(), Current->Frames.size()));
}

void TPreviewForm::Measure()
{
    Deviation = std::string();
    if (!Original || !Current) return;
    try {
        Deviation = MeasureDeviation(OriginalMesh, CurrentMesh);
    } catch (const std::exception& error) {  // out of memory: the window goes on without a figure
        Deviation = std::string(error.what());
    }
}

void TPreviewForm::ShowDeviation()
{
    const int frame = FrameTrackBar->value();
    if (!Original || !Current) {
        FrameLabel->clear();
        DeviationLabel->clear();
        return;
    }
    QString frameText = QString("Frame %1").arg(frame);
    if (std::size_t(frame) < Current->Frames.size()) {
        const std::array<char, 16>& name = Current->Frames[std::size_t(frame)].Name;
        // The name ends at its first zero byte, or after all sixteen.
        const auto nameEnd = std::find(name.begin(), name.end(), '\0');
        const QString text = QString::fromLatin1(name.data(), qsizetype(nameEnd - name.begin()));
        if (!text.isEmpty()) frameText += ": " + text;
    }
    FrameLabel->setText(frameText);

    if (const std::string* reason = std::get_if<std::string>(&Deviation)) {
        DeviationLabel->setText(QString::fromStdString(*reason));
        return;
    }
    const DeviationSummary& summary = std::get<DeviationSummary>(Deviation);
    QString onShow = QString("Deviation in frame %1: not measured").arg(frame);
    for (const FrameDeviation& measured : summary.Frames) {
        if (measured.Frame != frame) continue;
        onShow = QString("Deviation in frame %1: Hausdorff %2, RMS %3").arg(frame).arg(percent(measured.Hausdorff), percent(measured.Rms));
        if (summary.TextureMeasured) onShow += QString(", texture RMS %1").arg(texels(measured.TextureRms));
    }
    QString largest = QString("Largest over all frames: Hausdorff %1 (frame %2), RMS %3 (frame %4)")
                          .arg(percent(summary.Hausdorff))
                          .arg(summary.HausdorffFrame)
                          .arg(percent(summary.Rms))
                          .arg(summary.RmsFrame);
    if (summary.TextureMeasured)
        largest += QString(", texture RMS %1 (frame %2)").arg(texels(summary.TextureRms)).arg(summary.TextureRmsFrame);
    DeviationLabel->setText(onShow + '\n' + largest);
}

void TPreviewForm::Redraw()
{
    // A hidden window is drawn when it shows; its views have no size before that.
    if (!isVisible() || !Original || !Current) {
        OriginalView->SetImage(QImage());
        ReducedView->SetImage(QImage());
        return;
    }
    RenderOptions options;
    options.Frame = FrameTrackBar->value();
    options.YawDegrees = Yaw;
    options.PitchDegrees = Pitch;
    options.Zoom = ZoomFactor;
    options.Wireframe = WireCheckBox->isChecked();
    options.Textured = SkinCheckBox->isChecked();
    options.Palette = Palette;
    // Rendered in device pixels, so that a scaled screen shows them one to one.
    const auto drawInto = [this, &options](TModelView* view, const AnimatedMesh& mesh) {
        const qreal ratio = view->devicePixelRatioF();
        options.Width = qRound(view->width() * ratio);
        options.Height = qRound(view->height() * ratio);
        QImage picture = toQImage(RenderFrame(mesh, options, CameraBox));
        picture.setDevicePixelRatio(ratio);
        view->SetImage(picture);
    };
    try {
        drawInto(OriginalView, OriginalMesh);
        drawInto(ReducedView, CurrentMesh);
    } catch (const std::exception&) {  // out of memory for a huge view: show none rather than half
        OriginalView->SetImage(QImage());
        ReducedView->SetImage(QImage());
    }
}

void TPreviewForm::FrameTrackBarChange(int)
{
    ShowDeviation();
    Redraw();
}

void TPreviewForm::PlayButtonClick()
{
    if (PlayTimer->isActive()) {
        StopPlaying();
        return;
    }
    if (FrameCount() < 2) return;
    PlayTimer->start();
    PlayButton->setText("Stop");
}

void TPreviewForm::StopPlaying()
{
    PlayTimer->stop();
    PlayButton->setText("Play");
}

void TPreviewForm::PlayTimerTimer()
{
    const int frameCount = FrameCount();
    if (frameCount < 2) {
        StopPlaying();
        return;
    }
    FrameTrackBar->setValue((FrameTrackBar->value() + 1) % frameCount);
}

void TPreviewForm::ApplyButtonClick()
{
    if (!ApplyAllowed || !Current || !ApplyRequested) return;
    ApplyRequested(TargetSpinBox->value());
}

void TPreviewForm::OptionPaletteClick()
{
    QFileDialog dialog(this, "Palette", PaletteFile.isEmpty() ? QString() : QFileInfo(PaletteFile).absolutePath(),
                       "Palettes (*.lmp *.pal);;All files (*)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString path = ExecDialog(dialog);
    if (!path.isEmpty()) LoadPalette(path);
}

bool TPreviewForm::LoadPalette(const QString& path)
{
    auto read = readPalette(path);
    if (const QString* problem = std::get_if<QString>(&read)) {
        ShowErrorBox("Palette", *problem);
        return false;
    }
    Palette = std::move(std::get<std::vector<uint8_t>>(read));
    PaletteFile = path;
    previewSettings(SettingsFile)->setValue(kPaletteKey, path);
    Redraw();
    return true;
}

void TPreviewForm::ClearPalette()
{
    Palette.clear();
    PaletteFile.clear();
    previewSettings(SettingsFile)->remove(kPaletteKey);
    Redraw();
}

void TPreviewForm::ReadPaletteSetting()
{
    // A remembered file that has gone or changed is forgotten quietly: the
    // window opens with greys rather than with a message about last time.
    const QString path = previewSettings(SettingsFile)->value(kPaletteKey).toString();
    if (path.isEmpty()) return;
    auto read = readPalette(path);
    if (auto* bytes = std::get_if<std::vector<uint8_t>>(&read)) {
        Palette = std::move(*bytes);
        PaletteFile = path;
    }
}

void TPreviewForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Redraw();
}

void TPreviewForm::hideEvent(QHideEvent* event)
{
    // Nothing animates out of sight.
    StopPlaying();
    QWidget::hideEvent(event);
}
