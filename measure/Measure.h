#pragma once
// How far one model's surface lies from another's, frame by frame, in world
// space: area samples and vertices of each surface against the nearest point
// of the other's triangles. The one ruler of the window, the command line,
// the tests and the reduction benchmarks.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

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
    int Threads = 0;              // frames measured at once; 0: one per processor. Never changes the result
};

// Distances as fractions of the diagonal of the first model's box in that frame.
struct FrameDeviation {
    int Frame = 0;
    std::string Name;             // the frame's name, up to its first zero byte
    double Hausdorff = 0;         // the largest sample distance, either way
    double Rms = 0;               // the RMS of both sides' area samples, pooled
};

struct DeviationSummary {
    std::vector<FrameDeviation> Frames;  // in the order measured
    double Hausdorff = 0;         // the largest of the frames', and the first frame with it
    int HausdorffFrame = 0;
    double Rms = 0;               // the largest of the frames', and the first frame with it
    int RmsFrame = 0;
    double MeanRms = 0;           // over the frames measured
    int32_t OriginalTriangles = 0;
    int32_t OtherTriangles = 0;
};

// Measures other against original, frame i against frame i; each model's
// own position scale and offset put it in world space. Returns the reason
// instead when the two cannot be compared: different frame counts, a model
// without triangles or frames, a triangle naming a vertex a frame lacks, a
// frame index outside the models, a frame whose box (in original) has no
// size, a frame whose triangles have no area. Never throws for a model's content.
std::variant<DeviationSummary, std::string> MeasureDeviation(const TMDLModel& original, const TMDLModel& other,
                                                             const MeasureOptions& options = {});

// The frame indices of count frames spread evenly over frameCount, the first
// and the last included (all of them when count >= frameCount).
std::vector<int> SpreadFrames(int frameCount, int count);
