#include "platform/Files.h"

#include "platform/Unicode.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trimeld::platform {
namespace {

// File names travel as UTF-16 and become the system's bytes only here. A
// name with a NUL in it cannot reach the system intact, so it counts as
// invalid, as does a lone surrogate that stands for no byte.
std::optional<std::string> NativeName(std::u16string_view name) {
    return NameToBytes(name);
}

bool Seekable(const struct stat& st) noexcept {
    return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
}

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

// Starts writing out to disk, while the run goes on, what a file that
// replaces old content has received. Putting such a file in place makes the
// file system write all of it first: ext4 and btrfs do so when a rename
// replaces a file or when a file emptied by truncation is closed, so that a
// crash cannot leave an empty file under the old name. Begun early, that
// writing overlaps the conversion instead of following it. A new file is
// left to the system's own writeback, which comes later and costs the run
// nothing.
class TEarlyWriteback {
public:
    explicit TEarlyWriteback(bool replacesContent) noexcept : enabled(replacesContent) {}

    /// WriteAll for the file's own descriptor (EBADF once it is closed),
    /// then the request for writeback when a step is full.
    int Write(int fd, const char* bytes, std::size_t size) noexcept {
        if (fd < 0)
            return EBADF;
        const int error = WriteAll(fd, bytes, size);
        if (error == 0 && enabled)
            Written(fd, size);
        return error;
    }

private:
    void Written(int fd, std::size_t size) noexcept {
        written += size;
        if (written - started < cSTEP)
            return;
        // Only asks for the writing; a refusal costs the head start, nothing
        // else.
        (void)::sync_file_range(fd, static_cast<off_t>(started),
                                static_cast<off_t>(written - started), SYNC_FILE_RANGE_WRITE);
        started = written;
    }

    static constexpr std::uint64_t cSTEP = std::uint64_t{16} << 20;
    bool enabled;
    std::uint64_t written = 0; // from the start of the file, which begins empty
    std::uint64_t started = 0;
};

class TPosixOutputFile final : public TOutputFile {
public:
    TPosixOutputFile(int descriptor, bool ownsIt, bool isCharDevice, bool replacesContent)
        : fd(descriptor), owned(ownsIt), charDevice(isCharDevice), writeback(replacesContent) {}
    ~TPosixOutputFile() override { Close(); }
    TPosixOutputFile(const TPosixOutputFile&) = delete;
    TPosixOutputFile& operator=(const TPosixOutputFile&) = delete;

    int Write(const char* bytes, std::size_t size) override {
        return writeback.Write(fd, bytes, size);
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
    TEarlyWriteback writeback;
};

// The named temporary files that a signal must remove. The handler may
// touch only memory that is always there, so the names live in fixed slots
// for the life of the process: this is state of the process, not of a run.
constexpr std::size_t cTEMP_SLOTS = 64;
struct TTempSlot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 holds a name to remove
    char path[PATH_MAX];
};
TTempSlot tempSlots[cTEMP_SLOTS];

// Takes a slot for a temporary name; -1 when all are taken (the file is then
// removed on every path but an interruption).
int RegisterTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX)
        return -1;
    for (std::size_t i = 0; i < cTEMP_SLOTS; ++i) {
        int expected = 0;
        if (tempSlots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(tempSlots[i].path, path.c_str(), path.size() + 1);
            tempSlots[i].state.store(2);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void ReleaseTemporary(int slot) {
    if (slot >= 0)
        tempSlots[slot].state.store(0);
}

extern "C" void RemoveTemporariesAndEnd(int signal) {
    for (TTempSlot& slot : tempSlots)
        if (slot.state.load() == 2)
            ::unlink(slot.path);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

// Keeps SIGINT, SIGTERM and SIGHUP waiting while a file takes its place, so
// that no half-done rename leaves a temporary name behind.
class TInterruptsHeld {
public:
    TInterruptsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&held, signal);
        ::pthread_sigmask(SIG_BLOCK, &held, &before);
    }
    ~TInterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &before, nullptr); }
    TInterruptsHeld(const TInterruptsHeld&) = delete;
    TInterruptsHeld& operator=(const TInterruptsHeld&) = delete;

private:
    sigset_t before;
};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a name finally designates, following symbolic links of its last
// step; a name that does not exist (or a dangling link's target) is kept.
std::optional<std::string> FollowLinks(std::string path, int& error) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return path;
            error = errno;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode))
            return path;
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) +
                                 1);
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) {
            error = errno;
            return std::nullopt;
        }
        const std::string next(target.data(), static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
    }
    error = ELOOP;
    return std::nullopt;
}

// The process's file-creation mask, read without changing it (umask() would
// change it for every thread for a moment).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 022;
}

