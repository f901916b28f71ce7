#include "render/Render.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "model/NormalTable.h"
#include "model/formats/MDL5.h"

namespace {

using Vec = std::array<double, 3>;

// Half the vertical and horizontal field of view: a mild perspective, enough
// to tell near from far without distorting a model seen close up.
constexpr double kHalfFieldRadians = 20.0 * std::numbers::pi / 180.0;
// Screen positions are snapped to 1/16 pixel, so that coverage is decided in
// exact integer arithmetic: no crack between neighbours, same pixels everywhere.
constexpr int kSubpixelBits = 4;
constexpr int64_t kSubpixels = int64_t(1) << kSubpixelBits;
// Beyond this many pixels from the picture a corner is not drawn: it keeps the
// edge products far inside 64 bits. Only a view box that misses the model
// (or a huge zoom) puts corners there.
constexpr double kMaxScreenPixels = double(1 << 24);
constexpr double kAmbient = 0.3;
constexpr double kDiffuse = 0.7;
// An edge stays visible up to this far (as a share of 1/depth) behind the
// surface it bounds, which its own rasterized pixels only approximate.
constexpr float kWireDepthSlack = 1.01f;
constexpr uint8_t kSurfaceColour[3] = {200, 196, 188};  // untextured: warm grey
constexpr uint8_t kWireColour[3] = {250, 210, 60};  // amber: shows on dark skins and light ones

// The shared arithmetic (model/Geometry.h) as operators, for the camera's sums.
Vec operator-(const Vec& a, const Vec& b) { return Minus(a, b); }
Vec operator+(const Vec& a, const Vec& b) { return Plus(a, b); }
Vec operator*(const Vec& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
Vec normalized(const Vec& a)
{
    const double length = std::sqrt(Dot(a, a));
    return length > 0 ? a * (1.0 / length) : Vec{0, 0, 0};
}

struct Camera {
    Vec Eye{};
    Vec Right{};
    Vec Up{};
    Vec Forward{};
    Vec ToLight{};     // unit vector from a surface towards the light
    double Focal = 1;  // pixels per unit of x / depth
    double NearDepth = 0;
    double Distance = 1;  // from the eye to the box's centre
    double CentreX = 0;
    double CentreY = 0;
};

// The eye, its axes and its distance: on the side yaw and pitch say, outside
// the ball through the box's corners, looking at its centre. Focal and the
// picture's centre are the framing's to set.
Camera eyeFor(const WorldBox& view, double yawDegrees, double pitchDegrees)
{
    Camera camera;
    const Vec centre = view.Empty ? Vec{0, 0, 0} : (view.Min + view.Max) * 0.5;
    double radius = view.Diagonal() * 0.5;
    // A point, or no box at all: any size frames nothing worth seeing.
    if (!(radius > 0) || !std::isfinite(radius)) radius = 1;
    const double yaw = yawDegrees * std::numbers::pi / 180.0;
    const double pitch = std::clamp(pitchDegrees, -90.0, 90.0) * std::numbers::pi / 180.0;
    const Vec towardsEye{std::cos(pitch) * std::cos(yaw), std::cos(pitch) * std::sin(yaw), std::sin(pitch)};
    // Right depends on the yaw alone, so a view straight down still has one.
    camera.Right = {-std::sin(yaw), std::cos(yaw), 0};
    camera.Forward = towardsEye * -1.0;
    camera.Up = Cross(camera.Right, camera.Forward);
    // At this distance the ball's outline is seen under the half field exactly.
    const double distance = radius / std::sin(kHalfFieldRadians);
    camera.Eye = centre + towardsEye * distance;
    camera.Distance = distance;
    camera.NearDepth = 1e-3 * radius;
    camera.ToLight = normalized(camera.Forward * -0.7 + camera.Up * 0.55 + camera.Right * -0.45);
    return camera;
}

// How much wider or taller than a sheet's first pose its scale allows
// another pose to be: at kFrameFill, the first fills at least half its cell.
constexpr double kMostPoseSpread = kFrameFill / 0.5;

// Extents of poses narrower than this share of the ball's are taken for none:
// a flat pose seen edge on, or a single point, is framed by its other side or its ball.
constexpr double kLeastPoseSpan = 1e-9;

Camera cameraFor(const CameraFraming& framing, const RenderOptions& options)
{
    Camera camera = eyeFor(framing.Box, options.YawDegrees, options.PitchDegrees);
    const double zoom = std::isfinite(options.Zoom) && options.Zoom > 0 ? std::clamp(options.Zoom, 1e-3, 1e3) : 1.0;
    // Zoom narrows the field rather than moving the eye, which therefore
    // never enters the ball and never needs to clip a triangle at the eye.
    const double ballTangent = std::tan(kHalfFieldRadians);
    camera.Focal = zoom * kFrameFill * 0.5 * std::min(options.Width, options.Height) / ballTangent;
    camera.CentreX = 0.5 * options.Width;
    camera.CentreY = 0.5 * options.Height;
    // Poses seen from another side than they were framed for may reach past
    // their extent: the ball holds them from every side.
    if (!framing.Poses || framing.YawDegrees != options.YawDegrees || framing.PitchDegrees != options.PitchDegrees) return camera;
    const double least = kLeastPoseSpan * ballTangent;
    if (!(framing.Across > least) && !(framing.Upwards > least)) return camera;
    const double byWidth = framing.Across > least ? options.Width / framing.Across : INFINITY;
    const double byHeight = framing.Upwards > least ? options.Height / framing.Upwards : INFINITY;
    camera.Focal = zoom * kFrameFill * std::min(byWidth, byHeight);
    // Screen y grows downwards.
    camera.CentreX = 0.5 * options.Width - camera.Focal * framing.MiddleX;
    camera.CentreY = 0.5 * options.Height + camera.Focal * framing.MiddleY;
    return camera;
}

// Where a pose's points fall as the eye sees them: x / depth and y / depth,
// least and greatest.
struct Extent {
    double Left = INFINITY, Right = -INFINITY, Bottom = INFINITY, Top = -INFINITY;
    void Add(const Extent& other)
    {
        Left = std::min(Left, other.Left), Right = std::max(Right, other.Right);
        Bottom = std::min(Bottom, other.Bottom), Top = std::max(Top, other.Top);
    }
    // False for no points, or points that are not finite (only in a view built in memory).
    bool Finite() const { return std::isfinite(Left) && std::isfinite(Right) && std::isfinite(Bottom) && std::isfinite(Top); }
};

// The framing of the poses (frames of meshes) together, and each frame's own
// extent from the same eye in poses (one per frame, the meshes together).
CameraFraming framingOf(std::span<const AnimatedMesh* const> meshes, std::span<const int> frames, const RenderOptions& options,
                        std::vector<Extent>& poses)
{
    CameraFraming framing;
    poses.assign(frames.size(), Extent());
    const auto inMesh = [](const AnimatedMesh& mesh, int frame) {
        return frame >= 0 && uint32_t(frame) < mesh.FrameCount && mesh.HasTransforms() &&
               mesh.Positions.size() >= std::size_t(mesh.VertexCount) * mesh.FrameCount;
    };
    for (const AnimatedMesh* mesh : meshes)
        for (int frame : frames)
            if (inMesh(*mesh, frame)) framing.Box.Add(FrameBox(*mesh, uint32_t(frame)));
    if (framing.Box.Empty) return framing;
    // Every point lies in the ball, so in front of the eye: depth > 0.
    const Camera eye = eyeFor(framing.Box, options.YawDegrees, options.PitchDegrees);
    Extent all;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (const AnimatedMesh* mesh : meshes) {
            if (!inMesh(*mesh, frames[i])) continue;
            for (uint32_t v = 0; v < mesh->VertexCount; ++v) {
                const Vec fromEye = mesh->World(v, uint32_t(frames[i])) - eye.Eye;
                const double depth = Dot(fromEye, eye.Forward);
                const double x = Dot(fromEye, eye.Right) / depth, y = Dot(fromEye, eye.Up) / depth;
                poses[i].Add(Extent{x, x, y, y});
            }
        }
        all.Add(poses[i]);
    }
    if (!all.Finite()) return framing;  // the ball, for points it cannot place
    framing.Poses = true;
    framing.YawDegrees = options.YawDegrees;
    framing.PitchDegrees = options.PitchDegrees;
    framing.Across = all.Right - all.Left;
    framing.Upwards = all.Top - all.Bottom;
    framing.MiddleX = 0.5 * (all.Left + all.Right);
    framing.MiddleY = 0.5 * (all.Bottom + all.Top);
    return framing;
}

// The skin as the rasterizer reads it: four bytes a texel, or one index into
// Colours. Scale turns the view's texture coordinates (texels of SkinWidth x
// SkinHeight) into texels of this image, which may be of another size.
struct SkinImage {
    int Width = 0;  // 0: no skin to draw with
    int Height = 0;
    bool Indexed = false;
    const uint8_t* Pixels = nullptr;
    std::array<std::array<uint8_t, 3>, 256> Colours{};  // for indexed skins
    float ScaleU = 1;
    float ScaleV = 1;

