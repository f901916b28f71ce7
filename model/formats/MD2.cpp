#include "model/formats/MD2.h"

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

const std::string kFormatHint = "(This only supports IDP2 version 8.)";
constexpr int kHeaderSection = -1;

const char* sectionName(MD2Section section)
{
    switch (section) {
    case MD2Section::Skins: return "skin name";
    case MD2Section::TexCoords: return "texture coordinate";
    case MD2Section::Triangles: return "triangle";
    case MD2Section::Frames: return "frame";
    case MD2Section::GLCommands: return "GL command word";
    }
    return "";
}

uint64_t frameBytes(const TMD2Model& model)
{
    const uint64_t padding = model.Frames.empty() ? 0 : model.FramePadding.size() / model.Frames.size();
    return kMD2FrameHeadSize + uint64_t(std::max(model.Header.NumVertices, 0)) * kTriVertexSize + padding;
}

// The bytes each section's lists take now.
std::array<uint64_t, kMD2SectionCount> sectionSizes(const TMD2Model& model)
{
    return {model.SkinNames.size() * kMD2SkinNameSize, model.TexCoords.size() * kMD2TexCoordSize,
            model.Triangles.size() * kMD2TriangleSize, model.Frames.size() * frameBytes(model),
            model.GLCommands.size() * kMD2GLWordSize};
}

}  // namespace

void TMD2Model::Log(const std::string& Text) const
{
    if (LogLines) LogLines(Text);
}

std::string TMD2Model::ModelInfoLine() const
{
    return "MODEL INFO: " + std::to_string(Header.NumVertices) + "Vertices, " + std::to_string(Header.NumTris) + "Faces, " +
           std::to_string(Header.NumTexCoords) + "Skin Vertices.";
}

bool TMD2Model::LoadFromBytes(std::span<const uint8_t> Bytes)
{
    SectionPlan plan;
    FirstFault normalFault;
    std::optional<std::string> refusal = readHeader(Bytes);
    if (!refusal) refusal = placeSections(Bytes, plan);
    if (!refusal) {
        keepLayout(Bytes, plan);
        refusal = readRecords(Bytes, plan, normalFault);
    }
    if (refusal) Log(*refusal);
    // Every way out of the reading still writes the summary line.
    const bool accepted = !refusal && checkIndices(normalFault);
    Log(ModelInfoLine());
    return accepted;
}

std::optional<std::string> TMD2Model::readHeader(std::span<const uint8_t> Bytes)
{
    // 1. the header; a short file leaves the rest of it zero
    uint8_t head[kMD2HeaderSize] = {};
    const bool headerComplete = Bytes.size() >= kMD2HeaderSize;
    std::copy_n(Bytes.begin(), std::min(Bytes.size(), kMD2HeaderSize), head);
    {
        ByteReader fields(std::span<const uint8_t>(head, kMD2HeaderSize));
        fields.Read(Header.Ident.data(), 4);
        for (int32_t* field : {&Header.Version, &Header.SkinWidth, &Header.SkinHeight, &Header.FrameSize, &Header.NumSkins,
                               &Header.NumVertices, &Header.NumTexCoords, &Header.NumTris, &Header.NumGLCommands, &Header.NumFrames,
                               &Header.OfsSkins, &Header.OfsTexCoords, &Header.OfsTris, &Header.OfsFrames, &Header.OfsGLCommands,
                               &Header.OfsEnd})
            *field = fields.I32();
    }
    if (Header.Ident != std::array<char, 4>{'I', 'D', 'P', '2'} || (headerComplete && Header.Version != 8))
        return ("ERROR:Unsupported MD2 format." + kFormatHint);
    if (!headerComplete) return ("ERROR:The file ends inside its 68-byte header.");

    SkinNames.clear();
    TexCoords.clear();
    Triangles.clear();
    Frames.clear();
    FrameVerts.clear();
    FramePadding.clear();
    GLCommands.clear();
    Layout = MD2Layout{};
    TrailingBytes.clear();

    return std::nullopt;
}

