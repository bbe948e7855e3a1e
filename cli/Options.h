#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The command line of trimeld-convert, parsed the GNU way: options anywhere
// among the operands, "--" ends them.
namespace trimeld::cli {

/// Exit statuses; a batch ends with the worst of its files' (see Worse).
enum class TExitStatus : int {
    Ok = 0,
    Failure = 1,
    Usage = 2,
    Damaged = 3, ///< reading stopped on damaged content, under --strict
};

/// The worse of two statuses of converted files: Ok < Damaged < Failure.
[[nodiscard]] TExitStatus Worse(TExitStatus a, TExitStatus b) noexcept;

inline constexpr std::size_t cDEFAULT_BLOCK = 64 * 1024;

struct TOptions {
    bool quiet = false;
    bool strict = false;
    std::size_t blockSize = cDEFAULT_BLOCK;
    unsigned jobs = 0; ///< 0: one for every processor
    bool hasTargetDirectory = false;
    std::string targetDirectory;
    std::vector<std::string> operands; ///< the bytes as given
};

/// What to do after parsing.
struct TParsed {
    enum TAction { Convert, ShowHelp, ShowVersion, Stop } action = Convert;
    TExitStatus status = TExitStatus::Ok; ///< for Stop: the usage error already printed
};

/// Parses argv into options. Prints a usage error itself (on standard error)
/// and returns Stop with TExitStatus::Usage for wrong usage.
[[nodiscard]] TParsed ParseOptions(int argc, char** argv, TOptions& options);

/// The text of --help.
[[nodiscard]] const char* HelpText() noexcept;

/// Prints "trimeld-convert: " and the text on standard error, in one write.
void PrintLine(const std::string& text);

} // namespace trimeld::cli
