#pragma once
// The largest single allocation made through operator new since a test last
// set it to 0, so that a refusal can be shown to come before any allocation
// sized from a header count. Referring to it links the counting operator new
// into the test program; programs that do not refer to it keep the usual one.

#include <atomic>
#include <cstddef>

extern std::atomic<std::size_t> LargestAllocation;
