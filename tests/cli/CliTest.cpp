// The command-line converter through its real executable.
#include "../core/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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

// The report line of a file, as the converter words it.
std::string Report(const std::string& stl, int count, const std::string& kind,
                   const std::string& raw, const std::string& stop = "") {
    return "trimeld-convert: '" + stl + "': " + std::to_string(count) +
           (count == 1 ? " triangle" : " triangles") + " read from " + kind + " STL, written to " +
           raw + stop + "\n";
}

std::string Q(const std::string& name) {
    return "'" + name + "'";
}

TEST_F(CliTest, ConvertsAndReportsWhatItRead) {
    const TResult r = RunCli(dir, {Path("good.stl")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadWholeFile(Path("good.raw")), cLINE + cLINE);
    EXPECT_EQ(r.err, Report(Path("good.stl"), 2, "binary", Q(Path("good.raw"))));
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, ReportsWhereReadingStopped) {
    struct Case {
        std::string stl;
        std::string report;
        std::size_t bytes;
    };
    const Case cases[] = {
        {"short.stl",
         Report(Path("short.stl"), 2, "binary", Q(Path("out.raw")),
                "; reading stopped at facet 3: Read beyond end of file.") +
             "trimeld-convert: note: " + Q(Path("short.stl")) +
             " holds bytes for 2 facets but its header counts 7\n",
         164},
        {"text.stl",
         Report(Path("text.stl"), 1, "text", Q(Path("out.raw")),
                "; reading stopped at line 12: 'x' is not a valid floating point value."),
         82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stl);
        const TResult r = RunCli(dir, {Path(c.stl), Path("out.raw")});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(ReadWholeFile(Path("out.raw")).size(), c.bytes);
        // Under --strict the same run ends with 3 and still writes what was read.
        fs::remove(Path("out.raw"));
        EXPECT_EQ(RunCli(dir, {"--strict", Path(c.stl), Path("out.raw")}).status, 3);
        EXPECT_EQ(ReadWholeFile(Path("out.raw")).size(), c.bytes);
    }
    EXPECT_EQ(RunCli(dir, {"--strict", Path("good.stl")}).status, 0);
}

TEST_F(CliTest, NotesTellOfFilesThatLookWrong) {
    WriteWholeFile(Path("long.stl"), StlBytes({cUP, cUP, cUP}, 1));
    WriteWholeFile(Path("tiny.stl"), "tiny");
    WriteWholeFile(Path("stray.stl"), StlBytes({cUP}) + "x"); // less than a facet more: fine
    WriteWholeFile(Path("after.stl"), "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                                      "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n"
                                      "\n  \nsolid again\n");
    struct Case {
        std::string stl;
        std::string note; // empty: none
    };
    const Case cases[] = {
        {"long.stl", "holds bytes for 3 facets but its header counts 1; the rest was not read"},
        {"tiny.stl", "is shorter than a binary STL header (4 of 84 bytes); it holds no triangles"},
        {"stray.stl", ""},
        {"after.stl", "goes on after its ENDSOLID line; that part was not read"},
        {"good.stl", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stl);
        const TResult r = RunCli(dir, {Path(c.stl), Path("n.raw")});
        EXPECT_EQ(r.status, 0);
        const std::size_t at = r.err.find("trimeld-convert: note: ");
        if (c.note.empty()) {
            EXPECT_EQ(at, std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err.substr(at),
                      "trimeld-convert: note: " + Q(Path(c.stl)) + " " + c.note + "\n");
        }
        EXPECT_EQ(RunCli(dir, {"-q", "--strict", Path(c.stl), Path("n.raw")}).err, "");
    }
}

TEST_F(CliTest, DashReadsStandardInputAndWritesStandardOutput) {
    const TResult out = RunCli(dir, {"-q", Path("good.stl"), "-"});
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.out, cLINE + cLINE);
    EXPECT_EQ(out.err, "");
    EXPECT_FALSE(fs::exists(Path("-")));
    for (const std::string stl : {"good.stl", "text.stl"}) {
        SCOPED_TRACE(stl);
        ASSERT_EQ(RunCli(dir, {"-q", Path(stl), Path("file.raw")}).status, 0);
        // The default RAW name of standard input is standard output.
        const TResult in = RunCli(dir, {"-"}, "cat " + Q(Path(stl)) + " | ");
        EXPECT_EQ(in.out, ReadWholeFile(Path("file.raw")));
        EXPECT_EQ(in.err.rfind("trimeld-convert: standard input: ", 0), 0u) << in.err;
        EXPECT_NE(in.err.find("written to standard output"), std::string::npos);
        EXPECT_EQ(RunCli(dir, {"-", Path("in.raw")}, "cat " + Q(Path(stl)) + " | ").status, 0);
        EXPECT_EQ(ReadWholeFile(Path("in.raw")), ReadWholeFile(Path("file.raw")));
    }
}

