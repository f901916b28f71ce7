#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>

#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "model/MDLClass.h"
#include "render/Render.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/QuakeModels.h"

namespace {

using Point = std::array<double, 3>;

// World units are packed at 1/1000 around 0, so tests speak in world units.
FrameVert at(const Point& p, uint8_t normalIndex = 5)
{
    const auto pack = [](double c) { return uint16_t(std::lround(32768.0 + 1000.0 * c)); };
    return Vert(pack(p[0]), pack(p[1]), pack(p[2]), normalIndex);
}

TMDLModel worldModel(std::vector<std::vector<FrameVert>> frames, std::vector<MDLTriangle> triangles,
                     std::vector<SkinVert> skinVerts = {}, std::vector<TMDLSkin5> skins = {})
{
    TMDLModel model = MakeModel(std::move(frames), std::move(triangles), std::move(skinVerts), std::move(skins));
    SetPositionTransform(model, {1e-3f, 1e-3f, 1e-3f}, {-32.768f, -32.768f, -32.768f});
    return model;
}

const uint8_t* pixel(const RGBAImage& image, int x, int y)
{
    return &image.Pixels[(std::size_t(y) * std::size_t(image.Width) + std::size_t(x)) * 4];
}

bool isBackground(const uint8_t* p)
{
    return p[0] == kBackground[0] && p[1] == kBackground[1] && p[2] == kBackground[2];
}

bool allBackground(const RGBAImage& image)
{
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            if (!isBackground(pixel(image, x, y))) return false;
    return true;
}

// 'R', 'G', 'B' for the strongest channel of a saturated colour, 'W' for a light grey.
char colourName(const uint8_t* p)
{
    if (p[0] > 100 && p[1] > 100 && p[2] > 100) return 'W';
    if (p[0] > 2 * p[1] && p[0] > 2 * p[2]) return 'R';
    if (p[1] > 2 * p[0] && p[1] > 2 * p[2]) return 'G';
    if (p[2] > 2 * p[0] && p[2] > 2 * p[1]) return 'B';
    return '?';
}

// A square in the plane x = depth, facing +X, sides 2 * half; corners seen
// from +X: 0 top left, 1 top right, 2 bottom left, 3 bottom right.
std::vector<FrameVert> square(double depth, double half)
{
    return {at({depth, -half, half}), at({depth, half, half}), at({depth, -half, -half}), at({depth, half, -half})};
}

// Two squares, red at x = +1 and blue at x = -1, the red one's triangles first or last.
TMDLModel redBeforeBlue(bool redFirst)
{
    std::vector<FrameVert> pose = square(1, 2);
    for (const FrameVert& v : square(-1, 2)) pose.push_back(v);
    TMDLSkin5 skin = MakeSkin(4, 2, 1);
    skin.Pixels = {0, 0, 255, 255, 0, 0};  // blue, green, red bytes: red, then blue
    std::vector<MDLTriangle> red = {Tri(0, 1, 3, 0, 0, 0), Tri(0, 3, 2, 0, 0, 0)};
    std::vector<MDLTriangle> blue = {Tri(4, 5, 7, 1, 1, 1), Tri(4, 7, 6, 1, 1, 1)};
    std::vector<MDLTriangle> triangles = redFirst ? red : blue;
    for (const MDLTriangle& tri : redFirst ? blue : red) triangles.push_back(tri);
    return worldModel({pose}, triangles, {SkinVert{0, 0, 0}, SkinVert{1, 0, 0}}, {skin});
}

}  // namespace

