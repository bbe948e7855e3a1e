#include "stl/TrimeldConverter.h"

#include "geometry/VectorGeometry.h"
#include "raw/RawWriter.h"
#include "stl/TextRules.h"
#include "stl/TextStlReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace trimeld {
namespace {

// Binary facets are read through a buffer of whole records.
constexpr std::size_t cFACETS_PER_READ = 1310;

float LittleEndianSingle(const unsigned char* bytes) noexcept {
    const std::uint32_t bits = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                               std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TPoint3D LittleEndianPoint(const unsigned char* bytes) noexcept {
    return {LittleEndianSingle(bytes), LittleEndianSingle(bytes + 4),
            LittleEndianSingle(bytes + 8)};
}

// Reads until size bytes are in, the stream ends or a read fails (error is
// then its errno value). Returns the count read.
std::size_t ReadUpTo(platform::TStream& aStream, void* buffer, std::size_t size, int& error) {
    std::size_t done = 0;
    error = 0;
    while (done < size) {
        const std::ptrdiff_t got = aStream.Read(static_cast<char*>(buffer) + done, size - done);
        if (got < 0) {
            error = static_cast<int>(-got);
            break;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// A read the system refuses is no damage of the content: it is the I/O failure.
void RaiseIfFailed(int error) {
    if (error != 0)
        RaiseReadFailure(-error);
}

std::size_t ReadFully(platform::TStream& aStream, void* buffer, std::size_t size) {
    int error = 0;
    const std::size_t done = ReadUpTo(aStream, buffer, size, error);
    RaiseIfFailed(error);
    return done;
}

} // namespace

void SkipToEnd(platform::TStream& aStream) {
    if (aStream.CanSeek()) {
        const std::int64_t size = aStream.Size();
        if (size >= aStream.Position() && aStream.Seek(size))
            return;
    }
    std::vector<char> scratch(cTEXT_CHUNK_SIZE);
    while (ReadFully(aStream, scratch.data(), scratch.size()) == scratch.size()) {
    }
}

namespace {

class TConverterSink final : public TFacetSink {
public:
    explicit TConverterSink(TTrimeldConverter& owner) : converter(owner) {}
    void AddFacet(const TSTLFace& face) override {
        converter.Orient(face);
        converter.AddTriangle();
    }

private:
    TTrimeldConverter& converter;
};

} // namespace

void TTriangleList::Add(const TTriangle3D& triangle) {
    const auto slot = static_cast<std::size_t>(count) & (cCHUNK_SIZE - 1);
    if (slot == 0)
        chunks.push_back(std::make_unique_for_overwrite<TTriangle3D[]>(cCHUNK_SIZE));
    chunks.back()[slot] = triangle;
    ++count;
}
namespace detail {

TStlKind JudgeKind(const unsigned char (&header)[cFULL_HEADER_LEN]) noexcept {
    // Each byte is a character of its own, upper-cased in ASCII only. The
    // code page decodes no byte of 0x80 and above to ASCII, so such a byte
    // can match no letter of the labels and the test runs on the bytes.
    char upper[cFULL_HEADER_LEN];
    for (std::size_t i = 0; i < cFULL_HEADER_LEN; ++i) {
        const unsigned char byte = header[i];
        upper[i] = static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte);
    }
    const std::string_view text(upper, cFULL_HEADER_LEN);
    const auto ascii = [](std::u16string_view label) {
        std::string bytes;
        for (const char16_t ch : label)
            bytes += static_cast<char>(ch);
        return bytes;
    };
    static const std::string soli = ascii(cSOLID_LABEL.substr(0, 4));
    static const std::string facetNormal = ascii(cFACETNORMAL_LABEL);
    if (text.substr(0, 4) != soli || text.find(facetNormal) == std::string_view::npos)
        return TStlKind::Binary;
    return TStlKind::Text;
}

} // namespace detail

TTrimeldConverter::TTrimeldConverter(std::u16string strStlFileName)
    : fileName(std::move(strStlFileName)) {
    InitObj();
}

TTrimeldConverter::TTrimeldConverter(std::u16string strStlFileName, std::u16string strRawFileName)
    : fileName(std::move(strStlFileName)) {
    InitObj();
    writer = std::make_unique<TRawWriter>(strRawFileName);
    if (writer->Status() == RW_OK)
        canWrite = true;
    else
        fStatus += writer->Status();
}

TTrimeldConverter::~TTrimeldConverter() = default;

void TTrimeldConverter::InitObj() {
    canWrite = false;
    fStatus = 0;
    convertErrorCount = 0;
}

void TTrimeldConverter::Convert() {
    LoadFromFile(fileName);
}

void TTrimeldConverter::LoadFromFile(const std::u16string& aFileName) {
    int error = 0;
    const auto stream = platform::TFileStream::Open(aFileName, error);
    if (!stream)
        throw TFileOpenError(aFileName, error);
    try {
        LoadFromStream(*stream);
    } catch (TIoError& failure) {
        if (failure.Detail().operation == TOperation::Read && failure.Detail().fileName.empty())
            failure.SetFileName(aFileName);
        throw;
    }
}

void TTrimeldConverter::LoadFromStream(platform::TStream& aStream) {
    TConverterSink sink(*this);
    ReadStlStream(aStream, sink, nullptr, lastKind, lastStop, lastFacts);
}

namespace {

// Passes every complete binary facet on; delivered counts those the sink took.
void ReadBinary(platform::TStream& aStream, TFacetSink& sink, std::int64_t& delivered,
                TReadFacts& facts) {
    // The count is whatever the header claims (a text file judged binary can
    // claim hundreds of millions), so nothing is reserved from it: the list
    // grows in chunks and reading stops at the first incomplete facet.
    unsigned char header[cBINARY_HEADER_LEN] = {};
    facts.binaryHeaderBytes = static_cast<std::int64_t>(ReadFully(aStream, header, sizeof header));
    const auto facetCount = static_cast<std::int32_t>(
        std::uint32_t{header[80]} | std::uint32_t{header[81]} << 8 |
        std::uint32_t{header[82]} << 16 | std::uint32_t{header[83]} << 24);
    facts.facetCount = facetCount;

    std::vector<unsigned char> buffer(cFACETS_PER_READ * cFACET_RECORD_LEN);
    std::int64_t left = std::max<std::int32_t>(facetCount, 0);
    while (left > 0) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::int64_t>(left, cFACETS_PER_READ));
        int error = 0;
        const std::size_t got = ReadUpTo(aStream, buffer.data(), wanted * cFACET_RECORD_LEN, error);
        // The facets that arrived whole before a failed read are kept.
        const std::size_t complete = got / cFACET_RECORD_LEN;
        for (std::size_t i = 0; i < complete; ++i) {
            const unsigned char* record = buffer.data() + i * cFACET_RECORD_LEN;
            sink.AddFacet({LittleEndianPoint(record), LittleEndianPoint(record + 12),
                           LittleEndianPoint(record + 24), LittleEndianPoint(record + 36)});
            ++delivered;
        }
        RaiseIfFailed(error);
        if (complete < wanted)
            throw TTrimeldError(IoCodeText(cIO_READ_BEYOND_END));
        left -= static_cast<std::int64_t>(wanted);
    }
}

} // namespace

void ReadStlStream(platform::TStream& aStream, TFacetSink& facets, TTextFacetSink* textFields,
                   TStlKind& kind, TReadStop& stop, TReadFacts& facts) {
    kind = TStlKind::None;
    stop = {};
    facts = {};
    unsigned char header[cFULL_HEADER_LEN] = {};
    const std::size_t taken = ReadFully(aStream, header, sizeof header);
    kind = detail::JudgeKind(header);
    detail::TReplayStream stream(aStream, reinterpret_cast<const char*>(header), taken);

    std::int64_t line = 0;
    std::int64_t delivered = 0;
    try {
        if (kind == TStlKind::Text) {
            facts.contentAfterEnd = textFields != nullptr
                                        ? ReadTextStlDeferred(stream, *textFields, line)
                                        : ReadTextStl(stream, facets, line);
        } else {
            ReadBinary(stream, facets, delivered, facts);
        }
    } catch (const TStopReading&) {
        // The receiver has all it wants; what follows is not looked at.
    } catch (const TIoError&) {
        throw; // the system failed, not the content
    } catch (const TTrimeldError& failure) {
        // Damaged content: reading stops, and the facets passed on so far stay.
        stop = {true, failure.Message(), kind == TStlKind::Binary ? delivered + 1 : line};
    }
    if (kind == TStlKind::Text)
        SkipToEnd(aStream);
}

TTriangle3D OrientFacet(const TSTLFace& face) {
    const TPoint3D n = CalcPlaneNormal(face.v1, face.v2, face.v3);
    if (detail::Greater(VectorDotProduct(n, face.normal), 0.0L))
        return {face.v1, face.v2, face.v3};
    return {face.v3, face.v2, face.v1};
}

void TTrimeldConverter::Orient(const TSTLFace& face) {
    tr = OrientFacet(face);
}

void TTrimeldConverter::AddTriangle() {
    trList.Add(tr);
}

void TTrimeldConverter::Save() {
    for (std::int32_t i = 0; i < trList.Count(); ++i)
        writer->Add(trList[i]);
}

} // namespace trimeld