    void Colour(std::size_t texel, uint8_t rgb[3]) const
    {
        if (Indexed) {
            std::copy_n(Colours[Pixels[texel]].data(), 3, rgb);
            return;
        }
        std::copy_n(&Pixels[4 * texel], 3, rgb);
    }
};

// One of the mesh's skins, when it is there, whole, and the picture wants it.
// Texels were decoded with the view, once per model rather than once per picture.
SkinImage skinFor(const AnimatedMesh& mesh, const MeshSkin& skin, const RenderOptions& options)
{
    SkinImage image;
    if (!options.Textured || skin.Width <= 0 || skin.Height <= 0 || mesh.TexCoords.empty()) return image;
    const std::size_t texels = std::size_t(skin.Width) * std::size_t(skin.Height);
    const bool indexed = skin.Type == MeshSkin::Kind::Indexed8;
    // A view built in memory may hold fewer pixels than its size says.
    if (skin.Pixels.size() / (indexed ? 1 : 4) < texels) return image;
    image.Width = skin.Width;
    image.Height = skin.Height;
    image.Indexed = indexed;
    image.Pixels = skin.Pixels.data();
    // Equal sizes give a scale of exactly 1: the texels are the coordinates' own.
    if (mesh.SkinWidth > 0 && mesh.SkinHeight > 0) {
        image.ScaleU = float(double(skin.Width) / mesh.SkinWidth);
        image.ScaleV = float(double(skin.Height) / mesh.SkinHeight);
    }
    if (!indexed) return image;
    if (options.Palette.size() == kPaletteBytes) {
        for (std::size_t i = 0; i < 256; ++i) std::copy_n(&options.Palette[3 * i], 3, image.Colours[i].data());
        return image;
    }
    // No palette: the indices the skin uses, stretched over the grey ramp. The
    // darkest stays above black, so that light still shows the shape there.
    constexpr int kDarkestGrey = 48;
    const auto [low, high] = std::minmax_element(skin.Pixels.begin(), skin.Pixels.begin() + std::ptrdiff_t(texels));
    const int span = int(*high) - int(*low);
    for (int i = 0; i < 256; ++i) {
        const int grey = span == 0 ? 255 : kDarkestGrey + (std::clamp(i - int(*low), 0, span) * (255 - kDarkestGrey) + span / 2) / span;
        image.Colours[std::size_t(i)].fill(uint8_t(grey));
    }
    return image;
}

// A stored normal as a unit vector, or false when its code names none (a
// table index past the table, possible only in a view built in memory).
// LatLong: the high byte turns about Z, the low byte tilts down from +Z, each
// in steps of 360/256 degrees, as MD3 stores them.
struct NormalDecoder {
    NormalCoding Code = NormalCoding::Table162;
    std::array<double, 256> Cos{};
    std::array<double, 256> Sin{};

