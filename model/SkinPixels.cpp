#include "model/SkinPixels.h"

#include "model/MDLClass.h"

namespace {

uint8_t expandBits(unsigned value, int bits)
{
    const unsigned top = (1u << bits) - 1;
    return uint8_t((value * 255 + top / 2) / top);
}

}  // namespace

MeshSkin DecodeSkinPixels(int32_t type, int32_t width, int32_t height, std::span<const uint8_t> pixels)
{
    MeshSkin out;
    const int bytesPerPixel = SkinBytesPerPixel(type);
    if (bytesPerPixel == 0 || width <= 0 || height <= 0) return out;
    const std::size_t texels = std::size_t(width) * std::size_t(height);
    // The loaders size the pixels; a skin built in memory may fall short.
    if (pixels.size() / std::size_t(bytesPerPixel) < texels) return out;
    out.Width = width;
    out.Height = height;
    if (type == 0) {
        out.Type = MeshSkin::Kind::Indexed8;
        out.Pixels.assign(pixels.begin(), pixels.begin() + std::ptrdiff_t(texels));
        return out;
    }
    out.Type = MeshSkin::Kind::RGBA8;
    out.Pixels.resize(texels * 4);
    for (std::size_t texel = 0; texel < texels; ++texel) {
        uint8_t* rgba = &out.Pixels[4 * texel];
        rgba[3] = 255;
        switch (type) {
        case 2: {  // 5-6-5, red in the top bits
            const unsigned v = unsigned(pixels[2 * texel]) | unsigned(pixels[2 * texel + 1]) << 8;
            rgba[0] = expandBits(v >> 11, 5);
            rgba[1] = expandBits((v >> 5) & 0x3F, 6);
            rgba[2] = expandBits(v & 0x1F, 5);
            break;
        }
        case 3: {  // 4-4-4-4, alpha in the top bits, then red, green, blue
            const unsigned v = unsigned(pixels[2 * texel]) | unsigned(pixels[2 * texel + 1]) << 8;
            rgba[0] = expandBits((v >> 8) & 0xF, 4);
            rgba[1] = expandBits((v >> 4) & 0xF, 4);
            rgba[2] = expandBits(v & 0xF, 4);
            break;
        }
        default: {  // 4 and 5: blue, green, red (then alpha)
            const uint8_t* bgr = &pixels[texel * std::size_t(bytesPerPixel)];
            rgba[0] = bgr[2];
            rgba[1] = bgr[1];
            rgba[2] = bgr[0];
        }
        }
    }
    return out;
}
