#pragma once
// Triangles by vertex, as slices of one flat pool, kept in step with
// collapses by the reductions in reduce/. A slice that outgrows its room moves
// to the end of the pool, so a fan is always one contiguous run. A slice may
// list triangles that were removed or no longer hold the vertex; readers
// filter them.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"

class FanIndex {
public:
    // Lists each triangle once under each distinct corner, in ascending
    // triangle order. Each slice starts with room for roomFactor times its
    // triangles, and one that outgrows it moves with room for twice its size,
    // at least minMovedRoom: how much spare room pays depends on how many
    // triangles a collapse hands on.
    // Triangle is MDL5's record or the neutral view's.
    template <class Triangle>
    FanIndex(const std::vector<Triangle>& triangles, uint32_t vertexCount, uint32_t roomFactor, uint32_t minMovedRoom)
        : slices(vertexCount), minMovedRoom(minMovedRoom)
    {
        for (const Triangle& tri : triangles) forEachDistinctCorner(tri, [&](uint32_t v) { ++slices[v].Room; });
        uint32_t next = 0;
        for (Slice& slice : slices) {
            slice.Start = next;
            slice.Room *= roomFactor;
            next += slice.Room;
        }
        pool.resize(next);
        // Slices that move land here without the pool moving with them, most times.
        pool.reserve(pool.size() + pool.size() / 2 + 64);
        for (uint32_t t = 0; t < triangles.size(); ++t)
            forEachDistinctCorner(triangles[t], [&](uint32_t v) {
                Slice& slice = slices[v];
                pool[slice.Start + slice.Size++] = t;
            });
    }

    void Append(uint32_t v, uint32_t t)
    {
        Slice& slice = slices[v];
        if (slice.Size == slice.Room) grow(slice);
        if (slice.Size > 0 && pool[slice.Start + slice.Size - 1] > t) slice.Unsorted = true;
        pool[slice.Start + slice.Size++] = t;
    }

    // Append for a vertex that may gather triangles without end (the hub of
    // a fan): a full slice first drops the entries that no longer name a live
    // triangle of v, and grows only when that frees less than half its room.
    // Each drop is paid for by the appends since the last, so a vertex that
    // takes a thousand collapses does not scan its remains a thousand times.
    template <class Live>
    void AppendPruning(uint32_t v, uint32_t t, Live live)
    {
        Slice& slice = slices[v];
        if (slice.Size == slice.Room && slice.Room >= minMovedRoom) {
            Prune(v, live);
            if (slice.Size * 2 > slice.Room) grow(slice);
        }
        Append(v, t);
    }

    // The triangles listed for v, in the order they were listed.
    std::span<const uint32_t> Of(uint32_t v) const
    {
        return std::span<const uint32_t>(pool).subspan(slices[v].Start, slices[v].Size);
    }

    // The triangles listed for v, ascending: sorted in place once an Append
    // broke the order, so that a fan is met as a scan of every triangle would.
    std::span<const uint32_t> SortedOf(uint32_t v)
    {
        Slice& slice = slices[v];
        const auto items = std::span<uint32_t>(pool).subspan(slice.Start, slice.Size);
        if (slice.Unsorted) {
            std::sort(items.begin(), items.end());
            slice.Unsorted = false;
        }
        return items;
    }

    // Drops the entries that no longer name a live triangle of v, keeping
    // the order of the rest, so that a vertex that gathers many collapses
    // does not scan their remains forever.
    template <class Live>
    void Prune(uint32_t v, Live live)
    {
        Slice& slice = slices[v];
        const auto begin = pool.begin() + slice.Start;
        slice.Size = uint32_t(std::remove_if(begin, begin + slice.Size, [&](uint32_t t) { return !live(t); }) - begin);
    }

private:
    struct Slice;
    void grow(Slice& slice)
    {
        const uint32_t newRoom = std::max<uint32_t>(minMovedRoom, slice.Room * 2);
        const auto newStart = uint32_t(pool.size());
        pool.resize(pool.size() + newRoom);
        std::copy_n(pool.begin() + slice.Start, slice.Size, pool.begin() + newStart);
        slice.Start = newStart;
        slice.Room = newRoom;
    }

    static const std::array<uint32_t, 3>& cornersOf(const MDLTriangle& tri) { return tri.VertIndex; }
    static const std::array<uint32_t, 3>& cornersOf(const MeshTriangle& tri) { return tri.Vertex; }

    template <class Triangle, class Visit>
    static void forEachDistinctCorner(const Triangle& tri, Visit visit)
    {
        const auto& c = cornersOf(tri);
        visit(c[0]);
        if (c[1] != c[0]) visit(c[1]);
        if (c[2] != c[0] && c[2] != c[1]) visit(c[2]);
    }

    // Everything about one vertex's slice in one place: one cache line per fan.
    struct Slice {
        uint32_t Start = 0;
        uint32_t Size = 0;
        uint32_t Room = 0;
        bool Unsorted = false;
    };
    std::vector<Slice> slices;
    std::vector<uint32_t> pool;
    uint32_t minMovedRoom = 0;
};
