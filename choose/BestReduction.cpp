#include "choose/BestReduction.h"

#include <array>
#include <limits>
#include <utility>
#include <variant>

#include "measure/Measure.h"
#include "model/AnimatedMesh.h"

namespace {

struct Way {
    const char* Name;
    QuadricOptions Options;
};

// The frames a choice is measured over, and how finely: 2,000 samples a
// side put a figure within about 1% of 10,000's, so a way must lie 2% nearer
// to replace one tried before it.
constexpr int kChoiceFrames = 32;
constexpr int kChoiceSamples = 2000;
constexpr double kNearer = 0.98;

// The worst frame's RMS of survivors against mesh; infinite when it cannot
// be measured (then any way that can beats it).
double worstRms(const AnimatedMesh& mesh, const MeshSurvivors& survivors)
{
    MeasureOptions options;
    options.SamplesPerSide = kChoiceSamples;
    options.Frames = SpreadFrames(int(mesh.FrameCount), kChoiceFrames);
    options.Threads = 1;  // a batch already runs a model per processor
    const auto measured = MeasureDeviation(mesh, KeptView(mesh, survivors), options);
    const auto* summary = std::get_if<DeviationSummary>(&measured);
    return summary ? summary->Rms : std::numeric_limits<double>::infinity();
}

}  // namespace

BestReduction ReduceBest(const AnimatedMesh& mesh, int64_t targetTriangles, MeshSurvivors& survivors,
                         const std::function<void(const std::string&)>& progress)
{
    constexpr QuadricOptions kSeamsCrossed{.WeldSplitSeams = true, .CrossSeamsFromStart = true};
    constexpr QuadricOptions kFlatteningWeighed{.NewFanWeight = 128};
    constexpr QuadricOptions kBoth{.WeldSplitSeams = true, .CrossSeamsFromStart = true, .NewFanWeight = 128};
    const std::array<Way, 4> ways = {Way{"the rules as they stand", {}}, Way{"seams welded and crossed from the start", kSeamsCrossed},
                                     Way{"each collapse's own flattening weighed 128 times", kFlatteningWeighed},
                                     Way{"seams welded and crossed from the start, each collapse's own flattening weighed 128 times", kBoth}};
    BestReduction best;
    best.Result = ReduceQuadric(mesh, targetTriangles, survivors, progress, ways[0].Options);
    best.Way = ways[0].Name;
    const bool small = double(mesh.VertexCount) * mesh.FrameCount <= double(kEveryWayUpTo) &&
                       int64_t(mesh.Triangles.size()) <= kEveryWayTriangles;
    if (!small || best.Result.TrianglesAfter == best.Result.TrianglesBefore) return best;
    double bestRms = worstRms(mesh, survivors);
    for (std::size_t i = 1; i < ways.size(); ++i) {
        MeshSurvivors other;
        const QuadricResult result = ReduceQuadric(mesh, targetTriangles, other, nullptr, ways[i].Options);
        const double rms = worstRms(mesh, other);
        ++best.Ways;
        // Meeting the budget comes first; short of it, coming nearer; then the shape.
        const QuadricResult& kept = best.Result;
        const bool better = result.BudgetMet != kept.BudgetMet ? result.BudgetMet
                            : !result.BudgetMet && result.TrianglesAfter != kept.TrianglesAfter ? result.TrianglesAfter < kept.TrianglesAfter
                                                                                                 : rms < kNearer * bestRms;
        if (!better) continue;
        best.Result = result;
        best.Way = ways[i].Name;
        bestRms = rms;
        survivors = std::move(other);
    }
    return best;
}
