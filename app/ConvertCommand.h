#pragma once

#include "TrimeldVersion.h"
#include "app/ConversionPipeline.h"
#include "platform/Files.h"
#include "raw/RawWriter.h"
#include "stl/TrimeldConverter.h"

#include <cstdint>
#include <string>
#include <string_view>

// The convert command without a window: the checks of the two names, the
// conversion run and the texts they show. The window and the command-line
// converter both go through here.
namespace trimeld {

inline constexpr std::u16string_view AppName = u"Trimeld.";
inline constexpr std::u16string_view AppVer = cVERSION_TEXT16;

/// The outcome of checking the two names, in the order they are checked.
enum class TNameCheck {
    Ok,         ///< run the conversion
    BadRawName, ///< "Nieprawidłowa nazwa pliku RAW."
    BadStlName, ///< "Nieprawidłowa nazwa pliku STL."
};

/// The command's own message for a failed check, or the end message for Ok.
[[nodiscard]] std::u16string_view CheckMessage(TNameCheck check) noexcept;

/// Checks the RAW name (not blank), then the STL name (an existing file,
/// taken exactly as typed), then that the RAW name does not designate the
/// STL file itself, which creating the RAW file would destroy.
[[nodiscard]] TNameCheck CheckNames(std::u16string_view stlName, std::u16string_view rawName);
/// The same checks for a RAW file written to the process's standard output
/// (the empty RAW name of RunConversion), which has no name to be blank.
[[nodiscard]] TNameCheck CheckNamesForStandardOutput(std::u16string_view stlName);

struct TRunOptions {
    std::size_t blockSize = cOUT_BUFFER_SIZE;
    platform::TOutputOpener opener = platform::CreateOutputFile;
    unsigned threads = ConversionThreads(); ///< see ConversionThreads
};

/// What a finished run read and wrote.
struct TRunReport {
    std::int32_t triangleCount = 0;
    TStlKind kind = TStlKind::None;
    TReadStop stop; ///< where reading stopped before the end of the data, if it did
    TReadFacts facts;
};

/// One conversion run: creates the RAW file, reads the STL file and writes
/// each triangle as it is read (see StreamConversion: the outcome is that of
/// reading the whole file first), closes the RAW file. Throws TIoError when the RAW file
/// could not be created (code 103, before the STL file is read), when a
/// write fails, when the last write at closing failed, or when the system
/// refuses a read of the STL file; TFileOpenError when the STL file cannot
/// be opened; std::bad_alloc when memory runs out. What reached the RAW file
/// stays, unless options.opener gives files that replace an older one only
/// when the run succeeds (CreateReplacingFile). An empty RAW name writes to
/// standard output.
TRunReport RunConversion(const std::u16string& stlName, const std::u16string& rawName,
                         const TRunOptions& options = {});

/// The name with its extension changed to ".raw": a "." after the last "/"
/// starts the extension and is cut with what follows; otherwise ".raw" is
/// appended. "/models/part.stl" gives "/models/part.raw", "/a.b/part"
/// gives "/a.b/part.raw".
[[nodiscard]] std::u16string ChangeFileExtToRaw(std::u16string_view fileName);

/// The error display's text: a final "." unless the text is empty or ends in
/// a character whose code is 46 or less.
[[nodiscard]] std::u16string WithFullStop(std::u16string text);

/// The application title from a program file name: cut at the first ".",
/// every character after the first in lower case.
[[nodiscard]] std::u16string ApplicationTitle(std::u16string_view programFileName);

} // namespace trimeld
