#include "reduce/SurfaceQuadrics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "reduce/FanIndex.h"
#include "reduce/FrameTables.h"

namespace {

// Border edges add a plane at right angles to their triangle, weighted by the
// squared edge length times this: an outline then moves only where it is
// straight, while an open sheet's inside stays cheap to thin out. Seams, split
// or not, get no such plane: their texture quadrics charge a seam that bends
// in the texture, and a seam shortened along a curve within a smooth surface
// moves no surface at all.
constexpr double kEdgeWeight = 10.0;

// The live triangles the quadrics are built from, and where they go.
struct Build {
    const AnimatedMesh& Mesh;
    const FrameTables& Tables;
    const std::vector<MeshTriangle>& Triangles;
    const std::vector<uint8_t>& Removed;
    const FanIndex& Fans;
    SurfaceQuadrics& Out;

    // Live, and with three corners: a triangle whose planes count.
    bool Counts(uint32_t t) const { return !Removed[t] && !HasRepeatedCorner(Triangles[t]); }
    Quadric& PlanesOf(uint32_t v, std::size_t k) const { return Out.Planes[std::size_t(v) * Tables.ErrorFrames.size() + k]; }
};

// 1. each vertex's quadric in each chosen frame: its triangles' planes
// weighted by area
void addTrianglePlanes(const Build& build)
{
    const std::size_t frames = build.Tables.ErrorFrames.size();
    build.Out.Planes.assign(std::size_t(build.Mesh.VertexCount) * frames, Quadric{});
    for (uint32_t t = 0; t < build.Triangles.size(); ++t) {
        if (!build.Counts(t)) continue;
        const MeshTriangle& tri = build.Triangles[t];
        for (std::size_t k = 0; k < frames; ++k) {
            const auto a = build.Tables.ErrorUnitAt(tri.Vertex[0], k);
            Vec3 unit{};
            double twiceArea = 0;
            if (!TrianglePlane(a, build.Tables.ErrorUnitAt(tri.Vertex[1], k), build.Tables.ErrorUnitAt(tri.Vertex[2], k), unit, twiceArea))
                continue;
            for (uint32_t v : tri.Vertex) build.PlanesOf(v, k).AddPlane(unit, -Dot(unit, a), 0.5 * twiceArea);
        }
    }
}

// 2. the border edges, as (triangle, corner where the edge starts), and the
// vertices on them marked OnBorder. Edges in order of (low vertex, high
// vertex, triangle): a run of one is a border. Each low vertex's edges come
// from its fan, which lists its triangles in ascending order, and a sort of
// those few gives the same order as one sort of every edge, without its time
// or memory.
std::vector<std::pair<uint32_t, uint32_t>> findBorderEdges(const Build& build)
{
    struct EdgeUse {
        uint32_t High, Triangle, Corner;
    };
    std::vector<EdgeUse> edges;
    std::vector<std::pair<uint32_t, uint32_t>> borderEdges;
    std::vector<uint8_t>& onBorder = build.Out.OnBorder;
    onBorder.assign(build.Mesh.VertexCount, 0);
    for (uint32_t low = 0; low < build.Mesh.VertexCount; ++low) {
        edges.clear();
        for (uint32_t t : build.Fans.Of(low)) {
            if (!build.Counts(t)) continue;
            const MeshTriangle& tri = build.Triangles[t];
            const auto j = uint32_t(CornerOf(tri, low));
            // The edge that starts at low's corner and the one that ends there.
            const uint32_t next = tri.Vertex[(j + 1) % 3];
            const uint32_t previous = tri.Vertex[(j + 2) % 3];
            if (next > low) edges.push_back({next, t, j});
            if (previous > low) edges.push_back({previous, t, (j + 2) % 3});
        }
        std::sort(edges.begin(), edges.end(), [](const EdgeUse& x, const EdgeUse& y) {
            return x.High != y.High ? x.High < y.High : x.Triangle < y.Triangle;
        });
        for (std::size_t first = 0; first < edges.size();) {
            std::size_t end = first + 1;
            while (end < edges.size() && edges[end].High == edges[first].High) ++end;
            if (end - first == 1) {
                borderEdges.push_back({edges[first].Triangle, edges[first].Corner});
                onBorder[low] = 1;
                onBorder[edges[first].High] = 1;
            }
            first = end;
        }
    }
    return borderEdges;
}

// An edge whose ends each have a twin at their place, joined by an edge
// of their own: the surface goes on across it.
bool isSplitSeamEdge(const Build& build, uint32_t a, uint32_t b)
{
    const PlaceGroups& seams = build.Out.Seams;
    if (seams.GroupOf[a] == kNone || seams.GroupOf[b] == kNone) return false;
    for (uint32_t twin : seams.Of(seams.GroupOf[a])) {
        if (twin == a) continue;
        for (uint32_t t : build.Fans.Of(twin))
            if (!build.Removed[t])
                for (uint32_t x : build.Triangles[t].Vertex)
                    if (x != b && seams.GroupOf[x] == seams.GroupOf[b]) return true;
    }
    return false;
}

// 3. along a border edge that is no split seam (corner j's of triangle t),
// the plane through it at right angles to its triangle
void addEdgePlanes(const Build& build, uint32_t t, uint32_t j)
{
    const MeshTriangle& tri = build.Triangles[t];
    const uint32_t a = tri.Vertex[j];
    const uint32_t b = tri.Vertex[(j + 1) % 3];
    const uint32_t c = tri.Vertex[(j + 2) % 3];
    for (std::size_t k = 0; k < build.Tables.ErrorFrames.size(); ++k) {
        const auto pa = build.Tables.ErrorUnitAt(a, k);
        Vec3 unit{};
        double edgeLength2 = 0;
        if (!EdgePlane(pa, build.Tables.ErrorUnitAt(b, k), build.Tables.ErrorUnitAt(c, k), unit, edgeLength2)) continue;
        const double weight = kEdgeWeight * edgeLength2;
        build.PlanesOf(a, k).AddPlane(unit, -Dot(unit, pa), weight);
        build.PlanesOf(b, k).AddPlane(unit, -Dot(unit, pa), weight);
    }
}

// Texture coordinates in surface units: shares of the skin times the square
// root of the surface's area (frame 0) over its area in the skin, so that a
// texture slid by some distance costs what a surface moved by that distance
// costs.
struct SurfaceUnits {
    double Width = 1, Height = 1;  // of the skin
    double ToSurface = 0;          // 0: no texture laid out over the surface

