#include "cli/Batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <iterator>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <variant>

#include "choose/BestReduction.h"
#include "cli/Ruler.h"
#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"

namespace fs = std::filesystem;

namespace {

bool isModelFile(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".mdl" || extension == ".md2" || extension == ".md3";
}

fs::path absoluteClean(const fs::path& path)
{
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return absolute.empty() ? path : absolute;
}

ModelCounts countsOf(const TAnyModel& model)
{
    const TAnyModel::RecordCounts counts = model.Counts();
    return {int32_t(counts.Vertices), int32_t(counts.Triangles), int32_t(counts.TexCoords)};
}

// A share of a triangle count is the whole number below: a budget is never exceeded by rounding.
int64_t shareOf(double ratio, int32_t triangles)
{
    return int64_t(std::floor(ratio * double(std::max(triangles, 0))));
}

int64_t budgetOf(const TAnyModel& model, const ReducePlan& plan)
{
    return plan.TargetTriangles ? *plan.TargetTriangles : shareOf(*plan.Ratio, int32_t(model.Counts().Triangles));
}

// Saves model to output, making its folders first when the job may.
void saveTo(const TAnyModel& model, const fs::path& output, const Job& job)
{
    if (job.CreateFolders && output.has_parent_path()) fs::create_directories(output.parent_path());
    model.SaveToFile(output.string());
}

// Runs the passes a plan asks for. With a budget: passes at level 0, then 1,
// and so on, moving up when a pass removes nothing, until the triangles are
// within the budget or a pass at the highest level removes nothing.
void runPasses(TMDLModel& model, const ReducePlan& plan, JobResult& result,
               const std::function<void(const std::string&)>& progress)
{
    auto pass = [&](int level) {
        if (progress) progress("pass " + std::to_string(result.PassLevels.size() + 1) + " at level " + std::to_string(level));
        const MDL5Header before = model.Header;
        model.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        result.PassLevels.push_back(level);
        return before.NumVerts != model.Header.NumVerts || before.NumTris != model.Header.NumTris ||
               before.NumSkinVerts != model.Header.NumSkinVerts;
    };
    if (!plan.HasBudget()) {
        for (int p = 0; p < plan.Passes; ++p) {
            if (pass(plan.Level)) continue;
            // A pass that removes nothing leaves the model exactly as it was, so
            // every later pass at this level would remove nothing and write the
            // same two lines again: they are written without running the passes.
            const std::vector<std::string> unchanged(result.Lines.end() - 2, result.Lines.end());
            for (++p; p < plan.Passes; ++p) {
                for (const std::string& line : unchanged) model.Log(line);
                result.PassLevels.push_back(plan.Level);
            }
        }
        return;
    }
    const int64_t budget = plan.TargetTriangles ? *plan.TargetTriangles : shareOf(*plan.Ratio, model.Header.NumTris);
    result.Budget = budget;
    int level = kMinLevel;
    while (model.Header.NumTris > budget) {
        if (pass(level)) continue;
        if (level == kMaxLevel) break;
        ++level;
    }
    result.BudgetMet = model.Header.NumTris <= budget;
}

// Reaches a budget by the collapses of least error over every frame. A ruler
// asked for is made from the collapses' own view once they are done, so that
// it is not held beside their tables.
void runQuadric(TAnyModel& model, int64_t budget, JobResult& result, const std::function<void(const std::string&)>& progress,
                std::optional<Ruler>* ruler, const ReducePlan& plan)
{
    MeshSurvivors survivors;
    QuadricResult outcome;
    {
        // The collapses' view goes before the survivors are kept: the two
        // together would hold every frame twice.
        AnimatedMesh mesh = model.Mesh({.VertexMajor = true, .Normals = false, .Skin = false, .Names = false});
        outcome = ReduceBest(mesh, budget, survivors, progress, plan.WayThreads).Result;
        if (ruler && !*ruler) *ruler = RulerOf(std::move(mesh), plan.MeasureFrames);
    }
    if (outcome.TrianglesAfter != outcome.TrianglesBefore) model.Keep(survivors);
    model.LogLines(model.ModelInfoLine());
    if (!outcome.RelaxedRules.empty()) model.LogLines("quadric collapses " + outcome.RelaxedRules + " to come nearer the budget.");
    result.Budget = budget;
    result.BudgetMet = outcome.BudgetMet;
    result.StoppedBecause = outcome.StoppedBecause;
}

bool byCollapses(const ReducePlan& plan)
{
    return plan.HasBudget() && plan.Method == ReduceMethod::Quadric;
}

// The written pass knows MDL5 alone; other formats are refused for it with
// a line in the style of the loaders' own. Returns false when refused.
bool reduce(TAnyModel& model, const ReducePlan& plan, JobResult& result, const std::function<void(const std::string&)>& progress,
            std::optional<Ruler>* ruler = nullptr)
{
    if (byCollapses(plan)) {
        runQuadric(model, budgetOf(model, plan), result, progress, ruler, plan);
        return true;
    }
    TMDLModel* mdl5 = model.MDL5();
    if (!mdl5) {
        model.LogLines("ERROR:The reduction passes (--level, --passes, --method passes) work on MDL5 models only; this is a " +
                       model.FormatName() + " model.");
        result.Status = kRefused;
        return false;
    }
    runPasses(*mdl5, plan, result, progress);
    return true;
}

// Every level reduced from the one before, so that each is a subset of the
// last; budgets are shares of the file's own triangles. With ruler, each
// level is measured against the model as loaded.
void writeLods(TAnyModel& model, const Job& job, const ReducePlan& plan, JobResult& result,
               const std::function<void(const std::string&)>& progress, const Ruler* ruler)
{
    const auto fileTriangles = int32_t(model.Counts().Triangles);
    for (std::size_t n = 1; n <= plan.Lods.size(); ++n) {
        ReducePlan level = plan;
        level.Ratio.reset();
        level.TargetTriangles = shareOf(plan.Lods[n - 1], fileTriangles);
        // The model logs into result's lines, a refusal of the passes among them.
        JobResult levelResult;
        if (!reduce(model, level, levelResult, progress)) {
            result.Status = levelResult.Status;
            return;
        }
        result.PassLevels.insert(result.PassLevels.end(), levelResult.PassLevels.begin(), levelResult.PassLevels.end());
        LodResult lod{LodPath(job, n), countsOf(model), *levelResult.Budget, levelResult.BudgetMet, levelResult.StoppedBecause, {}};
        if (ruler) lod.Deviation = MeasureAgainst(*ruler, MeasureView(model, &ruler->Frames));
        saveTo(model, lod.Output, job);
        result.Lods.push_back(lod);
    }
}

}  // namespace

