#include "platform/Files.h"

#include "TestSupport.h"
#include "platform/Unicode.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trimeld::platform {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

TEST(Files, ExpandFileNameRemovesDotStepsLexically) {
    const std::u16string cwd = platform::FromUtf8(fs::current_path().string());
    struct Case {
        std::u16string name;
        std::u16string full;
    };
    const Case cases[] = {
        {u"/a/b/../c/./d.stl", u"/a/c/d.stl"},
        {u"/a//b///c", u"/a/b/c"},
        {u"/../..", u"/"},
        {u"/", u"/"},
        {u"x.stl", cwd + u"/x.stl"},
        {u"./sub/../x.stl", cwd + u"/x.stl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.name));
        EXPECT_EQ(ExpandFileName(c.name), c.full);
    }
}

TEST(Files, SystemErrorTextHasNoTrailingStop) {
    const std::u16string text = SystemErrorText(ENOENT);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), u'.');
    EXPECT_GT(text.back(), u' ');
}

TEST(Files, FileExistsOnlyForFilesAndLinksToReadableFiles) {
    TTempDir dir;
    const fs::path file = dir.Path() / "part.stl";
    test::WriteWholeFile(file, "solid");
    fs::create_directory(dir.Path() / "folder");
    fs::create_symlink(file, dir.Path() / "link");
    fs::create_symlink(dir.Path() / "missing", dir.Path() / "dangling");
    fs::create_directory_symlink(dir.Path() / "folder", dir.Path() / "folderlink");
    struct Case {
        std::string entry;
        bool exists;
    };
    const Case cases[] = {
        {"part.stl", true},    {"link", true},     {"folder", false},     {"dangling", false},
        {"folderlink", false}, {"missing", false}, {"part.stl/x", false}, {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(FileExists(c.entry.empty() ? std::u16string() : dir.Name(c.entry)), c.exists);
    }
    EXPECT_FALSE(FileExists(dir.Name("part.stl") + u'\0'));
}

TEST(Files, SameFileSeesThroughLinksAndSpellings) {
    TTempDir dir;
    const fs::path file = dir.Path() / "part.stl";
    test::WriteWholeFile(file, "solid");
    fs::create_hard_link(file, dir.Path() / "hard.stl");
    fs::create_symlink(file, dir.Path() / "soft.stl");
    test::WriteWholeFile(dir.Path() / "other.stl", "solid");
    const std::u16string name = dir.Name("part.stl");
    EXPECT_TRUE(SameFile(name, dir.Name("hard.stl")));
    EXPECT_TRUE(SameFile(name, dir.Name("soft.stl")));
    EXPECT_TRUE(SameFile(name, dir.Name(".//./part.stl")));
    EXPECT_FALSE(SameFile(name, dir.Name("other.stl")));
    EXPECT_FALSE(SameFile(name, dir.Name("new.raw")));
}

TEST(Files, OutputToCharacterDeviceIsFlaggedAndEmptyNameIsStandardOutput) {
    TCreateResult null = CreateOutputFile(u"/dev/null");
    ASSERT_TRUE(null.file);
    EXPECT_TRUE(null.file->IsCharDevice());
    TTempDir dir;
    TCreateResult missing = CreateOutputFile(dir.Name("no/such/folder.raw"));
    EXPECT_FALSE(missing.file);
    EXPECT_EQ(missing.error, ENOENT);
    TCreateResult out = CreateOutputFile(u"");
    ASSERT_TRUE(out.file);
    EXPECT_EQ(out.file->Close(), 0);
    // Standard output belongs to the process and stays open.
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
}

TEST(Files, FifoIsWrittenOnlyWithAReaderAndReadFromItsWriter) {
    TTempDir dir;
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe").c_str(), 0600), 0);
    const TCreateResult out = CreateOutputFile(dir.Name("pipe"));
    EXPECT_FALSE(out.file);
    EXPECT_EQ(out.error, ENXIO); // no reader: the open fails rather than waits
    // A reader that comes before the writer waits for it and gets its bytes.
    std::string got;
    std::thread reader([&] {
        int error = 0;
        const auto stream = TFileStream::Open(dir.Name("pipe"), error);
        char bytes[16];
        for (std::ptrdiff_t n; stream && (n = stream->Read(bytes, sizeof bytes)) > 0;)
            got.append(bytes, static_cast<std::size_t>(n));
    });
    const int fd = ::open((dir.Path() / "pipe").c_str(), O_WRONLY); // waits for the reader
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "solid late", 10), 10);
    ::close(fd);
    reader.join();
    EXPECT_EQ(got, "solid late");
}

TEST(Files, NamesAreTheSystemsBytes) {
    TTempDir dir;
    const std::string folder = dir.Path().string() + "/";
    test::WriteWholeFile(folder + "\xfe", "fe");
    test::WriteWholeFile(folder + "\xff", "ff");
    const std::u16string fe = NameFromBytes(folder + "\xfe");
    const std::u16string ff = NameFromBytes(folder + "\xff");
    EXPECT_TRUE(FileExists(fe));
    EXPECT_FALSE(FileExists(NameFromBytes(folder + "\xfd")));
    EXPECT_FALSE(SameFile(fe, ff));
    EXPECT_TRUE(SameFile(fe, NameFromBytes(folder + "./\xfe")));
    int error = 0;
    const auto stream = TFileStream::Open(ff, error);
    ASSERT_TRUE(stream);
    char bytes[4] = {};
    EXPECT_EQ(stream->Read(bytes, sizeof bytes), 2);
    EXPECT_EQ(std::string(bytes), "ff");
    // A name no file can have reaches no file.
    EXPECT_FALSE(TFileStream::Open(fe + u'\xD800', error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(CreateOutputFile(fe + u'\xD800').error, EINVAL);
}

TEST(Files, AFolderDoesNotOpenAsAStream) {
    TTempDir dir;
    int error = 0;
    EXPECT_FALSE(TFileStream::Open(dir.Name(""), error));
    EXPECT_EQ(error, EISDIR);
}

TEST(Files, OnlyOneWriterHoldsAFileAtATime) {
    TTempDir dir;
    const std::u16string name = dir.Name("out.raw");
    TCreateResult first = CreateOutputFile(name);
    ASSERT_TRUE(first.file);
    ASSERT_EQ(first.file->Write("first", 5), 0);
    // The second writer neither empties nor writes the file.
    const TCreateResult second = CreateOutputFile(name);
    EXPECT_FALSE(second.file);
    EXPECT_EQ(second.error, EBUSY);
    EXPECT_EQ(test::ReadWholeFile(dir.Path() / "out.raw"), "first");
    EXPECT_EQ(first.file->Close(), 0);
    TCreateResult third = CreateOutputFile(name);
    ASSERT_TRUE(third.file);
    EXPECT_EQ(test::ReadWholeFile(dir.Path() / "out.raw"), "");
    // Devices take no lock: two writers on /dev/null are fine.
    const TCreateResult null1 = CreateOutputFile(u"/dev/null");
    const TCreateResult null2 = CreateOutputFile(u"/dev/null");
    EXPECT_TRUE(null1.file && null2.file);
}

} // namespace
} // namespace trimeld::platform
