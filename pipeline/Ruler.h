#pragma once
// The model as loaded, as far as measuring another against it needs: the
// frames to measure (spread evenly, or all) and the measure's view of only
// those. reduce keeps one while it reduces; compare makes one of ORIGINAL.

#include <string>
#include <variant>
#include <vector>

#include "measure/Measure.h"
#include "model/AnimatedMesh.h"

class TAnyModel;

struct Ruler {
    std::vector<int> Frames;  // the model's frames measured, in order
    int FrameCount = 0;       // the model's frames
    AnimatedMesh Loaded;      // the view of those frames alone
};

// The measure's view of a model: every frame, or only those given; frame
// names only when asked (a view of a million frames goes without).
AnimatedMesh MeasureView(const TAnyModel& model, const std::vector<int>* frames = nullptr, bool names = false);

// The ruler of measureFrames frames of a model (0: every frame), viewing
// only those. Throws std::bad_alloc.
Ruler RulerOf(const TAnyModel& model, int measureFrames, bool names = false);
// The same from a view of the whole animation already made (either layout,
// positions and texture coordinates), which it takes over.
Ruler RulerOf(AnimatedMesh&& whole, int measureFrames);

// Measures other, a view of the ruler's frames of another model (as
// MeasureView(model, &ruler.Frames) makes it), against the ruler, each frame
// seeded and named by its number in the model: the figures of a frame are
// those of a measure of every frame. Throws std::bad_alloc.
std::variant<DeviationSummary, std::string> MeasureAgainst(const Ruler& ruler, const AnimatedMesh& other,
                                                           const MeasureOptions& options = {});