std::string TrailingBytesWarning(const TMDLModel& model)
{
    if (model.TrailingBytes == 0) return {};
    const char* last = !model.Frames.empty()          ? "frame"
                       : !model.Triangles.Items.empty() ? "triangle"
                       : !model.SkinVerts.Items.empty() ? "skin vertex"
                       : !model.Skins.empty()           ? "skin"
                                                        : "header";
    return std::to_string(model.TrailingBytes) + (model.TrailingBytes == 1 ? " byte" : " bytes") + " after the last " + last +
           (model.TrailingBytes == 1 ? " is" : " are") + " not part of the model";
}

ExitStatus WorseStatus(ExitStatus a, ExitStatus b)
{
    // A usage error ends a run before any file, so it never meets another.
    static constexpr int kRank[] = {/*accepted*/ 0, /*refused*/ 2, /*usage*/ 4, /*file error*/ 3, /*budget missed*/ 1};
    return kRank[a] >= kRank[b] ? a : b;
}

ExitStatus JobResult::FileStatus() const
{
    if (Status != kAccepted) return Status;
    const bool missed = (Budget && !BudgetMet) || std::any_of(Lods.begin(), Lods.end(), [](const LodResult& lod) { return !lod.BudgetMet; });
    return missed ? kBudgetMissed : kAccepted;
}

std::string NotEnoughMemoryFor(const std::string& what)
{
    return "Not enough memory for \"" + what + "\"";
}

std::vector<std::string> ErrorLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> errors;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(errors),
                 [](const std::string& line) { return line.rfind("ERROR:", 0) == 0; });
    return errors;
}

std::variant<std::vector<Job>, std::string> PlanJobs(const std::vector<std::string>& inputs, const std::string& output,
                                                     const std::string& outDir, bool inPlace)
{
    std::vector<Job> jobs;
    std::string emptyFolders;  // named when they are all there is
    const fs::path outFolder = outDir.empty() ? fs::path() : absoluteClean(outDir);
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            // A missing or unreadable file is that file's own failure, reported when it runs.
            jobs.push_back({input, outDir.empty() ? fs::path() : fs::path(outDir) / fs::path(input).filename(), !outDir.empty()});
            continue;
        }
        std::vector<fs::path> found;
        for (auto it = fs::recursive_directory_iterator(input, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!outFolder.empty() && it->is_directory() && absoluteClean(it->path()) == outFolder) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file() && isModelFile(it->path())) found.push_back(it->path());
        }
        if (ec) return "cannot search the folder \"" + input + "\": " + ec.message();
        std::sort(found.begin(), found.end());  // the same order on every machine
        if (found.empty()) emptyFolders += (emptyFolders.empty() ? "\"" : ", \"") + input + "\"";
        for (const fs::path& file : found)
            jobs.push_back({file, outDir.empty() ? fs::path() : fs::path(outDir) / file.lexically_relative(input), !outDir.empty()});
    }
    if (jobs.empty()) return "no model files (*.mdl) in " + emptyFolders;
    // A file named twice would be reduced twice, or by two threads at once.
    std::map<fs::path, fs::path> inputsSeen;
    for (const Job& job : jobs)
        if (auto [it, added] = inputsSeen.emplace(absoluteClean(job.Input), job.Input); !added)
            return "\"" + job.Input.string() + "\" is given more than once";

    if (inPlace) {
        if (!output.empty() || !outDir.empty()) return std::string("--in-place writes each file over itself; give no -o or --out-dir");
        for (Job& job : jobs) job.Output = job.Input;
        return jobs;
    }
    if (outDir.empty()) {
        if (output.empty()) return std::string("say where to write: -o OUTPUT, --out-dir DIR or --in-place");
        if (jobs.size() > 1) return std::string("several models need --out-dir DIR instead of -o");
        jobs[0].Output = output;
    } else if (!output.empty()) {
        return std::string("give either -o or --out-dir, not both");
    }

    // Two inputs may not share an output, and no output may be an input.
    std::map<fs::path, fs::path> outputs;
    for (const Job& job : jobs) {
        const fs::path target = absoluteClean(job.Output);
        if (inputsSeen.count(target)) return "the output \"" + job.Output.string() + "\" is an input; use --in-place to replace inputs";
        if (auto [it, added] = outputs.emplace(target, job.Input); !added)
            return "\"" + it->second.string() + "\" and \"" + job.Input.string() + "\" would both be written to \"" + job.Output.string() + "\"";
    }
    return jobs;
}

