#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <variant>

#include "model/ByteIO.h"
#include "model/Image.h"
#include "render/Render.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestFiles.h"

namespace {

// The picture in a PNG file as the core decodes it (a check of libspng's
// writing by another decoder); Width 0 when it cannot be decoded.
MeshSkin decodedPng(const std::string& fileName)
{
    auto decoded = DecodeImage(ReadWholeFile(fileName));
    return std::holds_alternative<MeshSkin>(decoded) ? std::get<MeshSkin>(decoded) : MeshSkin();
}

// 'R', 'G', 'B' for the strongest channel of a colour, '.' for the
// background, '-' for a grey (the untextured surface).
char colourAt(const MeshSkin& picture, int x, int y)
{
    const uint8_t* p = &picture.Pixels[(std::size_t(y) * std::size_t(picture.Width) + std::size_t(x)) * 4];
    if (p[0] == kBackground[0] && p[1] == kBackground[1] && p[2] == kBackground[2]) return '.';
    if (p[0] > 2 * p[1] && p[0] > 2 * p[2]) return 'R';
    if (p[1] > 2 * p[0] && p[1] > 2 * p[2]) return 'G';
    if (p[2] > 2 * p[0] && p[2] > 2 * p[1]) return 'B';
    return '-';
}

// A picture of 4 x side texels, rgb above and below (rgb at the bottom too when not given).
std::vector<uint8_t> picture(PictureKind kind, int side, std::array<uint8_t, 3> rgb, std::array<uint8_t, 3> below = {})
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 4 * side; ++i) {
        const auto& colour = i >= 2 * side && below != std::array<uint8_t, 3>{} ? below : rgb;
        rgba.insert(rgba.end(), {colour[0], colour[1], colour[2], 255});
    }
    return EncodePicture(kind, 4, side, rgba);
}

}  // namespace

TEST(CliRender, FindsEachSurfacesSkinOrTakesOnePictureForAll)
{
    // A built MD3 of two squares, each surface naming its own skin, the
    // right one without an extension: blue above green, twice as tall as
    // the left, each drawn at its own size.
    ScratchDir dir;
    std::filesystem::create_directories(dir.File("models/p"));
    const std::string model = dir.File("models/p/upper.md3");
    WriteFile(model, MakeTwoSurfaceMD3("models/p/left.tga", "models\\p\\right").SaveToBytes());
    WriteFile(dir.File("models/p/left.tga"), picture(PictureKind::TGARunLengths, 4, {230, 20, 20}));
    WriteFile(dir.File("models/p/right.pcx"), picture(PictureKind::PCX8, 8, {20, 20, 230}, {20, 230, 20}));
    WriteFile(dir.File("green.jpg"), picture(PictureKind::JPEG, 8, {20, 230, 20}));
    WriteFile(dir.File("broken.png"), {0x89, 'P', 'N', 'G', 1, 2, 3});
    const std::string out = dir.File("out.png");
    const auto drawn = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"render", model, "-o", out, "--size", "80x40", "--yaw", "0", "--pitch", "0"};
        args.insert(args.end(), more.begin(), more.end());
        const CliRun run = RunCli(args, dir);
        EXPECT_EQ(run.Status, 0) << run.Err;
        const MeshSkin drawing = decodedPng(out);
        if (drawing.Width != 80 || drawing.Height != 40) return std::pair{std::string("no picture"), run.Err};
        return std::pair{std::string{colourAt(drawing, 20, 20), colourAt(drawing, 60, 10), colourAt(drawing, 60, 30)}, run.Err};
    };
    EXPECT_EQ(drawn({}), std::pair(std::string("RBG"), std::string()));
    EXPECT_EQ(drawn({"--skin", dir.File("green.jpg")}).first, "GGG");
    std::filesystem::remove(dir.File("models/p/right.pcx"));
    const auto [colours, said] = drawn({});
    EXPECT_EQ(colours, "R--");
    EXPECT_NE(said.find("kelvane-cli: warning: " + model + ": no skin \"models\\p\\right\" found for surface \"right\""),
              std::string::npos) << said;

    const CliRun broken = RunCli({"render", model, "-o", out, "--skin", dir.File("broken.png")}, dir);
    EXPECT_EQ(broken.Status, 2);
    EXPECT_NE(broken.Err.find("broken.png: the PNG picture is cut short"), std::string::npos) << broken.Err;
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
        const MeshSkin picture = decodedPng(dir.File("part.png"));
        ASSERT_EQ(picture.Width, 128);
        int drawn = 0, coloured = 0;
        for (int i = 0; i < 128 * 128; ++i) {
            const char colour = colourAt(picture, i % 128, i / 128);
            drawn += colour != '.';
            const uint8_t* p = &picture.Pixels[4 * std::size_t(i)];
            const double shade = p[0] / 200.0;
            coloured += colour != '.' && (std::abs(p[1] - shade * 196) > 3 || std::abs(p[2] - shade * 188) > 3);
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
        const MeshSkin picture = decodedPng(out);
        EXPECT_EQ(picture.Width, int(row.Width)) << words;
        EXPECT_EQ(picture.Height, int(row.Height)) << words;
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
