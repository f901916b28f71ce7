// ReduceQuadric: half-edge collapses in order of least error over the animation.
//
// A collapse v -> w deletes v and hands its triangles to w; every kept vertex
// keeps its own position in every frame, so the result is a subset of the input.
// Its cost has two parts. The shape: the quadric error of v (the planes of
// the triangles v has gathered so far) at w's position in each frame, plus
// v's area-weighted squared distance from the triangles that replace its fan,
// weighed 16 times the planes: what this one collapse flattens shows most;
// the worst frame's error plus the mean over frames. The texture: each side
// of v (the corners that share one texture coordinate, a wedge) carries a
// quadric of how its texture coordinates vary over the surface, a linear
// function per triangle as in the appearance quadrics of Garland and Heckbert
// and in Hoppe's compact form; evaluated at w's position (frame 0) and the
// texture coordinate the side takes at w, it says how far, in surface units,
// the texture slides. A seam shortened along a straight line in the texture
// costs nothing; across a seam costs what it stretches.
//
// A collapse is refused by rules that keep the surface whole, its borders,
// seams and pieces where they are and no triangle turned over in any frame,
// and the rules relax when nothing else is left (see reduce/Collapser.cpp).
// Asked to, the split seams of a view whose coordinates belong to vertices
// one each (MD3) are welded first (see reduce/SplitSeams.h).
//
// Per-frame quadrics are stored for every frame of a small model, else for a
// few frames chosen to span the animation's poses (40 bytes per vertex and
// weighed frame; their positions are read from the view); flips and
// flattened triangles are checked in every frame on the view's positions,
// vertex by vertex when the view is vertex-major.
//
// Where the pieces are, in the order the entry below calls them:
//   reduce/SplitSeams      split seams grouped and welded; survivors listed
//   reduce/FrameTables     the tables built once: unit box, weighed frames
//   reduce/ErrorFrames     which frames' errors are weighed
//   reduce/Collapser       the queue, the costs, the rules and the collapses
//   reduce/SurfaceQuadrics the planes and texture sides of the live surface
//   reduce/QuadricMath     the quadrics' arithmetic

#include "reduce/Quadric.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/formats/MDL5.h"
#include "reduce/Collapser.h"
#include "reduce/FrameTables.h"
#include "reduce/Repick.h"
#include "reduce/SplitSeams.h"

namespace {

void keepEverything(const AnimatedMesh& mesh, MeshSurvivors& survivors)
{
    survivors.Vertices.resize(mesh.VertexCount);
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) survivors.Vertices[v] = v;
    survivors.TexCoords.resize(mesh.TexCoords.size());
    for (uint32_t s = 0; s < survivors.TexCoords.size(); ++s) survivors.TexCoords[s] = s;
    survivors.Triangles = mesh.Triangles;
    survivors.TriangleSource.resize(mesh.Triangles.size());
    for (uint32_t t = 0; t < survivors.TriangleSource.size(); ++t) survivors.TriangleSource[t] = t;
}

// Only a model whose lists agree with each other is reduced; the loader
// checks this for files, but a model put together in memory may not.
bool canReduce(const TMDLModel& model)
{
    if (model.Frames.empty()) return false;
    const std::size_t vertexCount = model.Frames[0].Items.size();
    for (const TMDLFrame& frame : model.Frames)
        if (frame.Items.size() != vertexCount || frame.Count != int32_t(vertexCount)) return false;
    return model.Header.NumVerts == int32_t(vertexCount) && model.Triangles.Items.size() == std::size_t(model.Triangles.Count) &&
           model.SkinVerts.Items.size() == std::size_t(model.SkinVerts.Count);
}

}  // namespace

std::string RelaxedRulesText(uint32_t relaxations)
{
    std::string text;
    if (relaxations & kRelaxSeams) text = "crossed texture seams";
    if (relaxations & kRelaxBorders) text += std::string(text.empty() ? "" : " and ") + "moved open borders off their line";
    return text;
}

