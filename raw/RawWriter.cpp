#include "raw/RawWriter.h"

#include "platform/CodePage.h"
#include "raw/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace trimeld {
namespace {

// The name up to its first NUL, as the system would see it.
std::u16string CutAtNul(const std::u16string& name) {
    return name.substr(0, name.find(u'\0'));
}

static_assert(cMAX_TRIANGLE_TEXT == 9 * cMAX_NUMBER_TEXT + 8);

} // namespace

TRawWriter::TRawWriter(const std::u16string& strFileName, std::size_t blockSize,
                       platform::TOutputOpener fileOpener)
    : opener(std::move(fileOpener)), outBuffer(std::max<std::size_t>(blockSize, 1)) {
    SetUpDefSettings();
    endLine = platform::EncodeAnsi(cfg.LineEnd);
    decimalSeparator = platform::EncodeAnsiChar(cfg.DecimalPoint);
    Open(strFileName);
}

TRawWriter::~TRawWriter() {
    Close();
}

void TRawWriter::SetUpDefSettings() {
    cfg = TRawWriterSettings{};
}

void TRawWriter::Open(const std::u16string& strFileName) {
    fStatus = RW_OK;
    std::u16string name = CutAtNul(strFileName);
    if (name.size() > cMAX_FILE_NAME)
        throw TIoError::InvalidName(name);
    outCount = 0;
    fileName = std::move(name);
    auto created = opener(fileName);
    createError = created.error;
    if (!created.file) {
        fStatus = RW_IO_ERROR;
        return;
    }
    file = std::move(created.file);
    charDevice = file->IsCharDevice();
}

void TRawWriter::Close() noexcept {
    if (!file)
        return;
    int error = 0;
    if (outCount > 0)
        error = file->Write(outBuffer.data(), outCount);
    outCount = 0;
    if (error != 0)
        file->Discard(); // an incomplete file replaces nothing
    // A failed close can lose data that the system had accepted, too.
    const int closeError = file->Close();
    lastCloseError = error != 0 ? error : closeError;
    lastCloseOperation = error != 0 ? TOperation::Write : TOperation::Close;
    file.reset();
}

void TRawWriter::Discard() noexcept {
    if (file)
        file->Discard();
    Close();
}

TIoError TRawWriter::CloseFailure() const {
    return TIoError::System(lastCloseOperation, fileName, lastCloseError);
}

TIoError TRawWriter::NotOpenFailure() const {
    if (createError != 0)
        return TIoError::NotOpen({fileName, TOperation::Create, createError});
    return TIoError::NotOpen({fileName, TOperation::Write, EBADF});
}

// Appends one piece of text to the buffer; every time the buffer is exactly
// full its whole block goes to the file in one write.
void TRawWriter::WritePiece(const char* bytes, std::size_t size) {
    if (!file)
        throw NotOpenFailure();
    const std::size_t blockSize = outBuffer.size();
    while (size > 0) {
        if (outCount == 0 && size >= blockSize) {
            // A whole block of the piece goes out as it stands: the file
            // receives the same block as through the buffer, without the copy.
            if (const int error = file->Write(bytes, blockSize))
                throw TIoError::System(TOperation::Write, fileName, error);
            bytes += blockSize;
            size -= blockSize;
            continue;
        }
        const std::size_t room = std::min(size, blockSize - outCount);
        std::memcpy(outBuffer.data() + outCount, bytes, room);
        outCount += room;
        bytes += room;
        size -= room;
        if (outCount == blockSize) {
            outCount = 0;
            // On failure the block is lost and the rest of the piece dropped.
            if (const int error = file->Write(outBuffer.data(), blockSize))
                throw TIoError::System(TOperation::Write, fileName, error);
        }
    }
    if (charDevice && outCount > 0) {
        const std::size_t pending = outCount;
        outCount = 0;
        if (const int error = file->Write(outBuffer.data(), pending))
            throw TIoError::System(TOperation::Write, fileName, error);
    }
}

char* TRawWriter::CoordinateToStr(char* out, float c) const noexcept {
    return FormatNumber(out, c, cfg.Decimal, cfg.Precision, decimalSeparator);
}

char* TRawWriter::PointToStr(char* out, const TPoint3D& pt) const noexcept {
    out = CoordinateToStr(out, pt.x);
    *out++ = ' ';
    out = CoordinateToStr(out, pt.y);
    *out++ = ' ';
    return CoordinateToStr(out, pt.z);
}

void TRawWriter::Add(float c) {
    char text[cMAX_NUMBER_TEXT];
    WritePiece(text, static_cast<std::size_t>(CoordinateToStr(text, c) - text));
}

void TRawWriter::Add(const TPoint3D& p) {
    char text[cMAX_TRIANGLE_TEXT];
    WritePiece(text, static_cast<std::size_t>(PointToStr(text, p) - text));
}

char* TRawWriter::TriangleText(char* out, const TTriangle3D& tr) const noexcept {
    out = PointToStr(out, tr.a);
    *out++ = ' ';
    out = PointToStr(out, tr.b);
    *out++ = ' ';
    return PointToStr(out, tr.c);
}

void TRawWriter::Add(const TTriangle3D& tr) {
    char text[cMAX_TRIANGLE_TEXT];
    WritePiece(text, static_cast<std::size_t>(TriangleText(text, tr) - text));
    WritePiece(endLine.data(), endLine.size());
}

void TRawWriter::AddTriangleLines(std::string_view lines) {
    if (!charDevice || lines.empty()) {
        // Blocks fill the same whatever the pieces are, and a failure drops
        // the rest of its piece, so one piece for all the lines leaves the
        // file as Add for each would. An empty text writes nothing, as no Add.
        if (!lines.empty())
            WritePiece(lines.data(), lines.size());
        return;
    }
    // A device gets every piece at once: each triangle text, then its line
    // end. A triangle text holds neither CR nor LF, so the line ends find
    // the pieces.
    while (!lines.empty()) {
        const std::size_t end = lines.find(endLine);
        const std::size_t textSize = end == std::string_view::npos ? lines.size() : end;
        WritePiece(lines.data(), textSize);
        lines.remove_prefix(textSize);
        if (lines.empty())
            break;
        WritePiece(endLine.data(), endLine.size());
        lines.remove_prefix(endLine.size());
    }
}

void TRawWriter::AddLabel(std::u16string_view lab) {
    const std::string bytes = platform::EncodeAnsi(lab);
    WritePiece(bytes.data(), bytes.size());
    WritePiece(endLine.data(), endLine.size());
}

void TRawWriter::AddEndLine() {
    WritePiece(endLine.data(), endLine.size());
}

} // namespace trimeld
