#include "web/WebModel.h"

#include <algorithm>

#include "model/Geometry.h"
#include "model/MDLClass.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"

namespace {

// Frames measured in one call of the ruler: each call checks both models
// whole first, so one call per frame would cost frames x triangles again and
// again, while chunks still let the page show how far it got.
constexpr std::size_t kFramesPerMeasure = 8;

std::string frameName(const TMDLFrame& frame)
{
    const auto end = std::find(frame.Name.begin(), frame.Name.end(), '\0');
    return std::string(frame.Name.begin(), end);
}

bool sameCounts(const MDL5Header& a, const MDL5Header& b)
{
    return a.NumVerts == b.NumVerts && a.NumTris == b.NumTris && a.NumSkinVerts == b.NumSkinVerts;
}

}  // namespace

WebModel::WebModel() : model(std::make_unique<TMDLModel>())
{
    model->LogLines = [this](const std::string& line) { lines.push_back(line); };
}

WebModel::WebModel(const WebModel& other)
    : model(std::make_unique<TMDLModel>(*other.model)), lines(other.lines), accepted(other.accepted)
{
    // The copied target would write into other's lines.
    model->LogLines = [this](const std::string& line) { lines.push_back(line); };
}

WebModel::~WebModel() = default;

const char* WebModel::FormatsName()
{
    return "MDL5 models";
}

const char* WebModel::FileExtensions()
{
    return ".mdl";
}

bool WebModel::Load(std::span<const uint8_t> bytes)
{
    lines.clear();
    accepted = model->LoadFromBytes(bytes);
    return accepted;
}

ModelSummary WebModel::Summary() const
{
    ModelSummary summary;
    summary.Vertices = model->Header.NumVerts;
    summary.Triangles = model->Header.NumTris;
    summary.SkinVertices = model->Header.NumSkinVerts;
    for (const TMDLFrame& frame : model->Frames) summary.FrameNames.push_back(frameName(frame));
    for (const TMDLSkin5& skin : model->Skins) summary.Skins.push_back({skin.SkinType, skin.Width, skin.Height});
    return summary;
}

int32_t WebModel::Triangles() const
{
    return model->Header.NumTris;
}

WorldBox WebModel::AnimationBox() const
{
    return ::AnimationBox(*model);
}

RGBAImage WebModel::Render(const RenderOptions& options, const WorldBox& view) const
{
    return RenderFrame(*model, options, view);
}

BudgetOutcome WebModel::ReduceToBudget(int64_t budget, const ProgressSink& progress)
{
    const QuadricResult outcome = ReduceQuadric(*model, budget, progress);
    model->Log(model->ModelInfoLine());
    return {budget, outcome.BudgetMet, outcome.StoppedBecause};
}

void WebModel::ReducePasses(int level, int passes, const ProgressSink& progress)
{
    model->ProgressBar = progress;
    for (int p = 0; p < passes; ++p) {
        if (progress) progress("pass " + std::to_string(p + 1) + " of " + std::to_string(passes));
        const MDL5Header before = model->Header;
        model->Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        if (!sameCounts(before, model->Header)) continue;
        // A pass that removed nothing leaves the model as it was: every later
        // pass would too, so its two lines are repeated, as kelvane-cli does.
        const std::vector<std::string> unchanged(lines.end() - 2, lines.end());
        for (++p; p < passes; ++p)
            for (const std::string& line : unchanged) model->Log(line);
    }
    model->ProgressBar = nullptr;
}

std::variant<DeviationSummary, std::string> WebModel::DeviationFrom(const WebModel& original,
                                                                    const std::function<void(double)>& progress) const
{
    const int frameCount = int(original.model->Frames.size());
    MeasureOptions options;
    options.Threads = 1;  // the page has one thread; the figures do not depend on it
    DeviationSummary summary;
    // 1. the frames in chunks, each frame measured from its own seed as in one call
    // (a model without frames makes one call, which says why it cannot be measured)
    for (int first = 0; first < std::max(frameCount, 1); first += int(kFramesPerMeasure)) {
        options.Frames.clear();
        for (int f = first; f < std::min<int>(frameCount, first + int(kFramesPerMeasure)); ++f) options.Frames.push_back(f);
        auto measured = MeasureDeviation(*original.model, *model, options);
        if (auto* reason = std::get_if<std::string>(&measured)) return *reason;
        DeviationSummary& part = std::get<DeviationSummary>(measured);
        summary.Frames.insert(summary.Frames.end(), part.Frames.begin(), part.Frames.end());
        summary.OriginalTriangles = part.OriginalTriangles;
        summary.OtherTriangles = part.OtherTriangles;
        if (progress) progress(double(summary.Frames.size()) / frameCount);
    }
    // 2. the summary as the ruler makes it: the first frame wins a tie, the
    // mean is summed in frame order
    summary.Hausdorff = -1;
    summary.Rms = -1;
    double rmsSum = 0;
    for (const FrameDeviation& deviation : summary.Frames) {
        if (deviation.Hausdorff > summary.Hausdorff) {
            summary.Hausdorff = deviation.Hausdorff;
            summary.HausdorffFrame = deviation.Frame;
        }
        if (deviation.Rms > summary.Rms) {
            summary.Rms = deviation.Rms;
            summary.RmsFrame = deviation.Frame;
        }
        rmsSum += deviation.Rms;
    }
    summary.MeanRms = rmsSum / double(summary.Frames.size());
    return summary;
}

std::vector<uint8_t> WebModel::Save() const
{
    return model->SaveToBytes();
}
