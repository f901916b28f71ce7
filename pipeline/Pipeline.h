#pragma once
// The one reduction every front end runs: a model loaded (TAnyModel, any
// format), a plan (a budget, a share, levels of detail or written passes),
// the reduction, the report of how far the result lies from the model as
// loaded, and each level of detail handed out to be saved. The window, the
// command line and the page only translate their options into a ReducePlan
// and a ReductionOutcome into widgets, lines or JSON, so that the three give
// the same bytes and the same report for the same settings.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "measure/Measure.h"

class TAnyModel;

// The frames the automatic report after a budget measures, spread evenly over
// the animation: a figure within the sampling noise of the full measure for
// smooth animations, at a small share of its time and memory.
inline constexpr int kReportFrames = 16;

// How a triangle budget is reached: by passes whose level climbs, as the
// window's Reduce command runs them, or by the collapses of least error over
// the animation (reduce/Quadric.h).
enum class ReduceMethod { Passes, Quadric };

// How many passes at which level, or a triangle budget and how to reach it.
struct ReducePlan {
    int Level = 0;
    int Passes = 1;
    std::optional<int64_t> TargetTriangles;  // a budget in triangles
    std::optional<double> Ratio;             // a budget as a share of the model's triangles
    ReduceMethod Method = ReduceMethod::Passes;
    // Levels of detail: shares of the model's triangles, falling, each level
    // reduced from the one before and handed to SaveLevel; the model is left
    // as the last level.
    std::vector<double> Lods;
    // Measure the result against the model as loaded: over every frame when
    // MeasureFrames is 0, else over that many spread evenly. A budget is
    // always measured (see WithReport).
    bool Measure = false;
    int MeasureFrames = 0;
    // The collapses' ways tried at once on a small model; the measure's
    // threads (0: one per processor). Neither changes a result.
    unsigned WayThreads = 1;
    int MeasureThreads = 0;

    // A budget for one result (levels of detail have one each).
    bool HasBudget() const { return TargetTriangles || Ratio; }
    bool ByCollapses() const { return HasBudget() && Method == ReduceMethod::Quadric; }
};

// The plan with the report every budget and every level of detail gets: over
// kReportFrames frames unless every frame was asked for (measureEveryFrame).
ReducePlan WithReport(ReducePlan plan, bool measureEveryFrame);

// The whole number of triangles below ratio times triangles: a budget is
// never exceeded by rounding.
int64_t ShareOf(double ratio, int64_t triangles);

// The counts a person reads of a model (TAnyModel::Counts).
struct ModelCounts {
    int32_t Vertices = 0;
    int32_t Triangles = 0;
    int32_t SkinVertices = 0;
};
ModelCounts CountsOf(const TAnyModel& model);

using MeasuredDeviation = std::variant<DeviationSummary, std::string>;  // the figures, or why there are none

// One level of detail as handed out.
struct LevelOutcome {
    std::string Output;  // where SaveLevel put it
    ModelCounts After;
    int64_t Budget = 0;
    bool BudgetMet = false;
    std::string StoppedBecause;
    std::optional<MeasuredDeviation> Deviation;  // when the plan measures
};

struct ReductionOutcome {
    ModelCounts Before;
    ModelCounts After;
    // Why the plan does not fit the model's format (the written passes take
    // MDL5 models only), the model left as it was; empty when it ran. The
    // model itself is sound: a front end treats this as a mistake in what
    // it was asked, not as a refused file.
    std::string NotForThisFormat;
    std::vector<int> PassLevels;      // the level of every pass run
    std::optional<int64_t> Budget;    // the triangle budget, when there was one
    bool BudgetMet = false;
    std::string StoppedBecause;       // why the collapses stopped above the budget
    std::vector<LevelOutcome> Lods;   // the levels of detail, in order
    std::optional<MeasuredDeviation> Deviation;  // of the result, when the plan measures and has no levels
    // Whether the budget, or a level of detail's, was missed.
    bool MissedBudget() const;
};

// Where a reduction is: its step, the share of the whole run done (0 to 1,
// never falling) and a line to show a person.
struct PipelineProgress {
    enum class Step { Passes, Collapses, Measuring };
    Step Doing = Step::Collapses;
    double Done = 0;
    std::string Line;
};

// Thrown out of RunReduction when Cancel is set: the model is then in no
// state to keep (a caller that may cancel reduces a copy).
struct ReductionCancelled {};

struct PipelineHooks {
    std::function<void(const PipelineProgress&)> Progress;
    // Level n (from 1) of the plan's levels of detail, as it stands: saved by
    // the front end, which returns where it went (a path, a name). Throws
    // what the saving throws.
    std::function<std::string(std::size_t n, const TAnyModel& level)> SaveLevel;
    // Read at each progress point: set, the run ends with ReductionCancelled.
    const std::atomic<bool>* Cancel = nullptr;
};

// Reduces model in place as plan says (passes, a budget, or levels of detail
// handed to hooks.SaveLevel), logging through the model's log target what the
// tool prints: each pass's lines, the result's "MODEL INFO:" line and any
// rules relaxed; and measures each result against the model as loaded when
// the plan asks. outcome fills as the run goes, so that a throw leaves what
// was done before it (the levels saved). Throws std::bad_alloc, what
// SaveLevel throws, and ReductionCancelled.
void RunReduction(TAnyModel& model, const ReducePlan& plan, ReductionOutcome& outcome, const PipelineHooks& hooks = {});
