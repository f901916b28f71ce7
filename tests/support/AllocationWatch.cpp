#include "tests/support/AllocationWatch.h"

#include <cstdlib>
#include <new>

std::atomic<std::size_t> LargestAllocation{0};

namespace {

void* countedAllocation(std::size_t size)
{
    std::size_t seen = LargestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !LargestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    return std::malloc(size ? size : 1);
}

}  // namespace

// The replacements pair malloc with free on purpose. The nothrow forms are
// replaced too (std::stable_sort takes its buffer through them), so that no
// allocation of the sanitizer's is handed to free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size)
{
    if (void* p = countedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
