#pragma once
// Pictures written in memory, in every kind a skin may come in, for tests and
// fuzz seeds: PNG, JPEG, BMP and TGA through stb_image_write, PCX by hand.

#include <cstdint>
#include <vector>

enum class PictureKind { TGA, TGARunLengths, PCX8, PCX24, PNG, JPEG, BMP };

// The bytes of a file of that kind holding width x height pixels of rgba
// (four bytes a pixel, rows top to bottom; alpha kept by PNG and TGA only).
// PCX8 builds its 256-colour palette from the colours used, which must be
// at most 256; PCX is run-length coded.
std::vector<uint8_t> EncodePicture(PictureKind kind, int width, int height, const std::vector<uint8_t>& rgba);
