#include "reduce/SurfacePieces.h"

#include <numeric>

#include "reduce/SplitSeams.h"

SurfacePieces FindSurfacePieces(const std::vector<MeshTriangle>& triangles, uint32_t vertexCount, const PlaceGroups& seams)
{
    SurfacePieces pieces;
    std::vector<uint32_t>& pieceOf = pieces.Of;
    pieceOf.resize(vertexCount);
    std::iota(pieceOf.begin(), pieceOf.end(), 0u);
    const auto root = [&](uint32_t v) {
        while (pieceOf[v] != v) v = pieceOf[v] = pieceOf[pieceOf[v]];
        return v;
    };
    for (const MeshTriangle& tri : triangles) {
        pieceOf[root(tri.Vertex[0])] = root(tri.Vertex[1]);
        pieceOf[root(tri.Vertex[1])] = root(tri.Vertex[2]);
    }
    for (uint32_t group = 0; group < seams.Count(); ++group)
        for (uint32_t twin : seams.Of(group)) pieceOf[root(twin)] = root(seams.Of(group)[0]);
    for (uint32_t v = 0; v < vertexCount; ++v) pieceOf[v] = root(v);
    pieces.Triangles.assign(vertexCount, 0);
    for (const MeshTriangle& tri : triangles) ++pieces.Triangles[pieceOf[tri.Vertex[0]]];
    return pieces;
}
