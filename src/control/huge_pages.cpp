// A run allocates and touches hundreds of megabytes of day-length arrays, and on virtual
// machines each first touch of a 4 KiB page is expensive. Where the kernel gives transparent huge
// pages on request (its usual "madvise" mode), advising a block before it is first written makes
// each 2 MiB of it one fault. The program keeps freed memory in its heap (see main), so the
// advice given once holds for every later array placed there. Day arrays of standard containers
// come through operator new, which is replaced here to advise large blocks; FFTW's buffers are
// advised where they are allocated.
#include "control/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::uintptr_t huge_page = std::uintptr_t{1} << 21;
constexpr std::size_t smallest_advised = std::size_t{4} << 20;

}  // namespace

void advise_huge_pages(void* p, std::size_t bytes) {
    if (p == nullptr || bytes < smallest_advised)
        return;
    const std::uintptr_t begin =
        (reinterpret_cast<std::uintptr_t>(p) + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(huge_page - 1);
    if (begin < end)
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void reserve_heap(std::size_t bytes) {
    if (bytes < smallest_advised)
        return;
    void* block = std::malloc(bytes);
    const char* top = static_cast<const char*>(sbrk(0));
    const char* first = static_cast<const char*>(block);
    // Freed, the block joins the free top of the heap, which the memory trim leaves in place.
    if (block != nullptr && first < top && top - first >= static_cast<std::ptrdiff_t>(bytes))
        advise_huge_pages(block, static_cast<std::size_t>(top - first));
    std::free(block);
}

// The sanitizers bring operator new of their own, which must stay in place.
#if !defined(__SANITIZE_ADDRESS__)

void* operator new(std::size_t bytes) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr)
        throw std::bad_alloc();
    advise_huge_pages(p, bytes);
    return p;
}

void* operator new[](std::size_t bytes) {
    return operator new(bytes);
}

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    advise_huge_pages(p, bytes);
    return p;
}

void* operator new[](std::size_t bytes, const std::nothrow_t& tag) noexcept {
    return operator new(bytes, tag);
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete[](void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

#endif