std::optional<std::string> TMD2Model::placeSections(std::span<const uint8_t> Bytes, SectionPlan& plan)
{
    // 2. where the sections are: each one that holds records lies within the
    // file, after the header and apart from the others. Compared in 64-bit
    // arithmetic before any list is sized.
    const std::array<int32_t, kMD2SectionCount> counts = {Header.NumSkins, Header.NumTexCoords, Header.NumTris, Header.NumFrames,
                                                          Header.NumGLCommands};
    const std::array<int32_t, kMD2SectionCount> offsets = {Header.OfsSkins, Header.OfsTexCoords, Header.OfsTris, Header.OfsFrames,
                                                           Header.OfsGLCommands};
    for (std::size_t s = 0; s < kMD2SectionCount; ++s)
        if (counts[s] < 0)
            return ("ERROR:The header gives a negative " + std::string(sectionName(MD2Section(s))) + " count (" +
                          std::to_string(counts[s]) + ").");
    if (Header.NumVertices < 0) return ("ERROR:The header gives a negative vertex count (" + std::to_string(Header.NumVertices) + ").");
    // Vertices live only in frames: without one, a vertex count has nothing
    // behind it, and a view of that many vertices could cost any amount.
    if (Header.NumVertices > 0 && Header.NumFrames == 0)
        return ("ERROR:The header gives " + Counted(Header.NumVertices, "vertex", "vertices") + " but no frames to hold them.");
    const uint64_t vertexBytes = uint64_t(Header.NumVertices) * kTriVertexSize;
    if (Header.NumFrames > 0 && uint64_t(std::max(Header.FrameSize, 0)) < kMD2FrameHeadSize + vertexBytes)
        return ("ERROR:The frame size of " + std::to_string(Header.FrameSize) + " bytes is less than the " +
                      std::to_string(kMD2FrameHeadSize + vertexBytes) + " bytes of a frame of " + std::to_string(Header.NumVertices) +
                      " vertices.");
    const std::array<uint64_t, kMD2SectionCount> recordSizes = {kMD2SkinNameSize, kMD2TexCoordSize, kMD2TriangleSize,
                                                                uint64_t(std::max(Header.FrameSize, 0)), kMD2GLWordSize};
    std::array<uint64_t, kMD2SectionCount> sizes{};
    std::vector<MD2Section>& order = plan.Order;
    for (std::size_t s = 0; s < kMD2SectionCount; ++s) {
        sizes[s] = uint64_t(counts[s]) * recordSizes[s];
        if (sizes[s] == 0) continue;
        const std::string what = std::to_string(counts[s]) + " " + sectionName(MD2Section(s)) + " records";
        if (offsets[s] < int64_t(kMD2HeaderSize))
            return ("ERROR:The " + what + " at offset " + std::to_string(offsets[s]) + " overlap the header.");
        if (uint64_t(offsets[s]) + sizes[s] > Bytes.size()) return ("ERROR:The file ends before its " + what + ".");
        order.push_back(MD2Section(s));
    }
    for (std::size_t s = 0; s < kMD2SectionCount; ++s) plan.Offsets[s] = offsets[s];
    plan.Sizes = sizes;
    const auto startOf = [&plan](MD2Section s) { return plan.StartOf(s); };
    const auto endOf = [&plan](MD2Section s) { return plan.EndOf(s); };
    std::stable_sort(order.begin(), order.end(), [&](MD2Section a, MD2Section b) { return startOf(a) < startOf(b); });
    for (std::size_t i = 1; i < order.size(); ++i)
        if (startOf(order[i]) < endOf(order[i - 1]))
            return ("ERROR:The " + std::string(sectionName(order[i - 1])) + " records and the " + sectionName(order[i]) +
                          " records overlap in the file.");

    return std::nullopt;
}