QuadricResult ReduceQuadric(const AnimatedMesh& mesh, int64_t targetTriangles, MeshSurvivors& survivors,
                            const std::function<void(double)>& progress, const QuadricOptions& options,
                            const QuadricWaypoint& waypoint)
{
    QuadricResult result;
    result.TrianglesBefore = int32_t(mesh.Triangles.size());
    result.TrianglesAfter = result.TrianglesBefore;
    if (waypoint.Survivors) *waypoint.Survivors = {};
    const int64_t target = std::max<int64_t>(targetTriangles, 0);

    // 1. nothing to do, or lists that do not agree: everything stays
    if (result.TrianglesBefore <= target) {
        result.BudgetMet = true;
        keepEverything(mesh, survivors);
        return result;
    }
    if (mesh.FrameCount == 0 || mesh.VertexCount >= kNone / 4 || mesh.TexCoords.size() >= kNone || !mesh.IsConsistent()) {
        result.StoppedBecause = "the model's indices or counts do not agree with its lists";
        keepEverything(mesh, survivors);
        return result;
    }

    // 2. the view the collapses see: split seams welded, where asked and where there are any
    WeldedView welded;
    const bool weld = options.WeldSplitSeams && WeldSplitSeams(mesh, welded);
    const AnimatedMesh& view = weld ? welded.Mesh : mesh;

    // 3. the tables built once: each frame's unit box, the frames whose errors are weighed
    const FrameTables tables = BuildFrameTables(view, options);

    // 4. the collapses, down to the budget; the waypoint's survivors on the way
    MeshSurvivors fromWelded, passedWelded;
    const QuadricWaypoint passing =
        weld ? QuadricWaypoint{waypoint.Triangles, waypoint.Survivors ? &passedWelded : nullptr, waypoint.Relaxations} : waypoint;
    result.Relaxations = CollapseToBudget(view, tables, target, options, progress, passing, weld ? fromWelded : survivors);

    // 5. the survivors in the records of the view asked about
    if (weld) {
        UnweldSurvivors(mesh, welded, std::move(fromWelded), survivors);
        if (waypoint.Survivors && !passedWelded.Triangles.empty())
            UnweldSurvivors(mesh, welded, std::move(passedWelded), *waypoint.Survivors);
    }

    // 6. what it came to
    result.TrianglesAfter = int32_t(survivors.Triangles.size());
    result.BudgetMet = result.TrianglesAfter <= target;
    result.RelaxedRules = RelaxedRulesText(result.Relaxations);
    if (!result.BudgetMet)
        result.StoppedBecause = "every remaining collapse would turn over or flatten a triangle in some frame, join surfaces "
                                "that are apart, take the last triangle of a piece of surface, or meet where borders or seams "
                                "cross";
    return result;
}

int RepickSurvivors(const AnimatedMesh& mesh, MeshSurvivors& survivors)
{
    std::vector<MeshTriangle> live = survivors.Triangles;
    for (MeshTriangle& tri : live)
        for (std::size_t j = 0; j < 3; ++j) {
            tri.Vertex[j] = survivors.Vertices[tri.Vertex[j]];
            tri.TexCoord[j] = survivors.TexCoords[tri.TexCoord[j]];
        }
    const int changed = RepickVertices(mesh, live, survivors.TriangleSource);
    if (changed > 0) ListSurvivors(mesh, live, std::vector<uint32_t>(survivors.TriangleSource), survivors);
    return changed;
}

QuadricResult ReduceQuadric(TMDLModel& model, int64_t targetTriangles, const std::function<void(double)>& progress,
                            const QuadricOptions& options)
{
    QuadricResult result;
    result.TrianglesBefore = int32_t(model.Triangles.Items.size());
    result.TrianglesAfter = result.TrianglesBefore;
    if (result.TrianglesBefore <= std::max<int64_t>(targetTriangles, 0)) {
        result.BudgetMet = true;
        return result;
    }
    if (!canReduce(model)) {
        result.StoppedBecause = "the model's indices or counts do not agree with its lists";
        return result;
    }
    MeshSurvivors survivors;
    {
        // The view holds every frame's positions once more, vertex by vertex:
        // gone before the model's records shrink.
        const AnimatedMesh mesh = MeshOf(model, MeshOptions{.VertexMajor = true, .Normals = false, .Skin = false});
        result = ReduceQuadric(mesh, targetTriangles, survivors, progress, options);
    }
    if (result.TrianglesAfter != result.TrianglesBefore) KeepSurvivors(model, survivors);
    return result;
}
