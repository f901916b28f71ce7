#include "reduce/Progress.h"

#include <atomic>
#include <cmath>

namespace {

// Atomic so that files reduced on several threads at once touch the seed
// without a data race. A draw is a plain load and store, not a locked update:
// one thread sees exactly the plain generator, and threads that overlap may
// only repeat a draw, which changes nothing but when progress is shown.
std::atomic<uint32_t> seed{0};

}  // namespace

uint32_t ProgressDraw()
{
    const uint32_t next = seed.load(std::memory_order_relaxed) * 134775813u + 1u;
    seed.store(next, std::memory_order_relaxed);
    return uint32_t((uint64_t(next) * 30u) >> 32);
}

uint32_t ProgressSeed()
{
    return seed.load();
}

void SetProgressSeed(uint32_t Seed)
{
    seed.store(Seed);
}

std::string ProgressText(int64_t Index, int64_t Count, int Phase)
{
    // Quotient and product in extended precision, then one rounding to the
    // nearest integer with halves to even: 59 of 200 shows 29, not 30.
    const long double percent = (long double)Index / (long double)Count * 100.0L;
    const auto rounded = (long long)std::nearbyint(percent);
    return std::to_string(rounded) + "% Complete(Phase" + std::to_string(Phase) + "/2)";
}
