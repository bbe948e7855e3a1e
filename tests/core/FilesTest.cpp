#include "platform/Files.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

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
        {"part.stl", true},    {"link", true},       {"folder", false},
        {"dangling", false},   {"folderlink", false}, {"missing", false},
        {"part.stl/x", false}, {"", false},
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

TEST(Files, FifoWithoutPeerNeverBlocksTheOpen) {
    TTempDir dir;
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe").c_str(), 0600), 0);
    const TCreateResult out = CreateOutputFile(dir.Name("pipe"));
    EXPECT_FALSE(out.file);
    EXPECT_EQ(out.error, ENXIO); // no reader
    int error = 0;
    const auto stream = TFileStream::Open(dir.Name("pipe"), error);
    ASSERT_TRUE(stream);
    char byte;
    EXPECT_EQ(stream->Read(&byte, 1), 0); // no writer: an empty stream
}

} // namespace
} // namespace trimeld::platform
