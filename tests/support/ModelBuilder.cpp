#include "tests/support/ModelBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "model/NormalTable.h"

MDLTriangle Tri(uint32_t a, uint32_t b, uint32_t c)
{
    return Tri(a, b, c, a, b, c);
}

MDLTriangle Tri(uint32_t a, uint32_t b, uint32_t c, uint32_t sa, uint32_t sb, uint32_t sc)
{
    MDLTriangle tri;
    tri.VertIndex = {a, b, c};
    tri.SkinIndex = {sa, sb, sc};
    return tri;
}

FrameVert Vert(uint16_t x, uint16_t y, uint16_t z, uint8_t normalIndex)
{
    FrameVert vert;
    vert.X = x;
    vert.Y = y;
    vert.Z = z;
    vert.NormalIndex = normalIndex;
    vert.Spare = uint8_t(x ^ y);
    return vert;
}

TMDLSkin5 MakeSkin(int32_t type, int32_t width, int32_t height)
{
    TMDLSkin5 skin;
    skin.SkinType = type;
    skin.Width = width;
    skin.Height = height;
    skin.PixelSize = SkinBytesPerPixel(type) * width * height;
    skin.Pixels.resize(std::size_t(skin.PixelSize));
    for (std::size_t i = 0; i < skin.Pixels.size(); ++i) skin.Pixels[i] = uint8_t(i * 7 + 3);
    return skin;
}

TMDLModel MakeModel(std::vector<std::vector<FrameVert>> frames, std::vector<MDLTriangle> triangles,
                    std::vector<SkinVert> skinVerts, std::vector<TMDLSkin5> skins)
{
    TMDLModel model;
    model.Header.Ident = {'M', 'D', 'L', '5'};
    for (std::size_t i = 0; i < model.Header.Carried1.size(); ++i) model.Header.Carried1[i] = uint8_t(i + 1);
    model.Header.Carried3 = {1, 0, 0, 0, 0xAB, 0xCD, 0, 0};
    model.Header.NumSkins = int32_t(skins.size());
    model.Header.NumVerts = frames.empty() ? 0 : int32_t(frames[0].size());
    model.Header.NumTris = int32_t(triangles.size());
    model.Header.NumFrames = int32_t(frames.size());
    model.Header.NumSkinVerts = int32_t(skinVerts.size());
    model.Skins.assign(std::make_move_iterator(skins.begin()), std::make_move_iterator(skins.end()));
    model.SkinVerts.Count = int32_t(skinVerts.size());
    model.SkinVerts.Items = std::move(skinVerts);
    model.Triangles.Count = int32_t(triangles.size());
    model.Triangles.Items = std::move(triangles);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        TMDLFrame& frame = model.Frames.emplace_back();
        frame.FrameType = {0, 0, 0, 0};
        frame.BBoxMin = Vert(0, 0, 0, 0);
        frame.BBoxMax = Vert(65535, 65535, 65535, 0);
        const std::string name = "frame" + std::to_string(f);
        std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 15), frame.Name.begin());
        frame.Count = int32_t(frames[f].size());
        frame.Items = std::move(frames[f]);
    }
    return model;
}

void SetPositionTransform(TMDLModel& model, std::array<float, 3> scale, std::array<float, 3> offset)
{
    // Carried1 starts at file offset 4; little-endian floats, as in the file.
    const auto put = [&model](std::size_t fileOffset, float value) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (std::size_t b = 0; b < 4; ++b) model.Header.Carried1[fileOffset - 4 + b] = uint8_t(bits >> (8 * b));
    };
    for (std::size_t axis = 0; axis < 3; ++axis) {
        put(8 + 4 * axis, scale[axis]);
        put(20 + 4 * axis, offset[axis]);
    }
}

namespace {

// The table entry closest to a direction, found by plain search.
uint8_t nearestNormal(double x, double y, double z)
{
    int best = 0;
    double bestDot = -2.0;
    for (int i = 0; i < kNormalCount; ++i) {
        const auto& n = NormalTable[std::size_t(i)];
        const double dot = n[0] * x + n[1] * y + n[2] * z;
        if (dot > bestDot) {
            bestDot = dot;
            best = i;
        }
    }
    return uint8_t(best);
}

}  // namespace

