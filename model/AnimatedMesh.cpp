#include "model/AnimatedMesh.h"

#include <algorithm>
#include <cmath>
#include <utility>

FrameSelection SelectFrames(const MeshOptions& options, std::size_t modelFrames)
{
    FrameSelection selection;
    if (!options.Frames) {
        selection.Count = uint32_t(std::min<std::size_t>(modelFrames, UINT32_MAX));
        return selection;
    }
    for (int frame : *options.Frames)
        if (frame >= 0 && std::size_t(frame) < modelFrames) selection.Source.push_back(uint32_t(frame));
    selection.Count = uint32_t(selection.Source.size());
    // None left: Source stays empty and Count 0, so no frame is read.
    return selection;
}

FrameTransform FiniteTransform(const std::array<float, 3>& scale, const std::array<float, 3>& offset)
{
    FrameTransform transform;
    for (std::size_t a = 0; a < 3; ++a) {
        transform.Scale[a] = std::isfinite(scale[a]) ? scale[a] : 1.0f;
        transform.Offset[a] = std::isfinite(offset[a]) ? offset[a] : 0.0f;
    }
    return transform;
}

bool AnimatedMesh::IsConsistent() const
{
    const std::size_t entries = std::size_t(VertexCount) * FrameCount;
    if (Positions.size() != entries || (!Normals.empty() && Normals.size() != entries) || !HasTransforms() ||
        (!FrameNames.empty() && FrameNames.size() != FrameCount))
        return false;
    if (!VertexTexCoords.empty() && (VertexTexCoords.size() != VertexCount || TriangleBack.size() != Triangles.size()))
        return false;
    if (!VertexPart.empty() && VertexPart.size() != VertexCount) return false;
    if (!TriangleSkin.empty() && TriangleSkin.size() != Triangles.size()) return false;
    for (const auto& own : VertexTexCoords)
        if (own[0] >= TexCoords.size() || own[1] >= TexCoords.size()) return false;
    for (const MeshTriangle& tri : Triangles)
        for (int j = 0; j < 3; ++j)
            if (tri.Vertex[std::size_t(j)] >= VertexCount || tri.TexCoord[std::size_t(j)] >= TexCoords.size()) return false;
    return true;
}

namespace {

// The box of the packed extremes low and high placed by t.
WorldBox packedBox(const PackedPosition& low, const PackedPosition& high, const FrameTransform& t)
{
    WorldBox box;
    for (const PackedPosition& p : {low, high})
        box.Add(WorldPoint{double(p[0]) * t.Scale[0] + t.Offset[0], double(p[1]) * t.Scale[1] + t.Offset[1],
                           double(p[2]) * t.Scale[2] + t.Offset[2]});
    return box;
}

}  // namespace

WorldBox FrameBox(const AnimatedMesh& mesh, uint32_t frame)
{
    WorldBox box;
    if (frame >= mesh.FrameCount || mesh.VertexCount == 0) return box;
    // The transform keeps the order of packed values on each axis (a negative
    // scale reverses it, rounding never does): the packed extremes give the box.
    PackedPosition low{65535, 65535, 65535};
    PackedPosition high{0, 0, 0};
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
        const PackedPosition& p = mesh.Positions[mesh.At(v, frame)];
        for (std::size_t a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], p[a]);
            high[a] = std::max(high[a], p[a]);
        }
    }
    box.Add(packedBox(low, high, mesh.Transform(frame)));
    return box;
}

WorldBox AnimationBox(const AnimatedMesh& mesh)
{
    WorldBox box;
    if (!mesh.VertexMajor || mesh.VertexCount == 0) {
        for (uint32_t f = 0; f < mesh.FrameCount; ++f) box.Add(FrameBox(mesh, f));
        return box;
    }
    // Vertex by vertex, as the positions lie: frame by frame would stride
    // through memory once per frame.
    std::vector<PackedPosition> low(mesh.FrameCount, PackedPosition{65535, 65535, 65535});
    std::vector<PackedPosition> high(mesh.FrameCount, PackedPosition{0, 0, 0});
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
        const PackedPosition* row = &mesh.Positions[mesh.At(v, 0)];
        for (uint32_t f = 0; f < mesh.FrameCount; ++f)
            for (std::size_t a = 0; a < 3; ++a) {
                low[f][a] = std::min(low[f][a], row[f][a]);
                high[f][a] = std::max(high[f][a], row[f][a]);
            }
    }
    for (uint32_t f = 0; f < mesh.FrameCount; ++f) box.Add(packedBox(low[f], high[f], mesh.Transform(f)));
    return box;
}

AnimatedMesh KeptView(const AnimatedMesh& mesh, const MeshSurvivors& survivors)
{
    AnimatedMesh kept;
    kept.VertexCount = uint32_t(survivors.Vertices.size());
    kept.FrameCount = mesh.FrameCount;
    kept.VertexMajor = mesh.VertexMajor;
    kept.Positions.resize(std::size_t(kept.VertexCount) * kept.FrameCount);
    if (!mesh.Normals.empty()) kept.Normals.resize(kept.Positions.size());
    for (uint32_t v = 0; v < kept.VertexCount; ++v)
        for (uint32_t f = 0; f < kept.FrameCount; ++f) {
            kept.Positions[kept.At(v, f)] = mesh.Positions[mesh.At(survivors.Vertices[v], f)];
            if (!mesh.Normals.empty()) kept.Normals[kept.At(v, f)] = mesh.Normals[mesh.At(survivors.Vertices[v], f)];
        }
    kept.NormalCode = mesh.NormalCode;
    kept.Transforms = mesh.Transforms;
    kept.FrameNames = mesh.FrameNames;
    kept.Triangles = survivors.Triangles;
    for (uint32_t s : survivors.TexCoords) kept.TexCoords.push_back(mesh.TexCoords[s]);
    kept.SkinWidth = mesh.SkinWidth;
    kept.SkinHeight = mesh.SkinHeight;
    if (!mesh.VertexTexCoords.empty()) {
        // A kept vertex's own coordinates are kept with it, in the same order.
        std::vector<uint32_t> texNumber(mesh.TexCoords.size(), 0);
        for (uint32_t k = 0; k < survivors.TexCoords.size(); ++k) texNumber[survivors.TexCoords[k]] = k;
        for (uint32_t v : survivors.Vertices)
            kept.VertexTexCoords.push_back({texNumber[mesh.VertexTexCoords[v][0]], texNumber[mesh.VertexTexCoords[v][1]]});
        for (uint32_t t : survivors.TriangleSource) kept.TriangleBack.push_back(mesh.TriangleBack[t]);
    }
    if (!mesh.VertexPart.empty())
        for (uint32_t v : survivors.Vertices) kept.VertexPart.push_back(mesh.VertexPart[v]);
    if (!mesh.TriangleSkin.empty())
        for (uint32_t t : survivors.TriangleSource) kept.TriangleSkin.push_back(mesh.TriangleSkin[t]);
    kept.Skins = mesh.Skins;
    kept.SkinSizeNominal = mesh.SkinSizeNominal;
    return kept;
}

MeshSurvivors ChainedSurvivors(const MeshSurvivors& first, MeshSurvivors&& second)
{
    MeshSurvivors out;
    for (uint32_t v : second.Vertices) out.Vertices.push_back(first.Vertices[v]);
    for (uint32_t k : second.TexCoords) out.TexCoords.push_back(first.TexCoords[k]);
    out.Triangles = std::move(second.Triangles);
    for (uint32_t t : second.TriangleSource) out.TriangleSource.push_back(first.TriangleSource[t]);
    return out;
}
