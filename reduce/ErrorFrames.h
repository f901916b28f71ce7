#pragma once
// Which frames' surface errors the collapses weigh (reduce/Quadric.cpp):
// the quadrics of every weighed frame take 40 bytes a vertex, so a long
// animation weighs a few frames chosen to span its poses.

#include <cstdint>
#include <vector>

struct AnimatedMesh;
struct FrameTables;
struct QuadricOptions;

// Every frame of a small model (QuadricOptions::EveryFrameUpTo) or where
// options.ErrorFrames asks for every one; else frame 0, then again and again
// the frame farthest from every frame chosen so far, so that the extremes
// of the motion are in, until options.ErrorFrames are chosen or every pose
// left lies near a chosen one; frames that repeat a chosen pose are never
// chosen. Ascending, frame 0 first. Reads positions through unit, whose
// strides and unit box must be set.
std::vector<uint32_t> ChooseErrorFrames(const AnimatedMesh& mesh, const FrameTables& unit, const QuadricOptions& options);
