#include "stl/TextRules.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/CodePage.h"
#include "platform/Failures.h"
#include "platform/Unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unicode/uchar.h>

namespace trimeld {
namespace {

constexpr char16_t cLIST_INDEX_ERROR[] = u"List index out of bounds (";

constexpr char16_t cCR = u'\r';
constexpr char16_t cLF = u'\n';
constexpr char16_t cCOMMA = u',';
constexpr char16_t cQUOTE = u'"';

char16_t UpperAscii(char16_t ch) noexcept {
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 0x20) : ch;
}

} // namespace

void RaiseListIndexError(std::int64_t index) {
    throw TTrimeldError(cLIST_INDEX_ERROR + platform::IntToText(index) + u")");
}

std::u16string UpperCaseAscii(std::u16string_view text) {
    std::u16string out;
    UpperCaseAscii(text, out);
    return out;
}

void UpperCaseAscii(std::u16string_view text, std::u16string& out) {
    out.resize(text.size());
    std::transform(text.begin(), text.end(), out.begin(), UpperAscii);
}

bool StartsWith(std::u16string_view keyword, std::u16string_view text) noexcept {
    return !text.empty() && text.substr(0, keyword.size()) == keyword;
}

bool SameTextAscii(std::u16string_view first, std::u16string_view second) noexcept {
    return first.size() == second.size() &&
           std::equal(first.begin(), first.end(), second.begin(),
                      [](char16_t a, char16_t b) { return UpperAscii(a) == UpperAscii(b); });
}

namespace detail {

TTextEncoding DetectEncoding(std::string_view firstBytes, std::size_t& markerLength) noexcept {
    if (firstBytes.substr(0, 3) == "\xEF\xBB\xBF") {
        markerLength = 3;
        return TTextEncoding::Utf8;
    }
    markerLength = 2;
    if (firstBytes.substr(0, 2) == "\xFF\xFE")
        return TTextEncoding::Utf16LE;
    if (firstBytes.substr(0, 2) == "\xFE\xFF")
        return TTextEncoding::Utf16BE;
    markerLength = 0;
    return TTextEncoding::Ansi;
}

void TTextDecoder::Decode(std::string_view bytes, bool last, std::u16string& text) {
    switch (encoding) {
    case TTextEncoding::Ansi: {
        const std::size_t start = text.size();
        text.resize(start + bytes.size());
        char16_t* out = text.data() + start;
        // ASCII is most of any text STL and decodes to itself; a piece made
        // only of it takes a plain widening loop, which the compiler vectorises.
        unsigned char high = 0;
        for (const char ch : bytes)
            high |= static_cast<unsigned char>(ch);
        if (high < 0x80) {
            for (const char ch : bytes)
                *out++ = static_cast<unsigned char>(ch);
            break;
        }
        for (const char ch : bytes)
            *out++ = platform::DecodeAnsiByte(static_cast<unsigned char>(ch));
        break;
    }
    case TTextEncoding::Utf8:
        DecodeUtf8(bytes, text);
        if (last && utf8Due > 0)
            wellFormed = false; // the text ends inside a sequence
        break;
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE: {
        const bool littleEndian = encoding == TTextEncoding::Utf16LE;
        for (const char ch : bytes) {
            const unsigned byte = static_cast<unsigned char>(ch);
            if (utf16Pending < 0) {
                utf16Pending = static_cast<int>(byte);
                continue;
            }
            const auto first = static_cast<unsigned>(utf16Pending);
            text += static_cast<char16_t>(littleEndian ? first | byte << 8 : first << 8 | byte);
            utf16Pending = -1;
        }
        if (last)
            utf16Pending = -1; // a final odd byte is dropped
        break;
    }
    }
}

// Well-formed UTF-8 as Unicode defines it: no overlong forms, no surrogates,
// nothing above U+10FFFF. Characters above U+FFFF become surrogate pairs.
void TTextDecoder::DecodeUtf8(std::string_view bytes, std::u16string& text) {
    for (const char ch : bytes) {
        if (!wellFormed)
            return; // the whole text is void; the rest need not be decoded
        const auto byte = static_cast<unsigned char>(ch);
        if (utf8Due > 0) {
            if (byte < utf8Low || byte > utf8High) {
                wellFormed = false;
                continue;
            }
            utf8Value = utf8Value << 6 | (byte & 0x3Fu);
            utf8Low = 0x80;
            utf8High = 0xBF;
            if (--utf8Due > 0)
                continue;
        } else if (byte < 0x80) {
            utf8Value = byte;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            utf8Value = byte & 0x1Fu;
            utf8Due = 1;
            continue;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            utf8Value = byte & 0x0Fu;
            utf8Due = 2;
            utf8Low = byte == 0xE0 ? 0xA0 : 0x80;
            utf8High = byte == 0xED ? 0x9F : 0xBF;
            continue;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            utf8Value = byte & 0x07u;
            utf8Due = 3;
            utf8Low = byte == 0xF0 ? 0x90 : 0x80;
            utf8High = byte == 0xF4 ? 0x8F : 0xBF;
            continue;
        } else {
            wellFormed = false;
            continue;
        }
        if (utf8Value >= 0x10000) {
            const std::uint32_t offset = utf8Value - 0x10000;
            text += static_cast<char16_t>(0xD800 + (offset >> 10));
            text += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
        } else {
            text += static_cast<char16_t>(utf8Value);
        }
    }
}

template <typename CharT> std::basic_string<CharT>& TBasicLineSplitter<CharT>::Input() {
    text.erase(0, pos);
    scanned -= pos;
    pos = 0;
    return text;
}

namespace {

template <typename CharT> bool IsBreak(CharT ch) noexcept {
    const auto code = static_cast<std::make_unsigned_t<CharT>>(ch);
    return code <= cCR && (code == cCR || code == cLF || code == 0);
}

// The index of the first CR, LF or U+0000 in data[from, size), or size. Lines
// are long runs of ordinary characters, so eight at a time are tested for a
// code of 13 or less first; tabs and other low controls are sorted out after.
std::size_t FindBreak(const char16_t* data, std::size_t from, std::size_t size) noexcept {
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i thirteen = _mm_set1_epi16(static_cast<short>(cCR));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= size; i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        // Saturating subtraction leaves zero exactly for codes 0 to 13.
        const __m128i low = _mm_cmpeq_epi16(_mm_subs_epu16(chars, thirteen), zero);
        if (_mm_movemask_epi8(low) == 0)
            continue;
        for (std::size_t j = i; j < i + 8; ++j)
            if (IsBreak(data[j]))
                return j;
    }
#endif
    for (; i < size; ++i)
        if (IsBreak(data[i]))
            return i;
    return size;
}

// The same over bytes, sixteen at a time.
std::size_t FindBreak(const char* data, std::size_t from, std::size_t size) noexcept {
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i thirteen = _mm_set1_epi8(static_cast<char>(cCR));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= size; i += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const int low = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(chars, thirteen), zero));
        if (low == 0)
            continue;
        for (std::size_t j = i; j < i + 16; ++j)
            if (IsBreak(data[j]))
                return j;
    }
