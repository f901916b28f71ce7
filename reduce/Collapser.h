#pragma once
// The collapser proper of ReduceQuadric (reduce/Quadric.h): the queue of
// half-edge collapses, their costs, the rules that refuse them and the
// collapses themselves, on one view whose tables are built.

#include <cstdint>
#include <functional>
#include <string>

struct AnimatedMesh;
struct FrameTables;
struct MeshSurvivors;
struct QuadricOptions;
struct QuadricWaypoint;

// Collapses view in order of least cost until at most target triangles are
// live or every collapse left is refused, relaxing the rules on the way (see
// reduce/Collapser.cpp), and lists what survives into survivors in view's
// numbering. tables are view's (BuildFrameTables). progress, when set,
// receives a short text now and then; the waypoint, when given, takes the
// survivors on the way. Returns the relaxations used (QuadricRelaxation
// bits; crossing seams from the start, when asked, is none).
uint32_t CollapseToBudget(const AnimatedMesh& view, const FrameTables& tables, int64_t target, const QuadricOptions& options,
                          const std::function<void(double)>& progress, const QuadricWaypoint& waypoint,
                          MeshSurvivors& survivors);
