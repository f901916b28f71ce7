#include "measure/Measure.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <unordered_map>

#include "measure/TriangleGrid.h"
#include "model/Geometry.h"
#include "model/Words.h"
#include "model/formats/MDL5.h"

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

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// Places as hash keys: the same bits, the same place.
struct PlaceHash {
    std::size_t operator()(const WorldPoint& p) const
    {
        uint64_t bits[3];
        std::memcpy(bits, p.data(), sizeof bits);
        return std::size_t((bits[0] * 0x9E3779B97F4A7C15ull) ^ (bits[1] * 0xC2B2AE3D27D4EB4Full) ^ (bits[2] * 0x165667B19E3779F9ull));
    }
};


// What stays the same for one model in every frame: its triangles' corners,
// the vertices they use, and how its texture coordinates turn into texels of
// the first model's skin.
struct Side {
    const AnimatedMesh* Mesh = nullptr;
    std::vector<std::array<uint32_t, 3>> Triangles;
    std::vector<uint32_t> Used;   // the vertices some triangle uses, ascending
    // For each vertex: a used vertex of the other model at the same place in
    // frame 0, or kNone. A reduction keeps records of its input, and a vertex
    // that stands on a vertex of the other surface is at distance 0 from it.
    std::vector<uint32_t> Twin;
    std::vector<uint32_t> OneTriangle;  // for each vertex: a triangle using it, or kNone
    // For each triangle: the other model's triangle on the twins of its
    // corners, or kNone, and which of that triangle's corners each twin is.
    std::vector<uint32_t> TwinTriangle;
    std::vector<std::array<uint8_t, 3>> TwinCorner;
    // For each triangle when texture is measured: its corners' skin
    // coordinates in texels of the first model's skin, u then v, side by side
    // for the sample loop.
    std::vector<std::array<float, 6>> Texels;
    // For each triangle when texture is measured: 1 when a corner stands (in
    // frame 0) where some triangle gives another skin coordinate, on a seam.
    std::vector<uint8_t> OnSeam;
};

Side sideOf(const AnimatedMesh& mesh, const AnimatedMesh& first, bool texture)
{
    Side side;
    side.Mesh = &mesh;
    side.OneTriangle.assign(mesh.VertexCount, kNone);
    side.Triangles.reserve(mesh.Triangles.size());
    for (std::size_t t = 0; t < mesh.Triangles.size(); ++t) {
        side.Triangles.push_back(mesh.Triangles[t].Vertex);
        for (uint32_t v : mesh.Triangles[t].Vertex) side.OneTriangle[v] = uint32_t(t);  // checked against VertexCount before
    }
    for (uint32_t v = 0; v < mesh.VertexCount; ++v)
        if (side.OneTriangle[v] != kNone) side.Used.push_back(v);
    if (!texture) return side;
    const double scaleU = double(first.SkinWidth) / mesh.SkinWidth, scaleV = double(first.SkinHeight) / mesh.SkinHeight;
    side.Texels.resize(mesh.Triangles.size());
    for (std::size_t t = 0; t < mesh.Triangles.size(); ++t)
        for (std::size_t j = 0; j < 3; ++j) {
            const std::array<float, 2>& uv = mesh.TexCoords[mesh.Triangles[t].TexCoord[j]];  // checked before
            side.Texels[t][j] = float(uv[0] * scaleU);
            side.Texels[t][3 + j] = float(uv[1] * scaleV);
        }

    // Seams by place, not by vertex: formats that split a vertex on a seam
    // give each side a vertex of its own at the same place.
    struct Corner {
        std::array<float, 2> TexCoord;
        bool Seam = false;
    };
    std::unordered_map<WorldPoint, Corner, PlaceHash> places;
    places.reserve(side.Used.size());
    for (const MeshTriangle& tri : mesh.Triangles)
        for (std::size_t j = 0; j < 3; ++j) {
            const std::array<float, 2>& uv = mesh.TexCoords[tri.TexCoord[j]];
            const auto [at, added] = places.try_emplace(mesh.World(tri.Vertex[j], 0), Corner{uv});
            if (!added && at->second.TexCoord != uv) at->second.Seam = true;
        }
    side.OnSeam.resize(mesh.Triangles.size());
    for (std::size_t t = 0; t < mesh.Triangles.size(); ++t)
        for (uint32_t vertex : mesh.Triangles[t].Vertex) side.OnSeam[t] |= uint8_t(places[mesh.World(vertex, 0)].Seam);
    return side;
}