void TMD2Model::keepLayout(std::span<const uint8_t> Bytes, const SectionPlan& plan)
{
    Layout.Order = plan.Order;
    const auto startOf = [&plan](MD2Section s) { return plan.StartOf(s); };
    const auto endOf = [&plan](MD2Section s) { return plan.EndOf(s); };
    const auto& order = plan.Order;
    uint64_t previousEnd = kMD2HeaderSize;
    for (MD2Section s : order) {
        Layout.GapBefore[std::size_t(s)].assign(Bytes.begin() + std::ptrdiff_t(previousEnd), Bytes.begin() + std::ptrdiff_t(startOf(s)));
        previousEnd = endOf(s);
    }
    TrailingBytes.assign(Bytes.begin() + std::ptrdiff_t(previousEnd), Bytes.end());
    // An empty section's offset, and the end offset, hang on the last section
    // (or the header) that starts at or before them: at its end when they lie
    // past it, else at its start.
    auto anchorFor = [&](int64_t offset) {
        MD2Layout::Anchor anchor{int8_t(kHeaderSection), true, offset - int64_t(kMD2HeaderSize)};
        for (MD2Section s : order) {
            if (int64_t(startOf(s)) > offset) break;
            const bool atEnd = offset >= int64_t(endOf(s));
            anchor = {int8_t(s), atEnd, offset - int64_t(atEnd ? endOf(s) : startOf(s))};
        }
        if (anchor.Section == kHeaderSection && offset < int64_t(kMD2HeaderSize)) anchor = {int8_t(kHeaderSection), false, offset};
        return anchor;
    };
    for (std::size_t s = 0; s < kMD2SectionCount; ++s)
        if (plan.Sizes[s] == 0) Layout.EmptyAt[s] = anchorFor(plan.Offsets[s]);
    Layout.EmptyAt[kMD2SectionCount] = anchorFor(Header.OfsEnd);

}

std::optional<std::string> TMD2Model::readRecords(std::span<const uint8_t> Bytes, const SectionPlan& plan, FirstFault& normalFault)
{
    // 4. the records
    // An empty section's offset may point anywhere: it is never read.
    const auto sectionReader = [&](MD2Section s) {
        const uint64_t size = plan.Sizes[std::size_t(s)];
        return ByteReader(size == 0 ? std::span<const uint8_t>() : Bytes.subspan(std::size_t(plan.StartOf(s)), std::size_t(size)));
    };
    const uint64_t vertexBytes = uint64_t(Header.NumVertices) * kTriVertexSize;
    {
        ByteReader in = sectionReader(MD2Section::Skins);
        SkinNames.resize(std::size_t(Header.NumSkins));
        for (auto& name : SkinNames) in.Read(name.data(), name.size());
    }
    {
        ByteReader in = sectionReader(MD2Section::TexCoords);
        TexCoords.resize(std::size_t(Header.NumTexCoords));
        for (MD2TexCoord& tc : TexCoords) {
            tc.S = int16_t(in.U16());
            tc.T = int16_t(in.U16());
        }
    }
    {
        ByteReader in = sectionReader(MD2Section::Triangles);
        Triangles.resize(std::size_t(Header.NumTris));
        for (MD2Triangle& tri : Triangles) {
            for (uint16_t& v : tri.Vertex) v = in.U16();
            for (uint16_t& v : tri.TexCoord) v = in.U16();
        }
    }
    {
        ByteReader in = sectionReader(MD2Section::Frames);
        const std::size_t vertexCount = std::size_t(Header.NumVertices);
        const std::size_t padding = Header.NumFrames > 0 ? std::size_t(uint64_t(Header.FrameSize) - kMD2FrameHeadSize - vertexBytes) : 0;
        Frames.resize(std::size_t(Header.NumFrames));
        FrameVerts.resize(Frames.size() * vertexCount);
        FramePadding.resize(Frames.size() * padding);
        for (std::size_t f = 0; f < Frames.size(); ++f) {
            for (float& v : Frames[f].Scale) v = in.F32();
            for (float& v : Frames[f].Translate) v = in.F32();
            // Every position is packed * scale + translate: a field that is
            // not a number would put every vertex of the frame nowhere.
            for (int axis = 0; axis < 3; ++axis)
                for (auto [value, field] : {std::pair{Frames[f].Scale[axis], "position scale"}, std::pair{Frames[f].Translate[axis], "position offset"}})
                    if (!std::isfinite(value))
                        return "ERROR:Frame #" + std::to_string(f + 1) + "'s " + field + " (" + "xyz"[axis] + ") is not a finite number.";
            in.Read(Frames[f].Name.data(), Frames[f].Name.size());
            TriVertex* verts = FrameVerts.data() + f * vertexCount;
            in.Read(verts, vertexCount * kTriVertexSize);
            in.Read(FramePadding.data() + f * padding, padding);
            NoteBadNormal(normalFault, verts, vertexCount, f + 1, kNormalCount);
        }
    }
    {
        ByteReader in = sectionReader(MD2Section::GLCommands);
        GLCommands.resize(std::size_t(Header.NumGLCommands));
        for (int32_t& word : GLCommands) word = in.I32();
    }

    return std::nullopt;
}

