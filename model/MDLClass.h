#pragma once
// The model container: one MDL5 model in memory, its element classes, and the
// two plain output targets (log line, progress text) that a front end connects.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "model/SmallVector.h"

class ByteReader;
class ByteWriter;

// Sizes of the records as they stand in a file.
inline constexpr std::size_t kDiskHeaderSize = 84;
inline constexpr std::size_t kDiskSkinHeadSize = 12;
inline constexpr std::size_t kDiskSkinVertSize = 4;
inline constexpr std::size_t kDiskTriangleSize = 12;
inline constexpr std::size_t kDiskFrameHeadSize = 36;
inline constexpr std::size_t kDiskFrameVertSize = 8;

// The 84-byte file header, held verbatim. Only Ident and the five counts are
// interpreted; every other byte is carried to the output unchanged.
struct MDL5Header {
    std::array<char, 4> Ident{};
    std::array<uint8_t, 44> Carried1{};  // reserved, position scale and offset, reserved
    int32_t NumSkins = 0;
    std::array<uint8_t, 8> Carried2{};   // skin width and height of older versions
    int32_t NumVerts = 0;
    int32_t NumTris = 0;
    int32_t NumFrames = 0;
    int32_t NumSkinVerts = 0;
    std::array<uint8_t, 8> Carried3{};   // flags, reserved

    bool HasMDL5Ident() const;
};

struct SkinVert {
    uint16_t U = 0;
    uint16_t V = 0;
    uint8_t Used = 0;  // not in the file; only the reduction pass sets and reads it
};

struct MDLTriangle {
    std::array<uint32_t, 3> VertIndex{};
    std::array<uint32_t, 3> SkinIndex{};
};

// Laid out exactly as on disk, so a whole frame can move as one block.
struct FrameVert {
    uint16_t X = 0;
    uint16_t Y = 0;
    uint16_t Z = 0;
    uint8_t NormalIndex = 0;
    uint8_t Spare = 0;
};
static_assert(sizeof(FrameVert) == kDiskFrameVertSize);

// Bytes per pixel of the skin types this program can step over (0, 2, 3, 4, 5);
// 0 for every other type.
int SkinBytesPerPixel(int32_t SkinType);

class TMDLSkin5 {
public:
    int32_t SkinType = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Pixels;
    int32_t PixelSize = 0;  // 0 marks a skin this program cannot step over

    // Reads the 12-byte head; the caller then checks PixelSize and reads the pixels.
    void ReadHeadFrom(ByteReader& in);
    void ReadPixelsFrom(ByteReader& in);
    void WriteTo(ByteWriter& out) const;
};

class TMDLSkinVerts {
public:
    std::vector<SkinVert> Items;
    int32_t Count = 0;

    // Removes record Index, shifting the later ones down; an index outside
    // 0..Count-1 changes nothing.
    void DeleteSkinVert(int32_t Index);
    // Reads NewCount records; the caller has checked that the bytes are there.
    void ReadFrom(ByteReader& in, int32_t NewCount);
    void WriteTo(ByteWriter& out) const;
};

class TMDLTriangles {
public:
    std::vector<MDLTriangle> Items;
    int32_t Count = 0;

    void DeleteTriangle(int32_t Index);  // same rule as DeleteSkinVert
    void ReadFrom(ByteReader& in, int32_t NewCount);
    void WriteTo(ByteWriter& out) const;
};

class TMDLFrame {
public:
    std::array<uint8_t, 4> FrameType{};
    FrameVert BBoxMin;
    FrameVert BBoxMax;
    std::array<char, 16> Name{};
    int32_t Count = 0;  // beside the head: the frame packs into 64 bytes
    SmallVector<FrameVert> Items;

    void DeleteVertex(int32_t Index);  // same rule as DeleteSkinVert
    // Reads the head and VertCount vertices, checked by the caller.
    void ReadFrom(ByteReader& in, int32_t VertCount);
    void WriteTo(ByteWriter& out) const;
};

// Receives one whole log line, without a line end.
using LogTarget = std::function<void(const std::string&)>;
// Receives a progress text; a window also lets its pending events run here.
using ProgressTarget = std::function<void(const std::string&)>;

class TMDLModel {
public:
    LogTarget LogLines;
    ProgressTarget ProgressBar;
    MDL5Header Header;
    // Skins and frames are kept in blocks rather than one array: a file of
    // many small heads must not make one allocation larger than itself.
    std::deque<TMDLSkin5> Skins;
    TMDLSkinVerts SkinVerts;
    TMDLTriangles Triangles;
    std::deque<TMDLFrame> Frames;
    // The bytes the last load left unread after the model's last section (a
    // negative count reads as a section that is not there): no part of the
    // model, so a save leaves them out.
    uint64_t TrailingBytes = 0;

    // Appends Text as one log line when a log target is set.
    void Log(const std::string& Text) const;
    // Hands Text to the progress target when one is set.
    void ShowProgress(const std::string& Text) const;

    // Replaces the held model by the one in FileName. Returns true when the
    // file was accepted; refusals log "ERROR:" lines, and every load that reads
    // a header ends with the "MODEL INFO: " line. The file is only read.
    // Throws FileError (errno and file name) when the file cannot be read.
    bool LoadFromFile(const std::string& FileName);
    // The same from bytes in memory, with the same lines and result.
    bool LoadFromBytes(std::span<const uint8_t> Bytes);

    // Writes the held model to FileName through a temporary file in the same
    // folder that replaces the target only once it is complete on disk; on any
    // failure the temporary file is removed, an existing target is left as it
    // was, and FileError (errno and file name) is thrown.
    void SaveToFile(const std::string& FileName) const;
    // The bytes SaveToFile would write.
    std::vector<uint8_t> SaveToBytes() const;

    // One reduction pass (reduce/Reduce.cpp). NormalLimit is the least allowed
    // |dot product| of a vertex's normal with each neighbour's; UVLimit the
    // largest allowed texel spread of its fan. Logs "CUT: " and "MODEL INFO: ".
    void Reduce(float NormalLimit, float UVLimit);

    // "MODEL INFO: " followed by the header's counts.
    std::string ModelInfoLine() const;

    // Writes the held header and lists as they are: the writer trusts the
    // lists to match the header's counts.
    void WriteTo(ByteWriter& out) const;

private:
    bool Load(ByteReader& in);
};
