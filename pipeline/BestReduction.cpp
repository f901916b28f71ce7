#include "pipeline/BestReduction.h"

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

// A way that starts afresh, with options of its own, from where way From
// passed Midway times the budget: from there the collapses see the surface
// as it is then (its planes, borders and seams), as a further level of detail
// would, and the other rules may find a way the first ones had closed.
struct Afresh {
    const char* Name;
    std::size_t From;
    double Midway;
    QuadricOptions Then;
};

// The frames a choice is measured over, and how finely: 2,000 samples a
// side put a figure within about 1% of 10,000's, so a way must lie 2% nearer
// to replace one tried before it.
constexpr int kChoiceFrames = 32;
constexpr int kChoiceSamples = 2000;
constexpr double kNearer = 0.98;

// Each way has kept vertices' places handed to removed ones where that
// brings the surface nearer (RepickSurvivors), when the measure agrees. The
// hand-over weighs only the vertices and triangles about each place, so a
// frame the choice does not measure, where the whole lies furthest, may come
// out worse: the way chosen keeps it only when the measure agrees over every
// frame too (up to so many, with fewer samples).
constexpr int kRepickFrames = 128;
constexpr int kRepickSamples = 500;

// The worst frame's RMS of survivors against mesh; infinite when it cannot
// be measured (then any way that can beats it).
double worstRms(const AnimatedMesh& mesh, const MeshSurvivors& survivors, int frames = kChoiceFrames, int samples = kChoiceSamples)
{
    MeasureOptions options;
    options.SamplesPerSide = samples;
    options.Frames = SpreadFrames(int(mesh.FrameCount), frames);
    options.Threads = 1;  // a batch already runs a model per processor
    const auto measured = MeasureDeviation(mesh, KeptView(mesh, survivors), options);
    const auto* summary = std::get_if<DeviationSummary>(&measured);
    return summary ? summary->Rms : std::numeric_limits<double>::infinity();
}

}  // namespace