bool TMD2Model::checkIndices(const FirstFault& normalFault) const
{
    // 5. indices: nothing later may read outside a list or the normal table
    bool result = true;
    FirstFault vertexFault;
    FirstFault texCoordFault;
    for (std::size_t t = 0; t < Triangles.size() && !(vertexFault.Line && texCoordFault.Line); ++t) {
        const std::string name = "ERROR:Triangle #" + std::to_string(t + 1) + " refers to ";
        for (uint16_t v : Triangles[t].Vertex)
            if (v >= Header.NumVertices)
                vertexFault.Note(name + "vertex " + std::to_string(v) + ", beyond the " + std::to_string(Header.NumVertices) +
                                          " vertices of the model.");
        for (uint16_t v : Triangles[t].TexCoord)
            if (v >= Header.NumTexCoords)
                texCoordFault.Note(name + "texture coordinate " + std::to_string(v) + ", beyond the " +
                                            std::to_string(Header.NumTexCoords) + " texture coordinates of the model.");
    }
    // The GL list is walked as the game walks it: up to the 0 that ends it,
    // which must come within the list.
    FirstFault glFault;
    if (!GLCommands.empty()) {
        std::size_t at = 0;
        bool ended = false;
        while (at < GLCommands.size() && !glFault.Line) {
            const int64_t count = GLCommands[at++];
            if (count == 0) {
                ended = true;
                break;
            }
            const uint64_t vertices = uint64_t(count < 0 ? -count : count);
            if (vertices * 3 > GLCommands.size() - at) break;
            for (uint64_t k = 0; k < vertices; ++k, at += 3)
                if (GLCommands[at + 2] < 0 || GLCommands[at + 2] >= Header.NumVertices)
                    glFault.Note("ERROR:GL command word #" + std::to_string(at + 3) + " refers to vertex " +
                                          std::to_string(GLCommands[at + 2]) + ", beyond the " + std::to_string(Header.NumVertices) +
                                          " vertices of the model.");
        }
        if (!ended) glFault.Note("ERROR:The GL command list runs past its " + std::to_string(GLCommands.size()) + " words without an end.");
    }
    for (const FirstFault* fault : std::initializer_list<const FirstFault*>{&vertexFault, &texCoordFault, &normalFault, &glFault}) {
        if (!fault->Line) continue;
        Log(*fault->Line);
        result = false;
    }
    return result;
}