    std::array<double, 2> Share(const AnimatedMesh& mesh, uint32_t s) const
    {
        return {mesh.TexCoords[s][0] / Width, mesh.TexCoords[s][1] / Height};
    }
    std::array<double, 2> Scaled(const AnimatedMesh& mesh, uint32_t s) const
    {
        const auto uv = Share(mesh, s);
        return {uv[0] * ToSurface, uv[1] * ToSurface};
    }
};

SurfaceUnits surfaceUnits(const Build& build)
{
    SurfaceUnits units;
    units.Width = build.Mesh.SkinWidth > 0 ? double(build.Mesh.SkinWidth) : 1.0;
    units.Height = build.Mesh.SkinHeight > 0 ? double(build.Mesh.SkinHeight) : 1.0;
    double surfaceArea = 0;
    double skinArea = 0;
    for (uint32_t t = 0; t < build.Triangles.size(); ++t) {
        if (!build.Counts(t)) continue;
        const MeshTriangle& tri = build.Triangles[t];
        const Vec3 p0 = build.Tables.FrameZeroAt(tri.Vertex[0]);
        const Vec3 n = Cross(Minus(build.Tables.FrameZeroAt(tri.Vertex[1]), p0), Minus(build.Tables.FrameZeroAt(tri.Vertex[2]), p0));
        surfaceArea += std::sqrt(Dot(n, n));
        const auto s0 = units.Share(build.Mesh, tri.TexCoord[0]), s1 = units.Share(build.Mesh, tri.TexCoord[1]),
                   s2 = units.Share(build.Mesh, tri.TexCoord[2]);
        skinArea += std::abs((s1[0] - s0[0]) * (s2[1] - s0[1]) - (s1[1] - s0[1]) * (s2[0] - s0[0]));
    }
    // Without a texture laid out over the surface there is nothing to keep.
    units.ToSurface = skinArea > 0 ? std::sqrt(surfaceArea / skinArea) : 0.0;
    return units;
}

// 4. the sides of every vertex, and the side of each corner
void listSides(const Build& build, const SurfaceUnits& units)
{
    const AnimatedMesh& mesh = build.Mesh;
    const uint32_t vertexCount = mesh.VertexCount;
    std::vector<Wedge>& wedges = build.Out.Wedges;
    std::vector<uint32_t>& wedgeStart = build.Out.WedgeStart;
    std::vector<uint32_t>& cornerWedge = build.Out.CornerWedge;
    cornerWedge.assign(build.Triangles.size() * 3, kNone);
    wedgeStart.assign(std::size_t(vertexCount) + 1, 0);
    if (!mesh.VertexTexCoords.empty()) {
        // Coordinates that belong to vertices: two sides per vertex, front
        // and back. A corner moved to w takes w's coordinate for its
        // triangle's facing, whatever else holds.
        for (uint32_t v = 0; v < vertexCount; ++v) {
            wedgeStart[v] = uint32_t(wedges.size());
            for (uint32_t s : mesh.VertexTexCoords[v]) {
                const auto uv = units.Scaled(mesh, s);
                wedges.push_back({v, s, float(uv[0]), float(uv[1])});
            }
        }
        for (uint32_t t = 0; t < build.Triangles.size(); ++t)
            for (std::size_t j = 0; j < 3; ++j)
                cornerWedge[3 * t + j] = wedgeStart[build.Triangles[t].Vertex[j]] + (mesh.TriangleBack[t] ? 1 : 0);
    } else {
        // One side per distinct coordinate value among a vertex's corners;
        // records of equal value are interchangeable, the first stands for them.
        struct CornerValue {
            float U, V;
            uint32_t TexCoord, Corner;
        };
        std::vector<CornerValue> values;
        for (uint32_t v = 0; v < vertexCount; ++v) {
            wedgeStart[v] = uint32_t(wedges.size());
            values.clear();
            for (uint32_t t : build.Fans.Of(v))
                for (uint32_t j = 0; j < 3; ++j)
                    if (!build.Removed[t] && build.Triangles[t].Vertex[j] == v) {
                        const auto uv = units.Scaled(mesh, build.Triangles[t].TexCoord[j]);
                        values.push_back({float(uv[0]), float(uv[1]), build.Triangles[t].TexCoord[j], 3 * t + j});
                    }
            std::sort(values.begin(), values.end(), [](const CornerValue& a, const CornerValue& b) {
                return a.U != b.U ? a.U < b.U : a.V != b.V ? a.V < b.V : a.Corner < b.Corner;
            });
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i == 0 || values[i].U != values[i - 1].U || values[i].V != values[i - 1].V)
                    wedges.push_back({v, values[i].TexCoord, values[i].U, values[i].V});
                cornerWedge[values[i].Corner] = uint32_t(wedges.size() - 1);
            }
        }
    }
    wedgeStart[vertexCount] = uint32_t(wedges.size());
}

