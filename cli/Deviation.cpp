#include "cli/Deviation.h"

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

nlohmann::json DeviationJson(const MeasuredDeviation& measured)
{
    if (const auto* reason = std::get_if<std::string>(&measured)) return {{"reason", *reason}};
    return DeviationJson(std::get<DeviationSummary>(measured), false);
}

std::string DumpJson(const nlohmann::json& document)
{
    // Frame names are 16 bytes of whatever the modeller wrote: dump must not throw on them.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
