// kelvane-cli render: one frame, a before/after pair or a sheet of frames as a PNG.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <limits>
#include <iostream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <system_error>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/OptionChecks.h"
#include "cli/Png.h"
#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"
#include "model/MDLFile.h"
#include "render/Render.h"

namespace {

const char* kRenderHelp = R"(The camera:
  Z is up. Yaw 0 looks at the model from +X, yaw 90 from +Y; pitch 90 looks
  straight down. One frame alone is framed on itself, so it fills the
  picture; --sheet and --compare frame every frame of the animation (with
  --compare, of both models), so frames and models compare at one scale.
  --fit chooses either way for any picture.

Skins of 8-bit indices carry no palette: --palette FILE gives one (768 bytes
of red, green, blue, as .lmp and raw .pal files hold it); without it the
indices the skin uses are drawn as a ramp of greys.

Examples:
  kelvane-cli render hero.mdl -o hero.png
  kelvane-cli render hero.mdl --frame 12 --size 1024x768 --yaw 90 --wire -o side.png
  kelvane-cli render hero.mdl --compare hero-low.mdl -o before-after.png
  kelvane-cli render hero.mdl --sheet --size 256x256 -o frames.png
  kelvane-cli render hero.mdl --palette palette.lmp -o hero.png)";

// Each side of --size; a sheet of 4 x 4 cells still fits the renderer's limit.
constexpr int kMaxSizeSide = kMaxImageSide / 4;

struct RenderWords {
    std::string Model;
    std::string Other;
    std::string Output;
    std::string Size = "512x512";
    bool Sheet = false;
    std::string Fit;      // "frame" or "animation"; empty: as the picture's kind says
    std::string Palette;  // a palette file, or empty
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

// Loads one model; a refusal prints its ERROR lines, naming the file.
ExitStatus load(TMDLModel& model, const std::string& file)
{
    std::vector<std::string> errors;
    const ExitStatus status = LoadModelFile(model, file, errors);
    if (status != kRefused) return status;
    for (const std::string& line : errors) Complain(file + ": " + line);
    if (errors.empty()) Complain(file + ": refused");
    return kRefused;
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

// A frame number must name a frame; a model without frames draws only
// the background at its default frame 0.
bool frameExists(const TMDLModel& model, int frame)
{
    return frame >= 0 && (std::size_t(frame) < model.Frames.size() || (model.Frames.empty() && frame == 0));
}

bool samePath(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec);
}

int runRender(RenderWords& words)
{
    const auto size = parseSize(words.Size);  // checked while parsing
    words.Options.Width = size->first;
    words.Options.Height = size->second;
    if (samePath(words.Output, words.Model) || (!words.Other.empty() && samePath(words.Output, words.Other))) {
        Complain(words.Output + ": the picture would replace a model it draws");
        return kUsage;
    }

    // One frame fills the picture; pictures of several compare at one scale.
    const bool single = !words.Sheet && words.Other.empty();
    words.Options.Fit = words.Fit.empty() ? (single ? CameraFit::Frame : CameraFit::Animation)
                                          : (words.Fit == "frame" ? CameraFit::Frame : CameraFit::Animation);
    if (!words.Palette.empty())
        if (const ExitStatus status = loadPalette(words.Palette, words.Options); status != kAccepted) return status;

    // Each model is drawn from its view; the model itself goes once that is made.
    AnimatedMesh mesh, otherMesh;
    for (const auto& [file, view] : {std::pair{&words.Model, &mesh}, std::pair{&words.Other, &otherMesh}}) {
        if (file->empty()) continue;
        TMDLModel model;
        if (const ExitStatus status = load(model, *file); status != kAccepted) return status;
        if (!words.Sheet && !frameExists(model, words.Options.Frame)) {
            Complain(*file + ": no frame " + std::to_string(words.Options.Frame) + "; its frames are numbered 0 to " +
                     std::to_string(int(model.Frames.size()) - 1));
            return kUsage;
        }
        *view = MeshOf(model);
    }

    const RGBAImage image = words.Sheet ? RenderSheet(mesh, words.Options)
                            : single    ? RenderFrame(mesh, words.Options)
                                        : RenderSideBySide(mesh, otherMesh, words.Options);
    try {
        const std::vector<uint8_t> png = EncodePng(image);
        WriteFileAtomically(words.Output, [&png](ByteWriter& out) { out.Write(png.data(), png.size()); });
    } catch (const std::system_error& error) {  // names the file
        Complain(error.what());
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
    render->add_option("MODEL", words->Model, "the MDL5 model to draw")->required();
    render->add_option("-o,--output", words->Output, "the PNG file to write")->required();
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
    auto* compare = render->add_option("--compare", words->Other, "a second model drawn on the right, with the same camera");
    auto* sheet = render->add_flag("--sheet", words->Sheet, "up to 16 frames spread evenly over the animation, in a grid");
    sheet->excludes(compare)->excludes(frame);
    render->add_option("--fit", words->Fit, "frame the camera on the frame drawn or on the whole animation (default: frame for one picture, animation with --sheet or --compare)")
        ->check(CLI::IsMember({"frame", "animation"}));
    render->add_option("--palette", words->Palette, "768 bytes of RGB for 8-bit skins, as in .lmp and raw .pal files");
    return {render, [words] { return runRender(*words); }};
}
