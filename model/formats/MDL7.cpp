#include "model/formats/MDL7.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "model/ByteIO.h"

namespace {

const std::string kFormatHint = "(This only reads files that start with MDL7.)";

// The fewest bytes a record of each kind needs for the fields read from it.
constexpr std::array<std::size_t, kMDL7RecordKinds> kLeastRecordSize = {16, 12, 0, 0, 8, 12, 14, 14, 66, 24};
const std::array<const char*, kMDL7RecordKinds> kRecordNames = {
    "bones",     "skin heads",   "colours",        "materials",      "texture coordinates",
    "triangles", "main vertices", "frame vertices", "bone matrices", "frame heads"};
const std::array<const char*, kMDL7RecordKinds> kRecordName = {
    "bone",     "skin head",   "colour",       "material",    "texture coordinate",
    "triangle", "main vertex", "frame vertex", "bone matrix", "frame head"};
constexpr uint8_t kReadSkinFlags = 0x30;  // a material, an effect name

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

// The bytes still to read, in order. Every Take is checked against Left() by
// the caller first.
class Cursor {
public:
    Cursor(std::span<const uint8_t> bytes, std::size_t start) : bytes(bytes), at(start) {}
    uint64_t Left() const { return bytes.size() - at; }
    std::size_t At() const { return at; }
    std::span<const uint8_t> Take(std::size_t n)
    {
        const std::span<const uint8_t> taken = bytes.subspan(at, n);
        at += n;
        return taken;
    }
    void CopyTo(std::vector<uint8_t>& out, std::size_t n)
    {
        const std::span<const uint8_t> taken = Take(n);
        out.assign(taken.begin(), taken.end());
    }

private:
    std::span<const uint8_t> bytes;
    std::size_t at = 0;
};

// The fault of count records of kind that could not be read: their size is
// too small for their fields, or the file ends before them. Counts are
// untrusted: compared with the bytes left, in 64 bits, before any allocation.
std::optional<std::string> recordsFault(const Cursor& in, MDL7Record kind, std::size_t recordSize, uint64_t count, const std::string& owner)
{
    const auto k = std::size_t(kind);
    const std::string what = kRecordNames[k];
    const std::size_t least = kLeastRecordSize[k];
    if (count == 0) return std::nullopt;
    if (recordSize < least)
        return "ERROR:The header gives " + std::string(kRecordName[k]) + " records of " + std::to_string(recordSize) + " bytes; they take at least " +
               std::to_string(least) + ".";
    if (count > in.Left() / recordSize) return "ERROR:The file ends before the " + std::to_string(count) + " " + what + " of " + owner + ".";
    return std::nullopt;
}

std::optional<std::string> readRecords(Cursor& in, const MDL7Header& h, MDL7Record kind, uint64_t count, const std::string& owner,
                                       MDL7Records& out)
{
    out.RecordSize = h.Size(kind);
    out.Bytes.clear();
    if (auto fault = recordsFault(in, kind, out.RecordSize, count, owner)) return fault;
    in.CopyTo(out.Bytes, std::size_t(count) * out.RecordSize);
    return std::nullopt;
}

// A skin whose head has been checked to fit; title names it in a refusal.
std::optional<std::string> readSkin(Cursor& in, const MDL7Header& h, const std::string& title, MDL7Skin& skin)
{
    ByteReader head(in.Take(h.Size(MDL7Record::SkinHead)));
    uint8_t first[4];
    head.Read(first, sizeof first);
    skin.Type = first[0];
    skin.Unused = {first[1], first[2], first[3]};
    skin.Width = head.I32();
    skin.Height = head.I32();
    skin.HeadRest.resize(std::size_t(head.BytesLeft()));
    head.Read(skin.HeadRest.data(), skin.HeadRest.size());

    // Only the kinds and flags whose bytes are known can be stepped over.
    const std::string typed = "ERROR:" + title + " has type " + hexByte(skin.Type);
    if (const unsigned unknown = skin.Type & 0xF0u & ~unsigned(kReadSkinFlags); unknown != 0)
        return typed + ", with flag " + hexByte(unknown) + ", which this does not read.";
    const unsigned kind = skin.Kind();
    if (kind == 0x9 || kind >= 0xE) return typed + ", of kind " + hexByte(kind) + ", which this does not read.";
    uint64_t dataSize = 0;
    if (const int bytesPerPixel = skin.BytesPerPixel(); bytesPerPixel > 0) {
        if (skin.Width < 0 || skin.Height < 0)
            return "ERROR:" + title + " is " + std::to_string(skin.Width) + " x " + std::to_string(skin.Height) + " pixels.";
        const uint64_t area = uint64_t(skin.Width) * uint64_t(skin.Height);
        // Each pixel takes a byte at least: the area is checked first, so that
        // the product below cannot overflow.
        if (area > in.Left()) return "ERROR:The file ends inside the pixels of " + title + ".";
        const uint64_t levels = (kind & 0x8) ? area / 4 + area / 16 + area / 64 : 0;
        dataSize = (area + levels) * uint64_t(bytesPerPixel);
    } else if (kind == 6 || kind == 7) {  // a DDS file or a file's name, of width bytes
        if (skin.Width < 0) return "ERROR:" + title + " gives a negative length (" + std::to_string(skin.Width) + ").";
        dataSize = uint64_t(skin.Width);
    }
    if (dataSize > in.Left()) return "ERROR:The file ends inside the data of " + title + ".";
    in.CopyTo(skin.Data, std::size_t(dataSize));
    if (skin.Type & 0x10) {
        const std::size_t size = h.Size(MDL7Record::Material);
        if (size > in.Left()) return "ERROR:The file ends inside the material of " + title + ".";
        in.CopyTo(skin.Material, size);
    }
    if (skin.Type & 0x20) {
        if (in.Left() < 4) return "ERROR:The file ends inside the effect of " + title + ".";
        const int32_t length = ByteReader(in.Take(4)).I32();
        if (length < 0 || uint64_t(length) > in.Left())
            return "ERROR:The effect name of " + title + " is " + std::to_string(length) + " bytes, more than the file holds.";
        in.CopyTo(skin.Effect, std::size_t(length));
    }
    return std::nullopt;
}

// A frame whose head has been checked to fit.
std::optional<std::string> readFrame(Cursor& in, const MDL7Header& h, const std::string& name, MDL7Frame& frame)
{
    ByteReader head(in.Take(h.Size(MDL7Record::FrameHead)));
    head.Read(frame.Name.data(), frame.Name.size());
    const auto vertexCount = uint32_t(head.I32());
    const auto matrixCount = uint32_t(head.I32());
    frame.HeadRest.resize(std::size_t(head.BytesLeft()));
    head.Read(frame.HeadRest.data(), frame.HeadRest.size());
    if (auto fault = readRecords(in, h, MDL7Record::FrameVertex, vertexCount, name, frame.Vertices)) return fault;
    return readRecords(in, h, MDL7Record::BoneMatrix, matrixCount, name, frame.BoneMatrices);
}

// Indices are checked here, once: the view and the reduction trust them. A
// texture coordinate index may also name none.
std::optional<std::string> indexFault(const MDL7Group& g, const std::string& name)
{
    const std::size_t vertices = g.MainVertices.Count();
    const std::size_t texCoords = g.TexCoords.Count();
    const bool secondSet = g.Triangles.RecordSize >= mdl7::kTriangleSecondTexAt + 6;
    const auto which = [&name](std::size_t t) { return "ERROR:Triangle #" + std::to_string(t + 1) + " of " + name + " refers to "; };
    for (std::size_t t = 0; t < g.Triangles.Count(); ++t) {
        const uint8_t* tri = g.Triangles[t];
        for (std::size_t j = 0; j < 3; ++j) {
            if (const uint16_t v = mdl7::U16At(tri + 2 * j); v >= vertices)
                return which(t) + "vertex " + std::to_string(v) + ", beyond its " + std::to_string(vertices) + " main vertices.";
            for (std::size_t at : {mdl7::kTriangleTexAt, secondSet ? mdl7::kTriangleSecondTexAt : mdl7::kTriangleTexAt})
                if (const uint16_t s = mdl7::U16At(tri + at + 2 * j); s >= texCoords && s != kMDL7None)
                    return which(t) + "texture coordinate " + std::to_string(s) + ", beyond its " + std::to_string(texCoords) +
                           " texture coordinates.";
        }
    }
    for (std::size_t f = 0; f < g.Frames.size(); ++f)
        for (std::size_t k = 0; k < g.Frames[f].Vertices.Count(); ++k)
            if (const uint16_t v = mdl7::U16At(g.Frames[f].Vertices[k] + mdl7::kVertexBoneAt); v >= vertices)
                return "ERROR:Vertex #" + std::to_string(k + 1) + " of frame #" + std::to_string(f + 1) + " of " + name +
                       " replaces main vertex " + std::to_string(v) + ", beyond its " + std::to_string(vertices) + ".";
    return std::nullopt;
}

std::optional<std::string> readGroup(Cursor& in, const MDL7Header& h, std::size_t number, MDL7Group& g)
{
    const std::string name = "group #" + std::to_string(number);
    if (in.Left() < kMDL7GroupHeadSize) return "ERROR:The file ends inside the head of " + name + ".";
    ByteReader head(in.Take(kMDL7GroupHeadSize));
    uint8_t first[4];
    head.Read(first, sizeof first);
    g.Type = first[0];
    g.DeformerCount = int8_t(first[1]);
    g.MostWeights = int8_t(first[2]);
    g.Unused = first[3];
    g.DataSize = head.I32();
    head.Read(g.Name.data(), g.Name.size());
    int32_t counts[5];
    for (int32_t& count : counts) count = head.I32();
    const auto [skins, texCoords, triangles, vertices, frames] = counts;
    if (g.Type != 1) return "ERROR:Group #" + std::to_string(number) + " has type " + hexByte(g.Type) + "; this reads groups of triangles (type 0x01) alone.";
    const char* countNames[] = {"skins", "texture coordinates", "triangles", "main vertices", "frames"};
    for (std::size_t c = 0; c < 5; ++c)
        if (counts[c] < 0)
            return "ERROR:The head of " + name + " gives a negative number of " + countNames[c] + " (" + std::to_string(counts[c]) + ").";
    if (g.DeformerCount < 0)
        return "ERROR:The head of " + name + " gives a negative number of deformers (" + std::to_string(g.DeformerCount) + ").";

    const std::size_t skinHead = h.Size(MDL7Record::SkinHead);
    if (auto fault = recordsFault(in, MDL7Record::SkinHead, skinHead, uint64_t(skins), name)) return fault;
    g.Skins.resize(std::size_t(skins));
    for (std::size_t s = 0; s < g.Skins.size(); ++s) {
        // Each skin's data comes before the next head: checked again each time.
        if (in.Left() < skinHead) return "ERROR:The file ends inside the head of skin #" + std::to_string(s + 1) + " of " + name + ".";
        if (auto fault = readSkin(in, h, "Skin #" + std::to_string(s + 1) + " of " + name, g.Skins[s])) return fault;
    }
    if (auto fault = readRecords(in, h, MDL7Record::TexCoord, uint64_t(texCoords), name, g.TexCoords)) return fault;
    if (auto fault = readRecords(in, h, MDL7Record::Triangle, uint64_t(triangles), name, g.Triangles)) return fault;
    if (auto fault = readRecords(in, h, MDL7Record::MainVertex, uint64_t(vertices), name, g.MainVertices)) return fault;
    const std::size_t frameHead = h.Size(MDL7Record::FrameHead);
    if (auto fault = recordsFault(in, MDL7Record::FrameHead, frameHead, uint64_t(frames), name)) return fault;
    g.Frames.resize(std::size_t(frames));
    for (std::size_t f = 0; f < g.Frames.size(); ++f) {
        const std::string frameName = "frame #" + std::to_string(f + 1) + " of " + name;
        if (in.Left() < frameHead) return "ERROR:The file ends inside the head of " + frameName + ".";
        if (auto fault = readFrame(in, h, frameName, g.Frames[f])) return fault;
    }
    return indexFault(g, name);
}

std::optional<std::string> readDeformer(Cursor& in, const TMDL7Model& model, std::size_t number, MDL7Deformer& d)
{
    const std::string name = "deformer #" + std::to_string(number);
    const std::string title = "Deformer #" + std::to_string(number);
    if (in.Left() < kMDL7DeformerHeadSize) return "ERROR:The file ends inside the head of " + name + ".";
    ByteReader head(in.Take(kMDL7DeformerHeadSize));
    uint8_t first[4];
    head.Read(first, sizeof first);
    d.Version = int8_t(first[0]);
    d.Type = int8_t(first[1]);
    d.Unused = {first[2], first[3]};
    d.Group = head.I32();
    const int32_t count = head.I32();
    d.DataSize = head.I32();
    if (d.Type != 0) return "ERROR:" + title + " has type " + hexByte(uint8_t(d.Type)) + "; this reads bone deformers (type 0x00) alone.";
    if (d.Group < 0 || std::size_t(d.Group) >= model.Groups.size())
        return "ERROR:" + title + " names group index " + std::to_string(d.Group) + ", beyond the model's " +
               std::to_string(model.Groups.size()) + " groups.";
    if (count < 0) return "ERROR:" + title + " gives a negative number of bones (" + std::to_string(count) + ").";
    if (uint64_t(count) > in.Left() / kMDL7ElementHeadSize)
        return "ERROR:The file ends before the " + std::to_string(count) + " bones of " + name + ".";
    const std::size_t vertices = model.Groups[std::size_t(d.Group)].MainVertices.Count();
    const std::size_t bones = model.Bones.Count();
    uint64_t walked = kMDL7DeformerHeadSize;
    d.Elements.resize(std::size_t(count));
    for (std::size_t e = 0; e < d.Elements.size(); ++e) {
        MDL7Element& element = d.Elements[e];
        const std::string which = "bone #" + std::to_string(e + 1) + " of " + name;
        if (in.Left() < kMDL7ElementHeadSize) return "ERROR:The file ends inside " + which + ".";
        ByteReader elementHead(in.Take(kMDL7ElementHeadSize));
        element.Bone = elementHead.I32();
        elementHead.Read(element.Name.data(), element.Name.size());
        const int32_t weights = elementHead.I32();
        if (element.Bone < 0 || std::size_t(element.Bone) >= bones)
            return "ERROR:The " + which + " is bone index " + std::to_string(element.Bone) + ", beyond the model's " +
                   std::to_string(bones) + " bones.";
        if (weights < 0 || uint64_t(weights) > in.Left() / kMDL7WeightSize)
            return "ERROR:The " + std::to_string(weights) + " weights of " + which + " do not fit in the file.";
        ByteReader pairs(in.Take(std::size_t(weights) * kMDL7WeightSize));
        element.Weights.resize(std::size_t(weights));
        for (MDL7Weight& weight : element.Weights) {
            weight.Vertex = pairs.I32();
            weight.Weight = pairs.F32();
            if (weight.Vertex < 0 || std::size_t(weight.Vertex) >= vertices)
                return "ERROR:A weight of " + which + " names vertex " + std::to_string(weight.Vertex) + ", beyond the " +
                       std::to_string(vertices) + " main vertices of its group.";
        }
        walked += kMDL7ElementHeadSize + uint64_t(weights) * kMDL7WeightSize;
    }
    if (uint64_t(uint32_t(d.DataSize)) != walked)
        return "ERROR:" + title + " gives its size as " + std::to_string(d.DataSize) + " bytes, but its bones take " +
               std::to_string(walked) + ".";
    return std::nullopt;
}

void writeGroup(ByteWriter& out, const MDL7Group& g)
{
    const uint8_t first[4] = {g.Type, uint8_t(g.DeformerCount), uint8_t(g.MostWeights), g.Unused};
    out.Write(first, sizeof first);
    out.I32(g.DataSize);
    out.Write(g.Name.data(), g.Name.size());
    for (std::size_t count : {g.Skins.size(), g.TexCoords.Count(), g.Triangles.Count(), g.MainVertices.Count(), g.Frames.size()})
        out.I32(int32_t(count));
    for (const MDL7Skin& skin : g.Skins) {
        const uint8_t type[4] = {skin.Type, skin.Unused[0], skin.Unused[1], skin.Unused[2]};
        out.Write(type, sizeof type);
        out.I32(skin.Width);
        out.I32(skin.Height);
        for (const std::vector<uint8_t>* part : {&skin.HeadRest, &skin.Data, &skin.Material}) out.Write(part->data(), part->size());
        if (skin.Type & 0x20) {
            out.I32(int32_t(skin.Effect.size()));
            out.Write(skin.Effect.data(), skin.Effect.size());
        }
    }
    for (const MDL7Records* list : {&g.TexCoords, &g.Triangles, &g.MainVertices}) out.Write(list->Bytes.data(), list->Bytes.size());
    for (const MDL7Frame& frame : g.Frames) {
        out.Write(frame.Name.data(), frame.Name.size());
        out.I32(int32_t(frame.Vertices.Count()));
        out.I32(int32_t(frame.BoneMatrices.Count()));
        out.Write(frame.HeadRest.data(), frame.HeadRest.size());
        out.Write(frame.Vertices.Bytes.data(), frame.Vertices.Bytes.size());
        out.Write(frame.BoneMatrices.Bytes.data(), frame.BoneMatrices.Bytes.size());
    }
}

uint64_t deformerSize(const MDL7Deformer& d)
{
    uint64_t size = kMDL7DeformerHeadSize;
    for (const MDL7Element& element : d.Elements) size += kMDL7ElementHeadSize + element.Weights.size() * kMDL7WeightSize;
    return size;
}

}  // namespace

