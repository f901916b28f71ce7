#pragma once
// The page's view of one model file. Everything the page does that depends on
// the file's format goes through this class, and only WebModel.cpp names a
// format's classes: a format added to the core reaches the page there alone.
// Each reduction is the pipeline's, as kelvane-cli reduce runs it for the same
// settings, so the saved bytes and the report are the tool's.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "measure/Measure.h"
#include "pipeline/Pipeline.h"
#include "model/AnimatedMesh.h"
#include "model/Geometry.h"
#include "render/Render.h"

class TAnyModel;

struct SkinSummary {
    int32_t Type = 0;  // MDL5's skin type; -1 for a format that has none
    int32_t Width = 0;
    int32_t Height = 0;
};

struct ModelSummary {
    std::string Format;  // "MDL5", "Quake MDL", "MD2" or "MD3"
    int32_t Vertices = 0;
    int32_t Triangles = 0;
    // Texture coordinates as the file counts them: MDL5's skin vertices and
    // MD2's records; one per vertex in Quake MDL and MD3.
    int32_t SkinVertices = 0;
    std::vector<std::string> FrameNames;  // one per frame, up to its first zero byte
    // Every skin of an MDL5 file; the first (the one drawn) of a Quake MDL
    // file; none for MD2 and MD3, whose files name their skins but hold none.
    std::vector<SkinSummary> Skins;
    bool WrittenPasses = false;  // ReducePasses works on this format
};

// One file the tool would write for a plan: its bytes, counts and log lines,
// the budget and whether it was met, and its report with the report's line.
struct WebOutput {
    std::vector<uint8_t> Bytes;
    ModelCounts Counts;
    std::vector<std::string> Lines;  // the container's lines of this output
    std::optional<int64_t> Budget;
    bool BudgetMet = false;
    std::string StoppedBecause;
    std::optional<MeasuredDeviation> Deviation;
    std::string DeviationLine;       // the tool's DEVIATION line; empty without a report
};

class WebModel {
public:
    WebModel();
    WebModel(const WebModel& other);
    ~WebModel();

    // The formats the page opens, as a person reads them ("MDL5, Quake MDL,
    // MD2 and MD3 models").
    static const char* FormatsName();
    // The file names it opens, for a file picker's accept list (".mdl,.md2,.md3").
    static const char* FileExtensions();

    // Replaces the held model by the one in bytes, of whichever format their
    // first four bytes name. Returns true when the file was accepted; Lines()
    // then holds the container's log lines of the load (the "ERROR:" lines of
    // a refusal among them).
    bool Load(std::span<const uint8_t> bytes);
    bool Accepted() const { return accepted; }
    const std::vector<std::string>& Lines() const { return lines; }

    ModelSummary Summary() const;
    int32_t Triangles() const;
    // The box of every frame, for a camera that stays put through the animation.
    WorldBox AnimationBox() const;
    RGBAImage Render(const RenderOptions& options, const WorldBox& view) const;

    // Reduces the model as `kelvane-cli reduce` does for the same plan, in
    // any format (the written passes take MDL5 only: another format is left
    // as it is, with its ERROR: line, and nothing returned), through the one
    // pipeline, on one thread. Returns one output per file the tool would
    // write: the result, or each level of detail. Throws ReductionCancelled
    // when progress asks for it.
    std::vector<WebOutput> Reduce(const ReducePlan& plan, const std::function<void(const PipelineProgress&)>& progress);

    // The bytes kelvane-cli would write for this model.
    std::vector<uint8_t> Save() const;

private:
    // The view the renderer draws, kept while the model stays as it is: a
    // page redraws at every turn of the camera, and the view is built from
    // every frame.
    const AnimatedMesh& DrawnView() const;

    std::unique_ptr<TAnyModel> model;
    std::vector<std::string> lines;
    bool accepted = false;
    mutable std::optional<AnimatedMesh> drawnView;
};