#endif
    for (; i < size; ++i)
        if (IsBreak(data[i]))
            return i;
    return size;
}

} // namespace

template <typename CharT>
typename TBasicLineSplitter<CharT>::TStep
TBasicLineSplitter<CharT>::Next(std::basic_string_view<CharT>& line) {
    if (ended)
        return TStep::End;
    if (afterCr) {
        // Whether the LF of a CR LF pair follows may be for the next piece to say.
        if (pos == text.size()) {
            if (!finished)
                return TStep::NeedMore;
            ended = true;
            return TStep::End;
        }
        if (text[pos] == CharT(cLF))
            scanned = ++pos;
        afterCr = false;
    }
    const CharT* const data = text.data();
    std::size_t end = FindBreak(data, scanned, text.size());
    if (end == text.size()) {
        scanned = end;
        if (!finished)
            return TStep::NeedMore;
        ended = true;
        if (pos == end)
            return TStep::End; // a break at the very end opens no further line
        line = std::basic_string_view<CharT>(data + pos, end - pos);
        pos = end;
        return TStep::Line;
    }
    line = std::basic_string_view<CharT>(data + pos, end - pos);
    const CharT breakChar = data[end];
    pos = scanned = end + 1;
    if (breakChar == 0) {
        // U+0000 ends the text; the characters before it on its line are its last line.
        ended = true;
        return line.empty() ? TStep::End : TStep::Line;
    }
    afterCr = breakChar == CharT(cCR);
    return TStep::Line;
}

template class TBasicLineSplitter<char16_t>;
template class TBasicLineSplitter<char>;

std::ptrdiff_t TReplayStream::Read(void* buffer, std::size_t count) {
    if (next == size)
        return inner.Read(buffer, count);
    const std::size_t n = std::min(count, size - next);
    std::memcpy(buffer, bytes + next, n);
    next += n;
    return static_cast<std::ptrdiff_t>(n);
}

