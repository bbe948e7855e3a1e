// Arbitrary text through the decimal parser and the single store: no crash,
// no escaping failure other than the store's overflow, and the caller's
// floating-point control settings left as they were.
#include "platform/Failures.h"
#include "stl/DecimalParser.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The caller's rounding, precision and exception masks: the x87 control word
// and the control half of MXCSR (its low six bits are the status flags).
struct Controls {
    unsigned short x87;
    unsigned sse;
    bool operator!=(const Controls& other) const { return x87 != other.x87 || sse != other.sse; }
};

Controls ReadControls() {
    Controls c{};
    asm volatile("fnstcw %0" : "=m"(c.x87));
    c.sse = __builtin_ia32_stmxcsr() & ~0x3Fu;
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace trimeld;
    // Mostly ASCII, so that the grammar is reached: one byte per character.
    std::u16string text(data, data + size);
    const Controls before = ReadControls();
    const TDecimalResult result = TryParseDecimal(text, u'.');
    if (ReadControls() != before)
        std::abort();
    if (!result)
        return 0;
    if (std::isnan(result.value) || std::isinf(result.value))
        std::abort(); // overflow makes the text invalid; NaN cannot be written
    try {
        const float single = StoreSingle(result.value);
        if (std::isinf(single))
            std::abort();
    } catch (const TFloatError&) {
        if (std::fabs(result.value) < 0x1.ffffffp127L)
            std::abort();
    }
    return 0;
}
