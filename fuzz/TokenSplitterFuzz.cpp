// Arbitrary UTF-16 text through the token splitter and the line rules.
#include "TextModel.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace trimeld;
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    TFieldList fields;
    SplitFields(text, fields);
    // Fields never hold more characters than the text, and an unquoted
    // field never holds a blank or a comma.
    std::size_t total = 0;
    for (std::int32_t i = 0; i < fields.Count(); ++i) {
        const std::u16string& field = fields[static_cast<std::size_t>(i)];
        total += field.size();
        if (field.find(u'\0') != std::u16string::npos)
            std::abort();
    }
    if (total > text.size())
        std::abort();
    TLineList lines;
    SplitLines(text, lines);
    for (std::int32_t i = 0; i < lines.Count(); ++i) {
        const std::u16string& line = lines[static_cast<std::size_t>(i)];
        if (line.find_first_of(u"\r\n", 0, 2) != std::u16string::npos ||
            line.find(u'\0') != std::u16string::npos)
            std::abort();
        (void)TrimBlanks(line);
        if (UpperCaseAscii(line).size() != line.size())
            std::abort();
    }
    return 0;
}
