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

nlohmann::json DeviationJson(const DeviationSummary& summary, bool withFrames)
{
    nlohmann::json document;
    if (withFrames) {
        document["frames"] = nlohmann::json::array();
        for (const FrameDeviation& frame : summary.Frames) {
            nlohmann::json entry = {{"frame", frame.Frame}, {"name", frame.Name}, {"hausdorff", frame.Hausdorff}, {"rms", frame.Rms}};
            if (summary.TextureMeasured) {
                entry["textureRms"] = frame.TextureRms;
                entry["textureLargest"] = frame.TextureLargest;
            }
            document["frames"].push_back(entry);
        }
    }
    document["hausdorff"] = summary.Hausdorff;
    document["hausdorffFrame"] = summary.HausdorffFrame;
    document["rms"] = summary.Rms;
    document["rmsFrame"] = summary.RmsFrame;
    document["meanRms"] = summary.MeanRms;
    document["triangles"] = {summary.OriginalTriangles, summary.OtherTriangles};
    document["framesMeasured"] = summary.Frames.size();
    document["frameCount"] = summary.FrameCount;
    if (summary.TextureMeasured) {
        document["textureRms"] = summary.TextureRms;
        document["textureRmsFrame"] = summary.TextureRmsFrame;
        document["textureLargest"] = summary.TextureLargest;
        document["textureLargestFrame"] = summary.TextureLargestFrame;
    }
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
