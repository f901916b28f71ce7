#pragma once
// Small geometric helpers of the reduction pass. Products, differences and
// sums are formed in 80-bit extended precision (long double on x86-64) and the
// result is rounded to double once.

#include <array>

struct Vec3 {
    float X = 0.0f;
    float Y = 0.0f;
    float Z = 0.0f;
};

void SetVec3(Vec3& Vec, float X, float Y, float Z);
void Vec3FromArray(const std::array<float, 3>& Values, Vec3& Vec);
// A.X * B.X + A.Y * B.Y + A.Z * B.Z, summed x, then y, then z.
double DotProduct(Vec3 A, Vec3 B);
double Distance3D(Vec3 A, Vec3 B);
double Distance2D(double X1, double Y1, double X2, double Y2);
