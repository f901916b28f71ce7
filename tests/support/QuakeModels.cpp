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

struct Shape {
    std::vector<std::array<uint8_t, 3>> Points;
    std::vector<std::array<uint32_t, 3>> Triangles;
};

const Shape& fixtureShape()
{
    static const Shape shape{{{0, 0, 0}, {10, 0, 0}, {0, 0, 20}, {10, 5, 20}, {5, 10, 10}},
                             {{0, 1, 2}, {1, 3, 2}, {0, 2, 4}, {2, 3, 4}}};
    return shape;
}

// A random shape: vertices on a small grid, triangles picking any three.
Shape randomShape(std::mt19937& random)
{
    Shape shape;
    const auto pick = [&](int low, int high) { return low + int(random() % unsigned(high - low + 1)); };
    const int vertexCount = pick(0, 40);
    for (int v = 0; v < vertexCount; ++v) shape.Points.push_back({uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255))});
    const int triangleCount = vertexCount == 0 ? 0 : pick(0, 2 * vertexCount);
    for (int t = 0; t < triangleCount; ++t)
        shape.Triangles.push_back({uint32_t(pick(0, vertexCount - 1)), uint32_t(pick(0, vertexCount - 1)), uint32_t(pick(0, vertexCount - 1))});
    return shape;
}

}  // namespace

TQuakeModel MakeQuakeModel(uint32_t seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return low + int(random() % unsigned(high - low + 1)); };
    const Shape shape = seed == 0 ? fixtureShape() : randomShape(random);
    TQuakeModel model;
    QuakeHeader& h = model.Header;
    h.Ident = {'I', 'D', 'P', 'O'};
    h.Version = 6;
    h.Scale = {0.5f, 0.5f, 0.25f};
    h.Translate = {-1.0f, -2.0f, -3.0f};
    h.BoundingRadius = 12.5f;
    h.EyePosition = {0.0f, 0.0f, 24.0f};
    h.SkinWidth = seed == 0 ? 8 : 2 * pick(1, 4);
    h.SkinHeight = seed == 0 ? 4 : pick(1, 5);
    h.SyncType = 1;
    h.Flags = 8;
    h.Size = 3.0f;
    const std::size_t pictureSize = std::size_t(h.SkinWidth * h.SkinHeight);
    const int vertexCount = int(shape.Points.size());

    // Skins: seed 0 a single one then a group of two; others any mix.
    const std::vector<int> skinGroups = seed == 0 ? std::vector<int>{-1, 2} : std::vector<int>(std::size_t(pick(0, 3)), 0);
    for (int group : skinGroups) {
        const int count = seed == 0 ? group : (pick(0, 1) ? -1 : pick(0, 3));
        QuakeSkin& skin = model.Skins.emplace_back();
        skin.Type = count < 0 ? 0 : 1;
        skin.FirstPicture = uint32_t(model.SkinPixels.size() / pictureSize);
        skin.PictureCount = uint32_t(count < 0 ? 1 : count);
        skin.FirstInterval = uint32_t(model.SkinIntervals.size());
        for (uint32_t p = 0; p < skin.PictureCount; ++p) {
            if (count >= 0) model.SkinIntervals.push_back(0.1f * float(p + 1));
            for (std::size_t i = 0; i < pictureSize; ++i) model.SkinPixels.push_back(uint8_t(i * 7 + model.Skins.size() * 31 + p));
        }
    }
    for (int v = 0; v < vertexCount; ++v) {
        const bool onSeam = seed == 0 ? (v == 0 || v == 2) : pick(0, 2) == 0;
        model.SkinVerts.push_back({onSeam ? 0x20 : 0, seed == 0 ? v % 4 : pick(0, h.SkinWidth / 2 - 1), seed == 0 ? v % 4 : pick(0, h.SkinHeight - 1)});
    }
    for (std::size_t t = 0; t < shape.Triangles.size(); ++t) {
        const bool front = seed == 0 ? t < 2 : pick(0, 1) == 0;
        const auto& c = shape.Triangles[t];
        model.Triangles.push_back({front ? 1 : 0, {int32_t(c[0]), int32_t(c[1]), int32_t(c[2])}});
    }

    // Frames: seed 0 single, group of two, single; others any mix.
    const std::vector<int> frameGroups = seed == 0 ? std::vector<int>{-1, 2, -1} : std::vector<int>(std::size_t(pick(0, 4)), 0);
    for (int group : frameGroups) {
        const int count = seed == 0 ? group : (pick(0, 1) ? -1 : pick(0, 3));
        QuakeFrameEntry& entry = model.FrameEntries.emplace_back();
        entry.Type = count < 0 ? 0 : 1;
        entry.FirstFrame = uint32_t(model.Frames.size());
        entry.FrameCount = uint32_t(count < 0 ? 1 : count);
        entry.FirstInterval = uint32_t(model.FrameIntervals.size());
        entry.BoundsMin = count < 0 ? TriVertex{} : TriVertex{0, 0, 0, 3};
        entry.BoundsMax = count < 0 ? TriVertex{} : TriVertex{255, 255, 255, 4};
        for (uint32_t i = 0; i < entry.FrameCount; ++i) {
            const auto f = uint8_t(model.Frames.size());
            if (count >= 0) model.FrameIntervals.push_back(0.25f * float(i + 1));
            model.Frames.push_back({TriVertex{0, 0, 0, 1}, TriVertex{255, 255, 255, 2}, frameName("frame" + std::to_string(f))});
            for (int v = 0; v < vertexCount; ++v) {
                const auto& p = shape.Points[std::size_t(v)];
                model.FrameVerts.push_back({uint8_t(p[0] + f), p[1], p[2], uint8_t((v * 13 + f) % 162)});
            }
        }
    }
    h.NumSkins = int32_t(model.Skins.size());
    h.NumVerts = vertexCount;
    h.NumTris = int32_t(model.Triangles.size());
    h.NumFrames = int32_t(model.FrameEntries.size());
    return model;
}

