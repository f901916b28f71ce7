// TMDLModel::Reduce: one reduction pass.
//
// The pass behaves exactly like the plain loop that rescans every triangle for
// every vertex and shifts every list on every removal, but does the work once:
// - Vertices and triangles keep their first numbers during phase 1 and are
//   only marked as removed. A removal never reorders the survivors, so walking
//   the first numbers in ascending order meets them in the order the shifted
//   lists would, and comparing first numbers compares the shifted indices.
// - Each vertex's fan comes from a vertex-to-triangle index kept in step with
//   every collapse, in ascending triangle order as the full scan finds it.
// - Frames, triangles and skin vertices are compacted once, at the end of the
//   phase that removed them, in one sequential sweep each.

#include "reduce/Reduce.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <utility>

#include "model/MDLClass.h"
#include "reduce/FanIndex.h"
#include "model/NormalTable.h"
#include "reduce/Progress.h"
#include "reduce/Vector.h"

namespace {

// The largest squared texel distance that does not make the fan's spread
// exceed uvLimit. Distance2D of integer texels is sqrt(q) rounded to double,
// which grows with q, so "Distance2D > uvLimit" is "q > the returned value".
// -1 when even a spread of 0 exceeds the limit.
int64_t maxSquaredSpread(float uvLimit)
{
    const double limit = uvLimit;
    const auto roundedRoot = [](int64_t q) { return double(std::sqrt((long double)q)); };
    if (std::isnan(limit)) return std::numeric_limits<int64_t>::max();  // nothing compares greater
    if (limit < 0.0) return -1;
    int64_t low = 0;                         // roundedRoot(low) <= limit
    int64_t high = 2 * 65535LL * 65535LL + 1;  // the largest distance of two texels, plus one
    if (roundedRoot(high - 1) <= limit) return std::numeric_limits<int64_t>::max();
    while (high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        (roundedRoot(mid) <= limit ? low : high) = mid;
    }
    return low;
}

// Whether two normals agree at this limit, for every pair of NormalIndex bytes.
// An index past the table never agrees, so its vertex is never collapsed.
std::vector<uint8_t> normalAgreement(float normalLimit)
{
    std::vector<uint8_t> agree(256 * 256, 0);
    for (int a = 0; a < kNormalCount; ++a) {
        Vec3 normalA;
        Vec3FromArray(NormalTable[std::size_t(a)], normalA);
        for (int b = 0; b < kNormalCount; ++b) {
            Vec3 normalB;
            Vec3FromArray(NormalTable[std::size_t(b)], normalB);
            agree[std::size_t(a * 256 + b)] = !(std::fabs(DotProduct(normalA, normalB)) < double(normalLimit));
        }
    }
    return agree;
}

// Comparing squared integer distances picks the same target as comparing
// Distance3D: for 16-bit coordinates the square roots of two different squares
// differ by far more than a double's rounding, and every distance lies below
// the starting target distance of 2147483647.
int64_t squaredDistance(const FrameVert& a, const FrameVert& b)
{
    const int64_t dx = int64_t(a.X) - b.X;
    const int64_t dy = int64_t(a.Y) - b.Y;
    const int64_t dz = int64_t(a.Z) - b.Z;
    return dx * dx + dy * dy + dz * dz;
}

void showProgressIfDrawn(const TMDLModel& model, int64_t index, int64_t count, int phase)
{
    if (ProgressDraw() == 0) model.ShowProgress(ProgressText(index, count, phase));
}

// Moves the records listed in kept down over the others, in order.
template <class Records>
void compact(Records& items, int32_t& count, const std::vector<uint32_t>& kept)
{
    // kept is ascending and kept[k] >= k, so copying forward never overwrites
    // a record still to be moved.
    for (std::size_t k = 0; k < kept.size(); ++k) items[k] = items[kept[k]];
    items.resize(kept.size());
    count = int32_t(kept.size());
}

// The first numbers of the records that stay, ascending.
std::vector<uint32_t> survivors(const std::vector<uint8_t>& removed)
{
    std::vector<uint32_t> kept;
    kept.reserve(removed.size());
    for (uint32_t i = 0; i < removed.size(); ++i)
        if (!removed[i]) kept.push_back(i);
    return kept;
}

// Each record's number once the removed ones below it are gone.
std::vector<uint32_t> newNumbers(const std::vector<uint8_t>& removed)
{
    std::vector<uint32_t> numbers(removed.size());
    uint32_t next = 0;
    for (std::size_t i = 0; i < removed.size(); ++i) {
        numbers[i] = next;
        next += removed[i] ? 0 : 1;
    }
    return numbers;
}

// Phase 1 runs only on a model whose indices the loader has checked; a model
// put together otherwise is left as it is rather than read outside a list.
bool phaseOneCanRun(const TMDLModel& model, uint32_t vertexCount)
{
    for (const TMDLFrame& frame : model.Frames)
        if (frame.Count != int32_t(vertexCount) || frame.Items.size() != vertexCount) return false;
    const auto skinCount = model.SkinVerts.Items.size();
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (int j = 0; j < 3; ++j)
            if (tri.VertIndex[j] >= vertexCount || tri.SkinIndex[j] >= skinCount) return false;
    return true;
}

// Scratch lists of one vertex's look, kept from vertex to vertex.
struct FanScratch {
    std::vector<uint32_t> Fan;          // the live triangles about the vertex, ascending
    std::vector<int32_t> Neighbours;    // their other corners, twice each in a closed fan
    std::vector<int32_t> Candidates;    // each neighbour once: the possible targets
};

// Steps 1 and 2 of a vertex's look: whether v lies inside a closed fan of at
// least three live triangles whose skin vertices stay within maxSpread
// (squared texels) of the reference point; scratch then holds the fan and
// the candidates, in the order the pass has always used.
bool closedFanOf(uint32_t v, FanIndex& fans, const std::vector<MDLTriangle>& triangles, const std::vector<SkinVert>& skinVerts,
                 const std::vector<uint8_t>& triangleRemoved, int64_t maxSpread, FanScratch& scratch)
{
    // 1. gather the fan in ascending triangle order; the first corner whose
    // skin vertex is not at (0, 0) sets the reference point
    scratch.Fan.clear();
    scratch.Neighbours.clear();
    uint16_t refU = 0;
    uint16_t refV = 0;
    bool spreadTooWide = false;
    for (uint32_t t : fans.SortedOf(v)) {
        if (triangleRemoved[t]) continue;
        const MDLTriangle& tri = triangles[t];
        assert(tri.VertIndex[0] == v || tri.VertIndex[1] == v || tri.VertIndex[2] == v);
        for (int j = 0; j < 3; ++j) {
            const SkinVert& skin = skinVerts[tri.SkinIndex[j]];
            if (refU == 0 && refV == 0) {
                refU = skin.U;
                refV = skin.V;
                continue;
            }
            const int64_t du = int64_t(refU) - skin.U;
            const int64_t dv = int64_t(refV) - skin.V;
            if (du * du + dv * dv > maxSpread) spreadTooWide = true;
        }
        // The spread is checked after each triangle, so a negative limit
        // stops at the first one even when nothing was measured.
        if (spreadTooWide || maxSpread < 0) {
            spreadTooWide = true;
            break;
        }
        for (int j = 0; j < 3; ++j)
            if (tri.VertIndex[j] != v) scratch.Neighbours.push_back(int32_t(tri.VertIndex[j]));
        scratch.Fan.push_back(t);
    }
    if (spreadTooWide || scratch.Fan.size() < 3 || scratch.Neighbours.size() % 2 != 0) return false;

    // 2. closed fan: every distinct neighbour occurs an even number of times
    std::sort(scratch.Neighbours.begin(), scratch.Neighbours.end());
    const std::vector<int32_t>& neighbours = scratch.Neighbours;
    scratch.Candidates.clear();
    for (std::size_t k = 0; k + 1 < neighbours.size(); k += 2) {
        if (neighbours[k] != neighbours[k + 1]) {
            scratch.Candidates.clear();
            break;
        }
        scratch.Candidates.push_back(neighbours[k]);
    }
    return !scratch.Candidates.empty();
}

// Phase 2: drops the skin vertices no triangle uses and renumbers the rest;
// returns how many went.
int32_t compactSkinVerts(TMDLModel& model)
{
    int32_t skinVerticesCut = 0;
    const auto skinCount = uint32_t(model.SkinVerts.Items.size());
    for (SkinVert& skin : model.SkinVerts.Items) skin.Used = 0;
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (uint32_t index : tri.SkinIndex)
            if (index < skinCount) model.SkinVerts.Items[index].Used = 1;
    std::vector<uint8_t> skinRemoved(skinCount, 0);
    for (uint32_t s = 0; s < skinCount; ++s) {
        showProgressIfDrawn(model, int64_t(s) - skinVerticesCut, int64_t(skinCount) - skinVerticesCut, 2);
        if (model.SkinVerts.Items[s].Used) continue;
        skinRemoved[s] = 1;
        ++skinVerticesCut;
    }
    if (skinVerticesCut > 0) {
        compact(model.SkinVerts.Items, model.SkinVerts.Count, survivors(skinRemoved));
        const std::vector<uint32_t> skinNumbers = newNumbers(skinRemoved);
        for (MDLTriangle& tri : model.Triangles.Items)
            for (uint32_t& index : tri.SkinIndex)
                if (index < skinCount) index = skinNumbers[index];
    }
    return skinVerticesCut;
}

}  // namespace

