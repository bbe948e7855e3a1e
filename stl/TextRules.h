#pragma once

#include "platform/Failures.h"
#include "platform/Files.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The character-level rules that text STL reading rests on. Text is UTF-16,
// one character per code unit.
namespace trimeld {

/// An ordered list of texts indexed from 0: the lines of a text, or the
/// fields of one line. Refilling it reuses the storage of earlier entries, so
/// a list kept for a whole reading stops allocating once it has warmed up.
class TLineList {
public:
    [[nodiscard]] std::int32_t Count() const noexcept { return static_cast<std::int32_t>(count); }
    /// Entry index. Throws TTrimeldError "List index out of bounds (%d)" for
    /// an index outside 0 .. Count() - 1; the list stays unchanged.
    [[nodiscard]] const std::u16string& Read(std::int32_t index) const;
    /// Removes entry index; the entries after it move up by one. Throws as Read.
    void Delete(std::int32_t index);
    /// Unchecked access for callers that tested Count() first.
    [[nodiscard]] const std::u16string& operator[](std::size_t index) const noexcept {
        return items[index];
    }
    void Clear() noexcept { count = 0; }
    void Append(std::u16string_view text);

private:
    std::vector<std::u16string> items; // items[count..] are spare, kept for their storage
    std::size_t count = 0;
};

/// The fields of one line, as the token splitter leaves them.
using TFieldList = TLineList;

/// Raises the list index failure: TTrimeldError "List index out of bounds (%d)".
[[noreturn]] void RaiseListIndexError(std::int64_t index);

/// The text without the characters U+0000 .. U+0020 at either end. U+007F,
/// U+00A0 and other spaces stay.
[[nodiscard]] std::u16string_view TrimBlanks(std::u16string_view text) noexcept;

/// a-z become A-Z; every other character, non-ASCII letters included, stays.
[[nodiscard]] std::u16string UpperCaseAscii(std::u16string_view text);
/// The same into out, whose storage is reused.
void UpperCaseAscii(std::u16string_view text, std::u16string& out);

/// Whether text begins with keyword, compared exactly. An empty text begins
/// with nothing.
[[nodiscard]] bool StartsWith(std::u16string_view keyword, std::u16string_view text) noexcept;
/// Whether keyword occurs anywhere in text, compared exactly.
[[nodiscard]] bool Contains(std::u16string_view keyword, std::u16string_view text) noexcept;
/// Equal length and equal characters once a-z are mapped to A-Z on both sides.
[[nodiscard]] bool SameTextAscii(std::u16string_view first, std::u16string_view second) noexcept;

/// The token splitter: replaces the content of fields with the fields of text.
///
/// Fields are separated by blanks (U+0001 .. U+0020) and commas. Blanks
/// belong to no field; a comma with only blanks before the next comma makes
/// an empty field, and a comma directly before the end adds an empty field.
/// A field that starts with a quote runs to the next quote not doubled ("" in
/// it stands for one quote) or to the end; a quote inside any other field is
/// an ordinary character. U+0000 ends the text. Characters of Unicode general
/// category Mn directly after a blank or a comma are passed over with it.
///   «vertex 1.5,2.5 , 3.5» -> vertex|1.5|2.5|3.5     «a , , b» -> a||b
///   «a,» -> a|(empty)     «a, » -> a     «,» -> (empty)|(empty)
///   «"x y",z» -> x y|z     «"a""b"» -> a"b     «"ab"cd» -> ab|cd     «a"b"» -> a"b"
void SplitFields(std::u16string_view text, TFieldList& fields);

/// Line splitting: replaces the content of lines with the lines of text.
/// A line ends at CR, LF or CR LF; after a line at most one CR and then at
/// most one LF are taken, so LF CR and CR CR LF each give an empty line.
/// U+0000 ends the text; a break at the very end opens no further line.
void SplitLines(std::u16string_view text, TLineList& lines);

/// The text loader: decodes every byte from the stream's position to its end
/// and replaces the content of lines with its lines. A leading EF BB BF
/// selects UTF-8 (not well-formed anywhere: no lines at all), FF FE and FE FF
/// UTF-16 (a final odd byte is dropped); anything else is the ANSI code page.
/// The stream is left at its end. Throws TIoError when a read fails.
void LoadText(platform::TStream& aStream, TLineList& lines);

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

/// Line splitting over text that arrives piece by piece. The lines taken out
/// are dropped from its buffer on the next Input(), so it holds no more than
/// the line under way and the latest piece.
class TLineSplitter {
public:
    enum class TStep { Line, NeedMore, End };
    /// The buffer to append the next piece to.
    [[nodiscard]] std::u16string& Input();
    /// No more text will be appended.
    void Finish() noexcept { finished = true; }
    /// Splits off the next line into line (valid until the next Input()).
    /// NeedMore: append a piece or Finish(), then call again.
    [[nodiscard]] TStep Next(std::u16string_view& line);

private:
    std::u16string text;
    std::size_t pos = 0;     // start of the line under way
    std::size_t scanned = 0; // no break between pos and here
    bool finished = false;
    bool ended = false;
    bool afterCr = false; // the last line ended at a CR; one LF may follow
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

} // namespace trimeld
