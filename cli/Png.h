#pragma once
// Pictures written as PNG files, through libspng (skins are read by the core:
// model/Image.h).

#include <cstdint>
#include <vector>

struct RGBAImage;

// The bytes of a PNG file holding image as 8-bit RGBA. Throws
// std::runtime_error with the encoder's reason when it fails.
std::vector<uint8_t> EncodePng(const RGBAImage& image);
