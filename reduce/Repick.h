#pragma once
// After the collapses, each kept vertex stands for a patch of the input: the
// removed vertices nearer to it than to any other kept one. The collapses
// chose it one edge at a time; once the fans are final, another vertex of
// its patch may follow the input's surface more closely in every frame.

#include <cstdint>
#include <vector>

struct AnimatedMesh;
struct MeshTriangle;

// Hands the place of a kept vertex to a removed vertex of its patch where
// that brings its fan nearer the input over the animation (the worst frame's
// error plus the mean) and turns no triangle of the fan over in any frame.
// Only vertices inside a surface, with one texture coordinate, give or take
// a place, so seams, borders and split seams stay as the collapses left
// them; a corner that changes vertex takes the new vertex's coordinate.
// live holds the kept triangles in mesh's numbering, source[i] the input
// triangle live[i] came from. Returns how many places changed hands.
int RepickVertices(const AnimatedMesh& mesh, std::vector<MeshTriangle>& live, const std::vector<uint32_t>& source);