// Finds each used vertex of from's twin among to's used vertices, by their
// place in frame 0: one hash of to's places, one look-up per vertex.
void findTwins(Side& from, const Side& to)
{
    std::unordered_map<WorldPoint, uint32_t, PlaceHash> places;
    places.reserve(to.Used.size());
    for (uint32_t v : to.Used) places.emplace(to.Mesh->World(v, 0), v);
    from.Twin.assign(from.Mesh->VertexCount, kNone);
    for (uint32_t v : from.Used)
        if (const auto found = places.find(from.Mesh->World(v, 0)); found != places.end()) from.Twin[v] = found->second;
}

// Finds each triangle of from whose corners' twins make a triangle of to.
void findTwinTriangles(Side& from, const Side& to)
{
    struct CornersHash {
        std::size_t operator()(const std::array<uint32_t, 3>& c) const
        {
            return std::size_t((c[0] * 0x9E3779B97F4A7C15ull) ^ (c[1] * 0xC2B2AE3D27D4EB4Full) ^ (c[2] * 0x165667B19E3779F9ull));
        }
    };
    const auto sorted = [](std::array<uint32_t, 3> corners) {
        std::sort(corners.begin(), corners.end());
        return corners;
    };
    std::unordered_map<std::array<uint32_t, 3>, uint32_t, CornersHash> triangles;
    triangles.reserve(to.Triangles.size());
    for (std::size_t t = 0; t < to.Triangles.size(); ++t) triangles.emplace(sorted(to.Triangles[t]), uint32_t(t));
    from.TwinTriangle.assign(from.Triangles.size(), kNone);
    from.TwinCorner.assign(from.Triangles.size(), {0, 0, 0});
    for (std::size_t t = 0; t < from.Triangles.size(); ++t) {
        std::array<uint32_t, 3> twins;
        for (std::size_t j = 0; j < 3; ++j) twins[j] = from.Twin[from.Triangles[t][j]];
        if (twins[0] == kNone || twins[1] == kNone || twins[2] == kNone) continue;
        const auto found = triangles.find(sorted(twins));
        if (found == triangles.end()) continue;
        from.TwinTriangle[t] = found->second;
        for (std::size_t j = 0; j < 3; ++j)
            from.TwinCorner[t][j] = uint8_t(std::find(to.Triangles[found->second].begin(), to.Triangles[found->second].end(), twins[j]) -
                                            to.Triangles[found->second].begin());
    }
}

// One model's surface in one frame: every vertex's place, the running sum of
// the triangles' areas, and the grid over them. Kept from frame to frame, so
// that its vectors keep their memory.
struct Surface {
    std::vector<WorldPoint> Points;
    std::vector<double> AreaUpTo;  // AreaUpTo[t]: the area of triangles 0..t
    TriangleGrid Grid;
    double Scale = 0;  // the side of a square of a triangle's mean area: for tolerances
    bool Built = false;  // the grid holds the side's triangles
    // For each vertex: the other surface's nearest triangle in the last frame
    // this thread measured, or kNone. Animation moves a vertex little from
    // frame to frame, so the distance to it is a close upper bound, and a good
    // hint for samples near the vertex.
    std::vector<uint32_t> LastNearest;
    std::vector<uint32_t> Scratch;  // triangles as near as the nearest
};

// A triangle of to near vertex v of from in this frame, or kNone: one at its
// twin when that still stands on it, else the one nearest in an earlier frame.
uint32_t nearTriangle(uint32_t v, const Side& fromSide, const Surface& from, const Side& toSide, const Surface& to)
{
    const uint32_t twin = fromSide.Twin[v];
    if (twin != kNone && from.Points[v] == to.Points[twin]) return toSide.OneTriangle[twin];
    return from.LastNearest.empty() ? kNone : from.LastNearest[v];
}