    explicit NormalDecoder(NormalCoding code) : Code(code)
    {
        if (code != NormalCoding::LatLong) return;
        for (std::size_t i = 0; i < 256; ++i) {
            Cos[i] = std::cos(double(i) * 2 * std::numbers::pi / 256);
            Sin[i] = std::sin(double(i) * 2 * std::numbers::pi / 256);
        }
    }
    bool Decode(uint16_t code, Vec& normal) const
    {
        if (Code == NormalCoding::LatLong) {
            const std::size_t lat = code >> 8, lng = code & 0xFF;
            normal = {Cos[lat] * Sin[lng], Sin[lat] * Sin[lng], Cos[lng]};
            return true;
        }
        if (code >= kNormalCount) return false;
        const auto& n = NormalTable[code];
        normal = {n[0], n[1], n[2]};
        return true;
    }
};

// One frame vertex as the rasterizer needs it.
struct ScreenVert {
    int64_t X = 0;  // in 1/16 pixels, right
    int64_t Y = 0;  // in 1/16 pixels, down
    float InvDepth = 0;
    float LightFront = 0;  // lit through its normal
    float LightBack = 0;   // lit through the opposite normal, for faces seen from behind
    bool Drawable = false;
    bool HasNormal = false;
    Vec World{};
    Vec Normal{};  // the stored normal, when HasNormal
};

// Rounds a screen position to the nearest 1/16 pixel. |pixels| < kMaxScreenPixels,
// so the shifted value is positive and truncating it rounds down: nearest
// rounding (halves up) without a library call per vertex. Only positions
// within 2^-23 subpixel of a half may round the other way, the same on every machine.
int64_t snapToSubpixel(double pixels)
{
    constexpr double kShift = kMaxScreenPixels * kSubpixels * 2;
    return int64_t(pixels * kSubpixels + 0.5 + kShift) - int64_t(kShift);
}

float lightThrough(const Vec& normal, const Camera& camera)
{
    return float(kAmbient + kDiffuse * std::max(0.0, Dot(normal, camera.ToLight)));
}

void fill(RGBAImage& image, const uint8_t colour[4])
{
    for (std::size_t i = 0; i < image.Pixels.size(); i += 4) std::copy_n(colour, 4, &image.Pixels[i]);
}

// Copies a picture into a larger one at (left, top); it fits by construction.
void place(RGBAImage& target, const RGBAImage& part, int left, int top)
{
    assert(left + part.Width <= target.Width && top + part.Height <= target.Height);
    for (int y = 0; y < part.Height; ++y)
        std::copy_n(&part.Pixels[std::size_t(y) * std::size_t(part.Width) * 4], std::size_t(part.Width) * 4,
                    &target.Pixels[(std::size_t(top + y) * std::size_t(target.Width) + std::size_t(left)) * 4]);
}

RGBAImage background(int width, int height)
{
    RGBAImage image;
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide ||
        int64_t(width) * height > kMaxImagePixels)
        return image;
    image.Width = width;
    image.Height = height;
    image.Pixels.resize(std::size_t(width) * std::size_t(height) * 4);
    fill(image, kBackground);
    return image;
}

