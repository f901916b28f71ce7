#include "model/formats/MD3.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <optional>

#include "model/ByteIO.h"

namespace {

const std::string kFormatHint = "(This only supports IDP3 version 15.)";
// The nominal skin that texture coordinates are measured in: the file names
// its skins, which may be of any size, but holds none.
constexpr int kNominalSkinSize = 256;

template <std::size_t N>
void readFloats(ByteReader& in, std::array<float, N>& values)
{
    for (float& value : values) value = in.F32();
}

template <std::size_t N>
void writeFloats(ByteWriter& out, const std::array<float, N>& values)
{
    for (float value : values) out.F32(value);
}

// ---- records, field by field as they stand in the file ----

void readHeader(ByteReader& in, MD3Header& h)
{
    in.Read(h.Ident.data(), h.Ident.size());
    h.Version = in.I32();
    in.Read(h.Name.data(), h.Name.size());
    for (int32_t* field : {&h.Flags, &h.NumFrames, &h.NumTags, &h.NumSurfaces, &h.NumSkins, &h.OfsFrames, &h.OfsTags,
                           &h.OfsSurfaces, &h.OfsEnd})
        *field = in.I32();
}

void writeHeader(ByteWriter& out, const MD3Header& h)
{
    out.Write(h.Ident.data(), h.Ident.size());
    out.I32(h.Version);
    out.Write(h.Name.data(), h.Name.size());
    for (int32_t field : {h.Flags, h.NumFrames, h.NumTags, h.NumSurfaces, h.NumSkins, h.OfsFrames, h.OfsTags, h.OfsSurfaces, h.OfsEnd})
        out.I32(field);
}

void readSurfaceHead(ByteReader& in, TMD3Surface& s)
{
    in.Read(s.Ident.data(), s.Ident.size());
    in.Read(s.Name.data(), s.Name.size());
    for (int32_t* field : {&s.Flags, &s.NumFrames, &s.NumShaders, &s.NumVerts, &s.NumTriangles, &s.OfsTriangles, &s.OfsShaders,
                           &s.OfsTexCoords, &s.OfsVertices, &s.OfsEnd})
        *field = in.I32();
}

void readFrame(ByteReader& in, MD3FrameHead& frame)
{
    readFloats(in, frame.BoundsMin);
    readFloats(in, frame.BoundsMax);
    readFloats(in, frame.LocalOrigin);
    frame.Radius = in.F32();
    in.Read(frame.Name.data(), frame.Name.size());
}

void writeFrame(ByteWriter& out, const MD3FrameHead& frame)
{
    writeFloats(out, frame.BoundsMin);
    writeFloats(out, frame.BoundsMax);
    writeFloats(out, frame.LocalOrigin);
    out.F32(frame.Radius);
    out.Write(frame.Name.data(), frame.Name.size());
}

void readTag(ByteReader& in, MD3Tag& tag)
{
    in.Read(tag.Name.data(), tag.Name.size());
    readFloats(in, tag.Origin);
    for (auto& axis : tag.Axis) readFloats(in, axis);
}

void writeTag(ByteWriter& out, const MD3Tag& tag)
{
    out.Write(tag.Name.data(), tag.Name.size());
    writeFloats(out, tag.Origin);
    for (const auto& axis : tag.Axis) writeFloats(out, axis);
}

void readShader(ByteReader& in, MD3Shader& shader)
{
    in.Read(shader.Name.data(), shader.Name.size());
    shader.Index = in.I32();
}

void readTriangle(ByteReader& in, MD3Triangle& tri)
{
    for (int32_t& index : tri.Vertex) index = in.I32();
}

void readTexCoord(ByteReader& in, MD3TexCoord& tc)
{
    tc.S = in.F32();
    tc.T = in.F32();
}

// Big-endian hosts only: little-endian ones read the vertices as one block.
[[maybe_unused]] void readVertex(ByteReader& in, MD3Vertex& vert)
{
    for (int16_t& axis : vert.Position) axis = int16_t(in.U16());
    vert.Normal = in.U16();
}

// Reads count records from the checked range at offset of container.
template <class Record>
void readRecords(std::span<const uint8_t> container, int32_t offset, std::size_t count, std::size_t recordSize,
                 std::vector<Record>& items, void (*readOne)(ByteReader&, Record&))
{
    items.resize(count);
    if (count == 0) return;
    ByteReader in(container.subspan(std::size_t(offset), count * recordSize));
    for (Record& item : items) readOne(in, item);
}

// ---- where the sections stand ----

// One piece of a file or surface as it stands, or stood before a change.
struct PieceSpan {
    uint64_t Start = 0;
    uint64_t Size = 0;
};

// The pieces of a layout placed one after the other; the last entry is the end.
template <class SizeOf>
std::vector<PieceSpan> spansOf(const std::vector<MD3Piece>& layout, SizeOf sizeOf)
{
    std::vector<PieceSpan> spans;
    spans.reserve(layout.size() + 1);
    uint64_t at = 0;
    for (const MD3Piece& piece : layout) {
        const uint64_t size = piece.Kind == MD3Section::Gap ? piece.GapSize : sizeOf(piece.Kind);
        spans.push_back({at, size});
        at += size;
    }
    spans.push_back({at, 0});
    return spans;
}

uint64_t surfaceSectionSize(const TMD3Surface& s, MD3Section kind)
{
    switch (kind) {
    case MD3Section::Header: return kMD3SurfaceHeadSize;
    case MD3Section::Triangles: return s.Triangles.size() * kMD3TriangleSize;
    case MD3Section::Shaders: return s.Shaders.size() * kMD3ShaderSize;
    case MD3Section::TexCoords: return s.TexCoords.size() * kMD3TexCoordSize;
    case MD3Section::Vertices: return s.Vertices.size() * kMD3VertexSize;
    default: return 0;
    }
}

std::vector<PieceSpan> surfaceSpans(const TMD3Surface& s)
{
    return spansOf(s.Layout, [&s](MD3Section kind) { return surfaceSectionSize(s, kind); });
}

std::vector<PieceSpan> fileSpans(const TMD3Model& model)
{
    return spansOf(model.Layout, [&model](MD3Section kind) -> uint64_t {
        switch (kind) {
        case MD3Section::Header: return kMD3HeaderSize;
        case MD3Section::Frames: return model.Frames.size() * kMD3FrameSize;
        case MD3Section::Tags: return model.Tags.size() * kMD3TagSize;
        case MD3Section::Surfaces: {
            uint64_t total = 0;
            for (const TMD3Surface& s : model.Surfaces) total += surfaceSpans(s).back().Start;
            return total;
        }
        default: return 0;
        }
    });
}

// Where an offset goes when the pieces change size in place: it keeps its
// distance into the piece it points at (cut to the piece's new size), and an
// offset at or past the end keeps its distance from the end. An empty section
// may point anywhere, so this covers every value, negative ones unchanged.
int32_t movedOffset(int32_t offset, const std::vector<PieceSpan>& before, const std::vector<PieceSpan>& after)
{
    if (offset < 0) return offset;
    const auto at = uint64_t(offset);
    for (std::size_t i = 0; i + 1 < before.size(); ++i)
        if (at >= before[i].Start && at - before[i].Start < before[i].Size)
            return int32_t(after[i].Start + std::min(at - before[i].Start, after[i].Size));
    // Pieces only shrink, so the result is no larger than the offset.
    return int32_t(at - before.back().Start + after.back().Start);
}

// Starts each section of a layout where its piece does; a section the layout
// lacks goes to the end.
void placeOffsets(const std::vector<MD3Piece>& layout, const std::vector<PieceSpan>& spans,
                  std::initializer_list<std::pair<MD3Section, int32_t*>> offsets, int32_t& end)
{
    for (auto [kind, offset] : offsets) {
        *offset = int32_t(spans.back().Start);
        for (std::size_t i = 0; i < layout.size(); ++i)
            if (layout[i].Kind == kind) *offset = int32_t(spans[i].Start);
    }
    end = int32_t(spans.back().Start);
}

std::string sectionName(MD3Section kind)
{
    switch (kind) {
    case MD3Section::Header: return "head";
    case MD3Section::Frames: return "frames";
    case MD3Section::Tags: return "tags";
    case MD3Section::Surfaces: return "surfaces";
    case MD3Section::Triangles: return "triangles";
    case MD3Section::Shaders: return "shaders";
    case MD3Section::TexCoords: return "texture coordinates";
    case MD3Section::Vertices: return "vertices";
    default: return "gap";
    }
}

// A section as the file places it, before its records are read.
struct Placed {
    MD3Section Kind;
    uint64_t Start;
    uint64_t Size;
};

// Offsets and counts are untrusted: a section of count records is placed only
// when it lies inside its container of room bytes. Compared in 64-bit
// arithmetic before anything is sized from it; an empty section reads nothing
// and may point anywhere.
std::optional<std::string> placeSection(std::vector<Placed>& placed, MD3Section kind, int32_t offset, uint64_t count,
                                        std::size_t recordSize, uint64_t room, const std::string& container)
{
    if (count == 0) return std::nullopt;
    const std::string what = "ERROR:The " + std::to_string(count) + " " + sectionName(kind) + " of " + container + " at offset " +
                              std::to_string(offset);
    if (offset < 0 || uint64_t(offset) > room) return what + " start outside it.";
    if (count > (room - uint64_t(offset)) / recordSize) return what + " run past its end.";
    placed.push_back({kind, uint64_t(offset), count * recordSize});
    return std::nullopt;
}

// Orders the placed sections of one container, refuses any two that share
// bytes, and keeps every byte between and after them as a gap.
std::optional<std::string> layOut(std::vector<Placed> placed, std::span<const uint8_t> container, const std::string& name,
                                  std::vector<MD3Piece>& layout, std::vector<uint8_t>& gapBytes)
{
    // Of two sections at one place, the one earlier in the file's usual order
    // comes first, so that the message always names the same two.
    std::sort(placed.begin(), placed.end(),
              [](const Placed& a, const Placed& b) { return a.Start != b.Start ? a.Start < b.Start : a.Kind < b.Kind; });
    uint64_t at = 0;
    const auto keepGap = [&](uint64_t until) {
        if (until == at) return;
        layout.push_back({MD3Section::Gap, until - at});
        gapBytes.insert(gapBytes.end(), container.begin() + std::ptrdiff_t(at), container.begin() + std::ptrdiff_t(until));
    };
    for (std::size_t i = 0; i < placed.size(); ++i) {
        if (placed[i].Start < at)
            return "ERROR:The " + sectionName(placed[i].Kind) + " of " + name + " overlap its " + sectionName(placed[i - 1].Kind) + ".";
        keepGap(placed[i].Start);
        layout.push_back({placed[i].Kind, 0});
        at = placed[i].Start + placed[i].Size;
    }
    keepGap(container.size());
    return std::nullopt;
}

// Reads the surface that starts at byte start; its end has not been checked yet.
std::optional<std::string> readSurface(std::span<const uint8_t> bytes, uint64_t start, int32_t modelFrames, std::size_t number,
                                       TMD3Surface& s)
{
    const std::string name = "surface #" + std::to_string(number);
    const std::string title = "Surface #" + std::to_string(number);
    if (bytes.size() - start < kMD3SurfaceHeadSize) return "ERROR:The file ends inside the head of " + name + ".";
    ByteReader head(bytes.subspan(std::size_t(start), kMD3SurfaceHeadSize));
    readSurfaceHead(head, s);
    for (auto [count, what] : {std::pair{s.NumFrames, "frames"}, std::pair{s.NumShaders, "shaders"}, std::pair{s.NumVerts, "vertices"},
                               std::pair{s.NumTriangles, "triangles"}})
        if (count < 0) return "ERROR:The head of " + name + " gives a negative number of " + what + " (" + std::to_string(count) + ").";
    // The next surface starts at this one's end: an end inside the head would
    // read the same bytes again.
    if (s.OfsEnd < int32_t(kMD3SurfaceHeadSize))
        return "ERROR:The head of " + name + " places its end at " + std::to_string(s.OfsEnd) + ", inside the head.";
    if (uint64_t(s.OfsEnd) > bytes.size() - start) return "ERROR:The file ends before the end of " + name + ".";
    if (s.NumFrames != modelFrames)
        return "ERROR:" + title + " has " + std::to_string(s.NumFrames) + " frames, the model " + std::to_string(modelFrames) + ".";

    const std::span<const uint8_t> own = bytes.subspan(std::size_t(start), std::size_t(s.OfsEnd));
    const auto verts = uint64_t(s.NumVerts);
    std::vector<Placed> placed = {{MD3Section::Header, 0, kMD3SurfaceHeadSize}};
    for (const auto& [kind, offset, count, recordSize] :
         {std::tuple{MD3Section::Triangles, s.OfsTriangles, uint64_t(s.NumTriangles), kMD3TriangleSize},
          std::tuple{MD3Section::Shaders, s.OfsShaders, uint64_t(s.NumShaders), kMD3ShaderSize},
          std::tuple{MD3Section::TexCoords, s.OfsTexCoords, verts, kMD3TexCoordSize},
          std::tuple{MD3Section::Vertices, s.OfsVertices, verts * uint64_t(s.NumFrames), kMD3VertexSize}})
        if (auto fault = placeSection(placed, kind, offset, count, recordSize, own.size(), name)) return fault;
    if (auto fault = layOut(placed, own, name, s.Layout, s.GapBytes)) return fault;

    readRecords(own, s.OfsShaders, std::size_t(s.NumShaders), kMD3ShaderSize, s.Shaders, readShader);
    readRecords(own, s.OfsTriangles, std::size_t(s.NumTriangles), kMD3TriangleSize, s.Triangles, readTriangle);
    readRecords(own, s.OfsTexCoords, std::size_t(verts), kMD3TexCoordSize, s.TexCoords, readTexCoord);
    const std::size_t vertexCount = std::size_t(verts * uint64_t(s.NumFrames));
    if constexpr (std::endian::native == std::endian::little) {
        // MD3Vertex is laid out as on disk: the whole section is one block.
        s.Vertices.resize(vertexCount);
        if (vertexCount > 0) std::memcpy(s.Vertices.data(), own.data() + s.OfsVertices, vertexCount * kMD3VertexSize);
    } else {
        readRecords(own, s.OfsVertices, vertexCount, kMD3VertexSize, s.Vertices, readVertex);
    }

    // Indices are checked here, once: the view and the reduction trust them.
    for (std::size_t t = 0; t < s.Triangles.size(); ++t)
        for (int32_t index : s.Triangles[t].Vertex)
            if (index < 0 || index >= s.NumVerts)
                return "ERROR:Triangle #" + std::to_string(t + 1) + " of " + name + " refers to vertex " + std::to_string(index) +
                       ", beyond its " + std::to_string(s.NumVerts) + " vertices.";
    return std::nullopt;
}

}  // namespace

