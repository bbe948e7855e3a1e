// Arbitrary bytes through the streamed run and through the list: read all,
// then write. The RAW bytes, the count and the report of where reading
// stopped must be the same, with threads and batches that cross often.
#include "app/ConversionPipeline.h"
#include "platform/Files.h"
#include "raw/RawWriter.h"
#include "stl/TrimeldConverter.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace trimeld;

struct TMemoryFile final : platform::TOutputFile {
    explicit TMemoryFile(std::string& target) : bytes(target) {}
    int Write(const char* data, std::size_t size) override {
        bytes.append(data, size);
        return 0;
    }
    int Close() override { return 0; }
    bool IsCharDevice() const override { return false; }
    std::string& bytes;
};

platform::TOutputOpener Into(std::string& bytes) {
    return [&bytes](std::u16string_view) -> platform::TCreateResult {
        return {std::make_unique<TMemoryFile>(bytes), 0};
    };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string listed;
    TTrimeldConverter conv(u"fuzz.stl");
    {
        TRawWriter writer(u"list.raw", cOUT_BUFFER_SIZE, Into(listed));
        platform::TMemoryStream stream(input);
        conv.LoadFromStream(stream);
        for (std::int32_t i = 0; i < conv.TriangleCount(); ++i)
            writer.Add(conv.TrianglesList()[i]);
    }

    for (const unsigned threads : {1u, 3u}) {
        std::string streamed;
        TStreamReport report;
        {
            TRawWriter writer(u"stream.raw", cOUT_BUFFER_SIZE, Into(streamed));
            platform::TMemoryStream stream(input);
            report = detail::StreamConversion(stream, writer, threads, 2);
        }
        if (streamed != listed || report.triangleCount != conv.TriangleCount() ||
            report.kind != conv.LastKind() || report.stop.stopped != conv.LastStop().stopped ||
            report.stop.reason != conv.LastStop().reason ||
            report.stop.position != conv.LastStop().position)
            std::abort();
    }
    return 0;
}
