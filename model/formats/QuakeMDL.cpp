#include "model/formats/QuakeMDL.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <optional>

#include "model/ByteIO.h"
#include "model/NormalTable.h"
#include "model/ReadChecks.h"
#include "model/Words.h"

namespace {

const std::string kFormatHint = "(This only supports IDPO version 6.)";

TriVertex readTriVertex(ByteReader& in)
{
    TriVertex vert;
    in.Read(&vert, sizeof vert);
    return vert;
}

}  // namespace

void TQuakeModel::Log(const std::string& Text) const
{
    if (LogLines) LogLines(Text);
}

std::string TQuakeModel::ModelInfoLine() const
{
    return "MODEL INFO: " + std::to_string(Header.NumVerts) + "Vertices, " + std::to_string(Header.NumTris) + "Faces, " +
           std::to_string(Header.NumVerts) + "Skin Vertices.";
}

bool TQuakeModel::LoadFromBytes(std::span<const uint8_t> Bytes)
{
    ByteReader in(Bytes);
    std::optional<std::string> refusal = readHeader(in);
    if (!refusal) refusal = readSkins(in);
    if (!refusal) refusal = readMeshLists(in);
    FirstFault normalFault;
    if (!refusal) refusal = readFrames(in, normalFault);
    if (refusal) {
        Log(*refusal);
        Log(ModelInfoLine());
        return false;
    }
    TrailingBytes.resize(std::size_t(in.BytesLeft()));
    in.Read(TrailingBytes.data(), TrailingBytes.size());

    // 6. indices: nothing later may read outside a list or the normal table
    bool result = true;
    FirstFault vertexFault;
    for (std::size_t t = 0; t < Triangles.size() && !vertexFault.Line; ++t)
        for (int32_t v : Triangles[t].Vertex)
            if (v < 0 || v >= Header.NumVerts)
                vertexFault.Note("ERROR:Triangle #" + std::to_string(t + 1) + " refers to vertex " + std::to_string(v) +
                                 ", outside the " + std::to_string(Header.NumVerts) + " vertices of the model.");
    for (const FirstFault* fault : {&vertexFault, &normalFault}) {
        if (!fault->Line) continue;
        Log(*fault->Line);
        result = false;
    }
    Log(ModelInfoLine());
    return result;
}

std::optional<std::string> TQuakeModel::readHeader(ByteReader& in)
{
    // 1. the header; a short file leaves the rest of it zero
    uint8_t head[kQuakeHeaderSize] = {};
    const bool headerComplete = in.BytesLeft() >= kQuakeHeaderSize;
    in.Read(head, std::size_t(std::min<uint64_t>(in.BytesLeft(), kQuakeHeaderSize)));
    {
        ByteReader fields(std::span<const uint8_t>(head, kQuakeHeaderSize));
        fields.Read(Header.Ident.data(), 4);
        Header.Version = fields.I32();
        for (float& v : Header.Scale) v = fields.F32();
        for (float& v : Header.Translate) v = fields.F32();
        Header.BoundingRadius = fields.F32();
        for (float& v : Header.EyePosition) v = fields.F32();
        for (int32_t* count : {&Header.NumSkins, &Header.SkinWidth, &Header.SkinHeight, &Header.NumVerts, &Header.NumTris,
                               &Header.NumFrames, &Header.SyncType, &Header.Flags})
            *count = fields.I32();
        Header.Size = fields.F32();
    }
    if (Header.Ident != std::array<char, 4>{'I', 'D', 'P', 'O'} || (headerComplete && Header.Version != 6))
        return "ERROR:Unsupported Quake MDL format." + kFormatHint;
    if (!headerComplete) return "ERROR:The file ends inside its 84-byte header.";

    Skins.clear();
    SkinIntervals.clear();
    SkinPixels.clear();
    SkinVerts.clear();
    Triangles.clear();
    FrameEntries.clear();
    Frames.clear();
    FrameIntervals.clear();
    FrameVerts.clear();
    TrailingBytes.clear();
    for (auto [count, what] : {std::pair{Header.NumSkins, "skin"}, std::pair{Header.NumVerts, "vertex"},
                               std::pair{Header.NumTris, "triangle"}, std::pair{Header.NumFrames, "frame"}})
        if (count < 0) return "ERROR:The header gives a negative " + std::string(what) + " count (" + std::to_string(count) + ").";
    // Every position is packed * scale + translate: a field that is not a
    // number would put every vertex nowhere.
    for (int axis = 0; axis < 3; ++axis) {
        const char* name = axis == 0 ? "x" : axis == 1 ? "y" : "z";
        if (!std::isfinite(Header.Scale[axis])) return "ERROR:The header's position scale (" + std::string(name) + ") is not a finite number.";
        if (!std::isfinite(Header.Translate[axis]))
            return "ERROR:The header's position offset (" + std::string(name) + ") is not a finite number.";
    }
    return std::nullopt;
}