// A ball framed on a box whose corners lie on it must come out as the disc
// the camera promises, wherever it is seen from and whatever the picture's shape.
TEST(Render, SphereOutlineFillsTheFramedDisc)
{
    const Point centre{5, -3, 2};
    const double radius = 10;
    const int segments = 64, rings = 32;
    std::vector<FrameVert> pose;
    for (int r = 0; r <= rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const double polar = std::numbers::pi * r / rings;
            const double around = 2 * std::numbers::pi * s / segments;
            pose.push_back(at({centre[0] + radius * std::sin(polar) * std::cos(around),
                               centre[1] + radius * std::sin(polar) * std::sin(around), centre[2] + radius * std::cos(polar)}));
        }
    }
    std::vector<MDLTriangle> triangles;
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const auto index = [&](int rr, int ss) { return uint32_t(rr * segments + ss % segments); };
            triangles.push_back(Tri(index(r, s), index(r + 1, s), index(r + 1, s + 1)));
            triangles.push_back(Tri(index(r, s), index(r + 1, s + 1), index(r, s + 1)));
        }
    }
    const TMDLModel ball = worldModel({pose}, triangles);
    WorldBox view;
    const double half = radius / std::sqrt(3.0);
    view.Add(Point{centre[0] - half, centre[1] - half, centre[2] - half});
    view.Add(Point{centre[0] + half, centre[1] + half, centre[2] + half});

    struct Row {
        double Yaw, Pitch;
        int Width, Height;
    };
    for (const Row& row : {Row{35, 20, 200, 200}, Row{0, 90, 240, 160}, Row{-120, -45, 150, 210}, Row{180, 0, 101, 99}}) {
        RenderOptions options;
        options.YawDegrees = row.Yaw;
        options.PitchDegrees = row.Pitch;
        options.Width = row.Width;
        options.Height = row.Height;
        const RGBAImage image = RenderFrame(ball, options, view);
        ASSERT_EQ(image.Width, row.Width);
        ASSERT_EQ(image.Height, row.Height);
        double covered = 0, sumX = 0, sumY = 0;
        for (int y = 0; y < image.Height; ++y) {
            for (int x = 0; x < image.Width; ++x) {
                if (isBackground(pixel(image, x, y))) continue;
                covered += 1;
                sumX += x + 0.5;
                sumY += y + 0.5;
            }
        }
        const double discRadius = kFrameFill * 0.5 * std::min(row.Width, row.Height);
        const std::string where = "yaw " + std::to_string(row.Yaw) + ", pitch " + std::to_string(row.Pitch);
        EXPECT_NEAR(covered / (std::numbers::pi * discRadius * discRadius), 1.0, 0.03) << where;
        EXPECT_NEAR(sumX / covered, 0.5 * row.Width, 0.5) << where;
        EXPECT_NEAR(sumY / covered, 0.5 * row.Height, 0.5) << where;
    }
}

TEST(Render, NearerSurfaceHidesFartherInEitherDrawingOrder)
{
    RenderOptions front;
    front.Width = front.Height = 64;
    front.YawDegrees = front.PitchDegrees = 0;
    RenderOptions back = front;
    back.YawDegrees = 180;
    for (bool redFirst : {true, false}) {
        const TMDLModel model = redBeforeBlue(redFirst);
        EXPECT_EQ(colourName(pixel(RenderFrame(model, front), 32, 32)), 'R') << "red first: " << redFirst;
        EXPECT_EQ(colourName(pixel(RenderFrame(model, back), 32, 32)), 'B') << "red first: " << redFirst;
    }
}

TEST(Render, WireframeShowsOnlyTheEdgesInSight)
{
    // The blue square lies wholly behind the red one, so its edges add nothing.
    const TMDLModel both = redBeforeBlue(true);
    TMDLModel redOnly = both;
    redOnly.Triangles.Items.resize(2);
    redOnly.Triangles.Count = 2;
    RenderOptions plain;
    plain.Width = plain.Height = 96;
    plain.YawDegrees = plain.PitchDegrees = 0;
    RenderOptions wire = plain;
    wire.Wireframe = true;
    const WorldBox view = AnimationBox(both);
    const auto changedPixels = [&](const TMDLModel& model) {
        const RGBAImage before = RenderFrame(model, plain, view);
        const RGBAImage after = RenderFrame(model, wire, view);
        std::vector<bool> changed;
        for (std::size_t i = 0; i < before.Pixels.size(); i += 4) changed.push_back(before.Pixels[i] != after.Pixels[i]);
        return changed;
    };
    const std::vector<bool> edges = changedPixels(redOnly);
    EXPECT_GT(std::count(edges.begin(), edges.end(), true), 4 * 40);  // the outline at least
    EXPECT_EQ(changedPixels(both), edges);
}

