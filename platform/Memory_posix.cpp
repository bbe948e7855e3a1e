#include "platform/Memory.h"

#include <cstdint>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

namespace trimeld::platform {

namespace {

// The large page of x86-64 and others; a buffer starts on one, so that its
// first part, the part that is used most, can be one.
constexpr std::size_t cLARGE_PAGE = 2 * 1024 * 1024;

} // namespace

TLargeBuffer::TLargeBuffer(std::size_t bytes) : size(bytes) {
    if (size == 0)
        return;
    // Map a large page more than asked for, then give back what lies before
    // the first large-page boundary and after the buffer.
    const std::size_t mappedSize = size + cLARGE_PAGE;
    void* mapped =
        ::mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto address = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (address + cLARGE_PAGE - 1) & ~(cLARGE_PAGE - 1);
    if (aligned > address)
        ::munmap(mapped, aligned - address);
    const std::uintptr_t end = address + mappedSize;
    const std::uintptr_t pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t used = (aligned + size + pageSize - 1) & ~(pageSize - 1);
    if (end > used)
        ::munmap(reinterpret_cast<void*>(used), end - used);
    size = used - aligned;
#if defined(MADV_HUGEPAGE)
    // Only advice: without large pages the buffer works the same.
    (void)::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    data = reinterpret_cast<char*>(aligned);
}

TLargeBuffer::~TLargeBuffer() {
    if (data != nullptr)
        ::munmap(data, size);
}

TLargeBuffer::TLargeBuffer(TLargeBuffer&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

TLargeBuffer& TLargeBuffer::operator=(TLargeBuffer&& other) noexcept {
    if (this != &other) {
        if (data != nullptr)
            ::munmap(data, size);
        data = std::exchange(other.data, nullptr);
        size = std::exchange(other.size, 0);
    }
    return *this;
}

} // namespace trimeld::platform