void TMD2Model::WriteTo(ByteWriter& out) const
{
    // 1. lay the sections out in the order read, each after its gap; a section
    // that was empty then and holds records now goes after them
    const std::array<uint64_t, kMD2SectionCount> sizes = sectionSizes(*this);
    std::array<uint64_t, kMD2SectionCount> start{};
    std::array<bool, kMD2SectionCount> placed{};
    std::vector<MD2Section> order = Layout.Order;
    for (std::size_t s = 0; s < kMD2SectionCount; ++s)
        if (sizes[s] > 0 && std::find(order.begin(), order.end(), MD2Section(s)) == order.end()) order.push_back(MD2Section(s));
    uint64_t position = kMD2HeaderSize;
    for (MD2Section s : order) {
        position += Layout.GapBefore[std::size_t(s)].size();
        start[std::size_t(s)] = position;
        placed[std::size_t(s)] = true;
        position += sizes[std::size_t(s)];
    }
    auto resolve = [&](const MD2Layout::Anchor& anchor) {
        const auto s = std::size_t(uint8_t(anchor.Section));
        if (anchor.Section == kHeaderSection || s >= kMD2SectionCount || !placed[s])
            return int64_t(anchor.AtEnd ? kMD2HeaderSize : 0) + anchor.Delta;
        return int64_t(start[s] + (anchor.AtEnd ? sizes[s] : 0)) + anchor.Delta;
    };
    MD2Header h = Header;
    std::array<int32_t*, kMD2SectionCount> offsets = {&h.OfsSkins, &h.OfsTexCoords, &h.OfsTris, &h.OfsFrames, &h.OfsGLCommands};
    for (std::size_t s = 0; s < kMD2SectionCount; ++s)
        *offsets[s] = int32_t(placed[s] ? int64_t(start[s]) : resolve(Layout.EmptyAt[s]));
    h.OfsEnd = int32_t(resolve(Layout.EmptyAt[kMD2SectionCount]));

    // 2. the bytes
    out.Write(h.Ident.data(), h.Ident.size());
    for (int32_t field : {h.Version, h.SkinWidth, h.SkinHeight, h.FrameSize, h.NumSkins, h.NumVertices, h.NumTexCoords, h.NumTris,
                          h.NumGLCommands, h.NumFrames, h.OfsSkins, h.OfsTexCoords, h.OfsTris, h.OfsFrames, h.OfsGLCommands, h.OfsEnd})
        out.I32(field);
    const std::size_t vertexCount = std::size_t(std::max(Header.NumVertices, 0));
    const std::size_t padding = Frames.empty() ? 0 : FramePadding.size() / Frames.size();
    for (MD2Section s : order) {
        const std::vector<uint8_t>& gap = Layout.GapBefore[std::size_t(s)];
        out.Write(gap.data(), gap.size());
        switch (s) {
        case MD2Section::Skins:
            for (const auto& name : SkinNames) out.Write(name.data(), name.size());
            break;
        case MD2Section::TexCoords:
            for (const MD2TexCoord& tc : TexCoords) {
                out.U16(uint16_t(tc.S));
                out.U16(uint16_t(tc.T));
            }
            break;
        case MD2Section::Triangles:
            for (const MD2Triangle& tri : Triangles) {
                for (uint16_t v : tri.Vertex) out.U16(v);
                for (uint16_t v : tri.TexCoord) out.U16(v);
            }
            break;
        case MD2Section::Frames:
            assert(FrameVerts.size() == Frames.size() * vertexCount);
            for (std::size_t f = 0; f < Frames.size(); ++f) {
                for (float v : Frames[f].Scale) out.F32(v);
                for (float v : Frames[f].Translate) out.F32(v);
                out.Write(Frames[f].Name.data(), Frames[f].Name.size());
                out.Write(FrameVerts.data() + f * vertexCount, vertexCount * kTriVertexSize);
                out.Write(FramePadding.data() + f * padding, padding);
            }
            break;
        case MD2Section::GLCommands:
            for (int32_t word : GLCommands) out.I32(word);
            break;
        }
    }
    out.Write(TrailingBytes.data(), TrailingBytes.size());
}

std::vector<uint8_t> TMD2Model::SaveToBytes() const
{
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    WriteTo(out);
    return bytes;
}

namespace {

// A triangle corner as a GL vertex sees it: position and texture coordinate.
struct GLCorner {
    uint16_t Vertex = 0;
    uint16_t TexCoord = 0;
};

uint64_t edgeKey(GLCorner from, GLCorner to)
{
    return uint64_t(from.Vertex) << 48 | uint64_t(to.Vertex) << 32 | uint64_t(from.TexCoord) << 16 | to.TexCoord;
}

}  // namespace

