#include "model/formats/MDL5.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "model/ByteIO.h"
#include "model/NormalTable.h"
#include "model/ReadChecks.h"
#include "model/Words.h"
#include "model/SkinPixels.h"

namespace {

// The first skin whose type and pixel count can be read, decoded once: a view
// is built per model, not per picture.
MeshSkin firstReadableSkin(const TMDLModel& model)
{
    for (const TMDLSkin5& skin : model.Skins) {
        MeshSkin out = DecodeSkinPixels(skin.SkinType, skin.Width, skin.Height, skin.Pixels);
        if (out.Width > 0) return out;
    }
    return {};
}

// The least and largest packed value on each axis of a list of vertices.
struct PackedExtremes {
    std::array<uint16_t, 3> Min{65535, 65535, 65535};
    std::array<uint16_t, 3> Max{0, 0, 0};
    bool Empty = true;

    void Add(const SmallVector<FrameVert>& verts)
    {
        // Blocks of eight vertices as 32 plain lanes (X, Y, Z, normal and
        // spare, four times eight), so that the compiler compares many lanes
        // at once: this scan reads every frame and is the price of framing
        // an animation. Lane k holds axis k % 4; lanes of axis 3 are unused.
        constexpr std::size_t kBlock = 8;
        constexpr std::size_t kLanes = kBlock * 4;
        static_assert(sizeof(FrameVert) == 4 * sizeof(uint16_t));
        std::array<uint16_t, kLanes> low, high;
        low.fill(65535);
        high.fill(0);
        const std::size_t blocks = verts.size() / kBlock;
        for (std::size_t b = 0; b < blocks; ++b) {
            std::array<uint16_t, kLanes> lanes;
            std::memcpy(lanes.data(), &verts[b * kBlock], sizeof lanes);
            for (std::size_t k = 0; k < kLanes; ++k) {
                low[k] = std::min(low[k], lanes[k]);
                high[k] = std::max(high[k], lanes[k]);
            }
        }
        for (std::size_t k = 0; k < kLanes; ++k) {
            if (k % 4 == 3) continue;
            Min[k % 4] = std::min(Min[k % 4], low[k]);
            Max[k % 4] = std::max(Max[k % 4], high[k]);
        }
        for (std::size_t i = blocks * kBlock; i < verts.size(); ++i) {
            const FrameVert& vert = verts[i];
            Min = {std::min(Min[0], vert.X), std::min(Min[1], vert.Y), std::min(Min[2], vert.Z)};
            Max = {std::max(Max[0], vert.X), std::max(Max[1], vert.Y), std::max(Max[2], vert.Z)};
        }
        Empty = Empty && verts.empty();
    }

    // The transform keeps the order of packed values on each axis (a negative
    // scale reverses it, rounding never does), so the transformed extremes
    // are exactly the box of the transformed vertices, as the plain loop over
    // every vertex would find it.
    WorldBox World(const PositionTransform& transform) const
    {
        WorldBox box;
        if (Empty) return box;
        FrameVert low, high;
        low.X = Min[0], low.Y = Min[1], low.Z = Min[2];
        high.X = Max[0], high.Y = Max[1], high.Z = Max[2];
        box.Add(transform.Apply(low));
        box.Add(transform.Apply(high));
        return box;
    }
};

const std::string kFormatHint = "(This only supports MDL5,8or16or24or32bit Skin with NO MIPMAP.)";

void readFrameVert(ByteReader& in, FrameVert& vert)
{
    uint8_t b[kDiskFrameVertSize];
    in.Read(b, sizeof b);
    vert.X = uint16_t(b[0] | (b[1] << 8));
    vert.Y = uint16_t(b[2] | (b[3] << 8));
    vert.Z = uint16_t(b[4] | (b[5] << 8));
    vert.NormalIndex = b[6];
    vert.Spare = b[7];
}

void writeFrameVert(ByteWriter& out, const FrameVert& vert)
{
    out.U16(vert.X);
    out.U16(vert.Y);
    out.U16(vert.Z);
    const uint8_t tail[2] = {vert.NormalIndex, vert.Spare};
    out.Write(tail, 2);
}

}  // namespace

// ---- element records ----

void TMDLSkin5::ReadHeadFrom(ByteReader& in)
{
    SkinType = in.I32();
    Width = in.I32();
    Height = in.I32();
    // Width times height always fits in 64 bits; times the bytes per pixel
    // it might not, so the area is checked first. A size that is negative or
    // outside 32 bits is kept negative here so that the caller refuses it.
    const int64_t area = int64_t(Width) * int64_t(Height);
    const int64_t limit = std::numeric_limits<int32_t>::max();
    const int64_t perPixel = SkinBytesPerPixel(SkinType);
    if (perPixel == 0)
        PixelSize = 0;
    else if (area < 0 || area > limit || perPixel * area > limit)
        PixelSize = -1;
    else
        PixelSize = int32_t(perPixel * area);
    Pixels.clear();
}