TEST_F(CliTest, OptionsGoAnywhereAndDashDashEndsThem) {
    EXPECT_EQ(RunCli(dir, {Path("good.stl"), Path("o.raw"), "-q"}).err, "");
    EXPECT_EQ(ReadWholeFile(Path("o.raw")), cLINE + cLINE);
    EXPECT_EQ(
        RunCli(dir, {Path("good.stl"), "--block-size", "128", Path("p.raw"), "--quiet"}).status, 0);
    EXPECT_EQ(ReadWholeFile(Path("p.raw")), cLINE + cLINE);
    // After "--" a name that looks like an option is a name.
    WriteWholeFile(dir.Path() / "-q.stl", StlBytes({cUP}));
    const TResult r = RunCli(dir, {"--", "-q.stl"}, "cd " + Q(dir.Path().string()) + " && ");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, Report("-q.stl", 1, "binary", "'-q.raw'"));
    EXPECT_EQ(ReadWholeFile(dir.Path() / "-q.raw"), cLINE);
}

TEST_F(CliTest, BlockSizeDoesNotChangeTheOutput) {
    for (const char* size : {"128", "1000", "1048576"}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(RunCli(dir, {"--block-size", size, Path("good.stl"), Path("b.raw")}).status, 0);
        EXPECT_EQ(ReadWholeFile(Path("b.raw")), cLINE + cLINE);
    }
}

TEST_F(CliTest, WrongUsageExitsWith2AndNamesTheProblem) {
    struct Case {
        std::vector<std::string> args;
        std::string problem;
    };
    const Case cases[] = {
        {{}, "missing STL file operand"},
        {{"--nope", "a"}, "unrecognized option '--nope'"},
        {{"-x", "a"}, "invalid option -- 'x'"},
        {{"a", "-j"}, "option requires an argument -- 'j'"},
        {{"a", "--block-size"}, "option '--block-size' requires an argument"},
        {{"--block-size", "127", "a"},
         "invalid block size '127': give a number of bytes from 128 to 1048576"},
        {{"--block-size", "12k", "a"},
         "invalid block size '12k': give a number of bytes from 128 to 1048576"},
        {{"-j", "0", "a"}, "invalid number of jobs '0': give a number from 1 to 1024"},
        {{"a.stl", "b.stl", "-"}, "standard input ('-') can only be converted on its own"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        const TResult r = RunCli(dir, c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "trimeld-convert: " + c.problem +
                             "\nTry 'trimeld-convert --help' for more information.\n");
    }
    for (const char* help : {"--help", "-h"}) {
        const TResult r = RunCli(dir, {Path("good.stl"), help});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: trimeld-convert [OPTION]... STL [RAW]", 0), 0u);
        EXPECT_FALSE(fs::exists(Path("good.raw"))); // help does no work
    }
    EXPECT_EQ(RunCli(dir, {"--version"}).out, "trimeld-convert 1.0.0.0\n");
}

TEST_F(CliTest, FailuresNameTheFileAndTheCause) {
    const std::string longRaw = Path("") + std::string(300, 'r');
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{Path("missing.stl"), Path("x.raw")},
         "cannot open " + Q(Path("missing.stl")) + ": No such file or directory"},
        {{dir.Path().string(), Path("x.raw")},
         Q(dir.Path().string()) + " is a folder, not an STL file"},
        {{Path("good.stl"), Path("no/folder.raw")},
         "cannot create " + Q(Path("no/folder.raw")) + ": No such file or directory"},
        {{Path("good.stl"), Path("sub")}, "cannot create " + Q(Path("sub")) + ": Is a directory"},
        {{Path("good.stl"), longRaw}, "cannot create " + Q(longRaw) + ": File name too long"},
        {{Path("good.stl"), "/dev/full"}, "cannot write '/dev/full': No space left on device"},
        {{"-q", Path("good.stl"), "/dev/full"},
         "cannot write '/dev/full': No space left on device"},
        {{"/proc/self/mem", Path("x.raw")}, "cannot read '/proc/self/mem': Input/output error"},
        {{Path("good.stl"), "   "}, "'   ': a RAW name may not be blank"},
        {{Path("good.stl"), Path(".//hard.raw")},
         Q(Path(".//hard.raw")) + " is the STL file itself; give another RAW name"},
        {{Path("good.stl"), Path("sub/../hard.raw")},
         Q(Path("sub/../hard.raw")) + " is the STL file itself; give another RAW name"},
        {{Path("good.stl"), Path("hard.raw")},
         Q(Path("hard.raw")) + " is the STL file itself; give another RAW name"},
        {{Path("good.stl"), Path("soft.raw")},
         Q(Path("soft.raw")) + " is the STL file itself; give another RAW name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const TResult r = RunCli(dir, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "trimeld-convert: " + c.message + "\n");
    }
    EXPECT_EQ(ReadWholeFile(Path("good.stl")), StlBytes({cUP, cUP}));
    EXPECT_FALSE(fs::exists(Path("x.raw")));
}

