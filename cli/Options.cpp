#include "cli/Options.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include <getopt.h>
#include <unistd.h>

namespace trimeld::cli {
namespace {

constexpr char cPROGRAM[] = "trimeld-convert";
constexpr std::size_t cMIN_BLOCK = 128;
constexpr std::size_t cMAX_BLOCK = 1024 * 1024;
constexpr unsigned cMAX_JOBS = 1024;

constexpr char cUSAGE[] = "Usage: trimeld-convert [OPTION]... STL [RAW]\n"
                          "  or:  trimeld-convert [OPTION]... STL STL...\n"
                          "  or:  trimeld-convert [OPTION]... -t DIRECTORY STL...\n";

constexpr char cHELP[] =
    "Usage: trimeld-convert [OPTION]... STL [RAW]\n"
    "  or:  trimeld-convert [OPTION]... STL STL...\n"
    "  or:  trimeld-convert [OPTION]... -t DIRECTORY STL...\n"
    "Convert binary or text STL files into RAW files: one triangle per line,\n"
    "nine fixed-point coordinates separated by blanks, CR LF line ends.\n"
    "\n"
    "In the first form, convert STL into RAW; RAW defaults to the STL name with\n"
    "the extension .raw, and - for STL reads standard input, - for RAW (the\n"
    "default with - for STL) writes standard output. In the second form, convert\n"
    "each STL into its default RAW name beside it; two names of which the second\n"
    "ends in .stl are two STL files, so that a wildcard never overwrites one STL\n"
    "file with another's lines. In the third form, write the RAW files into\n"
    "DIRECTORY. A RAW file is replaced only when its conversion succeeds: until\n"
    "then, and for good when it fails or is interrupted, an older RAW file stays\n"
    "as it was. Standard output and devices are written directly.\n"
    "\n"
    "  -t, --target-directory=DIRECTORY  write the RAW files into DIRECTORY\n"
    "  -j, --jobs=N          convert N files at once (default: one for every\n"
    "                          processor); the output is the same\n"
    "  -q, --quiet           print only failures\n"
    "      --strict          exit with status 3 when reading stopped on damaged\n"
    "                          content (the RAW file still holds what was read)\n"
    "      --block-size=N    write RAW files in blocks of N bytes\n"
    "                          (128 to 1048576; default 65536)\n"
    "  -h, --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "For every file one line on standard error tells how many triangles were\n"
    "read, from which kind of STL, where they went, and where and why reading\n"
    "stopped on damaged content (whose triangles before the damage are still\n"
    "written), or why the file failed. Notes tell of files that look wrong.\n"
    "With more than one file a summary line follows.\n"
    "\n"
    "Environment:\n"
    "  TRIMELD_THREADS=N     threads that orient and format one file (1 to 64;\n"
    "                          default: one for every processor, shared among\n"
    "                          the files of -j); the output is the same\n"
    "\n"
    "Exit status:\n"
    "  0  every file converted\n"
    "  1  some file failed\n"
    "  2  wrong usage; nothing was converted\n"
    "  3  under --strict, reading stopped on damaged content in some file\n"
    "     and none failed\n"
    "\n"
    "Examples:\n"
    "  trimeld-convert part.stl            write part.raw\n"
    "  trimeld-convert -t out scans/*.stl  write out/NAME.raw for every scan\n"
    "  cat part.stl | trimeld-convert - > part.raw\n";

int UsageError(const std::string& problem) {
    PrintLine(problem);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", cPROGRAM);
    return static_cast<int>(TExitStatus::Usage);
}

template <typename T> bool ParseNumber(const char* text, T low, T high, T& value) {
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc() && result.ptr == end && value >= low && value <= high;
}

} // namespace

TExitStatus Worse(TExitStatus a, TExitStatus b) noexcept {
    const auto rank = [](TExitStatus s) {
        switch (s) {
        case TExitStatus::Ok:
            return 0;
        case TExitStatus::Damaged:
            return 1;
        case TExitStatus::Failure:
            return 2;
        case TExitStatus::Usage:
            break;
        }
        return 3;
    };
    return rank(a) >= rank(b) ? a : b;
}

void PrintLine(const std::string& text) {
    const std::string line = std::string(cPROGRAM) + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

const char* HelpText() noexcept {
    return cHELP;
}

TParsed ParseOptions(int argc, char** argv, TOptions& options) {
    enum { cOPT_STRICT = 1000, cOPT_BLOCK, cOPT_VERSION };
    static const option longOptions[] = {
        {"quiet", no_argument, nullptr, 'q'},
        {"strict", no_argument, nullptr, cOPT_STRICT},
        {"block-size", required_argument, nullptr, cOPT_BLOCK},
        {"target-directory", required_argument, nullptr, 't'},
        {"jobs", required_argument, nullptr, 'j'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, cOPT_VERSION},
        {nullptr, 0, nullptr, 0},
    };
    const auto stop = [](int status) {
        return TParsed{TParsed::Stop, static_cast<TExitStatus>(status)};
    };
    opterr = 0; // the messages below name the program without its folders
    optind = 1;
    bool help = false, version = false;
    int option;
    while ((option = getopt_long(argc, argv, ":qhj:t:", longOptions, nullptr)) != -1) {
        switch (option) {
        case 'q':
            options.quiet = true;
            break;
        case cOPT_STRICT:
            options.strict = true;
            break;
        case cOPT_BLOCK:
            if (!ParseNumber<std::size_t>(optarg, cMIN_BLOCK, cMAX_BLOCK, options.blockSize))
                return stop(UsageError("invalid block size '" + std::string(optarg) +
                                       "': give a number of bytes from 128 to 1048576"));
            break;
        case 'j':
            if (!ParseNumber<unsigned>(optarg, 1, cMAX_JOBS, options.jobs))
                return stop(UsageError("invalid number of jobs '" + std::string(optarg) +
                                       "': give a number from 1 to 1024"));
            break;
        case 't':
            options.hasTargetDirectory = true;
            options.targetDirectory = optarg;
            break;
        case 'h':
            help = true;
            break;
        case cOPT_VERSION:
            version = true;
            break;
        case ':': {
            // getopt names a long option only by its place in argv.
            const std::string given = argv[optind - 1];
            return stop(UsageError(given.rfind("--", 0) == 0
                                       ? "option '" + given + "' requires an argument"
                                       : std::string("option requires an argument -- '") +
                                             static_cast<char>(optopt) + "'"));
        }
        default: {
            const std::string given = argv[optind - 1];
            return stop(UsageError(given.rfind("--", 0) == 0
                                       ? "unrecognized option '" + given + "'"
                                       : std::string("invalid option -- '") +
                                             static_cast<char>(optopt) + "'"));
        }
        }
    }
    if (help)
        return {TParsed::ShowHelp, TExitStatus::Ok};
    if (version)
        return {TParsed::ShowVersion, TExitStatus::Ok};
    for (int i = optind; i < argc; ++i)
        options.operands.emplace_back(argv[i]);
    if (options.operands.empty())
        return stop(UsageError("missing STL file operand"));
    return {TParsed::Convert, TExitStatus::Ok};
}

} // namespace trimeld::cli
