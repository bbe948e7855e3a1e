#pragma once

#include "cli/Options.h"

#include <string>
#include <vector>

// The files of one call of trimeld-convert: which RAW name each STL file
// gets, converting them (several at once), and what is said about each.
namespace trimeld::cli {

/// One STL file to convert and where its lines go.
struct TJob {
    std::u16string stl;      ///< "/dev/stdin" for standard input
    std::u16string raw;      ///< empty for standard output
    bool stlIsStdin = false; ///< the user wrote "-"
    std::string refusal;     ///< set when the file is refused before any work
};

/// The jobs the operands ask for, or a usage problem (non-empty problem).
struct TPlan {
    std::vector<TJob> jobs;
    std::string problem;
};
[[nodiscard]] TPlan PlanJobs(const TOptions& options);

/// The outcome of one file: its status and the lines said about it, each
/// ending in a line break, without the program's name.
struct TJobOutcome {
    TExitStatus status = TExitStatus::Ok;
    bool damaged = false;
    std::vector<std::string> lines;
};
/// threads: how many threads the conversion itself uses (see ConversionThreads).
[[nodiscard]] TJobOutcome RunJob(const TJob& job, const TOptions& options, unsigned threads);

/// Converts every job, options.jobs at a time, printing each file's lines
/// together and in the order of the operands, then a summary line when
/// there was more than one file. Returns the worst status.
[[nodiscard]] TExitStatus RunBatch(const std::vector<TJob>& jobs, const TOptions& options);

} // namespace trimeld::cli