// ---- records ----

void MDL7Records::KeepOnly(const std::vector<uint32_t>& keep)
{
    // keep ascends with keep[k] >= k: copying forward never overwrites a
    // record still to be moved.
    for (std::size_t k = 0; k < keep.size(); ++k)
        if (keep[k] != k) std::copy_n((*this)[keep[k]], RecordSize, (*this)[k]);
    Bytes.resize(keep.size() * RecordSize);
}

int MDL7Skin::BytesPerPixel() const
{
    // Kinds 1, 6 and 7 hold no pixels, with the levels' flag or without.
    return SkinBytesPerPixel(Kind() & 0x7);
}

// ---- TMDL7Model ----

void TMDL7Model::Log(const std::string& Text) const
{
    if (LogLines) LogLines(Text);
}

std::string TMDL7Model::ModelInfoLine() const
{
    int64_t vertices = 0;
    int64_t faces = 0;
    std::size_t frames = 0;
    for (const MDL7Group& g : Groups) {
        vertices += int64_t(g.MainVertices.Count());
        faces += int64_t(g.Triangles.Count());
        frames = std::max(frames, g.Frames.size());
    }
    return "MODEL INFO: " + std::to_string(vertices) + "Vertices, " + std::to_string(faces) + "Faces, " + std::to_string(Groups.size()) +
           "Groups, " + std::to_string(frames) + "Frames, " + std::to_string(Bones.Count()) + "Bones.";
}

