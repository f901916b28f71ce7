#pragma once
// Shapes whose distances are known in closed form, for the measure's tests
// and benchmarks: flat plates and spheres refined from an octahedron.

#include <array>
#include <cstdint>
#include <vector>

#include "model/MDLClass.h"
#include "tests/support/ModelBuilder.h"  // SetPositionTransform

// A flat rectangle from (0, 0) to (width, height) in packed units, split into
// cells x cells squares of two triangles each, lying at Z = frameZ[f] in
// frame f. Scale 1 and offset 0.
TMDLModel MakePlate(uint16_t width, uint16_t height, int cells, const std::vector<uint16_t>& frameZ);

// One frame of a sphere of radius packed units around (32768, 32768, 32768):
// each face of an octahedron cut into divisions x divisions triangles whose
// corners are pushed out onto the sphere. divisions 1 gives the octahedron
// itself; a multiple of 3 puts a vertex at the middle of every face.
// Scale 1 and offset 0.
TMDLModel MakeSphere(int divisions, double radius);