struct Rasterizer {
    RGBAImage& Image;
    std::vector<float>& Depth;  // 1/depth of the nearest surface so far; 0 is nothing
    const SkinImage* Skin = nullptr;  // the skin of the triangle being drawn; one of Width 0 draws untextured

    // Fills one triangle, corners a, b, c; light and texel positions per corner.
    void Triangle(const ScreenVert* a, const ScreenVert* b, const ScreenVert* c, std::array<float, 3> light,
                  const std::array<float, 3>* u, const std::array<float, 3>* v);
    void Edge(const ScreenVert& a, const ScreenVert& b);
};

void Rasterizer::Triangle(const ScreenVert* a, const ScreenVert* b, const ScreenVert* c, std::array<float, 3> light,
                          const std::array<float, 3>* u, const std::array<float, 3>* v)
{
    int64_t area = (b->X - a->X) * (c->Y - a->Y) - (b->Y - a->Y) * (c->X - a->X);
    if (area == 0) return;  // degenerate on screen: nothing to fill
    std::array<float, 3> us = u ? *u : std::array<float, 3>{};
    std::array<float, 3> vs = v ? *v : std::array<float, 3>{};
    // The edge functions below want one winding; the other is mirrored.
    if (area < 0) {
        std::swap(b, c);
        std::swap(light[1], light[2]);
        std::swap(us[1], us[2]);
        std::swap(vs[1], vs[2]);
        area = -area;
    }
    const int64_t width = Image.Width;
    const int64_t height = Image.Height;
    // Pixel centres at (x + 1/2, y + 1/2) inside the corners' box and the picture.
    const auto firstPixel = [](int64_t low) { return (low - kSubpixels / 2 + kSubpixels - 1) >> kSubpixelBits; };
    const auto lastPixel = [](int64_t high) { return (high - kSubpixels / 2) >> kSubpixelBits; };
    const int64_t minX = std::max<int64_t>(0, firstPixel(std::min({a->X, b->X, c->X})));
    const int64_t maxX = std::min<int64_t>(width - 1, lastPixel(std::max({a->X, b->X, c->X})));
    const int64_t minY = std::max<int64_t>(0, firstPixel(std::min({a->Y, b->Y, c->Y})));
    const int64_t maxY = std::min<int64_t>(height - 1, lastPixel(std::max({a->Y, b->Y, c->Y})));
    if (minX > maxX || minY > maxY) return;

    // w0 weighs corner a: it is the edge function of b->c, zero on that edge.
    // Every product is exact, so a pixel on a shared edge is inside both
    // triangles (the depth test settles it) and none falls between them.
    const auto edgeAt = [](const ScreenVert* p, const ScreenVert* q, int64_t x, int64_t y) {
        return (q->X - p->X) * (y - p->Y) - (q->Y - p->Y) * (x - p->X);
    };
    const int64_t startX = minX * kSubpixels + kSubpixels / 2;
    const int64_t startY = minY * kSubpixels + kSubpixels / 2;
    int64_t row0 = edgeAt(b, c, startX, startY);
    int64_t row1 = edgeAt(c, a, startX, startY);
    int64_t row2 = edgeAt(a, b, startX, startY);
    const int64_t stepX0 = -(c->Y - b->Y) * kSubpixels, stepY0 = (c->X - b->X) * kSubpixels;
    const int64_t stepX1 = -(a->Y - c->Y) * kSubpixels, stepY1 = (a->X - c->X) * kSubpixels;
    const int64_t stepX2 = -(b->Y - a->Y) * kSubpixels, stepY2 = (b->X - a->X) * kSubpixels;

    // Perspective: 1/depth, and each quantity over depth, are linear on screen.
    const float invArea = 1.0f / float(area);
    const float z0 = a->InvDepth, z1 = b->InvDepth, z2 = c->InvDepth;
    const SkinImage& skin = *Skin;
    const bool textured = skin.Width > 0 && u != nullptr;
    const float maxU = float(skin.Width - 1), maxV = float(skin.Height - 1);
    if (textured)
        for (int k = 0; k < 3; ++k) {
            us[std::size_t(k)] *= skin.ScaleU;
            vs[std::size_t(k)] *= skin.ScaleV;
        }
    for (int64_t y = minY; y <= maxY; ++y, row0 += stepY0, row1 += stepY1, row2 += stepY2) {
        // Each edge function is linear along the row, so each bounds the
        // pixels inside from one side; exact integer division finds the span
        // the per-pixel test would, and long thin triangles cost their pixels,
        // not their boxes.
        int64_t first = 0, last = maxX - minX;
        const auto bound = [&first, &last](int64_t w, int64_t step) {
            if (step > 0 && w < 0) first = std::max(first, (-w + step - 1) / step);
            if (step < 0) last = w < 0 ? -1 : std::min(last, w / -step);
            if (step == 0 && w < 0) last = -1;
        };
        bound(row0, stepX0);
        bound(row1, stepX1);
        bound(row2, stepX2);
        int64_t w0 = row0 + first * stepX0, w1 = row1 + first * stepX1, w2 = row2 + first * stepX2;
        std::size_t at = std::size_t(y * width + minX + first);
        for (int64_t x = minX + first; x <= minX + last; ++x, ++at, w0 += stepX0, w1 += stepX1, w2 += stepX2) {
            assert((w0 | w1 | w2) >= 0);  // inside every edge, by the span's construction
            const float p0 = float(w0) * invArea * z0;
            const float p1 = float(w1) * invArea * z1;
            const float p2 = float(w2) * invArea * z2;
            const float invDepth = p0 + p1 + p2;
            if (!(invDepth > Depth[at])) continue;  // ties keep the first triangle drawn
            Depth[at] = invDepth;
            const float toWeight = 1.0f / invDepth;
            const float shade = (p0 * light[0] + p1 * light[1] + p2 * light[2]) * toWeight;
            const uint8_t* colour = kSurfaceColour;
            uint8_t texel[3];
            if (textured) {
                // max(0, NaN) is 0: no texel position, however damaged, reads outside the skin.
                const float su = std::min(maxU, std::max(0.0f, (p0 * us[0] + p1 * us[1] + p2 * us[2]) * toWeight));
                const float sv = std::min(maxV, std::max(0.0f, (p0 * vs[0] + p1 * vs[1] + p2 * vs[2]) * toWeight));
                skin.Colour(std::size_t(sv) * std::size_t(skin.Width) + std::size_t(su), texel);
                colour = texel;
            }
            uint8_t* pixel = &Image.Pixels[at * 4];
            for (int k = 0; k < 3; ++k) pixel[k] = uint8_t(std::min(255.0f, float(colour[k]) * shade + 0.5f));
        }
    }
}

