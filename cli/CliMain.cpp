// trimeld-convert: the command-line converter over the same core as the window.
#include "geometry/CommonTypes.h"
#include "raw/RawWriter.h"
#include "stl/TrimeldConverter.h"

#include <cstdio>
#include <string>

namespace {

constexpr int cEXIT_OK = 0;
constexpr int cEXIT_FAILURE = 1;
constexpr int cEXIT_USAGE = 2;

// A message ending in a character above "." gets a final full stop, as the
// window's error display does.
std::u16string WithFullStop(std::u16string text) {
    if (!text.empty() && text.back() > u'.')
        text += u'.';
    return text;
}

} // namespace

int main(int argc, char** argv) {
    using namespace trimeld;
    if (argc != 3) {
        std::fputs("usage: trimeld-convert STL RAW\n", stderr);
        return cEXIT_USAGE;
    }
    try {
        TTrimeldConverter conv(FromUtf8(argv[1]), FromUtf8(argv[2]));
        conv.Convert();
        conv.Save();
    } catch (const TTrimeldError& failure) {
        const std::string text = ToUtf8(WithFullStop(failure.Message()));
        std::fprintf(stderr, "trimeld-convert: %s\n", text.c_str());
        return cEXIT_FAILURE;
    }
    return cEXIT_OK;
}
