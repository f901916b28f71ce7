#include <gtest/gtest.h>

#include <spng.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "model/ByteIO.h"
#include "render/Render.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestFiles.h"

namespace {

struct PngSize {
    uint32_t Width = 0;
    uint32_t Height = 0;
};

// The size of a PNG file, once libspng has decoded all of it; 0 x 0 when it cannot.
PngSize decodedSize(const std::string& fileName)
{
    const std::vector<uint8_t> bytes = ReadWholeFile(fileName);
    const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> context(spng_ctx_new(0), &spng_ctx_free);
    spng_ihdr header{};
    std::size_t length = 0;
    if (spng_set_png_buffer(context.get(), bytes.data(), bytes.size()) != 0 || spng_get_ihdr(context.get(), &header) != 0 ||
        spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &length) != 0)
        return {};
    std::vector<uint8_t> pixels(length);
    if (spng_decode_image(context.get(), pixels.data(), length, SPNG_FMT_RGBA8, 0) != 0) return {};
    return {header.width, header.height};
}

// The RGBA pixels of a PNG file; none when it cannot be decoded.
std::vector<uint8_t> decodedPixels(const std::string& fileName)
{
    const std::vector<uint8_t> bytes = ReadWholeFile(fileName);
    const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> context(spng_ctx_new(0), &spng_ctx_free);
    std::size_t length = 0;
    if (spng_set_png_buffer(context.get(), bytes.data(), bytes.size()) != 0 ||
        spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &length) != 0)
        return {};
    std::vector<uint8_t> pixels(length);
    if (spng_decode_image(context.get(), pixels.data(), length, SPNG_FMT_RGBA8, 0) != 0) return {};
    return pixels;
}

// 'R', 'G', 'B' for the strongest channel of a colour, '.' for the
// background, '-' for a grey (the untextured surface).
char colourAt(const std::vector<uint8_t>& rgba, int width, int x, int y)
{
    const uint8_t* p = &rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
    if (p[0] == kBackground[0] && p[1] == kBackground[1] && p[2] == kBackground[2]) return '.';
    if (p[0] > 2 * p[1] && p[0] > 2 * p[2]) return 'R';
    if (p[1] > 2 * p[0] && p[1] > 2 * p[2]) return 'G';
    if (p[2] > 2 * p[0] && p[2] > 2 * p[1]) return 'B';
    return '-';
}

std::vector<uint8_t> plainPicture(PictureKind kind, std::array<uint8_t, 3> rgb)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 16; ++i) rgba.insert(rgba.end(), {rgb[0], rgb[1], rgb[2], 255});
    return EncodePicture(kind, 4, 4, rgba);
}

}  // namespace

TEST(CliRender, FindsEachSurfacesSkinOrTakesOnePictureForAll)
{
    // A built MD3 of two squares, each surface naming its own skin, the
    // right one without an extension.
    ScratchDir dir;
    std::filesystem::create_directories(dir.File("models/p"));
    const std::string model = dir.File("models/p/upper.md3");
    WriteFile(model, MakeTwoSurfaceMD3("models/p/left.tga", "models\\p\\right").SaveToBytes());
    WriteFile(dir.File("models/p/left.tga"), plainPicture(PictureKind::TGARunLengths, {230, 20, 20}));
    WriteFile(dir.File("models/p/right.pcx"), plainPicture(PictureKind::PCX8, {20, 20, 230}));
    WriteFile(dir.File("green.jpg"), plainPicture(PictureKind::JPEG, {20, 230, 20}));
    WriteFile(dir.File("broken.png"), {0x89, 'P', 'N', 'G', 1, 2, 3});
    const std::string out = dir.File("out.png");
    const auto drawn = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"render", model, "-o", out, "--size", "80x40", "--yaw", "0", "--pitch", "0"};
        args.insert(args.end(), more.begin(), more.end());
        const CliRun run = RunCli(args, dir);
        EXPECT_EQ(run.Status, 0) << run.Err;
        const std::vector<uint8_t> pixels = decodedPixels(out);
        if (pixels.size() != 80u * 40u * 4u) return std::pair{std::string("no picture"), run.Err};
        return std::pair{std::string{colourAt(pixels, 80, 20, 20), colourAt(pixels, 80, 60, 20)}, run.Err};
    };
    EXPECT_EQ(drawn({}), std::pair(std::string("RB"), std::string()));
    EXPECT_EQ(drawn({"--skin", dir.File("green.jpg")}).first, "GG");
    std::filesystem::remove(dir.File("models/p/right.pcx"));
    const auto [colours, said] = drawn({});
    EXPECT_EQ(colours, "R-");
    EXPECT_NE(said.find("kelvane-cli: warning: " + model + ": no skin \"models\\p\\right\" found for surface \"right\""),
              std::string::npos) << said;

    const CliRun broken = RunCli({"render", model, "-o", out, "--skin", dir.File("broken.png")}, dir);
    EXPECT_EQ(broken.Status, 2);
    EXPECT_NE(broken.Err.find("broken.png: the PNG picture is damaged"), std::string::npos) << broken.Err;
}

