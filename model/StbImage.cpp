#include "model/StbImage.h"

#include <algorithm>
#include <climits>
#include <memory>

// stb_image (Debian's libstb-dev), kept to the kinds skins come in: every
// decoder left out is one less to trust with a file's bytes. Its functions
// stay private to this file, and it never opens a file. The arithmetic of
// its JPEG decoder (as Debian has it) on damaged streams overflows and
// shifts too far, and wraps as the machine does; it copies zero bytes to a
// null buffer for an empty PNG chunk: CMakeLists.txt compiles this file with
// -fwrapv, and the sanitizer build checks its memory and bounds, not those.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS 16384
#include <stb_image.h>

namespace {

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

// The bytes as stb_image reads them through callbacks, which tell when it
// asks for bytes past the end.
struct CallbackReader {
    std::span<const uint8_t> Bytes;
    std::size_t At = 0;
    bool PastEnd = false;

    static int Read(void* user, char* data, int size)
    {
        auto& reader = *static_cast<CallbackReader*>(user);
        const std::size_t count = std::min(std::size_t(std::max(size, 0)), reader.Bytes.size() - reader.At);
        if (count == 0) reader.PastEnd = true;
        std::copy_n(reader.Bytes.data() + reader.At, count, data);
        reader.At += count;
        return int(count);
    }
    static void Skip(void* user, int count)  // stb_image never skips backwards through a callback
    {
        auto& reader = *static_cast<CallbackReader*>(user);
        const std::size_t left = reader.Bytes.size() - reader.At;
        if (count > 0 && std::size_t(count) > left) reader.PastEnd = true;
        reader.At += std::min(std::size_t(std::max(count, 0)), left);
    }
    static int AtEnd(void* user)
    {
        const auto& reader = *static_cast<const CallbackReader*>(user);
        return reader.At >= reader.Bytes.size() ? 1 : 0;
    }
};

}  // namespace

StbHeader StbReadHeader(std::span<const uint8_t> bytes)
{
    StbHeader header;
    int channels = 0;
    if (bytes.size() > std::size_t(INT_MAX)) {
        header.Error = "larger than 2 GB";
    } else if (!stbi_info_from_memory(bytes.data(), int(bytes.size()), &header.Width, &header.Height, &channels)) {
        header.Error = stbi_failure_reason();
    }
    return header;
}

StbPicture StbDecode(std::span<const uint8_t> bytes)
{
    StbPicture out;
    CallbackReader reader{bytes};
    const stbi_io_callbacks callbacks{&CallbackReader::Read, &CallbackReader::Skip, &CallbackReader::AtEnd};
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, StbFree> rgba(stbi_load_from_callbacks(&callbacks, &reader, &width, &height, &channels, 4));
    out.PastEnd = reader.PastEnd;
    if (!rgba) {
        out.Error = stbi_failure_reason();
        return out;
    }
    out.Picture.Type = MeshSkin::Kind::RGBA8;
    out.Picture.Width = width;
    out.Picture.Height = height;
    out.Picture.Pixels.assign(rgba.get(), rgba.get() + std::size_t(width) * std::size_t(height) * 4);
    return out;
}
