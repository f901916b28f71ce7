#include "measure/Measure.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>

#include "measure/TriangleGrid.h"
#include "model/Geometry.h"
#include "model/MDLClass.h"

namespace {

// splitmix64: a generator fully defined here, so a seed gives the same
// samples with every compiler and standard library.
class SampleRandom {
public:
    explicit SampleRandom(uint64_t seed) : state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1), from the top 53 bits.
    double Unit() { return double(Next() >> 11) * 0x1.0p-53; }

private:
    uint64_t state;
};

// Each frame and side draws from its own stream, so a frame measures the same
// whichever other frames are measured with it.
uint64_t streamSeed(uint64_t seed, int frame, int side)
{
    SampleRandom mix(seed ^ (uint64_t(uint32_t(frame)) << 1 | uint64_t(side)) * 0xD6E8FEB86659FD93ull);
    return mix.Next();
}

const char* sideName(int side)
{
    return side == 0 ? "the first model" : "the second model";
}

// One model's surface in one frame: its triangles in world space, the
// running sum of their areas, and the points on it that some triangle uses.
struct Surface {
    std::vector<WorldTriangle> Triangles;
    std::vector<double> AreaUpTo;  // AreaUpTo[t]: the area of triangles 0..t
    std::vector<WorldPoint> Corners;
    std::vector<uint8_t> Used;     // scratch: one flag per frame vertex
    TriangleGrid Grid;
};

void loadSurface(const TMDLModel& model, int frame, Surface& surface)
{
    const PositionTransform transform = PositionTransformOf(model.Header);
    const std::vector<FrameVert>& verts = model.Frames[std::size_t(frame)].Items;
    surface.Triangles.clear();
    surface.AreaUpTo.clear();
    surface.Corners.clear();
    surface.Used.assign(verts.size(), 0);
    double area = 0;
    // Indices were checked against every frame before the first frame was measured.
    for (const MDLTriangle& tri : model.Triangles.Items) {
        const WorldTriangle world{transform.Apply(verts[tri.VertIndex[0]]), transform.Apply(verts[tri.VertIndex[1]]),
                                  transform.Apply(verts[tri.VertIndex[2]])};
        const WorldPoint ab{world.B[0] - world.A[0], world.B[1] - world.A[1], world.B[2] - world.A[2]};
        const WorldPoint ac{world.C[0] - world.A[0], world.C[1] - world.A[1], world.C[2] - world.A[2]};
        area += 0.5 * std::hypot(ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2], ab[0] * ac[1] - ab[1] * ac[0]);
        surface.Triangles.push_back(world);
        surface.AreaUpTo.push_back(area);
        for (uint32_t v : tri.VertIndex) surface.Used[v] = 1;
    }
    for (std::size_t v = 0; v < verts.size(); ++v)
        if (surface.Used[v]) surface.Corners.push_back(transform.Apply(verts[v]));
    surface.Grid.Build(surface.Triangles);
}

struct SideResult {
    double Largest2 = 0;      // the largest squared distance, corners included
    double AreaSum2 = 0;      // the sum of squared distances of the area samples
};

// Where in a triangle the fraction u of its area falls: each base-4 digit of
// u picks one of the four half-size triangles (three corners and the middle),
// so equal steps of u spread over the triangle in two dimensions; within the
// last of them the point is uniform. A uniform u thus gives a uniform point.
// Returns the weights of B and C.
std::array<double, 2> placeInTriangle(double u, SampleRandom& random)
{
    // 5 digits tell 1,024 places apart: a triangle with more samples than that
    // is rare, and its samples still fall evenly, a few to each place.
    constexpr int kDigits = 5;
    const auto digits = uint32_t(std::min(u * (1u << (2 * kDigits)), double((1u << (2 * kDigits)) - 1)));
    // Every sub-triangle is the whole one (weights (0, 0), (1, 0), (0, 1))
    // scaled by size, turned half a turn when flip is -1, and moved to corner.
    // Halving keeps every value exact.
    // Tables rather than branches: the digits are random, so a branch on them
    // is mispredicted half the time. Children at corner A, B and C keep their
    // turn; the middle one (3) starts at the midpoint of BC and is turned.
    static constexpr double kStepB[4] = {0, 1, 0, 1};
    static constexpr double kStepC[4] = {0, 0, 1, 1};
    static constexpr double kTurn[4] = {1, 1, 1, -1};
    double cornerB = 0;
    double cornerC = 0;
    double size = 1;
    double flip = 1;
    for (int digit = kDigits - 1; digit >= 0; --digit) {
        const uint32_t quarter = (digits >> (2 * digit)) & 3;
        size /= 2;
        cornerB += flip * size * kStepB[quarter];
        cornerC += flip * size * kStepC[quarter];
        flip *= kTurn[quarter];
    }
    // Uniform over the last sub-triangle: the square root spreads by area.
    const double s = std::sqrt(random.Unit());
    const double r = random.Unit();
    return {cornerB + flip * size * s * (1.0 - r), cornerC + flip * size * s * r};
}

