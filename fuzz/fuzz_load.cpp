// Loads any bytes, and draws what it accepts. A refusal is a normal outcome;
// a crash, a read outside a buffer or undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/MDLClass.h"
#include "render/Render.h"

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
        // Small pictures keep each input fast; the first frame, textured and
        // lit, then the last frame flat with its wires, from above.
        RenderOptions options;
        options.Width = 48;
        options.Height = 32;
        const RGBAImage lit = RenderFrame(model, options);
        options.Frame = int(model.Frames.size()) - 1;
        options.Wireframe = options.Flat = true;
        options.PitchDegrees = 90;
        const RGBAImage wired = RenderFrame(model, options);
        if (lit.Pixels.size() != 48 * 32 * 4 || wired.Pixels.size() != 48 * 32 * 4) std::abort();
    }
    return 0;
}
