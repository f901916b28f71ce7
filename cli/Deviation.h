#pragma once
// How a measured deviation reads on the command line: the lines of
// `compare`, the "DEVIATION:" line of `reduce --measure`, and their JSON.

#include <nlohmann/json.hpp>
#include <string>
#include <variant>

#include "measure/Measure.h"

// "frame 3 run2: Hausdorff 1.2345%, RMS 0.1234%", and with texture
// ", texture RMS 0.52, largest 3.10 texels": distances as percentages of the
// frame's box diagonal; bytes of the name that are not printable ASCII as '?'.
std::string FrameDeviationLine(const FrameDeviation& frame, bool texture);

// "DEVIATION: Hausdorff 1.2345% (frame 3), RMS 0.1234% (frame 2), mean RMS
// 0.0800% of the box diagonal; texture RMS 0.52 texels (frame 2), largest
// 3.10 texels (frame 5); 576 -> 206 triangles", the texture part only when it
// was measured, and "; over 16 of 200 frames" at the end when some were not.
std::string DeviationLine(const DeviationSummary& summary);
// "DEVIATION: not measured: " and why.
std::string DeviationRefusedLine(const std::string& reason);

// The summary as fractions of the diagonal: hausdorff, hausdorffFrame, rms,
// rmsFrame, meanRms, triangles [original, other], framesMeasured, frameCount;
// when texture was measured textureRms, textureRmsFrame, textureLargest,
// textureLargestFrame (texels); and with withFrames the frames [{frame, name,
// hausdorff, rms[, textureRms, textureLargest]}...]. Frame names go in as
// their bytes: dump the document with error_handler_t::replace, as DumpJson does.
nlohmann::json DeviationJson(const DeviationSummary& summary, bool withFrames);

// For reduce --measure: the DEVIATION line of a measure or of its refusal,
// and its JSON (the summary without frames, or {"reason": why}).
std::string DeviationLine(const std::variant<DeviationSummary, std::string>& measured);
nlohmann::json DeviationJson(const std::variant<DeviationSummary, std::string>& measured);

// The document as text, bytes that are not UTF-8 replaced by U+FFFD.
std::string DumpJson(const nlohmann::json& document);