bool TMDL7Model::LoadFromBytes(std::span<const uint8_t> Bytes)
{
    return Load(Bytes);
}

std::vector<uint8_t> TMDL7Model::SaveToBytes() const
{
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    WriteTo(out);
    return bytes;
}

bool TMDL7Model::Load(std::span<const uint8_t> bytes)
{
    // Read into a model of its own, which replaces this one only when accepted.
    TMDL7Model read;
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
    uint8_t head[kMDL7HeaderSize] = {};
    const bool headerComplete = bytes.size() >= kMDL7HeaderSize;
    if (!bytes.empty()) std::memcpy(head, bytes.data(), std::min(bytes.size(), kMDL7HeaderSize));
    ByteReader fields(std::span<const uint8_t>(head, kMDL7HeaderSize));
    MDL7Header& h = read.Header;
    fields.Read(h.Ident.data(), h.Ident.size());
    h.Version = fields.I32();
    h.NumBones = uint32_t(fields.I32());
    h.NumGroups = uint32_t(fields.I32());
    h.DataSize = uint32_t(fields.I32());
    h.EntityLumpSize = fields.I32();
    h.EditorLumpSize = fields.I32();
    for (uint16_t& size : h.RecordSizes) size = fields.U16();
    if (h.Ident != std::array<char, 4>{'M', 'D', 'L', '7'}) return refuse("ERROR:Unsupported MDL7 format." + kFormatHint);
    if (!headerComplete) return refuse("ERROR:The file ends inside its 48-byte header.");
    for (auto [size, what] : {std::pair{h.EntityLumpSize, "entity"}, std::pair{h.EditorLumpSize, "editor"}})
        if (size < 0) return refuse("ERROR:The header gives a negative " + std::string(what) + " lump size (" + std::to_string(size) + ").");
    const uint64_t lumps = uint64_t(h.EntityLumpSize) + uint64_t(h.EditorLumpSize);
    if (h.DataSize < kMDL7HeaderSize || h.DataSize + lumps > bytes.size())
        return refuse("ERROR:The header gives " + std::to_string(h.DataSize) + " bytes of data and " + std::to_string(lumps) +
                      " of lumps, but the file has " + std::to_string(bytes.size()) + " bytes.");

    // 2. bones, groups and deformers, all within the data size
    Cursor in(bytes.first(h.DataSize), kMDL7HeaderSize);
    if (auto fault = readRecords(in, h, MDL7Record::Bone, h.NumBones, "the model", read.Bones)) return refuse(*fault);
    if (h.NumGroups > in.Left() / kMDL7GroupHeadSize)
        return refuse("ERROR:The file ends before the " + std::to_string(h.NumGroups) + " groups of the model.");
    read.Groups.resize(h.NumGroups);
    uint64_t deformers = 0;
    for (std::size_t g = 0; g < read.Groups.size(); ++g) {
        const std::size_t start = in.At();
        if (auto fault = readGroup(in, h, g + 1, read.Groups[g])) {
            read.Groups.resize(g + 1);  // the summary counts what was read
            return refuse(*fault);
        }
        MDL7Group& group = read.Groups[g];
        const auto span = int64_t(in.At() - start);
        const int64_t pixels = int64_t(read.GroupPixelBytes(g));
        group.SizeConvention = group.DataSize == span            ? MDL7GroupSize::Whole
                               : group.DataSize == span - pixels ? MDL7GroupSize::LessPixels
                                                                 : MDL7GroupSize::AsRead;
        group.SizeOffset = group.SizeConvention == MDL7GroupSize::AsRead ? group.DataSize - span : 0;
        deformers += uint64_t(group.DeformerCount);
    }
    if (deformers > in.Left() / kMDL7DeformerHeadSize)
        return refuse("ERROR:The file ends before the " + std::to_string(deformers) + " deformers of the model.");
    read.Deformers.resize(std::size_t(deformers));
    for (std::size_t d = 0; d < read.Deformers.size(); ++d)
        if (auto fault = readDeformer(in, read, d + 1, read.Deformers[d])) return refuse(*fault);
    if (in.Left() != 0)
        return refuse("ERROR:The records end at byte " + std::to_string(in.At()) + ", but the header gives a data size of " +
                      std::to_string(h.DataSize) + ".");

    // 3. the lumps, and whatever follows them, as they are
    Cursor rest(bytes, h.DataSize);
    rest.CopyTo(read.EntityLump, std::size_t(h.EntityLumpSize));
    rest.CopyTo(read.EditorLump, std::size_t(h.EditorLumpSize));
    rest.CopyTo(read.TrailingBytes, std::size_t(rest.Left()));
    return finish(true);
}

