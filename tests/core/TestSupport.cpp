#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <random>

#include <unistd.h>

namespace trimeld::test {

std::ptrdiff_t TChunkStream::Read(void* buffer, std::size_t size) {
    std::size_t count = std::min({size, opt.readSize, data.size() - std::min(pos, data.size())});
    if (opt.failAt && pos + count > *opt.failAt) {
        if (opt.error == ENOMEM)
            throw std::bad_alloc();
        return -opt.error;
    }
    std::memcpy(buffer, data.data() + pos, count);
    pos += count;
    return static_cast<std::ptrdiff_t>(count);
}

bool TChunkStream::Seek(std::int64_t position) {
    if (!opt.seekable || position < 0)
        return false;
    pos = static_cast<std::size_t>(position);
    return true;
}
namespace {

void PutSingle(std::string& out, float value) {
    std::uint32_t bits = Bits(value);
    for (int i = 0; i < 4; ++i, bits >>= 8)
        out += static_cast<char>(bits & 0xFF);
}

void PutPoint(std::string& out, const TPoint3D& p) {
    PutSingle(out, p.x);
    PutSingle(out, p.y);
    PutSingle(out, p.z);
}

} // namespace

std::string StlBytes(const std::vector<TSTLFace>& facets, std::optional<std::int32_t> facetCount,
                     const std::string& header) {
    std::string out = header.substr(0, 80);
    out.resize(80, '\0');
    auto count =
        static_cast<std::uint32_t>(facetCount.value_or(static_cast<std::int32_t>(facets.size())));
    for (int i = 0; i < 4; ++i, count >>= 8)
        out += static_cast<char>(count & 0xFF);
    for (const TSTLFace& face : facets) {
        PutPoint(out, face.normal);
        PutPoint(out, face.v1);
        PutPoint(out, face.v2);
        PutPoint(out, face.v3);
        out += std::string(2, '\0');
    }
    return out;
}

TTempDir::TTempDir() {
    std::random_device seed;
    path = std::filesystem::temp_directory_path() /
           ("trimeld-test-" + std::to_string(::getpid()) + "-" + std::to_string(seed()));
    std::filesystem::create_directories(path);
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::u16string TTempDir::Name(const std::string& entry) const {
    return platform::NameFromBytes((path / entry).string());
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path CorpusDir() {
    return TRIMELD_CORPUS_DIR;
}

std::optional<std::string> CorpusMissing() {
    std::error_code error;
    if (std::filesystem::is_directory(CorpusDir(), error))
        return std::nullopt;
    return "no STL corpus at " + CorpusDir().string() + " (it sits beside the checkout)";
}

std::uint32_t Bits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float FromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace trimeld::test