// ---- TMD3Surface ----

void TMD3Surface::WriteTo(ByteWriter& out) const
{
    std::size_t gapAt = 0;
    for (const MD3Piece& piece : Layout) {
        switch (piece.Kind) {
        case MD3Section::Header:
            out.Write(Ident.data(), Ident.size());
            out.Write(Name.data(), Name.size());
            for (int32_t field : {Flags, NumFrames, NumShaders, NumVerts, NumTriangles, OfsTriangles, OfsShaders, OfsTexCoords,
                                  OfsVertices, OfsEnd})
                out.I32(field);
            break;
        case MD3Section::Triangles:
            for (const MD3Triangle& tri : Triangles)
                for (int32_t index : tri.Vertex) out.I32(index);
            break;
        case MD3Section::Shaders:
            for (const MD3Shader& shader : Shaders) {
                out.Write(shader.Name.data(), shader.Name.size());
                out.I32(shader.Index);
            }
            break;
        case MD3Section::TexCoords:
            for (const MD3TexCoord& tc : TexCoords) {
                out.F32(tc.S);
                out.F32(tc.T);
            }
            break;
        case MD3Section::Vertices:
            if constexpr (std::endian::native == std::endian::little) {
                out.Write(Vertices.data(), Vertices.size() * kMD3VertexSize);
            } else {
                for (const MD3Vertex& vert : Vertices) {
                    for (int16_t axis : vert.Position) out.U16(uint16_t(axis));
                    out.U16(vert.Normal);
                }
            }
            break;
        case MD3Section::Gap:
            assert(gapAt + piece.GapSize <= GapBytes.size());
            out.Write(GapBytes.data() + gapAt, piece.GapSize);
            gapAt += piece.GapSize;
            break;
        default: break;  // file-level pieces never stand in a surface
        }
    }
}

