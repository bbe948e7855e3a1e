#include "raw/RawWriter.h"

#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace trimeld {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::TTempDir;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const TTriangle3D cUNIT{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
const std::string cUNIT_LINE =
    "0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000 0.000000\r\n";

// A disk that records every block handed to it and can refuse the Nth one.
struct TFakeDisk {
    std::vector<std::string> blocks;
    int calls = 0;
    int failAt = -1; ///< 0-based index of the write that fails
    int failError = 0;
    bool charDevice = false;
    int closes = 0;

    platform::TOutputOpener Opener() {
        return [this](std::u16string_view) -> platform::TCreateResult {
            return {std::make_unique<TFakeFile>(*this), 0};
        };
    }
    [[nodiscard]] std::string Content() const {
        std::string all;
        for (const auto& b : blocks)
            all += b;
        return all;
    }

    class TFakeFile final : public platform::TOutputFile {
    public:
        explicit TFakeFile(TFakeDisk& owner) : disk(owner) {}
        int Write(const char* bytes, std::size_t size) override {
            if (disk.calls++ == disk.failAt)
                return disk.failError;
            disk.blocks.emplace_back(bytes, size);
            return 0;
        }
        int Close() override {
            ++disk.closes;
            return 0;
        }
        bool IsCharDevice() const override { return disk.charDevice; }

    private:
        TFakeDisk& disk;
    };
};

TEST(RawWriter, CreatingEmptiesTheFileAndNoTriangleLeavesZeroBytes) {
    TTempDir dir;
    const fs::path raw = dir.Path() / "out.raw";
    test::WriteWholeFile(raw, "old content");
    TRawWriter writer(dir.Name("out.raw"));
    EXPECT_EQ(writer.Status(), RW_OK);
    EXPECT_EQ(fs::file_size(raw), 0u); // emptied at once, before any write
    writer.Close();
    EXPECT_EQ(fs::file_size(raw), 0u);
}

TEST(RawWriter, WritesOneLinePerTriangle) {
    TTempDir dir;
    {
        TRawWriter writer(dir.Name("out.raw"));
        writer.Add(cUNIT);
        writer.Add(TTriangle3D{{-2.5f, 0.1f, 1e12f}, {12345.6789f, -0.0f, 6e-7f}, {0, 0, 0}});
    } // released without Close: the destructor closes
    EXPECT_EQ(ReadWholeFile(dir.Path() / "out.raw"),
              cUNIT_LINE + "-2.500000 0.100000 9.999999959E11 12345.678711 0.000000 0.000001 "
                           "0.000000 0.000000 0.000000\r\n");
}

TEST(RawWriter, FileReceivesWhole128ByteBlocksAndTheRestAtClose) {
    TFakeDisk disk;
    TRawWriter writer(u"x.raw", cOUT_BUFFER_SIZE, disk.Opener());
    for (int i = 0; i < 100; ++i)
        writer.Add(cUNIT);
    ASSERT_EQ(disk.blocks.size(), 64u);
    for (const auto& block : disk.blocks)
        EXPECT_EQ(block.size(), 128u);
    writer.Close();
    ASSERT_EQ(disk.blocks.size(), 65u);
    EXPECT_EQ(disk.blocks.back().size(), 8u);
    EXPECT_EQ(disk.Content().size(), 8200u);
    writer.Close(); // a second Close does nothing
    EXPECT_EQ(disk.closes, 1);
    EXPECT_EQ(disk.blocks.size(), 65u);
}

TEST(RawWriter, BlockSizeIsAConstructionParameter) {
    TFakeDisk disk;
    TRawWriter writer(u"x.raw", 4096, disk.Opener());
    for (int i = 0; i < 100; ++i)
        writer.Add(cUNIT);
    ASSERT_EQ(disk.blocks.size(), 2u);
    EXPECT_EQ(disk.blocks[0].size(), 4096u);
    writer.Close();
    EXPECT_EQ(disk.blocks.back().size(), 8200u - 8192u);
}

