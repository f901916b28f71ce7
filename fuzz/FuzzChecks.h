#pragma once
// What every fuzz target asks of the code it drives: a failed check aborts,
// which libFuzzer reports as a finding with the input that caused it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline void require(bool condition)
{
    if (!condition) std::abort();
}

// Loads the bytes into model. Every load that reads a header ends with the
// summary line, and a model accepted writes back the bytes it was read from.
// Returns whether it was accepted.
template <class Model>
bool loadsAndWritesBack(Model& model, const uint8_t* data, std::size_t size)
{
    bool summaryWritten = false;
    model.LogLines = [&summaryWritten](const std::string& line) { summaryWritten = line.rfind("MODEL INFO: ", 0) == 0; };
    const bool accepted = model.LoadFromBytes({data, size});
    require(summaryWritten);
    model.LogLines = nullptr;
    if (!accepted) return false;
    const std::vector<uint8_t> saved = model.SaveToBytes();
    require(saved.size() == size && std::equal(saved.begin(), saved.end(), data));
    return true;
}

// The model that bytes hold, which must be accepted and write them back unchanged.
template <class Model>
Model reloadedUnchanged(const std::vector<uint8_t>& bytes)
{
    Model model;
    require(model.LoadFromBytes(bytes));
    require(model.SaveToBytes() == bytes);
    return model;
}
