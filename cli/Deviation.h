#pragma once
// How a measured deviation reads in the command line's JSON documents.

#include <nlohmann/json.hpp>
#include <string>

#include "measure/Measure.h"
#include "pipeline/Pipeline.h"

// The summary as fractions of the diagonal: hausdorff, hausdorffFrame, rms,
// rmsFrame, meanRms, triangles [original, other], framesMeasured, frameCount;
// when texture was measured textureRms, textureRmsFrame, textureLargest,
// textureLargestFrame (texels); and with withFrames the frames [{frame, name,
// hausdorff, rms[, textureRms, textureLargest]}...]. Frame names go in as
// their bytes: dump the document with error_handler_t::replace, as DumpJson does.
nlohmann::json DeviationJson(const DeviationSummary& summary, bool withFrames);

// For reduce --measure: the summary without frames, or {"reason": why}.
nlohmann::json DeviationJson(const MeasuredDeviation& measured);

// The document as text, bytes that are not UTF-8 replaced by U+FFFD.
std::string DumpJson(const nlohmann::json& document);
