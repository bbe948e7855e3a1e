#pragma once

#include "stl/TextRules.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The text rules as whole texts and lists, the way the rules are written:
// the model that the tests hold the streaming reader and the field views
// against. Built on the same line splitter and reader as production.
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

/// Whether keyword occurs anywhere in text, compared exactly.
[[nodiscard]] bool Contains(std::u16string_view keyword, std::u16string_view text) noexcept;

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

} // namespace trimeld
