// kelvane-cli reduce: models reduced to a budget, levels of detail or written
// passes through the one pipeline, and saved, alone or in batches.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <pthread.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Deviation.h"
#include "cli/OptionChecks.h"
#include "model/ByteIO.h"
#include "pipeline/Pipeline.h"
#include "pipeline/ReportLines.h"
#include "reduce/Reduce.h"

namespace {

const char* kReduceHelp = R"(How much is removed:
  With a budget (--target-tris or --ratio) vertices are merged into a
  neighbour one at a time, the one that changes the surface least first,
  where the change is weighed in every frame of the animation (in a large
  model, in up to 16 frames that span its poses), the worst frame most,
  until the model has no more triangles than the budget (one or two fewer
  at most).
  Every kept vertex keeps its place in every frame; texture seams and open
  borders are only shortened along themselves, no triangle turns over or
  flattens in any frame, and no piece of surface loses its last triangle.
  When every merge left would break one of these
  rules, the report says so and how far it got, also under --quiet; the
  file is written all the same, and the exit status is 4.
  A small model is reduced several ways (seams crossed from the start or
  not, at their texture cost; flattening weighed more or less; some started
  afresh on the way down with other rules), at once on the processors the
  files leave over, and the result nearest the input in its worst frame is
  kept.
  --lods R1,R2,... writes several levels of detail in one run, each reduced
  from the one before and named after the input with _lod1, _lod2... before
  the extension.

  With --method passes, or with --level and --passes, whole passes run instead:
  A pass removes each vertex that lies inside a closed fan of at least three
  triangles whose texture coordinates stay within 100 texels, and whose normal
  agrees with its neighbours' well enough for the level; it is merged into its
  nearest neighbour in every frame. Level 0 merges only where the normals are
  the same, level 10 ignores normals. A pass often leaves vertices that the
  next pass can take: --passes runs several in a row.
  With a budget and --method passes the passes are chosen for you: level
  0, then 1 and so on, one level up whenever a pass removes nothing, until the
  model has no more triangles than the budget, or level 10 removes nothing.
  Every pass is one pass of the window's Reduce command, so a result can be
  reproduced there by hand.

Examples:
  kelvane-cli reduce --ratio 0.5 hero.mdl -o hero-half.mdl
  kelvane-cli reduce --lods 0.5,0.25,0.1 hero.mdl --out-dir lods/
  kelvane-cli reduce --level 4 --passes 3 hero.mdl -o hero-low.mdl
  kelvane-cli reduce --ratio 0.5 models/ --out-dir models-low/ --json > report.json)";

// Progress on standard error, only when a person watches it there.
class ProgressLine {
public:
    explicit ProgressLine(bool wanted) : shown(wanted && ::isatty(STDERR_FILENO)) {}
    void Show(const std::string& text) const
    {
        if (shown) std::cerr << "\r\033[K" << text << std::flush;
    }
    void Clear() const
    {
        if (shown) std::cerr << "\r\033[K" << std::flush;
    }
    bool Shown() const { return shown; }

private:
    bool shown;
};

// Ctrl-C or SIGTERM ends a batch at once, with 128 plus the signal's number,
// leaving each output complete or absent. The signals are blocked before any
// worker starts, so every thread inherits the mask and only the watcher takes
// them, as an ordinary thread free to remove the temporary files in flight.
void endCleanlyOnInterrupt()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    auto watch = [signals] {
        int signal = 0;
        while (sigwait(&signals, &signal) != 0) {
        }
        RemoveTemporaryFilesForExit();
        // A save paused by the interrupt test must have time to go on, if anything lets it.
        if (std::getenv("KELVANE_TEST_PAUSE_SAVES")) std::this_thread::sleep_for(std::chrono::milliseconds(400));
        std::_Exit(128 + signal);
    };
    try {
        std::thread(watch).detach();
    } catch (const std::system_error&) {  // no memory for the thread: the signals end the run as they would anyway
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    } catch (const std::bad_alloc&) {
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    }
}

struct ReduceOptions {
    std::vector<std::string> Inputs;
    // The words as given, made into Plan once parsed.
    int64_t TargetTriangles = 0;
    double Ratio = 0;
    std::string Method;
    std::vector<double> Lods;
    std::string Output;
    std::string OutDir;
    bool InPlace = false;
    ReducePlan Plan;
    unsigned Threads = 1;
    bool Quiet = false;
    bool Json = false;
};

