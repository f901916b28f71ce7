#include "measure/TriangleGrid.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>

namespace {

// The most triangles whose cell entries 32-bit offsets can count.
constexpr std::size_t kMaxTriangles = (std::size_t(UINT32_MAX) - 64) / 32;

// The nearest float at or below (above) value; infinite beyond the float range.
float roundedDown(double value)
{
    const float near = float(value);
    return double(near) <= value ? near : std::nextafter(near, -std::numeric_limits<float>::infinity());
}

float roundedUp(double value)
{
    const float near = float(value);
    return double(near) >= value ? near : std::nextafter(near, std::numeric_limits<float>::infinity());
}

// The squared distance from point to the box low..high (float or double
// corners); 0 inside it. Never more than that of anything in the box.
template <class Corner>
[[gnu::always_inline]] inline
double boxDistance2(const WorldPoint& point, const Corner& low, const Corner& high)
{
    double outside2 = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const double gap = std::max({double(low[axis]) - point[axis], point[axis] - double(high[axis]), 0.0});
        outside2 += gap * gap;
    }
    return outside2;
}

}  // namespace

void TriangleGrid::Build(const std::vector<WorldPoint>& newPoints, const std::vector<std::array<uint32_t, 3>>& triangles)
{
    if (triangles.size() > kMaxTriangles) throw std::bad_alloc();  // far beyond any memory
    points = newPoints;
    // Clusters of nearby triangles, kept while the triangles stay the same:
    // animation moves a cluster's triangles together, so its box stays small
    // (a cluster scattered by the motion costs time, never a wrong answer).
    if (triangles != corners) {
        corners = triangles;
        formClusters();
    }
    Rebuild(points);
}

void TriangleGrid::Rebuild(const std::vector<WorldPoint>& newPoints)
{
    // 1. the clusters of the last Build, at these points
    if (&newPoints != &points) points = newPoints;
    const std::size_t clusterCount = (corners.size() + clusterSize - 1) / clusterSize;
    query = 0;
    seenAt.assign(clusterCount, 0);
    cellCount = {1, 1, 1};
    cellStart.assign(2, 0);
    cellItems.clear();
    origin = {0, 0, 0};
    if (corners.empty()) return;

    // 2. each cluster's box in this frame, and the space they fill; a lone
    // triangle's box, rounded outwards to float, and its plane
    WorldPoint low = points[sorted[0][0]], high = low;
    double size = 0;  // the clusters' longest sides, or the triangles' areas
    if (clusterSize == 1) {
        for (std::size_t i = 0; i < corners.size(); ++i) {
            Facet& facet = facets[i];
            assert(facet.Corner[0] < points.size() && facet.Corner[1] < points.size() && facet.Corner[2] < points.size());
            const WorldPoint& a = points[facet.Corner[0]];
            const WorldPoint& b = points[facet.Corner[1]];
            const WorldPoint& c = points[facet.Corner[2]];
            const WorldPoint normal = Cross(Minus(b, a), Minus(c, a));
            const double length = std::sqrt(Dot(normal, normal));
            facet.Flat = !(length > 0);
            facet.Normal = facet.Flat ? WorldPoint{0, 0, 0} : WorldPoint{normal[0] / length, normal[1] / length, normal[2] / length};
            facet.PlaneOffset = Dot(facet.Normal, a);
            for (std::size_t axis = 0; axis < 3; ++axis) {
                const double least = std::min({a[axis], b[axis], c[axis]});
                const double most = std::max({a[axis], b[axis], c[axis]});
                facet.Low[axis] = roundedDown(least);
                facet.High[axis] = roundedUp(most);
                low[axis] = std::min(low[axis], least);
                high[axis] = std::max(high[axis], most);
            }
            size += length / 2;
        }
    } else {
        boxes.resize(clusterCount);
        for (std::size_t c = 0; c < clusterCount; ++c) {
            // Each of its vertices once: a cluster's triangles share most corners.
            Box& box = boxes[c];
            box.Low = box.High = points[clusterVertices[clusterVertexStart[c]]];
            for (uint32_t k = clusterVertexStart[c]; k < clusterVertexStart[c + 1]; ++k) {
                assert(clusterVertices[k] < points.size());
                const WorldPoint& p = points[clusterVertices[k]];
                for (int axis = 0; axis < 3; ++axis) {
                    box.Low[axis] = std::min(box.Low[axis], p[axis]);
                    box.High[axis] = std::max(box.High[axis], p[axis]);
                }
            }
            double extent = 0;
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], box.Low[axis]);
                high[axis] = std::max(high[axis], box.High[axis]);
                extent = std::max(extent, box.High[axis] - box.Low[axis]);
            }
            size += extent;
        }
    }
    origin = low;

    // 3. cells about a cluster across, coarser until cells and entries fit;
    // each cluster's cells as the last try found them, for step 4
    const double count = double(clusterCount);
    // A lone triangle's cells are about its area across, a cluster's about its longest side.
    cellSize = clusterSize == 1 ? std::sqrt(size / count) : size / count;
    if (!(cellSize > 0)) cellSize = std::hypot(high[0] - low[0], high[1] - low[1], high[2] - low[2]) / std::cbrt(count);
    if (!(cellSize > 0)) cellSize = 1;  // every corner at one point: one cell
    ranges.resize(clusterCount);
    for (;;) {
        cellsPerUnit = 1 / cellSize;
        double cells = 1;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            cellCount[axis] = int64_t(std::min((high[axis] - low[axis]) / cellSize, 1e6)) + 1;
            cells *= double(cellCount[axis]);
        }
        if (cells <= kCellsPerCluster * count + 64) {
            double entries = 0;
            for (std::size_t c = 0; c < clusterCount; ++c) {
                // The box holds each corner, so its cells hold every cell a
                // point of the cluster's triangles falls in.
                const CellRange range = clusterSize == 1 ? cellsOf({facets[c].Low[0], facets[c].Low[1], facets[c].Low[2]},
                                                                   {facets[c].High[0], facets[c].High[1], facets[c].High[2]})
                                                         : cellsOf(boxes[c].Low, boxes[c].High);
                ranges[c] = range;
                entries += double(range.High[0] - range.Low[0] + 1) * double(range.High[1] - range.Low[1] + 1) *
                           double(range.High[2] - range.Low[2] + 1);
            }
            if (entries <= kEntriesPerCluster * count + 64) break;
        }
        cellSize *= 1.5;
    }

    // 4. each cluster listed in every cell its box meets: counts, offsets, items
    const auto cellTotal = std::size_t(cellCount[0] * cellCount[1] * cellCount[2]);
    cellStart.assign(cellTotal + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            for (std::size_t c = 0; c < cellTotal; ++c) cellStart[c + 1] += cellStart[c];
            cellItems.resize(cellStart[cellTotal]);
        }
        for (std::size_t c = 0; c < clusterCount; ++c) {
            const CellRange& range = ranges[c];
            for (int64_t z = range.Low[2]; z <= range.High[2]; ++z)
                for (int64_t y = range.Low[1]; y <= range.High[1]; ++y)
                    for (int64_t x = range.Low[0]; x <= range.High[0]; ++x) {
                        const auto cell = std::size_t((z * cellCount[1] + y) * cellCount[0] + x);
                        // Counting shifted by one cell, so that the running sum leaves each start in place.
                        if (pass == 0) ++cellStart[cell + 1];
                        else cellItems[cellStart[cell]++] = uint32_t(c);
                    }
        }
    }
    // Filling moved each start to the next cell's start: move them back.
    for (std::size_t c = cellTotal; c > 0; --c) cellStart[c] = cellStart[c - 1];
    cellStart[0] = 0;
}