void TMDL7Model::WriteTo(ByteWriter& out) const
{
    // The header goes out as held; the writer trusts the lists to match it.
    out.Write(Header.Ident.data(), Header.Ident.size());
    out.I32(Header.Version);
    out.I32(int32_t(Header.NumBones));
    out.I32(int32_t(Header.NumGroups));
    out.I32(int32_t(Header.DataSize));
    out.I32(Header.EntityLumpSize);
    out.I32(Header.EditorLumpSize);
    for (uint16_t size : Header.RecordSizes) out.U16(size);
    out.Write(Bones.Bytes.data(), Bones.Bytes.size());
    for (const MDL7Group& g : Groups) writeGroup(out, g);
    for (const MDL7Deformer& d : Deformers) {
        const uint8_t first[4] = {uint8_t(d.Version), uint8_t(d.Type), d.Unused[0], d.Unused[1]};
        out.Write(first, sizeof first);
        out.I32(d.Group);
        out.I32(int32_t(d.Elements.size()));
        out.I32(d.DataSize);
        for (const MDL7Element& element : d.Elements) {
            out.I32(element.Bone);
            out.Write(element.Name.data(), element.Name.size());
            out.I32(int32_t(element.Weights.size()));
            for (const MDL7Weight& weight : element.Weights) {
                out.I32(weight.Vertex);
                out.F32(weight.Weight);
            }
        }
    }
    for (const std::vector<uint8_t>* tail : {&EntityLump, &EditorLump, &TrailingBytes}) out.Write(tail->data(), tail->size());
}

