#include "geometry/CommonTypes.h"

#include <charconv>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

namespace trimeld {

TTrimeldError::TTrimeldError(std::u16string message)
    : std::runtime_error(ToUtf8(message)), message(std::move(message)) {}

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

std::u16string IntToText(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::u16string(buffer, result.ptr);
}

} // namespace trimeld
