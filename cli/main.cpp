// kelvane-cli: the model container and the reduction pass from the command line,
// for one model or whole folders of them.
//
// Exit status: 0 every file accepted, 1 a file refused, 2 usage error,
// 3 a file could not be read or written or did not fit in memory, 4 a budget
// was not met (the file is still written). Several files give the worst of
// them: 3, then 1, then 4.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <pthread.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/OptionChecks.h"
#include "cli/Deviation.h"
#include "cli/Report.h"
#include "model/AnyModel.h"
#include "model/ByteIO.h"
#include "reduce/Reduce.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "0.0.0"
#endif

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

std::string statusName(ExitStatus status)
{
    switch (status) {
    case kAccepted: return "accepted";
    case kRefused: return "refused";
    case kFileError: return "error";
    case kBudgetMissed: return "over budget";
    default: return "usage";
    }
}

nlohmann::json countsJson(const ModelCounts& counts)
{
    return {{"vertices", counts.Vertices}, {"triangles", counts.Triangles}, {"skinVertices", counts.SkinVertices}};
}

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

// One JSON document on standard output. File names are bytes, not always
// UTF-8: a byte that is not is replaced rather than ending the run.
void printJson(nlohmann::json files, int status)
{
    nlohmann::json document = nlohmann::json::object();
    document["files"] = std::move(files);
    document["status"] = status;
    std::cout << DumpJson(document) << '\n';
}

std::string budgetLine(const JobResult& result, ReduceMethod method)
{
    if (method == ReduceMethod::Quadric) {
        const std::string line = "quadric collapses: " + std::to_string(result.After.Triangles) + " triangles, ";
        if (result.BudgetMet) return line + "within the budget of " + std::to_string(*result.Budget) + ".";
        return line + "over the budget of " + std::to_string(*result.Budget) + ": " + result.StoppedBecause + ".";
    }
    std::vector<int> used;
    for (int level : result.PassLevels)
        if (used.empty() || used.back() != level) used.push_back(level);
    std::string levels;
    for (int level : used) levels += (levels.empty() ? "" : ", ") + std::to_string(level);
    std::string line = "levels " + (levels.empty() ? std::string("none") : levels) + " in " + std::to_string(result.PassLevels.size()) +
                       " passes; " + std::to_string(result.After.Triangles) + " triangles, ";
    if (result.BudgetMet) return line + "within the budget of " + std::to_string(*result.Budget) + ".";
    return line + "over the budget of " + std::to_string(*result.Budget) + ": a pass at level 10 removed nothing more.";
}

// "hero_lod2.mdl: 144 triangles, within the budget of 144." or why not.
std::string lodLine(const LodResult& lod)
{
    const std::string budget = "the budget of " + std::to_string(lod.Budget);
    const std::string why = lod.StoppedBecause.empty() ? "a pass at level 10 removed nothing more" : lod.StoppedBecause;
    return lod.Output.string() + ": " + std::to_string(lod.After.Triangles) + " triangles, " +
           (lod.BudgetMet ? "within " + budget + "." : "over " + budget + ": " + why + ".");
}

struct InfoOptions {
    std::vector<std::string> Files;
    bool Details = false;
    bool Json = false;
};

