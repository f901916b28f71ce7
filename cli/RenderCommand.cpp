// kelvane-cli render: one frame, a before/after pair or a sheet of frames as a PNG.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <iostream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <variant>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/OptionChecks.h"
#include "cli/Png.h"
#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "model/ByteIO.h"
#include "model/Image.h"
#include "model/SkinFiles.h"
#include "render/Render.h"

namespace {

const char* kRenderHelp = R"(The camera:
  Z is up. Yaw 0 looks at the model from +X, yaw 90 from +Y; pitch 90 looks
  straight down. A picture is framed on the model as that camera sees it:
  one frame fills the picture; --compare frames that frame of both models
  under one camera, so their sizes compare; --sheet draws every cell at one
  scale, the largest pose shown filling its cell (up to 1.8 times the
  first's), each pose in the middle of its own. --fit animation frames
  every frame of the animation instead, so that a series of pictures keeps
  one scale and place; --fit frame frames each cell of a sheet on its own.

Skins: MDL5 and Quake MDL files hold theirs. MD2 and MD3 files name them,
and render looks for each (a picture, TGA, PCX, PNG, JPEG or BMP): beside the
model, then by its trailing folders under each folder above it (a game's data
tree: models/players/sarge/skin.tga under the folder that holds models/),
also with the other kinds' extensions, regardless of case. A player model's
part takes the surfaces' paths of the .skin file beside it first
(upper_default.skin for upper.md3, upper_1.md3 and upper_lod1.md3). A skin
not found is said on standard error and its surfaces are drawn untextured.
--skin IMAGE draws that picture on every triangle instead, whatever the model
names or holds.

Skins of 8-bit indices carry no palette: --palette FILE gives one (768 bytes
of red, green, blue, as .lmp and raw .pal files hold it); without it the
indices the skin uses are drawn as a ramp of greys.

Examples:
  kelvane-cli render hero.mdl -o hero.png
  kelvane-cli render hero.mdl --frame 12 --size 1024x768 --yaw 90 --wire -o side.png
  kelvane-cli render hero.mdl --compare hero-low.mdl -o before-after.png
  kelvane-cli render hero.mdl --sheet --size 256x256 -o frames.png
  kelvane-cli render hero.mdl --palette palette.lmp -o hero.png
  kelvane-cli render models/players/sarge/upper.md3 -o upper.png
  kelvane-cli render faerie.md2 --skin faerie.pcx -o faerie.png)";

// Each side of --size; a sheet of 4 x 4 cells still fits the renderer's limit.
constexpr int kMaxSizeSide = kMaxImageSide / 4;
constexpr int kSheetFrames = 16;

struct RenderWords {
    std::string Model;
    std::string Other;
    std::string Output;
    std::string Size = "512x512";
    bool Sheet = false;
    std::string Fit;      // "frame" or "animation"; empty: as the picture's kind says
    std::string Palette;  // a palette file, or empty
    std::string Skin;     // a picture drawn as every triangle's skin, or empty
    RenderOptions Options;
};

std::optional<std::pair<int, int>> parseSize(const std::string& text)
{
    static const std::regex pattern("([0-9]{1,6})x([0-9]{1,6})");
    std::smatch match;
    if (!std::regex_match(text, match, pattern)) return std::nullopt;
    const int width = std::stoi(match[1]);
    const int height = std::stoi(match[2]);
    if (width < 1 || height < 1 || width > kMaxSizeSide || height > kMaxSizeSide) return std::nullopt;
    return std::pair{width, height};
}

// The picture's width and height: one --size, two side by side, or a sheet's
// grid of cells, as near square as RenderSheet makes it.
std::pair<int64_t, int64_t> pictureSize(const RenderWords& words, const AnimatedMesh& mesh)
{
    int64_t cells = words.Other.empty() ? 1 : 2;
    int64_t columns = cells;
    if (words.Sheet) {
        cells = std::max<int64_t>(1, int64_t(SheetFrames(int(mesh.FrameCount), kSheetFrames).size()));
        columns = int64_t(std::ceil(std::sqrt(double(cells))));
    }
    const int64_t rows = (cells + columns - 1) / columns;
    return {columns * words.Options.Width, rows * words.Options.Height};
}

// Reads a palette file into options. A file of another size is a usage
// mistake: the picture would otherwise come out in wrong colours.
ExitStatus loadPalette(const std::string& file, RenderOptions& options)
{
    // The size first, so that a large file named by mistake is not read whole.
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec && size != kPaletteBytes) {
        Complain(file + ": a palette is " + std::to_string(kPaletteBytes) + " bytes of red, green, blue; this file has " +
                 std::to_string(size));
        return kUsage;
    }
    try {
        options.Palette = ReadWholeFile(file);
    } catch (const std::system_error& error) {  // names the file
        Complain(error.what());
        return kFileError;
    }
    if (options.Palette.size() == kPaletteBytes) return kAccepted;
    Complain(file + ": a palette is " + std::to_string(kPaletteBytes) + " bytes of red, green, blue");
    return kUsage;
}