// ---- TMD3Model ----

void TMD3Model::Log(const std::string& Text) const
{
    if (LogLines) LogLines(Text);
}

std::string TMD3Model::ModelInfoLine() const
{
    int64_t vertices = 0;
    int64_t faces = 0;
    for (const TMD3Surface& s : Surfaces) {
        vertices += s.NumVerts;
        faces += s.NumTriangles;
    }
    return "MODEL INFO: " + std::to_string(vertices) + "Vertices, " + std::to_string(faces) + "Faces, " +
           std::to_string(Header.NumSurfaces) + "Surfaces, " + std::to_string(Header.NumFrames) + "Frames, " +
           std::to_string(Header.NumTags) + "Tags.";
}

bool TMD3Model::LoadFromBytes(std::span<const uint8_t> Bytes)
{
    return Load(Bytes);
}

std::vector<uint8_t> TMD3Model::SaveToBytes() const
{
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    WriteTo(out);
    return bytes;
}

bool TMD3Model::Load(std::span<const uint8_t> bytes)
{
    // Read into a model of its own, which replaces this one only when accepted.
    TMD3Model read;
    auto finish = [&](bool accepted) {
        Log(read.ModelInfoLine());
        if (accepted) {
            LogTarget log = std::move(LogLines);
            *this = std::move(read);
            LogLines = std::move(log);
        }
        return accepted;
    };
    auto refuse = [&](const std::string& line) {
        Log(line);
        return finish(false);
    };

    // 1. the header; a short file leaves the rest of it zero
    uint8_t head[kMD3HeaderSize] = {};
    const bool headerComplete = bytes.size() >= kMD3HeaderSize;
    if (!bytes.empty()) std::memcpy(head, bytes.data(), std::min(bytes.size(), kMD3HeaderSize));
    ByteReader fields(std::span<const uint8_t>(head, kMD3HeaderSize));
    MD3Header& h = read.Header;
    readHeader(fields, h);
    if (h.Ident != std::array<char, 4>{'I', 'D', 'P', '3'}) return refuse("ERROR:Unsupported MD3 format." + kFormatHint);
    if (!headerComplete) return refuse("ERROR:The file ends inside its 108-byte header.");
    if (h.Version != kMD3Version) return refuse("ERROR:Unsupported MD3 version " + std::to_string(h.Version) + "." + kFormatHint);
    for (auto [count, what] : {std::pair{h.NumFrames, "frames"}, std::pair{h.NumTags, "tags"}, std::pair{h.NumSurfaces, "surfaces"}})
        if (count < 0) return refuse("ERROR:The header gives a negative number of " + std::string(what) + " (" + std::to_string(count) + ").");
    const uint64_t size = bytes.size();
    // The end the writer recorded: a file shorter than that has lost its tail.
    if (h.OfsEnd < 0 || uint64_t(h.OfsEnd) > size)
        return refuse("ERROR:The header places the end of the file at " + std::to_string(h.OfsEnd) + ", but the file has " +
                      std::to_string(size) + " bytes.");

    // 2. frame heads and tags
    std::vector<Placed> placed = {{MD3Section::Header, 0, kMD3HeaderSize}};
    // Below 2^62: both counts are below 2^31.
    const uint64_t tagCount = uint64_t(h.NumFrames) * uint64_t(h.NumTags);
    if (auto fault = placeSection(placed, MD3Section::Frames, h.OfsFrames, uint64_t(h.NumFrames), kMD3FrameSize, size, "the file"))
        return refuse(*fault);
    if (auto fault = placeSection(placed, MD3Section::Tags, h.OfsTags, tagCount, kMD3TagSize, size, "the file")) return refuse(*fault);

    // 3. the chain of surfaces, each starting at the previous one's end
    if (h.NumSurfaces > 0) {
        // Every surface takes at least its head: the list is sized only after this.
        std::vector<Placed> least;
        if (auto fault = placeSection(least, MD3Section::Surfaces, h.OfsSurfaces, uint64_t(h.NumSurfaces), kMD3SurfaceHeadSize, size,
                                      "the file"))
            return refuse(*fault);
        read.Surfaces.resize(std::size_t(h.NumSurfaces));
        uint64_t start = uint64_t(h.OfsSurfaces);
        for (std::size_t s = 0; s < read.Surfaces.size(); ++s) {
            if (auto fault = readSurface(bytes, start, h.NumFrames, s + 1, read.Surfaces[s])) {
                read.Surfaces.resize(s + 1);  // the summary counts what was read
                return refuse(*fault);
            }
            start += uint64_t(read.Surfaces[s].OfsEnd);
        }
        placed.push_back({MD3Section::Surfaces, uint64_t(h.OfsSurfaces), start - uint64_t(h.OfsSurfaces)});
    }
    if (auto fault = layOut(placed, bytes, "the file", read.Layout, read.GapBytes)) return refuse(*fault);

    // 4. the records of the file level, now known to stand apart
    readRecords(bytes, h.OfsFrames, std::size_t(h.NumFrames), kMD3FrameSize, read.Frames, readFrame);
    readRecords(bytes, h.OfsTags, std::size_t(tagCount), kMD3TagSize, read.Tags, readTag);
    return finish(true);
}