// Samples from's surface and measures each sample against to's triangles.
// Stratified by area: sample i falls at a random place in the i-th of count
// equal slices of the total area, and placeInTriangle keeps the slices of one
// triangle apart in both directions. The RMS then wanders far less between
// seeds than with independent draws, and samples come in triangle order,
// where the last nearest triangle is a good hint for the next.
SideResult measureSide(const Surface& from, const Surface& to, int count, SampleRandom& random)
{
    SideResult result;
    uint32_t hint = 0;
    for (const WorldPoint& corner : from.Corners) result.Largest2 = std::max(result.Largest2, to.Grid.Nearest2(corner, hint));

    const double total = from.AreaUpTo.back();
    std::size_t t = 0;
    for (int i = 0; i < count; ++i) {
        const double at = (double(i) + random.Unit()) / double(count) * total;
        // at only grows with i: the walk over the running sums goes forward only.
        while (t + 1 < from.AreaUpTo.size() && from.AreaUpTo[t] <= at) ++t;
        const double before = t == 0 ? 0.0 : from.AreaUpTo[t - 1];
        const double area = from.AreaUpTo[t] - before;
        const WorldTriangle& tri = from.Triangles[t];
        const auto [b, c] = placeInTriangle(area > 0 ? std::clamp((at - before) / area, 0.0, 1.0) : 0.0, random);
        const double a = 1.0 - b - c;
        const WorldPoint sample{a * tri.A[0] + b * tri.B[0] + c * tri.C[0], a * tri.A[1] + b * tri.B[1] + c * tri.C[1],
                                a * tri.A[2] + b * tri.B[2] + c * tri.C[2]};
        const double distance2 = to.Grid.Nearest2(sample, hint);
        result.Largest2 = std::max(result.Largest2, distance2);
        result.AreaSum2 += distance2;
    }
    return result;
}

std::string frameName(const TMDLFrame& frame)
{
    const auto end = std::find(frame.Name.begin(), frame.Name.end(), '\0');
    return std::string(frame.Name.begin(), end);
}

// Why a model cannot be measured, or "" when it can: triangles there, and
// every index within every frame (files are not checked for this at loading).
std::string modelProblem(const TMDLModel& model, int side)
{
    if (model.Triangles.Items.empty()) return std::string(sideName(side)) + " has no triangles";
    for (std::size_t f = 0; f < model.Frames.size(); ++f) {
        const std::size_t vertexCount = model.Frames[f].Items.size();
        for (std::size_t t = 0; t < model.Triangles.Items.size(); ++t)
            for (uint32_t v : model.Triangles.Items[t].VertIndex)
                if (v >= vertexCount)
                    return "triangle " + std::to_string(t) + " of " + sideName(side) + " names vertex " + std::to_string(v) +
                           ", but frame " + std::to_string(f) + " has " + std::to_string(vertexCount) + " vertices";
    }
    return {};
}

// Measures one frame both ways into deviation. Returns why it cannot, or "".
std::string measureFrame(const TMDLModel& original, const TMDLModel& other, int frame, uint64_t seed, int samples,
                         std::array<Surface, 2>& surfaces, FrameDeviation& deviation)
{
    const double diagonal = FrameBox(original, frame).Diagonal();
    if (!(diagonal > 0)) return "frame " + std::to_string(frame) + " of the first model has a box of no size";
    loadSurface(original, frame, surfaces[0]);
    loadSurface(other, frame, surfaces[1]);
    for (int side = 0; side < 2; ++side)
        if (!(surfaces[side].AreaUpTo.back() > 0))
            return "frame " + std::to_string(frame) + " of " + sideName(side) + " has no area to sample";
    double largest2 = 0;
    double sum2 = 0;
    for (int side = 0; side < 2; ++side) {
        SampleRandom random(streamSeed(seed, frame, side));
        const SideResult result = measureSide(surfaces[side], surfaces[1 - side], samples, random);
        largest2 = std::max(largest2, result.Largest2);
        sum2 += result.AreaSum2;
    }
    deviation.Frame = frame;
    deviation.Name = frameName(original.Frames[std::size_t(frame)]);
    deviation.Hausdorff = std::sqrt(largest2) / diagonal;
    deviation.Rms = std::sqrt(sum2 / (2.0 * samples)) / diagonal;
    return {};
}

}  // namespace

