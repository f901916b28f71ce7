#pragma once
// The Quake MDL format ("IDPO", version 6): its records as the file holds
// them, its reader and writer, and its part of the format-neutral view.
//
// Skins and frames may come alone or in groups. Their pictures, intervals and
// vertices are kept in flat lists (one per kind, in file order) rather than one
// list per entry: a file of many tiny entries must not cost many times its own
// size in memory.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"
#include "model/ReadChecks.h"

class ByteReader;
class ByteWriter;

// Sizes of the records as they stand in a file.
inline constexpr std::size_t kQuakeHeaderSize = 84;
inline constexpr std::size_t kQuakeSkinVertSize = 12;
inline constexpr std::size_t kQuakeTriangleSize = 16;
inline constexpr std::size_t kTriVertexSize = 4;
inline constexpr std::size_t kQuakeFrameHeadSize = 24;  // bounds min and max, name

struct QuakeHeader {
    std::array<char, 4> Ident{};
    int32_t Version = 0;
    std::array<float, 3> Scale{};
    std::array<float, 3> Translate{};
    float BoundingRadius = 0;
    std::array<float, 3> EyePosition{};
    int32_t NumSkins = 0;  // entries: single skins and groups
    int32_t SkinWidth = 0;
    int32_t SkinHeight = 0;
    int32_t NumVerts = 0;
    int32_t NumTris = 0;
    int32_t NumFrames = 0;  // entries: single frames and groups
    int32_t SyncType = 0;
    int32_t Flags = 0;
    float Size = 0;
};

// One vertex of one frame: a position packed in bytes and an index into the
// 162 normals. MD2 frames hold the same record. Bytes only, so a list of them
// has the file's layout on every machine.
struct TriVertex {
    uint8_t X = 0;
    uint8_t Y = 0;
    uint8_t Z = 0;
    uint8_t NormalIndex = 0;
};
static_assert(sizeof(TriVertex) == kTriVertexSize);

// A skin entry: one picture (Type 0) or a group of pictures shown in turn
// (any other Type, kept as read), with one interval per picture.
struct QuakeSkin {
    int32_t Type = 0;
    uint32_t FirstPicture = 0;  // into TQuakeModel::SkinPixels, in pictures
    uint32_t PictureCount = 1;
    uint32_t FirstInterval = 0;  // into TQuakeModel::SkinIntervals; groups only
};

struct QuakeSkinVert {
    int32_t OnSeam = 0;  // not zero: a triangle facing back moves s by half the skin
    int32_t S = 0;       // texels
    int32_t T = 0;
};

struct QuakeTriangle {
    int32_t FacesFront = 0;
    std::array<int32_t, 3> Vertex{};
};

// A simple frame; its vertices are in TQuakeModel::FrameVerts.
struct QuakeFrame {
    TriVertex BoundsMin;
    TriVertex BoundsMax;
    std::array<char, 16> Name{};
};

// A frame entry: one simple frame (Type 0) or a group of them with its own
// bounds and one interval per frame (any other Type, kept as read).
struct QuakeFrameEntry {
    int32_t Type = 0;
    TriVertex BoundsMin;  // groups only
    TriVertex BoundsMax;
    uint32_t FirstFrame = 0;  // into TQuakeModel::Frames
    uint32_t FrameCount = 1;
    uint32_t FirstInterval = 0;  // into TQuakeModel::FrameIntervals; groups only
};

class TQuakeModel {
public:
    LogTarget LogLines;
    QuakeHeader Header;
    std::vector<QuakeSkin> Skins;
    std::vector<float> SkinIntervals;
    std::vector<uint8_t> SkinPixels;  // every picture in file order, SkinWidth x SkinHeight palette indices each
    std::vector<QuakeSkinVert> SkinVerts;  // one per vertex
    std::vector<QuakeTriangle> Triangles;
    std::vector<QuakeFrameEntry> FrameEntries;
    std::vector<QuakeFrame> Frames;  // every simple frame, inside groups or not, in file order
    std::vector<float> FrameIntervals;
    std::vector<TriVertex> FrameVerts;  // Frames.size() x Header.NumVerts, frame after frame
    // Bytes after the last frame: not part of the model, written back so
    // that an unchanged model keeps its exact bytes.
    std::vector<uint8_t> TrailingBytes;

    // Appends Text as one log line when a log target is set.
    void Log(const std::string& Text) const;

    // Replaces the held model by the one in Bytes. Returns true when it was
    // accepted; refusals log "ERROR:" lines, and every load that reads a
    // header ends with the "MODEL INFO: " line. Never throws for content.
    bool LoadFromBytes(std::span<const uint8_t> Bytes);
    // The bytes of the held model; an unchanged model gives back the bytes it
    // was read from. The header goes out as held: counts must match the lists.
    std::vector<uint8_t> SaveToBytes() const;
    void WriteTo(ByteWriter& out) const;

    // "MODEL INFO: " followed by the header's counts, as the MDL5 model writes it.
    std::string ModelInfoLine() const;

private:
    // The steps of a load, in file order; each returns the ERROR: line of a
    // refusal, or nothing.
    std::optional<std::string> readHeader(ByteReader& in);
    std::optional<std::string> readSkins(ByteReader& in);
    std::optional<std::string> readMeshLists(ByteReader& in);
    std::optional<std::string> readFrames(ByteReader& in, FirstFault& normalFault);
};

// The view: every simple frame (groups' frames included, in file order) is
// one mesh frame under the header's scale and translate. TexCoords are the
// skin vertices (index = vertex index), then one "back" coordinate (s + half
// the skin width) for each vertex on the seam, in vertex order.
AnimatedMesh MeshOf(const TQuakeModel& model, const MeshOptions& options = {});
// Quake MDL files hold their skins: none named to look for.
inline std::vector<SkinSlot> SkinNamesOf(const TQuakeModel&) { return {}; }
// Keeps the survivors' vertices (skin vertices and every frame alike) and
// triangles, each record's bytes as they were, and rewrites the counts.
// Texture coordinates belong to vertices here, so survivors.TexCoords is not
// needed. Frame and group bounds are kept as read: the kept vertices are a
// subset of the old ones, so the old boxes still hold every frame, and an
// untouched frame head keeps its bytes. The header's radius likewise.
void KeepSurvivors(TQuakeModel& model, const MeshSurvivors& survivors);