// Four coloured quadrants in every skin format: a mirrored U or V moves
// them, a misread byte order turns red into blue.
TEST(Render, SkinQuadrantsLandOnTheirCornersInEverySkinType)
{
    struct Row {
        int32_t Type;
        std::vector<uint8_t> Red, Green, Blue, White;  // one texel's bytes in the file
    };
    const std::vector<Row> rows = {
        {2, {0x00, 0xF8}, {0xE0, 0x07}, {0x1F, 0x00}, {0xFF, 0xFF}},
        {3, {0x00, 0xFF}, {0xF0, 0xF0}, {0x0F, 0xF0}, {0xFF, 0xFF}},
        {4, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}},
        {5, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}},
        {0, {60}, {120}, {180}, {240}},  // with the palette below
        {0, {100}, {101}, {102}, {103}},  // no palette: the used indices stretched over the greys
    };
    std::vector<uint8_t> palette(kPaletteBytes, 0);
    for (auto [index, rgb] : {std::pair{60, 0xFF0000}, {120, 0x00FF00}, {180, 0x0000FF}, {240, 0xFFFFFF}})
        for (int k = 0; k < 3; ++k) palette[std::size_t(3 * index + k)] = uint8_t(rgb >> (16 - 8 * k));
    RenderOptions options;
    options.Width = options.Height = 120;
    options.YawDegrees = options.PitchDegrees = 0;
    options.Flat = true;
    // A skin that is not square catches rows addressed by the wrong side.
    for (const auto& [width, height] : {std::pair{4, 4}, std::pair{8, 4}})
        for (const Row& row : rows) {
            // Top left red, top right green, bottom left blue, bottom right white.
            TMDLSkin5 skin = MakeSkin(row.Type, width, height);
            skin.Pixels.clear();
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const bool left = x < width / 2;
                    const std::vector<uint8_t>& texel = y < height / 2 ? (left ? row.Red : row.Green) : (left ? row.Blue : row.White);
                    skin.Pixels.insert(skin.Pixels.end(), texel.begin(), texel.end());
                }
            const auto u = uint16_t(width), v = uint16_t(height);
            const std::vector<SkinVert> corners = {{0, 0, 0}, {u, 0, 0}, {0, v, 0}, {u, v, 0}};
            const TMDLModel model = worldModel({square(0, 1)}, {Tri(0, 1, 3), Tri(0, 3, 2)}, corners, {skin});
            options.Palette = row.Type == 0 && row.Red[0] == 60 ? palette : std::vector<uint8_t>();
            const RGBAImage image = RenderFrame(model, options);
            const uint8_t* quadrant[4] = {pixel(image, 45, 45), pixel(image, 75, 45), pixel(image, 45, 75), pixel(image, 75, 75)};
            if (row.Type == 0 && options.Palette.empty()) {
                // Four neighbouring indices span the ramp: the texture shows, in order.
                for (const uint8_t* p : quadrant) EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "grey skin, colour drawn";
                EXPECT_LT(quadrant[0][0], quadrant[1][0]) << width << "x" << height;
                EXPECT_LT(quadrant[1][0], quadrant[2][0]) << width << "x" << height;
                EXPECT_LT(quadrant[2][0], quadrant[3][0]) << width << "x" << height;
                EXPECT_GT(quadrant[3][0] - quadrant[0][0], 100);
                continue;
            }
            const std::string seen{colourName(quadrant[0]), colourName(quadrant[1]), colourName(quadrant[2]), colourName(quadrant[3])};
            EXPECT_EQ(seen, "RGBW") << "skin type " << row.Type << ", " << width << "x" << height;
        }
}

