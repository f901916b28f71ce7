#pragma once
// The MD2 format ("IDP2", version 8): its records as the file holds them, its
// reader and writer, and its part of the format-neutral view.
//
// An MD2 header places its sections by offset. The reader keeps their order
// and the bytes between them, so an unchanged model writes its exact bytes;
// after a reduction the same order and gaps are kept and the offsets follow.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"
#include "model/ReadChecks.h"
#include "model/formats/QuakeMDL.h"  // TriVertex, the frame vertex both formats share

class ByteReader;
class ByteWriter;

// Sizes of the records as they stand in a file.
inline constexpr std::size_t kMD2HeaderSize = 68;
inline constexpr std::size_t kMD2SkinNameSize = 64;
inline constexpr std::size_t kMD2TexCoordSize = 4;
inline constexpr std::size_t kMD2TriangleSize = 12;
inline constexpr std::size_t kMD2FrameHeadSize = 40;  // scale, translate, name
inline constexpr std::size_t kMD2GLWordSize = 4;

struct MD2Header {
    std::array<char, 4> Ident{};
    int32_t Version = 0;
    int32_t SkinWidth = 0;
    int32_t SkinHeight = 0;
    int32_t FrameSize = 0;  // bytes of one frame, head included
    int32_t NumSkins = 0;
    int32_t NumVertices = 0;
    int32_t NumTexCoords = 0;
    int32_t NumTris = 0;
    int32_t NumGLCommands = 0;  // words
    int32_t NumFrames = 0;
    int32_t OfsSkins = 0;
    int32_t OfsTexCoords = 0;
    int32_t OfsTris = 0;
    int32_t OfsFrames = 0;
    int32_t OfsGLCommands = 0;
    int32_t OfsEnd = 0;
};

struct MD2TexCoord {
    int16_t S = 0;  // texels
    int16_t T = 0;
};

struct MD2Triangle {
    std::array<uint16_t, 3> Vertex{};
    std::array<uint16_t, 3> TexCoord{};
};

// A frame's head; its vertices are in TMD2Model::FrameVerts.
struct MD2Frame {
    std::array<float, 3> Scale{};
    std::array<float, 3> Translate{};
    std::array<char, 16> Name{};
};

enum class MD2Section : uint8_t { Skins, TexCoords, Triangles, Frames, GLCommands };
inline constexpr std::size_t kMD2SectionCount = 5;

// Where the sections stood in the file. Sections that held records are laid
// out in Order, each after its own gap bytes. The offset of a section that was
// empty, and the end offset (slot 5), point at a position relative to a
// section of Order (or the header, Section -1): its start, or its end, plus
// Delta. A model built in memory has the sections back to back.
struct MD2Layout {
    struct Anchor {
        int8_t Section = int8_t(MD2Section::GLCommands);
        bool AtEnd = true;
        int64_t Delta = 0;
    };
    std::vector<MD2Section> Order{MD2Section::Skins, MD2Section::TexCoords, MD2Section::Triangles, MD2Section::Frames,
                                  MD2Section::GLCommands};
    std::array<std::vector<uint8_t>, kMD2SectionCount> GapBefore;
    std::array<Anchor, kMD2SectionCount + 1> EmptyAt;
};

class TMD2Model {
public:
    LogTarget LogLines;
    MD2Header Header;
    std::vector<std::array<char, kMD2SkinNameSize>> SkinNames;
    std::vector<MD2TexCoord> TexCoords;
    std::vector<MD2Triangle> Triangles;
    std::vector<MD2Frame> Frames;
    std::vector<TriVertex> FrameVerts;  // Frames.size() x Header.NumVertices, frame after frame
    // Bytes of each frame after its vertices when FrameSize says there are
    // any, Frames.size() x the same count, frame after frame.
    std::vector<uint8_t> FramePadding;
    // The list as read: count (> 0 strip, < 0 fan), then s, t (float bits) and
    // a vertex index per vertex; 0 ends it. Words after the end are kept.
    std::vector<int32_t> GLCommands;
    MD2Layout Layout;
    // Bytes after the last section: not part of the model, written back so
    // that an unchanged model keeps its exact bytes.
    std::vector<uint8_t> TrailingBytes;

    // Appends Text as one log line when a log target is set.
    void Log(const std::string& Text) const;

    // Replaces the held model by the one in Bytes. Returns true when it was
    // accepted; refusals log "ERROR:" lines, and every load that reads a
    // header ends with the "MODEL INFO: " line. Never throws for content.
    bool LoadFromBytes(std::span<const uint8_t> Bytes);
    // The bytes of the held model, with counts as held and offsets laid out
    // from Layout; an unchanged model gives back the bytes it was read from.
    std::vector<uint8_t> SaveToBytes() const;
    void WriteTo(ByteWriter& out) const;

    // "MODEL INFO: " followed by the header's counts, as the MDL5 model writes it.
    std::string ModelInfoLine() const;

private:
    // Where each section with records stands in the file, and its bytes.
    struct SectionPlan {
        std::array<int64_t, kMD2SectionCount> Offsets{};
        std::array<uint64_t, kMD2SectionCount> Sizes{};
        std::vector<MD2Section> Order;  // those that hold records, in file order
        uint64_t StartOf(MD2Section s) const { return uint64_t(Offsets[std::size_t(s)]); }
        uint64_t EndOf(MD2Section s) const { return StartOf(s) + Sizes[std::size_t(s)]; }
    };
    // The steps of a load, in file order; each returns the ERROR: line of a
    // refusal, or nothing. checkIndices logs the first fault of each kind.
    std::optional<std::string> readHeader(std::span<const uint8_t> Bytes);
    std::optional<std::string> placeSections(std::span<const uint8_t> Bytes, SectionPlan& plan);
    void keepLayout(std::span<const uint8_t> Bytes, const SectionPlan& plan);
    std::optional<std::string> readRecords(std::span<const uint8_t> Bytes, const SectionPlan& plan, FirstFault& normalFault);
    bool checkIndices(const FirstFault& normalFault) const;
};

// A GL command list for the triangles as they stand: strips and fans, each
// triangle once with the winding of its list entry (in a strip the odd
// triangles swap their first two corners, as the game draws them), texture
// coordinates at texel centres, ended by 0.
std::vector<int32_t> BuildGLCommands(const TMD2Model& model);

// The view: per-frame transforms from each frame's scale and translate;
// TexCoords are the texture coordinate records, chosen freely by corners.
AnimatedMesh MeshOf(const TMD2Model& model, const MeshOptions& options = {});
// The skins the file names, as one slot: the game draws one skin at a time,
// and the first of the names that is found is drawn. Each name up to its
// first zero byte, empty ones left out; no slot when the file names none.
std::vector<SkinSlot> SkinNamesOf(const TMD2Model& model);
// Keeps the survivors' vertices in every frame, texture coordinates and
// triangles, each record's bytes as they were; rebuilds the GL command list
// from the kept triangles (a model without one keeps none), and rewrites
// counts, the frame size and, when saved, the offsets.
void KeepSurvivors(TMD2Model& model, const MeshSurvivors& survivors);
