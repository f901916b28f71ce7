#include "model/MDLClass.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>

#include "model/MDLFile.h"
#include "model/ReadChecks.h"

namespace {

const std::string kFormatHint = "(This only supports MDL5,8or16or24or32bit Skin with NO MIPMAP.)";

// The shared rule of the three deletion operations: drop record Index, keep
// the order of the rest; an index outside the list changes nothing.
template <class Records>
void deleteRecord(Records& items, int32_t& count, int32_t index)
{
    if (index < 0 || index >= count) return;
    items.erase(items.begin() + index);
    count = int32_t(items.size());
}

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

int SkinBytesPerPixel(int32_t SkinType)
{
    switch (SkinType) {
    case 0: return 1;
    case 2:
    case 3: return 2;
    case 4: return 3;
    case 5: return 4;
    default: return 0;
    }
}

bool MDL5Header::HasMDL5Ident() const
{
    return Ident == std::array<char, 4>{'M', 'D', 'L', '5'};
}

// ---- element classes ----

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

void TMDLSkinVerts::DeleteSkinVert(int32_t Index)
{
    deleteRecord(Items, Count, Index);
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

void TMDLTriangles::DeleteTriangle(int32_t Index)
{
    deleteRecord(Items, Count, Index);
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

void TMDLFrame::DeleteVertex(int32_t Index)
{
    deleteRecord(Items, Count, Index);
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

void TMDLModel::Log(const std::string& Text) const
{
    if (LogLines) LogLines(Text);
}

void TMDLModel::ShowProgress(const std::string& Text) const
{
    if (ProgressBar) ProgressBar(Text);
}

std::string TMDLModel::ModelInfoLine() const
{
    return "MODEL INFO: " + std::to_string(Header.NumVerts) + "Vertices, " + std::to_string(Header.NumTris) +
           "Faces, " + std::to_string(Header.NumSkinVerts) + "Skin Vertices.";
}

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
            return refuse("ERROR:The header gives " + std::to_string(Header.NumFrames) + " frames but a negative vertex count (" +
                          std::to_string(Header.NumVerts) + ").");
        if (auto fault = sectionFault(Header.NumVerts, kDiskFrameVertSize, std::numeric_limits<uint64_t>::max(), "frame vertex"))
            return refuse(*fault);
        const uint64_t frameSize = kDiskFrameHeadSize + uint64_t(Header.NumVerts) * kDiskFrameVertSize;
        if (uint64_t(Header.NumFrames) > in.BytesLeft() / frameSize)
            return refuse("ERROR:The file ends before its " + std::to_string(Header.NumFrames) + " frames of " +
                          std::to_string(Header.NumVerts) + " vertices.");
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

void TMDLModel::Write(ByteWriter& out) const
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