// MD3 codes a normal as latitude (high byte, about Z) and longitude (low
// byte, down from +Z). The light comes from above, on the viewer's left.
TEST(Render, LatLongNormalsLightTheSideTheyFace)
{
    const TMDLModel model = worldModel({square(0, 1)}, {Tri(0, 3, 1), Tri(0, 2, 3)});  // wound to face +X
    RenderOptions options;
    options.Width = options.Height = 40;
    options.YawDegrees = options.PitchDegrees = 0;
    const auto brightness = [&](uint16_t code) {
        AnimatedMesh mesh = MeshOf(model);
        mesh.NormalCode = NormalCoding::LatLong;
        std::fill(mesh.Normals.begin(), mesh.Normals.end(), code);
        return int(pixel(RenderFrame(mesh, options), 20, 20)[0]);
    };
    // Each tilted 45 degrees from +X, the viewer's side: a normal at right
    // angles to the face would leave its facing undecided.
    const int up = brightness(0x0020), down = brightness(0x0060);     // towards +Z, -Z
    const int left = brightness(0xE040), right = brightness(0x2040);  // towards -Y, +Y (+Y is right)
    EXPECT_GT(up, down + 40);
    EXPECT_GT(left, right + 40);
}

// Every reader's view must stand +Z up with +Y to the right at yaw 0. Each
// builder's frame 0 becomes a wedge in the plane x = 0, read back by its bytes:
//   0--1        z 12    Quake MDL, MD2 and MDL5: triangles 0 1 2 and 1 3 2
//   |   \                (the builders' two others lie inside, about 4);
//   | 4  \               MD3: its strip through 0 2 1 3
//   2-----3     z 0
//   y 0 2 8
TEST(Render, EveryFormatStandsUprightWithPlusYToTheRight)
{
    const std::array<std::array<uint8_t, 2>, 5> wedge = {{{0, 12}, {2, 12}, {0, 0}, {8, 0}, {1, 1}}};
    TQuakeModel quake = MakeQuakeModel(0);
    TMD2Model md2 = MakeMD2Model(0);
    TMD3Model md3 = MakeMD3Model(1, 1, 0);
    quake.Header.Scale = md2.Frames[0].Scale = {1, 1, 1};
    quake.Header.Translate = md2.Frames[0].Translate = {0, 0, 0};
    std::vector<FrameVert> pose;
    for (std::size_t v = 0; v < wedge.size(); ++v) {
        const auto [y, z] = wedge[v];
        pose.push_back(at({0, double(y), double(z)}));
        md2.FrameVerts[v] = quake.FrameVerts[v] = {0, y, z, 0};
    }
    for (std::size_t k = 0; k < 4; ++k) {
        const auto [y, z] = wedge[std::array{0, 2, 1, 3}[k]];
        md3.Surfaces[0].Vertices[k].Position = {0, int16_t(64 * y), int16_t(64 * z)};
    }
    const TMDLModel mdl5 = worldModel({pose}, {Tri(0, 1, 2, 0, 0, 0), Tri(1, 3, 2, 0, 0, 0)}, {SkinVert{}});
    RenderOptions options;
    options.Width = options.Height = 100;
    options.YawDegrees = options.PitchDegrees = 0;
    options.Fit = CameraFit::Frame;  // the builders' other frames lie elsewhere
    // Top left, top right, bottom left, bottom right: mirrored or upside down, the second is drawn.
    const std::array<std::pair<int, int>, 4> probes = {{{30, 22}, {66, 22}, {30, 78}, {64, 78}}};
    for (const std::vector<uint8_t>& bytes : {mdl5.SaveToBytes(), quake.SaveToBytes(), md2.SaveToBytes(), md3.SaveToBytes()}) {
        TAnyModel model;
        ASSERT_TRUE(model.LoadFromBytes(bytes));
        const RGBAImage image = RenderFrame(model.Mesh(), options);
        std::string seen;
        for (const auto& [x, y] : probes) seen += isBackground(pixel(image, x, y)) ? '.' : '#';
        EXPECT_EQ(seen, "#.##") << model.FormatName();
    }
}

