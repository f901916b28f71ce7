#pragma once
// One frame of a model drawn into an RGBA image: a z-buffered rasterizer with
// perspective, lit through the normal table, textured with the first skin the
// renderer can read. Plain C++: the window, the command line and the tests
// draw the same pixels.

#include <cstdint>
#include <vector>

#include "model/Geometry.h"

class TMDLModel;

// The largest width or height of any picture the renderer makes; larger
// requests give an empty image rather than gigabytes of pixels.
inline constexpr int kMaxImageSide = 16384;

// Rows top to bottom, four bytes a pixel: red, green, blue, alpha.
struct RGBAImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
};

// What is not the model: a neutral grey, a little blue so that no lit
// surface of the untextured colour matches it.
inline constexpr uint8_t kBackground[4] = {70, 74, 82, 255};

// How much of the picture's smaller side the framed ball fills at zoom 1.
inline constexpr double kFrameFill = 0.9;

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
// or no triangles gives the background. Width or height below 1 or above
// kMaxImageSide gives an empty image.
//
// The camera: Z is up; at yaw 0 and pitch 0 it stands on the +X side of the
// box's centre looking towards -X, with +Y to the right of the picture;
// yaw turns it about Z towards +Y, pitch raises it. Zoom 1 frames the ball
// through the box's corners so that its outline fills kFrameFill of the
// smaller side of the picture. The light comes from over the viewer's left
// shoulder. Skin alpha is not drawn: many skins leave it zero.
RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options, const WorldBox& view);
// The same, framed on the model's own animation box, found anew on each call:
// it reads every frame, so a view that draws often keeps AnimationBox(model)
// while the model stays the same and calls the form above.
RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options);

// left beside right, each in an options.Width x options.Height half, with one
// camera framed on the union of both animation boxes so sizes compare.
RGBAImage RenderSideBySide(const TMDLModel& left, const TMDLModel& right, const RenderOptions& options);

// Which frames a sheet shows: up to maxFrames spread evenly from the first
// to the last, ascending, each once.
std::vector<int> SheetFrames(int frameCount, int maxFrames);
// SheetFrames(model, maxFrames) in a grid of options.Width x options.Height
// cells, left to right then top to bottom, as near square as the count
// allows; options.Frame is not used. No frames gives one background cell.
RGBAImage RenderSheet(const TMDLModel& model, const RenderOptions& options, int maxFrames = 16);