void TMDLSkin5::ReadPixelsFrom(ByteReader& in)
{
    Pixels.resize(std::size_t(PixelSize));
    in.Read(Pixels.data(), Pixels.size());
}

void TMDLSkin5::WriteTo(ByteWriter& out) const
{
    out.I32(SkinType);
    out.I32(Width);
    out.I32(Height);
    out.Write(Pixels.data(), Pixels.size());
}

void TMDLSkinVerts::ReadFrom(ByteReader& in, int32_t NewCount)
{
    Items.assign(std::size_t(NewCount), SkinVert{});
    Count = NewCount;
    for (SkinVert& item : Items) {
        item.U = in.U16();
        item.V = in.U16();
    }
}

void TMDLSkinVerts::WriteTo(ByteWriter& out) const
{
    for (const SkinVert& item : Items) {
        out.U16(item.U);
        out.U16(item.V);
    }
}

void TMDLTriangles::ReadFrom(ByteReader& in, int32_t NewCount)
{
    Items.assign(std::size_t(NewCount), MDLTriangle{});
    Count = NewCount;
    for (MDLTriangle& item : Items) {
        for (uint32_t& index : item.VertIndex) index = in.U16();
        for (uint32_t& index : item.SkinIndex) index = in.U16();
    }
}

void TMDLTriangles::WriteTo(ByteWriter& out) const
{
    // The file holds 16-bit indices: a larger value keeps its low 16 bits.
    for (const MDLTriangle& item : Items) {
        for (uint32_t index : item.VertIndex) out.U16(uint16_t(index));
        for (uint32_t index : item.SkinIndex) out.U16(uint16_t(index));
    }
}

void TMDLFrame::ReadFrom(ByteReader& in, int32_t VertCount)
{
    in.Read(FrameType.data(), FrameType.size());
    readFrameVert(in, BBoxMin);
    readFrameVert(in, BBoxMax);
    in.Read(Name.data(), Name.size());
    Count = VertCount;
    Items.resize(std::size_t(VertCount));
    if constexpr (std::endian::native == std::endian::little) {
        // FrameVert is laid out as on disk: the whole frame is one block.
        in.Read(Items.data(), Items.size() * sizeof(FrameVert));
    } else {
        for (FrameVert& item : Items) readFrameVert(in, item);
    }
}

void TMDLFrame::WriteTo(ByteWriter& out) const
{
    out.Write(FrameType.data(), FrameType.size());
    writeFrameVert(out, BBoxMin);
    writeFrameVert(out, BBoxMax);
    out.Write(Name.data(), Name.size());
    if constexpr (std::endian::native == std::endian::little) {
        out.Write(Items.data(), Items.size() * sizeof(FrameVert));
    } else {
        for (const FrameVert& item : Items) writeFrameVert(out, item);
    }
}

// ---- TMDLModel ----

bool TMDLModel::LoadFromBytes(std::span<const uint8_t> Bytes)
{
    ByteReader in(Bytes);
    return Load(in);
}

namespace {

// Header counts are untrusted: a section is read only when the file holds all
// of it and its list fits in 32 bits. Compared in 64-bit arithmetic, before any
// allocation, so a 100-byte file cannot make us reserve gigabytes.
std::optional<std::string> sectionFault(int32_t count, std::size_t recordSize, uint64_t bytesLeft,
                                        const std::string& what)
{
    const uint64_t need = uint64_t(count) * recordSize;
    if (need > uint64_t(std::numeric_limits<int32_t>::max()))
        return "ERROR:The " + what + " list of " + std::to_string(count) + " records is too large.";
    if (need > bytesLeft)
        return "ERROR:The file ends before its " + std::to_string(count) + " " + what + " records.";
    return std::nullopt;
}

}  // namespace

