#pragma once
// How far one model's surface lies from another's, frame by frame, in world
// space: area samples and vertices of each surface against the nearest point
// of the other's triangles; and how far the texture drifts there: the skin
// coordinate at that nearest point against the sample's own. The one ruler of
// the window, the command line, the tests and the reduction benchmarks, over
// the format-neutral view of any format.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "model/AnimatedMesh.h"

class TMDLModel;

// Area samples on each surface and frame unless told otherwise: enough that
// the largest RMS of a real reduction stays within about 1% from one seed to
// another (over 16 seeds a range of 0.99% for the minigun after two passes
// at level 10, 0.46% for the earth), at about 0.2 to 0.4 us a sample.
inline constexpr int kDefaultSamplesPerSide = 10000;

struct MeasureOptions {
    int SamplesPerSide = 0;       // area samples drawn on each surface; 0 picks the default
    uint64_t Seed = 1;            // the same seed gives the same result, bit for bit
    std::vector<int> Frames;      // the frames to measure; empty measures every frame
    // Frames measured at once; 0: one per processor; 1 measures on the
    // calling thread and starts none. Never changes the result.
    int Threads = 0;
    // For views of some of a model's frames: the model's number of each
    // frame of the views, which seeds its samples and names it in the
    // result, so that a frame measures the same in a view of it alone as in
    // a view of the whole; empty: the views' own numbers.
    std::vector<int> Numbers = {};
    // Told, on the calling thread, how many of the frames are done after each
    // frame it measures. What it throws ends the measure (the other threads
    // finish the frame in hand and stop) and leaves it.
    std::function<void(std::size_t framesDone, std::size_t frames)> Progress = nullptr;
};

// Distances as fractions of the diagonal of the first model's box in that frame.
struct FrameDeviation {
    int Frame = 0;
    std::string Name;             // the frame's name, up to its first zero byte
    double Hausdorff = 0;         // the largest sample distance, either way
    double Rms = 0;               // the RMS of both sides' area samples, pooled
    // In texels of the first model's skin (SkinWidth x SkinHeight): how far
    // the other surface's skin coordinate at the nearest point lies from each
    // area sample's own, both ways; 0 when the texture is not measured.
    double TextureRms = 0;
    double TextureLargest = 0;
};

struct DeviationSummary {
    std::vector<FrameDeviation> Frames;  // in the order measured
    double Hausdorff = 0;         // the largest of the frames', and the first frame with it
    int HausdorffFrame = 0;
    double Rms = 0;               // the largest of the frames', and the first frame with it
    int RmsFrame = 0;
    double MeanRms = 0;           // over the frames measured
    // Both models carry texture coordinates for every triangle corner; when
    // not, the texture fields stay 0.
    bool TextureMeasured = false;
    double TextureRms = 0;        // the largest of the frames', and the first frame with it
    int TextureRmsFrame = 0;
    double TextureLargest = 0;    // the largest of the frames', and the first frame with it
    int TextureLargestFrame = 0;
    int32_t OriginalTriangles = 0;
    int32_t OtherTriangles = 0;
    int FrameCount = 0;           // the models' frames, measured or not
};

// Measures other against original, frame i against frame i; each view's own
// frame transforms put it in world space. Returns the reason instead when the
// two cannot be compared: different frame counts, a model without triangles
// or frames, a triangle naming a vertex the model lacks, a frame index
// outside the models, a frame whose box (in original) has no size, a frame
// whose triangles have no area. Never throws for a model's content (only
// std::bad_alloc, and std::system_error when no thread can be started).
std::variant<DeviationSummary, std::string> MeasureDeviation(const AnimatedMesh& original, const AnimatedMesh& other,
                                                             const MeasureOptions& options = {});
// The same for two MDL5 models, through their views.
std::variant<DeviationSummary, std::string> MeasureDeviation(const TMDLModel& original, const TMDLModel& other,
                                                             const MeasureOptions& options = {});

// Fills summary's largest figures (the first frame among equals) and mean
// RMS from its Frames: for a caller that measures frames in parts.
void SummarizeFrames(DeviationSummary& summary);

// The frame indices of count frames spread evenly over frameCount, the first
// and the last included (all of them when count >= frameCount).
std::vector<int> SpreadFrames(int frameCount, int count);
