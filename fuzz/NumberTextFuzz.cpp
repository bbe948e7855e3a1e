// Every number text of a finite single parses back. When its digits from the
// first to the last nonzero one are nine or more, the value was rounded at its
// ninth significant digit or below, and it parses back to the very same single
// (nine digits tell every two singles apart, with a wide margin for the
// parser's last-bit error in extended precision). Zeros after the last nonzero
// digit prove nothing: they may be padding beyond the digits kept. With more
// than 18 decimals the text cuts digits off, so the property stops there.
#include "raw/NumberText.h"
#include "stl/DecimalParser.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int SignificantDigits(const std::string& text) {
    int digits = 0;
    int upToLastNonzero = 0;
    for (const char ch : text) {
        if (ch == 'E')
            break;
        if (ch < '0' || ch > '9' || (digits == 0 && ch == '0'))
            continue;
        ++digits;
        if (ch != '0')
            upToLastNonzero = digits;
    }
    return upToLastNonzero;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace trimeld;
    if (size < 6)
        return 0;
    std::uint32_t bits;
    std::memcpy(&bits, data, 4);
    float v;
    std::memcpy(&v, &bits, 4);
    const unsigned decimals = data[4];
    const unsigned precision = data[5];
    const std::string text = NumberText(v, decimals, precision);
    if (text.size() >= cMAX_NUMBER_TEXT)
        std::abort();
    if (!std::isfinite(v))
        return 0;
    const std::u16string wide(text.begin(), text.end());
    const TDecimalResult back = TryParseDecimal(wide, u'.');
    if (!back)
        std::abort();
    if (back.value != 0 && std::signbit(back.value) != std::signbit(v))
        std::abort();
    if (decimals <= 18 && SignificantDigits(text) >= 9 && static_cast<float>(back.value) != v)
        std::abort();
    return 0;
}
