#include "cli/Png.h"

#include <spng.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "render/Render.h"

namespace {

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

void check(int error)
{
    if (error != 0) throw std::runtime_error(std::string("PNG encoder: ") + spng_strerror(error));
}

}  // namespace

std::vector<uint8_t> EncodePng(const RGBAImage& image)
{
    const std::unique_ptr<spng_ctx, ContextFree> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) throw std::runtime_error("PNG encoder: out of memory");
    // Encode to memory: the caller writes the file atomically, so that a
    // failure never leaves half a picture behind.
    check(spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1));
    spng_ihdr header{};
    header.width = uint32_t(image.Width);
    header.height = uint32_t(image.Height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    check(spng_set_ihdr(context.get(), &header));
    check(spng_encode_image(context.get(), image.Pixels.data(), image.Pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));
    std::size_t length = 0;
    int error = 0;
    // The buffer becomes ours: copied, then freed with the C allocator it came from.
    const std::unique_ptr<void, decltype(&std::free)> buffer(spng_get_png_buffer(context.get(), &length, &error), &std::free);
    check(error);
    const auto* bytes = static_cast<const uint8_t*>(buffer.get());
    return std::vector<uint8_t>(bytes, bytes + length);
}