TEST(Render, FrameFitFillsThePictureAndAnimationFitKeepsOneScale)
{
    // A triangle that grows fivefold in frame 1: framed on its own frame, frame 0
    // reaches across most of the picture; framed on the animation, a fifth of that.
    const std::vector<FrameVert> small = {at({0, 0, 1}), at({0, 1, -1}), at({0, -1, -1})};
    const std::vector<FrameVert> large = {at({0, 0, 5}), at({0, 5, -5}), at({0, -5, -5})};
    const AnimatedMesh mesh = MeshOf(worldModel({small, large}, {Tri(0, 1, 2)}));
    RenderOptions options;
    options.Width = options.Height = 100;
    options.YawDegrees = options.PitchDegrees = 0;
    const auto drawnWidth = [&](CameraFit fit, int frame) {
        options.Fit = fit;
        options.Frame = frame;
        const RGBAImage image = RenderFrame(mesh, options);
        int first = image.Width, last = -1;
        for (int y = 0; y < image.Height; ++y)
            for (int x = 0; x < image.Width; ++x)
                if (!isBackground(pixel(image, x, y))) first = std::min(first, x), last = std::max(last, x);
        return last - first + 1;
    };
    EXPECT_GT(drawnWidth(CameraFit::Frame, 0), 55);
    EXPECT_LT(drawnWidth(CameraFit::Animation, 0), 20);
    EXPECT_EQ(drawnWidth(CameraFit::Frame, 1), drawnWidth(CameraFit::Animation, 1));
}

TEST(Render, FrameOptionDrawsThatFrameWithinOneCameraForAll)
{
    // A triangle that steps sideways in frame 1.
    const std::vector<FrameVert> still = {at({0, 0, 1}), at({0, 1, -1}), at({0, -1, -1})};
    const std::vector<FrameVert> moved = {at({0, 3, 1}), at({0, 4, -1}), at({0, 2, -1})};
    const TMDLModel model = worldModel({still, moved}, {Tri(0, 1, 2)}, {});
    RenderOptions options;
    options.Width = options.Height = 80;
    const RGBAImage first = RenderFrame(model, options);
    options.Frame = 1;
    const RGBAImage second = RenderFrame(model, options);
    EXPECT_NE(first.Pixels, second.Pixels);
    EXPECT_FALSE(allBackground(second));
    // Framed on both frames, neither touches the border.
    for (const RGBAImage* image : {&first, &second})
        for (int i = 0; i < 80; ++i) {
            EXPECT_TRUE(isBackground(pixel(*image, i, 0)) && isBackground(pixel(*image, i, 79)));
            EXPECT_TRUE(isBackground(pixel(*image, 0, i)) && isBackground(pixel(*image, 79, i)));
        }
    options.Frame = 0;
    EXPECT_EQ(RenderFrame(model, options).Pixels, first.Pixels);  // the same pixels again
    for (int frame : {-1, 2}) {
        options.Frame = frame;
        EXPECT_TRUE(allBackground(RenderFrame(model, options))) << "frame " << frame;
    }
}