// A file that takes the place of its target at Close. Unnamed while it is
// written (it then vanishes by itself when the process ends), or named with
// its name in a slot for the signal handler.
class TReplacingFile final : public TOutputFile {
public:
    TReplacingFile(int descriptor, std::string targetPath, std::string temporaryPath, int tempSlot,
                   bool replacesFile)
        : fd(descriptor), target(std::move(targetPath)), tempPath(std::move(temporaryPath)),
          slot(tempSlot), writeback(replacesFile) {}
    ~TReplacingFile() override {
        Discard();
        Close();
    }
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    int Write(const char* bytes, std::size_t size) override {
        return writeback.Write(fd, bytes, size);
    }
    void Discard() override { discarded = true; }
    bool IsCharDevice() const override { return false; }

    int Close() override {
        if (fd < 0)
            return 0;
        int error = 0;
        {
            const TInterruptsHeld held;
            if (!discarded)
                error = TakeItsPlace();
            if (::close(fd) != 0 && errno != EINTR && error == 0)
                error = errno;
            fd = -1;
            if (!tempPath.empty() && (discarded || error != 0))
                ::unlink(tempPath.c_str());
            ReleaseTemporary(slot);
        }
        return error;
    }

private:
    int TakeItsPlace() {
        if (tempPath.empty()) {
            // An unnamed file gets a name in the folder first: rename then
            // replaces the target in one step.
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            for (int attempt = 0;; ++attempt) {
                std::string name = FolderOf(target) + "/." + BaseOf(target) + "." +
                                   std::to_string(::getpid()) + "-" + std::to_string(attempt);
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
                    0) {
                    tempPath = std::move(name);
                    slot = RegisterTemporary(tempPath);
                    break;
                }
                if (errno != EEXIST || attempt > 100)
                    return errno;
            }
        }
        if (::rename(tempPath.c_str(), target.c_str()) != 0)
            return errno;
        tempPath.clear();
        return 0;
    }

    int fd;
    std::string target;
    std::string tempPath; // empty while the file is unnamed, and once renamed
    int slot;
    bool discarded = false;
    TEarlyWriteback writeback;
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
    if (S_ISFIFO(st.st_mode)) {
        // A FIFO is read from its writer, who may come later: read before
        // that, it would look empty. poll() wakes when the writer has written
        // or has come and gone, and not before; the open stays as it is, so
        // that a writer already waiting loses nothing.
        pollfd wait{fd, POLLIN, 0};
        while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
        }
    }
    error = 0;
    return std::unique_ptr<TFileStream>(new TFileStream(fd, Seekable(st)));
}

TFileStream::~TFileStream() {
    ::close(fd);
}

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
    // Old content emptied here is replaced by what is written.
    const bool replacesContent = owned && S_ISREG(st.st_mode) && st.st_size > 0;
    return {std::make_unique<TPosixOutputFile>(fd, owned, S_ISCHR(st.st_mode), replacesContent), 0};
}

TCreateResult CreateReplacingFile(std::u16string_view fileName) {
    if (fileName.empty())
        return CreateOutputFile(fileName);
    const auto native = NativeName(fileName);
    if (!native)
        return {nullptr, EINVAL};
    int error = 0;
    const auto target = FollowLinks(*native, error);
    if (!target)
        return {nullptr, error};
    struct stat old {};
    const bool exists = ::stat(target->c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return {nullptr, EISDIR};
    if (exists && !S_ISREG(old.st_mode))
        return CreateOutputFile(fileName);
    // What may not be written in place may not be replaced either.
    if (exists && ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0)
        return {nullptr, errno};

    const std::string folder = FolderOf(*target);
    std::string tempPath;
    int slot = -1;
    int fd = OpenRetrying(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::string pattern = folder + "/." + BaseOf(*target) + ".XXXXXX";
        {
            const TInterruptsHeld held; // created and registered as one step
            fd = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd >= 0) {
                tempPath = pattern;
                slot = RegisterTemporary(tempPath);
            }
        }
        if (fd >= 0 && !exists)
            ::fchmod(fd, 0666 & ~CurrentUmask());
    }
    if (fd < 0)
        return {nullptr, errno};
    if (exists) {
        if (::geteuid() == 0 && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
            (void)::fchown(fd, old.st_uid, old.st_gid);
        ::fchmod(fd, old.st_mode & 07777);
    }
    return {std::make_unique<TReplacingFile>(fd, *target, std::move(tempPath), slot, exists), 0};
}

void RemoveTemporaryFilesOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        // A signal the caller's parent set to be ignored stays ignored.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
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
    struct stat sa {
    }, sb{};
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

TFileKind ExamineFile(std::u16string_view fileName) {
    const auto native = NativeName(fileName);
    if (!native)
        return {TFileKind::Missing, -1, EINVAL};
    struct stat st {};
    if (::stat(native->c_str(), &st) != 0)
        return {TFileKind::Missing, -1, errno};
    if (S_ISDIR(st.st_mode))
        return {TFileKind::Folder, -1, 0};
    if (S_ISREG(st.st_mode))
        return {TFileKind::Regular, st.st_size, 0};
    return {TFileKind::Other, -1, 0};
}

} // namespace trimeld::platform