uint64_t TMDL7Model::GroupSpan(std::size_t g) const
{
    const MDL7Group& group = Groups[g];
    uint64_t span = kMDL7GroupHeadSize + group.TexCoords.Bytes.size() + group.Triangles.Bytes.size() + group.MainVertices.Bytes.size();
    for (const MDL7Skin& skin : group.Skins)
        span += 12 + skin.HeadRest.size() + skin.Data.size() + skin.Material.size() + ((skin.Type & 0x20) ? 4 + skin.Effect.size() : 0);
    for (const MDL7Frame& frame : group.Frames)
        span += 24 + frame.HeadRest.size() + frame.Vertices.Bytes.size() + frame.BoneMatrices.Bytes.size();
    return span;
}

uint64_t TMDL7Model::GroupPixelBytes(std::size_t g) const
{
    uint64_t pixels = 0;
    for (const MDL7Skin& skin : Groups[g].Skins)
        if (skin.BytesPerPixel() > 0) pixels += skin.Data.size();
    return pixels;
}

uint32_t TMDL7Model::PoseCount() const
{
    std::size_t frames = 1;
    for (const MDL7Group& g : Groups) frames = std::max(frames, g.Frames.size());
    return uint32_t(frames);
}

void TMDL7Model::PlaceSizes()
{
    uint64_t data = kMDL7HeaderSize + Bones.Bytes.size();
    for (std::size_t g = 0; g < Groups.size(); ++g) {
        MDL7Group& group = Groups[g];
        const uint64_t span = GroupSpan(g);
        switch (group.SizeConvention) {
        case MDL7GroupSize::Whole: group.DataSize = int32_t(span); break;
        case MDL7GroupSize::LessPixels: group.DataSize = int32_t(span - GroupPixelBytes(g)); break;
        case MDL7GroupSize::AsRead: group.DataSize = int32_t(int64_t(span) + group.SizeOffset); break;
        }
        data += span;
    }
    for (MDL7Deformer& d : Deformers) {
        d.DataSize = int32_t(deformerSize(d));
        data += uint64_t(d.DataSize);
    }
    Header.NumBones = uint32_t(Bones.Count());
    Header.NumGroups = uint32_t(Groups.size());
    Header.DataSize = uint32_t(data);
    Header.EntityLumpSize = int32_t(EntityLump.size());
    Header.EditorLumpSize = int32_t(EditorLump.size());
}

MDL7Bases BasesOf(const TMDL7Model& model)
{
    MDL7Bases bases;
    bases.Vertices.assign(1, 0);
    bases.TexCoords.assign(1, 0);
    bases.Triangles.assign(1, 0);
    for (const MDL7Group& g : model.Groups) {
        bases.Vertices.push_back(bases.Vertices.back() + uint32_t(g.MainVertices.Count()));
        bases.TexCoords.push_back(bases.TexCoords.back() + uint32_t(g.TexCoords.Count()));
        bases.Triangles.push_back(bases.Triangles.back() + uint32_t(g.Triangles.Count()));
    }
    return bases;
}
