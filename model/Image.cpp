#include "model/Image.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "model/StbImage.h"

namespace {

enum class ImageKind : uint8_t { TGA, PCX, PNG, JPEG, BMP };

const char* kindName(ImageKind kind)
{
    switch (kind) {
    case ImageKind::TGA: return "TGA";
    case ImageKind::PCX: return "PCX";
    case ImageKind::PNG: return "PNG";
    case ImageKind::JPEG: return "JPEG";
    case ImageKind::BMP: return "BMP";
    }
    return "";
}

// The most pixels a byte of each kind can stand for, with a margin: PNG at
// one bit a pixel through deflate's best ratio (1032 to 1); JPEG at one bit
// per 8 x 8 block in its cheapest scan; BMP (no run lengths in stb_image) at
// one bit a pixel; TGA's run of 128 pixels in two bytes; PCX's run of 63 in two.
int64_t pixelsPerByte(ImageKind kind)
{
    switch (kind) {
    case ImageKind::PNG: return 8 * 1032 + 8;
    case ImageKind::JPEG: return 512;
    case ImageKind::BMP: return 8;
    case ImageKind::TGA: return 64;
    case ImageKind::PCX: return 32;
    }
    return 0;
}

// The kind the first bytes name. TGA has no signature, so anything else is
// taken for one and left to its reader to refuse. A PCX header starts with
// 0x0A, a version of 0 to 5 and an encoding of 0 or 1; a TGA with those bytes
// would be colour-mapped without a colour map.
ImageKind kindOf(std::span<const uint8_t> bytes)
{
    const auto starts = [&](std::initializer_list<uint8_t> head) {
        return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
    };
    if (starts({0x89, 'P', 'N', 'G'})) return ImageKind::PNG;
    // A JPEG as stb_image tells one: 0xFF, any fill bytes 0xFF, then the start marker.
    const auto fill = std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0xFF; });
    if (!bytes.empty() && bytes[0] == 0xFF && fill != bytes.end() && *fill == 0xD8) return ImageKind::JPEG;
    if (starts({'B', 'M'})) return ImageKind::BMP;
    if (bytes.size() >= 3 && bytes[0] == 0x0A && bytes[1] <= 5 && bytes[1] != 1 && bytes[2] <= 1) return ImageKind::PCX;
    return ImageKind::TGA;
}

std::string tooLarge(ImageKind kind, int64_t width, int64_t height, int64_t maxPixels)
{
    return std::string("the ") + kindName(kind) + " picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " is larger than the " + std::to_string(maxPixels) + " pixels a skin may have";
}

std::string beyondItsBytes(ImageKind kind, int64_t width, int64_t height, std::size_t size)
{
    return std::string("the ") + kindName(kind) + " picture claims " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels, more than its " + std::to_string(size) + " bytes can hold: it is damaged";
}

constexpr std::size_t kPcxHeaderSize = 128;
constexpr std::size_t kPcxPaletteSize = 769;  // 0x0C, then 256 red, green, blue triples
// A run code is a byte with both top bits set; its low six bits count the
// repeats of the byte that follows.
constexpr uint8_t kPcxRunFlags = 0xC0;

