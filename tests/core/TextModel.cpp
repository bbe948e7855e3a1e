#include "TextModel.h"

#include <algorithm>
#include <cstring>

namespace trimeld {
namespace {

constexpr char16_t cCOMMA = u',';
constexpr char16_t cQUOTE = u'"';

bool IsBlank(char16_t ch) noexcept {
    return ch >= 1 && ch <= u' ';
}

// A position in a field text for the token splitter; U+0000 counts as the end.
class TFieldScanner {
public:
    explicit TFieldScanner(std::u16string_view fieldText) noexcept : text(fieldText) {}
    [[nodiscard]] bool AtEnd() const noexcept { return pos >= text.size() || text[pos] == 0; }
    [[nodiscard]] char16_t Current() const noexcept { return text[pos]; }
    [[nodiscard]] bool NextIs(char16_t ch) const noexcept {
        return pos + 1 < text.size() && text[pos + 1] == ch;
    }
    void Pass(std::size_t count = 1) noexcept { pos += count; }
    [[nodiscard]] std::size_t Position() const noexcept { return pos; }

    // Passing a blank or a comma passes the marks that follow it as well.
    void PassSeparator() noexcept {
        ++pos;
        while (pos < text.size() && IsNonSpacingMark(text[pos]))
            ++pos;
    }
    void SkipBlanks() noexcept {
        while (!AtEnd() && IsBlank(text[pos]))
            PassSeparator();
    }

private:
    std::u16string_view text;
    std::size_t pos = 0;
};

} // namespace

const std::u16string& TLineList::Read(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= count)
        RaiseListIndexError(index);
    return items[static_cast<std::size_t>(index)];
}

void TLineList::Delete(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= count)
        RaiseListIndexError(index);
    const auto first = items.begin() + index;
    std::rotate(first, first + 1, items.begin() + static_cast<std::ptrdiff_t>(count));
    --count;
}

void TLineList::Append(std::u16string_view text) {
    if (count < items.size()) {
        // resize and a plain copy: the general assign costs more than the
        // short fields it copies here.
        std::u16string& item = items[count];
        item.resize(text.size());
        if (!text.empty()) // an empty view may hold no pointer at all
            std::memmove(item.data(), text.data(), text.size() * sizeof(char16_t));
    } else {
        items.emplace_back(text);
    }
    ++count;
}

bool Contains(std::u16string_view keyword, std::u16string_view text) noexcept {
    return !text.empty() && text.find(keyword) != std::u16string_view::npos;
}

void SplitFields(std::u16string_view text, TFieldList& fields) {
    fields.Clear();
    TFieldScanner scan(text);
    std::u16string quoted;
    scan.SkipBlanks();
    while (!scan.AtEnd()) {
        if (scan.Current() == cQUOTE) {
            quoted.clear();
            scan.Pass();
            while (!scan.AtEnd()) {
                if (scan.Current() == cQUOTE) {
                    if (!scan.NextIs(cQUOTE)) {
                        scan.Pass();
                        break;
                    }
                    scan.Pass(); // a doubled quote stands for one
                }
                quoted += scan.Current();
                scan.Pass();
            }
            fields.Append(quoted);
        } else {
            const std::size_t start = scan.Position();
            while (!scan.AtEnd() && !IsBlank(scan.Current()) && scan.Current() != cCOMMA)
                scan.Pass();
            fields.Append(text.substr(start, scan.Position() - start));
        }
        scan.SkipBlanks();
        if (!scan.AtEnd() && scan.Current() == cCOMMA) {
            scan.PassSeparator();
            if (scan.AtEnd())
                fields.Append({});
            scan.SkipBlanks();
        }
    }
}

void SplitLines(std::u16string_view text, TLineList& lines) {
    lines.Clear();
    detail::TLineSplitter splitter;
    splitter.Input().assign(text);
    splitter.Finish();
    std::u16string_view line;
    while (splitter.Next(line) == detail::TLineSplitter::TStep::Line)
        lines.Append(line);
}

void LoadText(platform::TStream& aStream, TLineList& lines) {
    lines.Clear();
    TLineReader reader(aStream);
    std::u16string_view line;
    while (reader.Next(line))
        lines.Append(line);
    reader.SkipRest();
}

} // namespace trimeld
