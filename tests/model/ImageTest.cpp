#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <variant>

#include "model/Image.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/Pictures.h"

namespace {

constexpr int kWidth = 70, kHeight = 5;  // wider than a PCX run of 63; an odd PCX line

// Dark runs longer than a PCX run, then a few colours per row; alpha falls left to right.
std::vector<uint8_t> samplePixels()
{
    std::vector<uint8_t> rgba;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            rgba.insert(rgba.end(), {uint8_t(x < 66 ? 10 : 200), uint8_t(y * 60), uint8_t((x / 10) * 30), uint8_t(255 - 3 * x)});
    return rgba;
}

const std::vector<std::pair<PictureKind, const char*>> kKinds = {
    {PictureKind::TGA, "TGA"},   {PictureKind::TGARunLengths, "TGA, run lengths"}, {PictureKind::PCX8, "PCX 8-bit"},
    {PictureKind::PCX24, "PCX 24-bit"}, {PictureKind::PNG, "PNG"}, {PictureKind::JPEG, "JPEG"}, {PictureKind::BMP, "BMP"}};

const std::vector<uint8_t> kHuffmanTable = {0xFF, 0xC4};

std::string refusal(std::span<const uint8_t> bytes)
{
    const auto decoded = DecodeImage(bytes);
    const auto* why = std::get_if<std::string>(&decoded);
    return why ? *why : "";
}

}  // namespace

TEST(Image, EveryKindDecodesToItsPixels)
{
    const std::vector<uint8_t> rgba = samplePixels();
    for (const auto& [kind, name] : kKinds) {
        const auto decoded = DecodeImage(EncodePicture(kind, kWidth, kHeight, rgba));
        ASSERT_TRUE(std::holds_alternative<MeshSkin>(decoded)) << name << ": " << std::get<std::string>(decoded);
        const MeshSkin& skin = std::get<MeshSkin>(decoded);
        ASSERT_EQ(skin.Width, kWidth) << name;
        ASSERT_EQ(skin.Height, kHeight) << name;
        ASSERT_EQ(skin.Pixels.size(), rgba.size()) << name;
        // JPEG is lossy; the others give every colour back. PCX and JPEG have no alpha.
        const int tolerance = kind == PictureKind::JPEG ? 12 : 0;
        const bool alpha = kind == PictureKind::PNG || kind == PictureKind::TGA || kind == PictureKind::TGARunLengths;
        int wrong = 0;
        for (std::size_t i = 0; i < rgba.size(); ++i) {
            const int expected = i % 4 == 3 && !alpha ? -1 : rgba[i];
            if (expected >= 0 && std::abs(int(skin.Pixels[i]) - expected) > tolerance) ++wrong;
            if (expected < 0 && kind != PictureKind::BMP && skin.Pixels[i] != 255) ++wrong;
        }
        EXPECT_EQ(wrong, 0) << name;
    }
}

TEST(Image, RefusesEveryCutAndEveryDamageWithAReason)
{
    // Each cut in a buffer of its own size, so that AddressSanitizer sees any read past it.
    for (const auto& [kind, name] : kKinds) {
        const std::vector<uint8_t> whole = EncodePicture(kind, kWidth, kHeight, samplePixels());
        for (std::size_t size = 0; size < whole.size(); ++size) {
            const auto cut = std::make_unique<uint8_t[]>(size);
            std::copy_n(whole.begin(), size, cut.get());
            ASSERT_NE(refusal({cut.get(), size}), "") << name << " cut at " << size;
        }
    }
    std::vector<uint8_t> pcx = EncodePicture(PictureKind::PCX8, kWidth, kHeight, samplePixels());
    const auto changed = [](std::vector<uint8_t> bytes, std::size_t at, std::vector<uint8_t> values) {
        std::copy(values.begin(), values.end(), bytes.begin() + std::ptrdiff_t(at));
        return bytes;
    };
    std::vector<uint8_t> png = EncodePicture(PictureKind::PNG, kWidth, kHeight, samplePixels());
    // Found by fuzz_image: a table of more codes than stb_image has room for.
    std::vector<uint8_t> jpeg = EncodePicture(PictureKind::JPEG, kWidth, kHeight, samplePixels());
    const std::size_t table = std::size_t(std::search(jpeg.begin(), jpeg.end(), kHuffmanTable.begin(), kHuffmanTable.end()) - jpeg.begin());
    ASSERT_LT(table, jpeg.size());
    struct Row {
        const char* Name;
        std::vector<uint8_t> Bytes;
        std::string Reason;
    };
    const std::vector<Row> rows = {
        {"a PCX without its palette", changed(pcx, pcx.size() - 769, {0x0B}), "lacks the 256-colour palette"},
        {"a 4-bit PCX", changed(pcx, 3, {4}), "4 bits a pixel in 1 plane"},
        {"a PCX of 65536 x 65536", changed(pcx, 8, {0xFF, 0xFF, 0xFF, 0xFF}), "is larger than the 16777216 pixels"},
        {"a PCX of 4000 x 4000", changed(changed(pcx, 8, {0x9F, 0x0F, 0x9F, 0x0F}), 66, {0xA0, 0x0F}), "more than its 977 bytes can hold"},
        {"a PCX with no size", changed(pcx, 4, {0x50}), "has no size"},
        {"a PNG of 4000 x 4000", changed(png, 16, {0, 0, 0x0F, 0xA0, 0, 0, 0x0F, 0xA0}), "more than its"},
        {"a PNG of 20000 x 1", changed(png, 16, {0, 0, 0x4E, 0x20, 0, 0, 0, 1}), "PNG picture is damaged"},
        {"a JPEG table of 355 codes", changed(jpeg, table + 5, {255, 100}), "a Huffman table of more than 256 codes"},
        {"a GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, "not a picture of a kind read here"},
    };
    for (const Row& row : rows) {
        LargestAllocation = 0;
        EXPECT_NE(refusal(row.Bytes).find(row.Reason), std::string::npos) << row.Name << ": " << refusal(row.Bytes);
        EXPECT_LT(LargestAllocation.load(), 100000u) << row.Name;
    }
}