int runReduce(const ReduceOptions& options)
{
    auto planned = PlanJobs(options.Inputs, options.Output, options.OutDir, options.InPlace);
    if (auto* problem = std::get_if<std::string>(&planned)) {
        Complain(*problem);
        return kUsage;
    }
    const auto& jobs = std::get<std::vector<Job>>(planned);
    endCleanlyOnInterrupt();
    // An output folder that cannot be made is one failure, named once, not one per file.
    if (!options.OutDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.OutDir, ec);
        if (ec) {
            Complain("Cannot create the folder \"" + options.OutDir + "\": " + ec.message());
            return kFileError;
        }
    }
    const bool several = jobs.size() > 1;
    const bool printLines = !options.Quiet && !options.Json;
    const ProgressLine progress(!options.Quiet);

    int status = kAccepted;
    std::size_t finished = 0;
    nlohmann::json files = nlohmann::json::array();
    auto done = [&](std::size_t index, const JobResult& result) {
        const Job& job = jobs[index];
        const std::string prefix = several ? job.Input.string() + ": " : "";
        progress.Clear();
        const ExitStatus fileStatus = result.FileStatus();
        status = WorseStatus(ExitStatus(status), fileStatus);
        if (printLines) {
            for (const std::string& line : result.Lines) std::cout << prefix << line << '\n';
            if (result.Budget && result.Status == kAccepted) std::cout << prefix << BudgetLine(result, options.Plan.Method) << '\n';
            if (result.Deviation) std::cout << prefix << DeviationLine(*result.Deviation) << '\n';
            for (const LevelOutcome& lod : result.Lods) {
                std::cout << prefix << LevelLine(lod) << '\n';
                if (lod.Deviation) std::cout << prefix << lod.Output << ": " << DeviationLine(*lod.Deviation) << '\n';
            }
            std::cout.flush();
        }
        // Quiet still says why a model was refused, or a build rule would fail in silence.
        if (options.Quiet && result.Status == kRefused) {
            std::cout.flush();
            for (const std::string& line : ErrorLines(result.Lines)) std::cerr << job.Input.string() << ": " << line << '\n';
        }
        if (result.Status == kFileError) Complain(result.FileError);
        if (result.Status == kUsage) Complain(job.Input.string() + ": " + result.NotForThisFormat);
        // A missed budget is said under --quiet too: a build rule must not take it for success.
        if (fileStatus == kBudgetMissed && result.Budget && !result.BudgetMet)
            Complain(job.Input.string() + ": " + BudgetLine(result, options.Plan.Method) + " Written all the same.");
        for (const LevelOutcome& lod : result.Lods)
            if (!lod.BudgetMet) Complain(LevelLine(lod) + " Written all the same.");
        // Said under --quiet too: the output lacks bytes its input had.
        if (result.Status == kAccepted && !result.TrailingWarning.empty())
            Complain("warning: " + job.Input.string() + ": " + result.TrailingWarning);
        nlohmann::json entry = {{"path", job.Input.string()},
                                {"status", StatusName(fileStatus)},
                                // A refused file's header is no model's: its counts would be garbage.
                                {"before", result.Loaded ? CountsJson(result.Before) : nlohmann::json()},
                                {"levels", result.PassLevels},
                                {"passes", result.PassLevels.size()},
                                {"seconds", result.Seconds},
                                {"errors", ErrorLines(result.Lines)}};
        if (result.Loaded) entry["trailingBytes"] = result.TrailingBytes;
        // Present for every file, null when nothing was written.
        entry["after"] = nlohmann::json();
        if (result.Status == kAccepted) {
            if (result.Lods.empty()) entry["output"] = job.Output.string();
            entry["after"] = CountsJson(result.After);
        }
        if (result.Budget) entry["budget"] = {{"triangles", *result.Budget}, {"met", result.BudgetMet}};
        if (options.Plan.HasBudget() || !options.Plan.Lods.empty())
            entry["method"] = options.Plan.Method == ReduceMethod::Quadric ? "quadric" : "passes";
        if (!result.StoppedBecause.empty()) entry["stoppedBecause"] = result.StoppedBecause;
        for (const LevelOutcome& lod : result.Lods) {
            nlohmann::json level = {{"output", lod.Output}, {"after", CountsJson(lod.After)},
                                    {"budget", {{"triangles", lod.Budget}, {"met", lod.BudgetMet}}}};
            if (!lod.StoppedBecause.empty()) level["stoppedBecause"] = lod.StoppedBecause;
            if (lod.Deviation) level["deviation"] = DeviationJson(*lod.Deviation);
            entry["lods"].push_back(level);
        }
        if (result.Status == kFileError) entry["message"] = result.FileError;
        if (result.Status == kUsage) entry["message"] = result.NotForThisFormat;
        if (result.Deviation) entry["deviation"] = DeviationJson(*result.Deviation);
        files.push_back(std::move(entry));
        if (several) progress.Show("[" + std::to_string(++finished) + "/" + std::to_string(jobs.size()) + "] " + job.Input.string());
    };
    // One file: where its reduction is.
    const auto fileProgress = [&](const PipelineProgress& now) { progress.Show(jobs[0].Input.string() + ": " + now.Line); };
    RunJobs(jobs, options.Plan, options.Threads, done,
            progress.Shown() ? std::function<void(const PipelineProgress&)>(fileProgress) : nullptr);
    progress.Clear();
    if (options.Json) PrintJson(std::move(files), status);
    return status;
}

}  // namespace