void loadSurface(const Side& side, uint32_t frame, Surface& surface)
{
    const AnimatedMesh& mesh = *side.Mesh;
    surface.Points.resize(mesh.VertexCount);
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) surface.Points[v] = mesh.World(v, frame);
    surface.AreaUpTo.resize(side.Triangles.size());
    double area = 0;
    for (std::size_t t = 0; t < side.Triangles.size(); ++t) {
        const WorldPoint& a = surface.Points[side.Triangles[t][0]];
        const WorldPoint& b = surface.Points[side.Triangles[t][1]];
        const WorldPoint& c = surface.Points[side.Triangles[t][2]];
        const WorldPoint ab{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const WorldPoint ac{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const WorldPoint normal{ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2], ab[0] * ac[1] - ab[1] * ac[0]};
        // Packed values times a float scale stay below 1e44, so the squares
        // cannot overflow a double: no need for hypot's slower scaling.
        area += 0.5 * std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
        surface.AreaUpTo[t] = area;
    }
    surface.Scale = side.Triangles.empty() ? 0 : std::sqrt(area / double(side.Triangles.size()));
    // A surface serves one pair of models: its triangles stay from frame to frame.
    if (surface.Built) {
        surface.Grid.Rebuild(surface.Points);
    } else {
        surface.Grid.Build(surface.Points, side.Triangles);
        surface.Built = true;
    }
}