// PCX, as the games' skins use it: 8 bits in one plane with the 256-colour
// palette at the end of the file, or in three planes (red, green, blue) or
// four (and alpha), each scan line plane after plane; run-length coded or
// plain. Runs may go on into the next line or plane, as some writers make them.
std::variant<MeshSkin, std::string> decodePcx(std::span<const uint8_t> bytes, int64_t maxPixels)
{
    if (bytes.size() < kPcxHeaderSize) return std::string("the PCX picture ends inside its header");
    const auto u16 = [&](std::size_t at) { return int64_t(bytes[at]) | int64_t(bytes[at + 1]) << 8; };
    const bool runLengths = bytes[2] == 1;
    const int bits = bytes[3], planes = bytes[65];
    const int64_t width = u16(8) - u16(4) + 1, height = u16(10) - u16(6) + 1, lineBytes = u16(66);
    if (width < 1 || height < 1) return std::string("the PCX picture has no size");
    if (width * height > maxPixels) return tooLarge(ImageKind::PCX, width, height, maxPixels);
    if (bits != 8 || (planes != 1 && planes != 3 && planes != 4))
        return "the PCX picture has " + std::to_string(bits * planes) + " bits a pixel in " + std::to_string(planes) +
               (planes == 1 ? " plane" : " planes") + "; a PCX skin is read in 8 bits with a palette, 24 or 32 bits";
    if (lineBytes < width)
        return "the PCX picture's lines of " + std::to_string(lineBytes) + " bytes are shorter than its width of " +
               std::to_string(width) + " pixels";

    std::span<const uint8_t> data = bytes.subspan(kPcxHeaderSize);
    const uint8_t* palette = nullptr;
    if (planes == 1) {
        if (data.size() < kPcxPaletteSize || bytes[bytes.size() - kPcxPaletteSize] != 0x0C)
            return std::string("the 8-bit PCX picture lacks the 256-colour palette at its end");
        palette = &bytes[bytes.size() - kPcxPaletteSize + 1];
        data = data.first(data.size() - kPcxPaletteSize);
    }
    // Checked before the pixels are allocated: the lines the data could
    // hold at its kind's best, against the lines claimed.
    const int64_t decodedBytes = height * planes * lineBytes;
    if (decodedBytes > int64_t(data.size()) * (runLengths ? pixelsPerByte(ImageKind::PCX) : 1))
        return beyondItsBytes(ImageKind::PCX, width, height, bytes.size());

    MeshSkin skin;
    skin.Type = MeshSkin::Kind::RGBA8;
    skin.Width = int(width);
    skin.Height = int(height);
    skin.Pixels.resize(std::size_t(width * height) * 4);
    std::vector<uint8_t> line(std::size_t(planes * lineBytes));
    std::size_t at = 0;
    int repeats = 0;  // of value, left over from the last run
    uint8_t value = 0;
    for (int64_t y = 0; y < height; ++y) {
        // 1. the line's planes, decoded
        for (uint8_t& out : line) {
            while (repeats == 0) {
                if (at >= data.size()) return "the PCX picture ends before its row " + std::to_string(y + 1) + " of " + std::to_string(height);
                value = data[at++];
                repeats = 1;
                if (runLengths && (value & kPcxRunFlags) == kPcxRunFlags) {
                    if (at >= data.size()) return std::string("the PCX picture ends inside a run");
                    repeats = value & ~kPcxRunFlags;  // 0 repeats nothing
                    value = data[at++];
                }
            }
            out = value;
            --repeats;
        }
        // 2. its pixels, the planes interleaved
        uint8_t* row = &skin.Pixels[std::size_t(y * width) * 4];
        for (int64_t x = 0; x < width; ++x, row += 4) {
            if (palette) {
                std::copy_n(&palette[3 * std::size_t(line[std::size_t(x)])], 3, row);
                row[3] = 255;
                continue;
            }
            for (int p = 0; p < planes; ++p) row[p] = line[std::size_t(p * lineBytes + x)];
            if (planes == 3) row[3] = 255;
        }
    }
    return skin;
}

// Whether an uncompressed TGA holds fewer bytes than its header, colour map
// and pixels take: stb_image reads its rows whole and does not look at how
// many bytes came (run-length coded ones it reads byte by byte, which the
// reader below watches).
bool tgaShortOfPixels(std::span<const uint8_t> bytes)
{
    constexpr std::size_t kTgaHeaderSize = 18;
    if (bytes.size() < kTgaHeaderSize) return true;
    const auto u16 = [&](std::size_t at) { return uint64_t(bytes[at]) | uint64_t(bytes[at + 1]) << 8; };
    const auto bytesOf = [](uint64_t bits) { return (bits + 7) / 8; };
    const uint8_t type = bytes[2];
    if (type != 1 && type != 2 && type != 3) return false;
    const uint64_t colourMap = bytes[1] == 1 ? u16(5) * bytesOf(bytes[7]) : 0;
    return bytes.size() < kTgaHeaderSize + bytes[0] + colourMap + u16(12) * u16(14) * bytesOf(bytes[16]);
}

// Why stb_image (as Debian has it) would read or write outside its Huffman
// tables for a JPEG, or "": a table of more than the 256 codes it has room
// for, or a scan that decodes with a table no segment before it defines (its
// tables are uninitialised memory until then). The walk visits every segment
// stb_image may process, in its order, and perhaps more after where it
// stops: it goes on past markers stb_image stops at, skips stray bytes to
// the next 0xFF as stb_image does between the header's segments, and takes
// the end of a scan's coded data at the first marker in it other than a
// restart, which stb_image's reader never passes.
std::string jpegTableFault(std::span<const uint8_t> bytes)
{
    constexpr std::size_t kMostCodes = 256;
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    const auto byteAt = [&](std::size_t i) { return i < size ? bytes[i] : uint8_t(0); };  // past the end: 0, as stb_image reads it
    const auto nextMarker = [&]() -> int {
        while (at < size && bytes[at] != 0xFF) ++at;
        while (at < size && bytes[at] == 0xFF) ++at;
        return at < size ? bytes[at++] : -1;
    };
    bool defined[2][4] = {};  // [DC, AC][table]
    bool progressive = false;
    if (nextMarker() != 0xD8) return "";
    for (;;) {
        const int marker = nextMarker();
        if (marker < 0 || marker == 0xD9) return "";
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length follows
        const std::size_t end = at + (std::size_t(byteAt(at)) << 8 | byteAt(at + 1));
        if (marker >= 0xC0 && marker <= 0xC2) progressive = marker == 0xC2;
        if (marker == 0xC4) {
            // As stb_image reads the segment: a class and number byte, sixteen counts, the codes.
            int64_t left = int64_t(end - at) - 2;
            for (std::size_t table = at + 2; left > 0;) {
                std::size_t codes = 0;
                for (std::size_t i = 1; i <= 16; ++i) codes += byteAt(table + i);
                if (codes > kMostCodes) return "a Huffman table of more than 256 codes";
                if (const uint8_t kind = byteAt(table); kind >> 4 <= 1 && (kind & 15) <= 3) defined[kind >> 4][kind & 15] = true;
                table += 17 + codes;
                left -= int64_t(17 + codes);
            }
        }
        if (marker == 0xDA) {
            // The tables its components choose, of the kinds it decodes: DC and
            // AC for baseline; a progressive scan's first DC pass, or AC.
            const std::size_t count = byteAt(at + 2), spectrum = at + 3 + 2 * count;
            const bool dc = !progressive || (byteAt(spectrum) == 0 && byteAt(spectrum + 2) >> 4 == 0);
            const bool ac = !progressive || byteAt(spectrum) > 0;
            for (std::size_t c = 0; c < count; ++c) {
                const uint8_t tables = byteAt(at + 4 + 2 * c);
                if ((dc && (tables >> 4) <= 3 && !defined[0][tables >> 4]) || (ac && (tables & 15) <= 3 && !defined[1][tables & 15]))
                    return "a scan that decodes with a Huffman table it never defines";
            }
        }
        at = end;
        if (marker != 0xDA) continue;
        // The scan's coded data: a 0xFF in it is followed by 0 (a coded 0xFF) or a restart marker.
        while (at + 1 < size && !(bytes[at] == 0xFF && bytes[at + 1] != 0 && bytes[at + 1] != 0xFF && (bytes[at + 1] < 0xD0 || bytes[at + 1] > 0xD7)))
            ++at;
    }
}