std::optional<std::string> TQuakeModel::readSkins(ByteReader& in)
{
    // Header counts are untrusted: each list is compared with the bytes left,
    // in 64-bit arithmetic, before it is sized.
    // 2. skins: every picture has the header's size
    const uint64_t pictureSize = uint64_t(std::max<int64_t>(0, int64_t(Header.SkinWidth) * Header.SkinHeight));
    if (Header.NumSkins == 0) return std::nullopt;
    if (Header.SkinWidth <= 0 || Header.SkinHeight <= 0 || pictureSize > uint64_t(std::numeric_limits<int32_t>::max()))
        return "ERROR:The skins' size of " + std::to_string(Header.SkinWidth) + " x " + std::to_string(Header.SkinHeight) +
               " texels is empty or does not fit in 32 bits.";
    // A single skin takes its type and a picture, a group at least its type and count.
    if (uint64_t(Header.NumSkins) * (4 + std::min<uint64_t>(pictureSize, 4)) > in.BytesLeft())
        return "ERROR:The file ends before its " + std::to_string(Header.NumSkins) + " skins.";
    Skins.reserve(std::size_t(Header.NumSkins));
    for (int32_t n = 1; n <= Header.NumSkins; ++n) {
        const std::string endsInside = "ERROR:The file ends inside Skin #" + std::to_string(n) + ".";
        if (in.BytesLeft() < 4) return endsInside;
        QuakeSkin& skin = Skins.emplace_back();
        skin.Type = in.I32();
        skin.FirstPicture = uint32_t(SkinPixels.size() / pictureSize);
        skin.FirstInterval = uint32_t(SkinIntervals.size());
        if (skin.Type != 0) {
            if (in.BytesLeft() < 4) return endsInside;
            const int32_t count = in.I32();
            if (count < 0) return "ERROR:Skin #" + std::to_string(n) + " is a group of " + std::to_string(count) + " pictures.";
            if (uint64_t(count) * (4 + pictureSize) > in.BytesLeft()) return endsInside;
            skin.PictureCount = uint32_t(count);
            for (int32_t i = 0; i < count; ++i) SkinIntervals.push_back(in.F32());
        }
        const uint64_t pixelBytes = skin.PictureCount * pictureSize;
        if (pixelBytes > in.BytesLeft()) return endsInside;
        SkinPixels.resize(SkinPixels.size() + std::size_t(pixelBytes));
        in.Read(SkinPixels.data() + SkinPixels.size() - pixelBytes, std::size_t(pixelBytes));
    }
    return std::nullopt;
}

std::optional<std::string> TQuakeModel::readMeshLists(ByteReader& in)
{
    // 3. skin vertices, one per vertex
    if (uint64_t(Header.NumVerts) * kQuakeSkinVertSize > in.BytesLeft())
        return "ERROR:The file ends before its " + std::to_string(Header.NumVerts) + " skin vertex records.";
    SkinVerts.resize(std::size_t(Header.NumVerts));
    for (QuakeSkinVert& sv : SkinVerts) {
        sv.OnSeam = in.I32();
        sv.S = in.I32();
        sv.T = in.I32();
    }

    // 4. triangles
    if (uint64_t(Header.NumTris) * kQuakeTriangleSize > in.BytesLeft())
        return "ERROR:The file ends before its " + std::to_string(Header.NumTris) + " triangle records.";
    Triangles.resize(std::size_t(Header.NumTris));
    for (QuakeTriangle& tri : Triangles) {
        tri.FacesFront = in.I32();
        for (int32_t& v : tri.Vertex) v = in.I32();
    }
    return std::nullopt;
}

