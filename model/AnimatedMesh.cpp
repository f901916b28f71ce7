#include "model/AnimatedMesh.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

#include "model/MDLClass.h"

namespace {

uint8_t expandBits(unsigned value, int bits)
{
    const unsigned top = (1u << bits) - 1;
    return uint8_t((value * 255 + top / 2) / top);
}

// The first skin whose type and pixel count can be read, decoded once: a view
// is built per model, not per picture. Alpha is set opaque: many skins leave it zero.
MeshSkin firstReadableSkin(const TMDLModel& model)
{
    MeshSkin out;
    for (const TMDLSkin5& skin : model.Skins) {
        const int bytesPerPixel = SkinBytesPerPixel(skin.SkinType);
        if (bytesPerPixel == 0 || skin.Width <= 0 || skin.Height <= 0) continue;
        const std::size_t texels = std::size_t(skin.Width) * std::size_t(skin.Height);
        // The loader sizes the pixels; a skin built in memory may fall short.
        if (skin.Pixels.size() / std::size_t(bytesPerPixel) < texels) continue;
        out.Width = skin.Width;
        out.Height = skin.Height;
        if (skin.SkinType == 0) {  // 8 bits without a palette in the file
            out.Type = MeshSkin::Kind::Indexed8;
            out.Pixels.assign(skin.Pixels.begin(), skin.Pixels.begin() + std::ptrdiff_t(texels));
            return out;
        }
        out.Type = MeshSkin::Kind::RGBA8;
        out.Pixels.resize(texels * 4);
        for (std::size_t texel = 0; texel < texels; ++texel) {
            uint8_t* rgba = &out.Pixels[4 * texel];
            rgba[3] = 255;
            switch (skin.SkinType) {
            case 2: {  // 5-6-5, red in the top bits
                const unsigned v = unsigned(skin.Pixels[2 * texel]) | unsigned(skin.Pixels[2 * texel + 1]) << 8;
                rgba[0] = expandBits(v >> 11, 5);
                rgba[1] = expandBits((v >> 5) & 0x3F, 6);
                rgba[2] = expandBits(v & 0x1F, 5);
                break;
            }
            case 3: {  // 4-4-4-4, alpha in the top bits, then red, green, blue
                const unsigned v = unsigned(skin.Pixels[2 * texel]) | unsigned(skin.Pixels[2 * texel + 1]) << 8;
                rgba[0] = expandBits((v >> 8) & 0xF, 4);
                rgba[1] = expandBits((v >> 4) & 0xF, 4);
                rgba[2] = expandBits(v & 0xF, 4);
                break;
            }
            default: {  // 4 and 5: blue, green, red (then alpha)
                const uint8_t* bgr = &skin.Pixels[texel * std::size_t(bytesPerPixel)];
                rgba[0] = bgr[2];
                rgba[1] = bgr[1];
                rgba[2] = bgr[0];
            }
            }
        }
        return out;
    }
    return out;
}

}  // namespace

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

AnimatedMesh MeshOf(const TMDLModel& model, const MeshOptions& options)
{
    AnimatedMesh mesh;
    const FrameSelection frames = SelectFrames(options, model.Frames.size());
    mesh.FrameCount = frames.Count;
    mesh.VertexCount = model.Frames.empty() ? 0 : uint32_t(model.Frames[0].Items.size());
    mesh.VertexMajor = options.VertexMajor;
    const PositionTransform header = PositionTransformOf(model.Header);
    const FrameTransform transform{header.Scale, header.Offset};
    mesh.Transforms.assign(1, transform);
    if (options.Names) NameFrames(mesh.FrameNames, frames, model.Frames);

    // A model put together in memory may hold frames of different lengths: a
    // vertex a frame lacks stands at the packed origin there, and IsConsistent
    // still holds, so no reader of the view can step outside it.
    const std::size_t entries = std::size_t(mesh.VertexCount) * mesh.FrameCount;
    mesh.Positions.assign(entries, PackedPosition{});
    if (options.Normals) mesh.Normals.assign(entries, 0);
    // Vertex-major positions are written in blocks of vertices while the
    // frames stream by: each frame then gives one contiguous run to read.
    constexpr uint32_t kBlock = 1024;
    for (uint32_t first = 0; first < mesh.VertexCount; first += kBlock) {
        const uint32_t last = std::min(mesh.VertexCount, first + kBlock);
        for (uint32_t f = 0; f < mesh.FrameCount; ++f) {
            const SmallVector<FrameVert>& verts = model.Frames[frames[f]].Items;
            const uint32_t end = std::min<uint32_t>(last, uint32_t(verts.size()));
            for (uint32_t v = first; v < end; ++v) {
                const std::size_t at = mesh.At(v, f);
                mesh.Positions[at] = {verts[v].X, verts[v].Y, verts[v].Z};
                if (options.Normals) mesh.Normals[at] = verts[v].NormalIndex;
            }
        }
    }

    mesh.Triangles.reserve(model.Triangles.Items.size());
    for (const MDLTriangle& tri : model.Triangles.Items) mesh.Triangles.push_back({tri.VertIndex, tri.SkinIndex});
    mesh.TexCoords.reserve(model.SkinVerts.Items.size());
    for (const SkinVert& sv : model.SkinVerts.Items) mesh.TexCoords.push_back({float(sv.U), float(sv.V)});
    if (options.Skin) mesh.Skin = firstReadableSkin(model);
    // The skin vertices count texels of the first skin; without one, a
    // nominal square keeps texture distances comparable.
    const TMDLSkin5* first = model.Skins.empty() ? nullptr : &model.Skins.front();
    mesh.SkinWidth = first && first->Width > 0 ? first->Width : 256;
    mesh.SkinHeight = first && first->Height > 0 ? first->Height : 256;
    return mesh;
}

void KeepSurvivors(TMDLModel& model, const MeshSurvivors& survivors)
{
    // Survivor lists ascend with kept[k] >= k: copying forward never
    // overwrites a record still to be moved.
    for (TMDLFrame& frame : model.Frames) {
        for (std::size_t k = 0; k < survivors.Vertices.size(); ++k) frame.Items[k] = frame.Items[survivors.Vertices[k]];
        frame.Items.resize(survivors.Vertices.size());
        frame.Items.shrink_to_fit();
        frame.Count = int32_t(frame.Items.size());
    }
    std::vector<SkinVert>& skinVerts = model.SkinVerts.Items;
    for (std::size_t k = 0; k < survivors.TexCoords.size(); ++k) skinVerts[k] = skinVerts[survivors.TexCoords[k]];
    skinVerts.resize(survivors.TexCoords.size());
    std::vector<MDLTriangle>& triangles = model.Triangles.Items;
    triangles.resize(survivors.Triangles.size());
    for (std::size_t i = 0; i < survivors.Triangles.size(); ++i)
        triangles[i] = {survivors.Triangles[i].Vertex, survivors.Triangles[i].TexCoord};
    model.Triangles.Count = int32_t(triangles.size());
    model.SkinVerts.Count = int32_t(skinVerts.size());
    model.Header.NumTris = model.Triangles.Count;
    model.Header.NumSkinVerts = model.SkinVerts.Count;
    model.Header.NumVerts = int32_t(survivors.Vertices.size());
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
    kept.Skin = mesh.Skin;
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
