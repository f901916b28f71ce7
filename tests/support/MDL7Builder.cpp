#include "tests/support/MDL7Builder.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

void putU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void putI32(std::vector<uint8_t>& out, int32_t value)
{
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(uint32_t(value) >> (8 * b)));
}

void putF32(std::vector<uint8_t>& out, float value)
{
    int32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    putI32(out, bits);
}

void putName(std::vector<uint8_t>& out, const std::string& text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) out.push_back(i < text.size() ? uint8_t(text[i]) : 0);
}

template <std::size_t N>
std::array<char, N> nameOf(const std::string& text)
{
    std::array<char, N> name{};
    std::memcpy(name.data(), text.data(), std::min(text.size(), N - 1));
    return name;
}

// A vertex record: position, the bone (or a frame vertex's main vertex), a normal straight up.
void putVertex(std::vector<uint8_t>& out, bool compact, float x, float y, float z, uint16_t bone)
{
    for (float c : {x, y, z}) putF32(out, c);
    putU16(out, bone);
    if (compact) {
        putU16(out, 5);  // table entry 5 is (0, 0, 1), then a spare byte
    } else {
        for (float c : {0.0f, 0.0f, 1.0f}) putF32(out, c);
    }
}

MDL7Skin skinOf(uint8_t type, int32_t width, int32_t height, std::size_t dataBytes)
{
    MDL7Skin skin{type, {}, width, height, {}, {}, {}, {}};
    putName(skin.HeadRest, "skin" + std::to_string(type), 16);
    for (std::size_t i = 0; i < dataBytes; ++i) skin.Data.push_back(uint8_t(i * 37 + type));
    if (type & 0x10)
        for (int k = 0; k < 17; ++k) putF32(skin.Material, 0.25f * float(k % 5));
    if (type & 0x20) putName(skin.Effect, "glow.fx", 7);
    return skin;
}

std::vector<MDL7Skin> skinsOf(const MDL7Shape& shape)
{
    if (!shape.EverySkin) return {shape.Compact ? skinOf(0x02, 4, 4, 32) : skinOf(0x04, 4, 4, 48)};
    // Every kind: pixels of each depth, with and without smaller levels
    // (64 + 16 + 4 + 1 texels), a reference, a DDS file, a name, and flags.
    return {skinOf(0x00, 4, 4, 16),  skinOf(0x03, 2, 2, 8),     skinOf(0x05, 2, 1, 8),   skinOf(0x08, 8, 8, 85),
            skinOf(0x0A, 8, 8, 170), skinOf(0x0B, 8, 8, 170),   skinOf(0x0C, 8, 8, 255), skinOf(0x0D, 8, 8, 340),
            skinOf(0x01, 0, 0, 0),   skinOf(0x06, 12, 1, 12),   skinOf(0x27, 9, 1, 9),   skinOf(0x10, 0, 0, 0),
            skinOf(0x14, 2, 2, 12),  skinOf(0x3A, 8, 8, 170)};
}

