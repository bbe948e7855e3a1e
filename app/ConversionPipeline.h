#pragma once

#include "platform/Files.h"
#include "raw/RawWriter.h"
#include "stl/TrimeldConverter.h"

#include <cstdint>

// The conversion run's reading and writing, streamed: facets go from the STL
// stream to the RAW writer as they are read, without a triangle list, and
// orientation and number text run on several threads.
namespace trimeld {

/// The most threads a run uses to orient and format.
inline constexpr unsigned cMAX_THREADS = 64;

/// How many threads a run orients and formats with: TRIMELD_THREADS when it
/// holds a whole number from 1 to 64, otherwise the processors the process
/// may run on. 1 means no thread beside the caller's.
[[nodiscard]] unsigned ConversionThreads() noexcept;

/// What a streamed conversion read and wrote.
struct TStreamReport {
    std::int64_t triangleCount = 0;
    TStlKind kind = TStlKind::None;
    TReadStop stop;
    TReadFacts facts;
};

/// Reads the STL stream from its position and writes every triangle to the
/// writer in reading order, with exactly the outcome of reading the whole
/// stream into a TTrimeldConverter first and then handing each triangle of
/// its list to writer.Add: the same bytes and blocks, the same triangles
/// before the place where reading stopped, the same report of that place.
/// Failures are those of that order too: a failed read (TIoError) or
/// std::bad_alloc while reading is raised even when a write failed first
/// (reading came first), except for binary STL whose reading had already
/// stopped on damaged content before it; otherwise a failed write raises
/// its TIoError, with the bytes written before it on the file. Any failure
/// is raised once, on the caller's thread, after every thread has ended.
/// threads: see ConversionThreads; with 1 everything runs on the caller's
/// thread. Memory stays within a fixed window of batches of facets,
/// whatever the size of the stream.
[[nodiscard]] TStreamReport StreamConversion(platform::TStream& aStream, TRawWriter& writer,
                                             unsigned threads);

namespace detail {
/// StreamConversion with batches of batchFacets facets (tests use small ones
/// to cross many batch boundaries).
[[nodiscard]] TStreamReport StreamConversion(platform::TStream& aStream, TRawWriter& writer,
                                             unsigned threads, std::size_t batchFacets);
} // namespace detail

} // namespace trimeld