std::variant<DeviationSummary, std::string> MeasureDeviation(const TMDLModel& original, const TMDLModel& other,
                                                             const MeasureOptions& options)
{
    // 1. check everything before measuring anything
    if (original.Frames.size() != other.Frames.size())
        return "the first model has " + std::to_string(original.Frames.size()) + " frames and the second " +
               std::to_string(other.Frames.size());
    if (original.Frames.empty()) return std::string("the models have no frames");
    if (options.SamplesPerSide < 0) return std::string("the number of samples must not be negative");
    for (int side = 0; side < 2; ++side)
        if (std::string problem = modelProblem(side == 0 ? original : other, side); !problem.empty()) return problem;
    std::vector<int> frames = options.Frames;
    if (frames.empty()) frames = SpreadFrames(int(original.Frames.size()), int(original.Frames.size()));
    for (int frame : frames)
        if (frame < 0 || std::size_t(frame) >= original.Frames.size())
            return "frame " + std::to_string(frame) + " is not among the models' " + std::to_string(original.Frames.size()) + " frames";
    const int samples = options.SamplesPerSide > 0 ? options.SamplesPerSide : kDefaultSamplesPerSide;

    // 2. measure frame by frame, both ways, frames shared out among threads.
    // Each frame is measured alone, from its own streams, into its own slot:
    // the result does not depend on how many threads there are.
    std::vector<FrameDeviation> deviations(frames.size());
    std::vector<std::string> problems(frames.size());
    std::atomic<std::size_t> nextFrame{0};
    auto worker = [&] {
        std::array<Surface, 2> surfaces;  // scratch kept from frame to frame
        for (std::size_t slot; (slot = nextFrame++) < frames.size();)
            problems[slot] = measureFrame(original, other, frames[slot], options.Seed, samples, surfaces, deviations[slot]);
    };
    const unsigned threadCount = std::min<std::size_t>(
        options.Threads > 0 ? unsigned(options.Threads) : std::max(1u, std::thread::hardware_concurrency()), frames.size());
    {
        std::vector<std::jthread> helpers;
        for (unsigned t = 1; t < threadCount; ++t) helpers.emplace_back(worker);
        worker();
    }
    for (const std::string& problem : problems)
        if (!problem.empty()) return problem;  // the first in the order of frames

    DeviationSummary summary;
    summary.Frames = std::move(deviations);
    summary.OriginalTriangles = original.Triangles.Count;
    summary.OtherTriangles = other.Triangles.Count;
    double rmsSum = 0;

    // 3. the summary: the first frame wins a tie
    summary.Hausdorff = -1;
    summary.Rms = -1;
    for (const FrameDeviation& deviation : summary.Frames) {
        if (deviation.Hausdorff > summary.Hausdorff) {
            summary.Hausdorff = deviation.Hausdorff;
            summary.HausdorffFrame = deviation.Frame;
        }
        if (deviation.Rms > summary.Rms) {
            summary.Rms = deviation.Rms;
            summary.RmsFrame = deviation.Frame;
        }
        rmsSum += deviation.Rms;
    }
    summary.MeanRms = rmsSum / double(summary.Frames.size());
    return summary;
}

std::vector<int> SpreadFrames(int frameCount, int count)
{
    std::vector<int> frames;
    if (frameCount <= 0 || count <= 0) return frames;
    if (count >= frameCount || count == 1) {
        for (int f = 0; f < std::min(count, frameCount); ++f) frames.push_back(f);
        return frames;
    }
    // Rounded to the nearest frame: count <= frameCount keeps the steps at 1 or more,
    // so no frame comes twice, and i = count - 1 lands on the last frame exactly.
    for (int i = 0; i < count; ++i)
        frames.push_back(int((int64_t(i) * (frameCount - 1) + (count - 1) / 2) / (count - 1)));
    return frames;
}
