// The command-line converter through its real executable.
#include "../core/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trimeld {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::StlBytes;
using test::TTempDir;
using test::WriteWholeFile;

struct TResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& arg) {
    std::string q = "'";
    for (const char ch : arg) {
        if (ch == '\'')
            q.append("'\\''");
        else
            q.push_back(ch);
    }
    q.push_back('\'');
    return q;
}

// Runs the converter with the arguments, optionally as another user through
// a prefix such as setpriv, or at the end of a pipeline. stdoutRedirect
// replaces the capture of standard output.
TResult RunCli(const TTempDir& dir, const std::vector<std::string>& args,
               const std::string& prefix = "", const std::string& stdoutRedirect = "") {
    std::string command = prefix + Quoted(TRIMELD_CLI);
    for (const auto& arg : args)
        command.append(" ").append(Quoted(arg));
    const fs::path out = dir.Path() / "stdout.txt", err = dir.Path() / "stderr.txt";
    test::WriteWholeFile(out, "");
    command.append(stdoutRedirect.empty() ? " >" + Quoted(out.string()) : " " + stdoutRedirect)
        .append(" 2>")
        .append(Quoted(err.string()));
    const int raw = std::system(command.c_str());
    TResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadWholeFile(out);
    result.err = ReadWholeFile(err);
    return result;
}

const TSTLFace cUP{{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
const std::string cLINE =
    "0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000 0.000000\r\n";

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteWholeFile(dir.Path() / "good.stl", StlBytes({cUP, cUP}));
        fs::create_directory(dir.Path() / "sub");
        fs::create_hard_link(dir.Path() / "good.stl", dir.Path() / "hard.raw");
        fs::create_symlink(dir.Path() / "good.stl", dir.Path() / "soft.raw");
        WriteWholeFile(dir.Path() / "short.stl", StlBytes({cUP, cUP}, 7));
        WriteWholeFile(dir.Path() / "text.stl", "solid t\nfacet normal 0 0 1\nouter loop\n"
                                                "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                                                "endloop\nendfacet\nfacet normal 0 0 1\n"
                                                "outer loop\nvertex 0 0 0\nvertex 1 x 0\n");
    }
    std::string Path(const std::string& entry) const { return (dir.Path() / entry).string(); }
    TTempDir dir;
};