void Rasterizer::Edge(const ScreenVert& a, const ScreenVert& b)
{
    // Both ends beyond one side of the picture: nothing to walk.
    const int64_t right = int64_t(Image.Width) * kSubpixels, bottom = int64_t(Image.Height) * kSubpixels;
    if ((a.X < 0 && b.X < 0) || (a.Y < 0 && b.Y < 0) || (a.X >= right && b.X >= right) || (a.Y >= bottom && b.Y >= bottom)) return;
    const int64_t dx = b.X - a.X;
    const int64_t dy = b.Y - a.Y;
    // One sample per pixel along the longer axis, both ends included.
    const int64_t steps = std::max<int64_t>(1, (std::max(std::abs(dx), std::abs(dy)) + kSubpixels - 1) / kSubpixels);
    for (int64_t i = 0; i <= steps; ++i) {
        const int64_t x = (a.X + dx * i / steps) >> kSubpixelBits;
        const int64_t y = (a.Y + dy * i / steps) >> kSubpixelBits;
        if (x < 0 || y < 0 || x >= Image.Width || y >= Image.Height) continue;
        const float t = float(i) / float(steps);
        const float invDepth = a.InvDepth + (b.InvDepth - a.InvDepth) * t;
        const std::size_t at = std::size_t(y * Image.Width + x);
        if (invDepth * kWireDepthSlack < Depth[at]) continue;  // behind a nearer surface
        std::copy_n(kWireColour, 3, &Image.Pixels[at * 4]);
    }
}

