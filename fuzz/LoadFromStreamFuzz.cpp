// Arbitrary bytes through the STL reader, both kinds: it must return, never
// crash, hang or let a failure escape, and keep only complete triangles.
#include "platform/Files.h"
#include "stl/TrimeldConverter.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace trimeld;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TTrimeldConverter conv(u"fuzz.stl");
    platform::TMemoryStream stream(bytes);
    conv.LoadFromStream(stream);
    // A binary facet takes 50 bytes and a text facet far more than 8.
    if (static_cast<std::size_t>(conv.TriangleCount()) > size / 8 + 1)
        std::abort();
    return 0;
}
