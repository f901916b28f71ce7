#include <gtest/gtest.h>

#include <spng.h>

#include <filesystem>
#include <memory>

#include "model/ByteIO.h"
#include "tests/support/ModelBuilder.h"
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

}  // namespace

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