// Every frame of a view, as PoseFraming takes frames.
std::vector<int> everyFrame(uint32_t frameCount)
{
    std::vector<int> frames(std::min<uint32_t>(frameCount, INT32_MAX));
    for (std::size_t f = 0; f < frames.size(); ++f) frames[f] = int(f);
    return frames;
}

// The framing of the poses options.Fit names, of one mesh or two.
CameraFraming fittedFraming(std::span<const AnimatedMesh* const> meshes, const RenderOptions& options)
{
    if (options.Fit == CameraFit::Frame) {
        const int frame = options.Frame;
        return PoseFraming(meshes, std::span<const int>(&frame, 1), options);
    }
    uint32_t frameCount = 0;
    for (const AnimatedMesh* mesh : meshes) frameCount = std::max(frameCount, mesh->FrameCount);
    return PoseFraming(meshes, everyFrame(frameCount), options);
}

}  // namespace

CameraFraming PoseFraming(std::span<const AnimatedMesh* const> meshes, std::span<const int> frames, const RenderOptions& options)
{
    std::vector<Extent> poses;
    return framingOf(meshes, frames, options, poses);
}

RGBAImage RenderFrame(const AnimatedMesh& mesh, const RenderOptions& options, const CameraFraming& framing)
{
    RGBAImage image = background(options.Width, options.Height);
    if (image.Pixels.empty() || options.Frame < 0 || uint32_t(options.Frame) >= mesh.FrameCount) return image;
    const auto frame = uint32_t(options.Frame);
    // A view built in memory may hold fewer positions or transforms than its
    // counts say: then nothing is drawn rather than anything read past them.
    if (mesh.VertexCount == 0 || mesh.Triangles.empty() || !mesh.HasTransforms() ||
        mesh.Positions.size() < std::size_t(mesh.VertexCount) * mesh.FrameCount)
        return image;
    const bool hasNormals = mesh.Normals.size() == mesh.Positions.size();

    // 1. every vertex once: camera space, screen position, light both ways
    const Camera camera = cameraFor(framing, options);
    const NormalDecoder normals(mesh.NormalCode);
    std::vector<ScreenVert> screen(mesh.VertexCount);
    for (uint32_t i = 0; i < mesh.VertexCount; ++i) {
        ScreenVert& out = screen[i];
        out.World = mesh.World(i, frame);
        const Vec fromEye = out.World - camera.Eye;
        const double depth = Dot(fromEye, camera.Forward);
        const double x = camera.CentreX + camera.Focal * Dot(fromEye, camera.Right) / depth;
        const double y = camera.CentreY - camera.Focal * Dot(fromEye, camera.Up) / depth;
        // Depth in units of the eye's distance, so that a float holds its
        // inverse at any model size; a vertex too far for one (only with a
        // view box that misses the model) is not drawn.
        const float invDepth = float(camera.Distance / depth);
        out.Drawable = depth > camera.NearDepth && std::abs(x) < kMaxScreenPixels && std::abs(y) < kMaxScreenPixels &&
                       std::isnormal(invDepth);
        if (out.Drawable) {
            out.X = snapToSubpixel(x);
            out.Y = snapToSubpixel(y);
            out.InvDepth = invDepth;
        }
        out.HasNormal = hasNormals && normals.Decode(mesh.Normals[mesh.At(i, frame)], out.Normal);
        if (out.HasNormal && !options.Flat) {
            out.LightFront = lightThrough(out.Normal, camera);
            out.LightBack = lightThrough(out.Normal * -1.0, camera);
        }
    }

    // 2. every triangle, in list order, so that equal depths always resolve alike
    // Each triangle takes its slot's skin; a slot past the skins, or empty, draws untextured.
    std::vector<SkinImage> skins;
    for (const MeshSkin& skin : mesh.Skins) skins.push_back(skinFor(mesh, skin, options));
    const SkinImage untextured;
    const bool perTriangle = mesh.TriangleSkin.size() == mesh.Triangles.size();
    std::vector<float> depth(std::size_t(image.Width) * std::size_t(image.Height), 0.0f);
    Rasterizer rasterizer{image, depth, &untextured};
    const auto inRange = [](const std::array<uint32_t, 3>& index, std::size_t size) {
        return index[0] < size && index[1] < size && index[2] < size;
    };
    for (std::size_t t = 0; t < mesh.Triangles.size(); ++t) {
        const MeshTriangle& tri = mesh.Triangles[t];
        // Views from files are consistent; these guards are for views built in memory.
        if (!inRange(tri.Vertex, screen.size())) continue;
        const ScreenVert& a = screen[tri.Vertex[0]];
        const ScreenVert& b = screen[tri.Vertex[1]];
        const ScreenVert& c = screen[tri.Vertex[2]];
        if (!a.Drawable || !b.Drawable || !c.Drawable) continue;
        const Vec faceNormal = Cross(b.World - a.World, c.World - a.World);
        const Vec toEye = camera.Eye - a.World;
        std::array<float, 3> light;
        if (options.Flat || !a.HasNormal || !b.HasNormal || !c.HasNormal) {
            const Vec facing = normalized(Dot(faceNormal, toEye) < 0 ? faceNormal * -1.0 : faceNormal);
            light.fill(lightThrough(facing, camera));
        } else {
            // Seen from the side the vertex normals point away from, the face
            // shows its inside (or its winding disagrees with its normals):
            // light it as the side that faces us.
            const Vec normalSum = a.Normal + b.Normal + c.Normal;
            const bool seenFromFront = (Dot(faceNormal, toEye) >= 0) == (Dot(faceNormal, normalSum) >= 0);
            light = seenFromFront ? std::array<float, 3>{a.LightFront, b.LightFront, c.LightFront}
                                  : std::array<float, 3>{a.LightBack, b.LightBack, c.LightBack};
        }
        const std::size_t slot = perTriangle ? mesh.TriangleSkin[t] : 0;
        rasterizer.Skin = slot < skins.size() ? &skins[slot] : &untextured;
        if (rasterizer.Skin->Width > 0 && inRange(tri.TexCoord, mesh.TexCoords.size())) {
            const auto& s0 = mesh.TexCoords[tri.TexCoord[0]];
            const auto& s1 = mesh.TexCoords[tri.TexCoord[1]];
            const auto& s2 = mesh.TexCoords[tri.TexCoord[2]];
            const std::array<float, 3> u{s0[0], s1[0], s2[0]};
            const std::array<float, 3> v{s0[1], s1[1], s2[1]};
            rasterizer.Triangle(&a, &b, &c, light, &u, &v);
        } else {
            rasterizer.Triangle(&a, &b, &c, light, nullptr, nullptr);
        }
    }

    // 3. edges last, against the finished depth buffer, so hidden ones stay hidden
    if (options.Wireframe) {
        for (const MeshTriangle& tri : mesh.Triangles) {
            if (!inRange(tri.Vertex, screen.size())) continue;
            const ScreenVert* corner[3] = {&screen[tri.Vertex[0]], &screen[tri.Vertex[1]], &screen[tri.Vertex[2]]};
            if (!corner[0]->Drawable || !corner[1]->Drawable || !corner[2]->Drawable) continue;
            for (int k = 0; k < 3; ++k) rasterizer.Edge(*corner[k], *corner[(k + 1) % 3]);
        }
    }
    return image;
}