struct SideResult {
    double Largest2 = 0;      // the largest squared distance, corners included
    double AreaSum2 = 0;      // the sum of squared distances of the area samples
    double TextureLargest2 = 0;  // the same for the skin coordinates, in texels
    double TextureSum2 = 0;
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
SideResult measureSide(const Side& fromSide, Surface& from, const Side& toSide, const Surface& to, int count, bool texture,
                       SampleRandom& random)
{
    // A weight this small puts the nearest point on an edge; triangles within
    // this share of a triangle's scale beyond the nearest distance are as near as it.
    constexpr double kOnEdge = 1e-9;
    constexpr double kSeamSlack = 1e-9;
    SideResult result;
    std::vector<uint32_t>& sameDistance = from.Scratch;
    from.LastNearest.resize(fromSide.Mesh->VertexCount, kNone);
    uint32_t hint = 0;
    std::size_t hinted = std::numeric_limits<std::size_t>::max();  // the triangle the hint came from
    bool onTwin = false;  // triangle hinted stands on its twin in this frame
    const double total = from.AreaUpTo.back();
    std::size_t t = 0;
    for (int i = 0; i < count; ++i) {
        const double at = (double(i) + random.Unit()) / double(count) * total;
        // at only grows with i: the walk over the running sums goes forward only.
        while (t + 1 < from.AreaUpTo.size() && from.AreaUpTo[t] <= at) ++t;
        const double before = t == 0 ? 0.0 : from.AreaUpTo[t - 1];
        const double area = from.AreaUpTo[t] - before;
        const WorldPoint& pa = from.Points[fromSide.Triangles[t][0]];
        const WorldPoint& pb = from.Points[fromSide.Triangles[t][1]];
        const WorldPoint& pc = from.Points[fromSide.Triangles[t][2]];
        const auto [b, c] = placeInTriangle(area > 0 ? std::clamp((at - before) / area, 0.0, 1.0) : 0.0, random);
        // In a new triangle, the hint comes from near its first corner; the
        // hint only speeds the query, the distance is the same with any.
        if (t != hinted) {
            hinted = t;
            const std::array<uint32_t, 3>& corners = fromSide.Triangles[t];
            const uint32_t twin = fromSide.TwinTriangle[t];
            onTwin = twin != kNone;
            for (std::size_t j = 0; j < 3 && onTwin; ++j) onTwin = from.Points[corners[j]] == to.Points[fromSide.Twin[corners[j]]];
            if (onTwin) hint = twin;
            else if (const uint32_t near = nearTriangle(corners[0], fromSide, from, toSide, to); near != kNone) hint = near;
        }
        const double a = 1.0 - b - c;
        const WorldPoint sample{a * pa[0] + b * pb[0] + c * pc[0], a * pa[1] + b * pb[1] + c * pc[1], a * pa[2] + b * pb[2] + c * pc[2]};
        double distance2 = 0;
        std::array<double, 3> weights;  // of the nearest triangle's corners
        if (onTwin) {
            // The triangle stands on one of the other surface (a record a
            // reduction kept): the sample lies on it, at distance 0 (the query
            // would give that but for rounding), where its corners weigh as
            // here. Only a sample on an edge it shares might have found a
            // neighbour of it instead.
            const std::array<uint8_t, 3>& corner = fromSide.TwinCorner[t];
            weights[corner[0]] = a, weights[corner[1]] = b, weights[corner[2]] = c;
        } else {
            distance2 = to.Grid.Nearest2(sample, hint);
            result.Largest2 = std::max(result.Largest2, distance2);
            result.AreaSum2 += distance2;
            if (texture) weights = to.Grid.NearestWeights(sample, hint);
        }
        if (!texture) continue;
        // The sample's own skin coordinate against the one at the nearest
        // point of the nearest triangle (hint, after the query).
        const std::array<float, 6>& own = fromSide.Texels[t];
        const double u = a * own[0] + b * own[1] + c * own[2], v = a * own[3] + b * own[4] + c * own[5];
        const auto texelGap2 = [&](uint32_t triangle, const std::array<double, 3>& w) {
            const std::array<float, 6>& near = toSide.Texels[triangle];
            const double du = u - (w[0] * near[0] + w[1] * near[1] + w[2] * near[2]);
            const double dv = v - (w[0] * near[3] + w[1] * near[4] + w[2] * near[5]);
            return du * du + dv * dv;
        };
        double texels2 = texelGap2(hint, weights);
        // A nearest point on an edge or corner may lie on a seam, where the
        // triangles beyond it are as near (but for rounding) and carry other
        // skin coordinates for the same place: the sample finds there the one
        // nearest its own, whichever triangle the query happened to name.
        if (!onTwin && texels2 > 0 && toSide.OnSeam[hint] && std::min({weights[0], weights[1], weights[2]}) <= kOnEdge) {
            const double slack = kSeamSlack * to.Scale;
            to.Grid.Within(sample, distance2 + slack * (slack + 2 * std::sqrt(distance2)), sameDistance);
            for (uint32_t other : sameDistance) texels2 = std::min(texels2, texelGap2(other, to.Grid.NearestWeights(sample, other)));
        }
        result.TextureLargest2 = std::max(result.TextureLargest2, texels2);
        result.TextureSum2 += texels2;
    }

    // Every vertex some triangle uses, for the largest distance alone. Only a
    // vertex that may lie further than the largest so far needs its nearest
    // triangle: the distance to any one triangle bounds its own, and when that
    // bound is no more than the largest the result stays the same without it.
    for (uint32_t v : fromSide.Used) {
        const WorldPoint& corner = from.Points[v];
        // A vertex standing exactly on a vertex of the other surface is at
        // distance 0, which the query would return too.
        const uint32_t twin = fromSide.Twin[v];
        if (twin != kNone && corner == to.Points[twin]) continue;
        uint32_t& guess = from.LastNearest[v];
        if (guess != kNone && to.Grid.Distance2(corner, guess) <= result.Largest2) continue;
        if (guess != kNone) hint = guess;
        result.Largest2 = std::max(result.Largest2, to.Grid.Nearest2(corner, hint));
        guess = hint;
    }
    return result;
}

// Why a model cannot be measured, or "" when it can: triangles there, and
// every corner naming a vertex the view holds.
std::string modelProblem(const AnimatedMesh& mesh, int side)
{
    if (mesh.Triangles.empty()) return std::string(sideName(side)) + " has no triangles";
    // Views built in memory may fall short of their counts; views of files never do.
    if (mesh.Positions.size() != std::size_t(mesh.VertexCount) * mesh.FrameCount || !mesh.HasTransforms())
        return std::string(sideName(side)) + " holds fewer positions than its counts say";
    for (std::size_t t = 0; t < mesh.Triangles.size(); ++t)
        for (uint32_t v : mesh.Triangles[t].Vertex)
            if (v >= mesh.VertexCount)
                return "triangle " + std::to_string(t) + " of " + sideName(side) + " names vertex " + std::to_string(v) + ", but it has " +
                       std::to_string(mesh.VertexCount) + " vertices";
    return {};
}

// Whether every triangle corner of mesh names a texture coordinate it holds.
bool hasTexture(const AnimatedMesh& mesh)
{
    if (mesh.TexCoords.empty() || mesh.SkinWidth <= 0 || mesh.SkinHeight <= 0) return false;
    for (const MeshTriangle& tri : mesh.Triangles)
        for (uint32_t k : tri.TexCoord)
            if (k >= mesh.TexCoords.size()) return false;
    return true;
}

// Measures one frame both ways into deviation. Returns why it cannot, or "".
// Frame number is the model's frame that frame of the views shows.
std::string measureFrame(const std::array<Side, 2>& sides, int frame, int number, uint64_t seed, int samples, bool texture,
                         std::array<Surface, 2>& surfaces, FrameDeviation& deviation)
{
    const AnimatedMesh& original = *sides[0].Mesh;
    const double diagonal = FrameBox(original, uint32_t(frame)).Diagonal();
    if (!(diagonal > 0)) return "frame " + std::to_string(number) + " of the first model has a box of no size";
    for (int side = 0; side < 2; ++side) {
        loadSurface(sides[side], uint32_t(frame), surfaces[side]);
        if (!(surfaces[side].AreaUpTo.back() > 0))
            return "frame " + std::to_string(number) + " of " + sideName(side) + " has no area to sample";
    }
    SideResult pooled;
    for (int side = 0; side < 2; ++side) {
        SampleRandom random(streamSeed(seed, number, side));
        const SideResult result =
            measureSide(sides[side], surfaces[side], sides[1 - side], surfaces[1 - side], samples, texture, random);
        pooled.Largest2 = std::max(pooled.Largest2, result.Largest2);
        pooled.AreaSum2 += result.AreaSum2;
        pooled.TextureLargest2 = std::max(pooled.TextureLargest2, result.TextureLargest2);
        pooled.TextureSum2 += result.TextureSum2;
    }
    deviation.Frame = number;
    deviation.Name = std::size_t(frame) < original.FrameNames.size() ? original.FrameNames[std::size_t(frame)] : std::string();
    deviation.Hausdorff = std::sqrt(pooled.Largest2) / diagonal;
    deviation.Rms = std::sqrt(pooled.AreaSum2 / (2.0 * samples)) / diagonal;
    deviation.TextureRms = std::sqrt(pooled.TextureSum2 / (2.0 * samples));
    deviation.TextureLargest = std::sqrt(pooled.TextureLargest2);
    return {};
}

}  // namespace

