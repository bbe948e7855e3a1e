#pragma once

#include "platform/Unicode.h"
#include "stl/TrimeldConverter.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace trimeld::test {

/// The bytes of a binary STL: an 80-byte header (text padded with NULs), the
/// facet count (by default the number of facets) and the facets (each with two zero attribute
/// bytes).
std::string StlBytes(const std::vector<TSTLFace>& facets,
                     std::optional<std::int32_t> facetCount = std::nullopt,
                     const std::string& header = "binary test");

/// Bytes from memory handed out at most readSize bytes per read, so that
/// reads end everywhere. Without seeking it stands for a pipe.
class TChunkStream final : public platform::TStream {
public:
    TChunkStream(std::string bytes, std::size_t readSize, bool seekable = true)
        : data(std::move(bytes)), opt{readSize, seekable, std::nullopt, 0} {}
    /// The read that would pass offset bytes fails with error instead, or
    /// throws std::bad_alloc when error is ENOMEM (memory running out there).
    void FailAt(std::size_t offset, int error) {
        opt.failAt = offset;
        opt.error = error;
    }
    std::ptrdiff_t Read(void* buffer, std::size_t size) override;
    std::int64_t Position() const override { return static_cast<std::int64_t>(pos); }
    bool Seek(std::int64_t position) override;
    bool CanSeek() const override { return opt.seekable; }
    std::int64_t Size() const override {
        return opt.seekable ? static_cast<std::int64_t>(data.size()) : -1;
    }

private:
    struct TOptions {
        std::size_t readSize;
        bool seekable;
        std::optional<std::size_t> failAt;
        int error;
    };
    std::string data;
    TOptions opt;
    std::size_t pos = 0;
};

/// A fresh folder under the system's temporary folder, removed at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& Path() const { return path; }
    [[nodiscard]] std::u16string Name(const std::string& entry) const;

private:
    std::filesystem::path path;
};

std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

/// The folder of the shared STL corpus.
std::filesystem::path CorpusDir();

/// Why the corpus tests cannot run here (the folder is missing), or nothing
/// when the corpus is in place. A clone on its own has no corpus beside it.
std::optional<std::string> CorpusMissing();

/// Bit pattern of a single, and a single from bits.
std::uint32_t Bits(float value);
float FromBits(std::uint32_t bits);

} // namespace trimeld::test
