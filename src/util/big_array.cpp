#include "util/big_array.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace veltrane::util::detail {

namespace {

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

std::size_t round_up(std::size_t bytes, std::size_t to) { return (bytes + to - 1) / to * to; }

}  // namespace

// A mapping one huge page longer than asked, trimmed at both ends to the
// aligned part: transparent huge pages need 2 MiB-aligned ranges, and the
// kernel's choice of address only guarantees 4 KiB. The trimmed ends were never
// touched, so they never held memory.
void* acquire_bytes(std::size_t bytes) {
    if (bytes < OWN_MAPPING_FROM) return ::operator new(bytes);
    if (bytes > SIZE_MAX - 2 * HUGE_PAGE) throw std::bad_alloc();
    const std::size_t length = round_up(bytes, HUGE_PAGE);
    const std::size_t mapped = length + HUGE_PAGE;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = round_up(start, HUGE_PAGE);
    if (aligned > start) munmap(raw, aligned - start);
    const std::size_t tail = (start + mapped) - (aligned + length);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* memory = reinterpret_cast<void*>(aligned);
    // Only advice: without huge pages the array still works, page by page.
    madvise(memory, length, MADV_HUGEPAGE);
    return memory;
}

void release_bytes(void* memory, std::size_t bytes) noexcept {
    if (bytes < OWN_MAPPING_FROM) {
        ::operator delete(memory);
        return;
    }
    munmap(memory, round_up(bytes, HUGE_PAGE));
}

}  // namespace veltrane::util::detail
