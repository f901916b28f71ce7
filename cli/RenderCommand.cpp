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

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/OptionChecks.h"
#include "cli/Png.h"
#include "model/MDLClass.h"
#include "model/MDLFile.h"
#include "render/Render.h"

namespace {

const char* kRenderHelp = R"(The camera:
  Z is up. Yaw 0 looks at the model from +X, yaw 90 from +Y; pitch 90 looks
  straight down. The camera is framed on every frame of the animation (with
  --compare, on both models), so frames and models compare at one scale.

Examples:
  kelvane-cli render hero.mdl -o hero.png
  kelvane-cli render hero.mdl --frame 12 --size 1024x768 --yaw 90 --wire -o side.png
  kelvane-cli render hero.mdl --compare hero-low.mdl -o before-after.png
  kelvane-cli render hero.mdl --sheet --size 256x256 -o frames.png)";

// Each side of --size; a sheet of 4 x 4 cells still fits the renderer's limit.
constexpr int kMaxSizeSide = kMaxImageSide / 4;
constexpr int kSheetFrames = 16;

struct RenderWords {
    std::string Model;
    std::string Other;
    std::string Output;
    std::string Size = "512x512";
    bool Sheet = false;
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

// The most pixels one picture may hold: 256 MiB of RGBA, before the depth
// buffer. The same number as the renderer's kMaxImagePixels (render/Render.h),
// kept here until that header carries it.
constexpr int64_t kMaxPicturePixels = int64_t(64) * 1024 * 1024;

// Loads one model; a refusal prints its ERROR lines, naming the file.
ExitStatus load(TMDLModel& model, const std::string& file)
{
    std::vector<std::string> problems;
    const ExitStatus status = LoadModelFile(model, file, problems);
    if (status == kAccepted) return status;
    if (status == kFileError) Complain(problems.front());
    for (const std::string& line : status == kRefused ? problems : std::vector<std::string>()) Complain(file + ": " + line);
    if (status == kRefused && problems.empty()) Complain(file + ": refused");
    return status;
}

// The picture's width and height: one --size, two side by side, or a sheet's
// grid of cells, as near square as RenderSheet makes it.
std::pair<int64_t, int64_t> pictureSize(const RenderWords& words, const TMDLModel& model)
{
    int64_t cells = words.Other.empty() ? 1 : 2;
    int64_t columns = cells;
    if (words.Sheet) {
        cells = std::max<int64_t>(1, int64_t(SheetFrames(int(model.Frames.size()), kSheetFrames).size()));
        columns = int64_t(std::ceil(std::sqrt(double(cells))));
    }
    const int64_t rows = (cells + columns - 1) / columns;
    return {columns * words.Options.Width, rows * words.Options.Height};
}

// A frame number must name a frame; a model without frames draws only
// the background at its default frame 0.
bool frameExists(const TMDLModel& model, int frame)
{
    return frame >= 0 && (std::size_t(frame) < model.Frames.size() || (model.Frames.empty() && frame == 0));
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

    TMDLModel model;
    if (const ExitStatus status = load(model, words.Model); status != kAccepted) return status;
    TMDLModel other;
    if (!words.Other.empty())
        if (const ExitStatus status = load(other, words.Other); status != kAccepted) return status;
    if (!words.Sheet) {
        for (const auto& [file, drawn] : {std::pair{&words.Model, &model}, std::pair{&words.Other, &other}}) {
            if (file->empty() || frameExists(*drawn, words.Options.Frame)) continue;
            Complain(*file + ": no frame " + std::to_string(words.Options.Frame) + "; its frames are numbered 0 to " +
                     std::to_string(int(drawn->Frames.size()) - 1));
            return kUsage;
        }
    }

    // Said before any pixel is drawn; a sheet's size depends on its frames.
    if (const auto [width, height] = pictureSize(words, model); width * height > kMaxPicturePixels) {
        Complain(words.Output + ": a picture of " + std::to_string(width) + "x" + std::to_string(height) + " is more than the " +
                 std::to_string(kMaxPicturePixels) + " pixels one picture may hold; choose a smaller --size");
        return kUsage;
    }

    try {
        const RGBAImage image = words.Sheet           ? RenderSheet(model, words.Options, kSheetFrames)
                                : words.Other.empty() ? RenderFrame(model, words.Options)
                                                      : RenderSideBySide(model, other, words.Options);
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
    render->add_option("MODEL", words->Model, "the MDL5 model to draw")->required();
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
    return {render, [words] { return runRender(*words); }};
}
