#include "tests/support/Pictures.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

void appendTo(void* context, void* data, int size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto& out = *static_cast<std::vector<uint8_t>*>(context);
    out.insert(out.end(), bytes, bytes + size);
}

// One scan line's plane, run-length coded: runs of up to 63, and a lone byte
// that looks like a run code written as a run of one.
void appendRuns(std::vector<uint8_t>& out, const std::vector<uint8_t>& plane)
{
    for (std::size_t i = 0; i < plane.size();) {
        std::size_t run = 1;
        while (i + run < plane.size() && run < 63 && plane[i + run] == plane[i]) ++run;
        if (run > 1 || plane[i] >= 0xC0) out.push_back(uint8_t(0xC0 | run));
        out.push_back(plane[i]);
        i += run;
    }
}

std::vector<uint8_t> encodePcx(bool paletted, int width, int height, const std::vector<uint8_t>& rgba)
{
    std::vector<uint8_t> out(128, 0);
    const int lineBytes = width + width % 2;  // even, as the format asks
    out[0] = 0x0A, out[1] = 5, out[2] = 1, out[3] = 8;
    const auto put16 = [&](std::size_t at, int value) { out[at] = uint8_t(value), out[at + 1] = uint8_t(value >> 8); };
    put16(8, width - 1);
    put16(10, height - 1);
    out[65] = paletted ? 1 : 3;
    put16(66, lineBytes);
    std::map<std::array<uint8_t, 3>, uint8_t> index;
    for (std::size_t i = 0; paletted && i < rgba.size(); i += 4)
        index.emplace(std::array<uint8_t, 3>{rgba[i], rgba[i + 1], rgba[i + 2]}, uint8_t(index.size()));
    if (index.size() > 256) throw std::invalid_argument("a paletted PCX holds at most 256 colours");
    for (int y = 0; y < height; ++y)
        for (int plane = 0; plane < (paletted ? 1 : 3); ++plane) {
            std::vector<uint8_t> bytes(std::size_t(lineBytes), 0);
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = &rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
                bytes[std::size_t(x)] = paletted ? index.at({p[0], p[1], p[2]}) : p[plane];
            }
            appendRuns(out, bytes);
        }
    if (paletted) {
        out.push_back(0x0C);
        std::vector<uint8_t> palette(768, 0);
        for (const auto& [colour, i] : index) std::copy(colour.begin(), colour.end(), &palette[3 * std::size_t(i)]);
        out.insert(out.end(), palette.begin(), palette.end());
    }
    return out;
}

}  // namespace

std::vector<uint8_t> EncodePicture(PictureKind kind, int width, int height, const std::vector<uint8_t>& rgba)
{
    std::vector<uint8_t> out;
    const int stride = width * 4;
    switch (kind) {
    case PictureKind::PCX8: return encodePcx(true, width, height, rgba);
    case PictureKind::PCX24: return encodePcx(false, width, height, rgba);
    case PictureKind::TGA:
    case PictureKind::TGARunLengths:
        stbi_write_tga_with_rle = kind == PictureKind::TGARunLengths ? 1 : 0;
        stbi_write_tga_to_func(appendTo, &out, width, height, 4, rgba.data());
        break;
    case PictureKind::PNG: stbi_write_png_to_func(appendTo, &out, width, height, 4, rgba.data(), stride); break;
    case PictureKind::JPEG: stbi_write_jpg_to_func(appendTo, &out, width, height, 4, rgba.data(), 100); break;
    case PictureKind::BMP: stbi_write_bmp_to_func(appendTo, &out, width, height, 4, rgba.data()); break;
    }
    return out;
}