RGBAImage RenderFrame(const AnimatedMesh& mesh, const RenderOptions& options)
{
    const AnimatedMesh* meshes[] = {&mesh};
    return RenderFrame(mesh, options, fittedFraming(meshes, options));
}

RGBAImage RenderSideBySide(const AnimatedMesh& left, const AnimatedMesh& right, const RenderOptions& options)
{
    if (options.Width < 1 || options.Width > kMaxImageSide / 2) return {};
    RGBAImage pair = background(2 * options.Width, options.Height);
    if (pair.Pixels.empty()) return pair;
    const AnimatedMesh* meshes[] = {&left, &right};
    const CameraFraming framing = fittedFraming(meshes, options);
    place(pair, RenderFrame(left, options, framing), 0, 0);
    place(pair, RenderFrame(right, options, framing), options.Width, 0);
    return pair;
}

std::vector<int> SheetFrames(int frameCount, int maxFrames)
{
    const int count = std::min(frameCount, maxFrames);
    if (count <= 0) return {};
    if (count == 1) return {0};
    // Spacing is at least one frame, since frameCount >= count: no frame twice.
    std::vector<int> frames;
    for (int i = 0; i < count; ++i) frames.push_back(int(int64_t(i) * (frameCount - 1) / (count - 1)));
    return frames;
}