TEST(Render, EmptyDegenerateAndDamagedModelsDrawSafely)
{
    const std::vector<FrameVert> triangle = {at({0, 0, 1}), at({0, 1, -1}), at({0, -1, -1})};
    const auto damaged = [&](auto change) {
        TMDLModel model = worldModel({triangle}, {Tri(0, 1, 2)}, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {MakeSkin(4, 2, 2)});
        change(model);
        return model;
    };
    struct Row {
        std::string Name;
        TMDLModel Model;
        std::optional<bool> Drawn;  // something besides the background; unset: no claim
    };
    std::vector<Row> rows;
    rows.push_back({"no frames, no triangles", MakeModel({}, {}, {}), false});
    rows.push_back({"frames without triangles", worldModel({triangle}, {}), false});
    rows.push_back({"triangles without frames", damaged([](TMDLModel& m) { m.Frames.clear(); }), false});
    rows.push_back({"all in one point", worldModel({{at({1, 1, 1}), at({1, 1, 1}), at({1, 1, 1})}}, {Tri(0, 1, 2)}), false});
    rows.push_back({"degenerate triangles", worldModel({triangle}, {Tri(0, 0, 1), Tri(2, 2, 2), Tri(1, 0, 1)}), false});
    rows.push_back({"vertex index past the frame", damaged([](TMDLModel& m) { m.Triangles.Items.push_back(Tri(0, 1, 7)); }), true});
    rows.push_back({"skin index past the list", damaged([](TMDLModel& m) { m.Triangles.Items[0].SkinIndex[2] = 9; }), true});
    rows.push_back({"normal index past the table", damaged([](TMDLModel& m) { m.Frames[0].Items[1].NormalIndex = 200; }), true});
    rows.push_back({"skin shorter than its size", damaged([](TMDLModel& m) { m.Skins[0].Pixels.resize(3); }), true});
    rows.push_back({"unsupported skin, no skin vertices", damaged([](TMDLModel& m) {
                        m.Skins[0].SkinType = 1;
                        m.SkinVerts.Items.clear();
                    }), true});
    // Found by fuzz_load: at this scale 1/depth underflowed a float and a texel position became NaN.
    TMDLModel huge = MakeModel({{Vert(0, 0, 0, 0), Vert(59392, 59395, 62467, 1), Vert(19456, 59396, 62467, 1),
                                 Vert(45220, 59396, 62467, 1), Vert(59480, 19459, 62468, 1), Vert(19620, 19460, 62468, 1)}},
                               {Tri(4, 1, 2), Tri(4, 2, 5), Tri(1, 4, 0), Tri(3, 0, 4, 2, 0, 0)},
                               {{0, 0, 0}, {70, 0, 0}, {140, 0, 0}, {0, 70, 0}, {70, 70, 0}, {140, 70, 0}}, {MakeSkin(4, 4, 2)});
    SetPositionTransform(huge, {-1.0099680e34f, -3.8815586e31f, 2.8212602e-29f}, {0, 0, 5.1574706e-22f});
    rows.push_back({"position scale near the float limit", huge, std::nullopt});
    for (const TMDLModel& sample : MakeSampleModels(30)) {
        const bool empty = sample.Frames.empty() || sample.Triangles.Count == 0;
        rows.push_back({"sample", sample, empty ? std::optional(false) : std::nullopt});
    }

    RenderOptions options;
    options.Width = 48;
    options.Height = 32;
    for (const Row& row : rows) {
        for (bool wire : {false, true}) {
            options.Wireframe = options.Flat = wire;
            options.PitchDegrees = wire ? 90 : 20;  // the second picture as fuzz_load draws it
            const RGBAImage image = RenderFrame(row.Model, options);
            ASSERT_EQ(image.Pixels.size(), 48u * 32u * 4u) << row.Name;
            // Wires may show a degenerate triangle as a line; surfaces never do.
            if (!wire && row.Drawn) {
                EXPECT_EQ(!allBackground(image), *row.Drawn) << row.Name;
            }
        }
    }
    // Sizes outside 1..kMaxImageSide give an empty image.
    for (auto [width, height] : {std::pair{0, 10}, {10, -1}, {kMaxImageSide + 1, 1}}) {
        options.Width = width;
        options.Height = height;
        const RGBAImage image = RenderFrame(rows[5].Model, options);
        EXPECT_TRUE(image.Pixels.empty() && image.Width == 0 && image.Height == 0) << width << "x" << height;
    }
}