std::optional<std::string> TQuakeModel::readFrames(ByteReader& in, FirstFault& normalFault)
{
    // 5. frames: a single frame takes its type and a simple frame, a group at
    // least its type, count and bounds (16 bytes)
    const uint64_t frameSize = kQuakeFrameHeadSize + uint64_t(Header.NumVerts) * kTriVertexSize;
    if (uint64_t(Header.NumFrames) * 16 > in.BytesLeft())
        return "ERROR:The file ends before its " + std::to_string(Header.NumFrames) + " frames.";
    FrameEntries.reserve(std::size_t(Header.NumFrames));
    auto readSimpleFrame = [&] {
        QuakeFrame& frame = Frames.emplace_back();
        frame.BoundsMin = readTriVertex(in);
        frame.BoundsMax = readTriVertex(in);
        in.Read(frame.Name.data(), frame.Name.size());
        const std::size_t first = FrameVerts.size();
        FrameVerts.resize(first + std::size_t(Header.NumVerts));
        in.Read(FrameVerts.data() + first, std::size_t(Header.NumVerts) * kTriVertexSize);
        NoteBadNormal(normalFault, FrameVerts.data() + first, std::size_t(Header.NumVerts), Frames.size(), kNormalCount);
    };
    for (int32_t n = 1; n <= Header.NumFrames; ++n) {
        const std::string endsInside = "ERROR:The file ends inside frame entry #" + std::to_string(n) + ".";
        if (in.BytesLeft() < 4) return endsInside;
        QuakeFrameEntry& entry = FrameEntries.emplace_back();
        entry.Type = in.I32();
        entry.FirstFrame = uint32_t(Frames.size());
        entry.FirstInterval = uint32_t(FrameIntervals.size());
        if (entry.Type == 0) {
            if (frameSize > in.BytesLeft()) return endsInside;
            readSimpleFrame();
            continue;
        }
        if (in.BytesLeft() < 4 + 2 * kTriVertexSize) return endsInside;
        const int32_t count = in.I32();
        if (count < 0) return "ERROR:Frame entry #" + std::to_string(n) + " is a group of " + std::to_string(count) + " frames.";
        entry.BoundsMin = readTriVertex(in);
        entry.BoundsMax = readTriVertex(in);
        if (uint64_t(count) * (4 + frameSize) > in.BytesLeft()) return endsInside;
        entry.FrameCount = uint32_t(count);
        for (int32_t i = 0; i < count; ++i) FrameIntervals.push_back(in.F32());
        for (int32_t i = 0; i < count; ++i) readSimpleFrame();
    }
    // Vertices live only in frames (a header of no frames, or only empty
    // groups): without one, a vertex count has nothing behind it.
    if (Header.NumVerts > 0 && Frames.empty())
        return "ERROR:The header gives " + Counted(Header.NumVerts, "vertex", "vertices") + " but no frames to hold them.";
    return std::nullopt;
}

