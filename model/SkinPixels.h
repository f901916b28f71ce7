#pragma once
// Skin pixels of the kinds MDL5 and MDL7 share, decoded as the renderer draws
// them: type 0 holds 8-bit indices (no palette in the file), 2 is 5-6-5, 3 is
// 4-4-4-4, 4 is 24-bit and 5 is 32-bit colour, blue first.

#include <cstdint>
#include <span>

#include "model/AnimatedMesh.h"

// The skin of width x height texels that pixels hold, rows top to bottom:
// Indexed8 for type 0, RGBA8 with opaque alpha for the others (many skins
// leave their alpha zero). An empty skin (Width 0) for a type of no known
// pixels, a size of no texels, or fewer pixel bytes than the size needs.
MeshSkin DecodeSkinPixels(int32_t type, int32_t width, int32_t height, std::span<const uint8_t> pixels);