void TMD3Model::WriteTo(ByteWriter& out) const
{
    std::size_t gapAt = 0;
    for (const MD3Piece& piece : Layout) {
        switch (piece.Kind) {
        case MD3Section::Header: writeHeader(out, Header); break;
        case MD3Section::Frames:
            for (const MD3FrameHead& frame : Frames) writeFrame(out, frame);
            break;
        case MD3Section::Tags:
            for (const MD3Tag& tag : Tags) writeTag(out, tag);
            break;
        case MD3Section::Surfaces:
            for (const TMD3Surface& s : Surfaces) s.WriteTo(out);
            break;
        case MD3Section::Gap:
            assert(gapAt + piece.GapSize <= GapBytes.size());
            out.Write(GapBytes.data() + gapAt, piece.GapSize);
            gapAt += piece.GapSize;
            break;
        default: break;  // surface pieces never stand at the file level
        }
    }
}

void TMD3Model::PlaceSections()
{
    for (TMD3Surface& s : Surfaces) {
        s.NumFrames = int32_t(Frames.size());
        s.NumShaders = int32_t(s.Shaders.size());
        s.NumVerts = int32_t(s.TexCoords.size());
        s.NumTriangles = int32_t(s.Triangles.size());
        if (s.Layout.empty())
            s.Layout = {{MD3Section::Header}, {MD3Section::Triangles}, {MD3Section::Shaders}, {MD3Section::TexCoords}, {MD3Section::Vertices}};
        placeOffsets(s.Layout, surfaceSpans(s),
                     {{MD3Section::Triangles, &s.OfsTriangles},
                      {MD3Section::Shaders, &s.OfsShaders},
                      {MD3Section::TexCoords, &s.OfsTexCoords},
                      {MD3Section::Vertices, &s.OfsVertices}},
                     s.OfsEnd);
    }
    Header.NumFrames = int32_t(Frames.size());
    Header.NumTags = Frames.empty() ? Header.NumTags : int32_t(Tags.size() / Frames.size());
    Header.NumSurfaces = int32_t(Surfaces.size());
    if (Layout.empty()) Layout = {{MD3Section::Header}, {MD3Section::Frames}, {MD3Section::Tags}, {MD3Section::Surfaces}};
    placeOffsets(Layout, fileSpans(*this),
                 {{MD3Section::Frames, &Header.OfsFrames}, {MD3Section::Tags, &Header.OfsTags}, {MD3Section::Surfaces, &Header.OfsSurfaces}},
                 Header.OfsEnd);
}

