#pragma once
// The format-neutral view of an animated mesh: what the collapses, the
// renderer and the measure need of any format (positions of every frame,
// triangles with position and texture-coordinate corners, texture
// coordinates, normals, skins), and nothing a format needs to write
// itself back. Each format builds this view from its own records and takes
// back a MeshSurvivors that says which records stay: the view is never
// written, so an untouched record keeps its bytes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/Geometry.h"

// Every format packs a frame's positions as integers under a per-frame (MD2)
// or per-model (MDL5, Quake MDL, MD3) scale and offset, and 16 bits hold each
// of them exactly (MD3's signed values are moved up by 32768 into the offset).
using PackedPosition = std::array<uint16_t, 3>;

// world = packed * Scale + Offset, per axis, in double.
struct FrameTransform {
    std::array<float, 3> Scale{1.0f, 1.0f, 1.0f};
    std::array<float, 3> Offset{};
};

// A file's scale and offset as a transform; a value that is not finite stands
// at 1 or 0, so that a damaged file never puts NaN into the view.
FrameTransform FiniteTransform(const std::array<float, 3>& scale, const std::array<float, 3>& offset);

// How a vertex's stored normal is coded: an index into the 162-entry table
// (MDL5, Quake MDL, MD2), or MD3's latitude (high byte) and longitude (low
// byte) in steps of 360/256 degrees.
enum class NormalCoding : uint8_t { Table162, LatLong };

struct MeshTriangle {
    std::array<uint32_t, 3> Vertex{};
    std::array<uint32_t, 3> TexCoord{};
};

// A skin as the renderer draws it: Indexed8 holds palette indices (the file
// carries no palette), RGBA8 four bytes a texel. Width 0: no skin.
struct MeshSkin {
    enum class Kind : uint8_t { Indexed8, RGBA8 };
    Kind Type = Kind::RGBA8;
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;  // rows top to bottom
};

// A skin a model names without holding it, as its view numbers its skins:
// Part is what it covers ("" for the whole model, or an MD3 surface's name),
// Names the paths the file gives for it, the one to try first first.
struct SkinSlot {
    std::string Part;
    std::vector<std::string> Names;
};

// What a view is built for: the collapses want positions vertex by vertex and
// no normals or skin; the renderer wants frames whole, with both.
struct MeshOptions {
    bool VertexMajor = false;
    bool Normals = true;
    bool Skin = true;
    // Frame names cost a string a frame: a view of a million frames that
    // never shows them goes without.
    bool Names = true;
    // The model's frames to view, in this order (those past its last are
    // left out); null: every frame. A report over 16 frames of a large model
    // then holds those 16 alone.
    const std::vector<int>* Frames = nullptr;
};

// The model's frame of each frame of a view, as MeshOptions::Frames asks.
struct FrameSelection {
    uint32_t Count = 0;
    std::vector<uint32_t> Source;  // empty: frame i of the view is the model's frame i
    uint32_t operator[](uint32_t frame) const { return Source.empty() ? frame : Source[frame]; }
};
FrameSelection SelectFrames(const MeshOptions& options, std::size_t modelFrames);

// Names a view's frames after the model's frames they show, each name up to
// its first zero byte.
template <class Frames>
void NameFrames(std::vector<std::string>& names, const FrameSelection& frames, const Frames& modelFrames)
{
    names.reserve(frames.Count);
    for (uint32_t f = 0; f < frames.Count; ++f) {
        const auto& name = modelFrames[frames[f]].Name;
        names.emplace_back(name.data(), std::find(name.begin(), name.end(), '\0'));
    }
}

struct AnimatedMesh {
    uint32_t VertexCount = 0;
    uint32_t FrameCount = 0;
    bool VertexMajor = false;
    // VertexCount * FrameCount entries, laid out as At() says.
    std::vector<PackedPosition> Positions;
    // Laid out as Positions; empty when not asked for.
    std::vector<uint16_t> Normals;
    NormalCoding NormalCode = NormalCoding::Table162;
    // One per frame, or one for every frame where the format keeps one for
    // the whole model (MDL5, Quake MDL, MD3): read through Transform().
    std::vector<FrameTransform> Transforms;
    // One per frame, up to the first zero byte; empty when not asked for.
    std::vector<std::string> FrameNames;