RGBAImage RenderSheet(const AnimatedMesh& mesh, const RenderOptions& options, int maxFrames)
{
    // Frame counts of every format fit an int.
    const std::vector<int> frames = SheetFrames(int(mesh.FrameCount), maxFrames);
    const int cells = std::max<int>(1, int(frames.size()));
    const int columns = int(std::ceil(std::sqrt(double(cells))));
    const int rows = (cells + columns - 1) / columns;
    if (options.Width < 1 || options.Height < 1 || options.Width > kMaxImageSide / columns ||
        options.Height > kMaxImageSide / rows)
        return {};
    RGBAImage sheet = background(columns * options.Width, rows * options.Height);
    if (sheet.Pixels.empty()) return sheet;
    // One scale for every cell, that of the largest pose the sheet shows (not
    // of every frame of the file), so that cells compare; each pose in the
    // middle of its cell, so that poses far apart (a fall, a leap) still fill
    // theirs. Framed on each frame alone only when asked.
    const AnimatedMesh* meshes[] = {&mesh};
    std::vector<Extent> poses;
    const CameraFraming shown = framingOf(meshes, frames, options, poses);
    double across = 0, upwards = 0;
    for (const Extent& pose : poses)
        if (pose.Finite()) across = std::max(across, pose.Right - pose.Left), upwards = std::max(upwards, pose.Top - pose.Bottom);
    // A pose far larger than the first (a body flung apart) may reach past
    // its cell, so that the first never fills less than half of its own.
    if (!poses.empty() && poses[0].Finite()) {
        across = std::min(across, kMostPoseSpread * (poses[0].Right - poses[0].Left));
        upwards = std::min(upwards, kMostPoseSpread * (poses[0].Top - poses[0].Bottom));
    }
    RenderOptions cell = options;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        cell.Frame = frames[i];
        CameraFraming framing = options.Fit == CameraFit::Animation ? shown : fittedFraming(meshes, cell);
        if (options.Fit == CameraFit::Animation && framing.Poses && poses[i].Finite()) {
            framing.Across = across, framing.Upwards = upwards;
            framing.MiddleX = 0.5 * (poses[i].Left + poses[i].Right);
            framing.MiddleY = 0.5 * (poses[i].Bottom + poses[i].Top);
        }
        place(sheet, RenderFrame(mesh, cell, framing), int(i % std::size_t(columns)) * options.Width,
              int(i / std::size_t(columns)) * options.Height);
    }
    return sheet;
}

RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options, const CameraFraming& framing)
{
    return RenderFrame(MeshOf(model), options, framing);
}

RGBAImage RenderFrame(const TMDLModel& model, const RenderOptions& options)
{
    return RenderFrame(MeshOf(model), options);
}

RGBAImage RenderSideBySide(const TMDLModel& left, const TMDLModel& right, const RenderOptions& options)
{
    return RenderSideBySide(MeshOf(left), MeshOf(right), options);
}

RGBAImage RenderSheet(const TMDLModel& model, const RenderOptions& options, int maxFrames)
{
    return RenderSheet(MeshOf(model), options, maxFrames);
}
