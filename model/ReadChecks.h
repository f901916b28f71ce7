#pragma once
// Checks the readers of every format share: faults are noted while reading
// and logged at the end, the first of each kind, in one wording.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

// The first record of one kind of fault, kept while reading and logged at the end.
struct FirstFault {
    std::optional<std::string> Line;
    void Note(const std::string& line)
    {
        if (!Line) Line = line;
    }
};

// Notes the first of count vertices (any record with a NormalIndex) whose
// normal index lies past a table of tableSize normals, as vertex and frame
// numbers from 1. Checked while the frame is still in the cache.
template <class Vertex>
void NoteBadNormal(FirstFault& fault, const Vertex* vertices, std::size_t count, std::size_t frameNumber, int tableSize)
{
    if (fault.Line) return;
    const Vertex* bad = std::find_if(vertices, vertices + count, [tableSize](const Vertex& v) { return v.NormalIndex >= tableSize; });
    if (bad != vertices + count)
        fault.Note("ERROR:Vertex #" + std::to_string(bad - vertices + 1) + " of frame #" + std::to_string(frameNumber) +
                   " has normal index " + std::to_string(bad->NormalIndex) + ", beyond the " + std::to_string(tableSize) +
                   " normals of the table.");
}
