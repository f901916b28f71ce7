#include "web/WebModel.h"

#include <algorithm>

#include "choose/BestReduction.h"
#include "model/AnyModel.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"

namespace {

// Frames measured in one call of the ruler: each call checks both models
// whole first, so one call per frame would cost frames x triangles again and
// again, while chunks still let the page show how far it got.
constexpr std::size_t kFramesPerMeasure = 8;

// What the collapses and the ruler read: positions and texture coordinates.
constexpr MeshOptions kCollapseView{.VertexMajor = true, .Normals = false, .Skin = false};
constexpr MeshOptions kMeasureView{.VertexMajor = false, .Normals = false, .Skin = false};

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

BudgetOutcome WebModel::ReduceToBudget(int64_t budget, const ProgressSink& progress)
{
    MeshSurvivors survivors;
    QuadricResult outcome;
    {
        // The view holds every frame's positions once more: gone before the
        // model's records shrink.
        const AnimatedMesh mesh = model->Mesh(kCollapseView);
        outcome = ReduceBest(mesh, budget, survivors, progress).Result;
    }
    // A reduction that removed nothing leaves every record untouched: keeping
    // all survivors would still rebuild what a format derives from its
    // triangles (MD2's GL commands), and the file would change.
    if (outcome.TrianglesAfter != outcome.TrianglesBefore) {
        model->Keep(survivors);
        drawnView.reset();
    }
    lines.push_back(model->ModelInfoLine());
    if (!outcome.RelaxedRules.empty()) lines.push_back("quadric collapses " + outcome.RelaxedRules + " to come nearer the budget.");
    return {budget, outcome.BudgetMet, outcome.StoppedBecause};
}

bool WebModel::ReducePasses(int level, int passes, const ProgressSink& progress)
{
    TMDLModel* mdl5 = model->MDL5();  // its log now goes to lines
    if (!mdl5) return false;
    drawnView.reset();
    mdl5->ProgressBar = progress;
    for (int p = 0; p < passes; ++p) {
        if (progress) progress("pass " + std::to_string(p + 1) + " of " + std::to_string(passes));
        const MDL5Header before = mdl5->Header;
        mdl5->Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        if (!sameCounts(before, mdl5->Header)) continue;
        // A pass that removed nothing leaves the model as it was: every later
        // pass would too, so its two lines are repeated, as kelvane-cli does.
        const std::vector<std::string> unchanged(lines.end() - 2, lines.end());
        for (++p; p < passes; ++p)
            for (const std::string& line : unchanged) mdl5->Log(line);
    }
    mdl5->ProgressBar = nullptr;
    return true;
}

std::variant<DeviationSummary, std::string> WebModel::DeviationFrom(const WebModel& original,
                                                                    const std::function<void(double)>& progress) const
{
    const AnimatedMesh originalView = original.model->Mesh(kMeasureView);
    const AnimatedMesh view = model->Mesh(kMeasureView);
    const int frameCount = int(originalView.FrameCount);
    MeasureOptions options;
    options.Threads = 1;  // the page has one thread; the figures do not depend on it
    DeviationSummary summary;
    // 1. the frames in chunks, each frame measured from its own seed as in one call
    // (a model without frames makes one call, which says why it cannot be measured)
    for (int first = 0; first < std::max(frameCount, 1); first += int(kFramesPerMeasure)) {
        options.Frames.clear();
        for (int f = first; f < std::min<int>(frameCount, first + int(kFramesPerMeasure)); ++f) options.Frames.push_back(f);
        auto measured = MeasureDeviation(originalView, view, options);
        if (auto* reason = std::get_if<std::string>(&measured)) return *reason;
        DeviationSummary& part = std::get<DeviationSummary>(measured);
        summary.Frames.insert(summary.Frames.end(), part.Frames.begin(), part.Frames.end());
        summary.OriginalTriangles = part.OriginalTriangles;
        summary.OtherTriangles = part.OtherTriangles;
        summary.TextureMeasured = part.TextureMeasured;
        if (progress) progress(double(summary.Frames.size()) / frameCount);
    }
    // 2. the summary as one call would make it
    SummarizeFrames(summary);
    summary.FrameCount = frameCount;
    return summary;
}

std::vector<uint8_t> WebModel::Save() const
{
    return model->SaveToBytes();
}