// 5. each side's texture quadric, from the triangles its corners lie in
void addTextureQuadrics(const Build& build, const SurfaceUnits& units)
{
    build.Out.TextureQuadrics.assign(build.Out.Wedges.size(), TextureQuadric{});
    if (units.ToSurface == 0) return;
    for (uint32_t t = 0; t < build.Triangles.size(); ++t) {
        if (!build.Counts(t)) continue;
        const MeshTriangle& tri = build.Triangles[t];
        const Vec3 p0 = build.Tables.FrameZeroAt(tri.Vertex[0]);
        const Vec3 e1 = Minus(build.Tables.FrameZeroAt(tri.Vertex[1]), p0);
        const Vec3 e2 = Minus(build.Tables.FrameZeroAt(tri.Vertex[2]), p0);
        std::array<std::array<double, 2>, 3> uv{};
        for (std::size_t j = 0; j < 3; ++j) uv[j] = units.Scaled(build.Mesh, tri.TexCoord[j]);
        TextureGradients gradients;
        if (!TriangleTextureGradients(p0, e1, e2, uv, gradients)) continue;
        for (std::size_t j = 0; j < 3; ++j) build.Out.TextureQuadrics[build.Out.CornerWedge[3 * t + j]].AddTriangle(gradients);
    }
}

}  // namespace

SurfaceQuadrics BuildSurfaceQuadrics(const AnimatedMesh& mesh, const FrameTables& tables, const std::vector<MeshTriangle>& triangles,
                                     const std::vector<uint8_t>& removed, const FanIndex& fans)
{
    SurfaceQuadrics out;
    const Build build{mesh, tables, triangles, removed, fans, out};
    addTrianglePlanes(build);
    const auto borderEdges = findBorderEdges(build);
    // Border vertices that share a position in every frame, within one part,
    // are the two (or more) sides of a split seam.
    out.Seams = GroupSamePlaces(mesh, out.OnBorder);
    for (const auto& [t, j] : borderEdges)
        if (!isSplitSeamEdge(build, triangles[t].Vertex[j], triangles[t].Vertex[(j + 1) % 3])) addEdgePlanes(build, t, j);
    const SurfaceUnits units = surfaceUnits(build);
    listSides(build, units);
    addTextureQuadrics(build, units);
    return out;
}