fs::path LodPath(const Job& job, std::size_t n)
{
    const fs::path name = job.Input.stem().string() + "_lod" + std::to_string(n) + job.Input.extension().string();
    return job.Output.has_parent_path() ? job.Output.parent_path() / name : name;
}

JobResult RunJob(const Job& job, const ReducePlan& plan, const std::function<void(const std::string&)>& progress)
{
    const auto start = std::chrono::steady_clock::now();
    JobResult result;
    TAnyModel model;
    model.LogLines = [&result](const std::string& line) { result.Lines.push_back(line); };
    try {
        const bool accepted = model.LoadFromFile(job.Input.string());
        result.Before = countsOf(model);
        // Only MDL5 leaves bytes after its model unread; the others write them back.
        if (TMDLModel* mdl5 = model.MDL5()) {
            if (progress) mdl5->ProgressBar = [&progress](const std::string& text) { progress(text); };
            result.TrailingBytes = mdl5->TrailingBytes;
            result.TrailingWarning = TrailingBytesWarning(*mdl5);
        }
        if (!accepted) {
            result.Status = kRefused;  // nothing is written for a refused model
        } else {
            result.Loaded = true;
            // One reduction by the collapses makes its ruler itself.
            std::optional<Ruler> ruler;
            if (plan.Measure && (!plan.Lods.empty() || !byCollapses(plan))) ruler = RulerOf(model, plan.MeasureFrames);
            if (!plan.Lods.empty()) {
                writeLods(model, job, plan, result, progress, ruler ? &*ruler : nullptr);
                result.After = countsOf(model);
            } else if (reduce(model, plan, result, progress, plan.Measure ? &ruler : nullptr)) {
                result.After = countsOf(model);
                if (ruler) result.Deviation = MeasureAgainst(*ruler, MeasureView(model, &ruler->Frames));
                saveTo(model, job.Output, job);
            }
        }
    } catch (const std::system_error& error) {  // the file layer, and creating output folders
        result.Status = kFileError;
        result.FileError = error.what();
    } catch (const std::bad_alloc&) {
        result.Status = kFileError;
        result.FileError = NotEnoughMemoryFor(job.Input.string());
    }
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

void RunJobs(const std::vector<Job>& jobs, const ReducePlan& plan, unsigned threads,
             const std::function<void(std::size_t, const JobResult&)>& done,
             const std::function<void(const std::string&)>& progress)
{
    std::vector<std::optional<JobResult>> results(jobs.size());
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    const unsigned count = std::max(1u, std::min<unsigned>(threads, unsigned(jobs.size())));
    // Threads the files leave over go to the ways of each file's collapses.
    ReducePlan shared = plan;
    shared.WayThreads = std::max(1u, threads / count);
    auto worker = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            JobResult result = RunJob(jobs[i], shared, jobs.size() == 1 ? progress : nullptr);
            std::lock_guard lock(mutex);
            results[i] = std::move(result);
            finished.notify_all();
        }
    };
    std::vector<std::jthread> pool;
    try {
        for (unsigned t = 0; t < count; ++t) pool.emplace_back(worker);
    } catch (const std::system_error&) {  // no memory for another thread's stack: go on with fewer
    } catch (const std::bad_alloc&) {
    }
    if (pool.empty()) worker();  // not even one: this thread runs them all
    // Results go out in the order of the jobs, whatever order they finish in.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return results[i].has_value(); });
        const JobResult result = std::move(*results[i]);
        results[i].reset();
        lock.unlock();
        done(i, result);
    }
}