// Reads the picture --skin names. One that is no picture of a kind read, or
// is damaged, is a usage mistake, as is a file larger than any skin could be
// (said before it is read).
ExitStatus loadSkin(const std::string& file, MeshSkin& skin)
{
    std::error_code ec;
    if (const auto size = std::filesystem::file_size(file, ec); !ec && size > kMaxSkinFileBytes) {
        Complain(file + ": " + std::to_string(size) + " bytes is more than any skin picture read here takes");
        return kUsage;
    }
    try {
        auto decoded = DecodeImage(ReadWholeFile(file));
        if (auto* why = std::get_if<std::string>(&decoded)) {
            Complain(file + ": " + *why);
            return kUsage;
        }
        skin = std::move(std::get<MeshSkin>(decoded));
        return kAccepted;
    } catch (const std::system_error& error) {  // names the file
        Complain(error.what());
        return kFileError;
    }
}

// A frame number must name a frame; a model without frames draws only
// the background at its default frame 0.
bool frameExists(const AnimatedMesh& mesh, int frame)
{
    return frame >= 0 && (uint32_t(frame) < mesh.FrameCount || (mesh.FrameCount == 0 && frame == 0));
}

// Why render may not write output: it is there and is no PNG, such as the
// model itself named after -o by mistake. "" for a PNG or no file at all.
std::string whyNotReplaced(const std::string& output)
{
    std::error_code ec;
    if (!std::filesystem::exists(output, ec) && !ec) return {};
    static const char kPngSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    char head[8] = {};
    std::ifstream file(output, std::ios::binary);
    if (file.read(head, sizeof head) && std::memcmp(head, kPngSignature, sizeof head) == 0) return {};
    return "\"" + output + "\" is there and is not a PNG picture; render replaces only PNG files, so give another name";
}

int runRender(RenderWords& words)
{
    const auto size = parseSize(words.Size);  // checked while parsing
    words.Options.Width = size->first;
    words.Options.Height = size->second;
    if (const std::string why = whyNotReplaced(words.Output); !why.empty()) {
        Complain(why);
        return kUsage;
    }

    // The frame drawn fills the picture (of both models at once for a pair);
    // a sheet keeps one scale over the poses it shows.
    const bool single = !words.Sheet && words.Other.empty();
    words.Options.Fit = words.Fit.empty() ? (words.Sheet ? CameraFit::Animation : CameraFit::Frame)
                                          : (words.Fit == "frame" ? CameraFit::Frame : CameraFit::Animation);
    if (!words.Palette.empty())
        if (const ExitStatus status = loadPalette(words.Palette, words.Options); status != kAccepted) return status;

    MeshSkin skin;
    if (!words.Skin.empty())
        if (const ExitStatus status = loadSkin(words.Skin, skin); status != kAccepted) return status;

    // Each model is drawn from its view; the model itself goes once that is made.
    AnimatedMesh mesh, otherMesh;
    for (const auto& [file, view] : {std::pair{&words.Model, &mesh}, std::pair{&words.Other, &otherMesh}}) {
        if (file->empty()) continue;
        try {
            TAnyModel model;
            std::string reason;
            if (const ExitStatus status = LoadForCommand(model, *file, reason); status != kAccepted) return status;
            *view = model.Mesh();
            // A skin named on the command line stands in for every skin the
            // model names or holds; otherwise those it names are looked for.
            if (skin.Width > 0) {
                PutSkinEverywhere(*view, skin);
            } else {
                const FoundSkins found = FindSkinFiles(model, *file);
                for (const std::string& line : found.Warnings) Complain("warning: " + *file + ": " + line);
                PutSkins(*view, found);
            }
        } catch (const std::bad_alloc&) {
            Complain(NotEnoughMemoryFor(*file));
            return kFileError;
        }
        if (!words.Sheet && !frameExists(*view, words.Options.Frame)) {
            Complain(*file + ": no frame " + std::to_string(words.Options.Frame) + "; its frames are numbered 0 to " +
                     std::to_string(int(view->FrameCount) - 1));
            return kUsage;
        }
    }

    // Said before any pixel is drawn; a sheet's size depends on its frames.
    if (const auto [width, height] = pictureSize(words, mesh); width * height > kMaxImagePixels) {
        Complain(words.Output + ": a picture of " + std::to_string(width) + "x" + std::to_string(height) + " is more than the " +
                 std::to_string(kMaxImagePixels) + " pixels one picture may hold; choose a smaller --size");
        return kUsage;
    }

    try {
        const RGBAImage image = words.Sheet ? RenderSheet(mesh, words.Options, kSheetFrames)
                                : single    ? RenderFrame(mesh, words.Options)
                                            : RenderSideBySide(mesh, otherMesh, words.Options);
        const std::vector<uint8_t> png = EncodePng(image);
        WriteFileAtomically(words.Output, [&png](ByteWriter& out) { out.Write(png.data(), png.size()); });
    } catch (const std::system_error& error) {  // names the file
        Complain(error.what());
        return kFileError;
    } catch (const std::bad_alloc&) {
        Complain(NotEnoughMemoryFor(words.Output));
        return kFileError;
    } catch (const std::runtime_error& error) {
        Complain(words.Output + ": " + error.what());
        return kFileError;
    }
    return kAccepted;
}

}  // namespace

