#pragma once
// One frame of a model drawn into an RGBA image: a z-buffered rasterizer with
// perspective, lit through the normal table, textured with the first skin the
// renderer can read. Plain C++: the window, the command line and the tests
// draw the same pixels.

#include <cstdint>
#include <vector>

#include "model/Geometry.h"

class TMDLModel;

// Rows top to bottom, four bytes a pixel: red, green, blue, alpha.
struct RGBAImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
};

struct RenderOptions {
    int Width = 512;
    int Height = 512;
    int Frame = 0;               // numbered from 0; outside the model draws the background only
    double YawDegrees = 35.0;    // a three-quarter view by default
    double PitchDegrees = 20.0;
    double Zoom = 1.0;           // above 1 comes nearer
    bool Wireframe = false;      // edges drawn over the surface
    bool Flat = false;           // face normals instead of the vertex normals
    bool Textured = true;        // false draws the surface untextured
};

// Draws options.Frame of model with a camera framed on view, a box in world
// space (pass AnimationBox(model), or the union of two models' boxes so that
// both share one camera). Never reads outside a list; a model with no frames
// or no triangles gives the background. Width or height below 1 gives an empty image.
RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options, const WorldBox& view);
// The same, framed on the model's own animation box.
RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options);
