#include <gtest/gtest.h>

#include "model/NormalTable.h"
#include "reduce/Progress.h"
#include "reduce/Vector.h"

namespace {

Vec3 normal(int index)
{
    Vec3 v;
    Vec3FromArray(NormalTable[std::size_t(index)], v);
    return v;
}

}  // namespace

TEST(Vector, DistancesAreSymmetricAndExact)
{
    EXPECT_EQ(Distance2D(0, 0, 3, 4), 5.0);
    EXPECT_EQ(Distance2D(3, 4, 0, 0), 5.0);
    Vec3 a;
    Vec3 b;
    SetVec3(a, 1.0f, 2.0f, 3.0f);
    SetVec3(b, 1.0f, 2.0f, 3.0f);
    EXPECT_EQ(Distance3D(a, b), 0.0);
    SetVec3(b, 3.0f, 5.0f, 9.0f);
    EXPECT_EQ(Distance3D(a, b), 7.0);
}

TEST(NormalTable, HoldsTheDeliberatelyUnevenValues)
{
    EXPECT_EQ(DotProduct(normal(5), normal(5)), 1.0);
    EXPECT_EQ(DotProduct(normal(5), normal(84)), -1.0);
    EXPECT_NEAR(DotProduct(normal(0), normal(0)), 0.9999922, 5e-8);
    EXPECT_LT(DotProduct(normal(0), normal(0)), 1.0);
    int reachingOne = 0;
    for (int i = 0; i < kNormalCount; ++i) reachingOne += DotProduct(normal(i), normal(i)) >= 1.0 ? 1 : 0;
    EXPECT_EQ(reachingOne, 91);

    // Entry 0 and entries 76 and 161 break the mirror symmetry across x = 0.
    EXPECT_EQ(NormalTable[0][0], -0.525725f);
    EXPECT_EQ(NormalTable[11][0], 0.525731f);
    EXPECT_EQ(NormalTable[76][0], 0.688197f);
    EXPECT_EQ(NormalTable[156][0], -0.688191f);
    EXPECT_EQ(NormalTable[161][2], -0.425327f);
    EXPECT_EQ(NormalTable[101][2], -0.425325f);
}

TEST(Progress, RoundsInExtendedPrecisionWithHalvesToEven)
{
    EXPECT_EQ(ProgressText(59, 200, 1), "29% Complete(Phase1/2)");
    EXPECT_EQ(ProgressText(109, 200, 2), "54% Complete(Phase2/2)");  // double precision gives 55
    EXPECT_EQ(ProgressText(23, 40, 1), "58% Complete(Phase1/2)");  // double precision gives 57
    EXPECT_EQ(ProgressText(1, 8, 1), "12% Complete(Phase1/2)");  // 12.5 to even
    EXPECT_EQ(ProgressText(3, 8, 1), "38% Complete(Phase1/2)");  // 37.5 to even
    EXPECT_EQ(ProgressText(0, 7, 2), "0% Complete(Phase2/2)");
}

TEST(Progress, GeneratorStartsWithAZeroDraw)
{
    const uint32_t saved = ProgressSeed();
    SetProgressSeed(0);
    EXPECT_EQ(ProgressDraw(), 0u);  // seed 1
    EXPECT_EQ(ProgressSeed(), 1u);
    const uint32_t second = ProgressDraw();
    EXPECT_EQ(ProgressSeed(), 134775814u);
    EXPECT_EQ(second, uint32_t((uint64_t(134775814u) * 30) >> 32));
    SetProgressSeed(saved);
}
