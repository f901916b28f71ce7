#pragma once
// The animation-aware reduction: half-edge collapses in order of least
// quadric error over the animation's frames (the worst frame's plus the
// mean), down to a triangle budget. The result is a subset of the input: no
// vertex is moved or made.

#include <cstdint>
#include <functional>
#include <string>

class TMDLModel;

struct QuadricResult {
    int32_t TrianglesBefore = 0;
    int32_t TrianglesAfter = 0;
    bool BudgetMet = false;
    // Why it stopped above the budget: every remaining collapse was forbidden.
    std::string StoppedBecause;
};

struct QuadricOptions {
    // How many frames' surface errors are weighed, chosen to span the
    // animation's poses; 0 weighs every frame. Flips and flattened triangles
    // are checked in every frame whatever this is.
    int ErrorFrames = 16;
};

// Reduces model in place to at most targetTriangles triangles (one or two
// below at most), dropping vertices and skin vertices no triangle uses any
// more, in every frame alike. Logs nothing; progress, when set, receives a
// short text now and then. A model whose indices are out of range is left as it is.
QuadricResult ReduceQuadric(TMDLModel& model, int64_t targetTriangles,
                            const std::function<void(const std::string&)>& progress = nullptr,
                            const QuadricOptions& options = {});