// An OpenArena player's parts straight from the folder Debian's
// openarena-data packs them in, each textured through its .skin file.
TEST(CliRender, DrawsAnOpenArenaPlayerTexturedFromItsFolder)
{
    const std::string package = "/usr/share/games/openarena/baseoa/pak2-players.pk3";
    if (!std::filesystem::exists(package)) GTEST_SKIP() << package << " is not installed (Debian's openarena-data)";
    if (std::system("command -v unzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "unzip is not installed";
    ScratchDir dir;
    const std::string unpack = "unzip -q " + package + " 'models/players/sergei/*' -d " + dir.path.string();
    ASSERT_EQ(std::system(unpack.c_str()), 0) << unpack;
    for (const char* part : {"head", "upper", "lower"}) {
        const std::string model = dir.File(std::string("models/players/sergei/") + part + ".md3");
        const CliRun run = RunCli({"render", model, "-o", dir.File("part.png"), "--size", "128x128"}, dir);
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Err, "") << part;
        // The untextured surface is a grey lit brighter or darker; a skin's
        // colours are not: most of the model's pixels must be colours.
        const std::vector<uint8_t> pixels = decodedPixels(dir.File("part.png"));
        ASSERT_EQ(pixels.size(), 128u * 128u * 4u);
        int drawn = 0, coloured = 0;
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            const uint8_t* p = &pixels[i];
            if (p[0] == kBackground[0] && p[1] == kBackground[1] && p[2] == kBackground[2]) continue;
            ++drawn;
            const double shade = p[0] / 200.0;
            coloured += std::abs(p[1] - shade * 196) > 3 || std::abs(p[2] - shade * 188) > 3;
        }
        EXPECT_GT(drawn, 128 * 128 / 8) << part;
        EXPECT_GT(coloured, drawn / 2) << part;
    }
}

TEST(CliRender, WritesAPngOfTheAskedSizeOverAPngOrNoFileAtAll)
{
    ScratchDir dir;
    WriteFile(dir.File("torus.mdl"), MakeTorus(12, 8, 5).SaveToBytes());
    WriteFile(dir.File("octa.mdl"), MakeOctahedron().SaveToBytes());
    std::vector<uint8_t> refused = MakeOctahedron().SaveToBytes();
    refused[3] = '7';
    WriteFile(dir.File("refused.mdl"), refused);
    WriteFile(dir.File("palette.lmp"), std::vector<uint8_t>(768, 9));
    WriteFile(dir.File("short.lmp"), std::vector<uint8_t>(700, 9));

    struct Row {
        std::vector<std::string> Words;
        int Status;
        uint32_t Width, Height;
    };
    const std::string torus = dir.File("torus.mdl");
    const std::string out = dir.File("out.png");
    const std::vector<Row> rows = {
        {{torus, "--size", "64x48", "--wire", "--flat", "--yaw", "-30"}, 0, 64, 48},
        {{torus}, 0, 512, 512},
        {{torus, "--size", "40x30", "--compare", dir.File("octa.mdl")}, 0, 80, 30},
        {{torus, "--size", "20x10", "--sheet"}, 0, 60, 20},  // five frames: 3 x 2 cells
        {{torus, "--frame", "5"}, 2, 0, 0},
        {{dir.File("octa.mdl"), "--frame", "1", "--compare", torus}, 0, 1024, 512},
        {{torus, "--frame", "2", "--compare", dir.File("octa.mdl")}, 2, 0, 0},
        {{torus, "--size", "0x10"}, 2, 0, 0},
        {{torus, "--size", "64"}, 2, 0, 0},
        {{torus, "--sheet", "--frame", "1"}, 2, 0, 0},
        {{torus, "--size", "4096x4096", "--sheet"}, 2, 0, 0},  // 3 x 2 cells: more pixels than a picture may hold
        {{dir.File("refused.mdl")}, 1, 0, 0},
        {{torus, "--compare", dir.File("refused.mdl")}, 1, 0, 0},
        {{dir.File("missing.mdl")}, 3, 0, 0},
        {{torus, "--size", "32x32", "--palette", dir.File("palette.lmp"), "--fit", "animation"}, 0, 32, 32},
        {{torus, "--palette", dir.File("short.lmp")}, 2, 0, 0},
        {{torus, "--palette", dir.File("missing.lmp")}, 3, 0, 0},
        {{torus, "--fit", "sideways"}, 2, 0, 0},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"render", "-o", out};
        args.insert(args.end(), row.Words.begin(), row.Words.end());
        const CliRun run = RunCli(args, dir);
        const std::string words = testing::PrintToString(row.Words);
        EXPECT_EQ(run.Status, row.Status) << words << run.Err;
        if (row.Status != 0) {
            EXPECT_FALSE(std::filesystem::exists(out)) << words;
            if (row.Status != 2) {  // usage mistakes may be worded by the argument parser
                EXPECT_EQ(run.Err.rfind("kelvane-cli: ", 0), 0u) << words << run.Err;
            }
            continue;
        }
        const PngSize size = decodedSize(out);
        EXPECT_EQ(size.Width, row.Width) << words;
        EXPECT_EQ(size.Height, row.Height) << words;
        std::filesystem::remove(out);
    }
    // Only a PNG, or no file, is replaced: a model named after -o by mistake stays as it was.
    const CliRun overModel = RunCli({"render", torus, "-o", dir.File("octa.mdl")}, dir);
    EXPECT_EQ(overModel.Status, 2);
    EXPECT_NE(overModel.Err.find("is not a PNG picture"), std::string::npos) << overModel.Err;
    EXPECT_EQ(ReadWholeFile(dir.File("octa.mdl")), MakeOctahedron().SaveToBytes());
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(RunCli({"render", torus, "-o", out}, dir).Status, 0);  // then over a PNG
    // A folder that does not exist: a write error, naming the file.
    const CliRun run = RunCli({"render", torus, "-o", dir.File("no/such/out.png")}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Err.find("out.png"), std::string::npos) << run.Err;
}
