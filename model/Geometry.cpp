#include "model/Geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

void WorldBox::Add(const WorldPoint& point)
{
    for (int axis = 0; axis < 3; ++axis) {
        Min[axis] = Empty ? point[axis] : std::min(Min[axis], point[axis]);
        Max[axis] = Empty ? point[axis] : std::max(Max[axis], point[axis]);
    }
    Empty = false;
}

void WorldBox::Add(const WorldBox& other)
{
    if (other.Empty) return;
    Add(other.Min);
    Add(other.Max);
}

double WorldBox::Diagonal() const
{
    if (Empty) return 0;
    return std::hypot(Max[0] - Min[0], Max[1] - Min[1], Max[2] - Min[2]);
}
