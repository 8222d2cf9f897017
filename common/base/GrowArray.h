// Growable array on top of realloc: the one container behind every table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

// Thrown when a table cannot grow. what() is "bad allocation", the text the
// driver's "Out of memory." handler expects from every allocation failure.
class TBadAlloc : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "bad allocation"; }
};

[[noreturn]] inline void ThrowBadAlloc() { throw TBadAlloc(); }

// Returns a * b, or throws TBadAlloc when the product does not fit in size_t
// (a 32-bit build must not wrap a large element count into a small buffer).
inline size_t CheckedMul(uint64_t a, uint64_t b)
{
    if (b != 0 && a > std::numeric_limits<size_t>::max() / b)
        ThrowBadAlloc();
    return static_cast<size_t>(a * b);
}

// CGrowArray<T> grows to max(need, capacity + capacity / 2).
//
// Trivially copyable elements are moved bitwise with realloc, so growth of the
// big key tables never copies element by element. Any other element type (a
// std::string points into itself) is relocated by move construction into new
// storage. Unlike a raw realloc buffer the array owns its elements: clear,
// erase and the destructor destroy them.
template <typename T>
class CGrowArray {
    static constexpr bool kBitwise = std::is_trivially_copyable_v<T>;

public:
    using value_type = T;

    CGrowArray() = default;
    CGrowArray(const CGrowArray& other) { *this = other; }
    CGrowArray(CGrowArray&& other) noexcept { Swap(other); }
    ~CGrowArray() { Free(); }

    CGrowArray& operator=(const CGrowArray& other)
    {
        if (this != &other) {
            Clear();
            Reserve(other.m_count);
            for (uint64_t i = 0; i < other.m_count; ++i)
                new (m_data + i) T(other.m_data[i]);
            m_count = other.m_count;
        }
        return *this;
    }
    CGrowArray& operator=(CGrowArray&& other) noexcept
    {
        if (this != &other) {
            Free();
            Swap(other);
        }
        return *this;
    }

    void Swap(CGrowArray& other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_count, other.m_count);
        std::swap(m_capacity, other.m_capacity);
    }

    T* Data() { return m_data; }
    const T* Data() const { return m_data; }
    uint64_t Count() const { return m_count; }
    uint64_t Capacity() const { return m_capacity; }
    bool Empty() const { return m_count == 0; }
    // Bytes held by the allocation, for the memory figures of progress lines.
    uint64_t CapacityBytes() const { return m_capacity * sizeof(T); }

    T& operator[](uint64_t i) { return m_data[i]; }
    const T& operator[](uint64_t i) const { return m_data[i]; }
    T& Back() { return m_data[m_count - 1]; }
    const T& Back() const { return m_data[m_count - 1]; }

    T* begin() { return m_data; }
    T* end() { return m_data + m_count; }
    const T* begin() const { return m_data; }
    const T* end() const { return m_data + m_count; }

    // Makes room for n elements. Strong guarantee: on TBadAlloc the array is
    // unchanged.
    void Reserve(uint64_t n)
    {
        if (n <= m_capacity)
            return;
        uint64_t grown = m_capacity + m_capacity / 2;
        Reallocate(n > grown ? n : grown);
    }

    // Reallocates to exactly the element count (tables are shrunk once built).
    void ShrinkToFit()
    {
        if (m_count < m_capacity)
            Reallocate(m_count);
    }

    void PushBack(const T& value)
    {
        if (m_count == m_capacity) {
            // value may live inside this array: copy it before the storage moves.
            T copy(value);
            Reserve(m_count + 1);
            new (m_data + m_count) T(std::move(copy));
        } else {
            new (m_data + m_count) T(value);
        }
        ++m_count;
    }
    void PushBack(T&& value)
    {
        if (m_count == m_capacity) {
            T moved(std::move(value));
            Reserve(m_count + 1);
            new (m_data + m_count) T(std::move(moved));
        } else {
            new (m_data + m_count) T(std::move(value));
        }
        ++m_count;
    }

    template <typename... Args>
    T& EmplaceBack(Args&&... args)
    {
        Reserve(m_count + 1);
        T* slot = new (m_data + m_count) T(std::forward<Args>(args)...);
        ++m_count;
        return *slot;
    }

    // Appends n elements copied from data (byte buffers, point runs).
    void Append(const T* data, uint64_t n)
    {
        Reserve(m_count + n);
        if constexpr (kBitwise) {
            if (n != 0)
                std::memcpy(static_cast<void*>(m_data + m_count), data, n * sizeof(T));
        } else {
            for (uint64_t i = 0; i < n; ++i)
                new (m_data + m_count + i) T(data[i]);
        }
        m_count += n;
    }

    // Smaller n drops the tail; larger n appends value-initialised elements.
    void Resize(uint64_t n)
    {
        if (n < m_count) {
            DestroyRange(n, m_count);
        } else if (n > m_count) {
            Reserve(n);
            for (uint64_t i = m_count; i < n; ++i)
                new (m_data + i) T();
        }
        m_count = n;
    }

    // Removes the elements [first, last) and closes the gap.
    void Erase(uint64_t first, uint64_t last)
    {
        if (first >= last)
            return;
        if constexpr (kBitwise) {
            std::memmove(static_cast<void*>(m_data + first), m_data + last,
                         (m_count - last) * sizeof(T));
        } else {
            for (uint64_t i = first, j = last; j < m_count; ++i, ++j)
                m_data[i] = std::move(m_data[j]);
            DestroyRange(m_count - (last - first), m_count);
        }
        m_count -= last - first;
    }

    void PopBack() { Erase(m_count - 1, m_count); }

    // Keeps the first of each run of adjacent elements that same finds
    // equal, as std::unique does: on a sorted array, one of each value.
    template <typename Same = std::equal_to<>>
    void EraseRepeats(Same same = Same())
    {
        Erase(uint64_t(std::unique(begin(), end(), same) - begin()), m_count);
    }

    // Drops every element; the allocation stays for reuse.
    void Clear()
    {
        DestroyRange(0, m_count);
        m_count = 0;
    }

    // Drops every element and releases the allocation.
    void Free()
    {
        Clear();
        std::free(m_data);
        m_data = nullptr;
        m_capacity = 0;
    }

private:
    void DestroyRange(uint64_t first, uint64_t last)
    {
        if constexpr (!std::is_trivially_destructible_v<T>) {
            for (uint64_t i = first; i < last; ++i)
                m_data[i].~T();
        }
    }

    void Reallocate(uint64_t capacity)
    {
        size_t bytes = CheckedMul(capacity, sizeof(T));
        if (bytes == 0) {
            std::free(m_data);
            m_data = nullptr;
            m_capacity = 0;
            return;
        }
        T* data;
        if constexpr (kBitwise) {
            data = static_cast<T*>(std::realloc(m_data, bytes));
            if (data == nullptr)
                ThrowBadAlloc();
        } else {
            static_assert(std::is_nothrow_move_constructible_v<T>,
                          "CGrowArray relocates by move construction, which must not throw");
            data = static_cast<T*>(std::malloc(bytes));
            if (data == nullptr)
                ThrowBadAlloc();
            for (uint64_t i = 0; i < m_count; ++i) {
                new (data + i) T(std::move(m_data[i]));
                m_data[i].~T();
            }
            std::free(m_data);
        }
        m_data = data;
        m_capacity = capacity;
    }

    T* m_data = nullptr;
    uint64_t m_count = 0;
    uint64_t m_capacity = 0;
};