TMD2Model MakeMD2Model(uint32_t seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return low + int(random() % unsigned(high - low + 1)); };
    const Shape shape = seed == 0 ? fixtureShape() : randomShape(random);
    TMD2Model model;
    MD2Header& h = model.Header;
    h.Ident = {'I', 'D', 'P', '2'};
    h.Version = 8;
    h.SkinWidth = seed == 0 ? 8 : pick(1, 64);
    h.SkinHeight = seed == 0 ? 4 : pick(1, 64);
    const int vertexCount = int(shape.Points.size());

    for (int s = 0; s < (seed == 0 ? 2 : pick(0, 2)); ++s) {
        std::array<char, kMD2SkinNameSize> name{};
        const std::string text = "models/skin" + std::to_string(s) + ".pcx";
        std::copy(text.begin(), text.end(), name.begin());
        model.SkinNames.push_back(name);
    }
    // One coordinate per vertex, then seed 0's two back ones or random extras.
    for (int v = 0; v < vertexCount; ++v)
        model.TexCoords.push_back({int16_t(seed == 0 ? v % 4 : pick(0, h.SkinWidth - 1)), int16_t(seed == 0 ? v % 4 : pick(0, h.SkinHeight - 1))});
    const int extra = seed == 0 ? 2 : (vertexCount == 0 ? 0 : pick(0, 5));
    for (int e = 0; e < extra; ++e) model.TexCoords.push_back({int16_t(4 + e), int16_t(e)});
    for (std::size_t t = 0; t < shape.Triangles.size(); ++t) {
        const auto& c = shape.Triangles[t];
        MD2Triangle tri{{uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2])}, {uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2])}};
        for (std::size_t j = 0; j < 3; ++j) {
            if (seed == 0 && t >= 2 && (c[j] == 0 || c[j] == 2)) tri.TexCoord[j] = uint16_t(c[j] == 0 ? 5 : 6);
            if (seed != 0 && extra > 0 && pick(0, 3) == 0) tri.TexCoord[j] = uint16_t(vertexCount + pick(0, extra - 1));
        }
        model.Triangles.push_back(tri);
    }
    const int frameCount = seed == 0 ? 3 : pick(0, 4);
    for (int f = 0; f < frameCount; ++f) {
        model.Frames.push_back({{0.5f * float(f + 1), 0.5f, 0.25f}, {float(f), -2.0f, -3.0f}, frameName("pose" + std::to_string(f))});
        for (int v = 0; v < vertexCount; ++v) {
            const auto& p = shape.Points[std::size_t(v)];
            model.FrameVerts.push_back({p[0], p[1], p[2], uint8_t((v * 7 + f) % 162)});
        }
    }
    const std::size_t padding = seed != 0 && pick(0, 3) == 0 ? std::size_t(pick(1, 8)) : 0;
    model.FramePadding.assign(model.Frames.size() * padding, 0xA5);

    h.FrameSize = int32_t(kMD2FrameHeadSize + kTriVertexSize * std::size_t(vertexCount) + padding);
    h.NumSkins = int32_t(model.SkinNames.size());
    h.NumVertices = vertexCount;
    h.NumTexCoords = int32_t(model.TexCoords.size());
    h.NumTris = int32_t(model.Triangles.size());
    h.NumFrames = frameCount;
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
    std::vector<uint32_t> vertexSlot(mesh.VertexCount, UINT32_MAX);
    std::vector<uint32_t> texSlot(mesh.TexCoords.size(), UINT32_MAX);
    for (uint32_t t : triangles)
        for (std::size_t j = 0; j < 3; ++j) {
            vertexSlot[mesh.Triangles[t].Vertex[j]] = 0;
            texSlot[mesh.Triangles[t].TexCoord[j]] = 0;
        }
    MeshSurvivors survivors;
    for (uint32_t v = 0; v < vertexSlot.size(); ++v)
        if (vertexSlot[v] == 0) {
            vertexSlot[v] = uint32_t(survivors.Vertices.size());
            survivors.Vertices.push_back(v);
        }
    for (uint32_t c = 0; c < texSlot.size(); ++c)
        if (texSlot[c] == 0) {
            texSlot[c] = uint32_t(survivors.TexCoords.size());
            survivors.TexCoords.push_back(c);
        }
    for (uint32_t t : triangles) {
        MeshTriangle kept;
        for (std::size_t j = 0; j < 3; ++j) {
            kept.Vertex[j] = vertexSlot[mesh.Triangles[t].Vertex[j]];
            kept.TexCoord[j] = texSlot[mesh.Triangles[t].TexCoord[j]];
        }
        survivors.Triangles.push_back(kept);
        survivors.TriangleSource.push_back(t);
    }
    return survivors;
}
