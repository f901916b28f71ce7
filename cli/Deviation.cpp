#include "cli/Deviation.h"

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

std::string printable(const std::string& name)
{
    std::string shown;
    for (char c : name) shown += (c >= ' ' && c <= '~') ? c : '?';
    return shown;
}

}  // namespace

std::string FrameDeviationLine(const FrameDeviation& frame)
{
    return "frame " + std::to_string(frame.Frame) + " " + printable(frame.Name) + ": Hausdorff " + percent(frame.Hausdorff) +
           ", RMS " + percent(frame.Rms);
}

std::string DeviationLine(const DeviationSummary& summary)
{
    return "DEVIATION: Hausdorff " + percent(summary.Hausdorff) + " (frame " + std::to_string(summary.HausdorffFrame) + "), RMS " +
           percent(summary.Rms) + " (frame " + std::to_string(summary.RmsFrame) + "), mean RMS " + percent(summary.MeanRms) +
           " of the box diagonal; " + std::to_string(summary.OriginalTriangles) + " -> " + std::to_string(summary.OtherTriangles) +
           " triangles";
}

std::string DeviationRefusedLine(const std::string& reason)
{
    return "DEVIATION: not measured: " + reason;
}

nlohmann::json DeviationJson(const DeviationSummary& summary, bool withFrames)
{
    nlohmann::json document;
    if (withFrames) {
        document["frames"] = nlohmann::json::array();
        for (const FrameDeviation& frame : summary.Frames)
            document["frames"].push_back({{"frame", frame.Frame}, {"name", frame.Name}, {"hausdorff", frame.Hausdorff}, {"rms", frame.Rms}});
    }
    document["hausdorff"] = summary.Hausdorff;
    document["hausdorffFrame"] = summary.HausdorffFrame;
    document["rms"] = summary.Rms;
    document["rmsFrame"] = summary.RmsFrame;
    document["meanRms"] = summary.MeanRms;
    document["triangles"] = {summary.OriginalTriangles, summary.OtherTriangles};
    return document;
}

std::string DeviationLine(const std::variant<DeviationSummary, std::string>& measured)
{
    if (const auto* reason = std::get_if<std::string>(&measured)) return DeviationRefusedLine(*reason);
    return DeviationLine(std::get<DeviationSummary>(measured));
}

nlohmann::json DeviationJson(const std::variant<DeviationSummary, std::string>& measured)
{
    if (const auto* reason = std::get_if<std::string>(&measured)) return {{"reason", *reason}};
    return DeviationJson(std::get<DeviationSummary>(measured), false);
}

std::string DumpJson(const nlohmann::json& document)
{
    // Frame names are 16 bytes of whatever the modeller wrote: dump must not throw on them.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