std::vector<int32_t> BuildGLCommands(const TMD2Model& model)
{
    const std::vector<MD2Triangle>& triangles = model.Triangles;
    const auto corner = [&](uint32_t t, uint32_t j) {
        return GLCorner{triangles[t].Vertex[j % 3], triangles[t].TexCoord[j % 3]};
    };

    // 1. every directed edge (from one corner to the next, as the triangle
    // winds) with the triangle and corner it starts at, sorted for lookup.
    // Two triangles join in a strip or fan only where both corners agree in
    // position and texture coordinate, since a GL vertex carries both.
    struct Edge {
        uint64_t Key;
        uint32_t Triangle;
        uint32_t Corner;
    };
    std::vector<Edge> edges;
    edges.reserve(triangles.size() * 3);
    for (uint32_t t = 0; t < triangles.size(); ++t)
        for (uint32_t j = 0; j < 3; ++j) edges.push_back({edgeKey(corner(t, j), corner(t, j + 1)), t, j});
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.Key != b.Key ? a.Key < b.Key : a.Triangle < b.Triangle; });

    // Used[t]: emitted already. Tried[t] == attempt: taken by the strip or fan being grown.
    std::vector<uint8_t> used(triangles.size(), 0);
    std::vector<uint32_t> tried(triangles.size(), 0);
    uint32_t attempt = 0;
    // The first free triangle that winds from `from` to `to`, and the corner after them.
    const auto next = [&](GLCorner from, GLCorner to, GLCorner& third) -> std::optional<uint32_t> {
        const uint64_t key = edgeKey(from, to);
        auto it = std::lower_bound(edges.begin(), edges.end(), key, [](const Edge& e, uint64_t k) { return e.Key < k; });
        for (; it != edges.end() && it->Key == key; ++it) {
            if (used[it->Triangle] || tried[it->Triangle] == attempt) continue;
            third = corner(it->Triangle, it->Corner + 2);
            return it->Triangle;
        }
        return std::nullopt;
    };

    // 2. from each free triangle in list order, the longest strip or fan over
    // its three rotations. The chosen run is the longest tried, so growing
    // costs at most six times the triangles emitted.
    std::vector<GLCorner> verts, bestVerts;
    std::vector<uint32_t> run, bestRun;
    std::vector<int32_t> words;
    const double width = std::max(model.Header.SkinWidth, 1);
    const double height = std::max(model.Header.SkinHeight, 1);
    for (uint32_t first = 0; first < triangles.size(); ++first) {
        if (used[first]) continue;
        bool bestIsFan = false;
        bestRun.clear();
        for (uint32_t rotation = 0; rotation < 3; ++rotation) {
            for (const bool fan : {false, true}) {
                ++attempt;
                verts = {corner(first, rotation), corner(first, rotation + 1), corner(first, rotation + 2)};
                run = {first};
                tried[first] = attempt;
                for (;;) {
                    // A fan's next triangle is (centre, last, new). In a strip,
                    // triangle i is (v[i], v[i+1], v[i+2]), with the first two
                    // swapped when i is odd.
                    const std::size_t i = verts.size() - 2;
                    const GLCorner a = fan ? verts[0] : verts[i];
                    const GLCorner b = verts[i + 1];
                    GLCorner third;
                    const auto found = (!fan && i % 2 == 1) ? next(b, a, third) : next(a, b, third);
                    if (!found) break;
                    tried[*found] = attempt;
                    run.push_back(*found);
                    verts.push_back(third);
                }
                if (run.size() > bestRun.size()) {
                    std::swap(bestRun, run);
                    std::swap(bestVerts, verts);
                    bestIsFan = fan;
                }
            }
        }
        for (uint32_t t : bestRun) used[t] = 1;
        words.push_back(bestIsFan ? -int32_t(bestVerts.size()) : int32_t(bestVerts.size()));
        for (const GLCorner& c : bestVerts) {
            // Texel centres, in float as the game reads them; a coordinate the
            // model lacks (built in memory) stands at the skin's corner.
            const MD2TexCoord tc = c.TexCoord < model.TexCoords.size() ? model.TexCoords[c.TexCoord] : MD2TexCoord{};
            words.push_back(BitsOfFloat(float((tc.S + 0.5) / width)));
            words.push_back(BitsOfFloat(float((tc.T + 0.5) / height)));
            words.push_back(c.Vertex);
        }
    }
    words.push_back(0);
    return words;
}