void TQuakeModel::WriteTo(ByteWriter& out) const
{
    out.Write(Header.Ident.data(), Header.Ident.size());
    out.I32(Header.Version);
    for (float v : Header.Scale) out.F32(v);
    for (float v : Header.Translate) out.F32(v);
    out.F32(Header.BoundingRadius);
    for (float v : Header.EyePosition) out.F32(v);
    for (int32_t count : {Header.NumSkins, Header.SkinWidth, Header.SkinHeight, Header.NumVerts, Header.NumTris, Header.NumFrames,
                          Header.SyncType, Header.Flags})
        out.I32(count);
    out.F32(Header.Size);

    const std::size_t pictureSize = std::size_t(std::max<int64_t>(0, int64_t(Header.SkinWidth) * Header.SkinHeight));
    for (const QuakeSkin& skin : Skins) {
        out.I32(skin.Type);
        if (skin.Type != 0) {
            out.I32(int32_t(skin.PictureCount));
            for (uint32_t i = 0; i < skin.PictureCount; ++i) out.F32(SkinIntervals[skin.FirstInterval + i]);
        }
        assert((std::size_t(skin.FirstPicture) + skin.PictureCount) * pictureSize <= SkinPixels.size());
        out.Write(SkinPixels.data() + std::size_t(skin.FirstPicture) * pictureSize, skin.PictureCount * pictureSize);
    }
    for (const QuakeSkinVert& sv : SkinVerts)
        for (int32_t v : {sv.OnSeam, sv.S, sv.T}) out.I32(v);
    for (const QuakeTriangle& tri : Triangles) {
        out.I32(tri.FacesFront);
        for (int32_t v : tri.Vertex) out.I32(v);
    }
    const std::size_t vertexCount = std::size_t(std::max(Header.NumVerts, 0));
    auto writeSimpleFrame = [&](std::size_t f) {
        const QuakeFrame& frame = Frames[f];
        out.Write(&frame.BoundsMin, kTriVertexSize);
        out.Write(&frame.BoundsMax, kTriVertexSize);
        out.Write(frame.Name.data(), frame.Name.size());
        assert((f + 1) * vertexCount <= FrameVerts.size());
        out.Write(FrameVerts.data() + f * vertexCount, vertexCount * kTriVertexSize);
    };
    for (const QuakeFrameEntry& entry : FrameEntries) {
        out.I32(entry.Type);
        if (entry.Type == 0) {
            assert(entry.FrameCount == 1);
            writeSimpleFrame(entry.FirstFrame);
            continue;
        }
        out.I32(int32_t(entry.FrameCount));
        out.Write(&entry.BoundsMin, kTriVertexSize);
        out.Write(&entry.BoundsMax, kTriVertexSize);
        for (uint32_t i = 0; i < entry.FrameCount; ++i) out.F32(FrameIntervals[entry.FirstInterval + i]);
        for (uint32_t i = 0; i < entry.FrameCount; ++i) writeSimpleFrame(entry.FirstFrame + i);
    }
    out.Write(TrailingBytes.data(), TrailingBytes.size());
}

std::vector<uint8_t> TQuakeModel::SaveToBytes() const
{
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    WriteTo(out);
    return bytes;
}

