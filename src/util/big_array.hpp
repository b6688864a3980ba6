// An array of n plain elements for the index structures that take a word per
// element of the input (suffix array, LCP array and its helpers).
//
// A std::vector<I>(n) writes zeros over memory the kernel has just zeroed, and
// its 4 KiB pages fault in one by one: on a 20 MB input about a tenth of the
// search went to that. Large arrays here come straight from the kernel, aligned
// to and asking for 2 MiB pages, and are left uninitialised (the kernel's
// zeros): every user writes an element before it reads it. Small ones come from
// the ordinary heap, where a mapping per call would cost more than it saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace veltrane::util {

namespace detail {

// From this many bytes on, an array gets a mapping of its own.
inline constexpr std::size_t OWN_MAPPING_FROM = std::size_t{1} << 20;

// `bytes` (> 0) of uninitialised memory; throws std::bad_alloc when there
// is none. release takes the same byte count.
void* acquire_bytes(std::size_t bytes);
void release_bytes(void* memory, std::size_t bytes) noexcept;

}  // namespace detail

template <class T>
class BigArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    BigArray() = default;
    // Elements are not initialised; throws std::bad_alloc (also when the byte
    // count overflows).
    explicit BigArray(std::size_t size) : size_(size) {
        if (size > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        if (size > 0) data_ = static_cast<T*>(detail::acquire_bytes(size * sizeof(T)));
    }
    BigArray(BigArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    BigArray& operator=(BigArray&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    BigArray(const BigArray&) = delete;
    BigArray& operator=(const BigArray&) = delete;
    ~BigArray() { reset(); }

    // Gives the memory back now; the array is then empty.
    void reset() noexcept {
        if (data_ != nullptr) detail::release_bytes(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace veltrane::util
