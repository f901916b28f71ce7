#pragma once
// Reducing many models: which files go where, and running each one as the
// window would, on several threads, with results that do not depend on how many.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "pipeline/Pipeline.h"

class TMDLModel;

// kBudgetMissed: the file was written, the best the rules allow, but with
// more triangles than the budget.
enum ExitStatus : int { kAccepted = 0, kRefused = 1, kUsage = 2, kFileError = 3, kBudgetMissed = 4 };

// The status of a run of several files: the worse of two, where a file that
// could not be read or written is worst, then a refused model, then a missed
// budget (its file is still written).
ExitStatus WorseStatus(ExitStatus a, ExitStatus b);

struct Job {
    std::filesystem::path Input;
    std::filesystem::path Output;
    bool CreateFolders = false;  // the output's folders are made under --out-dir
};

// One file's run: what the pipeline did with its model, and what became of the file.
struct JobResult : ReductionOutcome {
    ExitStatus Status = kAccepted;
    std::vector<std::string> Lines;   // the container's log lines, in order
    std::string FileError;            // why a file could not be read or written
    bool Loaded = false;              // the model was accepted: Before holds its counts
    uint64_t TrailingBytes = 0;       // bytes after the model, left out of the output
    std::string TrailingWarning;      // what TrailingBytesWarning says of them
    double Seconds = 0;
    // The file's own exit status: Status, or kBudgetMissed for an accepted
    // file whose budget, or a level of detail's, was not met.
    ExitStatus FileStatus() const;
};

// "20480 bytes after the last frame are not part of the model", naming the
// last section the model holds; "" when its load read every byte.
std::string TrailingBytesWarning(const TMDLModel& model);

// What a command says when an allocation fails: Not enough memory for "what".
std::string NotEnoughMemoryFor(const std::string& what);

// The "ERROR:" lines among a model's log lines.
std::vector<std::string> ErrorLines(const std::vector<std::string>& lines);

// Files named directly are taken as they are; folders are searched for
// model files ("*.mdl", "*.md2" and "*.md3") without regard to letter case, skipping outDir if it lies inside.
// With outDir each output keeps its name and the sub-folders of its search.
// Returns a usage message instead when the inputs cannot be arranged.
std::variant<std::vector<Job>, std::string> PlanJobs(const std::vector<std::string>& inputs, const std::string& output,
                                                     const std::string& outDir, bool inPlace);

// Where level n (from 1) of a job's levels of detail goes: the output's
// folder, the input's name with "_lod<n>" before its extension.
std::filesystem::path LodPath(const Job& job, std::size_t n);

// Loads, reduces (RunReduction) and saves one file, each level of detail at
// LodPath. progress, when set, receives the pipeline's. Never throws for a
// file's own trouble: it is in the result.
JobResult RunJob(const Job& job, const ReducePlan& plan, const std::function<void(const PipelineProgress&)>& progress);

// Runs the jobs on up to threads threads and hands each result to done in
// the order of jobs, as soon as it and all before it are finished.
void RunJobs(const std::vector<Job>& jobs, const ReducePlan& plan, unsigned threads,
             const std::function<void(std::size_t, const JobResult&)>& done,
             const std::function<void(const PipelineProgress&)>& progress);
