#pragma once
// One MDL7 model ("MDL7") in memory: the file's own records, read and written
// unchanged, and its format-neutral view.
//
// The header gives the size of every kind of record (bones, skin heads,
// materials, texture coordinates, triangles, vertices, bone matrices, frame
// heads), and files differ in them: each list is held as the bytes of its
// records at the size read. The fields this program reads or renumbers are
// read and written in place, so whatever a record holds past them (names,
// normals, a second set of indices, padding) keeps its bytes.
//
// A file is the header, its bones, its groups one after the other (each a
// head, skins, texture coordinates, triangles, main vertices and frames),
// the deformers of every group, and two opaque lumps (entity, editor). A
// reduction (KeepSurvivors) keeps a subset of the records and works out every
// size again: the header's data size, each group's data size in the
// convention the file used, each deformer's size and weight counts.

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"

class ByteWriter;

// Sizes of the records whose size the header does not give.
inline constexpr std::size_t kMDL7HeaderSize = 48;
inline constexpr std::size_t kMDL7GroupHeadSize = 44;
inline constexpr std::size_t kMDL7DeformerHeadSize = 16;
inline constexpr std::size_t kMDL7ElementHeadSize = 28;  // bone index, 20-character name, weight count
inline constexpr std::size_t kMDL7WeightSize = 8;        // vertex index, weight
// A 16-bit index that names nothing: a bone's parent, a vertex's bone, a
// triangle's texture coordinate.
inline constexpr uint16_t kMDL7None = 0xFFFF;

// The ten record sizes of the header, in the order they stand there.
enum class MDL7Record : uint8_t { Bone, SkinHead, Colour, Material, TexCoord, Triangle, MainVertex, FrameVertex, BoneMatrix, FrameHead };
inline constexpr std::size_t kMDL7RecordKinds = 10;

// Where the fields this program reads stand in their records.
namespace mdl7 {
inline constexpr std::size_t kVertexBoneAt = 12;      // after x, y, z; a frame vertex's main vertex
inline constexpr std::size_t kVertexNormalAt = 14;    // a table index (16-byte vertices) or 3 floats (26)
inline constexpr std::size_t kTriangleTexAt = 6;      // after the 3 vertex indices
inline constexpr std::size_t kTriangleSecondTexAt = 16;  // 26-byte triangles: a second set
inline constexpr std::size_t kMatrixBoneAt = 64;      // after 4 x 4 floats

// Little-endian fields read and written in place, on any host.
inline uint16_t U16At(const uint8_t* at)
{
    return uint16_t(at[0] | at[1] << 8);
}
inline void PutU16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}
inline int32_t I32At(const uint8_t* at)
{
    return int32_t(uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24);
}
inline float F32At(const uint8_t* at)
{
    const uint32_t bits = uint32_t(I32At(at));
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
}  // namespace mdl7

struct MDL7Header {
    std::array<char, 4> Ident{};
    int32_t Version = 0;
    uint32_t NumBones = 0;
    uint32_t NumGroups = 0;
    uint32_t DataSize = 0;  // the file less its two lumps
    int32_t EntityLumpSize = 0;
    int32_t EditorLumpSize = 0;
    std::array<uint16_t, kMDL7RecordKinds> RecordSizes{};

    uint16_t Size(MDL7Record kind) const { return RecordSizes[std::size_t(kind)]; }
};

// Records of one size as the file holds them, one after the other.
struct MDL7Records {
    std::size_t RecordSize = 0;
    std::vector<uint8_t> Bytes;

    std::size_t Count() const { return RecordSize == 0 ? 0 : Bytes.size() / RecordSize; }
    const uint8_t* operator[](std::size_t i) const { return Bytes.data() + i * RecordSize; }
    uint8_t* operator[](std::size_t i) { return Bytes.data() + i * RecordSize; }
    // Keeps the records that keep names (ascending), in that order.
    void KeepOnly(const std::vector<uint32_t>& keep);
};

// A skin: a head, then by the low four bits of its type pixels (with three
// smaller levels under flag 0x08), nothing (a reference), a DDS file or an
// external file's name; flag 0x10 adds a material record, 0x20 an effect name.
struct MDL7Skin {
    uint8_t Type = 0;
    std::array<uint8_t, 3> Unused{};
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> HeadRest;  // the head past its first 12 bytes: the name, and more in a longer head
    std::vector<uint8_t> Data;      // pixels and their levels, DDS bytes or a name
    std::vector<uint8_t> Material;  // one record of the material size, under flag 0x10
    std::vector<uint8_t> Effect;    // under flag 0x20, written after its int32 length

    uint8_t Kind() const { return Type & 0x0F; }
    // Bytes per pixel of a kind of pixels (0, 2, 3, 4, 5, with or without
    // levels), 0 for the others.
    int BytesPerPixel() const;
    // A skin of pixels the view can draw: its first level, width and height above 0.
    bool IsPicture() const { return BytesPerPixel() > 0 && Width > 0 && Height > 0; }
};

struct MDL7Frame {
    std::array<char, 16> Name{};
    std::vector<uint8_t> HeadRest;  // the head past its name and two counts
    MDL7Records Vertices;           // the main vertex layout; the bone field names the vertex replaced
    MDL7Records BoneMatrices;       // 4 x 4 floats (a row vector times the matrix), a bone index
};

