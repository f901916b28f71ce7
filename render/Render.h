#pragma once
// One frame of an animated mesh drawn into an RGBA image: a z-buffered
// rasterizer with perspective, lit through the stored vertex normals, textured
// with each triangle's skin. Plain C++ over the format-neutral view: the
// window, the command line and the tests draw the same pixels of any format.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/Geometry.h"

class TMDLModel;

// The largest width or height of any picture the renderer makes, and the most
// pixels of one picture in all (a sheet or a pair counted whole): larger
// requests give an empty image rather than gigabytes of pixels.
inline constexpr int kMaxImageSide = 16384;
inline constexpr int64_t kMaxImagePixels = 64'000'000;

// A palette for 8-bit skins, which carry none: 256 red, green, blue triples,
// as .lmp and raw .pal files hold them.
inline constexpr std::size_t kPaletteBytes = 768;

// Rows top to bottom, four bytes a pixel: red, green, blue, alpha.
struct RGBAImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
};

// What is not the model: a neutral grey, a little blue so that no lit
// surface of the untextured colour matches it.
inline constexpr uint8_t kBackground[4] = {70, 74, 82, 255};

// How much of the picture the framed points fill at zoom 1: of its smaller
// side for a ball, of its width or its height (whichever binds) for poses.
inline constexpr double kFrameFill = 0.9;

// What the camera is framed on where the renderer chooses: every frame of the
// animation (frames and models compare at one scale), or the frame drawn alone
// (it fills the picture).
enum class CameraFit : uint8_t { Animation, Frame };

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
    CameraFit Fit = CameraFit::Animation;  // for the forms below that take no view box
    // kPaletteBytes of RGB for an 8-bit skin; any other size (empty) draws its
    // indices as greys stretched from the lowest index the skin uses to the
    // highest, so that a skin of a few dark indices still shows its texture.
    std::vector<uint8_t> Palette;
};

// What the camera frames. The eye stands on the side yaw and pitch say,
// outside the ball through Box's corners, looking at its centre. A framing
// made from a box alone frames that ball, which shows at one size from every
// side: a view that turns keeps its scale. A framing of poses (PoseFraming)
// frames the points themselves as that eye sees them, as large as they fit:
// for pictures taken from the direction it was made for (another direction
// frames the ball instead).
struct CameraFraming {
    WorldBox Box;
    bool Poses = false;
    double YawDegrees = 0;  // the direction the poses were seen from
    double PitchDegrees = 0;
    // As that eye sees the poses, in x / depth (rightwards) and y / depth
    // (upwards): the width and the height that fill kFrameFill of the
    // picture's width or height, whichever binds, and the point put at the
    // picture's middle.
    double Across = 0, Upwards = 0, MiddleX = 0, MiddleY = 0;

    CameraFraming() = default;
    CameraFraming(const WorldBox& box) : Box(box) {}  // implicit: a box alone frames its ball
};

// The framing of the given frames of each mesh (frames a mesh lacks are left
// out), seen from options' yaw and pitch: every vertex of those poses inside
// kFrameFill of the picture, their extent centred. Frame a series of
// pictures (a sheet, an animation, a pair) on all the poses it shows, so that
// no picture of it jumps. Reads each pose's vertices once.
CameraFraming PoseFraming(std::span<const AnimatedMesh* const> meshes, std::span<const int> frames, const RenderOptions& options);

// Draws options.Frame of mesh with a camera framed as framing says (a world
// box such as AnimationBox(mesh) frames its ball). Never reads outside a list, even of a view that is
// not IsConsistent(): a triangle naming a vertex or texture coordinate the
// view lacks is skipped or drawn untextured. A mesh with no frames or no
// triangles gives the background. Width or height below 1 or above
// kMaxImageSide, or more than kMaxImagePixels in all, gives an empty image.
//
// The camera: Z is up; at yaw 0 and pitch 0 it stands on the +X side of the
// box's centre looking towards -X, with +Y to the right of the picture;
// yaw turns it about Z towards +Y, pitch raises it. Zoom 1 frames the ball
// through the box's corners so that its outline fills kFrameFill of the
// smaller side of the picture, or the poses as PoseFraming says. The light
// comes from over the viewer's left shoulder. Skin alpha is not drawn: many
// skins leave it zero.
RGBAImage RenderFrame(const AnimatedMesh& mesh, const RenderOptions& options, const CameraFraming& framing);
// The same, framed on the poses options.Fit names: options.Frame's alone, or
// every frame's.
RGBAImage RenderFrame(const AnimatedMesh& mesh, const RenderOptions& options);

// left beside right, each in an options.Width x options.Height half, with one
// camera framed on the poses of both meshes (options.Frame's or every
// frame's, as options.Fit says) so sizes compare.
RGBAImage RenderSideBySide(const AnimatedMesh& left, const AnimatedMesh& right, const RenderOptions& options);

// Which frames a sheet shows: up to maxFrames spread evenly from the first
// to the last, ascending, each once.
std::vector<int> SheetFrames(int frameCount, int maxFrames);
// SheetFrames(mesh, maxFrames) in a grid of options.Width x options.Height
// cells, left to right then top to bottom, as near square as the count
// allows; options.Frame is not used. Every cell at one scale, the largest
// of the poses shown filling its cell, and each pose in the middle of its
// own cell (a pose lying far from another still fills its cell); a pose
// more than 1.8 times as wide or tall as the first may reach past its cell,
// so that the first fills at least half of its own. Each frame framed alone
// when options.Fit is Frame. No frames gives one background cell.
RGBAImage RenderSheet(const AnimatedMesh& mesh, const RenderOptions& options, int maxFrames = 16);

// The MDL5 model's forms: the same pictures of MeshOf(model). Each builds the
// view anew: a caller that draws one model often keeps its view.
RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options, const CameraFraming& framing);
RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options);
RGBAImage RenderSideBySide(const TMDLModel& left, const TMDLModel& right, const RenderOptions& options);
RGBAImage RenderSheet(const TMDLModel& model, const RenderOptions& options, int maxFrames = 16);