float NormalLimitForLevel(int level)
{
    return float((long double)(10 - level) / 10.0L);
}

void TMDLModel::Reduce(float NormalLimit, float UVLimit)
{
    int32_t verticesCut = 0;
    int32_t facesCut = 0;
    auto& triangles = Triangles.Items;
    auto& skinVerts = SkinVerts.Items;

    // ---- Phase 1: vertex collapse ----
    // A model without frames is one without vertices: the phase ends at once.
    const auto vertexCount = uint32_t(Frames.empty() ? 0 : std::max(Frames[0].Count, 0));
    const bool collapsible = phaseOneCanRun(*this, vertexCount);
    std::vector<uint8_t> vertexRemoved(vertexCount, 0);
    std::vector<uint8_t> triangleRemoved(triangles.size(), 0);
    if (vertexCount > 0) {
        const int64_t maxSpread = maxSquaredSpread(UVLimit);
        const std::vector<uint8_t> agree = normalAgreement(NormalLimit);
        static const std::vector<MDLTriangle> noTriangles;
        // Only the vertex being examined and vertices above it are ever read,
        // so slices of vertices below it are left to rot. A collapse hands the
        // target the rest of a fan, a few triangles: room for as many again as
        // a vertex starts with keeps most slices in place.
        FanIndex fans(collapsible ? std::as_const(triangles) : noTriangles, vertexCount, 2, 4);
        const SmallVector<FrameVert>& pose = Frames[0].Items;  // decisions are taken on frame 0
        FanScratch scratch;

        for (uint32_t v = 0; v < vertexCount; ++v) {
            // Every vertex removed so far lay below v: its index now is v minus them.
            showProgressIfDrawn(*this, int64_t(v) - verticesCut, int64_t(vertexCount) - verticesCut, 1);
            if (!collapsible) continue;
            if (!closedFanOf(v, fans, triangles, skinVerts, triangleRemoved, maxSpread, scratch)) continue;
            const std::vector<int32_t>& candidates = scratch.Candidates;
            const std::vector<uint32_t>& fan = scratch.Fan;

            // 3. every candidate's normal must agree; the nearest one in frame 0
            // is the target, the lowest index among equally near ones
            const std::size_t normalRow = std::size_t(pose[v].NormalIndex) * 256;
            int64_t targetDistance = std::numeric_limits<int64_t>::max();
            uint32_t target = 0;
            bool normalsAgree = true;
            for (int32_t w : candidates) {
                if (!agree[normalRow + pose[std::size_t(w)].NormalIndex]) {
                    normalsAgree = false;
                    break;
                }
                const int64_t distance = squaredDistance(pose[v], pose[std::size_t(w)]);
                if (distance < targetDistance) {
                    targetDistance = distance;
                    target = uint32_t(w);
                }
            }
            if (!normalsAgree) continue;

            // 4. delete the fan triangles that hold the target; the skin vertex
            // that stays comes from the last one deleted
            uint32_t targetSkin = 0;
            for (uint32_t t : fan) {
                const MDLTriangle& tri = triangles[t];
                for (int j = 0; j < 3; ++j) {
                    if (tri.VertIndex[j] != target) continue;
                    targetSkin = tri.SkinIndex[j];
                    triangleRemoved[t] = 1;
                    ++facesCut;
                    break;
                }
            }

            // 5. the rest of the fan takes the target in v's place; a target above
            // v will be examined later and must find these triangles in its fan
            for (uint32_t t : fan) {
                if (triangleRemoved[t]) continue;
                MDLTriangle& tri = triangles[t];
                for (int j = 0; j < 3; ++j) {
                    if (tri.VertIndex[j] != v) continue;
                    tri.VertIndex[j] = target;
                    tri.SkinIndex[j] = targetSkin;
                }
                if (target > v) fans.Append(target, t);
            }
            vertexRemoved[v] = 1;
            ++verticesCut;
        }
    }

    // 6. one sweep per list: frames lose the removed vertices, triangles the
    // removed triangles, and vertex indices take their new numbers
    // (a collapse always deletes a triangle, so faces are cut only with vertices)
    if (verticesCut > 0) {
        const std::vector<uint32_t> keptVertices = survivors(vertexRemoved);
        for (TMDLFrame& frame : Frames) compact(frame.Items, frame.Count, keptVertices);
        compact(triangles, Triangles.Count, survivors(triangleRemoved));
        const std::vector<uint32_t> vertexNumbers = newNumbers(vertexRemoved);
        for (MDLTriangle& tri : triangles)
            for (uint32_t& index : tri.VertIndex) index = vertexNumbers[index];
    }

    // ---- Phase 2: skin-vertex compaction ----
    const int32_t skinVerticesCut = compactSkinVerts(*this);

    // ---- Finish: the counts are lowered by what was cut, not recounted ----
    Header.NumVerts -= verticesCut;
    Header.NumTris -= facesCut;
    Header.NumSkinVerts -= skinVerticesCut;
    Log("CUT: " + std::to_string(verticesCut) + "Vertices, " + std::to_string(facesCut) + "Faces, " +
        std::to_string(skinVerticesCut) + "Skin Vertices.");
    Log(ModelInfoLine());
}