// One file for info: its lines, the details when asked for, and its entry
// in files with --json. Plain lines are printed as the container writes
// them, and details only built when asked for: a file of a million frames
// costs no more than its model.
ExitStatus infoOfFile(const std::string& file, const InfoOptions& options, bool several, nlohmann::json& files)
{
    TAnyModel model;
    std::vector<std::string> lines;
    model.LogLines = [&](const std::string& line) {
        if (options.Json || options.Details) lines.push_back(line);
        else std::cout << (several ? file + ": " : "") << line << '\n';
    };
    nlohmann::json entry = {{"path", file}};
    ExitStatus status = kAccepted;
    try {
        status = model.LoadFromFile(file) ? kAccepted : kRefused;
    } catch (const std::system_error& error) {
        status = kFileError;
        entry["message"] = error.what();
        Complain(error.what());
    }
    // Said even with --json, where standard output holds only the document.
    const TMDLModel* mdl5 = model.MDL5();
    if (const std::string warning = mdl5 ? TrailingBytesWarning(*mdl5) : ""; status == kAccepted && !warning.empty())
        Complain("warning: " + file + ": " + warning);
    if (options.Json) {
        entry["status"] = statusName(status);
        entry["lines"] = lines;
        entry["errors"] = ErrorLines(lines);
        if (status == kAccepted) {
            entry["details"] = ModelDetails(model);
            entry["trailingBytes"] = mdl5 ? mdl5->TrailingBytes : 0;
        }
        files.push_back(std::move(entry));
    } else if (options.Details && status != kFileError) {
        std::cout << file << ":\n";
        for (const std::string& line : lines) std::cout << "  " << line << '\n';
        if (status == kAccepted) WriteDetailLines(std::cout, model);
        std::cout << "  refused: " << (status == kRefused ? "yes, for the ERROR lines above" : "no") << '\n';
    }
    return status;
}