std::variant<DeviationSummary, std::string> MeasureDeviation(const AnimatedMesh& original, const AnimatedMesh& other,
                                                             const MeasureOptions& options)
{
    // 1. check everything before measuring anything
    if (original.FrameCount != other.FrameCount)
        return "the first model has " + Counted(original.FrameCount, "frame", "frames") + " and the second " + std::to_string(other.FrameCount);
    if (original.FrameCount == 0) return std::string("the models have no frames");
    if (options.SamplesPerSide < 0) return std::string("the number of samples must not be negative");
    for (int side = 0; side < 2; ++side)
        if (std::string problem = modelProblem(side == 0 ? original : other, side); !problem.empty()) return problem;
    const int frameCount = int(original.FrameCount);
    std::vector<int> frames = options.Frames;
    if (frames.empty()) frames = SpreadFrames(frameCount, frameCount);
    for (int frame : frames)
        if (frame < 0 || frame >= frameCount)
            return "frame " + std::to_string(frame) + " is not among the models' " + std::to_string(frameCount) + " frames";
    if (!options.Numbers.empty() && options.Numbers.size() != std::size_t(frameCount))
        return "the views have " + std::to_string(frameCount) + " frames and " + std::to_string(options.Numbers.size()) + " frame numbers";
    const auto numberOf = [&](int frame) { return options.Numbers.empty() ? frame : options.Numbers[std::size_t(frame)]; };
    const int samples = options.SamplesPerSide > 0 ? options.SamplesPerSide : kDefaultSamplesPerSide;
    const bool texture = hasTexture(original) && hasTexture(other);
    std::array<Side, 2> sides = {sideOf(original, original, texture), sideOf(other, original, texture)};
    findTwins(sides[0], sides[1]);
    findTwins(sides[1], sides[0]);
    findTwinTriangles(sides[0], sides[1]);
    findTwinTriangles(sides[1], sides[0]);

    // 2. measure frame by frame, both ways, frames shared out among threads.
    // Each frame is measured alone, from its own streams, into its own slot:
    // the result does not depend on how many threads there are.
    std::vector<FrameDeviation> deviations(frames.size());
    std::vector<std::string> problems(frames.size());
    std::atomic<std::size_t> nextFrame{0};
    std::atomic<std::size_t> framesDone{0};
    auto worker = [&](bool tells) {
        std::array<Surface, 2> surfaces;  // scratch kept from frame to frame
        for (std::size_t slot; (slot = nextFrame++) < frames.size();) {
            problems[slot] =
                measureFrame(sides, frames[slot], numberOf(frames[slot]), options.Seed, samples, texture, surfaces, deviations[slot]);
            const std::size_t done = ++framesDone;
            if (tells && options.Progress) options.Progress(done, frames.size());
        }
    };
    const unsigned threadCount = unsigned(std::min<std::size_t>(
        options.Threads > 0 ? unsigned(options.Threads) : std::max(1u, std::thread::hardware_concurrency()), frames.size()));
    {
        // Joined before anything they write is read, also when starting one fails.
        std::vector<std::thread> helpers;
        struct JoinAll {
            std::vector<std::thread>& Threads;
            ~JoinAll()
            {
                for (std::thread& thread : Threads) thread.join();
            }
        } joinAll{helpers};
        helpers.reserve(threadCount);
        for (unsigned t = 1; t < threadCount; ++t) helpers.emplace_back(worker, false);
        try {
            worker(true);
        } catch (...) {  // the progress ended the measure: the helpers take no more frames
            nextFrame = frames.size();
            throw;
        }
    }
    for (const std::string& problem : problems)
        if (!problem.empty()) return problem;  // the first in the order of frames

    DeviationSummary summary;
    summary.Frames = std::move(deviations);
    summary.OriginalTriangles = int32_t(original.Triangles.size());
    summary.OtherTriangles = int32_t(other.Triangles.size());
    summary.FrameCount = frameCount;
    summary.TextureMeasured = texture;
    // 3. the summary
    SummarizeFrames(summary);
    return summary;
}