// ---- the neutral view ----

AnimatedMesh MeshOf(const TMD3Model& model, const MeshOptions& options)
{
    AnimatedMesh mesh;
    const FrameSelection frames = SelectFrames(options, model.Frames.size());
    mesh.FrameCount = frames.Count;
    uint64_t vertexCount = 0;
    for (const TMD3Surface& s : model.Surfaces) vertexCount += uint64_t(std::max(s.NumVerts, 0));
    assert(vertexCount <= UINT32_MAX);  // a file holds at most 2^32 / 8 vertices
    mesh.VertexCount = uint32_t(vertexCount);
    mesh.VertexMajor = options.VertexMajor;
    // int16 + 32768 fits 16 bits, and (p + 32768) / 64 - 512 = p / 64 exactly in double.
    mesh.Transforms.assign(1, FrameTransform{{kMD3PositionScale, kMD3PositionScale, kMD3PositionScale}, {-512.0f, -512.0f, -512.0f}});
    if (options.Names) NameFrames(mesh.FrameNames, frames, model.Frames);
    mesh.NormalCode = NormalCoding::LatLong;
    mesh.SkinWidth = mesh.SkinHeight = kNominalSkinSize;
    mesh.SkinSizeNominal = true;
    // A skin slot per surface, each empty until one is found for it.
    if (options.Skin) mesh.Skins.resize(model.Surfaces.size());

    // A model put together in memory may hold too few vertices: one that is
    // missing stands at the origin, and the view stays consistent.
    const std::size_t entries = std::size_t(mesh.VertexCount) * mesh.FrameCount;
    mesh.Positions.assign(entries, PackedPosition{32768, 32768, 32768});
    if (options.Normals) mesh.Normals.assign(entries, 0);
    mesh.TexCoords.reserve(mesh.VertexCount);
    mesh.VertexTexCoords.reserve(mesh.VertexCount);
    mesh.VertexPart.reserve(mesh.VertexCount);
    uint32_t base = 0;
    for (std::size_t part = 0; part < model.Surfaces.size(); ++part) {
        const TMD3Surface& s = model.Surfaces[part];
        const auto count = uint32_t(std::max(s.NumVerts, 0));
        for (uint32_t f = 0; f < mesh.FrameCount; ++f) {
            const std::size_t first = std::size_t(frames[f]) * count;
            const uint32_t present = uint32_t(std::min<std::size_t>(count, s.Vertices.size() - std::min(first, s.Vertices.size())));
            for (uint32_t v = 0; v < present; ++v) {
                const MD3Vertex& vert = s.Vertices[first + v];
                const std::size_t at = mesh.At(base + v, f);
                for (std::size_t a = 0; a < 3; ++a) mesh.Positions[at][a] = uint16_t(int32_t(vert.Position[a]) + 32768);
                if (options.Normals) mesh.Normals[at] = vert.Normal;
            }
        }
        for (uint32_t v = 0; v < count; ++v) {
            const MD3TexCoord tc = v < s.TexCoords.size() ? s.TexCoords[v] : MD3TexCoord{};
            // A coordinate too large for the nominal skin, or not a number, has no texel.
            const float u = tc.S * float(kNominalSkinSize);
            const float w = tc.T * float(kNominalSkinSize);
            mesh.TexCoords.push_back({std::isfinite(u) ? u : 0.0f, std::isfinite(w) ? w : 0.0f});
            mesh.VertexTexCoords.push_back({base + v, base + v});
            mesh.VertexPart.push_back(uint32_t(part));
        }
        for (const MD3Triangle& tri : s.Triangles) {
            MeshTriangle out;
            for (std::size_t j = 0; j < 3; ++j) out.Vertex[j] = out.TexCoord[j] = base + uint32_t(tri.Vertex[j]);
            mesh.Triangles.push_back(out);
            if (options.Skin) mesh.TriangleSkin.push_back(uint32_t(part));
        }
        base += count;
    }
    mesh.TriangleBack.assign(mesh.Triangles.size(), 0);
    return mesh;
}

