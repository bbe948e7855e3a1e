#pragma once

#include <cstddef>

namespace trimeld::platform {

/// A large buffer for data that is written once per use and reused: its
/// memory is asked for in large pages where the system offers them, so that
/// first touching it costs few page faults. Untouched parts cost no memory.
/// Move-only; freed by the destructor. Throws std::bad_alloc.
class TLargeBuffer {
public:
    TLargeBuffer() noexcept = default;
    explicit TLargeBuffer(std::size_t size);
    ~TLargeBuffer();
    TLargeBuffer(TLargeBuffer&& other) noexcept;
    TLargeBuffer& operator=(TLargeBuffer&& other) noexcept;
    TLargeBuffer(const TLargeBuffer&) = delete;
    TLargeBuffer& operator=(const TLargeBuffer&) = delete;

    [[nodiscard]] char* Data() const noexcept { return data; }
    [[nodiscard]] std::size_t Size() const noexcept { return size; }

private:
    char* data = nullptr;
    std::size_t size = 0;
};

} // namespace trimeld::platform