Command AddRenderCommand(CLI::App& tool)
{
    auto words = std::make_shared<RenderWords>();
    CLI::App* render = tool.add_subcommand("render", "Draw a model (one frame, a before/after pair, or a sheet) as a PNG.");
    render->footer(kRenderHelp);
    render->add_option("MODEL", words->Model, "the model to draw (MDL5, MDL7, Quake MDL, MD2, MD3)")->required();
    render->add_option("-o,--output", words->Output, "the PNG file to write; an existing file must be a PNG")->type_name("PNG")->required();
    auto* frame = render->add_option("--frame", words->Options.Frame, "the frame to draw, numbered from 0")
                      ->check(WholeNumberIn(0, std::numeric_limits<int>::max()))
                      ->capture_default_str();
    render->add_option("--size", words->Size, "WxH: the picture (with --compare each half, with --sheet each cell)")
        ->check(CLI::Validator(
            [](std::string& text) {
                return parseSize(text) ? std::string() : "must be WxH, each from 1 to " + std::to_string(kMaxSizeSide);
            },
            "WxH"))
        ->capture_default_str();
    render->add_option("--yaw", words->Options.YawDegrees, "degrees about the up axis")->check(NumberIn(-360.0, 360.0))->capture_default_str();
    render->add_option("--pitch", words->Options.PitchDegrees, "degrees above the horizon, -90 to 90")
        ->check(NumberIn(-90.0, 90.0))
        ->capture_default_str();
    render->add_option("--zoom", words->Options.Zoom, "above 1 comes nearer")->check(NumberIn(0.01, 100.0))->capture_default_str();
    render->add_flag("--wire", words->Options.Wireframe, "draw the edges over the surface");
    render->add_flag("--flat", words->Options.Flat, "light each face by its own normal, not the stored ones");
    auto* compare = render->add_option("--compare", words->Other, "a second model drawn on the right, with the same camera")->type_name("MODEL");
    auto* sheet = render->add_flag("--sheet", words->Sheet, "up to 16 frames spread evenly over the animation, in a grid");
    sheet->excludes(compare)->excludes(frame);
    render->add_option("--fit", words->Fit, "frame the camera on the frame drawn or on the whole animation (default: the frame; a sheet keeps one scale over its poses)")
        ->check(CLI::IsMember({"frame", "animation"}));
    render->add_option("--palette", words->Palette, "768 bytes of RGB for 8-bit skins, as in .lmp and raw .pal files")->type_name("FILE");
    render->add_option("--skin", words->Skin, "a picture (TGA, PCX, PNG, JPEG, BMP) drawn as the skin of every triangle, instead of those the model names or holds")
        ->type_name("IMAGE");
    return {render, [words] { return runRender(*words); }};
}
