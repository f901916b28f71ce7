// The JavaScript face of WebModel: conversions between JavaScript values and
// the core's types, and nothing else. Bytes cross as Uint8Array copies, so
// JavaScript never holds a view into memory that the next allocation may move.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/Pipeline.h"
#include "web/WebModel.h"

using emscripten::val;

namespace {

// Frame names are 16 bytes of whatever the modeller wrote; the page shows
// printable ASCII and '?' for anything else, as the tool's deviation lines do.
std::string printable(const std::string& text)
{
    std::string shown = text;
    for (char& c : shown)
        if (c < ' ' || c > '~') c = '?';
    return shown;
}

val stringArray(const std::vector<std::string>& strings)
{
    val array = val::array();
    for (const std::string& text : strings) array.call<void>("push", val(printable(text)));
    return array;
}

val byteArray(const uint8_t* data, std::size_t size, const char* type)
{
    return val::global(type).new_(emscripten::typed_memory_view(size, data));
}

bool load(WebModel& model, const val& bytes)
{
    const auto size = bytes["length"].as<std::size_t>();
    std::vector<uint8_t> data(size);
    val(emscripten::typed_memory_view(size, data.data())).call<void>("set", bytes);
    return model.Load(data);
}

val summary(const WebModel& model)
{
    const ModelSummary summary = model.Summary();
    val result = val::object();
    result.set("format", summary.Format);
    result.set("vertices", summary.Vertices);
    result.set("triangles", summary.Triangles);
    result.set("skinVertices", summary.SkinVertices);
    result.set("frames", stringArray(summary.FrameNames));
    val skins = val::array();
    for (const SkinSummary& skin : summary.Skins) {
        val entry = val::object();
        entry.set("type", skin.Type);
        entry.set("width", skin.Width);
        entry.set("height", skin.Height);
        skins.call<void>("push", entry);
    }
    result.set("skins", skins);
    result.set("writtenPasses", summary.WrittenPasses);
    return result;
}

val pointArray(const WorldPoint& point)
{
    val array = val::array();
    for (double value : point) array.call<void>("push", value);
    return array;
}

val animationBox(const WebModel& model)
{
    const WorldBox box = model.AnimationBox();
    val result = val::object();
    result.set("empty", box.Empty);
    result.set("min", pointArray(box.Min));
    result.set("max", pointArray(box.Max));
    return result;
}

WorldBox boxFrom(const val& box)
{
    WorldBox result;
    if (box["empty"].as<bool>()) return result;
    for (const char* corner : {"min", "max"}) {
        const val point = box[corner];
        result.Add(WorldPoint{point[0].as<double>(), point[1].as<double>(), point[2].as<double>()});
    }
    return result;
}

// options: width, height, frame, yaw, pitch, zoom, wire, textured; view: a box
// from animationBox, or the union of two, so that two models share a camera.
val render(const WebModel& model, const val& options, const val& view)
{
    RenderOptions render;
    render.Width = options["width"].as<int>();
    render.Height = options["height"].as<int>();
    render.Frame = options["frame"].as<int>();
    render.YawDegrees = options["yaw"].as<double>();
    render.PitchDegrees = options["pitch"].as<double>();
    render.Zoom = options["zoom"].as<double>();
    render.Wireframe = options["wire"].as<bool>();
    render.Textured = options["textured"].as<bool>();
    const RGBAImage image = model.Render(render, boxFrom(view));
    val result = val::object();
    result.set("width", image.Width);
    result.set("height", image.Height);
    result.set("pixels", byteArray(image.Pixels.data(), image.Pixels.size(), "Uint8ClampedArray"));
    return result;
}

// plan: {kind: 'budget', triangles} | {kind: 'lods', shares: [falling]} |
// {kind: 'passes', level, passes}, each with everyFrame (measure every frame
// rather than the report's few, as --measure does). The same ReducePlan as
// kelvane-cli reduce makes of the same words.
ReducePlan planFrom(const val& words)
{
    ReducePlan plan;
    const std::string kind = words["kind"].as<std::string>();
    if (kind == "passes") {
        plan.Level = words["level"].as<int>();
        plan.Passes = words["passes"].as<int>();
    } else {
        plan.Method = ReduceMethod::Quadric;
        if (kind == "lods") plan.Lods = emscripten::vecFromJSArray<double>(words["shares"]);
        else plan.TargetTriangles = int64_t(words["triangles"].as<double>());
    }
    const val everyFrame = words["everyFrame"];
    plan = WithReport(plan, !everyFrame.isUndefined() && everyFrame.as<bool>());
    // The page always shows how far a result lies, after passes too: over
    // the report's frames, as a budget's report.
    if (!plan.Measure) {
        plan.Measure = true;
        plan.MeasureFrames = kReportFrames;
    }
    return plan;
}

val countsOf(const ModelCounts& counts)
{
    val result = val::object();
    result.set("vertices", counts.Vertices);
    result.set("triangles", counts.Triangles);
    result.set("skinVertices", counts.SkinVertices);
    return result;
}

// Fractions of the diagonal, as kelvane-cli's --json gives them, with the
// frames measured and the tool's DEVIATION line.
val deviationOf(const MeasuredDeviation& measured, const std::string& line)
{
    val result = val::object();
    result.set("line", line);
    if (const auto* reason = std::get_if<std::string>(&measured)) {
        result.set("reason", *reason);
        return result;
    }
    const DeviationSummary& summary = std::get<DeviationSummary>(measured);
    val frames = val::array();
    for (const FrameDeviation& frame : summary.Frames) {
        val entry = val::object();
        entry.set("frame", frame.Frame);
        entry.set("name", printable(frame.Name));
        entry.set("hausdorff", frame.Hausdorff);
        entry.set("rms", frame.Rms);
        frames.call<void>("push", entry);
    }
    result.set("frames", frames);
    result.set("frameCount", summary.FrameCount);
    result.set("hausdorff", summary.Hausdorff);
    result.set("hausdorffFrame", summary.HausdorffFrame);
    result.set("rms", summary.Rms);
    result.set("rmsFrame", summary.RmsFrame);
    result.set("meanRms", summary.MeanRms);
    // How far the skin slides, in texels of the first skin, when both models have one.
    result.set("textureMeasured", summary.TextureMeasured);
    result.set("textureRms", summary.TextureRms);
    result.set("textureRmsFrame", summary.TextureRmsFrame);
    result.set("textureLargest", summary.TextureLargest);
    result.set("textureLargestFrame", summary.TextureLargestFrame);
    val triangles = val::array();
    triangles.call<void>("push", summary.OriginalTriangles);
    triangles.call<void>("push", summary.OtherTriangles);
    result.set("triangles", triangles);
    return result;
}

// One entry per file the tool would write: bytes, counts, lines, budget,
// met, stoppedBecause and deviation (null without a report). progress
// receives (share of the run done, line to show).
val reduce(WebModel& model, const val& words, const val& progress)
{
    std::function<void(const PipelineProgress&)> shown;
    if (!progress.isUndefined() && !progress.isNull())
        shown = [progress](const PipelineProgress& now) { progress(val(now.Done), val(now.Line)); };
    val outputs = val::array();
    for (const WebOutput& output : model.Reduce(planFrom(words), shown)) {
        val entry = val::object();
        entry.set("bytes", byteArray(output.Bytes.data(), output.Bytes.size(), "Uint8Array"));
        entry.set("counts", countsOf(output.Counts));
        entry.set("lines", stringArray(output.Lines));
        entry.set("budget", output.Budget ? val(double(*output.Budget)) : val::null());
        entry.set("met", output.BudgetMet);
        entry.set("stoppedBecause", output.StoppedBecause);
        entry.set("deviation", output.Deviation ? deviationOf(*output.Deviation, output.DeviationLine) : val::null());
        outputs.call<void>("push", entry);
    }
    return outputs;
}

val save(const WebModel& model)
{
    const std::vector<uint8_t> bytes = model.Save();
    return byteArray(bytes.data(), bytes.size(), "Uint8Array");
}

val lines(const WebModel& model)
{
    return stringArray(model.Lines());
}

// What the page says it opens, and the file names its picker offers.
val formats()
{
    val result = val::object();
    result.set("name", std::string(WebModel::FormatsName()));
    result.set("extensions", std::string(WebModel::FileExtensions()));
    return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(kelvane)
{
    emscripten::class_<WebModel>("Model")
        .constructor<>()
        .constructor<const WebModel&>()
        .function("load", &load)
        .function("accepted", &WebModel::Accepted)
        .function("lines", &lines)
        .function("summary", &summary)
        .function("triangles", &WebModel::Triangles)
        .function("animationBox", &animationBox)
        .function("render", &render)
        .function("reduce", &reduce)
        .function("save", &save);
    emscripten::function("formats", &formats);
}