bool TReplayStream::Seek(std::int64_t position) {
    if (!inner.Seek(position))
        return false;
    next = size;
    return true;
}

} // namespace detail

void RaiseReadFailure(std::ptrdiff_t result) {
    throw TIoError::System(TOperation::Read, {}, static_cast<int>(-result));
}

TLineReader::TLineReader(platform::TStream& aStream, std::size_t chunkSize)
    : stream(aStream), chunk(std::max<std::size_t>(chunkSize, 4)) {}

std::size_t TLineReader::ReadChunk() {
    const std::ptrdiff_t got = stream.Read(chunk.data(), chunk.size());
    if (got < 0)
        RaiseReadFailure(got);
    return static_cast<std::size_t>(got);
}

void TLineReader::Start() {
    started = true;
    const std::int64_t textStart = stream.Position();
    // The marker test needs three bytes, which a stream may deliver one at a time.
    std::size_t have = 0;
    while (have < 3) {
        const std::ptrdiff_t got = stream.Read(chunk.data() + have, chunk.size() - have);
        if (got < 0)
            RaiseReadFailure(got);
        if (got == 0) {
            streamEnded = true;
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    std::size_t marker = 0;
    const auto encoding = detail::DetectEncoding({chunk.data(), have}, marker);
    decoder = detail::TTextDecoder(encoding);

    if (encoding == detail::TTextEncoding::Utf8) {
        // A flaw anywhere voids the whole text, so the bytes are checked to
        // the end before the first line is given out, and read again. The
        // converter never gets here: its kind test wants the text to start
        // with "soli", not with a marker.
        detail::TTextDecoder check(encoding);
        std::u16string scratch;
        check.Decode({chunk.data() + marker, have - marker}, streamEnded, scratch);
        while (!streamEnded && check.WellFormed()) {
            scratch.clear();
            const std::size_t got = ReadChunk();
            streamEnded = got == 0;
            check.Decode({chunk.data(), got}, streamEnded, scratch);
        }
        if (!check.WellFormed()) {
            SkipRest();
            splitter.Finish();
            return;
        }
        if (!stream.Seek(textStart + static_cast<std::int64_t>(marker)))
            throw TIoError::System(TOperation::Read, {}, ESPIPE);
        streamEnded = false;
        return;
    }

    decoder.Decode({chunk.data() + marker, have - marker}, streamEnded, splitter.Input());
    if (streamEnded)
        splitter.Finish();
}

bool TLineReader::Next(std::u16string_view& line) {
    if (!started)
        Start();
    for (;;) {
        switch (splitter.Next(line)) {
        case detail::TLineSplitter::TStep::Line:
            ++lineNumber;
            return true;
        case detail::TLineSplitter::TStep::End:
            return false;
        case detail::TLineSplitter::TStep::NeedMore: {
            const std::size_t got = ReadChunk();
            streamEnded = got == 0;
            decoder.Decode({chunk.data(), got}, streamEnded, splitter.Input());
            if (streamEnded)
                splitter.Finish();
            break;
        }
        }
    }
}

void TLineReader::SkipRest() {
    if (!started)
        Start();
    while (!streamEnded)
        streamEnded = ReadChunk() == 0;
}

TAnsiLineReader::TAnsiLineReader(platform::TStream& aStream, std::string_view taken,
                                 std::size_t readSize)
    : stream(aStream), chunkSize(std::max<std::size_t>(readSize, 1)) {
    splitter.Input().assign(taken);
}

bool TAnsiLineReader::Next(std::string_view& line) {
    for (;;) {
        switch (splitter.Next(line)) {
        case detail::TBasicLineSplitter<char>::TStep::Line:
            ++lineNumber;
            return true;
        case detail::TBasicLineSplitter<char>::TStep::End:
            return false;
        case detail::TBasicLineSplitter<char>::TStep::NeedMore: {
            // The piece is read straight into the splitter's buffer.
            std::string& buffer = splitter.Input();
            const std::size_t before = buffer.size();
            buffer.resize(before + chunkSize);
            const std::ptrdiff_t got = stream.Read(buffer.data() + before, chunkSize);
            buffer.resize(before + static_cast<std::size_t>(std::max<std::ptrdiff_t>(got, 0)));
            if (got < 0)
                RaiseReadFailure(got);
            streamEnded = got == 0;
            if (streamEnded)
                splitter.Finish();
            break;
        }
        }
    }
}

void TAnsiLineReader::SkipRest() {
    std::vector<char> scratch;
    while (!streamEnded) {
        scratch.resize(chunkSize);
        const std::ptrdiff_t got = stream.Read(scratch.data(), scratch.size());
        if (got < 0)
            RaiseReadFailure(got);
        streamEnded = got == 0;
    }
}

// No character below U+0300 is a non-spacing mark, so ordinary text never
// reaches ICU.
bool IsNonSpacingMark(char16_t ch) noexcept {
    return ch >= 0x0300 && u_charType(ch) == U_NON_SPACING_MARK;
}

namespace {

// What the token splitter sees in a character.
enum : unsigned char { cCLASS_BLANK = 1, cCLASS_MARK = 2, cCLASS_STOP = 4 };

// For a byte: what the code page makes of it, looked up once.
const std::array<unsigned char, 256> cBYTE_CLASSES = [] {
    std::array<unsigned char, 256> table{};
    for (std::size_t b = 0; b < table.size(); ++b) {
        const char16_t ch = platform::DecodeAnsiByte(static_cast<unsigned char>(b));
        if (ch >= 1 && ch <= u' ')
            table[b] |= cCLASS_BLANK;
        if (IsNonSpacingMark(ch))
            table[b] |= cCLASS_MARK;
        // Where a field without quotes ends: a blank, a comma, U+0000.
        if (ch <= u' ' || ch == cCOMMA)
            table[b] |= cCLASS_STOP;
    }
    return table;
}();

unsigned char CharClass(char byte) noexcept {
    return cBYTE_CLASSES[static_cast<unsigned char>(byte)];
}

unsigned char CharClass(char16_t ch) noexcept {
    if (ch <= u' ')
        return ch == 0 ? cCLASS_STOP : cCLASS_BLANK | cCLASS_STOP;
    if (ch == cCOMMA)
        return cCLASS_STOP;
    return IsNonSpacingMark(ch) ? cCLASS_MARK : 0;
}

} // namespace

bool IsNonSpacingMark(char byte) noexcept {
    return (CharClass(byte) & cCLASS_MARK) != 0;
}

template <typename CharT>
bool TFieldViews<CharT>::Append(std::basic_string_view<CharT> field, std::size_t limit) noexcept {
    if (count == limit) {
        more = true;
        return false;
    }
    views[count++] = field;
    return true;
}

// The token splitter of SplitFields, step for step; see there.
template <typename CharT>
void TFieldViews<CharT>::Split(std::basic_string_view<CharT> text, std::size_t limit) {
    count = 0;
    more = false;
    limit = std::min(limit, cMAX_FIELDS);
    const CharT quote = CharT(cQUOTE);
    const CharT comma = CharT(cCOMMA);
    std::size_t pos = 0;
    const auto atEnd = [&]() noexcept { return pos >= text.size() || text[pos] == CharT(0); };
    const auto isBlank = [](CharT ch) noexcept { return (CharClass(ch) & cCLASS_BLANK) != 0; };
    const auto passSeparator = [&]() noexcept {
        ++pos;
        while (pos < text.size() && (CharClass(text[pos]) & cCLASS_MARK) != 0)
            ++pos;
    };
    const auto skipBlanks = [&]() noexcept {
        while (!atEnd() && isBlank(text[pos]))
            passSeparator();
    };
    skipBlanks();
    while (!atEnd()) {
        if (text[pos] == quote) {
            const std::size_t start = ++pos;
            bool doubled = false;
            std::size_t end = start;
            while (!atEnd()) {
                if (text[pos] == quote) {
                    if (pos + 1 >= text.size() || text[pos + 1] != quote)
                        break;
                    doubled = true;
                    ++pos; // a doubled quote stands for one
                }
                ++pos;
            }
            end = pos;
            if (!atEnd())
                ++pos; // the closing quote
            std::basic_string_view<CharT> content = text.substr(start, end - start);
            if (doubled && count < limit) {
                std::basic_string<CharT>& copy = unquoted[count];
                copy.clear();
                for (std::size_t i = 0; i < content.size(); ++i) {
                    copy += content[i];
                    if (content[i] == quote)
                        ++i;
                }
                content = copy;
            }
            if (!Append(content, limit))
                return;
        } else {
            const std::size_t start = pos;
            while (pos < text.size() && (CharClass(text[pos]) & cCLASS_STOP) == 0)
                ++pos;
            if (!Append(text.substr(start, pos - start), limit))
                return;
        }
        skipBlanks();
        if (!atEnd() && text[pos] == comma) {
            passSeparator();
            if (atEnd() && !Append({}, limit))
                return;
            skipBlanks();
        }
    }
}

template class TFieldViews<char16_t>;
template class TFieldViews<char>;

} // namespace trimeld