TMDLModel MakeTorus(int width, int height, int frameCount)
{
    const auto index = [width, height](int x, int y) {
        return uint32_t(((y + height) % height) * width + (x + width) % width);
    };
    const double twoPi = 2.0 * std::numbers::pi;
    // The normal of a point depends only on where it lies on the tube.
    std::vector<uint8_t> normals;
    normals.reserve(std::size_t(width * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double a = twoPi * x / width;
            const double b = twoPi * y / height;
            normals.push_back(nearestNormal(std::cos(b) * std::cos(a), std::cos(b) * std::sin(a), std::sin(b)));
        }
    }
    auto frames = std::vector<std::vector<FrameVert>>(std::size_t(frameCount));
    const auto pack = [](double c) { return uint16_t(std::lround((c + 1.4) / 2.8 * 65535.0)); };
    for (int f = 0; f < frameCount; ++f) {
        std::vector<FrameVert>& pose = frames[std::size_t(f)];
        pose.reserve(std::size_t(width * height));
        const double wave = 0.05 * std::sin(twoPi * f / std::max(frameCount, 1));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double a = twoPi * x / width;
                const double b = twoPi * y / height;
                const double tube = 0.3 + wave * std::cos(3 * a);
                const double ring = 1.0 + tube * std::cos(b);
                pose.push_back(Vert(pack(ring * std::cos(a)), pack(ring * std::sin(a)), pack(tube * std::sin(b)),
                                    normals[std::size_t(y * width + x)]));
            }
        }
    }
    std::vector<SkinVert> skinVerts;
    skinVerts.reserve(std::size_t(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) skinVerts.push_back(SkinVert{uint16_t(1 + (x % 32) * 3), uint16_t(1 + (y % 32) * 3), 0});
    std::vector<MDLTriangle> triangles;
    triangles.reserve(std::size_t(2 * width * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            triangles.push_back(Tri(index(x, y), index(x + 1, y), index(x + 1, y + 1)));
            triangles.push_back(Tri(index(x, y), index(x + 1, y + 1), index(x, y + 1)));
        }
    }
    return MakeModel(std::move(frames), std::move(triangles), std::move(skinVerts), {MakeSkin(2, 8, 4)});
}

TMDLModel MakeRandomModel(uint32_t seed)
{
    std::mt19937 random(seed);
    const auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const auto chance = [&](int percent) { return pick(1, 100) <= percent; };

    // 1. a grid, wrapped into a closed surface in none, one or both directions
    const int width = pick(2, 7);
    const int height = pick(2, 7);
    const bool wrapX = chance(50);
    const bool wrapY = chance(50);
    const int vertexCount = width * height;
    const int spacing = chance(30) ? 100 : pick(20, 300);
    const bool exactLattice = chance(40);  // equal distances between candidates
    // A few normals: the same, opposite, slightly different, or anything.
    const std::vector<uint8_t> normalChoices = {5, 84, 0, 11, 5, 76, 156, uint8_t(pick(0, 161))};
    const int normalSpread = pick(0, int(normalChoices.size()) - 1);

    const int frameCount = chance(10) ? 0 : pick(1, 3);
    auto frames = std::vector<std::vector<FrameVert>>(std::size_t(frameCount));
    for (int f = 0; f < frameCount; ++f) {
        for (int v = 0; v < vertexCount; ++v) {
            const int jitter = exactLattice && f == 0 ? 0 : pick(0, spacing / 3);
            frames[std::size_t(f)].push_back(Vert(uint16_t(1000 + (v % width) * spacing + jitter),
                                                  uint16_t(1000 + (v / width) * spacing + pick(0, 2) * (f + (exactLattice ? 0 : 1))),
                                                  uint16_t(500 + pick(0, 5) * (exactLattice ? 0 : 1)),
                                                  normalChoices[std::size_t(pick(0, normalSpread))]));
        }
    }

    // 2. skin vertices: one per vertex, steps wide or narrow, some at (0, 0)
    const int uvStep = std::vector<int>{0, 5, 20, 34, 50, 70}[std::size_t(pick(0, 5))];
    std::vector<SkinVert> skinVerts;
    for (int v = 0; v < vertexCount; ++v) {
        SkinVert skin{uint16_t((v % width) * uvStep), uint16_t((v / width) * uvStep), 0};
        if (chance(10)) skin = SkinVert{0, 0, 0};
        skinVerts.push_back(skin);
    }
    const bool seams = chance(30);  // corners get skin vertices of their own
    const int unusedSkin = chance(30) ? pick(1, 4) : 0;

    // 3. triangles of the grid, then awkward extras, in a shuffled order
    std::vector<MDLTriangle> triangles;
    const auto corner = [&](int x, int y) -> int {
        if (wrapX) x = (x + width) % width;
        if (wrapY) y = (y + height) % height;
        return (x < 0 || y < 0 || x >= width || y >= height) ? -1 : y * width + x;
    };
    const auto addTriangle = [&](int a, int b, int c) {
        if (a < 0 || b < 0 || c < 0) return;
        if (!seams) {
            triangles.push_back(Tri(uint32_t(a), uint32_t(b), uint32_t(c)));
            return;
        }
        const auto own = [&](int v) {
            skinVerts.push_back(SkinVert{uint16_t(skinVerts[std::size_t(v)].U + pick(0, 120)), skinVerts[std::size_t(v)].V, 0});
            return uint32_t(skinVerts.size() - 1);
        };
        triangles.push_back(Tri(uint32_t(a), uint32_t(b), uint32_t(c), chance(50) ? uint32_t(a) : own(a), uint32_t(b), chance(50) ? uint32_t(c) : own(c)));
    };
    if (chance(92)) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (chance(4)) continue;  // a hole
                if (chance(50)) {
                    addTriangle(corner(x, y), corner(x + 1, y), corner(x + 1, y + 1));
                    addTriangle(corner(x, y), corner(x + 1, y + 1), corner(x, y + 1));
                } else {
                    addTriangle(corner(x, y), corner(x + 1, y), corner(x, y + 1));
                    addTriangle(corner(x + 1, y), corner(x + 1, y + 1), corner(x, y + 1));
                }
            }
        }
        const int extras = pick(0, 3);
        for (int e = 0; e < extras && !triangles.empty(); ++e) {
            const MDLTriangle copy = triangles[std::size_t(pick(0, int(triangles.size()) - 1))];
            switch (pick(0, 2)) {
            case 0: triangles.push_back(copy); break;  // a doubled face: neighbours four times
            case 1: triangles.push_back(Tri(copy.VertIndex[0], copy.VertIndex[0], copy.VertIndex[1], copy.SkinIndex[0], copy.SkinIndex[0], copy.SkinIndex[1])); break;
            default: {
                const auto a = uint32_t(pick(0, vertexCount - 1));
                triangles.push_back(Tri(a, uint32_t(pick(0, vertexCount - 1)), a));
            }
            }
        }
        std::shuffle(triangles.begin(), triangles.end(), random);
        for (MDLTriangle& tri : triangles) {
            const int turn = pick(0, 2);  // the corner order matters for the reference point
            std::rotate(tri.VertIndex.begin(), tri.VertIndex.begin() + turn, tri.VertIndex.end());
            std::rotate(tri.SkinIndex.begin(), tri.SkinIndex.begin() + turn, tri.SkinIndex.end());
        }
    }
    for (int i = 0; i < unusedSkin; ++i) {
        const auto at = uint32_t(pick(0, int(skinVerts.size())));
        skinVerts.insert(skinVerts.begin() + at, SkinVert{7, 7, 0});
        for (MDLTriangle& tri : triangles)
            for (uint32_t& s : tri.SkinIndex) s += s >= at ? 1 : 0;
    }
    TMDLModel model = MakeModel(std::move(frames), std::move(triangles), std::move(skinVerts), {MakeSkin(pick(0, 1) ? 0 : 4, 4, 2)});
    model.Header.NumVerts = vertexCount;  // also without frames, so that the triangles stay in range
    return model;
}

