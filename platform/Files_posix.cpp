#include "platform/Files.h"

#include "platform/Unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trimeld::platform {
namespace {

// File names travel as UTF-16 and become the system's bytes only here. A
// name with a NUL in it cannot reach the system intact, so it counts as
// invalid, as does a lone surrogate that stands for no byte.
std::optional<std::string> NativeName(std::u16string_view name) { return NameToBytes(name); }

bool Seekable(const struct stat& st) noexcept { return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode); }

// Takes the whole-file write lock of this open file description; another
// description (another writer, in this process or another) cannot take it
// while this one is open.
int LockForWriting(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EACCES ? EBUSY : errno;
    }
    return 0;
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens without waiting: a FIFO with no process at its other end would
// otherwise block the open for good (a reader sees an empty stream, a
// writer fails with ENXIO). Reads and writes block normally afterwards.
int OpenNotWaiting(const char* path, int flags, mode_t mode = 0) {
    const int fd = OpenRetrying(path, flags | O_NONBLOCK, mode);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// write() until every byte is out: interrupted and short writes continue.
int WriteAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (done == 0)
            return EIO;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return 0;
}

class TPosixOutputFile final : public TOutputFile {
public:
    TPosixOutputFile(int fd, bool owned, bool charDevice)
        : fd(fd), owned(owned), charDevice(charDevice) {}
    ~TPosixOutputFile() override { Close(); }
    TPosixOutputFile(const TPosixOutputFile&) = delete;
    TPosixOutputFile& operator=(const TPosixOutputFile&) = delete;

    int Write(const char* bytes, std::size_t size) override {
        return fd < 0 ? EBADF : WriteAll(fd, bytes, size);
    }
    int Close() override {
        int error = 0;
        // Standard output belongs to the process; it stays open.
        if (fd >= 0 && owned && ::close(fd) != 0 && errno != EINTR)
            error = errno;
        fd = -1;
        return error;
    }
    bool IsCharDevice() const override { return charDevice; }

private:
    int fd;
    bool owned;
    bool charDevice;
};

} // namespace

std::ptrdiff_t TMemoryStream::Read(void* buffer, std::size_t size) {
    const std::size_t count = pos < data.size() ? std::min(size, data.size() - pos) : 0;
    if (count > 0)
        std::memcpy(buffer, data.data() + pos, count);
    pos += count;
    return static_cast<std::ptrdiff_t>(count);
}

bool TMemoryStream::Seek(std::int64_t position) {
    if (position < 0)
        return false;
    pos = static_cast<std::size_t>(position);
    return true;
}

std::unique_ptr<TFileStream> TFileStream::Open(std::u16string_view fileName, int& error) {
    const auto native = NativeName(fileName);
    if (!native) {
        error = EINVAL;
        return nullptr;
    }
    const int fd = OpenNotWaiting(native->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        // A folder opens for reading here, but reading it fails.
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<TFileStream>(new TFileStream(fd, Seekable(st)));
}

TFileStream::~TFileStream() { ::close(fd); }

std::ptrdiff_t TFileStream::Read(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t done = ::read(fd, buffer, size);
        if (done >= 0) {
            pos += done;
            return done;
        }
        if (errno != EINTR)
            return -errno;
    }
}

bool TFileStream::Seek(std::int64_t position) {
    if (!seekable || ::lseek(fd, static_cast<off_t>(position), SEEK_SET) < 0)
        return false;
    pos = position;
    return true;
}

std::int64_t TFileStream::Size() const {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

TCreateResult CreateOutputFile(std::u16string_view fileName) {
    int fd = STDOUT_FILENO;
    const bool owned = !fileName.empty();
    if (owned) {
        const auto native = NativeName(fileName);
        if (!native)
            return {nullptr, EINVAL};
        // Not truncated at the open: the lock comes first, so that a writer
        // that loses the race leaves the other writer's file alone.
        fd = OpenNotWaiting(native->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            return {nullptr, errno};
    }
    const auto fail = [&](int error) -> TCreateResult {
        if (owned)
            ::close(fd);
        return {nullptr, error};
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(errno);
    if (owned && S_ISREG(st.st_mode)) {
        if (const int error = LockForWriting(fd))
            return fail(error);
        if (::ftruncate(fd, 0) != 0)
            return fail(errno);
    }
    return {std::make_unique<TPosixOutputFile>(fd, owned, S_ISCHR(st.st_mode)), 0};
}

std::u16string ExpandFileName(std::u16string_view fileName) {
    std::u16string path;
    if (fileName.empty() || fileName.front() != u'/') {
        std::vector<char> cwd(4096);
        while (::getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE)
            cwd.resize(cwd.size() * 2);
        path = NameFromBytes(cwd.data());
        path += u'/';
    }
    path += fileName;

    // Rebuild the path step by step; ".." never climbs above the root.
    std::vector<std::u16string_view> steps;
    const std::u16string_view whole(path);
    std::size_t start = 0;
    while (start <= whole.size()) {
        std::size_t end = whole.find(u'/', start);
        if (end == std::u16string_view::npos)
            end = whole.size();
        const auto step = whole.substr(start, end - start);
        if (step == u"..") {
            if (!steps.empty())
                steps.pop_back();
        } else if (!step.empty() && step != u".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    std::u16string result;
    for (const auto step : steps) {
        result += u'/';
        result += step;
    }
    const bool trailingSlash = !fileName.empty() && fileName.back() == u'/';
    if (result.empty() || trailingSlash)
        result += u'/';
    return result;
}

std::u16string SystemErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    std::u16string message = FromUtf8(text);
    while (!message.empty() && (message.back() <= u' ' || message.back() == u'.'))
        message.pop_back();
    return message;
}

bool FileExists(std::u16string_view fileName) {
    const auto native = NativeName(fileName);
    if (!native || native->empty())
        return false;
    struct stat st {};
    if (::lstat(native->c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == EINVAL)
            return false;
        // Any other failure (a folder we may not search, say): look the name up
        // in its folder's listing instead.
        const std::size_t slash = native->rfind('/');
        const std::string folder = slash == std::string::npos ? "." : native->substr(0, slash + 1);
        const std::string entry = slash == std::string::npos ? *native : native->substr(slash + 1);
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr)
            return false;
        bool found = false;
        while (const dirent* item = ::readdir(dir)) {
            if (entry == item->d_name) {
                found = item->d_type != DT_DIR;
                break;
            }
        }
        ::closedir(dir);
        return found;
    }
    if (!S_ISLNK(st.st_mode))
        return !S_ISDIR(st.st_mode);
    // A link: one to a folder does not count; for any other, the target must
    // open for reading. O_NONBLOCK keeps a FIFO target from stalling the test.
    struct stat target {};
    if (::stat(native->c_str(), &target) == 0 && S_ISDIR(target.st_mode))
        return false;
    const int fd = OpenRetrying(native->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool SameFile(std::u16string_view first, std::u16string_view second) {
    const auto a = NativeName(first);
    const auto b = NativeName(second);
    if (!a || !b || a->empty())
        return false;
    struct stat sa {}, sb {};
    if (::stat(a->c_str(), &sa) != 0)
        return false;
    if (b->empty() ? ::fstat(STDOUT_FILENO, &sb) != 0 : ::stat(b->c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::u16string ProgramFileName() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    const std::string path(buffer.data(), static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return NameFromBytes(slash == std::string::npos ? path : path.substr(slash + 1));
}

} // namespace trimeld::platform
