#pragma once
// The collapses tried more than one way on a small model, and the way whose
// result lies nearest the input kept. At the budgets of far levels of
// detail, the path the greedy collapses happen to take decides more than
// any one weight: on the penguin's three MD3 files at a quarter, welding the
// seams and crossing them from the start lies 15% nearer; at a tenth,
// keeping the seams to their lines until nothing else is left lies 30%
// nearer, and weighing each collapse's own flattening 128 times rather than
// 16 nearer still on some models and twice as far on others. Starting afresh
// on the way down, with other rules, goes further at a tenth: the rules as
// they stand down to 1.5 times the budget and then seams crossed put
// penguin_head.md3 20% nearer. Each way is cheap on a small model, and the
// measure tells them apart.

#include <cstdint>
#include <functional>
#include <string>

#include "reduce/Quadric.h"

struct AnimatedMesh;
struct MeshSurvivors;

struct BestReduction {
    QuadricResult Result;
    int Ways = 1;              // how many ways were tried
    std::string Way;           // the way kept, in words
};

// A model of at most this many vertices times frames (those that weigh
// every frame), and of triangles, is reduced every way: each way then costs
// a fraction of a second.
inline constexpr int64_t kEveryWayUpTo = QuadricOptions{}.EveryFrameUpTo;
inline constexpr int64_t kEveryWayTriangles = 16384;

// ReduceQuadric (see there) with the rules as they stand and, on a small
// model, five more ways: split seams welded and seams crossed from the
// start; the new fan weighed 128 times (NewFanWeight); both of these; open
// borders free to move off their line from the start; frame 0's error alone
// with the new fan weighed 64 times. Three of these also start afresh from
// where they passed 1.5 or 2 times the budget (or stopped above it), with
// other rules from there. The way kept meets the budget if any does (else
// comes nearest it), and of those has the least worst-frame RMS, measured
// over up to 32 frames spread evenly with 2,000 samples a side; a later way
// must lie 2% nearer to win. Up to threads ways run at once (the first, with
// the progress, on the calling thread); the result is the same with any
// number. What progress throws ends every way (the others at their next
// tenth) and leaves ReduceBest.
BestReduction ReduceBest(const AnimatedMesh& mesh, int64_t targetTriangles, MeshSurvivors& survivors,
                         const std::function<void(double)>& progress = nullptr, unsigned threads = 1);
