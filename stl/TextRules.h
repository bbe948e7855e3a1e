#pragma once

#include "platform/Failures.h"
#include "platform/Files.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// The character-level rules that text STL reading rests on. Text is UTF-16,
// one character per code unit.
namespace trimeld {

/// Raises the list index failure: TTrimeldError "List index out of bounds (%d)".
[[noreturn]] void RaiseListIndexError(std::int64_t index);

/// Raises the I/O failure of a read the system refused, from the negative
/// errno value a stream's Read returned; the caller names the file.
[[noreturn]] void RaiseReadFailure(std::ptrdiff_t result);

/// The text without the characters U+0000 .. U+0020 at either end, for text
/// of either kind.
template <typename CharT>
[[nodiscard]] std::basic_string_view<CharT>
TrimBlanks(std::basic_string_view<CharT> text) noexcept {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<std::make_unsigned_t<CharT>>(text[first]) <= 0x20)
        ++first;
    while (last > first && static_cast<std::make_unsigned_t<CharT>>(text[last - 1]) <= 0x20)
        --last;
    return text.substr(first, last - first);
}

/// The text without the characters U+0000 .. U+0020 at either end. U+007F,
/// U+00A0 and other spaces stay.
[[nodiscard]] inline std::u16string_view TrimBlanks(std::u16string_view text) noexcept {
    return TrimBlanks<char16_t>(text);
}

/// a-z become A-Z; every other character, non-ASCII letters included, stays.
[[nodiscard]] std::u16string UpperCaseAscii(std::u16string_view text);
/// The same into out, whose storage is reused.
void UpperCaseAscii(std::u16string_view text, std::u16string& out);

/// Whether text begins with keyword, compared exactly. An empty text begins
/// with nothing.
[[nodiscard]] bool StartsWith(std::u16string_view keyword, std::u16string_view text) noexcept;
/// Equal length and equal characters once a-z are mapped to A-Z on both sides.
[[nodiscard]] bool SameTextAscii(std::u16string_view first, std::u16string_view second) noexcept;

/// How many bytes a streaming reader takes from its stream at a time.
inline constexpr std::size_t cTEXT_CHUNK_SIZE = 64 * 1024;

namespace detail {

enum class TTextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

/// The decoding selected by the first bytes of a text, and the length of its marker.
[[nodiscard]] TTextEncoding DetectEncoding(std::string_view firstBytes,
                                           std::size_t& markerLength) noexcept;

/// Decodes bytes handed over piece by piece; a character cut by the end of one
/// piece is completed by the next.
class TTextDecoder {
public:
    explicit TTextDecoder(TTextEncoding textEncoding) noexcept : encoding(textEncoding) {}
    /// Appends the characters of bytes to text. last: no bytes follow.
    void Decode(std::string_view bytes, bool last, std::u16string& text);
    /// False once UTF-8 input has turned out not to be well-formed.
    [[nodiscard]] bool WellFormed() const noexcept { return wellFormed; }

private:
    void DecodeUtf8(std::string_view bytes, std::u16string& text);

    TTextEncoding encoding;
    bool wellFormed = true;
    // A UTF-8 sequence under way: its value so far, bytes still due and the
    // range the next byte must lie in.
    std::uint32_t utf8Value = 0;
    int utf8Due = 0;
    unsigned char utf8Low = 0x80;
    unsigned char utf8High = 0xBF;
    // The first byte of a UTF-16 unit cut by a piece boundary.
    int utf16Pending = -1;
};

/// Line splitting over text that arrives piece by piece, UTF-16 or single
/// bytes. The lines taken out are dropped from its buffer on the next
/// Input(), so it holds no more than the line under way and the latest piece.
template <typename CharT> class TBasicLineSplitter {
public:
    enum class TStep { Line, NeedMore, End };
    /// The buffer to append the next piece to.
    [[nodiscard]] std::basic_string<CharT>& Input();
    /// No more text will be appended.
    void Finish() noexcept { finished = true; }
    /// Splits off the next line into line (valid until the next Input()).
    /// NeedMore: append a piece or Finish(), then call again.
    [[nodiscard]] TStep Next(std::basic_string_view<CharT>& line);

private:
    std::basic_string<CharT> text;
    std::size_t pos = 0;     // start of the line under way
    std::size_t scanned = 0; // no break between pos and here
    bool finished = false;
    bool ended = false;
    bool afterCr = false; // the last line ended at a CR; one LF may follow
};

using TLineSplitter = TBasicLineSplitter<char16_t>;

/// A stream whose first bytes were already taken from it (to look at them):
/// they are served again first and reading goes on from there, so that
/// nothing has to seek back and a pipe reads exactly like a file.
class TReplayStream final : public platform::TStream {
public:
    TReplayStream(platform::TStream& source, const char* taken, std::size_t count)
        : inner(source), bytes(taken), size(count) {}
    std::ptrdiff_t Read(void* buffer, std::size_t count) override;
    std::int64_t Position() const override {
        return inner.Position() - static_cast<std::int64_t>(size - next);
    }
    bool Seek(std::int64_t position) override;
    bool CanSeek() const override { return inner.CanSeek(); }
    std::int64_t Size() const override { return inner.Size(); }

private:
    platform::TStream& inner;
    const char* bytes;
    std::size_t size;
    std::size_t next = 0;
};

} // namespace detail