void SummarizeFrames(DeviationSummary& summary)
{
    // The first frame wins a tie; the mean is summed in frame order.
    double rmsSum = 0;
    summary.Hausdorff = summary.Rms = summary.TextureRms = summary.TextureLargest = -1;
    const auto keepLargest = [](double value, int frame, double& largest, int& largestFrame) {
        if (value > largest) largest = value, largestFrame = frame;
    };
    for (const FrameDeviation& deviation : summary.Frames) {
        keepLargest(deviation.Hausdorff, deviation.Frame, summary.Hausdorff, summary.HausdorffFrame);
        keepLargest(deviation.Rms, deviation.Frame, summary.Rms, summary.RmsFrame);
        keepLargest(deviation.TextureRms, deviation.Frame, summary.TextureRms, summary.TextureRmsFrame);
        keepLargest(deviation.TextureLargest, deviation.Frame, summary.TextureLargest, summary.TextureLargestFrame);
        rmsSum += deviation.Rms;
    }
    summary.MeanRms = summary.Frames.empty() ? 0 : rmsSum / double(summary.Frames.size());
}

std::variant<DeviationSummary, std::string> MeasureDeviation(const TMDLModel& original, const TMDLModel& other,
                                                             const MeasureOptions& options)
{
    // Positions and texture coordinates are all the measure reads.
    const MeshOptions geometry{.VertexMajor = false, .Normals = false, .Skin = false};
    return MeasureDeviation(MeshOf(original, geometry), MeshOf(other, geometry), options);
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