TEST_F(CliTest, BatchGoesOnPastFailuresAndEndsWithTheWorstStatus) {
    fs::create_directory(Path("out"));
    const TResult r = RunCli(dir, {"-j", "3", "-t", Path("out"), Path("good.stl"),
                                   Path("missing.stl"), Path("short.stl"), Path("text.stl")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              Report(Path("good.stl"), 2, "binary", Q(Path("out/good.raw"))) +
                  "trimeld-convert: cannot open " + Q(Path("missing.stl")) +
                  ": No such file or directory\n" +
                  Report(Path("short.stl"), 2, "binary", Q(Path("out/short.raw")),
                         "; reading stopped at facet 3: Read beyond end of file.") +
                  "trimeld-convert: note: " + Q(Path("short.stl")) +
                  " holds bytes for 2 facets but its header counts 7\n" +
                  Report(Path("text.stl"), 1, "text", Q(Path("out/text.raw")),
                         "; reading stopped at line 12: 'x' is not a valid floating point value.") +
                  "trimeld-convert: 4 files: 1 converted, 2 damaged, 1 failed\n");
    EXPECT_EQ(ReadWholeFile(Path("out/good.raw")), cLINE + cLINE);
    EXPECT_FALSE(fs::exists(Path("out/missing.raw")));
    // Without a failure, damage under --strict gives 3; the same lines with one job.
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"-q", "--strict", Path("good.stl"), Path("short.stl"), Path("text.stl")}, 3},
        {{"-q", Path("good.stl"), Path("short.stl"), Path("text.stl")}, 0},
        {{"-q", Path("good.stl"), Path("good.stl")}, 1}, // the second would overwrite the first
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunCli(dir, c.args).status, c.status);
    // Beside each file, one at a time: the same bytes.
    const TResult one =
        RunCli(dir, {"-j", "1", Path("good.stl"), Path("short.stl"), Path("text.stl")});
    EXPECT_EQ(ReadWholeFile(Path("short.raw")), ReadWholeFile(Path("out/short.raw")));
    EXPECT_EQ(ReadWholeFile(Path("text.raw")), ReadWholeFile(Path("out/text.raw")));
    EXPECT_EQ(one.err.substr(one.err.rfind("trimeld-convert: 3 files")),
              "trimeld-convert: 3 files: 1 converted, 2 damaged, 0 failed\n");
    const TResult notFolder = RunCli(dir, {"-t", Path("good.stl"), Path("text.stl")});
    EXPECT_EQ(notFolder.status, 1);
    EXPECT_EQ(notFolder.err,
              "trimeld-convert: target " + Q(Path("good.stl")) + " is not a folder\n");
}

