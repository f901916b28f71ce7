#pragma once
// Pictures as PNG files, through libspng: the command line's only image format.

#include <cstdint>
#include <span>
#include <vector>

struct RGBAImage;

// The bytes of a PNG file holding image as 8-bit RGBA. Throws
// std::runtime_error with the encoder's reason when it fails.
std::vector<uint8_t> EncodePng(const RGBAImage& image);

// The picture a PNG file holds, as 8-bit RGBA whatever its own format. Throws
// std::runtime_error with the reason when the bytes are no PNG or the
// picture has more than maxPixels pixels.
RGBAImage DecodePng(std::span<const uint8_t> bytes, int64_t maxPixels);