// Whether each of a PNG's chunks, up to its end chunk, lies within the file:
// stb_image sizes its buffer for the coded pixels from a chunk's length
// before it reads the chunk (found by fuzz_image: 2 GB for a file of 204
// bytes). stb_image reads each chunk whole or refuses the file, so its
// chunks start where this walk's do.
bool pngChunksFit(std::span<const uint8_t> bytes)
{
    constexpr std::size_t kSignatureSize = 8, kChunkFrame = 12;  // length, type, then a check after the data
    for (std::size_t at = kSignatureSize; at < bytes.size();) {
        if (bytes.size() - at < kChunkFrame) return false;
        const uint64_t length = uint64_t(bytes[at]) << 24 | uint64_t(bytes[at + 1]) << 16 | uint64_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length > bytes.size() - at - kChunkFrame) return false;
        if (std::equal(&bytes[at + 4], &bytes[at + 8], "IEND")) return true;
        at += kChunkFrame + std::size_t(length);
    }
    return false;
}

}  // namespace

std::variant<MeshSkin, std::string> DecodeImage(std::span<const uint8_t> bytes, int64_t maxPixels)
{
    const ImageKind kind = kindOf(bytes);
    if (kind == ImageKind::PCX) return decodePcx(bytes, maxPixels);
    if (kind == ImageKind::PNG && !pngChunksFit(bytes)) return std::string("the PNG picture is cut short (a chunk runs past its end)");
    if (kind == ImageKind::JPEG)
        if (const std::string fault = jpegTableFault(bytes); !fault.empty()) return "the JPEG picture is damaged (" + fault + ")";
    // The header's size first, so that nothing is allocated for a size the
    // bytes cannot back; stb_image's reason when it refuses.
    const StbHeader header = StbReadHeader(bytes);
    if (!header.Error.empty()) {
        if (kind == ImageKind::TGA) return std::string("not a picture of a kind read here (TGA, PCX, PNG, JPEG or BMP)");
        return std::string("the ") + kindName(kind) + " picture is damaged (" + header.Error + ")";
    }
    // Found by fuzz_image: stb_image gives a BMP of height 0 back as a picture.
    if (header.Width <= 0 || header.Height <= 0) return std::string("the ") + kindName(kind) + " picture has no size";
    const int64_t pixels = int64_t(header.Width) * header.Height;
    if (pixels > maxPixels) return tooLarge(kind, header.Width, header.Height, maxPixels);
    if (pixels > int64_t(bytes.size()) * pixelsPerByte(kind)) return beyondItsBytes(kind, header.Width, header.Height, bytes.size());
    StbPicture decoded = StbDecode(bytes);
    if (!decoded.Error.empty()) return std::string("the ") + kindName(kind) + " picture is damaged or cut short (" + decoded.Error + ")";
    if (decoded.PastEnd || (kind == ImageKind::TGA && tgaShortOfPixels(bytes)))
        return std::string("the ") + kindName(kind) + " picture is cut short";
    // Found by fuzz_image: stb_image may give a damaged PNG back empty,
    // without a reason.
    if (decoded.Picture.Width != header.Width || decoded.Picture.Height != header.Height)
        return std::string("the ") + kindName(kind) + " picture is damaged (its size changes as it is read)";
    return std::move(decoded.Picture);
}
