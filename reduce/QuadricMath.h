#pragma once
// The error quadrics of the collapses (reduce/Quadric.cpp): a vertex's
// planes in one frame, and a side's texture as a linear function of
// position over its triangles. Stored in float to keep the tables small,
// evaluated in double, every expression in the order written: the
// collapses' results depend on these bit for bit.

#include <algorithm>
#include <array>

#include "model/Geometry.h"

using Vec3 = WorldPoint;

// One frame's quadric of a vertex; positions are scaled into the unit box
// first, so that no term dwarfs the errors compared.
struct Quadric {
    float A00 = 0, A01 = 0, A02 = 0, A11 = 0, A12 = 0, A22 = 0;
    float B0 = 0, B1 = 0, B2 = 0, C = 0;

    // The plane n.x + d = 0 (n of unit length) with weight w.
    void AddPlane(const Vec3& n, double d, double w);
    void Add(const Quadric& q);
    // x^T A x + 2 b.x + c; never below 0, whatever the float rounding.
    // Inline: every candidate of every look evaluates it in every chosen frame.
    double ErrorAt(const Vec3& x) const
    {
        const double ax = double(A00) * x[0] + double(A01) * x[1] + double(A02) * x[2];
        const double ay = double(A01) * x[0] + double(A11) * x[1] + double(A12) * x[2];
        const double az = double(A02) * x[0] + double(A12) * x[1] + double(A22) * x[2];
        const double e = x[0] * ax + x[1] * ay + x[2] * az + 2.0 * (double(B0) * x[0] + double(B1) * x[1] + double(B2) * x[2]) + double(C);
        return std::max(e, 0.0);
    }
};

// The unit normal of the plane through a, b and c (wound so), and the length
// of (b - a) x (c - a), twice the triangle's area; false, with neither set,
// for a triangle without area.
bool TrianglePlane(const Vec3& a, const Vec3& b, const Vec3& c, Vec3& unit, double& twiceArea);

// The unit vector in the plane of a, b and c at right angles to the edge
// a b, and the edge's squared length; false, with neither set, for a
// triangle without area.
bool EdgePlane(const Vec3& a, const Vec3& b, const Vec3& c, Vec3& unit, double& edgeLength2);

// A triangle's texture coordinate (u, v) as a linear function of position
// within its plane: u = GU.p + DU, v = GV.p + DV.
struct TextureGradients {
    Vec3 GU{}, GV{};
    double DU = 0, DV = 0;
    double Area = 0;
};

// The gradients of the triangle p0 p0+e1 p0+e2 whose corners show the
// coordinates uv; false for a triangle without area.
bool TriangleTextureGradients(const Vec3& p0, const Vec3& e1, const Vec3& e2, const std::array<std::array<double, 2>, 3>& uv,
                              TextureGradients& out);

// A side's texture quadric: the sum over its triangles of area times
// (g_u.p + d_u - u)^2 + (g_v.p + d_v - v)^2, where g.p + d is the triangle's
// texture coordinate as a linear function of position within its plane.
// Kept in the parts that do not depend on (u, v) and those that do: 19
// numbers (positions and coordinates are both within the unit box's scale).
struct TextureQuadric {
    float G00 = 0, G01 = 0, G02 = 0, G11 = 0, G12 = 0, G22 = 0;  // sum a (g_u g_u^T + g_v g_v^T)
    float H0 = 0, H1 = 0, H2 = 0;                                // sum a (g_u d_u + g_v d_v)
    float E = 0;                                                 // sum a (d_u^2 + d_v^2)
    std::array<float, 3> KU{}, KV{};                             // sum a g_u, sum a g_v
    float FU = 0, FV = 0;                                        // sum a d_u, sum a d_v
    float A = 0;                                                 // sum a

    void AddTriangle(const TextureGradients& g);
    void Add(const TextureQuadric& q);
    double ErrorAt(const Vec3& p, double u, double v) const
    {
        const double gx = double(G00) * p[0] + double(G01) * p[1] + double(G02) * p[2];
        const double gy = double(G01) * p[0] + double(G11) * p[1] + double(G12) * p[2];
        const double gz = double(G02) * p[0] + double(G12) * p[1] + double(G22) * p[2];
        const double ku = double(KU[0]) * p[0] + double(KU[1]) * p[1] + double(KU[2]) * p[2] + double(FU);
        const double kv = double(KV[0]) * p[0] + double(KV[1]) * p[1] + double(KV[2]) * p[2] + double(FV);
        const double e = p[0] * gx + p[1] * gy + p[2] * gz + 2.0 * (double(H0) * p[0] + double(H1) * p[1] + double(H2) * p[2]) +
                         double(E) - 2.0 * u * ku - 2.0 * v * kv + double(A) * (u * u + v * v);
        return std::max(e, 0.0);
    }
};
