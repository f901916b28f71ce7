#pragma once
// Forced into every file of the WebAssembly build (web/CMakeLists.txt): the
// C++ library of Debian's emscripten 3.1.6 predates three C++20 pieces the core
// uses. Each is supplied only while the library lacks it, so a newer
// toolchain takes its own.

#include <memory>
#include <thread>
#include <type_traits>
#include <utility>
#include <version>

namespace std {

#ifndef __cpp_lib_jthread
// What the core asks of a jthread: start a function, join when destroyed.
// The page runs the core on one thread, so none is ever started there.
class jthread {
public:
    jthread() noexcept = default;
    template <class Function, class... Args>
    explicit jthread(Function&& function, Args&&... args)
        : thread(std::forward<Function>(function), std::forward<Args>(args)...)
    {
    }
    jthread(jthread&&) noexcept = default;
    jthread& operator=(jthread&& other) noexcept
    {
        if (thread.joinable()) thread.join();
        thread = std::move(other.thread);
        return *this;
    }
    ~jthread()
    {
        if (thread.joinable()) thread.join();
    }
    bool joinable() const noexcept { return thread.joinable(); }
    void join() { thread.join(); }

private:
    std::thread thread;
};
#endif

#ifndef __cpp_lib_smart_ptr_for_overwrite
// Default-initialised elements: for arrays of plain records, no zeroing pass.
template <class T>
    requires(is_unbounded_array_v<T>)
unique_ptr<T> make_unique_for_overwrite(size_t count)
{
    return unique_ptr<T>(new remove_extent_t<T>[count]);
}
template <class T>
    requires(!is_array_v<T>)
unique_ptr<T> make_unique_for_overwrite()
{
    return unique_ptr<T>(new T);
}
#endif

#ifndef __cpp_lib_bit_cast
// The readers of Quake MDL and MD2 carry floats as their bits; the compiler
// has the cast the library lacks.
template <class To, class From>
    requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> && is_trivially_copyable_v<From>)
constexpr To bit_cast(const From& from) noexcept
{
    return __builtin_bit_cast(To, from);
}
#endif

}  // namespace std
