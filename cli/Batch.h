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

#include "measure/Measure.h"

class TMDLModel;

// kBudgetMissed: the file was written, the best the rules allow, but with
// more triangles than the budget.
enum ExitStatus : int { kAccepted = 0, kRefused = 1, kUsage = 2, kFileError = 3, kBudgetMissed = 4 };

// The status of a run of several files: the worse of two, where a file that
// could not be read or written is worst, then a refused model, then a missed
// budget (its file is still written).
ExitStatus WorseStatus(ExitStatus a, ExitStatus b);

// The frames the automatic report after a budget measures, spread evenly over
// the animation: a figure within the sampling noise of the full measure for
// smooth animations, at a small share of its time and memory.
inline constexpr int kReportFrames = 16;

// How a triangle budget is reached: by passes whose level climbs, as the
// window's Reduce command runs them, or by the collapses of least error
// summed over every frame (reduce/Quadric.h).
enum class ReduceMethod { Passes, Quadric };

// How many passes at which level, or a triangle budget and how to reach it.
struct ReducePlan {
    int Level = 0;
    int Passes = 1;
    std::optional<int64_t> TargetTriangles;  // a budget in triangles
    std::optional<double> Ratio;             // a budget as a share of the file's triangles
    bool Measure = false;                    // measure the result against the model as loaded
    int MeasureFrames = 0;                   // that many frames spread evenly; 0: every frame
    ReduceMethod Method = ReduceMethod::Passes;
    // Levels of detail: shares of the file's triangles, falling, each level
    // reduced from the one before and written to LodPath; the output itself
    // is then not written.
    std::vector<double> Lods;
    // The collapses' ways tried at once on a small model (RunJobs shares the
    // threads left over from the files among them).
    unsigned WayThreads = 1;
    bool HasBudget() const { return TargetTriangles || Ratio; }
};

struct Job {
    std::filesystem::path Input;
    std::filesystem::path Output;
    bool CreateFolders = false;  // the output's folders are made under --out-dir
};

struct ModelCounts {
    int32_t Vertices = 0;
    int32_t Triangles = 0;
    int32_t SkinVertices = 0;
};

// One level of detail as written.
struct LodResult {
    std::filesystem::path Output;
    ModelCounts After;
    int64_t Budget = 0;
    bool BudgetMet = false;
    std::string StoppedBecause;
    std::optional<std::variant<DeviationSummary, std::string>> Deviation;  // with ReducePlan::Measure
};

struct JobResult {
    ExitStatus Status = kAccepted;
    std::vector<std::string> Lines;   // the container's log lines, in order
    std::string FileError;            // why a file could not be read or written
    bool Loaded = false;              // the model was accepted: Before holds its counts
    ModelCounts Before;
    uint64_t TrailingBytes = 0;       // bytes after the model, left out of the output
    std::string TrailingWarning;      // what TrailingBytesWarning says of them
    ModelCounts After;
    std::vector<int> PassLevels;      // the level of every pass run
    std::optional<int64_t> Budget;    // the triangle budget, when there was one
    bool BudgetMet = false;
    std::string StoppedBecause;       // why the collapses stopped above the budget
    std::vector<LodResult> Lods;      // the levels of detail written, in order
    // The file's own exit status: Status, or kBudgetMissed for an accepted
    // file whose budget, or a level of detail's, was not met.
    ExitStatus FileStatus() const;
    double Seconds = 0;
    std::optional<std::variant<DeviationSummary, std::string>> Deviation;  // with ReducePlan::Measure
};

// "20480 bytes after the last frame are not part of the model", naming the
// last section the model holds; "" when its load read every byte.
std::string TrailingBytesWarning(const TMDLModel& model);

// What a command says when an allocation fails: Not enough memory for "what".
std::string NotEnoughMemoryFor(const std::string& what);

// The "ERROR:" lines among a model's log lines.
std::vector<std::string> ErrorLines(const std::vector<std::string>& lines);

// Files named directly are taken as they are; folders are searched for
// "*.mdl", "*.md2" and "*.md3" without regard to letter case, skipping outDir if it lies inside.
// With outDir each output keeps its name and the sub-folders of its search.
// Returns a usage message instead when the inputs cannot be arranged.
std::variant<std::vector<Job>, std::string> PlanJobs(const std::vector<std::string>& inputs, const std::string& output,
                                                     const std::string& outDir, bool inPlace);

// Where level n (from 1) of a job's levels of detail goes: the output's
// folder, the input's name with "_lod<n>" before its extension.
std::filesystem::path LodPath(const Job& job, std::size_t n);

// Loads, reduces and saves one file. progress, when set, receives the text of
// the pass in hand. Never throws for a file's own trouble: it is in the result.
JobResult RunJob(const Job& job, const ReducePlan& plan, const std::function<void(const std::string&)>& progress);

// Runs the jobs on up to threads threads and hands each result to done in
// the order of jobs, as soon as it and all before it are finished.
void RunJobs(const std::vector<Job>& jobs, const ReducePlan& plan, unsigned threads,
             const std::function<void(std::size_t, const JobResult&)>& done,
             const std::function<void(const std::string&)>& progress);
