#include "reduce/QuadricMath.h"

#include <cmath>
#include <cstddef>

void Quadric::AddPlane(const Vec3& n, double d, double w)
{
    A00 += float(w * n[0] * n[0]);
    A01 += float(w * n[0] * n[1]);
    A02 += float(w * n[0] * n[2]);
    A11 += float(w * n[1] * n[1]);
    A12 += float(w * n[1] * n[2]);
    A22 += float(w * n[2] * n[2]);
    B0 += float(w * n[0] * d);
    B1 += float(w * n[1] * d);
    B2 += float(w * n[2] * d);
    C += float(w * d * d);
}

void Quadric::Add(const Quadric& q)
{
    A00 += q.A00; A01 += q.A01; A02 += q.A02; A11 += q.A11; A12 += q.A12; A22 += q.A22;
    B0 += q.B0; B1 += q.B1; B2 += q.B2; C += q.C;
}

bool TrianglePlane(const Vec3& a, const Vec3& b, const Vec3& c, Vec3& unit, double& twiceArea)
{
    const auto n = Cross(Minus(b, a), Minus(c, a));
    const double length = std::sqrt(Dot(n, n));
    if (length == 0) return false;
    unit = {n[0] / length, n[1] / length, n[2] / length};
    twiceArea = length;
    return true;
}

bool EdgePlane(const Vec3& a, const Vec3& b, const Vec3& c, Vec3& unit, double& edgeLength2)
{
    const auto edge = Minus(b, a);
    const auto normal = Cross(edge, Minus(c, a));
    const auto across = Cross(edge, normal);
    const double length = std::sqrt(Dot(across, across));
    if (length == 0) return false;
    unit = {across[0] / length, across[1] / length, across[2] / length};
    edgeLength2 = Dot(edge, edge);
    return true;
}

bool TriangleTextureGradients(const Vec3& p0, const Vec3& e1, const Vec3& e2, const std::array<std::array<double, 2>, 3>& uv,
                              TextureGradients& out)
{
    const double e11 = Dot(e1, e1), e12 = Dot(e1, e2), e22 = Dot(e2, e2);
    const double det = e11 * e22 - e12 * e12;  // |e1 x e2|^2
    if (!(det > 0)) return false;
    out.Area = 0.5 * std::sqrt(det);
    // The gradient in the triangle's plane: g = a e1 + b e2 with
    // g.e1 and g.e2 the coordinate's changes along the two edges.
    const auto gradient = [&](std::size_t channel, double& offset) {
        const double d1 = uv[1][channel] - uv[0][channel];
        const double d2 = uv[2][channel] - uv[0][channel];
        const double a = (d1 * e22 - d2 * e12) / det;
        const double b = (d2 * e11 - d1 * e12) / det;
        const Vec3 g{a * e1[0] + b * e2[0], a * e1[1] + b * e2[1], a * e1[2] + b * e2[2]};
        offset = uv[0][channel] - Dot(g, p0);
        return g;
    };
    out.GU = gradient(0, out.DU);
    out.GV = gradient(1, out.DV);
    return true;
}

void TextureQuadric::AddTriangle(const TextureGradients& g)
{
    const Vec3& gu = g.GU;
    const Vec3& gv = g.GV;
    const double du = g.DU, dv = g.DV, a = g.Area;
    G00 += float(a * (gu[0] * gu[0] + gv[0] * gv[0]));
    G01 += float(a * (gu[0] * gu[1] + gv[0] * gv[1]));
    G02 += float(a * (gu[0] * gu[2] + gv[0] * gv[2]));
    G11 += float(a * (gu[1] * gu[1] + gv[1] * gv[1]));
    G12 += float(a * (gu[1] * gu[2] + gv[1] * gv[2]));
    G22 += float(a * (gu[2] * gu[2] + gv[2] * gv[2]));
    for (std::size_t i = 0; i < 3; ++i) {
        KU[i] += float(a * gu[i]);
        KV[i] += float(a * gv[i]);
    }
    H0 += float(a * (gu[0] * du + gv[0] * dv));
    H1 += float(a * (gu[1] * du + gv[1] * dv));
    H2 += float(a * (gu[2] * du + gv[2] * dv));
    E += float(a * (du * du + dv * dv));
    FU += float(a * du);
    FV += float(a * dv);
    A += float(a);
}

void TextureQuadric::Add(const TextureQuadric& q)
{
    G00 += q.G00; G01 += q.G01; G02 += q.G02; G11 += q.G11; G12 += q.G12; G22 += q.G22;
    H0 += q.H0; H1 += q.H1; H2 += q.H2; E += q.E;
    for (std::size_t i = 0; i < 3; ++i) {
        KU[i] += q.KU[i];
        KV[i] += q.KV[i];
    }
    FU += q.FU; FV += q.FV; A += q.A;
}