TEST_F(CliTest, ConvertsAndReportsWhatItRead) {
    const TResult r = RunCli(dir, {Path("good.stl")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadWholeFile(Path("good.raw")), cLINE + cLINE);
    EXPECT_EQ(r.err, "trimeld-convert: 2 triangles read from binary STL, written to " +
                         Path("good.raw") + "\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, ReportsWhereReadingStopped) {
    struct Case {
        std::string stl;
        std::string report;
    };
    const Case cases[] = {
        {"short.stl", "trimeld-convert: 2 triangles read from binary STL, written to " +
                          Path("out.raw") +
                          "\ntrimeld-convert: reading stopped at facet 3: Read beyond end of file.\n"},
        {"text.stl", "trimeld-convert: 1 triangle read from text STL, written to " + Path("out.raw") +
                         "\ntrimeld-convert: reading stopped at line 12: 'x' is not a valid floating point value.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stl);
        const TResult r = RunCli(dir, {Path(c.stl), Path("out.raw")});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err.substr(0, c.report.size()), c.report);
        EXPECT_EQ(ReadWholeFile(Path("out.raw")).size(), c.stl == "text.stl" ? 82u : 164u);
        // Under --strict the same run ends with 3 and still writes what was read.
        fs::remove(Path("out.raw"));
        EXPECT_EQ(RunCli(dir, {"--strict", Path(c.stl), Path("out.raw")}).status, 3);
        EXPECT_TRUE(fs::exists(Path("out.raw")));
    }
    EXPECT_EQ(RunCli(dir, {"--strict", Path("good.stl")}).status, 0);
}

TEST_F(CliTest, DashWritesToStandardOutputAndQuietPrintsNothing) {
    const TResult r = RunCli(dir, {"-q", Path("good.stl"), "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, cLINE + cLINE);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(Path("-")));
    EXPECT_EQ(RunCli(dir, {Path("good.stl"), "-"}).err,
              "trimeld-convert: 2 triangles read from binary STL, written to standard output\n");
}

TEST_F(CliTest, BlockSizeDoesNotChangeTheOutput) {
    for (const char* size : {"128", "1000", "1048576"}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(RunCli(dir, {"--block-size", size, Path("good.stl"), Path("b.raw")}).status, 0);
        EXPECT_EQ(ReadWholeFile(Path("b.raw")), cLINE + cLINE);
    }
}

TEST_F(CliTest, WrongUsageExitsWith2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"a", "b", "c"},
        {"--nope", "a"},
        {"--block-size", "127", "a"},
        {"--block-size", "1048577", "a"},
        {"--block-size", "12k", "a"},
        {"--block-size"},
    };
    for (const auto& args : cases) {
        const TResult r = RunCli(dir, args);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_NE(r.err.find("usage: trimeld-convert [OPTIONS] STL [RAW]"), std::string::npos);
    }
    const TResult help = RunCli(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: trimeld-convert", 0), 0u);
    EXPECT_EQ(RunCli(dir, {"--version"}).out, "trimeld-convert 1.0.0.0\n");
}

TEST_F(CliTest, FailuresPrintTheirTextsAndExitWith1) {
    const std::string longRaw = Path("") + std::string(300, 'r');
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{Path("good.stl"), "   "}, "Nieprawidłowa nazwa pliku RAW."},
        {{Path("missing.stl"), Path("x.raw")}, "Nieprawidłowa nazwa pliku STL."},
        {{dir.Path().string(), Path("x.raw")}, "Nieprawidłowa nazwa pliku STL."},
        {{Path("good.stl"), Path("./good.stl")}, "Nieprawidłowa nazwa pliku RAW."},
        {{Path("good.stl"), Path("sub/../good.stl")}, "Nieprawidłowa nazwa pliku RAW."},
        {{Path("good.stl"), Path("sub//..//good.stl")}, "Nieprawidłowa nazwa pliku RAW."},
        {{Path("good.stl"), Path("hard.raw")}, "Nieprawidłowa nazwa pliku RAW."},
        {{Path("good.stl"), Path("soft.raw")}, "Nieprawidłowa nazwa pliku RAW."},
        {{Path("good.stl"), Path("no/folder.raw")}, "I/O error 103."},
        {{Path("good.stl"), longRaw}, "Invalid file name - " + longRaw + "."},
        {{Path("good.stl"), "/dev/full"}, "I/O error 28."},
        {{"-q", Path("good.stl"), "/dev/full"}, "I/O error 28."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const TResult r = RunCli(dir, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "trimeld-convert: " + c.message + "\n");
    }
    EXPECT_EQ(ReadWholeFile(Path("good.stl")), StlBytes({cUP, cUP}));
}

// Runs as the unprivileged user nobody when the test runs as root, since
// root reads and writes any file. Returns the prefix, or nullopt when that is
// impossible (no setpriv, or a converter that nobody may run).
std::optional<std::string> AsUnprivileged(const TTempDir& dir) {
    if (::geteuid() != 0)
        return "";
    const std::string prefix = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    // nobody must reach the converter itself: a checkout under a private home
    // folder keeps it out.
    if (std::system((prefix + "test -x " + Quoted(TRIMELD_CLI) + " 2>/dev/null").c_str()) != 0)
        return std::nullopt;
    fs::permissions(dir.Path(), fs::perms::all);
    return prefix;
}

TEST_F(CliTest, ReadOnlyRawFileIsNotChanged) {
    const auto prefix = AsUnprivileged(dir);
    if (!prefix)
        GTEST_SKIP() << "running as root, and nobody cannot run the converter here";
    WriteWholeFile(Path("locked.raw"), "keep");
    fs::permissions(Path("locked.raw"), fs::perms::owner_read | fs::perms::group_read |
                                            fs::perms::others_read);
    const TResult r = RunCli(dir, {Path("good.stl"), Path("locked.raw")}, *prefix);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trimeld-convert: I/O error 103.\n");
    EXPECT_EQ(ReadWholeFile(Path("locked.raw")), "keep");
}

TEST_F(CliTest, UnreadableStlFileGivesTheOpenFailure) {
    const fs::path stl = dir.Path() / "locked.stl";
    WriteWholeFile(stl, StlBytes({cUP}));
    fs::permissions(stl, fs::perms::none);
    fs::create_directory(dir.Path() / "out");
    fs::permissions(dir.Path() / "out", fs::perms::all);
    const auto prefix = AsUnprivileged(dir);
    if (!prefix)
        GTEST_SKIP() << "running as root, and nobody cannot run the converter here";
    const TResult r = RunCli(dir, {stl.string(), Path("out/locked.raw")}, *prefix);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trimeld-convert: Cannot open file \"" + stl.string() +
                         "\". Permission denied.\n");
    EXPECT_EQ(fs::file_size(Path("out/locked.raw")), 0u);
}

TEST_F(CliTest, PipesAndFifosConvertLikeFiles) {
    for (const std::string stl : {"good.stl", "short.stl", "text.stl"}) {
        SCOPED_TRACE(stl);
        ASSERT_EQ(RunCli(dir, {"-q", Path(stl), Path("file.raw")}).status, 0);
        const std::string expected = ReadWholeFile(Path("file.raw"));
        ASSERT_FALSE(expected.empty());
        // A pipe that hands the bytes over in small pieces.
        const std::string slowCat = "dd bs=7 status=none if=" + Quoted(Path(stl)) + " | ";
        const TResult piped = RunCli(dir, {"/dev/stdin", Path("pipe.raw")}, slowCat);
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(ReadWholeFile(Path("pipe.raw")), expected);
        const TResult fromFile = RunCli(dir, {Path(stl), Path("pipe.raw")});
        EXPECT_EQ(piped.err.substr(piped.err.find(" triangle")),
                  fromFile.err.substr(fromFile.err.find(" triangle")));
        // A FIFO with its writer started first.
        fs::remove(Path("fifo"));
        ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
        const std::string feed = "(cat " + Quoted(Path(stl)) + " >" + Quoted(Path("fifo")) + " &) ; ";
        EXPECT_EQ(RunCli(dir, {"-q", Path("fifo"), Path("fifo.raw")}, feed).status, 0);
        EXPECT_EQ(ReadWholeFile(Path("fifo.raw")), expected);
    }
}

TEST_F(CliTest, SystemFailuresAreFailuresNotDamage) {
    // Reading a process's own memory at address 0 fails in the kernel.
    const TResult r = RunCli(dir, {"/proc/self/mem", Path("mem.raw")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trimeld-convert: I/O error 5.\n");
    EXPECT_EQ(ReadWholeFile(Path("mem.raw")), "");
}

TEST_F(CliTest, StandardOutputOnTheStlFileIsRefused) {
    for (const std::string redirect : {"1<>", "1>>"}) {
        SCOPED_TRACE(redirect);
        const TResult r = RunCli(dir, {Path("good.stl"), "-"}, "", redirect + Quoted(Path("good.stl")));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "trimeld-convert: Nieprawidłowa nazwa pliku RAW.\n");
        EXPECT_EQ(ReadWholeFile(Path("good.stl")), StlBytes({cUP, cUP}));
    }
    // Standard output on another file is written as usual.
    EXPECT_EQ(RunCli(dir, {"-q", Path("good.stl"), "-"}, "", ">" + Quoted(Path("o.raw"))).status, 0);
    EXPECT_EQ(ReadWholeFile(Path("o.raw")), cLINE + cLINE);
}

} // namespace
} // namespace trimeld
