#pragma once

#include "geometry/CommonTypes.h"
#include "platform/Failures.h"
#include "platform/Files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace trimeld {

inline constexpr std::int32_t RW_OK = 0;
inline constexpr std::int32_t RW_IO_ERROR = 1;

/// The writer's default block: the file receives whole blocks of this size.
inline constexpr std::size_t cOUT_BUFFER_SIZE = 128;
/// The longest triangle text: nine number texts and eight blanks.
inline constexpr std::size_t cMAX_TRIANGLE_TEXT = 9 * 64 + 8;

/// The longest RAW file name, in UTF-16 code units.
inline constexpr std::size_t cMAX_FILE_NAME = 259;

/// The formatting settings.
struct TRawWriterSettings {
    char16_t DecimalPoint = u'.';
    std::uint8_t Decimal = 6;
    std::uint8_t Precision = 11;
    std::u16string LineEnd = u"\r\n";
};

/// Owns one RAW file and writes triangles to it as lines of fixed-point text,
/// through an output buffer written in whole blocks.
class TRawWriter {
public:
    /// Creates the file, or empties an existing one. A file that cannot be
    /// created leaves Status() == RW_IO_ERROR; nothing is raised for it.
    /// Throws TIoError (code 3) for a name longer than 259 code units.
    explicit TRawWriter(const std::u16string& strFileName, std::size_t blockSize = cOUT_BUFFER_SIZE,
                        platform::TOutputOpener fileOpener = platform::CreateOutputFile);
    /// Closes the file as Close does; never throws.
    virtual ~TRawWriter();
    TRawWriter(const TRawWriter&) = delete;
    TRawWriter& operator=(const TRawWriter&) = delete;

    /// Creates the file anew on a writer whose file is not open; the settings
    /// stay. Throws TIoError (code 3) for a name too long.
    void Open(const std::u16string& strFileName);
    /// Writes out the buffer and closes the file. Never throws; a failed last
    /// write is kept for LastCloseError(). A file that replaces an older one
    /// (CreateReplacingFile) takes its place here, unless a write failed.
    void Close() noexcept;
    /// Closes the file as Close does, but what was written takes the place of
    /// nothing: a file written in place keeps it, an older file that a new
    /// one was to replace stays as it was. For a run that failed.
    void Discard() noexcept;

    /// Each throws TIoError: code 103 when the file is not open, the errno
    /// value when a block write fails.
    void Add(float c);
    void Add(const TPoint3D& p);
    void Add(const TTriangle3D& tr);
    void AddLabel(std::u16string_view lab);
    void AddEndLine();

    /// Writes lines made elsewhere, each a triangle text from TriangleText
    /// followed by LineEnd(): the file receives exactly the bytes and blocks
    /// that Add(tr) for each of those triangles would give it, and a failure
    /// raises the same failure with the same bytes written before it. On a
    /// character device every triangle text and line end still goes on at
    /// once. Throws as Add.
    void AddTriangleLines(std::string_view lines);
    /// Writes the triangle text of tr (no line end) into out, which has room
    /// for cMAX_TRIANGLE_TEXT bytes, and returns its end. Reads only the
    /// settings, so threads may call it while nobody changes them.
    char* TriangleText(char* out, const TTriangle3D& tr) const noexcept;
    /// The bytes of the line end that is written.
    [[nodiscard]] std::string_view LineEnd() const noexcept { return endLine; }
    /// Whether the file is open (created and not yet closed).
    [[nodiscard]] bool IsOpen() const noexcept { return file != nullptr; }

    [[nodiscard]] std::int32_t Status() const noexcept { return fStatus; }
    [[nodiscard]] const TRawWriterSettings& Settings() const noexcept { return cfg; }
    /// Replaces the settings. Decimal and Precision count from the next
    /// number on; DecimalPoint and LineEnd were taken over when the writer
    /// was made and stay as they were, whatever the new record holds.
    void SetSettings(const TRawWriterSettings& settings) { cfg = settings; }

    /// The errno value of the last write, or of closing the file, at the
    /// last Close; 0 when both succeeded (or nothing was closed).
    [[nodiscard]] int LastCloseError() const noexcept { return lastCloseError; }
    /// That loss as the I/O failure a write would have raised.
    [[nodiscard]] TIoError CloseFailure() const;
    /// The I/O failure of code 103 that a write raises while the file is not
    /// open; its detail names the failed creation, when there was one.
    [[nodiscard]] TIoError NotOpenFailure() const;

private:
    void SetUpDefSettings();
    void CreateFile(const std::u16string& strFileName);
    void WritePiece(const char* bytes, std::size_t size);
    void WriteNumber(float c);
    char* PointToStr(char* out, const TPoint3D& pt) const noexcept;
    char* CoordinateToStr(char* out, float c) const noexcept;

    std::int32_t fStatus = RW_OK;
    // The file: its name, handle, buffer and block size.
    std::u16string fileName;
    int createError = 0; // why the last creation failed, for failure reports
    platform::TOutputOpener opener;
    std::unique_ptr<platform::TOutputFile> file;
    std::vector<char> outBuffer;
    std::size_t outCount = 0;
    bool charDevice = false;
    TRawWriterSettings cfg;
    char decimalSeparator = '.';
    std::string endLine;
    int lastCloseError = 0;
    TOperation lastCloseOperation = TOperation::None;
};

} // namespace trimeld
