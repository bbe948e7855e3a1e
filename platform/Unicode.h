#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Conversions between the system's UTF-16 text and the bytes the operating
// system and the terminal deal in.
namespace trimeld::platform {

/// Text to UTF-8 for showing it: an unpaired surrogate, and so every byte a
/// file name held that was not UTF-8, becomes U+FFFD.
[[nodiscard]] std::string ToUtf8(std::u16string_view text);
/// UTF-8 to text for showing it: malformed bytes become U+FFFD.
[[nodiscard]] std::u16string FromUtf8(std::string_view bytes);

/// A file name as the system gave it, decoded without loss: valid UTF-8
/// decodes as usual, and each byte that is not part of valid UTF-8 becomes
/// the lone surrogate U+DC80 + (byte - 0x80), which NameToBytes turns back
/// into that byte. Any byte string survives NameToBytes(NameFromBytes(b)).
[[nodiscard]] std::u16string NameFromBytes(std::string_view bytes);
/// The bytes a file name stands for; nothing when no file could have it:
/// it holds U+0000 or a lone surrogate that stands for no byte.
[[nodiscard]] std::optional<std::string> NameToBytes(std::u16string_view name);

/// The name as it is shown: every lone surrogate (a byte that was not
/// UTF-8) becomes U+FFFD.
[[nodiscard]] std::u16string DisplayName(std::u16string_view name);

/// Decimal text of a signed integer.
[[nodiscard]] std::u16string IntToText(std::int64_t value);

} // namespace trimeld::platform
