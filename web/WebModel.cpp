#include "web/WebModel.h"

#include <algorithm>

#include "model/AnyModel.h"
#include "pipeline/ReportLines.h"

namespace {

// What counting the triangles reads: positions and texture coordinates.
constexpr MeshOptions kMeasureView{.VertexMajor = false, .Normals = false, .Skin = false};

std::string frameName(const TMDLFrame& frame)
{
    const auto end = std::find(frame.Name.begin(), frame.Name.end(), '\0');
    return std::string(frame.Name.begin(), end);
}

}  // namespace

WebModel::WebModel() : model(std::make_unique<TAnyModel>())
{
    model->LogLines = [this](const std::string& line) { lines.push_back(line); };
}

WebModel::WebModel(const WebModel& other)
    : model(std::make_unique<TAnyModel>(*other.model)), lines(other.lines), accepted(other.accepted)
{
    // The copied target would write into other's lines. The held model's own
    // target is pointed at this one whenever it may log (MDL5() does it).
    model->LogLines = [this](const std::string& line) { lines.push_back(line); };
}

WebModel::~WebModel() = default;

const char* WebModel::FormatsName()
{
    return "MDL5, Quake MDL, MD2 and MD3 models";
}

const char* WebModel::FileExtensions()
{
    return ".mdl,.md2,.md3";
}

bool WebModel::Load(std::span<const uint8_t> bytes)
{
    lines.clear();
    drawnView.reset();
    accepted = model->LoadFromBytes(bytes);
    return accepted;
}

ModelSummary WebModel::Summary() const
{
    ModelSummary summary;
    summary.Format = model->FormatName();
    if (const TMDLModel* mdl5 = model->MDL5()) {
        // The header's counts, as kelvane-cli info gives them, and every skin.
        summary.Vertices = mdl5->Header.NumVerts;
        summary.Triangles = mdl5->Header.NumTris;
        summary.SkinVertices = mdl5->Header.NumSkinVerts;
        for (const TMDLFrame& frame : mdl5->Frames) summary.FrameNames.push_back(frameName(frame));
        for (const TMDLSkin5& skin : mdl5->Skins) summary.Skins.push_back({skin.SkinType, skin.Width, skin.Height});
        summary.WrittenPasses = true;
        return summary;
    }
    const AnimatedMesh mesh = model->Mesh({.VertexMajor = false, .Normals = false, .Skin = true});
    summary.Vertices = int32_t(mesh.VertexCount);
    summary.Triangles = int32_t(mesh.Triangles.size());
    // A Quake MDL view adds a back coordinate for each vertex on the seam;
    // the file holds one per vertex, as MD3 does.
    summary.SkinVertices = int32_t(mesh.VertexTexCoords.empty() ? mesh.TexCoords.size() : mesh.VertexCount);
    summary.FrameNames = mesh.FrameNames;
    for (const MeshSkin& skin : mesh.Skins)
        if (skin.Width > 0) summary.Skins.push_back({-1, skin.Width, skin.Height});
    return summary;
}

int32_t WebModel::Triangles() const
{
    if (const TMDLModel* mdl5 = model->MDL5()) return mdl5->Header.NumTris;
    return int32_t(model->Mesh(kMeasureView).Triangles.size());
}

const AnimatedMesh& WebModel::DrawnView() const
{
    if (!drawnView) drawnView = model->Mesh();
    return *drawnView;
}

WorldBox WebModel::AnimationBox() const
{
    return ::AnimationBox(DrawnView());
}

RGBAImage WebModel::Render(const RenderOptions& options, const WorldBox& view) const
{
    // A view without a skin (MD2 and MD3 files hold none) draws untextured.
    return RenderFrame(DrawnView(), options, view);
}

std::vector<WebOutput> WebModel::Reduce(const ReducePlan& plan, const std::function<void(const PipelineProgress&)>& progress)
{
    std::vector<WebOutput> outputs;
    std::size_t linesBefore = lines.size();
    // Each output's lines are those logged since the one before.
    const auto output = [&](const TAnyModel& result) {
        WebOutput out;
        out.Bytes = result.SaveToBytes();
        out.Counts = CountsOf(result);
        out.Lines.assign(lines.begin() + std::ptrdiff_t(linesBefore), lines.end());
        linesBefore = lines.size();
        return out;
    };
    ReducePlan onOneThread = plan;
    onOneThread.WayThreads = 1;
    onOneThread.MeasureThreads = 1;  // the page has one thread; the figures do not depend on it
    PipelineHooks hooks;
    hooks.Progress = progress;
    hooks.SaveLevel = [&](std::size_t n, const TAnyModel& level) {
        outputs.push_back(output(level));
        return "level " + std::to_string(n);
    };
    ReductionOutcome outcome;
    drawnView.reset();
    RunReduction(*model, onOneThread, outcome, hooks);
    if (!outcome.NotForThisFormat.empty()) {
        lines.push_back("ERROR:" + outcome.NotForThisFormat + ".");
        return {};
    }
    const auto withReport = [](WebOutput& out, const std::optional<MeasuredDeviation>& deviation) {
        out.Deviation = deviation;
        if (deviation) out.DeviationLine = DeviationLine(*deviation);
    };
    for (std::size_t n = 0; n < outcome.Lods.size(); ++n) {
        const LevelOutcome& level = outcome.Lods[n];
        outputs[n].Budget = level.Budget;
        outputs[n].BudgetMet = level.BudgetMet;
        outputs[n].StoppedBecause = level.StoppedBecause;
        withReport(outputs[n], level.Deviation);
    }
    if (plan.Lods.empty()) {
        WebOutput out = output(*model);
        out.Budget = outcome.Budget;
        out.BudgetMet = outcome.BudgetMet;
        out.StoppedBecause = outcome.StoppedBecause;
        withReport(out, outcome.Deviation);
        outputs.push_back(std::move(out));
    }
    return outputs;
}

std::vector<uint8_t> WebModel::Save() const
{
    return model->SaveToBytes();
}