void TriangleGrid::formClusters()
{
    // Lone triangles keep the order given. Else halve the triangles at the
    // middle of their centres along the longest side of the centres' box,
    // again and again, in multiples of a cluster, until each part is one
    // cluster: parts without the jumps of a curve through space. Centres in
    // the first frame the triangles come with.
    const std::size_t count = corners.size();
    clusterSize = std::clamp<std::size_t>(std::bit_floor(count / kManyTriangles), 1, kLargestCluster);
    order.resize(count);
    for (std::size_t t = 0; t < count; ++t) order[t] = uint32_t(t);
    std::vector<WorldPoint> centre(clusterSize > 1 ? count : 0);
    for (std::size_t t = 0; t < centre.size(); ++t)
        for (int axis = 0; axis < 3; ++axis) {
            assert(corners[t][0] < points.size() && corners[t][1] < points.size() && corners[t][2] < points.size());
            const double at = (points[corners[t][0]][axis] + points[corners[t][1]][axis] + points[corners[t][2]][axis]) / 3;
            centre[t][axis] = std::isnan(at) ? 0 : at;  // ordered, as nth_element needs
        }
    std::vector<std::pair<std::size_t, std::size_t>> parts{{0, clusterSize > 1 ? count : 0}};
    while (!parts.empty()) {
        const auto [begin, end] = parts.back();
        parts.pop_back();
        if (end - begin <= clusterSize) continue;
        WorldPoint low = centre[order[begin]], high = low;
        for (std::size_t i = begin; i < end; ++i)
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], centre[order[i]][axis]);
                high[axis] = std::max(high[axis], centre[order[i]][axis]);
            }
        int axis = 0;
        for (int other = 1; other < 3; ++other)
            if (high[other] - low[other] > high[axis] - low[axis]) axis = other;
        const std::size_t clusters = (end - begin + clusterSize - 1) / clusterSize;
        const std::size_t middle = begin + clusters / 2 * clusterSize;
        std::nth_element(order.begin() + std::ptrdiff_t(begin), order.begin() + std::ptrdiff_t(middle), order.begin() + std::ptrdiff_t(end),
                         [&](uint32_t a, uint32_t b) { return centre[a][axis] < centre[b][axis]; });
        parts.push_back({begin, middle});
        parts.push_back({middle, end});
    }
    sorted.resize(count);
    for (std::size_t i = 0; i < count; ++i) sorted[i] = corners[order[i]];
    clusterVertices.clear();
    clusterVertexStart.assign(1, 0);
    // A lone triangle's facet keeps its corners; each frame fills in the rest.
    facets.resize(clusterSize == 1 ? count : 0);
    for (std::size_t i = 0; i < facets.size(); ++i) facets[i].Corner = sorted[i];
    if (clusterSize == 1) return;
    for (std::size_t first = 0; first < count; first += clusterSize) {
        const auto begin = clusterVertices.size();
        for (std::size_t i = first; i < std::min(count, first + clusterSize); ++i)
            for (const uint32_t vertex : sorted[i])
                if (std::find(clusterVertices.begin() + std::ptrdiff_t(begin), clusterVertices.end(), vertex) == clusterVertices.end())
                    clusterVertices.push_back(vertex);
        clusterVertexStart.push_back(uint32_t(clusterVertices.size()));
    }
}

