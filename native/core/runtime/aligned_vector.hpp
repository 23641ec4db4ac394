// Vectors whose storage starts on a cache-line boundary. Numeric buffers
// handed to BLAS and LAPACK use them, so that every copy of a computation
// sees its data at the same alignment and the library takes the same code
// path (and rounds the same way) whichever thread or buffer runs it.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace bvc {

inline constexpr std::size_t kBufferAlignment = 64;

template <class T>
struct AlignedAllocator {
    using value_type = T;

    AlignedAllocator() noexcept = default;
    template <class U>
    AlignedAllocator(const AlignedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kBufferAlignment)));
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, std::align_val_t(kBufferAlignment)); }

    template <class U>
    bool operator==(const AlignedAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using AlignedVector = std::vector<T, AlignedAllocator<T>>;

}  // namespace bvc
