#pragma once
// One MD3 model ("IDP3", version 15) in memory: the file's own records, read
// and written unchanged, and its format-neutral view.
//
// An MD3 file places its sections by offset: the header names where the frame
// heads, the tags and the chain of surfaces start, and each surface names
// where its triangles, shaders, texture coordinates and vertices start within
// it. The reader keeps the order in which the sections stand and every byte
// between or after them (Layout, GapBytes), so an unchanged model saves to
// the bytes it was read from. Sections must lie inside their file or surface
// and must not overlap: a file whose records share bytes is refused, since no
// writer could keep both readings. A file shorter than the end its header
// records has lost its tail and is refused too.
//
// A reduction (KeepSurvivors) keeps the section order and the bytes between
// sections, and moves every offset with the bytes it points at. Frame heads
// keep their bounds and radius: the kept vertices are a subset of the old
// ones in every frame, so the old bounds still contain the model, and an
// untouched record keeps its bytes. Tags and shaders are never touched.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"

class ByteWriter;

// Sizes of the records as they stand in a file.
inline constexpr std::size_t kMD3HeaderSize = 108;
inline constexpr std::size_t kMD3FrameSize = 56;
inline constexpr std::size_t kMD3TagSize = 112;
inline constexpr std::size_t kMD3SurfaceHeadSize = 108;
inline constexpr std::size_t kMD3ShaderSize = 68;
inline constexpr std::size_t kMD3TriangleSize = 12;
inline constexpr std::size_t kMD3TexCoordSize = 8;
inline constexpr std::size_t kMD3VertexSize = 8;
inline constexpr int32_t kMD3Version = 15;
// Stored positions are in units of 1/64.
inline constexpr float kMD3PositionScale = 1.0f / 64.0f;

struct MD3Header {
    std::array<char, 4> Ident{};
    int32_t Version = 0;
    std::array<char, 64> Name{};
    int32_t Flags = 0;
    int32_t NumFrames = 0;
    int32_t NumTags = 0;  // per frame
    int32_t NumSurfaces = 0;
    int32_t NumSkins = 0;  // carried; MD3 files hold no skins
    int32_t OfsFrames = 0;
    int32_t OfsTags = 0;
    int32_t OfsSurfaces = 0;
    int32_t OfsEnd = 0;  // the end of the file as its writer saw it
};

struct MD3FrameHead {
    std::array<float, 3> BoundsMin{};
    std::array<float, 3> BoundsMax{};
    std::array<float, 3> LocalOrigin{};
    float Radius = 0;
    std::array<char, 16> Name{};
};

struct MD3Tag {
    std::array<char, 64> Name{};
    std::array<float, 3> Origin{};
    std::array<std::array<float, 3>, 3> Axis{};
};

struct MD3Shader {
    std::array<char, 64> Name{};
    int32_t Index = 0;
};

// Laid out as on disk, so that a section of them moves as one block.
struct MD3Triangle {
    std::array<int32_t, 3> Vertex{};
};
struct MD3TexCoord {
    float S = 0;
    float T = 0;
};
struct MD3Vertex {
    std::array<int16_t, 3> Position{};  // units of 1/64
    uint16_t Normal = 0;                // latitude in the high byte, longitude in the low
};
static_assert(sizeof(MD3Triangle) == kMD3TriangleSize && sizeof(MD3TexCoord) == kMD3TexCoordSize &&
              sizeof(MD3Vertex) == kMD3VertexSize);

// What stands at one place of a file or of a surface, in the order written.
// A Gap piece is GapSize bytes held verbatim, taken in turn from its owner's
// GapBytes.
enum class MD3Section : uint8_t { Header, Frames, Tags, Surfaces, Triangles, Shaders, TexCoords, Vertices, Gap };
struct MD3Piece {
    MD3Section Kind = MD3Section::Gap;
    uint64_t GapSize = 0;
};

