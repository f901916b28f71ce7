// Loads any bytes. A refusal is a normal outcome; a crash, a read outside a
// buffer or undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/MDLClass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TMDLModel model;
    bool summaryWritten = false;
    model.LogLines = [&summaryWritten](const std::string& line) { summaryWritten = line.rfind("MODEL INFO: ", 0) == 0; };
    const bool accepted = model.LoadFromBytes({data, size});
    // Every load that reads a header ends with the summary line.
    if (!summaryWritten) std::abort();
    // An accepted model writes back the bytes it was read from.
    if (accepted) {
        const std::vector<uint8_t> saved = model.SaveToBytes();
        if (saved.size() > size || !std::equal(saved.begin(), saved.end(), data)) std::abort();
    }
    return 0;
}