    std::vector<MeshTriangle> Triangles;
    // Texture coordinates in texels of a skin of SkinWidth x SkinHeight (MD3,
    // whose coordinates are shares of a skin the file does not hold, uses a
    // nominal 256 x 256 unless a skin is given). A texel's centre is +0.5.
    std::vector<std::array<float, 2>> TexCoords;
    int SkinWidth = 0;
    int SkinHeight = 0;
    // Formats whose texture coordinates belong to vertices (Quake MDL, MD3)
    // list each vertex's own: [front, back]. A Quake MDL triangle that faces
    // back takes an on-seam vertex's coordinate moved by half the skin
    // (back differs from front only there). A collapse that moves a corner of
    // such a triangle to vertex w must give it TexCoord VertexTexCoords[w][Back].
    // Empty for formats whose corners choose freely (MDL5, MD2).
    std::vector<std::array<uint32_t, 2>> VertexTexCoords;
    std::vector<uint8_t> TriangleBack;  // one per triangle when VertexTexCoords is set: 1 faces back
    // Vertices of different parts (MD3 surfaces) are never merged.
    std::vector<uint32_t> VertexPart;  // one per vertex; empty: all one part

    // The skins triangles are drawn with, when asked for: slot k is the k-th
    // SkinSlot the model names (found elsewhere and put in by the caller), or
    // the first skin the file holds; a slot of Width 0 draws untextured.
    // Each skin may have a size of its own: the renderer scales the texture
    // coordinates from SkinWidth x SkinHeight to it.
    std::vector<MeshSkin> Skins;
    // One per triangle, its slot in Skins (MD3: its surface's); empty: slot 0
    // for every triangle.
    std::vector<uint32_t> TriangleSkin;
    // SkinWidth x SkinHeight is a stand-in: the file gives no skin size (MD3,
    // or a header's size of 0), so a skin found for the model may set it.
    bool SkinSizeNominal = false;

    std::size_t At(uint32_t vertex, uint32_t frame) const
    {
        return VertexMajor ? std::size_t(vertex) * FrameCount + frame : std::size_t(frame) * VertexCount + vertex;
    }
    const FrameTransform& Transform(uint32_t frame) const { return Transforms[Transforms.size() == 1 ? 0 : frame]; }
    // Whether Transforms holds one per frame or one for them all.
    bool HasTransforms() const { return Transforms.size() == FrameCount || Transforms.size() == 1; }
    WorldPoint World(uint32_t vertex, uint32_t frame) const
    {
        const PackedPosition& p = Positions[At(vertex, frame)];
        const FrameTransform& t = Transform(frame);
        return {double(p[0]) * t.Scale[0] + t.Offset[0], double(p[1]) * t.Scale[1] + t.Offset[1],
                double(p[2]) * t.Scale[2] + t.Offset[2]};
    }
    // True when every triangle's corners name a vertex and a texture coordinate
    // the view holds, and the lists agree in size (TriangleSkin's slots may
    // lie past Skins: those triangles draw untextured). Builders from files always
    // give such a view; methods check it for views made in memory.
    bool IsConsistent() const;
};

// The box of one frame (empty for a frame outside the mesh), and of every frame.
WorldBox FrameBox(const AnimatedMesh& mesh, uint32_t frame);
WorldBox AnimationBox(const AnimatedMesh& mesh);

// Which records survive a reduction, in the view's numbering. Vertices and
// TexCoords ascend; a kept record k of the output is input record
// Vertices[k] (TexCoords[k]). Triangles are the kept triangles with corners in
// the output's numbering, in input order; TriangleSource[i] is the input
// triangle that Triangles[i] comes from (its other fields, such as a Quake
// MDL triangle's facing, are kept from there).
struct MeshSurvivors {
    std::vector<uint32_t> Vertices;
    std::vector<uint32_t> TexCoords;
    std::vector<MeshTriangle> Triangles;
    std::vector<uint32_t> TriangleSource;
};

// The view of what survives of mesh: its kept records in the survivors'
// numbering, every frame, the kept triangles.
AnimatedMesh KeptView(const AnimatedMesh& mesh, const MeshSurvivors& survivors);
// The survivors of a reduction of KeptView(mesh, first) in mesh's numbering:
// a reduction started afresh from another's result.
MeshSurvivors ChainedSurvivors(const MeshSurvivors& first, MeshSurvivors&& second);