Command AddReduceCommand(CLI::App& tool)
{
    auto options = std::make_shared<ReduceOptions>();
    options->Threads = std::max(1u, std::thread::hardware_concurrency());
    CLI::App* command = tool.add_subcommand("reduce", "Reduce models and save the results.");
    command->footer(kReduceHelp);
    command->add_option("INPUT", options->Inputs, "model files, or folders searched for *.mdl, *.md2 and *.md3")->required();
    // The type names MODEL, PNG and DIR tell the bash completion what to offer.
    command->add_option("-o,--output", options->Output, "the reduced model, for one INPUT")->type_name("MODEL");
    command->add_option("--out-dir", options->OutDir, "folder for the reduced models, keeping names and sub-folders")->type_name("DIR");
    command->add_flag("--in-place", options->InPlace, "replace each INPUT, once its reduced copy is complete");
    auto* level = command->add_option("--level", options->Plan.Level, "0 to 10: how far normals may differ")
                      ->check(WholeNumberIn(kMinLevel, kMaxLevel))
                      ->capture_default_str();
    auto* passes = command->add_option("--passes", options->Plan.Passes, "passes in a row, each on the last one's result")
                       ->check(WholeNumberIn(0, std::numeric_limits<int>::max()))
                       ->capture_default_str();
    // A budget of no triangles cannot be met by any model.
    auto* target = command->add_option("--target-tris", options->TargetTriangles, "a budget: at most T triangles")
                       ->check(WholeNumberIn(1, std::numeric_limits<int32_t>::max()));
    auto* share = command->add_option("--ratio", options->Ratio, "a budget: at most R (0 < R <= 1) of the triangles")->check(ShareOfOne());
    auto* methodOption = command->add_option("--method", options->Method, "how a budget is reached: quadric (the default) or passes")
                             ->check(CLI::IsMember({"quadric", "passes"}));
    auto* lodOption = command->add_option("--lods", options->Lods, "levels of detail: falling shares R1,R2,... of the triangles")
                          ->delimiter(',')
                          ->allow_extra_args(false)  // one word: the files that follow are inputs
                          ->check(ShareOfOne());
    target->excludes(share)->excludes(level)->excludes(passes);
    share->excludes(level)->excludes(passes);
    lodOption->excludes(target)->excludes(share)->excludes(level)->excludes(passes);
    methodOption->excludes(level)->excludes(passes);
    command->add_option("-j", options->Threads, "files reduced at once (default: the processors); the rest try a small model's ways at once")->check(WholeNumberIn(1, std::numeric_limits<int>::max()));
    command->add_flag("-q,--quiet", options->Quiet, "print nothing but errors");
    command->add_flag("--json", options->Json, "one JSON document instead of lines");
    command->add_flag("--measure", options->Plan.Measure, "also measure each result against its input (see compare --help); a budget always is");

    // Checked once every word is read: each depends on several options.
    command->parse_complete_callback([options, methodOption, share, target] {
        for (std::size_t n = 1; n < options->Lods.size(); ++n)
            if (options->Lods[n] >= options->Lods[n - 1]) throw CLI::ValidationError("--lods", "each share must be below the one before");
        if (methodOption->count() > 0 && share->count() + target->count() == 0 && options->Lods.empty())
            throw CLI::ValidationError("--method", "needs a budget: --ratio, --target-tris or --lods");
        if (!options->Lods.empty() && !options->Output.empty())
            throw CLI::ValidationError("--lods", "writes several files beside each input or under --out-dir; give no -o");
        if (target->count() > 0) options->Plan.TargetTriangles = options->TargetTriangles;
        if (share->count() > 0) options->Plan.Ratio = options->Ratio;
        options->Plan.Lods = options->Lods;
        options->Plan.Method = options->Method == "passes" ? ReduceMethod::Passes : ReduceMethod::Quadric;
        // A budget trades surface for triangles: its report always says how
        // much surface, over a few frames unless --measure asks for every one.
        options->Plan = WithReport(options->Plan, options->Plan.Measure);
    });
    return {command, [options] { return runReduce(*options); }};
}