TEST(RawWriter, CharacterDeviceReceivesEveryPieceAtOnce) {
    TFakeDisk disk;
    disk.charDevice = true;
    TRawWriter writer(u"x.raw", cOUT_BUFFER_SIZE, disk.Opener());
    writer.Add(cUNIT);
    writer.AddLabel(u"a");
    ASSERT_EQ(disk.blocks.size(), 4u);
    EXPECT_EQ(disk.blocks[0].size(), 80u);
    EXPECT_EQ(disk.blocks[1], "\r\n");
    EXPECT_EQ(disk.blocks[2], "a");
}

TEST(RawWriter, FailedBlockIsLostAndLaterWritesGoOn) {
    struct Case {
        int error;
        const char* text;
    };
    const Case cases[] = {
        {ENOSPC, "I/O error 28"},        {EIO, "I/O error 5"},
        {EACCES, "File access denied"},  {ENOENT, "The specified file was not found"},
        {EMFILE, "Too many open files"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TFakeDisk disk;
        disk.failAt = 2; // the third block
        disk.failError = c.error;
        TRawWriter writer(u"x.raw", cOUT_BUFFER_SIZE, disk.Opener());
        writer.Add(cUNIT); // 82 bytes
        writer.Add(cUNIT); // 164: block 1 out
        writer.Add(cUNIT); // 246: block 2 out
        writer.Add(cUNIT); // 328
        EXPECT_THAT([&] { writer.Add(cUNIT); }, ThrowsMessage<TIoError>(StrEq(c.text)));
        // Two blocks reached the file; the failed one and the rest of that
        // piece (and its line end) are gone, and the writer is still usable.
        EXPECT_EQ(disk.Content(),
                  (cUNIT_LINE + cUNIT_LINE + cUNIT_LINE + cUNIT_LINE).substr(0, 256));
        EXPECT_EQ(writer.Status(), RW_OK);
        writer.AddLabel(u"after");
        writer.Close();
        EXPECT_EQ(disk.blocks.back(), "after\r\n");
        EXPECT_EQ(writer.LastCloseError(), 0);
    }
}

TEST(RawWriter, FailedWriteAtCloseIsKeptNotRaised) {
    TFakeDisk disk;
    disk.failAt = 0;
    disk.failError = ENOSPC;
    {
        TRawWriter writer(u"x.raw", cOUT_BUFFER_SIZE, disk.Opener());
        writer.Add(cUNIT);
        EXPECT_NO_THROW(writer.Close());
        EXPECT_EQ(writer.LastCloseError(), ENOSPC);
        EXPECT_EQ(disk.closes, 1);
    }
    EXPECT_TRUE(disk.blocks.empty());
}

TEST(RawWriter, ReleasingAWriterWhoseLastWriteFailsRaisesNothing) {
    TFakeDisk disk;
    disk.failAt = 1;
    disk.failError = EIO;
    {
        TRawWriter writer(u"x.raw", cOUT_BUFFER_SIZE, disk.Opener());
        writer.Add(cUNIT);
        writer.Add(cUNIT); // first block out, 36 bytes wait in the buffer
    }                      // the destructor's write fails: nothing escapes
    EXPECT_EQ(disk.Content(), (cUNIT_LINE + cUNIT_LINE).substr(0, 128));
    EXPECT_EQ(disk.closes, 1);
    static_assert(std::is_nothrow_destructible_v<TRawWriter>);
}

TEST(RawWriter, DevFullFailsOnTheFirstPieceAndStaysOpen) {
    TRawWriter writer(u"/dev/full");
    EXPECT_EQ(writer.Status(), RW_OK);
    EXPECT_THAT([&] { writer.Add(cUNIT); }, ThrowsMessage<TIoError>(StrEq("I/O error 28")));
    EXPECT_THAT([&] { writer.AddEndLine(); }, ThrowsMessage<TIoError>(StrEq("I/O error 28")));
    EXPECT_EQ(writer.Status(), RW_OK);
    writer.Close();
    EXPECT_EQ(writer.LastCloseError(), 0); // nothing was left in the buffer
}

TEST(RawWriter, FileThatCannotBeCreatedRaises103OnWrite) {
    TTempDir dir;
    TRawWriter writer(dir.Name("no/such/folder.raw"));
    EXPECT_EQ(writer.Status(), RW_IO_ERROR);
    EXPECT_THAT([&] { writer.Add(cUNIT); }, ThrowsMessage<TIoError>(StrEq("I/O error 103")));
    EXPECT_THAT([&] { writer.AddLabel(u""); }, ThrowsMessage<TIoError>(StrEq("I/O error 103")));
    writer.Close();
    writer.Close();
    // Open on a good name brings the writer back.
    writer.Open(dir.Name("good.raw"));
    EXPECT_EQ(writer.Status(), RW_OK);
    writer.AddEndLine();
    writer.Close();
    EXPECT_EQ(ReadWholeFile(dir.Path() / "good.raw"), "\r\n");
    EXPECT_THAT([&] { writer.AddEndLine(); }, ThrowsMessage<TIoError>(StrEq("I/O error 103")));
}

TEST(RawWriter, NameLimitIs259CodeUnitsAfterTheFirstNul) {
    TTempDir dir;
    const std::u16string folder = dir.Name("");
    const std::u16string name259 = folder + std::u16string(259 - folder.size(), u'n');
    const std::u16string name260 = folder + std::u16string(260 - folder.size(), u'm');
    {
        TRawWriter writer(name259);
        EXPECT_EQ(writer.Status(), RW_OK);
    }
    EXPECT_TRUE(fs::exists(platform::ToUtf8(name259)));
    TIoError* caught = nullptr;
    try {
        TRawWriter writer(name260);
    } catch (TIoError& failure) {
        caught = &failure;
        EXPECT_EQ(failure.Code(), 3);
        EXPECT_EQ(failure.Message(), u"Invalid file name - " + name260);
    }
    EXPECT_NE(caught, nullptr);
    EXPECT_FALSE(fs::exists(platform::ToUtf8(name260)));
    // Only the part before a NUL counts, and only that part is created.
    TRawWriter cut(name259 + u'\0' + u"tail");
    EXPECT_EQ(cut.Status(), RW_OK);
    // Open with a name too long leaves the writer closed with Status RW_OK.
    TRawWriter writer(dir.Name("a.raw"));
    writer.Close();
    EXPECT_THROW(writer.Open(name260), TIoError);
    EXPECT_EQ(writer.Status(), RW_OK);
    EXPECT_THROW(writer.AddEndLine(), TIoError);
}

// A byte that is not UTF-8 is one code unit of the name, and shows as U+FFFD.
TEST(RawWriter, NameLimitCountsAStrayByteAsOneUnit) {
    TTempDir dir;
    const std::u16string folder = dir.Name("");
    const std::size_t room = 259 - folder.size();
    {
        TRawWriter writer(folder + std::u16string(room, u'\xDCFF'));
        EXPECT_EQ(writer.Status(), RW_OK);
    }
    EXPECT_TRUE(fs::exists(dir.Path() / std::string(room, '\xff')));
    try {
        TRawWriter writer(folder + std::u16string(room + 1, u'\xDCFF'));
        ADD_FAILURE() << "no failure raised";
    } catch (const TIoError& failure) {
        EXPECT_EQ(failure.Message(),
                  u"Invalid file name - " + folder + std::u16string(room + 1, u'\xFFFD'));
    }
}

TEST(RawWriter, SettingsChangeDigitsButNotSeparatorOrLineEnd) {
    TFakeDisk disk;
    TRawWriter writer(u"x.raw", cOUT_BUFFER_SIZE, disk.Opener());
    writer.SetSettings({u',', 2, 4, u"\n"});
    writer.Add(12345.678f);
    writer.AddEndLine();
    writer.Add(123.456f);
    writer.AddEndLine();
    writer.SetSettings({u'.', 0, 11, u"\r\n"});
    writer.Add(TPoint3D{2.5f, 0.4f, -0.6f});
    writer.AddLabel(u"za\u017C\u00F3\u0142\u0107 \u20AC");
    writer.Close();
    EXPECT_EQ(disk.Content(), "1.235E04\r\n123.50\r\n3 0 -1za?\xF3?? \x80\r\n");
    EXPECT_EQ(writer.Settings().Decimal, 0);
}

} // namespace
} // namespace trimeld
