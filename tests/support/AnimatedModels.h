#pragma once
// Animated models for the reduction tests and benchmarks: shapes whose frames
// differ in the ways that fool a method deciding on frame 0 alone. Each has a
// uniform position scale in its header, normals from its own surface, and
// surfaces wound the same way throughout.

#include "model/MDLClass.h"

// A tube of rings x sides vertices, open at both ends, straight in frame 0;
// later frames bend its middle third further and further, up to 90 degrees in
// the last. A texture seam runs along it.
TMDLModel MakeBendingTube(int rings, int sides, int frameCount);

// A two-legged figure walking one step cycle: a body and two legs, each a tube
// of its own with a seam; the legs swing from the hips and bend at the knees.
// detail scales the rings and sides of every tube.
TMDLModel MakeWalker(int frameCount, int detail = 1);

// Two curved sheets of side x side vertices whose edges lie on each other in
// frame 0 (the same positions, different vertices); later frames lift and
// turn the second away from the first.
TMDLModel MakeTouchingParts(int side, int frameCount);

// A round open sheet of rings around a centre vertex, waving up and down: its
// border is a circle.
TMDLModel MakeWavingDisc(int rings, int sectors, int frameCount);

// The largest distance, in world units, from a vertex that a triangle of
// original uses to the nearest triangle of reduced, in frame.
double MaxVertexDistance(const TMDLModel& original, const TMDLModel& reduced, int frame);
