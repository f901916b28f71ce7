#include <gtest/gtest.h>

#include <cstring>

#include "model/formats/MDL5.h"
#include "model/AnimatedMesh.h"
#include "model/Geometry.h"
#include "tests/support/ModelBuilder.h"

// The box is found from packed extremes; it must equal the box of every
// vertex placed one by one, also where a negative scale turns an axis round.
TEST(Geometry, AnimationBoxHoldsEveryPlacedVertexOfEveryFrame)
{
    TMDLModel model = MakeTorus(9, 7, 4);
    SetPositionTransform(model, {0.01f, -0.5f, 3e-4f}, {-7.0f, 2.5f, 0.125f});
    std::vector<uint8_t> file = model.SaveToBytes();
    float scaleY = 0, offsetZ = 0;
    std::memcpy(&scaleY, &file[12], 4);  // the scale at offset 8, the offset at 20
    std::memcpy(&offsetZ, &file[28], 4);
    EXPECT_EQ(scaleY, -0.5f);
    EXPECT_EQ(offsetZ, 0.125f);

    const PositionTransform transform = PositionTransformOf(model.Header);
    WorldBox plain;
    for (const TMDLFrame& frame : model.Frames)
        for (const FrameVert& vert : frame.Items) plain.Add(transform.Apply(vert));
    const WorldBox box = AnimationBox(model);
    EXPECT_FALSE(box.Empty);
    EXPECT_EQ(box.Min, plain.Min);
    EXPECT_EQ(box.Max, plain.Max);
    // The view, in either layout, gives the same box.
    for (bool vertexMajor : {false, true}) {
        const WorldBox viewBox = AnimationBox(MeshOf(model, {.VertexMajor = vertexMajor, .Normals = false, .Skin = false}));
        EXPECT_EQ(viewBox.Min, plain.Min) << vertexMajor;
        EXPECT_EQ(viewBox.Max, plain.Max) << vertexMajor;
    }

    WorldBox lastFrame;
    for (const FrameVert& vert : model.Frames[3].Items) lastFrame.Add(transform.Apply(vert));
    EXPECT_EQ(FrameBox(model, 3).Min, lastFrame.Min);
    EXPECT_EQ(FrameBox(model, 3).Max, lastFrame.Max);
    EXPECT_TRUE(FrameBox(model, 4).Empty);
    EXPECT_TRUE(AnimationBox(MakeModel({}, {}, {})).Empty);
}