bool TMDLModel::Load(ByteReader& in)
{
    bool result = true;
    // Every way out of the reading below still writes the summary line.
    auto finish = [&](bool accepted) {
        TrailingBytes = in.BytesLeft();
        Log(ModelInfoLine());
        return accepted;
    };
    auto refuse = [&](const std::string& line) {
        Log(line);
        return finish(false);
    };

    // 1. the header; a short file leaves the rest of it zero
    uint8_t head[kDiskHeaderSize] = {};
    const bool headerComplete = in.BytesLeft() >= kDiskHeaderSize;
    in.Read(head, std::size_t(std::min<uint64_t>(in.BytesLeft(), kDiskHeaderSize)));
    {
        ByteReader fields(std::span<const uint8_t>(head, kDiskHeaderSize));
        fields.Read(Header.Ident.data(), 4);
        fields.Read(Header.Carried1.data(), Header.Carried1.size());
        Header.NumSkins = fields.I32();
        fields.Read(Header.Carried2.data(), Header.Carried2.size());
        Header.NumVerts = fields.I32();
        Header.NumTris = fields.I32();
        Header.NumFrames = fields.I32();
        Header.NumSkinVerts = fields.I32();
        fields.Read(Header.Carried3.data(), Header.Carried3.size());
    }
    // The lists of the previous model stay as they are on these two refusals.
    if (!Header.HasMDL5Ident()) return refuse("ERROR:Unsupported MDL format." + kFormatHint);
    if (!headerComplete) return refuse("ERROR:The file ends inside its 84-byte header.");

    // 2. skins
    Skins.clear();
    if (Header.NumSkins > 0) {
        if (auto fault = sectionFault(Header.NumSkins, kDiskSkinHeadSize, in.BytesLeft(), "skin")) return refuse(*fault);
        for (int32_t n = 1; n <= Header.NumSkins; ++n) {
            const std::string skinName = "Skin #" + std::to_string(n);
            if (in.BytesLeft() < kDiskSkinHeadSize) return refuse("ERROR:The file ends inside the head of " + skinName + ".");
            TMDLSkin5& skin = Skins.emplace_back();
            skin.ReadHeadFrom(in);
            if (skin.PixelSize < 0) return refuse("ERROR:" + skinName + " has a pixel size that is negative or does not fit in 32 bits.");
            if (skin.PixelSize == 0) {
                // Its pixel bytes cannot be stepped over: reading goes on right
                // after its head, out of step, as files of this kind always have.
                Log("ERROR:" + skinName + " is unsurpported format." + kFormatHint);
                result = false;
                continue;
            }
            if (uint64_t(skin.PixelSize) > in.BytesLeft()) return refuse("ERROR:The file ends inside the pixels of " + skinName + ".");
            skin.ReadPixelsFrom(in);
        }
    }

    // 3. skin vertices
    SkinVerts.Items.clear();
    SkinVerts.Count = 0;
    if (Header.NumSkinVerts > 0) {
        if (auto fault = sectionFault(Header.NumSkinVerts, kDiskSkinVertSize, in.BytesLeft(), "skin vertex")) return refuse(*fault);
        SkinVerts.ReadFrom(in, Header.NumSkinVerts);
    }

    // 4. triangles
    Triangles.Items.clear();
    Triangles.Count = 0;
    if (Header.NumTris > 0) {
        if (auto fault = sectionFault(Header.NumTris, kDiskTriangleSize, in.BytesLeft(), "triangle")) return refuse(*fault);
        Triangles.ReadFrom(in, Header.NumTris);
    }

    // 5. frames
    Frames.clear();
    FirstFault normalFault;
    if (Header.NumFrames > 0) {
        if (Header.NumVerts < 0)
            return refuse("ERROR:The header gives " + Counted(Header.NumFrames, "frame", "frames") + " but a negative vertex count (" +
                          std::to_string(Header.NumVerts) + ").");
        if (auto fault = sectionFault(Header.NumVerts, kDiskFrameVertSize, std::numeric_limits<uint64_t>::max(), "frame vertex"))
            return refuse(*fault);
        const uint64_t frameSize = kDiskFrameHeadSize + uint64_t(Header.NumVerts) * kDiskFrameVertSize;
        if (uint64_t(Header.NumFrames) > in.BytesLeft() / frameSize)
            return refuse("ERROR:The file ends before its " + Counted(Header.NumFrames, "frame", "frames") + " of " +
                          Counted(Header.NumVerts, "vertex", "vertices") + ".");
        Frames.resize(std::size_t(Header.NumFrames));
        for (std::size_t f = 0; f < Frames.size(); ++f) {
            Frames[f].ReadFrom(in, Header.NumVerts);
            NoteBadNormal(normalFault, Frames[f].Items.data(), Frames[f].Items.size(), f + 1, kNormalCount);
        }
    }

    // 6. indices: nothing later may read outside a list or the normal table
    FirstFault vertexFault;
    FirstFault skinFault;
    const auto vertexLimit = uint32_t(std::max(Header.NumVerts, 0));
    const auto skinLimit = uint32_t(std::max(Header.NumSkinVerts, 0));
    for (std::size_t t = 0; t < Triangles.Items.size() && !(vertexFault.Line && skinFault.Line); ++t) {
        const MDLTriangle& tri = Triangles.Items[t];
        const std::string name = "ERROR:Triangle #" + std::to_string(t + 1) + " refers to ";
        for (uint32_t index : tri.VertIndex)
            if (index >= vertexLimit)
                vertexFault.Note(name + "vertex " + std::to_string(index) + ", beyond the " + std::to_string(vertexLimit) + " vertices of the model.");
        for (uint32_t index : tri.SkinIndex)
            if (index >= skinLimit)
                skinFault.Note(name + "skin vertex " + std::to_string(index) + ", beyond the " + std::to_string(skinLimit) +
                               " skin vertices of the model.");
    }
    for (const FirstFault* fault : {&vertexFault, &skinFault, &normalFault}) {
        if (!fault->Line) continue;
        Log(*fault->Line);
        result = false;
    }
    return finish(result);
}

