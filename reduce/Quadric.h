#pragma once
// The animation-aware reduction: half-edge collapses in order of least
// quadric error over the animation's frames (the worst frame's plus the
// mean) and of texture distortion, down to a triangle budget. The result is a
// subset of the input: no vertex is moved or made.

#include <cstdint>
#include <functional>
#include <string>

class TMDLModel;
struct AnimatedMesh;
struct MeshSurvivors;

// Rules given up, in this order, only when every collapse left is refused
// and the budget is not met yet: a texture seam may be crossed, its texture
// cost counted; then an open border may move off its line, a split seam
// may open, its shape cost counted.
enum QuadricRelaxation : uint32_t {
    kRelaxNone = 0,
    kRelaxSeams = 1,
    kRelaxBorders = 2,
};

struct QuadricResult {
    int32_t TrianglesBefore = 0;
    int32_t TrianglesAfter = 0;
    bool BudgetMet = false;
    // Why it stopped above the budget: every remaining collapse was forbidden.
    std::string StoppedBecause;
    // The relaxations some collapse used (QuadricRelaxation bits), and the
    // same in words ("crossed texture seams", empty for none).
    uint32_t Relaxations = kRelaxNone;
    std::string RelaxedRules;
};

struct QuadricOptions {
    // How many frames' surface errors are weighed at most, chosen to span
    // the animation's poses: fewer where every pose lies near one chosen; 0
    // weighs every frame. Flips and flattened triangles are checked in every
    // frame whatever this is.
    int ErrorFrames = 16;
    // A model of at most this many vertices times frames weighs every frame
    // whatever ErrorFrames says: a pose left out may be the one a collapse
    // spoils, and the quadrics of every frame take at most 5 MB here (40
    // bytes a vertex and frame). 0 leaves the choice to ErrorFrames.
    int64_t EveryFrameUpTo = int64_t(1) << 17;
    // Where texture coordinates belong to vertices one each (MD3), a seam's
    // sides are records of their own; welded, they are one vertex whose
    // corners choose among the sides' coordinates, so that a seam is no
    // border and where three charts meet the place may go (crossing seams).
    bool WeldSplitSeams = false;
    // Seams may be crossed, at their texture cost, from the first collapse
    // rather than only once nothing else is left.
    bool CrossSeamsFromStart = false;
    // An open border may move off its line, at its shape cost, from the
    // first collapse rather than only once nothing else is left. Split seams
    // still never open.
    bool MoveBordersFromStart = false;
    // The removed vertex's squared distance from the triangles that replace
    // its fan weighs this much against the planes it gathered. The planes
    // measure the surface gathered so far, spread over many collapses; the
    // new fan sees the peak or ridge that this one collapse flattens, which
    // is what shows. In quadric_bench, 2 to 32 all beat 1, 16 best over the
    // models (worst-frame RMS at a tenth of the triangles 0.90 of the poses
    // peer's against 0.96 at 1); 128 does better on some models at a tenth
    // (penguin_upper.md3 2.8% of the diagonal against 4.0%) and far worse on
    // others (faerie.md2 at a quarter 2.6% against 1.3%).
    double NewFanWeight = 16.0;
};

// A count of triangles a reduction passes on its way down, and where the
// survivors go when it first has that many or fewer live triangles: a later
// reduction may start afresh from there.
struct QuadricWaypoint {
    int64_t Triangles = 0;
    MeshSurvivors* Survivors = nullptr;  // null: no waypoint; left empty when never passed
    uint32_t* Relaxations = nullptr;     // when given: the relaxations used up to there
};

// The relaxations (QuadricRelaxation bits) in words, as RelaxedRules gives them.
std::string RelaxedRulesText(uint32_t relaxations);

// Works out which records of mesh survive a reduction to at most
// targetTriangles triangles (one or two below at most) into survivors, in
// every frame alike: vertices and texture coordinates no triangle uses any
// more go, those no triangle used in the input stay. Reads positions through
// each frame's transform, never merges vertices of different parts, and
// gives a corner that moves to vertex w of a format whose texture
// coordinates belong to vertices w's own (VertexTexCoords[w][TriangleBack]).
// A vertex-major view is fastest. A view that is not consistent is left as it
// is (survivors keep everything). Logs nothing; progress, when set, receives
// the share of the collapses done (0 to 1) at each tenth; what it throws ends
// the reduction. The waypoint, when given, takes the survivors
// on the way (see QuadricWaypoint); passing it changes nothing of the rest.
QuadricResult ReduceQuadric(const AnimatedMesh& mesh, int64_t targetTriangles, MeshSurvivors& survivors,
                            const std::function<void(double)>& progress = nullptr,
                            const QuadricOptions& options = {}, const QuadricWaypoint& waypoint = {});

// Hands the place of a kept vertex to a removed vertex nearby where the
// surface then follows the input more closely over the animation (see
// reduce/Repick.h); survivors are those of a reduction of mesh, and stay
// so. Returns how many places changed hands.
int RepickSurvivors(const AnimatedMesh& mesh, MeshSurvivors& survivors);

// The same on an MDL5 model in place: its view, the reduction, its survivors
// kept. A model whose indices are out of range is left as it is.
QuadricResult ReduceQuadric(TMDLModel& model, int64_t targetTriangles,
                            const std::function<void(double)>& progress = nullptr,
                            const QuadricOptions& options = {});