BestReduction ReduceBest(const AnimatedMesh& mesh, int64_t targetTriangles, MeshSurvivors& survivors,
                         const std::function<void(double)>& progress, unsigned threads)
{
    constexpr QuadricOptions kSeamsCrossed{.WeldSplitSeams = true, .CrossSeamsFromStart = true};
    constexpr QuadricOptions kFlatteningWeighed{.NewFanWeight = 128};
    constexpr QuadricOptions kBoth{.WeldSplitSeams = true, .CrossSeamsFromStart = true, .NewFanWeight = 128};
    constexpr QuadricOptions kBordersFree{.MoveBordersFromStart = true};
    // Frame 0's shape alone, the flips still checked in every frame: where the
    // pose a model is built in says most about its shape (a walk's legs).
    constexpr QuadricOptions kFirstFrame{.ErrorFrames = 1, .EveryFrameUpTo = 0, .NewFanWeight = 64};
    const std::array<Way, 6> ways = {Way{"the rules as they stand", {}}, Way{"seams welded and crossed from the start", kSeamsCrossed},
                                     Way{"each collapse's own flattening weighed 128 times", kFlatteningWeighed},
                                     Way{"seams welded and crossed from the start, each collapse's own flattening weighed 128 times", kBoth},
                                     Way{"open borders free to move off their line from the start", kBordersFree},
                                     Way{"the error of frame 0 alone, each collapse's own flattening weighed 64 times", kFirstFrame}};
    const std::array<Afresh, 3> afresh = {
        Afresh{"the rules as they stand down to 1.5 times the budget, then afresh with seams welded and crossed, each collapse's "
               "own flattening weighed 128 times",
               0, 1.5, kBoth},
        Afresh{"seams welded and crossed down to twice the budget, then afresh with the rules as they stand, each collapse's own "
               "flattening weighed 128 times",
               1, 2, kFlatteningWeighed},
        Afresh{"seams welded and crossed, each collapse's own flattening weighed 128 times, down to twice the budget, then afresh "
               "with seams welded and crossed",
               3, 2, kSeamsCrossed}};
    const bool small = double(mesh.VertexCount) * mesh.FrameCount <= double(kEveryWayUpTo) &&
                       int64_t(mesh.Triangles.size()) <= kEveryWayTriangles;

    // Each way reduced and measured on its own, with the way that starts
    // afresh from where it passed, the later ones on helper threads while the
    // first runs here (with the progress); the choice is then made in order,
    // so that it never depends on how many ran at once.
    struct Tried {
        bool Done = false;
        const char* Name = nullptr;
        MeshSurvivors Survivors;
        MeshSurvivors Unpicked;  // before places changed hands, when they did
        QuadricResult Result;
        double Rms = std::numeric_limits<double>::infinity();
        std::exception_ptr Failure;
    };
    std::array<Tried, ways.size() + afresh.size()> tried;
    const auto repick = [&](Tried& way) {
        MeshSurvivors repicked = way.Survivors;
        if (RepickSurvivors(mesh, repicked) == 0) return;
        const double rms = worstRms(mesh, repicked);
        if (!(rms < way.Rms)) return;
        way.Unpicked = std::exchange(way.Survivors, std::move(repicked));
        way.Rms = rms;
    };
    const auto runWay = [&](std::size_t i, const std::function<void(double)>& shown) {
        // A waypoint at or above the input's triangles would start afresh from
        // the input: a way of the first four again.
        const Afresh* next = nullptr;
        for (const Afresh& a : afresh)
            if (a.From == i && small && double(targetTriangles) * a.Midway < double(mesh.Triangles.size())) next = &a;
        MeshSurvivors passed;
        uint32_t passedRelaxations = kRelaxNone;
        QuadricWaypoint waypoint;
        if (next) waypoint = {int64_t(double(targetTriangles) * next->Midway), &passed, &passedRelaxations};
        tried[i].Result = ReduceQuadric(mesh, targetTriangles, tried[i].Survivors, shown, ways[i].Options, waypoint);
        tried[i].Name = ways[i].Name;
        tried[i].Done = true;
        if (!small || tried[i].Result.TrianglesAfter == tried[i].Result.TrianglesBefore) return;
        tried[i].Rms = worstRms(mesh, tried[i].Survivors);
        repick(tried[i]);
        if (!next) return;
        if (passed.Triangles.empty()) {
            // Stopped above the waypoint: afresh from where it stopped.
            if (tried[i].Result.BudgetMet) return;
            passed = tried[i].Unpicked.Triangles.empty() ? tried[i].Survivors : tried[i].Unpicked;
            passedRelaxations = tried[i].Result.Relaxations;
        }
        Tried& fresh = tried[ways.size() + std::size_t(next - afresh.data())];
        fresh.Name = next->Name;
        MeshSurvivors rest;
        fresh.Result = ReduceQuadric(KeptView(mesh, passed), targetTriangles, rest, nullptr, next->Then);
        fresh.Result.TrianglesBefore = tried[i].Result.TrianglesBefore;
        fresh.Result.Relaxations |= passedRelaxations;
        fresh.Result.RelaxedRules = RelaxedRulesText(fresh.Result.Relaxations);
        fresh.Survivors = ChainedSurvivors(passed, std::move(rest));
        fresh.Rms = worstRms(mesh, fresh.Survivors);
        repick(fresh);
        fresh.Done = true;
    };
    std::atomic<std::size_t> nextWay{1};
    // Set when the first way's progress throws: the other ways end at their next tenth.
    std::atomic<bool> abandoned{false};
    struct Abandoned {};
    const std::function<void(double)> untilAbandoned = [&abandoned](double) {
        if (abandoned) throw Abandoned{};
    };
    const auto tryWays = [&] {
        for (std::size_t i; (i = nextWay++) < ways.size();) {
            try {
                runWay(i, untilAbandoned);
            } catch (...) {
                tried[i].Failure = std::current_exception();
            }
        }
    };
    const std::function<void(double)> shown = [&](double done) {
        try {
            if (progress) progress(done);
        } catch (...) {
            abandoned = true;
            nextWay = ways.size();
            throw;
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
        runWay(0, progress ? shown : nullptr);
        if (small && tried[0].Result.TrianglesAfter != tried[0].Result.TrianglesBefore) tryWays();
        else nextWay = ways.size();  // helpers still starting find nothing left
    }
    BestReduction best;
    best.Result = tried[0].Result;
    best.Way = tried[0].Name;
    survivors = std::move(tried[0].Survivors);
    if (!small || best.Result.TrianglesAfter == best.Result.TrianglesBefore) return best;
    double bestRms = tried[0].Rms;
    std::size_t chosen = 0;
    for (std::size_t i = 1; i < tried.size(); ++i) {
        if (tried[i].Failure) std::rethrow_exception(tried[i].Failure);
        if (!tried[i].Done) continue;
        const QuadricResult& result = tried[i].Result;
        ++best.Ways;
        // Meeting the budget comes first; short of it, coming nearer; then the shape.
        const QuadricResult& kept = best.Result;
        const bool better = result.BudgetMet != kept.BudgetMet ? result.BudgetMet
                            : !result.BudgetMet && result.TrianglesAfter != kept.TrianglesAfter ? result.TrianglesAfter < kept.TrianglesAfter
                                                                                                 : tried[i].Rms < kNearer * bestRms;
        if (!better) continue;
        best.Result = result;
        best.Way = tried[i].Name;
        bestRms = tried[i].Rms;
        survivors = std::move(tried[i].Survivors);
        chosen = i;
    }
    const MeshSurvivors& unpicked = tried[chosen].Unpicked;
    if (!unpicked.Triangles.empty() &&
        !(worstRms(mesh, survivors, kRepickFrames, kRepickSamples) < worstRms(mesh, unpicked, kRepickFrames, kRepickSamples)))
        survivors = unpicked;
    return best;
}
