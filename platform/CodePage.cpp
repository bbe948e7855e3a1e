#include "platform/CodePage.h"

#include <array>

namespace trimeld::platform {
namespace {

// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined
// decode to the C1 control of the same code, as the system's converter does.
constexpr std::array<char16_t, 32> cHIGH_CONTROLS = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

} // namespace

char16_t DecodeAnsiByte(unsigned char byte) noexcept {
    if (byte >= 0x80 && byte <= 0x9F)
        return cHIGH_CONTROLS[byte - 0x80];
    return byte;
}

std::u16string DecodeAnsi(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text[i] = DecodeAnsiByte(static_cast<unsigned char>(bytes[i]));
    return text;
}

char EncodeAnsiChar(char16_t ch) noexcept {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
        return static_cast<char>(ch);
    for (std::size_t i = 0; i < cHIGH_CONTROLS.size(); ++i)
        if (cHIGH_CONTROLS[i] == ch)
            return static_cast<char>(0x80 + i);
    return '?';
}

std::string EncodeAnsi(std::u16string_view text) {
    std::string bytes(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        bytes[i] = EncodeAnsiChar(text[i]);
    return bytes;
}

} // namespace trimeld::platform
