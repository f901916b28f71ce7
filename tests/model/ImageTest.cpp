#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <variant>

#include "model/Image.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/Pictures.h"

namespace {

// 70 x 5: runs longer than a PCX run of 63, an odd PCX line; alpha falls left to right.
std::vector<uint8_t> sample(PictureKind kind)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 70 * 5; ++i)
        rgba.insert(rgba.end(), {uint8_t(i % 70 < 66 ? 10 : 200), uint8_t(i / 70 * 60), uint8_t(i % 70 / 10 * 30), uint8_t(255 - i % 70)});
    return EncodePicture(kind, 70, 5, rgba);
}

const PictureKind kKinds[] = {PictureKind::TGA, PictureKind::TGARunLengths, PictureKind::PCX8, PictureKind::PCX24,
                              PictureKind::PNG, PictureKind::JPEG, PictureKind::BMP};

std::string refusal(std::span<const uint8_t> bytes)
{
    const auto decoded = DecodeImage(bytes);
    return std::holds_alternative<std::string>(decoded) ? std::get<std::string>(decoded) : "";
}

}  // namespace

TEST(Image, EveryKindDecodesToItsPixels)
{
    for (PictureKind kind : kKinds) {
        const auto decoded = DecodeImage(sample(kind));
        ASSERT_TRUE(std::holds_alternative<MeshSkin>(decoded)) << int(kind) << ": " << std::get<std::string>(decoded);
        const MeshSkin& skin = std::get<MeshSkin>(decoded);
        ASSERT_TRUE(skin.Width == 70 && skin.Height == 5 && skin.Pixels.size() == 70 * 5 * 4) << int(kind);
        // JPEG is lossy; PCX and JPEG have no alpha (255), BMP is left out of it.
        const int tolerance = kind == PictureKind::JPEG ? 12 : 0;
        const bool alpha = kind == PictureKind::PNG || kind == PictureKind::TGA || kind == PictureKind::TGARunLengths;
        int wrong = 0;
        for (std::size_t i = 0; i < skin.Pixels.size(); ++i) {
            const std::size_t x = i / 4 % 70, y = i / 4 / 70;
            const int expected = std::array<int, 4>{x < 66 ? 10 : 200, int(y) * 60, int(x / 10 * 30), int(255 - x)}[i % 4];
            if (i % 4 < 3 || alpha) wrong += std::abs(skin.Pixels[i] - expected) > tolerance;
            else if (kind != PictureKind::BMP) wrong += skin.Pixels[i] != 255;
        }
        EXPECT_EQ(wrong, 0) << int(kind);
    }
}

TEST(Image, RefusesEveryCutAndEveryDamageWithAReason)
{
    // Each cut in a buffer of its own size, so that AddressSanitizer sees any read past it.
    for (PictureKind kind : kKinds) {
        const std::vector<uint8_t> whole = sample(kind);
        for (std::size_t size = 0; size < whole.size(); ++size) {
            const auto cut = std::make_unique<uint8_t[]>(size);
            std::copy_n(whole.begin(), size, cut.get());
            ASSERT_NE(refusal({cut.get(), size}), "") << int(kind) << " cut at " << size;
        }
    }
    const auto changed = [](std::vector<uint8_t> bytes, std::size_t at, std::vector<uint8_t> values) {
        std::copy(values.begin(), values.end(), bytes.begin() + std::ptrdiff_t(at));
        return bytes;
    };
    const std::vector<uint8_t> pcx = sample(PictureKind::PCX8), png = sample(PictureKind::PNG), jpeg = sample(PictureKind::JPEG);
    // Found by fuzz_image: a table of more codes than stb_image has room for,
    // and a scan that decodes with a table never defined.
    const auto find = [&](uint8_t marker) {
        const uint8_t pair[] = {0xFF, marker};
        return std::size_t(std::search(jpeg.begin(), jpeg.end(), pair, pair + 2) - jpeg.begin());
    };
    // A table: its length, class byte, sixteen counts; a scan: its length, count, each component's tables.
    const std::size_t table = find(0xC4), scan = find(0xDA);
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> rows = {
        {changed(pcx, pcx.size() - 769, {0x0B}), "lacks the 256-colour palette"},
        {changed(pcx, 3, {4}), "4 bits a pixel in 1 plane"},
        {changed(pcx, 8, {0xFF, 0xFF, 0xFF, 0xFF}), "is larger than the 16777216 pixels"},
        {changed(changed(pcx, 8, {0x9F, 0x0F, 0x9F, 0x0F}), 66, {0xA0, 0x0F}), "more than its 977 bytes can hold"},
        {changed(pcx, 4, {0x50}), "has no size"},
        {changed(png, 16, {0, 0, 0x0F, 0xA0, 0, 0, 0x0F, 0xA0}), "more than its"},
        {changed(png, 16, {0, 0, 0x4E, 0x20, 0, 0, 0, 1}), "PNG picture is damaged"},
        {changed(png, 33, {0x7F, 0xFF, 0xFF, 0xFF}), "a chunk runs past its end"},  // the first data chunk; found by fuzz_image
        {changed(jpeg, table + 5, {255, 100}), "a Huffman table of more than 256 codes"},
        {changed(jpeg, scan + 6, {0x33}), "a scan that decodes with a Huffman table it never defines"},
        {{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, "not a picture of a kind read here"},
    };
    for (const auto& [bytes, reason] : rows) {
        LargestAllocation = 0;
        EXPECT_NE(refusal(bytes).find(reason), std::string::npos) << reason << ": " << refusal(bytes);
        EXPECT_LT(LargestAllocation.load(), 100000u) << reason;
    }
}
