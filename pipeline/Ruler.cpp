#include "pipeline/Ruler.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "model/AnyModel.h"

namespace {

// The frames of a view of the whole animation, in a frame-major view of
// their own; the whole goes.
AnimatedMesh viewOfFrames(AnimatedMesh&& whole, const std::vector<int>& frames)
{
    if (frames.size() == whole.FrameCount && !whole.VertexMajor) return std::move(whole);  // every frame, in order
    AnimatedMesh part;
    part.VertexCount = whole.VertexCount;
    part.FrameCount = uint32_t(frames.size());
    part.Positions.resize(std::size_t(part.VertexCount) * frames.size());
    auto out = part.Positions.begin();
    for (int frame : frames) {
        if (whole.VertexMajor) {
            for (uint32_t v = 0; v < whole.VertexCount; ++v) *out++ = whole.Positions[whole.At(v, uint32_t(frame))];
        } else {
            const auto first = whole.Positions.begin() + std::ptrdiff_t(whole.At(0, uint32_t(frame)));
            out = std::copy(first, first + whole.VertexCount, out);
        }
        part.Transforms.push_back(whole.Transform(uint32_t(frame)));
        if (!whole.FrameNames.empty()) part.FrameNames.push_back(whole.FrameNames[std::size_t(frame)]);
    }
    part.Triangles = std::move(whole.Triangles);
    part.TexCoords = std::move(whole.TexCoords);
    part.SkinWidth = whole.SkinWidth;
    part.SkinHeight = whole.SkinHeight;
    part.VertexTexCoords = std::move(whole.VertexTexCoords);
    part.TriangleBack = std::move(whole.TriangleBack);
    part.VertexPart = std::move(whole.VertexPart);
    return part;
}

std::vector<int> framesToMeasure(int frameCount, int measureFrames)
{
    return SpreadFrames(frameCount, measureFrames > 0 ? measureFrames : frameCount);
}

}  // namespace

AnimatedMesh MeasureView(const TAnyModel& model, const std::vector<int>* frames, bool names)
{
    return model.Mesh({.VertexMajor = false, .Normals = false, .Skin = false, .Names = names, .Frames = frames});
}

Ruler RulerOf(const TAnyModel& model, int measureFrames, bool names)
{
    Ruler ruler;
    ruler.FrameCount = int(std::min<int64_t>(model.Counts().Frames, INT32_MAX));
    ruler.Frames = framesToMeasure(ruler.FrameCount, measureFrames);
    ruler.Loaded = MeasureView(model, &ruler.Frames, names);
    return ruler;
}

Ruler RulerOf(AnimatedMesh&& whole, int measureFrames)
{
    Ruler ruler;
    ruler.FrameCount = int(whole.FrameCount);
    ruler.Frames = framesToMeasure(ruler.FrameCount, measureFrames);
    ruler.Loaded = viewOfFrames(std::move(whole), ruler.Frames);
    return ruler;
}

std::variant<DeviationSummary, std::string> MeasureAgainst(const Ruler& ruler, const AnimatedMesh& other, const MeasureOptions& options)
{
    MeasureOptions numbered = options;
    numbered.Numbers = ruler.Frames;
    auto measured = MeasureDeviation(ruler.Loaded, other, numbered);
    if (auto* summary = std::get_if<DeviationSummary>(&measured)) summary->FrameCount = ruler.FrameCount;
    return measured;
}
