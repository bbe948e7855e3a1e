#pragma once

#include <string>
#include <string_view>

namespace trimeld::platform {

/// The system's ANSI code page: Windows-1252, fixed, so that reading and
/// writing never depend on the machine's locale. Single-byte: every byte
/// decodes to exactly one character and never to U+0000..U+007F from 0x80 up.
[[nodiscard]] char16_t DecodeAnsiByte(unsigned char byte) noexcept;

/// Decodes bytes character by character with DecodeAnsiByte.
[[nodiscard]] std::u16string DecodeAnsi(std::string_view bytes);

/// The byte for a character; a character outside the code page becomes "?".
[[nodiscard]] char EncodeAnsiChar(char16_t ch) noexcept;

/// Encodes a text with EncodeAnsiChar, one byte per UTF-16 code unit.
[[nodiscard]] std::string EncodeAnsi(std::u16string_view text);

} // namespace trimeld::platform
