#include "pipeline/Pipeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "model/Words.h"
#include "pipeline/BestReduction.h"
#include "pipeline/Ruler.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"

namespace {

// Within one result, the reduction's share of the progress and the
// measure's: the report of a small model takes about as long as its ways.
constexpr double kReducingShare = 0.7;

// One run's progress: each level of detail an equal part, each part the
// reduction, then the measure; every report checks for a cancel first.
class ProgressSplit {
public:
    ProgressSplit(const PipelineHooks& hooks, std::size_t parts, bool measures)
        : hooks(hooks), parts(double(std::max<std::size_t>(parts, 1))), reducing(measures ? kReducingShare : 1.0)
    {
    }
    void StartPart(std::size_t part, std::string prefix)
    {
        current = double(part);
        label = std::move(prefix);
    }
    void Tell(PipelineProgress::Step step, double shareOfStep, const std::string& line) const
    {
        if (hooks.Cancel && hooks.Cancel->load()) throw ReductionCancelled{};
        if (!hooks.Progress) return;
        const double share = std::clamp(shareOfStep, 0.0, 1.0);
        const double inPart = step == PipelineProgress::Step::Measuring ? reducing + (1 - reducing) * share : reducing * share;
        hooks.Progress({step, (current + inPart) / parts, label + line});
    }
    bool Wanted() const { return hooks.Progress || hooks.Cancel; }

private:
    const PipelineHooks& hooks;
    double parts;
    double reducing;
    double current = 0;
    std::string label;
};

// Passes the model's log lines on and remembers the last two: a pass's CUT
// and MODEL INFO lines. The model's own targets are as they were afterwards.
class PassLog {
public:
    explicit PassLog(TMDLModel& model) : model(model), out(model.LogLines), shown(model.ProgressBar)
    {
        model.LogLines = [this](const std::string& line) {
            last[0] = std::exchange(last[1], line);
            if (out) out(line);
        };
    }
    PassLog(const PassLog&) = delete;
    PassLog& operator=(const PassLog&) = delete;
    ~PassLog()
    {
        model.LogLines = out;
        model.ProgressBar = shown;
    }
    // The last pass's two lines once more, as a pass that changes nothing writes them.
    void Repeat() const
    {
        for (const std::string& line : last)
            if (out) out(line);
    }

private:
    TMDLModel& model;
    LogTarget out;
    ProgressTarget shown;
    std::array<std::string, 2> last;
};

// Runs the passes a plan asks for. With a budget: passes at level 0, then 1,
// and so on, moving up when a pass removes nothing, until the triangles are
// within the budget or a pass at the highest level removes nothing.
void runPasses(TMDLModel& model, const ReducePlan& plan, ReductionOutcome& outcome, const ProgressSplit& progress)
{
    const PassLog log(model);
    const int planned = plan.HasBudget() ? 0 : plan.Passes;
    std::string passLine;
    const auto shareDone = [&] { return planned > 0 ? double(outcome.PassLevels.size()) / planned : 0.0; };
    if (progress.Wanted())
        model.ProgressBar = [&](const std::string& text) { progress.Tell(PipelineProgress::Step::Passes, shareDone(), passLine + ", " + text); };
    auto pass = [&](int level) {
        passLine = "pass " + std::to_string(outcome.PassLevels.size() + 1) + " at level " + std::to_string(level);
        progress.Tell(PipelineProgress::Step::Passes, shareDone(), passLine);
        const MDL5Header before = model.Header;
        model.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        outcome.PassLevels.push_back(level);
        return before.NumVerts != model.Header.NumVerts || before.NumTris != model.Header.NumTris ||
               before.NumSkinVerts != model.Header.NumSkinVerts;
    };
    if (!plan.HasBudget()) {
        for (int p = 0; p < plan.Passes; ++p) {
            if (pass(plan.Level)) continue;
            // A pass that removes nothing leaves the model exactly as it was, so
            // every later pass at this level would remove nothing and write the
            // same two lines again: they are written without running the passes.
            for (++p; p < plan.Passes; ++p) {
                log.Repeat();
                outcome.PassLevels.push_back(plan.Level);
            }
        }
        return;
    }
    const int64_t budget = plan.TargetTriangles ? *plan.TargetTriangles : ShareOf(*plan.Ratio, model.Header.NumTris);
    outcome.Budget = budget;
    int level = kMinLevel;
    while (model.Header.NumTris > budget) {
        if (pass(level)) continue;
        if (level == kMaxLevel) break;
        ++level;
    }
    outcome.BudgetMet = model.Header.NumTris <= budget;
}

// Reaches a budget by the collapses of least error over every frame. A ruler
// asked for is made from the collapses' own view once they are done, so that
// it is not held beside their tables.
void runCollapses(TAnyModel& model, const ReducePlan& plan, ReductionOutcome& outcome, const ProgressSplit& progress,
                  std::optional<Ruler>* ruler)
{
    const int64_t budget = plan.TargetTriangles ? *plan.TargetTriangles : ShareOf(*plan.Ratio, model.Counts().Triangles);
    MeshSurvivors survivors;
    QuadricResult result;
    {
        // The collapses' view goes before the survivors are kept: the two
        // together would hold every frame twice.
        AnimatedMesh mesh = model.Mesh({.VertexMajor = true, .Normals = false, .Skin = false, .Names = false});
        const std::function<void(double)> shown = [&progress](double done) {
            progress.Tell(PipelineProgress::Step::Collapses, done, std::to_string(int(std::lround(done * 100))) + "% of the collapses");
        };
        result = ReduceBest(mesh, budget, survivors, progress.Wanted() ? shown : nullptr, plan.WayThreads).Result;
        if (ruler && !*ruler) *ruler = RulerOf(std::move(mesh), plan.MeasureFrames);
    }
    // A reduction that removed nothing leaves every record untouched: keeping
    // all survivors would still rebuild what a format derives from its
    // triangles (MD2's GL commands), and the file would change.
    if (result.TrianglesAfter != result.TrianglesBefore) model.Keep(survivors);
    if (model.LogLines) {
        model.LogLines(model.ModelInfoLine());
        if (!result.RelaxedRules.empty()) model.LogLines("quadric collapses " + result.RelaxedRules + " to come nearer the budget.");
    }
    outcome.Budget = budget;
    outcome.BudgetMet = result.BudgetMet;
    outcome.StoppedBecause = result.StoppedBecause;
}

// One result of the plan: the collapses to a budget, or passes. Returns false,
// the model as it was, when the passes refuse its format.
bool reduceOnce(TAnyModel& model, const ReducePlan& plan, ReductionOutcome& outcome, const ProgressSplit& progress,
                std::optional<Ruler>* ruler = nullptr)
{
    if (plan.ByCollapses()) {
        runCollapses(model, plan, outcome, progress, ruler);
        return true;
    }
    TMDLModel* mdl5 = model.MDL5();
    if (!mdl5) {
        outcome.NotForThisFormat = "the reduction passes (--level, --passes, --method passes) work on MDL5 models only; this is " +
                                   WithArticle(model.FormatName()) + " model";
        return false;
    }
    runPasses(*mdl5, plan, outcome, progress);
    return true;
}

MeasuredDeviation measure(const Ruler& ruler, const TAnyModel& model, const ReducePlan& plan, const ProgressSplit& progress)
{
    MeasureOptions options;
    options.Threads = plan.MeasureThreads;
    if (progress.Wanted())
        options.Progress = [&progress](std::size_t done, std::size_t frames) {
            progress.Tell(PipelineProgress::Step::Measuring, double(done) / double(frames),
                          "measuring: " + std::to_string(done) + " of " + std::to_string(frames) + " frames");
        };
    progress.Tell(PipelineProgress::Step::Measuring, 0, "measuring");
    return MeasureAgainst(ruler, MeasureView(model, &ruler.Frames), options);
}

// Every level reduced from the one before, so that each is a subset of the
// last; budgets are shares of the model's own triangles. With ruler, each
// level is measured against the model as loaded.
void reduceLevels(TAnyModel& model, const ReducePlan& plan, ReductionOutcome& outcome, const PipelineHooks& hooks,
                  ProgressSplit& progress, const Ruler* ruler)
{
    const int64_t modelTriangles = model.Counts().Triangles;
    for (std::size_t n = 1; n <= plan.Lods.size(); ++n) {
        progress.StartPart(n - 1, "level " + std::to_string(n) + " of " + std::to_string(plan.Lods.size()) + ": ");
        ReducePlan level = plan;
        level.Ratio.reset();
        level.TargetTriangles = ShareOf(plan.Lods[n - 1], modelTriangles);
        ReductionOutcome levelOutcome;
        if (!reduceOnce(model, level, levelOutcome, progress)) {
            outcome.NotForThisFormat = levelOutcome.NotForThisFormat;
            return;
        }
        outcome.PassLevels.insert(outcome.PassLevels.end(), levelOutcome.PassLevels.begin(), levelOutcome.PassLevels.end());
        LevelOutcome lod{{}, CountsOf(model), *levelOutcome.Budget, levelOutcome.BudgetMet, levelOutcome.StoppedBecause, {}};
        if (ruler) lod.Deviation = measure(*ruler, model, plan, progress);
        if (hooks.SaveLevel) lod.Output = hooks.SaveLevel(n, model);
        outcome.Lods.push_back(std::move(lod));
    }
}

}  // namespace

