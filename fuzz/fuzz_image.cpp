// Decodes any bytes as a skin's picture (TGA, PCX, PNG, JPEG, BMP). What is
// accepted must be a whole RGBA picture of its size; a refusal is a normal
// outcome; a crash, a read outside a buffer, undefined behaviour or an
// allocation the input's size cannot back is a finding.

#include <cstddef>
#include <cstdint>
#include <variant>

#include "fuzz/FuzzChecks.h"
#include "model/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // A quarter of the real limit keeps runs fast and reaches every branch
    // of the decoders all the same.
    constexpr int64_t kMaxPixels = kMaxSkinPixels / 4;
    const auto decoded = DecodeImage({data, size}, kMaxPixels);
    if (const auto* skin = std::get_if<MeshSkin>(&decoded)) {
        require(skin->Width > 0 && skin->Height > 0 && int64_t(skin->Width) * skin->Height <= kMaxPixels);
        require(skin->Pixels.size() == std::size_t(skin->Width) * std::size_t(skin->Height) * 4);
    }
    return 0;
}
