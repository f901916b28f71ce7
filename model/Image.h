#pragma once
// Pictures of the kinds skins come in, from their bytes: TGA, PNG, JPEG and
// BMP through stb_image, PCX through a reader of our own. Bytes in, RGBA
// out: nothing here opens a file (model/SkinFiles.h finds them), so the page
// decodes the same way from bytes dropped on it.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "model/AnimatedMesh.h"

// The most pixels of a skin read: four times the largest skins these formats'
// games draw, and 64 MB of RGBA. A picture that claims more is refused before
// anything is allocated for it.
inline constexpr int64_t kMaxSkinPixels = int64_t(4096) * 4096;

// The extensions of the kinds read, in the order another of a named skin's
// extensions is tried (the games' own kinds first).
inline constexpr std::array<std::string_view, 6> kSkinImageExtensions = {".tga", ".pcx", ".png", ".jpg", ".jpeg", ".bmp"};

// The picture in bytes as an RGBA8 skin (alpha as stored, 255 where the kind
// has none), or why not, in a sentence: not a kind read here, damaged or cut
// short, more than maxPixels, or more pixels than its bytes could hold in its
// kind (a few bytes claiming gigabytes). The kind is told by the bytes, not by
// a name; TGA, which has no signature, is tried last. Never throws for
// content (std::bad_alloc only).
std::variant<MeshSkin, std::string> DecodeImage(std::span<const uint8_t> bytes, int64_t maxPixels = kMaxSkinPixels);