TMDLModel MakeOctahedron()
{
    const std::vector<FrameVert> pose = {Vert(200, 100, 100), Vert(0, 100, 100), Vert(100, 200, 100),
                                         Vert(100, 0, 100),   Vert(100, 100, 200), Vert(100, 100, 0)};
    std::vector<SkinVert> skins;
    for (uint16_t i = 0; i < 6; ++i) skins.push_back(SkinVert{uint16_t(10 + i), uint16_t(10 + i), 0});
    return MakeModel({pose, pose}, {Tri(0, 2, 4), Tri(2, 1, 4), Tri(1, 3, 4), Tri(3, 0, 4), Tri(2, 0, 5), Tri(1, 2, 5), Tri(3, 1, 5), Tri(0, 3, 5)},
                     skins);
}

std::vector<TMDLModel> MakeSampleModels(uint32_t randomModels)
{
    std::vector<TMDLModel> models;
    models.push_back(MakeOctahedron());
    models.push_back(MakeTorus(6, 5, 3));
    for (int type : {0, 2, 3, 4, 5}) {
        TMDLModel model = MakeOctahedron();
        model.Skins = {MakeSkin(type, 5, 3)};
        model.Header.NumSkins = 1;
        models.push_back(std::move(model));
    }
    for (uint32_t seed = 1; seed <= randomModels; ++seed) models.push_back(MakeRandomModel(seed));
    models.push_back(MakeModel({}, {}, {}));
    return models;
}

bool IsConsistent(const TMDLModel& model)
{
    const MDL5Header& h = model.Header;
    if (h.NumSkinVerts != model.SkinVerts.Count || std::size_t(model.SkinVerts.Count) != model.SkinVerts.Items.size()) return false;
    if (h.NumTris != model.Triangles.Count || std::size_t(model.Triangles.Count) != model.Triangles.Items.size()) return false;
    if (std::size_t(h.NumFrames) != model.Frames.size() || std::size_t(h.NumSkins) != model.Skins.size()) return false;
    for (const TMDLFrame& frame : model.Frames)
        if (frame.Count != h.NumVerts || std::size_t(frame.Count) != frame.Items.size()) return false;
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (int j = 0; j < 3; ++j)
            if (tri.VertIndex[j] >= uint32_t(std::max(h.NumVerts, 0)) || tri.SkinIndex[j] >= uint32_t(h.NumSkinVerts)) return false;
    return true;
}
