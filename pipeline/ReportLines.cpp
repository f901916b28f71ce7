#include "pipeline/ReportLines.h"

#include <cmath>
#include <cstdio>

namespace {

// Four decimals for the figures of a model at a usual scale; from a million
// percent on (a position scale far out of the usual) scientific notation,
// so that no figure is ever cut short.
std::string percent(double fraction)
{
    const double value = 100.0 * fraction;
    char text[64];
    std::snprintf(text, sizeof text, std::fabs(value) < 1e6 ? "%.4f%%" : "%.4e%%", value);
    return text;
}

std::string texels(double value)
{
    char text[32];
    // Past a million a figure prints in scientific notation, as percentages
    // do: a fixed-point 1e30 would not fit.
    std::snprintf(text, sizeof text, std::fabs(value) < 1e6 ? "%.2f" : "%.4e", value);
    return text;
}

std::string printable(const std::string& name)
{
    std::string shown;
    for (char c : name) shown += (c >= ' ' && c <= '~') ? c : '?';
    return shown;
}

}  // namespace

std::string FrameDeviationLine(const FrameDeviation& frame, bool texture)
{
    std::string line = "frame " + std::to_string(frame.Frame) + " " + printable(frame.Name) + ": Hausdorff " +
                       percent(frame.Hausdorff) + ", RMS " + percent(frame.Rms);
    if (texture) line += ", texture RMS " + texels(frame.TextureRms) + ", largest " + texels(frame.TextureLargest) + " texels";
    return line;
}

std::string DeviationLine(const DeviationSummary& summary)
{
    std::string line = "DEVIATION: Hausdorff " + percent(summary.Hausdorff) + " (frame " + std::to_string(summary.HausdorffFrame) +
                       "), RMS " + percent(summary.Rms) + " (frame " + std::to_string(summary.RmsFrame) + "), mean RMS " +
                       percent(summary.MeanRms) + " of the box diagonal; ";
    if (summary.TextureMeasured)
        line += "texture RMS " + texels(summary.TextureRms) + " texels (frame " + std::to_string(summary.TextureRmsFrame) +
                "), largest " + texels(summary.TextureLargest) + " texels (frame " + std::to_string(summary.TextureLargestFrame) + "); ";
    line += std::to_string(summary.OriginalTriangles) + " -> " + std::to_string(summary.OtherTriangles) + " triangles";
    if (summary.Frames.size() < std::size_t(summary.FrameCount))
        line += "; over " + std::to_string(summary.Frames.size()) + " of " + std::to_string(summary.FrameCount) + " frames";
    return line;
}

std::string DeviationRefusedLine(const std::string& reason)
{
    return "DEVIATION: not measured: " + reason;
}

std::string DeviationLine(const MeasuredDeviation& measured)
{
    if (const auto* reason = std::get_if<std::string>(&measured)) return DeviationRefusedLine(*reason);
    return DeviationLine(std::get<DeviationSummary>(measured));
}


std::string BudgetLine(const ReductionOutcome& outcome, ReduceMethod method)
{
    const std::string triangles = std::to_string(outcome.After.Triangles) + " triangles, ";
    const std::string budget = "the budget of " + std::to_string(outcome.Budget.value_or(0));
    if (method == ReduceMethod::Quadric) {
        const std::string line = "quadric collapses: " + triangles;
        if (outcome.BudgetMet) return line + "within " + budget + ".";
        return line + "over " + budget + ": " + outcome.StoppedBecause + ".";
    }
    std::vector<int> used;
    for (int level : outcome.PassLevels)
        if (used.empty() || used.back() != level) used.push_back(level);
    std::string levels;
    for (int level : used) levels += (levels.empty() ? "" : ", ") + std::to_string(level);
    const std::string line = "levels " + (levels.empty() ? std::string("none") : levels) + " in " +
                             std::to_string(outcome.PassLevels.size()) + " passes; " + triangles;
    if (outcome.BudgetMet) return line + "within " + budget + ".";
    return line + "over " + budget + ": a pass at level 10 removed nothing more.";
}

std::string LevelLine(const LevelOutcome& level)
{
    const std::string budget = "the budget of " + std::to_string(level.Budget);
    const std::string why = level.StoppedBecause.empty() ? "a pass at level 10 removed nothing more" : level.StoppedBecause;
    return level.Output + ": " + std::to_string(level.After.Triangles) + " triangles, " +
           (level.BudgetMet ? "within " + budget + "." : "over " + budget + ": " + why + ".");
}