AnimatedMesh MeshOf(const TQuakeModel& model, const MeshOptions& options)
{
    AnimatedMesh mesh;
    const QuakeHeader& h = model.Header;
    const FrameSelection frames = SelectFrames(options, model.Frames.size());
    mesh.VertexCount = uint32_t(model.SkinVerts.size());
    mesh.FrameCount = frames.Count;
    mesh.VertexMajor = options.VertexMajor;
    const FrameTransform transform = FiniteTransform(h.Scale, h.Translate);
    mesh.Transforms.assign(1, transform);
    if (options.Names) NameFrames(mesh.FrameNames, frames, model.Frames);

    // A loaded model has one skin vertex per frame vertex; one put together
    // in memory may fall short, and a vertex a frame lacks stands at the origin.
    const std::size_t stride = std::size_t(std::max(h.NumVerts, 0));
    const std::size_t entries = std::size_t(mesh.VertexCount) * mesh.FrameCount;
    mesh.Positions.assign(entries, PackedPosition{});
    if (options.Normals) mesh.Normals.assign(entries, 0);
    for (uint32_t f = 0; f < mesh.FrameCount; ++f) {
        for (uint32_t v = 0; v < mesh.VertexCount && v < stride; ++v) {
            const std::size_t from = std::size_t(frames[f]) * stride + v;
            if (from >= model.FrameVerts.size()) break;
            const TriVertex& vert = model.FrameVerts[from];
            const std::size_t at = mesh.At(v, f);
            mesh.Positions[at] = {vert.X, vert.Y, vert.Z};
            if (options.Normals) mesh.Normals[at] = vert.NormalIndex;
        }
    }

    // Front coordinates at the vertex's own index, then the back ones. The
    // shift is the integer half of the width, as the game draws it; in 64 bits
    // so that no stored s can overflow.
    mesh.TexCoords.reserve(model.SkinVerts.size());
    for (const QuakeSkinVert& sv : model.SkinVerts) mesh.TexCoords.push_back({float(sv.S), float(sv.T)});
    mesh.VertexTexCoords.resize(model.SkinVerts.size());
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
        const QuakeSkinVert& sv = model.SkinVerts[v];
        mesh.VertexTexCoords[v] = {v, v};
        if (sv.OnSeam == 0) continue;
        mesh.VertexTexCoords[v][1] = uint32_t(mesh.TexCoords.size());
        mesh.TexCoords.push_back({float(int64_t(sv.S) + h.SkinWidth / 2), float(sv.T)});
    }
    mesh.Triangles.reserve(model.Triangles.size());
    mesh.TriangleBack.reserve(model.Triangles.size());
    for (const QuakeTriangle& tri : model.Triangles) {
        const uint8_t back = tri.FacesFront == 0 ? 1 : 0;
        MeshTriangle& out = mesh.Triangles.emplace_back();
        for (std::size_t j = 0; j < 3; ++j) {
            out.Vertex[j] = uint32_t(tri.Vertex[j]);
            // An index outside the vertices (a model built in memory) keeps
            // itself as texture corner too: IsConsistent then says no.
            out.TexCoord[j] = out.Vertex[j] < mesh.VertexCount ? mesh.VertexTexCoords[out.Vertex[j]][back] : out.Vertex[j];
        }
        mesh.TriangleBack.push_back(back);
    }

    // The skin vertices count texels of the header's size; without one, a
    // nominal square keeps texture distances comparable.
    mesh.SkinWidth = h.SkinWidth > 0 ? h.SkinWidth : 256;
    mesh.SkinHeight = h.SkinHeight > 0 ? h.SkinHeight : 256;
    mesh.SkinSizeNominal = h.SkinWidth <= 0 || h.SkinHeight <= 0;
    const std::size_t pictureSize = std::size_t(std::max<int64_t>(0, int64_t(h.SkinWidth) * h.SkinHeight));
    if (options.Skin && !model.Skins.empty() && model.Skins[0].PictureCount > 0 && pictureSize > 0) {
        const std::size_t first = std::size_t(model.Skins[0].FirstPicture) * pictureSize;
        if (first + pictureSize <= model.SkinPixels.size()) {
            MeshSkin& skin = mesh.Skins.emplace_back();
            skin.Type = MeshSkin::Kind::Indexed8;
            skin.Width = h.SkinWidth;
            skin.Height = h.SkinHeight;
            skin.Pixels.assign(model.SkinPixels.begin() + std::ptrdiff_t(first),
                               model.SkinPixels.begin() + std::ptrdiff_t(first + pictureSize));
        }
    }
    return mesh;
}

void KeepSurvivors(TQuakeModel& model, const MeshSurvivors& survivors)
{
    const std::size_t oldCount = std::size_t(std::max(model.Header.NumVerts, 0));
    const std::size_t newCount = survivors.Vertices.size();
    assert(newCount <= oldCount && survivors.Triangles.size() == survivors.TriangleSource.size());
    // Survivor lists ascend with kept[k] >= k and newCount <= oldCount, so
    // record f * newCount + k never lies after f * oldCount + kept[k]: moving
    // forward in one sweep never overwrites a record still to be moved.
    for (std::size_t f = 0; f < model.Frames.size(); ++f)
        for (std::size_t k = 0; k < newCount; ++k) {
            assert(survivors.Vertices[k] < oldCount);
            model.FrameVerts[f * newCount + k] = model.FrameVerts[f * oldCount + survivors.Vertices[k]];
        }
    model.FrameVerts.resize(model.Frames.size() * newCount);
    for (std::size_t k = 0; k < newCount; ++k) model.SkinVerts[k] = model.SkinVerts[survivors.Vertices[k]];
    model.SkinVerts.resize(newCount);

    std::vector<QuakeTriangle> kept(survivors.Triangles.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        kept[i].FacesFront = model.Triangles[survivors.TriangleSource[i]].FacesFront;
        for (std::size_t j = 0; j < 3; ++j) kept[i].Vertex[j] = int32_t(survivors.Triangles[i].Vertex[j]);
    }
    model.Triangles = std::move(kept);
    model.Header.NumVerts = int32_t(newCount);
    model.Header.NumTris = int32_t(model.Triangles.size());
}
