// trimeld-convert: the command-line converter. It makes the same checks and
// the same conversion run as the window's convert command, and tells on
// standard error what it read and where reading stopped.
#include "app/ConvertCommand.h"
#include "platform/Failures.h"
#include "platform/Unicode.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <getopt.h>

namespace {

using namespace trimeld;
using platform::IntToText;
using platform::ToUtf8;

enum TExitStatus : int {
    cEXIT_OK = 0,
    cEXIT_FAILURE = 1,
    cEXIT_USAGE = 2,
    cEXIT_DAMAGED = 3, ///< reading stopped on damaged content, under --strict
};

constexpr char cPROGRAM[] = "trimeld-convert";
constexpr std::size_t cDEFAULT_BLOCK = 64 * 1024;
constexpr std::size_t cMIN_BLOCK = 128;
constexpr std::size_t cMAX_BLOCK = 1024 * 1024;

constexpr char cUSAGE[] = "usage: trimeld-convert [OPTIONS] STL [RAW]\n";
constexpr char cHELP[] =
    "Converts a binary or text STL file into a RAW file: one triangle per line,\n"
    "nine fixed-point coordinates, CR LF line ends.\n"
    "\n"
    "  RAW                 the output file; by default the STL name with the\n"
    "                      extension .raw; - writes to standard output\n"
    "  -q, --quiet         print only failures\n"
    "      --strict        exit with status 3 when reading stopped on damaged\n"
    "                      content (the RAW file still holds what was read)\n"
    "      --block-size N  write the RAW file in blocks of N bytes\n"
    "                      (128 to 1048576; default 65536)\n"
    "      --help          show this help and exit\n"
    "      --version       show the version and exit\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage, 3 damaged input under --strict.\n";

struct TOptions {
    bool quiet = false;
    bool strict = false;
    std::size_t blockSize = cDEFAULT_BLOCK;
    std::string stlName;
    std::string rawName;
};

void PrintLine(const std::u16string& text) {
    std::fprintf(stderr, "%s: %s\n", cPROGRAM, ToUtf8(text).c_str());
}

int UsageError(const char* problem) {
    if (problem != nullptr)
        std::fprintf(stderr, "%s: %s\n", cPROGRAM, problem);
    std::fputs(cUSAGE, stderr);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", cPROGRAM);
    return cEXIT_USAGE;
}

bool ParseBlockSize(const char* text, std::size_t& value) {
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc() && result.ptr == end && value >= cMIN_BLOCK &&
           value <= cMAX_BLOCK;
}

// Returns -1 to go on, or the exit status to end with.
int ParseOptions(int argc, char** argv, TOptions& options) {
    enum { cOPT_STRICT = 1000, cOPT_BLOCK, cOPT_HELP, cOPT_VERSION };
    static const option longOptions[] = {
        {"quiet", no_argument, nullptr, 'q'},
        {"strict", no_argument, nullptr, cOPT_STRICT},
        {"block-size", required_argument, nullptr, cOPT_BLOCK},
        {"help", no_argument, nullptr, cOPT_HELP},
        {"version", no_argument, nullptr, cOPT_VERSION},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0; // the messages below replace getopt's own
    int option;
    while ((option = getopt_long(argc, argv, "+q", longOptions, nullptr)) != -1) {
        switch (option) {
        case 'q':
            options.quiet = true;
            break;
        case cOPT_STRICT:
            options.strict = true;
            break;
        case cOPT_BLOCK:
            if (!ParseBlockSize(optarg, options.blockSize))
                return UsageError("--block-size takes a number of bytes from 128 to 1048576");
            break;
        case cOPT_HELP:
            std::fputs(cUSAGE, stdout);
            std::fputs(cHELP, stdout);
            return cEXIT_OK;
        case cOPT_VERSION:
            std::printf("%s %s\n", cPROGRAM, ToUtf8(AppVer).c_str());
            return cEXIT_OK;
        default:
            return UsageError("unknown option or missing value");
        }
    }
    const int operands = argc - optind;
    if (operands < 1 || operands > 2)
        return UsageError(nullptr);
    options.stlName = argv[optind];
    if (operands == 2)
        options.rawName = argv[optind + 1];
    return -1;
}

std::u16string Describe(const TRunReport& report, const std::u16string& rawName) {
    std::u16string text = IntToText(report.triangleCount) +
                          (report.triangleCount == 1 ? u" triangle" : u" triangles");
    if (report.kind != TStlKind::None)
        text += report.kind == TStlKind::Binary ? u" read from binary STL" : u" read from text STL";
    text += rawName.empty() ? u", written to standard output" : u", written to " + rawName;
    return text;
}

std::u16string DescribeStop(const TRunReport& report) {
    const std::u16string where = report.kind == TStlKind::Binary ? u"facet " : u"line ";
    return u"reading stopped at " + where + IntToText(report.stop.position) + u": " +
           WithFullStop(report.stop.reason);
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (const int status = ParseOptions(argc, argv, options); status >= 0)
        return status;

    // Names are the bytes the system gave, kept without loss.
    const std::u16string stlName = platform::NameFromBytes(options.stlName);
    std::u16string rawName = options.rawName.empty() ? ChangeFileExtToRaw(stlName)
                                                     : platform::NameFromBytes(options.rawName);
    const bool toStdout = rawName == u"-";
    // The writer takes the empty name as standard output.
    const TNameCheck check =
        toStdout ? CheckNamesForStandardOutput(stlName) : CheckNames(stlName, rawName);
    if (check != TNameCheck::Ok) {
        PrintLine(std::u16string(CheckMessage(check)));
        return cEXIT_FAILURE;
    }
    if (toStdout)
        rawName.clear();

    TRunReport report;
    try {
        report = RunConversion(stlName, rawName, {options.blockSize, platform::CreateOutputFile});
    } catch (const std::exception& failure) {
        PrintLine(WithFullStop(FailureText(failure)));
        return cEXIT_FAILURE;
    }
    if (!options.quiet) {
        PrintLine(Describe(report, rawName));
    }
    if (report.stop.stopped) {
        if (!options.quiet)
            PrintLine(DescribeStop(report));
        if (options.strict)
            return cEXIT_DAMAGED;
    }
    return cEXIT_OK;
}
