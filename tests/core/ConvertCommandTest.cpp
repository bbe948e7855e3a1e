#include "app/ConvertCommand.h"

#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace trimeld {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::StlBytes;
using test::TTempDir;
using test::WriteWholeFile;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const std::string cONE_FACET = StlBytes({{{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
const std::string cLINE =
    "0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000 0.000000\r\n";

TEST(ConvertCommand, ChecksRawNameFirstThenStlNameThenSameFile) {
    TTempDir dir;
    WriteWholeFile(dir.Path() / "part.stl", cONE_FACET);
    fs::create_directory(dir.Path() / "folder");
    fs::create_symlink(dir.Path() / "part.stl", dir.Path() / "link.raw");
    fs::create_hard_link(dir.Path() / "part.stl", dir.Path() / "hard.raw");
    const std::u16string stl = dir.Name("part.stl");
    struct Case {
        std::u16string stl;
        std::u16string raw;
        TNameCheck check;
    };
    const Case cases[] = {
        {u"", u"", TNameCheck::BadRawName},
        {u"", u" \t ", TNameCheck::BadRawName}, // the STL name is not even looked at
        {u"", u" out.raw", TNameCheck::BadStlName},
        {dir.Name("folder"), u"out.raw", TNameCheck::BadStlName},
        {dir.Name("missing.stl"), u"out.raw", TNameCheck::BadStlName},
        {stl + u" ", u"out.raw", TNameCheck::BadStlName}, // taken exactly as typed
        {stl, dir.Name("out.raw"), TNameCheck::Ok},
        {stl, stl, TNameCheck::BadRawName},
        {stl, dir.Name("folder/../part.stl"), TNameCheck::BadRawName},
        {stl, dir.Name(".//.///part.stl"), TNameCheck::BadRawName},
        {stl, dir.Name("link.raw"), TNameCheck::BadRawName},
        {stl, dir.Name("hard.raw"), TNameCheck::BadRawName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.stl) + " | " + platform::ToUtf8(c.raw));
        EXPECT_EQ(CheckNames(c.stl, c.raw), c.check);
    }
    EXPECT_EQ(ReadWholeFile(dir.Path() / "part.stl"), cONE_FACET);
}

TEST(ConvertCommand, MessagesAreThePolishTexts) {
    EXPECT_EQ(platform::ToUtf8(CheckMessage(TNameCheck::BadRawName)),
              "Nieprawidłowa nazwa pliku RAW.");
    EXPECT_EQ(platform::ToUtf8(CheckMessage(TNameCheck::BadStlName)),
              "Nieprawidłowa nazwa pliku STL.");
    EXPECT_EQ(platform::ToUtf8(CheckMessage(TNameCheck::Ok)), "Koniec przetwarzani pliku.");
}

TEST(ConvertCommand, RunWritesEveryTriangleAndReportsWhatItRead) {
    TTempDir dir;
    WriteWholeFile(dir.Path() / "in.stl", StlBytes({{{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                                    {{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}},
                                                   3));
    WriteWholeFile(dir.Path() / "out.raw", "old");
    const TRunReport report = RunConversion(dir.Name("in.stl"), dir.Name("out.raw"));
    EXPECT_EQ(ReadWholeFile(dir.Path() / "out.raw"), cLINE + cLINE);
    EXPECT_EQ(report.triangleCount, 2);
    EXPECT_EQ(report.kind, TStlKind::Binary);
    EXPECT_TRUE(report.stop.stopped);
    EXPECT_EQ(report.stop.position, 3);
    // The same run again gives the same file, from scratch.
    (void)RunConversion(dir.Name("in.stl"), dir.Name("out.raw"));
    EXPECT_EQ(ReadWholeFile(dir.Path() / "out.raw"), cLINE + cLINE);
}

TEST(ConvertCommand, RunFailuresAndWhatTheyLeave) {
    TTempDir dir;
    WriteWholeFile(dir.Path() / "one.stl", cONE_FACET);
    WriteWholeFile(dir.Path() / "empty.stl", "");
    const std::u16string longName = dir.Name("") + std::u16string(300, u'x');

    // A RAW file that cannot be created fails before the STL file is read,
    // also when the STL file holds no triangle.
    EXPECT_THAT([&] { RunConversion(dir.Name("empty.stl"), dir.Name("no/dir.raw")); },
                ThrowsMessage<TIoError>(StrEq("I/O error 103")));
    EXPECT_THAT([&] { RunConversion(dir.Name("missing.stl"), dir.Name("no/dir.raw")); },
                ThrowsMessage<TIoError>(StrEq("I/O error 103")));
    EXPECT_THAT(
        [&] { RunConversion(dir.Name("one.stl"), longName); },
        ThrowsMessage<TIoError>(StrEq("Invalid file name - " + platform::ToUtf8(longName))));
    EXPECT_THAT([&] { RunConversion(dir.Name("one.stl"), u"/dev/full"); },
                ThrowsMessage<TIoError>(StrEq("I/O error 28")));

    // The RAW file is created, and stays empty, when the STL file cannot be opened.
    EXPECT_THROW(RunConversion(dir.Name("missing.stl"), dir.Name("out.raw")), TFileOpenError);
    EXPECT_TRUE(fs::exists(dir.Path() / "out.raw"));
    EXPECT_EQ(fs::file_size(dir.Path() / "out.raw"), 0u);
}

TEST(ConvertCommand, FailuresNameTheirFileAndOperation) {
    TTempDir dir;
    WriteWholeFile(dir.Path() / "one.stl", cONE_FACET);
    struct Case {
        std::u16string stl;
        std::u16string raw;
        std::string message;
        TOperation operation;
        int error;
        std::u16string file;
    };
    const Case cases[] = {
        {dir.Name("one.stl"), dir.Name("no/dir.raw"), "I/O error 103", TOperation::Create, ENOENT,
         dir.Name("no/dir.raw")},
        {dir.Name("one.stl"), u"/dev/full", "I/O error 28", TOperation::Write, ENOSPC,
         u"/dev/full"},
        {u"/proc/self/mem", dir.Name("out.raw"), "I/O error 5", TOperation::Read, EIO,
         u"/proc/self/mem"},
        {dir.Name("missing.stl"), dir.Name("out.raw"), "", TOperation::Open, ENOENT,
         dir.Name("missing.stl")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.stl + u" " + c.raw));
        try {
            (void)RunConversion(c.stl, c.raw);
            ADD_FAILURE() << "no failure raised";
        } catch (const TTrimeldError& failure) {
            if (!c.message.empty()) {
                EXPECT_EQ(failure.what(), c.message);
            }
            EXPECT_EQ(failure.Detail().operation, c.operation);
            EXPECT_EQ(failure.Detail().systemError, c.error);
            EXPECT_EQ(failure.Detail().fileName, c.file);
        }
    }
}

TEST(ConvertCommand, NamesWithBytesThatAreNotUtf8ReachTheirOwnFiles) {
    TTempDir dir;
    const std::string folder = dir.Path().string() + "/";
    // A file whose name is the U+FFFD that a lossy decoding would make of
    // every stray byte; no run may touch it.
    WriteWholeFile(folder + "\xef\xbf\xbd.raw", "decoy");
    WriteWholeFile(folder + "\xef\xbf\xbd.stl", cONE_FACET + cONE_FACET);
    for (const std::string stem : {"\xff", "\xfe", "a\xc3(b", "\xed\xa0\x80", "\xc5\x82"}) {
        SCOPED_TRACE(stem);
        WriteWholeFile(folder + stem + ".stl", cONE_FACET);
        const std::u16string stl = platform::NameFromBytes(folder + stem + ".stl");
        const std::u16string raw = ChangeFileExtToRaw(stl);
        EXPECT_EQ(platform::NameToBytes(raw), folder + stem + ".raw");
        ASSERT_EQ(CheckNames(stl, raw), TNameCheck::Ok);
        EXPECT_EQ(CheckNames(stl, stl), TNameCheck::BadRawName);
        EXPECT_EQ(RunConversion(stl, raw).triangleCount, 1); // not the decoy's two
        EXPECT_EQ(ReadWholeFile(folder + stem + ".raw"), cLINE);
    }
    EXPECT_EQ(ReadWholeFile(folder + "\xef\xbf\xbd.raw"), "decoy");
}

TEST(ConvertCommand, SecondWriterOfARawFileFailsAndChangesNothing) {
    TTempDir dir;
    WriteWholeFile(dir.Path() / "one.stl", cONE_FACET);
    TRawWriter first(dir.Name("out.raw"));
    ASSERT_EQ(first.Status(), RW_OK);
    first.AddLabel(u"first");
    first.Close();
    TRawWriter holder(dir.Name("out.raw"), 4);
    holder.AddLabel(u"held"); // one block of four bytes reaches the file
    EXPECT_THAT([&] { RunConversion(dir.Name("one.stl"), dir.Name("out.raw")); },
                ThrowsMessage<TIoError>(StrEq("I/O error 103")));
    EXPECT_EQ(ReadWholeFile(dir.Path() / "out.raw"), "held");
    holder.Close();
    EXPECT_EQ(ReadWholeFile(dir.Path() / "out.raw"), "held\r\n");
}

TEST(ConvertCommand, FolderRemovedBetweenChecksAndCreationIsReported) {
    TTempDir dir;
    WriteWholeFile(dir.Path() / "one.stl", cONE_FACET);
    fs::create_directory(dir.Path() / "sub");
    ASSERT_EQ(CheckNames(dir.Name("one.stl"), dir.Name("sub/out.raw")), TNameCheck::Ok);
    fs::remove(dir.Path() / "sub");
    EXPECT_THAT([&] { RunConversion(dir.Name("one.stl"), dir.Name("sub/out.raw")); },
                ThrowsMessage<TIoError>(StrEq("I/O error 103")));
    EXPECT_FALSE(fs::exists(dir.Path() / "sub"));
}

// The last block is lost at closing: the run reports it instead of success.
TEST(ConvertCommand, LossAtCloseIsReported) {
    struct TFailingFile final : platform::TOutputFile {
        int Write(const char*, std::size_t) override { return ENOSPC; }
        int Close() override { return 0; }
        bool IsCharDevice() const override { return false; }
    };
    TTempDir dir;
    WriteWholeFile(dir.Path() / "one.stl", cONE_FACET);
    TRunOptions options;
    options.opener = [](std::u16string_view) -> platform::TCreateResult {
        return {std::make_unique<TFailingFile>(), 0};
    };
    // One 82-byte line never fills a 128-byte block: the only write is at Close.
    EXPECT_THAT([&] { RunConversion(dir.Name("one.stl"), u"x.raw", options); },
                ThrowsMessage<TIoError>(StrEq("I/O error 28")));
}

TEST(ConvertCommand, ErrorDisplayAddsAFullStopAfterCodesAbove46) {
    struct Case {
        std::u16string text;
        std::u16string shown;
    };
    const Case cases[] = {
        {u"abc", u"abc."},  {u"abc.", u"abc."}, {u"abc)", u"abc)"}, {u"abc/", u"abc/."},
        {u"abc-", u"abc-"}, {u"abc ", u"abc "}, {u"", u""},         {u"abc7", u"abc7."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithFullStop(c.text), c.shown) << platform::ToUtf8(c.text);
}

TEST(ConvertCommand, ApplicationTitleAndRawNameFromFileNames) {
    EXPECT_EQ(ApplicationTitle(u"MESHTOOL.EXE"), u"Meshtool");
    EXPECT_EQ(ApplicationTitle(u"mesh.tool.exe"), u"mesh");
    EXPECT_EQ(ApplicationTitle(u"trimeld"), u"trimeld");
    struct Case {
        std::u16string name;
        std::u16string raw;
    };
    const Case cases[] = {
        {u"/models/part.stl", u"/models/part.raw"},
        {u"/models/part.STL", u"/models/part.raw"},
        {u"/scans.old/bracket", u"/scans.old/bracket.raw"},
        {u"bracket.tar.stl", u"bracket.tar.raw"},
        {u"part.", u"part.raw"},
        {u"/home/a.b/part", u"/home/a.b/part.raw"},
        {u"C:\\x.y\\part", u"C:\\x.raw"}, // "\" is an ordinary character on Linux
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChangeFileExtToRaw(c.name), c.raw) << platform::ToUtf8(c.name);
}

} // namespace
} // namespace trimeld