std::vector<SkinSlot> SkinNamesOf(const TMD3Model& model)
{
    const auto upToZero = [](const std::array<char, 64>& name) { return std::string(name.data(), std::find(name.begin(), name.end(), '\0')); };
    std::vector<SkinSlot> slots;
    for (const TMD3Surface& surface : model.Surfaces) {
        SkinSlot& slot = slots.emplace_back();
        slot.Part = upToZero(surface.Name);
        for (const MD3Shader& shader : surface.Shaders)
            if (shader.Name[0] != '\0') slot.Names.push_back(upToZero(shader.Name));
    }
    return slots;
}

void KeepSurvivors(TMD3Model& model, const MeshSurvivors& survivors)
{
    // 1. the spans as they stand, before any list changes
    const std::vector<PieceSpan> fileBefore = fileSpans(model);
    std::vector<std::vector<PieceSpan>> surfaceBefore;
    surfaceBefore.reserve(model.Surfaces.size());
    for (const TMD3Surface& s : model.Surfaces) surfaceBefore.push_back(surfaceSpans(s));

    // 2. each surface's run of survivors: the view numbers surfaces one after
    // the other and survivors ascend, so keptFrom[s] .. keptFrom[s + 1] are
    // surface s's, in the output's numbering too.
    const std::vector<uint32_t>& kept = survivors.Vertices;
    std::vector<std::size_t> keptFrom(model.Surfaces.size() + 1, 0);
    uint64_t base = 0;
    std::size_t k = 0;
    for (std::size_t part = 0; part < model.Surfaces.size(); ++part) {
        TMD3Surface& s = model.Surfaces[part];
        keptFrom[part] = k;
        const uint64_t end = base + uint64_t(std::max(s.NumVerts, 0));
        while (k < kept.size() && kept[k] < end) ++k;
        const std::size_t first = keptFrom[part];
        const std::size_t keptCount = k - first;
        const std::size_t oldCount = std::size_t(std::max(s.NumVerts, 0));
        const std::size_t frames = oldCount == 0 ? 0 : s.Vertices.size() / oldCount;
        // Survivors ascend with local[i] >= i, and frame f of the output starts
        // no later than of the input: copying forward never overwrites a
        // record still to be moved.
        for (std::size_t f = 0; f < frames; ++f)
            for (std::size_t i = 0; i < keptCount; ++i) s.Vertices[f * keptCount + i] = s.Vertices[f * oldCount + (kept[first + i] - base)];
        s.Vertices.resize(frames * keptCount);
        for (std::size_t i = 0; i < keptCount; ++i) s.TexCoords[i] = s.TexCoords[kept[first + i] - base];
        s.TexCoords.resize(keptCount);
        s.NumVerts = int32_t(keptCount);
        s.Triangles.clear();
        base = end;
    }
    keptFrom.back() = k;
    assert(k == kept.size());  // no survivor lies past the last surface

    // 3. triangles go to the surface of their corners, numbered within it
    for (const MeshTriangle& tri : survivors.Triangles) {
        if (model.Surfaces.empty()) break;
        const auto part = std::size_t(std::upper_bound(keptFrom.begin(), keptFrom.end() - 1, std::size_t(tri.Vertex[0])) - keptFrom.begin()) - 1;
        const std::size_t first = keptFrom[part];
        const std::size_t end = keptFrom[part + 1];
        const bool oneSurface = std::all_of(tri.Vertex.begin(), tri.Vertex.end(), [&](uint32_t v) { return v >= first && v < end; });
        assert(oneSurface);
        if (!oneSurface) continue;
        MD3Triangle out;
        for (std::size_t j = 0; j < 3; ++j) out.Vertex[j] = int32_t(tri.Vertex[j] - first);
        model.Surfaces[part].Triangles.push_back(out);
    }

    // 4. counts, and every offset moved with the bytes it points at
    for (std::size_t part = 0; part < model.Surfaces.size(); ++part) {
        TMD3Surface& s = model.Surfaces[part];
        s.NumTriangles = int32_t(s.Triangles.size());
        const std::vector<PieceSpan> after = surfaceSpans(s);
        for (int32_t* offset : {&s.OfsTriangles, &s.OfsShaders, &s.OfsTexCoords, &s.OfsVertices, &s.OfsEnd})
            *offset = movedOffset(*offset, surfaceBefore[part], after);
    }
    const std::vector<PieceSpan> fileAfter = fileSpans(model);
    for (int32_t* offset : {&model.Header.OfsFrames, &model.Header.OfsTags, &model.Header.OfsSurfaces, &model.Header.OfsEnd})
        *offset = movedOffset(*offset, fileBefore, fileAfter);
}