void TMDLModel::WriteTo(ByteWriter& out) const
{
    // The header goes out as held; the writer trusts the lists to match it.
    out.Write(Header.Ident.data(), Header.Ident.size());
    out.Write(Header.Carried1.data(), Header.Carried1.size());
    out.I32(Header.NumSkins);
    out.Write(Header.Carried2.data(), Header.Carried2.size());
    out.I32(Header.NumVerts);
    out.I32(Header.NumTris);
    out.I32(Header.NumFrames);
    out.I32(Header.NumSkinVerts);
    out.Write(Header.Carried3.data(), Header.Carried3.size());
    for (const TMDLSkin5& skin : Skins) skin.WriteTo(out);
    SkinVerts.WriteTo(out);
    Triangles.WriteTo(out);
    for (const TMDLFrame& frame : Frames) frame.WriteTo(out);
}

bool TMDLModel::LoadFromFile(const std::string& FileName)
{
    return ReadFileThrough(FileName, [this](ByteReader& in) { return Load(in); });
}

void TMDLModel::SaveToFile(const std::string& FileName) const
{
    WriteFileAtomically(FileName, [this](ByteWriter& out) { WriteTo(out); });
}

std::vector<uint8_t> TMDLModel::SaveToBytes() const
{
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    WriteTo(out);
    return bytes;
}

// ---- where the vertices stand, and the format-neutral view ----

PositionTransform PositionTransformOf(const MDL5Header& header)
{
    // Carried1 starts at file offset 4: the scale stands at 8, the offset at 20.
    constexpr std::size_t kScaleAt = 8 - 4;
    constexpr std::size_t kOffsetAt = 20 - 4;
    PositionTransform transform;
    for (int axis = 0; axis < 3; ++axis) {
        uint32_t scaleBits = 0;
        uint32_t offsetBits = 0;
        for (int b = 0; b < 4; ++b) {  // little-endian on every machine
            scaleBits |= uint32_t(header.Carried1[kScaleAt + 4 * axis + b]) << (8 * b);
            offsetBits |= uint32_t(header.Carried1[kOffsetAt + 4 * axis + b]) << (8 * b);
        }
        float scale = 0;
        float offset = 0;
        std::memcpy(&scale, &scaleBits, sizeof scale);
        std::memcpy(&offset, &offsetBits, sizeof offset);
        transform.Scale[axis] = std::isfinite(scale) ? scale : 1.0f;
        transform.Offset[axis] = std::isfinite(offset) ? offset : 0.0f;
    }
    return transform;
}

WorldBox FrameBox(const TMDLModel& model, int frame)
{
    if (frame < 0 || std::size_t(frame) >= model.Frames.size()) return {};
    PackedExtremes extremes;
    extremes.Add(model.Frames[std::size_t(frame)].Items);
    return extremes.World(PositionTransformOf(model.Header));
}

WorldBox AnimationBox(const TMDLModel& model)
{
    // One pass of integer compares over every frame, one transform at the end:
    // the renderer asks for this box on every picture.
    PackedExtremes extremes;
    for (const TMDLFrame& frame : model.Frames) extremes.Add(frame.Items);
    return extremes.World(PositionTransformOf(model.Header));
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
    if (options.Skin)
        if (MeshSkin skin = firstReadableSkin(model); skin.Width > 0) mesh.Skins.push_back(std::move(skin));
    // The skin vertices count texels of the first skin; without one, a
    // nominal square keeps texture distances comparable.
    const TMDLSkin5* first = model.Skins.empty() ? nullptr : &model.Skins.front();
    mesh.SkinWidth = first && first->Width > 0 ? first->Width : 256;
    mesh.SkinHeight = first && first->Height > 0 ? first->Height : 256;
    mesh.SkinSizeNominal = !first || first->Width <= 0 || first->Height <= 0;
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