int runInfo(const InfoOptions& options)
{
    int status = kAccepted;
    nlohmann::json files = nlohmann::json::array();
    // With several files each line says whose it is, as reduce does.
    const bool several = options.Files.size() > 1;
    for (const std::string& file : options.Files) {
        ExitStatus fileStatus = kFileError;
        try {
            fileStatus = infoOfFile(file, options, several, files);
        } catch (const std::bad_alloc&) {  // one file too large: the others still go
            Complain(NotEnoughMemoryFor(file));
            if (options.Json) files.push_back({{"path", file}, {"status", statusName(kFileError)}, {"message", NotEnoughMemoryFor(file)}});
        }
        status = std::max<int>(status, fileStatus);
    }
    if (options.Json) printJson(std::move(files), status);
    return status;
}

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
            if (result.Budget && result.Status == kAccepted) std::cout << prefix << budgetLine(result, options.Plan.Method) << '\n';
            if (result.Deviation) std::cout << prefix << DeviationLine(*result.Deviation) << '\n';
            for (const LodResult& lod : result.Lods) {
                std::cout << prefix << lodLine(lod) << '\n';
                if (lod.Deviation) std::cout << prefix << lod.Output.string() << ": " << DeviationLine(*lod.Deviation) << '\n';
            }
            std::cout.flush();
        }
        // Quiet still says why a model was refused, or a build rule would fail in silence.
        if (options.Quiet && result.Status == kRefused) {
            std::cout.flush();
            for (const std::string& line : ErrorLines(result.Lines)) std::cerr << job.Input.string() << ": " << line << '\n';
        }
        if (result.Status == kFileError) Complain(result.FileError);
        // A missed budget is said under --quiet too: a build rule must not take it for success.
        if (fileStatus == kBudgetMissed && result.Budget && !result.BudgetMet)
            Complain(job.Input.string() + ": " + budgetLine(result, options.Plan.Method) + " Written all the same.");
        for (const LodResult& lod : result.Lods)
            if (!lod.BudgetMet) Complain(lodLine(lod) + " Written all the same.");
        // Said under --quiet too: the output lacks bytes its input had.
        if (result.Status == kAccepted && !result.TrailingWarning.empty())
            Complain("warning: " + job.Input.string() + ": " + result.TrailingWarning);
        nlohmann::json entry = {{"path", job.Input.string()},
                                {"status", statusName(fileStatus)},
                                // A refused file's header is no model's: its counts would be garbage.
                                {"before", result.Loaded ? countsJson(result.Before) : nlohmann::json()},
                                {"levels", result.PassLevels},
                                {"passes", result.PassLevels.size()},
                                {"seconds", result.Seconds},
                                {"errors", ErrorLines(result.Lines)}};
        if (result.Loaded) entry["trailingBytes"] = result.TrailingBytes;
        if (result.Status == kAccepted) {
            if (result.Lods.empty()) entry["output"] = job.Output.string();
            entry["after"] = countsJson(result.After);
        }
        if (result.Budget) entry["budget"] = {{"triangles", *result.Budget}, {"met", result.BudgetMet}};
        if (options.Plan.HasBudget() || !options.Plan.Lods.empty())
            entry["method"] = options.Plan.Method == ReduceMethod::Quadric ? "quadric" : "passes";
        if (!result.StoppedBecause.empty()) entry["stoppedBecause"] = result.StoppedBecause;
        for (const LodResult& lod : result.Lods) {
            nlohmann::json level = {{"output", lod.Output.string()}, {"after", countsJson(lod.After)},
                                    {"budget", {{"triangles", lod.Budget}, {"met", lod.BudgetMet}}}};
            if (!lod.StoppedBecause.empty()) level["stoppedBecause"] = lod.StoppedBecause;
            if (lod.Deviation) level["deviation"] = DeviationJson(*lod.Deviation);
            entry["lods"].push_back(level);
        }
        if (result.Status == kFileError) entry["message"] = result.FileError;
        if (result.Deviation) entry["deviation"] = DeviationJson(*result.Deviation);
        files.push_back(std::move(entry));
        if (several) progress.Show("[" + std::to_string(++finished) + "/" + std::to_string(jobs.size()) + "] " + job.Input.string());
    };
    // One file: which pass, and how far into it.
    std::string passLabel;
    auto passProgress = [&](const std::string& text) {
        if (text.rfind("pass ", 0) == 0) passLabel = text;
        progress.Show(jobs[0].Input.string() + ": " + passLabel + (text == passLabel ? "" : (passLabel.empty() ? "" : ", ") + text));
    };
    RunJobs(jobs, options.Plan, options.Threads, done, progress.Shown() ? std::function<void(const std::string&)>(passProgress) : nullptr);
    progress.Clear();
    if (options.Json) printJson(std::move(files), status);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    CLI::App app{"Kelvane reduces the polygon count of animated models (MDL5, MDL7, Quake MDL, MD2, MD3);\n"
                 "every animation frame loses the same vertices.",
                 "kelvane-cli"};
    app.set_version_flag("--version", std::string("kelvane-cli ") + KELVANE_VERSION);
    app.require_subcommand(1);
    app.footer("Exit status: 0 accepted, 1 a model was refused, 2 usage error, 3 a file could not be read\n"
               "or written or did not fit in memory, 4 a budget was not met (the file is still written);\n"
               "for several files the worst of them: 3, then 1, then 4. See 'kelvane-cli reduce --help'.");

    InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "Print each model's summary line, or why it is refused.");
    infoCommand->add_option("FILE", info.Files, "model files (MDL5, MDL7, Quake MDL, MD2, MD3)")->required();
    infoCommand->add_flag("--details", info.Details, "also skins, frames, closed fans and unused skin vertices");
    infoCommand->add_flag("--json", info.Json, "one JSON document instead of lines");

    ReduceOptions reduce;
    reduce.Threads = std::max(1u, std::thread::hardware_concurrency());
    int64_t targetTriangles = 0;
    double ratio = 0;
    CLI::App* reduceCommand = app.add_subcommand("reduce", "Reduce models and save the results.");
    reduceCommand->footer(kReduceHelp);
    reduceCommand->add_option("INPUT", reduce.Inputs, "model files, or folders searched for *.mdl, *.md2 and *.md3")->required();
    // The type names MODEL, PNG and DIR tell the bash completion what to offer.
    reduceCommand->add_option("-o,--output", reduce.Output, "the reduced model, for one INPUT")->type_name("MODEL");
    reduceCommand->add_option("--out-dir", reduce.OutDir, "folder for the reduced models, keeping names and sub-folders")->type_name("DIR");
    reduceCommand->add_flag("--in-place", reduce.InPlace, "replace each INPUT, once its reduced copy is complete");
    auto* level = reduceCommand->add_option("--level", reduce.Plan.Level, "0 to 10: how far normals may differ")
                      ->check(WholeNumberIn(kMinLevel, kMaxLevel))
                      ->capture_default_str();
    auto* passes = reduceCommand->add_option("--passes", reduce.Plan.Passes, "passes in a row, each on the last one's result")
                       ->check(WholeNumberIn(0, std::numeric_limits<int>::max()))
                       ->capture_default_str();
    // A budget of no triangles cannot be met by any model.
    auto* target = reduceCommand->add_option("--target-tris", targetTriangles, "a budget: at most T triangles")
                       ->check(WholeNumberIn(1, std::numeric_limits<int32_t>::max()));
    auto* share = reduceCommand->add_option("--ratio", ratio, "a budget: at most R (0 < R <= 1) of the triangles")->check(ShareOfOne());
    std::string method;
    auto* methodOption = reduceCommand->add_option("--method", method, "how a budget is reached: quadric (the default) or passes")
                             ->check(CLI::IsMember({"quadric", "passes"}));
    std::vector<double> lods;
    auto* lodOption = reduceCommand->add_option("--lods", lods, "levels of detail: falling shares R1,R2,... of the triangles")
                          ->delimiter(',')
                          ->allow_extra_args(false)  // one word: the files that follow are inputs
                          ->check(ShareOfOne());
    target->excludes(share)->excludes(level)->excludes(passes);
    share->excludes(level)->excludes(passes);
    lodOption->excludes(target)->excludes(share)->excludes(level)->excludes(passes);
    methodOption->excludes(level)->excludes(passes);
    reduceCommand->add_option("-j", reduce.Threads, "files reduced at once (default: the processors); the rest try a small model's ways at once")->check(WholeNumberIn(1, std::numeric_limits<int>::max()));
    reduceCommand->add_flag("-q,--quiet", reduce.Quiet, "print nothing but errors");
    reduceCommand->add_flag("--json", reduce.Json, "one JSON document instead of lines");
    reduceCommand->add_flag("--measure", reduce.Plan.Measure, "also measure each result against its input (see compare --help); a budget always is");

    // Commands kept in files of their own.
    const std::vector<Command> commands = {AddRenderCommand(app), AddCompareCommand(app)};

    try {
        app.parse(argc, argv);
        for (std::size_t n = 1; n < lods.size(); ++n)
            if (lods[n] >= lods[n - 1]) throw CLI::ValidationError("--lods", "each share must be below the one before");
        if (methodOption->count() > 0 && share->count() + target->count() == 0 && lods.empty())
            throw CLI::ValidationError("--method", "needs a budget: --ratio, --target-tris or --lods");
        if (!lods.empty() && !reduce.Output.empty())
            throw CLI::ValidationError("--lods", "writes several files beside each input or under --out-dir; give no -o");
    } catch (const CLI::ParseError& error) {
        // Help and version exit with 0; every mistake in the words with 2.
        return app.exit(error) == 0 ? kAccepted : kUsage;
    }
    if (target->count() > 0) reduce.Plan.TargetTriangles = targetTriangles;
    if (share->count() > 0) reduce.Plan.Ratio = ratio;
    reduce.Plan.Lods = lods;
    reduce.Plan.Method = method == "passes" ? ReduceMethod::Passes : ReduceMethod::Quadric;
    // A budget trades surface for triangles: its report always says how much
    // surface, over a few frames unless --measure asks for every one.
    if (reduce.Plan.HasBudget() || !lods.empty()) {
        if (!reduce.Plan.Measure) reduce.Plan.MeasureFrames = kReportFrames;
        reduce.Plan.Measure = true;
    }

    // Each command says which file did not fit in memory; this is for what none foresaw.
    try {
        if (infoCommand->parsed()) return runInfo(info);
        for (const Command& command : commands)
            if (command.Words->parsed()) return command.Run();
        return runReduce(reduce);
    } catch (const std::bad_alloc&) {
        Complain("Not enough memory");
        return kFileError;
    }
}