TEST(Render, SheetAndPairPlaceEachPictureInItsCell)
{
    EXPECT_EQ(SheetFrames(8, 16), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(SheetFrames(200, 4), (std::vector<int>{0, 66, 132, 199}));
    EXPECT_EQ(SheetFrames(1, 16), std::vector<int>{0});
    EXPECT_TRUE(SheetFrames(0, 16).empty());

    const TMDLModel torus = MakeTorus(12, 8, 5);
    RenderOptions options;
    options.Width = 30;
    options.Height = 20;
    const RGBAImage sheet = RenderSheet(torus, options);  // five frames: 3 x 2 cells
    ASSERT_EQ(sheet.Width, 90);
    ASSERT_EQ(sheet.Height, 40);
    options.Frame = 4;
    const RGBAImage last = RenderFrame(torus, options);
    bool cellMatches = true;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) cellMatches = cellMatches && std::memcmp(pixel(sheet, 30 + x, 20 + y), pixel(last, x, y), 4) == 0;
    EXPECT_TRUE(cellMatches);

    const RGBAImage pair = RenderSideBySide(torus, MakeModel({}, {}, {}), options);
    ASSERT_EQ(pair.Width, 60);
    ASSERT_EQ(pair.Height, 20);
    bool rightEmpty = true;
    for (int y = 0; y < 20; ++y)
        for (int x = 30; x < 60; ++x) rightEmpty = rightEmpty && isBackground(pixel(pair, x, y));
    EXPECT_TRUE(rightEmpty);
    EXPECT_EQ(0, std::memcmp(pixel(pair, 15, 10), pixel(last, 15, 10), 4));
}

TEST(Render, SheetKeepsOneScaleWhileEachPoseFillsItsCell)
{
    // One triangle: frame 1 the same shape far to the side, frame 2 one and
    // a half times as large, frame 3 three times. Framed on the box of all
    // four, frame 0 would be a speck.
    const auto triangle = [](double y, double size) {
        return std::vector<FrameVert>{at({0, y, size}), at({0, y + size, -size}), at({0, y - size, -size})};
    };
    const AnimatedMesh mesh = MeshOf(worldModel({triangle(0, 1), triangle(40, 1), triangle(0, 1.5), triangle(0, 3)}, {Tri(0, 1, 2)}));
    RenderOptions options;
    options.Width = options.Height = 100;
    options.YawDegrees = options.PitchDegrees = 0;
    const RGBAImage sheet = RenderSheet(mesh, options);  // 2 x 2 cells
    ASSERT_EQ(sheet.Width, 200);
    // The drawn extent in a cell: left, right, top, bottom.
    const auto extent = [&](int cellX, int cellY) {
        std::array<int, 4> e{1000, -1, 1000, -1};
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                if (!isBackground(pixel(sheet, cellX * 100 + x, cellY * 100 + y)))
                    e = {std::min(e[0], x), std::max(e[1], x), std::min(e[2], y), std::max(e[3], y)};
        return e;
    };
    const auto first = extent(0, 0), moved = extent(1, 0), grown = extent(0, 1), huge = extent(1, 1);
    // The scale lets the largest pose be 1.8 times the first: the first fills
    // half its cell, the pose three times as large reaches past its own.
    EXPECT_NEAR(first[1] - first[0] + 1, 50, 2);
    EXPECT_EQ(moved[1] - moved[0], first[1] - first[0]);
    EXPECT_NEAR(grown[1] - grown[0] + 1, 75, 2);
    EXPECT_EQ(huge[0], 0);
    EXPECT_EQ(huge[1], 99);
    for (const auto& e : {first, moved, grown}) {  // each pose in the middle of its cell
        EXPECT_NEAR(e[0] + e[1], 99, 2);
        EXPECT_NEAR(e[2] + e[3], 99, 2);
    }
    // A framing of poses holds for the direction it was made for; from
    // another, the ball through the poses' box holds them all the same.
    const AnimatedMesh* meshes[] = {&mesh};
    const int frames[] = {0, 1, 2, 3};
    const CameraFraming framing = PoseFraming(meshes, frames, options);
    options.YawDegrees = 60;  // the triangle seen from aside, not edge on
    options.Frame = 1;
    const RGBAImage turned = RenderFrame(mesh, options, framing);
    EXPECT_EQ(turned.Pixels, RenderFrame(mesh, options, framing.Box).Pixels);
    EXPECT_FALSE(allBackground(turned));
}
