#pragma once
// A vector that holds a lone element inside itself rather than in a heap
// block of its own. A frame's vertices live in one: a file of a million
// one-vertex frames would otherwise spend a 32-byte heap block on each 8-byte
// vertex, more than the frame's whole record in the file. Hand-written rather
// than borrowed: the core links the standard library only, and a library's
// small vector of one element takes 32 bytes (its counts are 64-bit) where
// this one takes 24, which keeps a frame at 64.
//
// Only what the model's records ask of a vector, for trivially copyable
// elements. The pointer always points at the elements, in place or not, so
// reading one costs what it costs in a std::vector.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <vector>

template <class T>
class SmallVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = T*;
    using const_iterator = const T*;

    SmallVector() noexcept = default;
    SmallVector(std::initializer_list<T> list) { assign(list.begin(), list.end()); }
    SmallVector(const std::vector<T>& list) { assign(list.data(), list.data() + list.size()); }
    SmallVector(const SmallVector& other) { assign(other.begin(), other.end()); }
    SmallVector(SmallVector&& other) noexcept { take(other); }
    SmallVector& operator=(const SmallVector& other)
    {
        if (this != &other) assign(other.begin(), other.end());
        return *this;
    }
    SmallVector& operator=(SmallVector&& other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~SmallVector() { release(); }

    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T* data() { return items; }
    const T* data() const { return items; }
    T* begin() { return items; }
    T* end() { return items + count; }
    const T* begin() const { return items; }
    const T* end() const { return items + count; }
    T& operator[](std::size_t i) { return items[i]; }
    const T& operator[](std::size_t i) const { return items[i]; }
    T& front() { return items[0]; }
    T& back() { return items[count - 1]; }

    // New elements are value-initialised, as in a std::vector.
    void resize(std::size_t newCount)
    {
        reserve(newCount);
        for (std::size_t i = count; i < newCount; ++i) new (items + i) T();
        count = uint32_t(newCount);
    }
    void reserve(std::size_t wanted)
    {
        if (wanted <= capacity) return;
        if (wanted > UINT32_MAX) throw std::bad_alloc();
        T* moved = static_cast<T*>(::operator new(wanted * sizeof(T)));
        if (count > 0) std::memcpy(static_cast<void*>(moved), items, count * sizeof(T));
        release();
        items = moved;
        capacity = uint32_t(wanted);
    }
    void push_back(const T& item)
    {
        if (count == capacity) {
            const T copy = item;  // item may be one of ours
            reserve(std::size_t(capacity) * 2);
            items[count++] = copy;
        } else {
            items[count++] = item;
        }
    }
    void assign(const T* first, const T* last)
    {
        const auto newCount = std::size_t(last - first);
        if (newCount > capacity) {
            release();
            items = &lone;
            capacity = 1;
            count = 0;
            reserve(newCount);
        }
        if (newCount > 0) std::memmove(static_cast<void*>(items), first, newCount * sizeof(T));
        count = uint32_t(newCount);
    }
    T* erase(T* at) { return erase(at, at + 1); }
    T* erase(T* first, T* last)
    {
        std::memmove(static_cast<void*>(first), last, std::size_t(end() - last) * sizeof(T));
        count -= uint32_t(last - first);
        return first;
    }
    void clear() { count = 0; }
    // Gives back what the elements do not use; a lone element moves in place.
    void shrink_to_fit()
    {
        if (capacity == count || items == &lone) return;
        SmallVector fitted;
        fitted.assign(begin(), end());
        *this = std::move(fitted);
    }

    friend bool operator==(const SmallVector& a, const SmallVector& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    void release()
    {
        if (items != &lone) ::operator delete(items);
    }
    // Takes other's elements, leaving it empty.
    void take(SmallVector& other)
    {
        if (other.items == &other.lone) {
            lone = other.lone;
            items = &lone;
            capacity = 1;
        } else {
            items = other.items;
            capacity = other.capacity;
        }
        count = other.count;
        other.items = &other.lone;
        other.capacity = 1;
        other.count = 0;
    }

    T* items = &lone;
    uint32_t count = 0;
    uint32_t capacity = 1;
    T lone{};
};