/// The lines of a stream read piece by piece, by the text loader's rules but
/// without holding the whole text: memory stays within one piece plus the
/// longest line. UTF-8 text is checked in a first pass over the stream and
/// read again from the marker in a second, which needs a stream that can
/// seek.
class TLineReader {
public:
    explicit TLineReader(platform::TStream& aStream, std::size_t chunkSize = cTEXT_CHUNK_SIZE);
    /// The next line, empty ones included; false at the end of the text. The
    /// view stays valid until the next call. Throws TIoError when a read or
    /// a seek fails.
    [[nodiscard]] bool Next(std::u16string_view& line);
    /// The 1-based number of the line Next gave last; 0 before the first.
    [[nodiscard]] std::int64_t LineNumber() const noexcept { return lineNumber; }
    /// Reads the rest of the stream, which the text after a U+0000 leaves unread.
    void SkipRest();

private:
    void Start();
    std::size_t ReadChunk();

    platform::TStream& stream;
    std::vector<char> chunk;
    detail::TTextDecoder decoder{detail::TTextEncoding::Ansi};
    detail::TLineSplitter splitter;
    bool started = false;
    bool streamEnded = false;
    std::int64_t lineNumber = 0;
};

/// The lines of text in the ANSI code page, as its bytes: the same lines as
/// TLineReader gives for such text, without decoding a byte. The code page
/// is single-byte and decodes only the bytes 0x00, 0x0A and 0x0D to U+0000,
/// LF and CR, so splitting the bytes splits the text.
class TAnsiLineReader {
public:
    /// taken: the first bytes of the text, already read from the stream.
    TAnsiLineReader(platform::TStream& aStream, std::string_view taken,
                    std::size_t chunkSize = cTEXT_CHUNK_SIZE);
    /// The next line, empty ones included; false at the end of the text. The
    /// view stays valid until the next call. Throws TIoError when a read fails.
    [[nodiscard]] bool Next(std::string_view& line);
    /// The 1-based number of the line Next gave last; 0 before the first.
    [[nodiscard]] std::int64_t LineNumber() const noexcept { return lineNumber; }
    /// Reads the rest of the stream, which the text after a U+0000 leaves unread.
    void SkipRest();

private:
    platform::TStream& stream;
    std::size_t chunkSize;
    detail::TBasicLineSplitter<char> splitter;
    bool streamEnded = false;
    std::int64_t lineNumber = 0;
};

/// Whether a character of the text is of Unicode general category Mn: for
/// UTF-16 the code unit itself, for a byte the character the ANSI code page
/// decodes it to.
[[nodiscard]] bool IsNonSpacingMark(char16_t ch) noexcept;
[[nodiscard]] bool IsNonSpacingMark(char byte) noexcept;

/// Whether the text, upper-cased in ASCII, begins with keyword (an upper-case
/// ASCII keyword): StartsWith(keyword, UpperCaseAscii(text)) without the copy.
template <typename CharT>
[[nodiscard]] bool StartsWithUpper(std::u16string_view keyword,
                                   std::basic_string_view<CharT> text) noexcept {
    if (text.empty() || text.size() < keyword.size())
        return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        auto ch = static_cast<char16_t>(static_cast<std::make_unsigned_t<CharT>>(text[i]));
        if (ch >= u'a' && ch <= u'z')
            ch = static_cast<char16_t>(ch - 0x20);
        if (ch != keyword[i])
            return false;
    }
    return true;
}

/// The token splitter of SplitFields, giving the fields as views into text
/// and keeping no more than a limit of them: a decoder wants an exact count,
/// so a line of a million fields costs no more than one of six. A field is
/// copied only where it needs a change: a quoted field with doubled quotes.
template <typename CharT> class TFieldViews {
public:
    static constexpr std::size_t cMAX_FIELDS = 5;
    /// The fields kept, at most the limit.
    [[nodiscard]] std::size_t Count() const noexcept { return count; }
    /// Whether the text had more fields than the limit.
    [[nodiscard]] bool More() const noexcept { return more; }
    [[nodiscard]] std::basic_string_view<CharT> operator[](std::size_t index) const noexcept {
        return views[index];
    }
    /// Splits text (which must outlive the views) keeping up to limit fields
    /// (at most cMAX_FIELDS).
    void Split(std::basic_string_view<CharT> text, std::size_t limit);

private:
    bool Append(std::basic_string_view<CharT> field, std::size_t limit) noexcept;

    std::array<std::basic_string_view<CharT>, cMAX_FIELDS> views{};
    std::array<std::basic_string<CharT>, cMAX_FIELDS> unquoted; // storage of collapsed quotes
    std::size_t count = 0;
    bool more = false;
};

} // namespace trimeld
