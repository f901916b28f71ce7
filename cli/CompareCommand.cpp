// kelvane-cli compare: how far one model's surface lies from another's, frame
// by frame, as the window and reduce --measure report it.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <limits>

#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Deviation.h"
#include "pipeline/ReportLines.h"
#include "cli/OptionChecks.h"
#include "pipeline/Ruler.h"
#include "measure/Measure.h"
#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "model/Words.h"
#include "model/SkinFiles.h"

namespace {

// A hundred times the default already repeats to far below a per mille; more
// only makes a run take minutes per frame.
constexpr int kMaxSamplesPerSide = 1000000;

const char* kCompareHelp = R"(What is measured:
  Frame i of OTHER against frame i of ORIGINAL, in world space. Each surface
  is sampled evenly by area (and at every vertex); each sample's distance is
  the exact distance to the nearest point of the other surface. Hausdorff is
  the largest distance either way, RMS the root mean square of the area
  samples of both sides; both as percentages of the diagonal of ORIGINAL's
  box in that frame (fractions with --json). Texture: at each area sample,
  how far the skin coordinate at the nearest point of the other surface lies
  from the sample's own, in texels of ORIGINAL's first skin (RMS and
  largest); for a file that gives no skin size (MD3), of the first skin
  found for it as render finds them, else of a nominal 256 x 256.
  The same seed gives the same figures; another seed moves the largest RMS
  by well under 1%.

Examples:
  kelvane-cli compare hero.mdl hero-low.mdl
  kelvane-cli compare walk.mdl walk-low.mdl --frames 10 --json)";

struct CompareOptions {
    std::string Original;
    std::string Other;
    bool Json = false;
    int Frames = 0;  // 0: every frame
    MeasureOptions Measure;
};

int runCompare(const CompareOptions& options)
{
    // A failure is said on standard error and, with --json, as the document.
    auto fail = [&](ExitStatus status, const std::string& reason) {
        if (options.Json) std::cout << DumpJson({{"status", status}, {"reason", reason}}) << '\n';
        return status;
    };
    // Each model goes once the view of the frames measured is made, so the
    // two files are never held at once; with --frames the views hold those
    // frames alone.
    const auto outOfMemory = [&](const std::string& file) {
        const std::string reason = NotEnoughMemoryFor(file);
        Complain(reason);
        return fail(kFileError, reason);
    };
    std::string reason;
    Ruler ruler;
    {
        TAnyModel model;
        if (const ExitStatus status = LoadForCommand(model, options.Original, reason); status != kAccepted) return fail(status, reason);
        try {
            ruler = RulerOf(model, options.Frames, true);
            // Texels of the skin drawn, where the file gives no size: found
            // as render finds it (quietly: no picture is drawn here).
            UseFoundSkinTexels(ruler.Loaded, FindSkinFiles(model, options.Original));
        } catch (const std::bad_alloc&) {
            return outOfMemory(options.Original);
        }
    }
    AnimatedMesh other;
    {
        TAnyModel model;
        if (const ExitStatus status = LoadForCommand(model, options.Other, reason); status != kAccepted) return fail(status, reason);
        if (const int64_t frames = model.Counts().Frames; frames != ruler.FrameCount) {
            Complain(reason = "cannot compare \"" + options.Original + "\" with \"" + options.Other + "\": the first model has " +
                              Counted(ruler.FrameCount, "frame", "frames") + " and the second " + std::to_string(frames));
            return fail(kRefused, reason);
        }
        try {
            other = MeasureView(model, &ruler.Frames);
        } catch (const std::bad_alloc&) {
            return outOfMemory(options.Other);
        }
    }

    std::variant<DeviationSummary, std::string> result;
    try {
        result = MeasureAgainst(ruler, other, options.Measure);
    } catch (const std::bad_alloc&) {
        return outOfMemory(options.Other);
    }
    if (const auto* why = std::get_if<std::string>(&result)) {
        Complain(reason = "cannot compare \"" + options.Original + "\" with \"" + options.Other + "\": " + *why);
        return fail(kRefused, reason);
    }
    const auto& summary = std::get<DeviationSummary>(result);
    if (options.Json) {
        nlohmann::json document = DeviationJson(summary, true);
        document["status"] = kAccepted;
        std::cout << DumpJson(document) << '\n';
    } else {
        for (const FrameDeviation& frame : summary.Frames) std::cout << FrameDeviationLine(frame, summary.TextureMeasured) << '\n';
        std::cout << DeviationLine(summary) << '\n';
    }
    return kAccepted;
}

}  // namespace

Command AddCompareCommand(CLI::App& tool)
{
    // The words are parsed into these after this function returns.
    auto options = std::make_shared<CompareOptions>();
    CLI::App* words = tool.add_subcommand("compare", "Measure how far OTHER's surface lies from ORIGINAL's, frame by frame.");
    words->footer(kCompareHelp);
    words->add_option("ORIGINAL", options->Original, "the model measured against")->required();
    words->add_option("OTHER", options->Other, "a model with the same number of frames, such as a reduced copy")->required();
    words->add_flag("--json", options->Json, "one JSON document instead of lines");
    words->add_option("--frames", options->Frames, "measure N frames spread evenly, the first and last among them")
        ->check(WholeNumberIn(1, std::numeric_limits<int>::max()));
    words->add_option("--samples", options->Measure.SamplesPerSide, "area samples on each surface per frame")
        ->check(WholeNumberIn(1, kMaxSamplesPerSide))
        ->default_str(std::to_string(kDefaultSamplesPerSide));
    words->add_option("--seed", options->Measure.Seed, "where the samples fall; the same seed, the same figures")
        ->check(WholeNumberIn(0, std::numeric_limits<int64_t>::max()))
        ->capture_default_str();
    return {words, [options] { return runCompare(*options); }};
}