MDL7Group groupOf(const MDL7Shape& shape, int g, const MDL7Header& h)
{
    MDL7Group group;
    group.Name = nameOf<16>("group" + std::to_string(g));
    group.SizeConvention = shape.Compact ? MDL7GroupSize::LessPixels : MDL7GroupSize::Whole;
    group.DeformerCount = int8_t(shape.Deformer && shape.Bones > 0);
    group.MostWeights = int8_t(group.DeformerCount ? std::min(shape.Bones, 2) : 0);
    if (g == 0) group.Skins = skinsOf(shape);
    group.TexCoords.RecordSize = h.Size(MDL7Record::TexCoord);
    group.Triangles.RecordSize = h.Size(MDL7Record::Triangle);
    group.MainVertices.RecordSize = h.Size(MDL7Record::MainVertex);
    const int side = shape.Side;
    const auto boneOf = [&](int i) { return shape.Bones > 0 ? uint16_t(i % shape.Bones) : kMDL7None; };
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            putF32(group.TexCoords.Bytes, float(i) / float(side - 1));
            putF32(group.TexCoords.Bytes, float(j) / float(side - 1));
            putVertex(group.MainVertices.Bytes, shape.Compact, float(10 * i + 100 * g), float(10 * j), 0.0f, boneOf(i));
        }
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            const int v = j * side + i;
            for (const std::array<int, 3>& tri : {std::array<int, 3>{v, v + 1, v + side + 1}, std::array<int, 3>{v, v + side + 1, v + side}}) {
                std::vector<uint8_t>& out = group.Triangles.Bytes;
                for (int k = 0; k < 2; ++k)
                    for (int corner : tri) putU16(out, uint16_t(corner));
                if (shape.Compact) continue;
                putI32(out, 0);
                const bool second = out.size() / 26 % 2 == 1;  // odd triangles name coordinates again
                for (int corner : tri) putU16(out, second ? uint16_t(corner) : kMDL7None);
                putI32(out, -1);
            }
        }
    for (int f = 0; f < shape.Frames; ++f) {
        MDL7Frame& frame = group.Frames.emplace_back();
        frame.Name = nameOf<16>("wave " + std::to_string(f));
        frame.Vertices.RecordSize = h.Size(MDL7Record::FrameVertex);
        frame.BoneMatrices.RecordSize = h.Size(MDL7Record::BoneMatrix);
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i)
                if ((i + f) % 3 != 0)
                    putVertex(frame.Vertices.Bytes, shape.Compact, float(10 * i + 100 * g), float(10 * j),
                              float(4 * std::sin(0.9 * f + i)), uint16_t(j * side + i));
        for (int b = 0; g == 0 && b < shape.Bones; ++b) {  // a turn about z, more for each bone down the chain
            const float angle = 0.1f * float(f * (b + 1));
            const float c = std::cos(angle), s = std::sin(angle);
            for (float m : {c, s, 0.0f, 0.0f, -s, c, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, float(b), 0.0f, float(f), 1.0f})
                putF32(frame.BoneMatrices.Bytes, m);
            putU16(frame.BoneMatrices.Bytes, uint16_t(b));
            putU16(frame.BoneMatrices.Bytes, 0);
        }
    }
    return group;
}

}  // namespace

TMDL7Model MakeMDL7Model(const MDL7Shape& shape)
{
    TMDL7Model model;
    MDL7Header& h = model.Header;
    h.Ident = {'M', 'D', 'L', '7'};
    const uint16_t triangle = shape.Compact ? 12 : 26;
    const uint16_t vertex = shape.Compact ? 16 : 26;
    h.RecordSizes = {36, 28, 16, 68, 8, triangle, vertex, vertex, 68, 24};
    model.Bones.RecordSize = 36;
    for (int b = 0; b < shape.Bones; ++b) {
        putU16(model.Bones.Bytes, b == 0 ? kMDL7None : uint16_t(b - 1));
        putU16(model.Bones.Bytes, 0);
        for (float c : {b == 0 ? 0.0f : 10.0f, 0.0f, 0.0f}) putF32(model.Bones.Bytes, c);
        putName(model.Bones.Bytes, "bone" + std::to_string(b), 20);
    }
    for (int g = 0; g < shape.Groups; ++g) {
        model.Groups.push_back(groupOf(shape, g, h));
        if (!model.Groups.back().DeformerCount) continue;
        // Each vertex three quarters its own bone's, a quarter the next one's.
        MDL7Deformer& d = model.Deformers.emplace_back();
        d.Group = g;
        for (int b = 0; b < shape.Bones; ++b) {
            MDL7Element& element = d.Elements.emplace_back(MDL7Element{b, nameOf<20>("bone" + std::to_string(b)), {}});
            for (int v = 0; v < shape.Side * shape.Side; ++v) {
                const int own = v % shape.Side % shape.Bones;
                if (own == b) element.Weights.push_back({v, shape.Bones > 1 ? 0.75f : 1.0f});
                if (shape.Bones > 1 && (own + 1) % shape.Bones == b) element.Weights.push_back({v, 0.25f});
            }
        }
    }
    for (std::size_t i = 0; i < shape.EditorBytes; ++i) model.EditorLump.push_back(uint8_t(i));
    if (shape.EditorBytes > 0) model.EntityLump = {'e', 'n', 't'};
    model.PlaceSizes();
    return model;
}
