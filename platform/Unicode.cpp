#include "platform/Unicode.h"

#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <unicode/utypes.h>

#include <charconv>
#include <cstdint>

namespace trimeld::platform {
namespace {

// Escaped bytes are 0x80..0xFF: bytes below 0x80 are always valid UTF-8.
constexpr char16_t cESCAPE_FIRST = 0xDC80;
constexpr char16_t cESCAPE_LAST = 0xDCFF;

} // namespace

std::string ToUtf8(std::u16string_view text) {
    if (text.empty())
        return {};
    std::string out(text.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

std::u16string FromUtf8(std::string_view bytes) {
    if (bytes.empty())
        return {};
    std::u16string out(bytes.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, bytes.data(),
                         static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

std::u16string NameFromBytes(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        // ICU's U8_NEXT takes only well-formed UTF-8 (no surrogates, no
        // overlong forms) and skips a maximal ill-formed part when it fails.
        U8_NEXT(s, i, length, c);
        if (c >= 0) {
            if (c <= 0xFFFF) {
                out += static_cast<char16_t>(c);
            } else {
                out += static_cast<char16_t>(U16_LEAD(c));
                out += static_cast<char16_t>(U16_TRAIL(c));
            }
            continue;
        }
        for (int32_t k = start; k < i; ++k)
            out += static_cast<char16_t>(cESCAPE_FIRST + (s[k] - 0x80));
    }
    return out;
}

std::optional<std::string> NameToBytes(std::u16string_view name) {
    std::string out;
    out.reserve(name.size());
    const char16_t* s = name.data();
    const auto length = static_cast<int32_t>(name.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U16_NEXT(s, i, length, c);
        if (c == 0)
            return std::nullopt;
        if (U_IS_SURROGATE(c)) {
            if (c < cESCAPE_FIRST || c > cESCAPE_LAST)
                return std::nullopt;
            out += static_cast<char>(0x80 + (c - cESCAPE_FIRST));
            continue;
        }
        char bytes[U8_MAX_LENGTH];
        int32_t used = 0;
        U8_APPEND_UNSAFE(bytes, used, c);
        out.append(bytes, static_cast<std::size_t>(used));
    }
    return out;
}

std::u16string DisplayName(std::u16string_view name) {
    std::u16string out(name);
    const auto length = static_cast<int32_t>(out.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U16_NEXT(out.data(), i, length, c);
        if (U_IS_SURROGATE(c))
            out[static_cast<std::size_t>(start)] = 0xFFFD;
    }
    return out;
}

std::u16string IntToText(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::u16string(buffer, result.ptr);
}

} // namespace trimeld::platform
