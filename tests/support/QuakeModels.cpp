#include "tests/support/QuakeModels.h"

#include <algorithm>
#include <random>
#include <string>

namespace {

std::array<char, 16> frameName(const std::string& text)
{
    std::array<char, 16> name{};
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), 15), name.begin());
    return name;
}

// Positions and triangles shared by both builders; seed 0 is the fixture.
struct Shape {
    std::vector<std::array<uint8_t, 3>> Points{{0, 0, 0}, {10, 0, 0}, {0, 0, 20}, {10, 5, 20}, {5, 10, 10}};
    std::vector<std::array<uint32_t, 3>> Triangles{{0, 1, 2}, {1, 3, 2}, {0, 2, 4}, {2, 3, 4}};
};

struct Random {
    std::mt19937 Engine;
    int operator()(int low, int high) { return low + int(Engine() % unsigned(high - low + 1)); }
};

Shape shapeFor(uint32_t seed, Random& pick)
{
    Shape shape;
    if (seed == 0) return shape;
    shape.Points.resize(std::size_t(pick(0, 40)));
    for (auto& p : shape.Points) p = {uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255))};
    const int last = int(shape.Points.size()) - 1;
    shape.Triangles.resize(last < 0 ? 0 : std::size_t(pick(0, 2 * last + 2)));
    for (auto& t : shape.Triangles) t = {uint32_t(pick(0, last)), uint32_t(pick(0, last)), uint32_t(pick(0, last))};
    return shape;
}

// Entry sizes for skins or frames: -1 a single one, n >= 0 a group of n.
std::vector<int> entriesFor(uint32_t seed, Random& pick, std::vector<int> fixture)
{
    if (seed == 0) return fixture;
    std::vector<int> entries(std::size_t(pick(0, 3)));
    for (int& e : entries) e = pick(-1, 3);
    return entries;
}

}  // namespace

TQuakeModel MakeQuakeModel(uint32_t seed)
{
    Random pick{std::mt19937(seed)};
    const Shape shape = shapeFor(seed, pick);
    TQuakeModel model;
    QuakeHeader& h = model.Header;
    h = {{'I', 'D', 'P', 'O'}, 6, {0.5f, 0.5f, 0.25f}, {-1.0f, -2.0f, -3.0f}, 12.5f, {0, 0, 24}, 0, 8, 4, 0, 0, 0, 1, 8, 3.0f};
    if (seed != 0) {
        h.SkinWidth = 2 * pick(1, 4);
        h.SkinHeight = pick(1, 5);
    }
    const std::size_t pictureSize = std::size_t(h.SkinWidth * h.SkinHeight);
    for (int group : entriesFor(seed, pick, {-1, 2})) {
        const auto pictures = uint32_t(group < 0 ? 1 : group);
        model.Skins.push_back({group < 0 ? 0 : 1, uint32_t(model.SkinPixels.size() / pictureSize), pictures,
                               uint32_t(model.SkinIntervals.size())});
        for (uint32_t p = 0; p < model.Skins.back().PictureCount; ++p) {
            if (group >= 0) model.SkinIntervals.push_back(0.1f * float(p + 1));
            for (std::size_t i = 0; i < pictureSize; ++i) model.SkinPixels.push_back(uint8_t(i * 7 + model.Skins.size() * 31 + p));
        }
    }
    for (int v = 0; v < int(shape.Points.size()); ++v) {
        const bool onSeam = seed == 0 ? (v == 0 || v == 2) : pick(0, 2) == 0;
        model.SkinVerts.push_back({onSeam ? 0x20 : 0, seed == 0 ? v % 4 : pick(0, h.SkinWidth / 2 - 1), seed == 0 ? v % 4 : pick(0, h.SkinHeight - 1)});
    }
    for (std::size_t t = 0; t < shape.Triangles.size(); ++t) {
        const auto& c = shape.Triangles[t];
        model.Triangles.push_back({(seed == 0 ? t < 2 : pick(0, 1) == 0) ? 1 : 0, {int32_t(c[0]), int32_t(c[1]), int32_t(c[2])}});
    }
    // A random model ends with a single frame, so that an MD2 made from it holds its vertices.
    std::vector<int> frameEntries = entriesFor(seed, pick, {-1, 2, -1});
    if (seed != 0) frameEntries.push_back(-1);
    for (int group : frameEntries) {
        const auto frames = uint32_t(group < 0 ? 1 : group);
        model.FrameEntries.push_back({group < 0 ? 0 : 1, {0, 0, 0, 3}, {255, 255, 255, 4}, uint32_t(model.Frames.size()), frames,
                                      uint32_t(model.FrameIntervals.size())});
        for (uint32_t i = 0; i < frames; ++i) {
            const auto f = uint8_t(model.Frames.size());
            if (group >= 0) model.FrameIntervals.push_back(0.25f * float(i + 1));
            model.Frames.push_back({{0, 0, 0, 1}, {255, 255, 255, 2}, frameName("frame" + std::to_string(f))});
            for (std::size_t v = 0; v < shape.Points.size(); ++v) {
                const auto& p = shape.Points[v];
                model.FrameVerts.push_back({uint8_t(p[0] + f), p[1], p[2], uint8_t((v * 13 + f) % 162)});
            }
        }
    }
    h.NumSkins = int32_t(model.Skins.size());
    h.NumVerts = int32_t(shape.Points.size());
    h.NumTris = int32_t(model.Triangles.size());
    h.NumFrames = int32_t(model.FrameEntries.size());
    return model;
}