AnimatedMesh MeshOf(const TMD2Model& model, const MeshOptions& options)
{
    AnimatedMesh mesh;
    const std::size_t stride = std::size_t(std::max(model.Header.NumVertices, 0));
    const FrameSelection frames = SelectFrames(options, model.Frames.size());
    mesh.VertexCount = uint32_t(stride);
    mesh.FrameCount = frames.Count;
    mesh.VertexMajor = options.VertexMajor;
    mesh.Transforms.reserve(mesh.FrameCount);
    for (uint32_t f = 0; f < mesh.FrameCount; ++f)
        mesh.Transforms.push_back(FiniteTransform(model.Frames[frames[f]].Scale, model.Frames[frames[f]].Translate));
    if (options.Names) NameFrames(mesh.FrameNames, frames, model.Frames);
    const std::size_t entries = stride * mesh.FrameCount;
    mesh.Positions.assign(entries, PackedPosition{});
    if (options.Normals) mesh.Normals.assign(entries, 0);
    // A model put together in memory may hold fewer vertices than its header
    // says; those stand at the origin.
    for (uint32_t f = 0; f < mesh.FrameCount; ++f) {
        const std::size_t first = std::size_t(frames[f]) * stride;
        const std::size_t held = std::min(stride, model.FrameVerts.size() - std::min(first, model.FrameVerts.size()));
        for (std::size_t v = 0; v < held; ++v) {
            const TriVertex& vert = model.FrameVerts[first + v];
            const std::size_t at = mesh.At(uint32_t(v), f);
            mesh.Positions[at] = {vert.X, vert.Y, vert.Z};
            if (options.Normals) mesh.Normals[at] = vert.NormalIndex;
        }
    }
    mesh.Triangles.reserve(model.Triangles.size());
    for (const MD2Triangle& tri : model.Triangles)
        mesh.Triangles.push_back({{tri.Vertex[0], tri.Vertex[1], tri.Vertex[2]}, {tri.TexCoord[0], tri.TexCoord[1], tri.TexCoord[2]}});
    mesh.TexCoords.reserve(model.TexCoords.size());
    for (const MD2TexCoord& tc : model.TexCoords) mesh.TexCoords.push_back({float(tc.S), float(tc.T)});
    // The file names its skins instead of holding them: no pixels to give
    // (SkinNamesOf says where to look).
    mesh.SkinWidth = model.Header.SkinWidth > 0 ? model.Header.SkinWidth : 256;
    mesh.SkinHeight = model.Header.SkinHeight > 0 ? model.Header.SkinHeight : 256;
    mesh.SkinSizeNominal = model.Header.SkinWidth <= 0 || model.Header.SkinHeight <= 0;
    return mesh;
}

std::vector<SkinSlot> SkinNamesOf(const TMD2Model& model)
{
    SkinSlot slot;
    for (const auto& name : model.SkinNames)
        if (name[0] != '\0') slot.Names.emplace_back(name.data(), std::find(name.begin(), name.end(), '\0'));
    if (slot.Names.empty()) return {};
    return {slot};
}

void KeepSurvivors(TMD2Model& model, const MeshSurvivors& survivors)
{
    const std::size_t oldCount = std::size_t(std::max(model.Header.NumVertices, 0));
    const std::size_t newCount = survivors.Vertices.size();
    assert(newCount <= oldCount);
    // Survivor lists ascend with kept[k] >= k and newCount <= oldCount:
    // moving forward in one sweep never overwrites a record still to be moved.
    for (std::size_t f = 0; f < model.Frames.size(); ++f)
        for (std::size_t k = 0; k < newCount; ++k) {
            assert(survivors.Vertices[k] < oldCount);
            model.FrameVerts[f * newCount + k] = model.FrameVerts[f * oldCount + survivors.Vertices[k]];
        }
    model.FrameVerts.resize(model.Frames.size() * newCount);
    for (std::size_t k = 0; k < survivors.TexCoords.size(); ++k) model.TexCoords[k] = model.TexCoords[survivors.TexCoords[k]];
    model.TexCoords.resize(survivors.TexCoords.size());
    model.Triangles.resize(survivors.Triangles.size());
    for (std::size_t i = 0; i < survivors.Triangles.size(); ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            model.Triangles[i].Vertex[j] = uint16_t(survivors.Triangles[i].Vertex[j]);
            model.Triangles[i].TexCoord[j] = uint16_t(survivors.Triangles[i].TexCoord[j]);
        }

    MD2Header& h = model.Header;
    h.NumVertices = int32_t(newCount);
    h.NumTexCoords = int32_t(model.TexCoords.size());
    h.NumTris = int32_t(model.Triangles.size());
    if (!model.Frames.empty()) h.FrameSize = int32_t(frameBytes(model));
    // The old list drew triangles that may be gone; a model that had none
    // (its readers draw from the triangle list) gets none.
    if (!model.GLCommands.empty()) {
        model.GLCommands = BuildGLCommands(model);
        h.NumGLCommands = int32_t(model.GLCommands.size());
    }
}
