#include "app/ConvertCommand.h"

#include <unicode/uchar.h>

#include <memory>

namespace trimeld {
namespace {

constexpr char16_t cMSG_BAD_RAW[] = u"Nieprawidłowa nazwa pliku RAW.";
constexpr char16_t cMSG_BAD_STL[] = u"Nieprawidłowa nazwa pliku STL.";
constexpr char16_t cMSG_DONE[] = u"Koniec przetwarzani pliku.";

bool IsBlank(std::u16string_view text) noexcept {
    for (const char16_t ch : text)
        if (ch > u' ')
            return false;
    return true;
}

} // namespace

std::u16string_view CheckMessage(TNameCheck check) noexcept {
    switch (check) {
    case TNameCheck::BadRawName:
        return cMSG_BAD_RAW;
    case TNameCheck::BadStlName:
        return cMSG_BAD_STL;
    case TNameCheck::Ok:
        break;
    }
    return cMSG_DONE;
}

TNameCheck CheckNames(std::u16string_view stlName, std::u16string_view rawName) {
    if (IsBlank(rawName))
        return TNameCheck::BadRawName;
    if (!platform::FileExists(stlName))
        return TNameCheck::BadStlName;
    if (platform::SameFile(stlName, rawName))
        return TNameCheck::BadRawName;
    return TNameCheck::Ok;
}

TNameCheck CheckNamesForStandardOutput(std::u16string_view stlName) {
    if (!platform::FileExists(stlName))
        return TNameCheck::BadStlName;
    // Standard output may have been opened on the STL file itself.
    if (platform::SameFile(stlName, {}))
        return TNameCheck::BadRawName;
    return TNameCheck::Ok;
}

TRunReport RunConversion(const std::u16string& stlName, const std::u16string& rawName,
                         const TRunOptions& options) {
    // Declared in this order so that a failure releases the writer first
    // (closing its file), then the STL file.
    std::unique_ptr<platform::TFileStream> stlFile;
    std::unique_ptr<TRawWriter> rawWriter;

    rawWriter = std::make_unique<TRawWriter>(rawName, options.blockSize, options.opener);
    // A RAW file that could not be created must not end in the success
    // message, even when the STL file yields no triangle.
    if (rawWriter->Status() == RW_IO_ERROR)
        throw rawWriter->NotOpenFailure();

    TStreamReport streamed;
    try {
        int error = 0;
        stlFile = platform::TFileStream::Open(stlName, error);
        if (!stlFile)
            throw TFileOpenError(stlName, error);
        streamed = StreamConversion(*stlFile, *rawWriter, options.threads);
    } catch (TIoError& failure) {
        // A failed read names the STL file, as the converter's LoadFromFile does.
        if (failure.Detail().operation == TOperation::Read && failure.Detail().fileName.empty())
            failure.SetFileName(stlName);
        rawWriter->Discard();
        throw;
    } catch (...) {
        // A failed run replaces no older RAW file (where the file allows that).
        rawWriter->Discard();
        throw;
    }

    rawWriter->Close();
    // Closing never raises; a lost last block is reported here instead.
    if (rawWriter->LastCloseError() != 0)
        throw rawWriter->CloseFailure();

    return {static_cast<std::int32_t>(streamed.triangleCount), streamed.kind, streamed.stop,
            streamed.facts};
}

std::u16string ChangeFileExtToRaw(std::u16string_view fileName) {
    const std::size_t last = fileName.find_last_of(u"./");
    if (last != std::u16string_view::npos && fileName[last] == u'.')
        fileName = fileName.substr(0, last);
    return std::u16string(fileName) + u".raw";
}

std::u16string WithFullStop(std::u16string text) {
    if (!text.empty() && text.back() > u'.')
        text += u'.';
    return text;
}

std::u16string ApplicationTitle(std::u16string_view programFileName) {
    std::u16string title(programFileName.substr(0, programFileName.find(u'.')));
    for (std::size_t i = 1; i < title.size(); ++i)
        title[i] = static_cast<char16_t>(u_tolower(title[i]));
    return title;
}

} // namespace trimeld