// What a group's data size counts: the group's bytes from its head to the
// end of its frames, the same less its skins' pixel bytes (the compact files),
// or a count of neither kind, kept at its distance from the first.
enum class MDL7GroupSize : uint8_t { Whole, LessPixels, AsRead };

struct MDL7Group {
    uint8_t Type = 1;  // triangles: the only type this reads
    int8_t DeformerCount = 0;
    int8_t MostWeights = 0;  // the most deformer weights any vertex has
    uint8_t Unused = 0;
    int32_t DataSize = 0;
    std::array<char, 16> Name{};
    std::vector<MDL7Skin> Skins;
    MDL7Records TexCoords;     // float u, v: shares of the skin
    MDL7Records Triangles;     // 3 vertex and 3 texture coordinate indices, then by size materials and a second set
    MDL7Records MainVertices;  // float x, y, z, a bone index, a normal
    std::vector<MDL7Frame> Frames;
    MDL7GroupSize SizeConvention = MDL7GroupSize::Whole;
    int64_t SizeOffset = 0;  // AsRead: DataSize less the whole span
};

struct MDL7Weight {
    int32_t Vertex = 0;
    float Weight = 0;
};

struct MDL7Element {
    int32_t Bone = 0;
    std::array<char, 20> Name{};
    std::vector<MDL7Weight> Weights;
};

struct MDL7Deformer {
    int8_t Version = 0;
    int8_t Type = 0;  // bones: the only type this reads
    std::array<uint8_t, 2> Unused{};
    int32_t Group = 0;
    int32_t DataSize = 0;  // head included
    std::vector<MDL7Element> Elements;
};

class TMDL7Model {
public:
    LogTarget LogLines;
    MDL7Header Header;
    MDL7Records Bones;  // uint16 parent, 2 unused bytes, 3 floats relative to the parent, a name
    std::vector<MDL7Group> Groups;
    std::vector<MDL7Deformer> Deformers;
    std::vector<uint8_t> EntityLump;
    std::vector<uint8_t> EditorLump;
    std::vector<uint8_t> TrailingBytes;  // after the lumps; written back

    // Appends Text as one log line when a log target is set.
    void Log(const std::string& Text) const;

    // Replaces the held model by the one in Bytes. Returns true when the file
    // was accepted; refusals log "ERROR:" lines and leave the held model as it
    // was. Every load that reads a header ends with the "MODEL INFO: " line.
    bool LoadFromBytes(std::span<const uint8_t> Bytes);
    // The bytes of the held model, its sizes and counts as held.
    std::vector<uint8_t> SaveToBytes() const;
    void WriteTo(ByteWriter& out) const;
    // "MODEL INFO: " followed by the counts, vertices and faces summed over the groups.
    std::string ModelInfoLine() const;

    // Works out every size from the records held: the header's data size and
    // lump sizes, each group's data size in its convention, each deformer's
    // size. For models built in memory, and after a reduction.
    void PlaceSizes();
    // The bytes of group g from its head to the end of its frames, and those
    // of them that are skin pixels.
    uint64_t GroupSpan(std::size_t g) const;
    uint64_t GroupPixelBytes(std::size_t g) const;
    // How many poses the view holds: the most frames of any group, and one
    // (the main vertices) for a model without frames.
    uint32_t PoseCount() const;

private:
    bool Load(std::span<const uint8_t> bytes);
};

// Where each group starts in the view's lists, which hold the groups one
// after the other; the last entry of each is the total.
struct MDL7Bases {
    std::vector<uint32_t> Vertices;
    std::vector<uint32_t> TexCoords;
    std::vector<uint32_t> Triangles;
};
MDL7Bases BasesOf(const TMDL7Model& model);

// The view: every group a part (VertexPart) of one mesh. Pose f of a group is
// its main vertices with frame f's frame vertices in their place, each then
// moved by its bones (deformer weights, or its own bone) with frame f's bone
// matrices. Float positions are packed in 16 bits over the box of every pose,
// one transform for the model. Texture coordinates are texels of the first
// picture skin (a nominal 256 x 256 without one), the groups' lists one after
// the other; corners that name none share one coordinate past them, and a
// model without texture coordinates has that one alone and a skin size of 0,
// so that nothing measures its texture. Normals are the 162-entry table's,
// the nearest for float normals. The first picture skin is decoded as Skin.
AnimatedMesh MeshOf(const TMDL7Model& model, const MeshOptions& options = {});
// The skins the model names, a slot per skin of the view: an external file's
// name for a skin of that kind, none for the others (the file holds them).
std::vector<SkinSlot> SkinNamesOf(const TMDL7Model& model);
// Keeps the survivors' main vertices and texture coordinates (and those a
// kept triangle's second set names) byte for byte, the kept triangles
// renumbered with their other bytes, each frame's vertices of kept vertices
// renumbered, the deformers' weights of kept vertices; bones, skins and
// matrices stay. The editor lump, which may name the old vertices, is left
// out with a "WARNING:" line; then every size is worked out again.
void KeepSurvivors(TMDL7Model& model, const MeshSurvivors& survivors);
