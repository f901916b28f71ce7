#include "cli/Batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <variant>

#include "model/AnyModel.h"

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

// Saves model to output, making its folders first when the job may.
void saveTo(const TAnyModel& model, const fs::path& output, const Job& job)
{
    if (job.CreateFolders && output.has_parent_path()) fs::create_directories(output.parent_path());
    model.SaveToFile(output.string());
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
    // A usage error in the words ends a run before any file; one for a file
    // (passes asked of a model they cannot take) ranks above every other.
    static constexpr int kRank[] = {/*accepted*/ 0, /*refused*/ 2, /*usage*/ 4, /*file error*/ 3, /*budget missed*/ 1};
    return kRank[a] >= kRank[b] ? a : b;
}

ExitStatus JobResult::FileStatus() const
{
    if (Status != kAccepted) return Status;
    return MissedBudget() ? kBudgetMissed : kAccepted;
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
    if (jobs.empty()) return "no model files (*.mdl, *.md2, *.md3) in " + emptyFolders;
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

JobResult RunJob(const Job& job, const ReducePlan& plan, const std::function<void(const PipelineProgress&)>& progress)
{
    const auto start = std::chrono::steady_clock::now();
    JobResult result;
    TAnyModel model;
    model.LogLines = [&result](const std::string& line) { result.Lines.push_back(line); };
    try {
        const bool accepted = model.LoadFromFile(job.Input.string());
        result.Before = CountsOf(model);
        // Only MDL5 leaves bytes after its model unread; the others write them back.
        if (const TMDLModel* mdl5 = model.MDL5()) {
            result.TrailingBytes = mdl5->TrailingBytes;
            result.TrailingWarning = TrailingBytesWarning(*mdl5);
        }
        if (!accepted) {
            result.Status = kRefused;  // nothing is written for a refused model
        } else {
            result.Loaded = true;
            PipelineHooks hooks;
            hooks.Progress = progress;
            hooks.SaveLevel = [&job](std::size_t n, const TAnyModel& level) {
                const fs::path path = LodPath(job, n);
                saveTo(level, path, job);
                return path.string();
            };
            RunReduction(model, plan, result, hooks);
            if (!result.NotForThisFormat.empty()) result.Status = kUsage;
            else if (plan.Lods.empty()) saveTo(model, job.Output, job);
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
             const std::function<void(const PipelineProgress&)>& progress)
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