class TMD3Surface {
public:
    std::array<char, 4> Ident{};  // carried, not checked
    std::array<char, 64> Name{};
    int32_t Flags = 0;
    int32_t NumFrames = 0;  // equal to the model's
    int32_t NumShaders = 0;
    int32_t NumVerts = 0;
    int32_t NumTriangles = 0;
    // From the start of this surface; OfsEnd is its size, and the next surface starts there.
    int32_t OfsTriangles = 0;
    int32_t OfsShaders = 0;
    int32_t OfsTexCoords = 0;
    int32_t OfsVertices = 0;
    int32_t OfsEnd = 0;

    std::vector<MD3Shader> Shaders;
    std::vector<MD3Triangle> Triangles;
    std::vector<MD3TexCoord> TexCoords;  // one per vertex
    std::vector<MD3Vertex> Vertices;     // frame by frame: [frame * NumVerts + vertex]
    std::vector<MD3Piece> Layout;
    std::vector<uint8_t> GapBytes;

    void WriteTo(ByteWriter& out) const;
};

class TMD3Model {
public:
    LogTarget LogLines;
    MD3Header Header;
    std::vector<MD3FrameHead> Frames;
    std::vector<MD3Tag> Tags;  // frame by frame: [frame * NumTags + tag]
    std::vector<TMD3Surface> Surfaces;
    std::vector<MD3Piece> Layout;
    std::vector<uint8_t> GapBytes;  // including any bytes after the last section

    // Appends Text as one log line when a log target is set.
    void Log(const std::string& Text) const;

    // Replaces the held model by the one in Bytes. Returns true when the file
    // was accepted; refusals log "ERROR:" lines and leave the held model as it
    // was. Every load that reads a header ends with the "MODEL INFO: " line.
    bool LoadFromBytes(std::span<const uint8_t> Bytes);

    // The bytes of the held model: the sections in Layout's order with the
    // held counts and offsets, which the writer trusts.
    std::vector<uint8_t> SaveToBytes() const;

    // "MODEL INFO: " followed by the counts, vertices and faces summed over the surfaces.
    std::string ModelInfoLine() const;

    // For models built in memory: sets every count from its list and lays the
    // sections out in the usual order (header, frames, tags, surfaces; in a
    // surface its head, triangles, shaders, texture coordinates, vertices).
    // A layout already given is kept with its gaps; a section it lacks must
    // be empty, and is placed at the end of its file or surface.
    void PlaceSections();

    void WriteTo(ByteWriter& out) const;

private:
    bool Load(std::span<const uint8_t> bytes);
};

// The view: all surfaces one after the other (VertexPart names each vertex's
// surface), positions moved up by 32768 under the exact transform 1/64 and
// -512, normals LatLong as stored, one texture coordinate per vertex in texels
// of a nominal 256 x 256 skin (a coordinate that is not finite there becomes
// 0), and no skin: the file names its skins but does not hold them.
AnimatedMesh MeshOf(const TMD3Model& model, const MeshOptions& options = {});
// A slot per surface, as the view numbers its skins: the surface's name and
// its shaders' names, each up to its first zero byte (a player's .skin file
// may name another path for the surface: see model/Skins.h).
std::vector<SkinSlot> SkinNamesOf(const TMD3Model& model);
// Keeps the survivors' vertices (in every frame, bytes unchanged) and their
// texture coordinates in each surface, and the kept triangles renumbered
// within their surface; rewrites counts and offsets. A surface that loses
// every triangle stays, empty, with its name and shaders: skin files name
// surfaces, and a surface without triangles is valid MD3. Neither
// survivors.TexCoords nor a triangle's texture-coordinate corners are read:
// an MD3 vertex has its own. A triangle whose corners lie in different
// surfaces, which MD3 cannot hold, is dropped (asserted in debug builds).
void KeepSurvivors(TMD3Model& model, const MeshSurvivors& survivors);