TriangleGrid::CellRange TriangleGrid::cellsOf(const WorldPoint& min, const WorldPoint& max) const
{
    // The same rounding for boxes and points: a point inside a cluster's box
    // always falls in one of the box's cells.
    CellRange range;
    for (int axis = 0; axis < 3; ++axis) {
        const auto cell = [&](double at) {
            const double index = std::floor((at - origin[axis]) * cellsPerUnit);
            return int32_t(std::clamp(index, 0.0, double(cellCount[axis] - 1)));
        };
        range.Low[axis] = cell(min[axis]);
        range.High[axis] = cell(max[axis]);
    }
    return range;
}

double TriangleGrid::distance2(const WorldPoint& point, const std::array<uint32_t, 3>& corner, double& v, double& w) const
{
    const WorldPoint& a = points[corner[0]];
    const WorldPoint ab = Minus(points[corner[1]], a);
    const WorldPoint ac = Minus(points[corner[2]], a);
    const WorldPoint normal = Cross(ab, ac);
    return Dot(normal, normal) > 0 ? FacetDistance2(point, a, ab, ac, v, w) : EdgesDistance2(point, a, ab, ac, v, w);
}

double TriangleGrid::Distance2(const WorldPoint& point, uint32_t triangle) const
{
    double v = 0, w = 0;
    return distance2(point, corners[triangle], v, w);
}

template <bool Lone, typename Visit>
void TriangleGrid::visitClusters(const CellRange& range, const WorldPoint& point, const double& reach2, Visit&& visit) const
{
    // The distance from point to a cell's slab along one axis, squared; 0 inside it. A point is
    // put in a cell by rounding, so it may stand a hair outside the slab: the margin keeps every
    // point of the cell within the distance.
    const double margin = 1e-9 * cellSize;
    const auto slab2 = [&](int axis, int64_t index) {
        const double low = origin[axis] + double(index) * cellSize;
        const double gap = point[axis] < low ? low - point[axis] : point[axis] - (low + cellSize);
        const double outside = std::max(gap - margin, 0.0);
        return outside * outside;
    };
    for (int64_t z = range.Low[2]; z <= range.High[2]; ++z) {
        const double z2 = slab2(2, z);
        for (int64_t y = range.Low[1]; y <= range.High[1]; ++y) {
            const double yz2 = z2 + slab2(1, y);
            for (int64_t x = range.Low[0]; x <= range.High[0]; ++x) {
                // The first and last cells of a row reach out to the edge of the grid,
                // so only inner cells may be skipped by their own box.
                const bool inner = x > 0 && y > 0 && z > 0 && x + 1 < cellCount[0] && y + 1 < cellCount[1] && z + 1 < cellCount[2];
                if (inner && yz2 + slab2(0, x) > reach2) continue;
                const auto cell = std::size_t((z * cellCount[1] + y) * cellCount[0] + x);
                for (std::size_t item = cellStart[cell]; item < cellStart[cell + 1]; ++item) {
                    const uint32_t c = cellItems[item];
                    // A cluster listed in several cells is measured once per query.
                    if (seenAt[c] == query) continue;
                    seenAt[c] = query;
                    if constexpr (Lone) {
                        visit(std::true_type{}, c);
                    } else {
                        // The box is never further than its triangles: a far box rules them out cheaply.
                        if (boxDistance2(point, boxes[c].Low, boxes[c].High) > reach2) continue;
                        const std::size_t end = std::min(corners.size(), (c + 1) * clusterSize);
                        for (std::size_t i = c * clusterSize; i < end; ++i) visit(std::false_type{}, i);
                    }
                }
            }
        }
    }
}