ReducePlan WithReport(ReducePlan plan, bool measureEveryFrame)
{
    if (plan.HasBudget() || !plan.Lods.empty()) {
        if (!measureEveryFrame) plan.MeasureFrames = kReportFrames;
        plan.Measure = true;
    } else if (measureEveryFrame) {
        plan.Measure = true;
        plan.MeasureFrames = 0;
    }
    return plan;
}

int64_t ShareOf(double ratio, int64_t triangles)
{
    return int64_t(std::floor(ratio * double(std::max<int64_t>(triangles, 0))));
}

ModelCounts CountsOf(const TAnyModel& model)
{
    const TAnyModel::RecordCounts counts = model.Counts();
    return {int32_t(counts.Vertices), int32_t(counts.Triangles), int32_t(counts.TexCoords)};
}

bool ReductionOutcome::MissedBudget() const
{
    return (Budget && !BudgetMet) || std::any_of(Lods.begin(), Lods.end(), [](const LevelOutcome& lod) { return !lod.BudgetMet; });
}

void RunReduction(TAnyModel& model, const ReducePlan& plan, ReductionOutcome& outcome, const PipelineHooks& hooks)
{
    outcome = {};
    outcome.Before = CountsOf(model);
    ProgressSplit progress(hooks, plan.Lods.size(), plan.Measure);
    // One reduction by the collapses makes its ruler itself, from its own view.
    std::optional<Ruler> ruler;
    if (plan.Measure && (!plan.Lods.empty() || !plan.ByCollapses())) ruler = RulerOf(model, plan.MeasureFrames);
    if (!plan.Lods.empty()) {
        reduceLevels(model, plan, outcome, hooks, progress, ruler ? &*ruler : nullptr);
    } else if (reduceOnce(model, plan, outcome, progress, plan.Measure ? &ruler : nullptr)) {
        if (ruler) outcome.Deviation = measure(*ruler, model, plan, progress);
    }
    outcome.After = CountsOf(model);
}
