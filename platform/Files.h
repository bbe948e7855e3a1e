#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The file-system layer: the only place that speaks to the operating system.
// Functions return results and errno values; they build no user texts and
// throw nothing but std::bad_alloc. File names are UTF-16 here and become
// the system's bytes without loss (NameToBytes); a name that stands for no
// byte string fails as EINVAL.
namespace trimeld::platform {

/// A readable byte stream with a position.
class TStream {
public:
    virtual ~TStream() = default;
    /// Reads up to size bytes at the position and advances it. Returns the
    /// count read (0 at the end), or -errno when the read failed.
    [[nodiscard]] virtual std::ptrdiff_t Read(void* buffer, std::size_t size) = 0;
    [[nodiscard]] virtual std::int64_t Position() const = 0;
    /// Moves to an absolute position; false when the stream cannot seek.
    virtual bool Seek(std::int64_t position) = 0;
    /// Whether Seek really goes back and forth: false for a pipe, a FIFO, a
    /// terminal or another device that only streams.
    [[nodiscard]] virtual bool CanSeek() const = 0;
    /// The total size in bytes, or -1 when the stream cannot tell.
    [[nodiscard]] virtual std::int64_t Size() const = 0;
};

/// A stream over bytes held in memory (tests, fuzzing).
class TMemoryStream final : public TStream {
public:
    explicit TMemoryStream(std::string bytes) : data(std::move(bytes)) {}
    std::ptrdiff_t Read(void* buffer, std::size_t size) override;
    std::int64_t Position() const override { return static_cast<std::int64_t>(pos); }
    bool Seek(std::int64_t position) override;
    bool CanSeek() const override { return true; }
    std::int64_t Size() const override { return static_cast<std::int64_t>(data.size()); }

private:
    std::string data;
    std::size_t pos = 0;
};

/// An open file read through its descriptor; closed by the destructor.
class TFileStream final : public TStream {
public:
    /// Opens an existing file read-only. Returns null and sets error to the
    /// errno value when that fails; a folder fails with EISDIR.
    static std::unique_ptr<TFileStream> Open(std::u16string_view fileName, int& error);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::ptrdiff_t Read(void* buffer, std::size_t size) override;
    std::int64_t Position() const override { return pos; }
    bool Seek(std::int64_t position) override;
    bool CanSeek() const override { return seekable; }
    std::int64_t Size() const override;

private:
    TFileStream(int descriptor, bool canSeek) : fd(descriptor), seekable(canSeek) {}
    int fd;
    bool seekable;
    std::int64_t pos = 0;
};

/// A file open for writing. Write hands a block to the system in one piece
/// (retrying interrupted and short writes); Close closes it. Both return 0 or
/// an errno value.
class TOutputFile {
public:
    virtual ~TOutputFile() = default;
    [[nodiscard]] virtual int Write(const char* bytes, std::size_t size) = 0;
    virtual int Close() = 0;
    /// What was written must not take the place of anything: for a file that
    /// replaces another one only at Close, the old one then stays. Files
    /// written in place ignore it.
    virtual void Discard() {}
    /// True for a character device (a terminal, /dev/null, /dev/full), which
    /// receives every piece of text at once instead of whole blocks.
    [[nodiscard]] virtual bool IsCharDevice() const = 0;
};

struct TCreateResult {
    std::unique_ptr<TOutputFile> file; ///< null when creation failed
    int error = 0;                     ///< errno when creation failed
};

/// Creates a file for writing, or empties an existing one (mode 0666 less
/// the umask). A regular file is locked for writing (an open-file-description
/// lock) before it is emptied, and stays locked while it is open; when
/// another writer holds it, creation fails with EBUSY and the file is left as
/// it was. An empty name gives the process's standard output, which is never
/// closed; it and devices take no lock.
[[nodiscard]] TCreateResult CreateOutputFile(std::u16string_view fileName);

/// Creates a file that takes the place of the named one only when it is
/// closed without having been discarded, so that until then, and for good
/// when the writing fails, an existing file of that name stays exactly as it
/// was. The new content is written to an unnamed file in the same folder
/// (a named one, removed on SIGINT, SIGTERM and SIGHUP, where the file system
/// has no unnamed files) and renamed onto the name at Close. It gets the
/// permissions of the file it replaces, or those of a new file. A name that
/// is a symbolic link replaces the link's target. A RAW name that exists
/// and is not a regular file (a device, a FIFO) and the empty name
/// (standard output) are written in place, as CreateOutputFile does. An
/// existing file that may not be written is refused with EACCES, as an open
/// for writing would refuse it.
[[nodiscard]] TCreateResult CreateReplacingFile(std::u16string_view fileName);

/// Makes SIGINT, SIGTERM and SIGHUP remove the named temporary files of
/// CreateReplacingFile before the process ends as the signal demands.
void RemoveTemporaryFilesOnInterrupt();

/// How a writer creates its file; tests substitute one that fails on cue.
using TOutputOpener = std::function<TCreateResult(std::u16string_view fileName)>;

/// The name made absolute against the current directory, with its "." and
/// ".." steps and doubled "/" removed lexically (links are not resolved).
[[nodiscard]] std::u16string ExpandFileName(std::u16string_view fileName);

/// The system's text for an errno value, without trailing blanks, control
/// characters and full stops.
[[nodiscard]] std::u16string SystemErrorText(int error);

/// Whether the name designates an existing file that is not a folder; see
/// the definition for how links and unreadable folders are treated.
[[nodiscard]] bool FileExists(std::u16string_view fileName);

/// Whether both names designate the same existing file (device and inode,
/// following links). An empty second name stands for the process's standard
/// output, as for CreateOutputFile. False when either cannot be examined.
[[nodiscard]] bool SameFile(std::u16string_view first, std::u16string_view second);

/// The running program's file name without its folders.
[[nodiscard]] std::u16string ProgramFileName();

/// What a name designates, following links: nothing (with the errno value of
/// the failed look-up), a folder, a regular file with its size, or another
/// kind of file (a device, a FIFO, a socket).
struct TFileKind {
    enum TWhat { Missing, Folder, Regular, Other } what = Missing;
    std::int64_t size = -1; ///< bytes, for a regular file
    int error = 0;          ///< for Missing
};
[[nodiscard]] TFileKind ExamineFile(std::u16string_view fileName);

} // namespace trimeld::platform