TMD2Model MakeMD2Model(uint32_t seed)
{
    // The Quake model of the same seed, its seam turned into texture
    // coordinates of their own, as a converter would write it.
    const TQuakeModel quake = MakeQuakeModel(seed);
    const AnimatedMesh mesh = MeshOf(quake);
    TMD2Model model;
    MD2Header& h = model.Header;
    h.Ident = {'I', 'D', 'P', '2'};
    h.Version = 8;
    h.SkinWidth = quake.Header.SkinWidth;
    h.SkinHeight = quake.Header.SkinHeight;
    model.SkinNames.resize(seed == 0 ? 2 : seed % 3);
    for (std::size_t s = 0; s < model.SkinNames.size(); ++s) {
        const std::string text = "models/skin" + std::to_string(s) + ".pcx";
        std::copy(text.begin(), text.end(), model.SkinNames[s].begin());
    }
    for (const auto& tc : mesh.TexCoords) model.TexCoords.push_back({int16_t(tc[0]), int16_t(tc[1])});
    for (const MeshTriangle& tri : mesh.Triangles)
        model.Triangles.push_back({{uint16_t(tri.Vertex[0]), uint16_t(tri.Vertex[1]), uint16_t(tri.Vertex[2])},
                                   {uint16_t(tri.TexCoord[0]), uint16_t(tri.TexCoord[1]), uint16_t(tri.TexCoord[2])}});
    for (uint32_t f = 0; f < mesh.FrameCount; ++f)
        model.Frames.push_back({{0.5f * float(f + 1), 0.5f, 0.25f}, {float(f), -2.0f, -3.0f}, frameName(mesh.FrameNames[f])});
    model.FrameVerts = quake.FrameVerts;
    const std::size_t padding = seed % 4 == 3 ? seed % 8 + 1 : 0;
    model.FramePadding.assign(model.Frames.size() * padding, 0xA5);
    h.FrameSize = int32_t(kMD2FrameHeadSize + kTriVertexSize * mesh.VertexCount + padding);
    h.NumSkins = int32_t(model.SkinNames.size());
    h.NumVertices = int32_t(mesh.VertexCount);
    h.NumTexCoords = int32_t(model.TexCoords.size());
    h.NumTris = int32_t(model.Triangles.size());
    h.NumFrames = int32_t(model.Frames.size());
    model.GLCommands = BuildGLCommands(model);
    h.NumGLCommands = int32_t(model.GLCommands.size());
    return model;
}

void SetOddLayout(TMD2Model& model)
{
    std::reverse(model.Layout.Order.begin(), model.Layout.Order.end());
    // Without skins the skin section leaves the order; its offset then hangs on the header.
    model.Layout.Order.pop_back();
    for (std::size_t s = 0; s < kMD2SectionCount; ++s) model.Layout.GapBefore[s].assign(s + 1, uint8_t(0xE0 + s));
    model.TrailingBytes = {1, 2, 3};
    model.FramePadding.assign(model.Frames.size() * 4, 0x5A);
    model.Header.FrameSize = int32_t(kMD2FrameHeadSize + kTriVertexSize * std::size_t(model.Header.NumVertices) + 4);
    model.SkinNames.clear();
    model.Header.NumSkins = 0;
    model.Layout.EmptyAt[std::size_t(MD2Section::Skins)] = {-1, false, 0};
    model.Layout.EmptyAt[kMD2SectionCount] = {int8_t(model.Layout.Order.back()), true, 7};
}

MeshSurvivors KeepTriangles(const AnimatedMesh& mesh, const std::vector<uint32_t>& triangles)
{
    // slot[i]: 0 while unused, then 1 + the survivor's number.
    std::vector<uint32_t> vertexSlot(mesh.VertexCount, 0), texSlot(mesh.TexCoords.size(), 0);
    for (uint32_t t : triangles)
        for (std::size_t j = 0; j < 3; ++j) vertexSlot[mesh.Triangles[t].Vertex[j]] = texSlot[mesh.Triangles[t].TexCoord[j]] = 1;
    MeshSurvivors survivors;
    const auto number = [](std::vector<uint32_t>& slot, std::vector<uint32_t>& kept) {
        for (uint32_t i = 0; i < slot.size(); ++i)
            if (slot[i]) {
                kept.push_back(i);
                slot[i] = uint32_t(kept.size());
            }
    };
    number(vertexSlot, survivors.Vertices);
    number(texSlot, survivors.TexCoords);
    for (uint32_t t : triangles) {
        MeshTriangle& kept = survivors.Triangles.emplace_back();
        for (std::size_t j = 0; j < 3; ++j) {
            kept.Vertex[j] = vertexSlot[mesh.Triangles[t].Vertex[j]] - 1;
            kept.TexCoord[j] = texSlot[mesh.Triangles[t].TexCoord[j]] - 1;
        }
        survivors.TriangleSource.push_back(t);
    }
    return survivors;
}