TEST_F(CliTest, TwoNamesEndingInStlAreTwoStlFiles) {
    // As a wildcard would hand them over: the second is not overwritten.
    WriteWholeFile(Path("second.StL"), StlBytes({cUP}));
    EXPECT_EQ(RunCli(dir, {"-q", Path("good.stl"), Path("second.StL")}).status, 0);
    EXPECT_EQ(ReadWholeFile(Path("second.StL")), StlBytes({cUP}));
    EXPECT_EQ(ReadWholeFile(Path("second.raw")), cLINE);
    EXPECT_EQ(ReadWholeFile(Path("good.raw")), cLINE + cLINE);
}

TEST_F(CliTest, OutputReplacesTheOldFileOnlyOnSuccess) {
    WriteWholeFile(Path("keep.raw"), "old");
    fs::permissions(Path("keep.raw"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A failed run leaves the old file exactly as it was, and nothing else.
    EXPECT_EQ(RunCli(dir, {"/proc/self/mem", Path("keep.raw")}).status, 1);
    EXPECT_EQ(ReadWholeFile(Path("keep.raw")), "old");
    // A successful one replaces it and keeps its permissions.
    EXPECT_EQ(RunCli(dir, {"-q", Path("good.stl"), Path("keep.raw")}).status, 0);
    EXPECT_EQ(ReadWholeFile(Path("keep.raw")), cLINE + cLINE);
    EXPECT_EQ(fs::status(Path("keep.raw")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A new file gets the permissions of a new file.
    EXPECT_EQ(RunCli(dir, {"-q", Path("good.stl"), Path("new.raw")}, "umask 027; ").status, 0);
    EXPECT_EQ(fs::status(Path("new.raw")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A link is written through: its target gets the lines, the link stays.
    WriteWholeFile(Path("target.raw"), "old");
    fs::create_symlink(Path("target.raw"), Path("link.raw"));
    EXPECT_EQ(RunCli(dir, {"-q", Path("good.stl"), Path("link.raw")}).status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.raw")));
    EXPECT_EQ(ReadWholeFile(Path("target.raw")), cLINE + cLINE);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    for (const std::string& name : names)
        EXPECT_NE(name.front(), '.') << "temporary file left: " << name;
}

// Starts the converter without a shell, so that a signal reaches it.
pid_t Spawn(const std::vector<std::string>& args, const std::string& errFile) {
    std::vector<char*> argv;
    std::string program = TRIMELD_CLI;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    posix_spawn(&pid, TRIMELD_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST_F(CliTest, InterruptedRunLeavesTheOldFileAndNoTemporaryFile) {
    WriteWholeFile(Path("out.raw"), "old");
    ASSERT_EQ(::mkfifo(Path("in.fifo").c_str(), 0600), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const pid_t pid = Spawn({Path("in.fifo"), Path("out.raw")}, Path("err.txt"));
        ASSERT_GT(pid, 0);
        // Half a mesh, then the writer keeps the FIFO open: the run waits for more.
        const int fd = ::open(Path("in.fifo").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const std::string half = StlBytes(std::vector<TSTLFace>(4000, cUP)).substr(0, 100000);
        ASSERT_EQ(::write(fd, half.data(), half.size()), static_cast<ssize_t>(half.size()));
        // Once the pipe has been drained the converter is inside its run.
        for (int spin = 0; spin < 1000; ++spin) {
            int pending = 0;
            if (::ioctl(fd, FIONREAD, &pending) == 0 && pending == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(fd);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_EQ(ReadWholeFile(Path("out.raw")), "old");
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
}

TEST_F(CliTest, ConcurrentRunsOnOneRawFileLeaveOneCompleteOutput) {
    std::vector<TSTLFace> many(20000, cUP),
        other(30000, {{0, 0, -1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    WriteWholeFile(Path("a.stl"), StlBytes(many));
    WriteWholeFile(Path("b.stl"), StlBytes(other));
    ASSERT_EQ(RunCli(dir, {"-q", Path("a.stl"), Path("a.raw")}).status, 0);
    ASSERT_EQ(RunCli(dir, {"-q", Path("b.stl"), Path("b.raw")}).status, 0);
    for (int round = 0; round < 5; ++round) {
        const pid_t a =
            Spawn({"--block-size", "128", Path("a.stl"), Path("both.raw")}, Path("ea.txt"));
        const pid_t b =
            Spawn({"--block-size", "128", Path("b.stl"), Path("both.raw")}, Path("eb.txt"));
        int sa = 0, sb = 0;
        ::waitpid(a, &sa, 0);
        ::waitpid(b, &sb, 0);
        EXPECT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0 && WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
        const std::string both = ReadWholeFile(Path("both.raw"));
        EXPECT_TRUE(both == ReadWholeFile(Path("a.raw")) || both == ReadWholeFile(Path("b.raw")))
            << "a mixture of " << both.size() << " bytes";
    }
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

TEST_F(CliTest, WhatAnUnprivilegedUserMayNotTouchStaysAsItWas) {
    const auto prefix = AsUnprivileged(dir);
    if (!prefix)
        GTEST_SKIP() << "running as root, and nobody cannot run the converter here";
    WriteWholeFile(Path("locked.raw"), "keep");
    fs::permissions(Path("locked.raw"),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(Path("ro"));
    WriteWholeFile(Path("ro/old.raw"), "keep");
    fs::permissions(Path("ro/old.raw"), fs::perms::all);
    fs::permissions(Path("ro"), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    WriteWholeFile(Path("secret.stl"), StlBytes({cUP}));
    fs::permissions(Path("secret.stl"), fs::perms::none);
    WriteWholeFile(Path("secret.raw"), "keep");
    fs::permissions(Path("secret.raw"), fs::perms::all);
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::string raw;
    };
    const Case cases[] = {
        {{Path("good.stl"), Path("locked.raw")},
         "cannot create " + Q(Path("locked.raw")) + ": Permission denied",
         "locked.raw"},
        {{Path("good.stl"), Path("ro/new.raw")},
         "cannot create " + Q(Path("ro/new.raw")) + ": Permission denied",
         ""},
        {{Path("good.stl"), Path("ro/old.raw")},
         "cannot create " + Q(Path("ro/old.raw")) + ": Permission denied",
         "ro/old.raw"},
        {{Path("secret.stl")},
         "cannot open " + Q(Path("secret.stl")) + ": Permission denied",
         "secret.raw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const TResult r = RunCli(dir, c.args, *prefix);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "trimeld-convert: " + c.message + "\n");
        if (!c.raw.empty()) {
            EXPECT_EQ(ReadWholeFile(Path(c.raw)), "keep");
        }
    }
    EXPECT_FALSE(fs::exists(Path("ro/new.raw")));
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
        // The same report; only a file's size can tell more.
        const auto firstLine = [](const std::string& err) {
            const std::size_t from = err.find(" triangle");
            return err.substr(from, err.find('\n') - from);
        };
        EXPECT_EQ(firstLine(piped.err), firstLine(fromFile.err));
        // A FIFO with its writer started first.
        fs::remove(Path("fifo"));
        ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
        const std::string feed =
            "(cat " + Quoted(Path(stl)) + " >" + Quoted(Path("fifo")) + " &) ; ";
        EXPECT_EQ(RunCli(dir, {"-q", Path("fifo"), Path("fifo.raw")}, feed).status, 0);
        EXPECT_EQ(ReadWholeFile(Path("fifo.raw")), expected);
    }
}

TEST_F(CliTest, SystemFailuresAreFailuresNotDamage) {
    // Reading a process's own memory at address 0 fails in the kernel.
    const TResult r = RunCli(dir, {"/proc/self/mem", Path("mem.raw")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trimeld-convert: cannot read '/proc/self/mem': Input/output error\n");
    EXPECT_EQ(ReadWholeFile(Path("mem.raw")), "");
}

TEST_F(CliTest, StandardOutputOnTheStlFileIsRefused) {
    for (const std::string redirect : {"1<>", "1>>"}) {
        SCOPED_TRACE(redirect);
        const TResult r =
            RunCli(dir, {Path("good.stl"), "-"}, "", redirect + Quoted(Path("good.stl")));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(
            r.err,
            "trimeld-convert: standard output is the STL file itself; give another RAW name\n");
        EXPECT_EQ(ReadWholeFile(Path("good.stl")), StlBytes({cUP, cUP}));
    }
    // Standard output on another file is written as usual.
    EXPECT_EQ(RunCli(dir, {"-q", Path("good.stl"), "-"}, "", ">" + Quoted(Path("o.raw"))).status,
              0);
    EXPECT_EQ(ReadWholeFile(Path("o.raw")), cLINE + cLINE);
}

} // namespace
} // namespace trimeld
