#include "reduce/Vector.h"

#include <cmath>

void SetVec3(Vec3& Vec, float X, float Y, float Z)
{
    Vec.X = X;
    Vec.Y = Y;
    Vec.Z = Z;
}

void Vec3FromArray(const std::array<float, 3>& Values, Vec3& Vec)
{
    SetVec3(Vec, Values[0], Values[1], Values[2]);
}

double DotProduct(Vec3 A, Vec3 B)
{
    const long double sum = (long double)A.X * B.X + (long double)A.Y * B.Y + (long double)A.Z * B.Z;
    return double(sum);
}

double Distance3D(Vec3 A, Vec3 B)
{
    const long double dx = (long double)A.X - B.X;
    const long double dy = (long double)A.Y - B.Y;
    const long double dz = (long double)A.Z - B.Z;
    return double(std::sqrt(dx * dx + dy * dy + dz * dz));
}

double Distance2D(double X1, double Y1, double X2, double Y2)
{
    const long double dx = (long double)X1 - X2;
    const long double dy = (long double)Y1 - Y2;
    return double(std::sqrt(dx * dx + dy * dy));
}
