#include "choose/BestReduction.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <future>
#include <limits>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

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
                         const std::function<void(const std::string&)>& progress, unsigned threads)
{
    constexpr QuadricOptions kSeamsCrossed{.WeldSplitSeams = true, .CrossSeamsFromStart = true};
    constexpr QuadricOptions kFlatteningWeighed{.NewFanWeight = 128};
    constexpr QuadricOptions kBoth{.WeldSplitSeams = true, .CrossSeamsFromStart = true, .NewFanWeight = 128};
    const std::array<Way, 4> ways = {Way{"the rules as they stand", {}}, Way{"seams welded and crossed from the start", kSeamsCrossed},
                                     Way{"each collapse's own flattening weighed 128 times", kFlatteningWeighed},
                                     Way{"seams welded and crossed from the start, each collapse's own flattening weighed 128 times", kBoth}};
    const bool small = double(mesh.VertexCount) * mesh.FrameCount <= double(kEveryWayUpTo) &&
                       int64_t(mesh.Triangles.size()) <= kEveryWayTriangles;

    // Each way reduced and measured on its own, the later ones on helper
    // threads while the first runs here (with the progress); the choice is
    // then made in order, so that it never depends on how many ran at once.
    struct Tried {
        MeshSurvivors Survivors;
        QuadricResult Result;
        double Rms = std::numeric_limits<double>::infinity();
        std::exception_ptr Failure;
    };
    std::array<Tried, ways.size()> tried;
    std::atomic<std::size_t> nextWay{1};
    const auto tryWays = [&] {
        for (std::size_t i; (i = nextWay++) < ways.size();) {
            try {
                tried[i].Result = ReduceQuadric(mesh, targetTriangles, tried[i].Survivors, nullptr, ways[i].Options);
                tried[i].Rms = worstRms(mesh, tried[i].Survivors);
            } catch (...) {
                tried[i].Failure = std::current_exception();
            }
        }
    };
    {
        // A future of std::async waits for its thread when it goes, so the
        // helpers are done before anything they write is read, also when a
        // way here throws.
        std::vector<std::future<void>> helpers;
        if (small) {
            try {
                for (unsigned t = 1; t < std::min<std::size_t>(threads, ways.size()); ++t)
                    helpers.push_back(std::async(std::launch::async, tryWays));
            } catch (const std::system_error&) {  // no thread to be had: the ways left run here
            }
        }
        tried[0].Result = ReduceQuadric(mesh, targetTriangles, tried[0].Survivors, progress, ways[0].Options);
        if (small && tried[0].Result.TrianglesAfter != tried[0].Result.TrianglesBefore) {
            tried[0].Rms = worstRms(mesh, tried[0].Survivors);
            tryWays();
        } else {
            nextWay = ways.size();  // helpers still starting find nothing left
        }
    }
    BestReduction best;
    best.Result = tried[0].Result;
    best.Way = ways[0].Name;
    survivors = std::move(tried[0].Survivors);
    if (!small || best.Result.TrianglesAfter == best.Result.TrianglesBefore) return best;
    double bestRms = tried[0].Rms;
    for (std::size_t i = 1; i < ways.size(); ++i) {
        if (tried[i].Failure) std::rethrow_exception(tried[i].Failure);
        const QuadricResult& result = tried[i].Result;
        ++best.Ways;
        // Meeting the budget comes first; short of it, coming nearer; then the shape.
        const QuadricResult& kept = best.Result;
        const bool better = result.BudgetMet != kept.BudgetMet ? result.BudgetMet
                            : !result.BudgetMet && result.TrianglesAfter != kept.TrianglesAfter ? result.TrianglesAfter < kept.TrianglesAfter
                                                                                                 : tried[i].Rms < kNearer * bestRms;
        if (!better) continue;
        best.Result = result;
        best.Way = ways[i].Name;
        bestRms = tried[i].Rms;
        survivors = std::move(tried[i].Survivors);
    }
    return best;
}
