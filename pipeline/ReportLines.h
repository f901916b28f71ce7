#pragma once
// How a reduction and a measure read as lines, the same in every front end:
// the lines of `compare`, the "DEVIATION:" line of every report, and the
// line saying whether a budget was met.

#include <string>

#include "measure/Measure.h"
#include "pipeline/Pipeline.h"

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

// The DEVIATION line of a measure or of its refusal.
std::string DeviationLine(const MeasuredDeviation& measured);

// "quadric collapses: 288 triangles, within the budget of 288." or, by
// passes, "levels 0, 1 in 3 passes; ...", or why the budget was missed.
std::string BudgetLine(const ReductionOutcome& outcome, ReduceMethod method);
// "hero_lod2.mdl: 144 triangles, within the budget of 144." or why not.
std::string LevelLine(const LevelOutcome& level);