double TriangleGrid::Nearest2(const WorldPoint& point, uint32_t& hint) const
{
    if (corners.empty()) return std::numeric_limits<double>::infinity();
    uint32_t nearest = hint < corners.size() ? hint : 0;
    double best = Distance2(point, nearest);
    if (++query == 0) std::fill(seenAt.begin(), seenAt.end(), query++);  // after 2^32 queries
    // Lone triangles stand in the order given: the hint's is measured already.
    if (clusterSize == 1) seenAt[nearest] = query;
    // Of equally near triangles the first wins, whatever the hint and the
    // order of search: the skin coordinate found there does not depend on either.
    const auto visit = [&](auto lone, std::size_t i) {
        double found = 0, v = 0, w = 0;
        if constexpr (decltype(lone)::value) {
            // A lone triangle's plane and box are never further than the triangle: a far plane rules it out cheaply.
            const Facet& facet = facets[i];
            const double plane = Dot(facet.Normal, point) - facet.PlaneOffset;
            if (plane * plane > best || boxDistance2(point, facet.Low, facet.High) > best) return;
            const WorldPoint& a = points[facet.Corner[0]];
            const WorldPoint ab = Minus(points[facet.Corner[1]], a), ac = Minus(points[facet.Corner[2]], a);
            found = facet.Flat ? EdgesDistance2(point, a, ab, ac, v, w) : FacetDistance2(point, a, ab, ac, v, w);
        } else {
            // Of a cluster's triangles, the box rules out most cheaply.
            const std::array<uint32_t, 3>& corner = sorted[i];
            const WorldPoint& a = points[corner[0]];
            const WorldPoint& b = points[corner[1]];
            const WorldPoint& c = points[corner[2]];
            WorldPoint low, high;
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min({a[axis], b[axis], c[axis]});
                high[axis] = std::max({a[axis], b[axis], c[axis]});
            }
            if (boxDistance2(point, low, high) > best) return;
            found = distance2(point, corner, v, w);
        }
        if (found < best || (found == best && order[i] < nearest)) {
            best = found;
            nearest = order[i];
        }
    };
    // The nearest point of the nearest triangle lies within sqrt(best) of point, in one of the
    // cells of that cube, and every cluster is listed in each cell its box meets. The margin
    // covers the rounding of the square root.
    const auto cube = [&] {
        const double reach = std::sqrt(best) * (1 + 1e-12);
        return cellsOf({point[0] - reach, point[1] - reach, point[2] - reach}, {point[0] + reach, point[1] + reach, point[2] + reach});
    };
    CellRange range = cube();
    const int64_t cells = int64_t(range.High[0] - range.Low[0] + 1) * (range.High[1] - range.Low[1] + 1) * (range.High[2] - range.Low[2] + 1);
    const auto search = [&](const CellRange& cells) {
        if (clusterSize == 1) visitClusters<true>(cells, point, best, visit);
        else visitClusters<false>(cells, point, best, visit);
    };
    if (cells > 27) {
        // A far hint: the point's own cell first, whose triangles usually shrink the cube.
        search(cellsOf(point, point));
        range = cube();
    }
    search(range);
    hint = nearest;
    return best;
}

void TriangleGrid::Within(const WorldPoint& point, double reach2, std::vector<uint32_t>& found) const
{
    found.clear();
    if (corners.empty() || !(reach2 >= 0)) return;
    if (++query == 0) std::fill(seenAt.begin(), seenAt.end(), query++);  // after 2^32 queries
    const double reach = std::sqrt(reach2) * (1 + 1e-12);
    const CellRange range =
        cellsOf({point[0] - reach, point[1] - reach, point[2] - reach}, {point[0] + reach, point[1] + reach, point[2] + reach});
    const auto visit = [&](auto, std::size_t i) {
        double v = 0, w = 0;
        if (distance2(point, sorted[i], v, w) <= reach2) found.push_back(order[i]);
    };
    if (clusterSize == 1) visitClusters<true>(range, point, reach2, visit);
    else visitClusters<false>(range, point, reach2, visit);
}

std::array<double, 3> TriangleGrid::NearestWeights(const WorldPoint& point, uint32_t triangle) const
{
    double v = 0, w = 0;
    distance2(point, corners[triangle], v, w);
    return {1 - v - w, v, w};
}
