#include "cli/Batch.h"

#include "app/ConvertCommand.h"
#include "platform/Failures.h"
#include "platform/Files.h"
#include "platform/Processors.h"
#include "platform/Unicode.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <thread>

namespace trimeld::cli {
namespace {

using platform::ToUtf8;

constexpr char16_t cSTANDARD_INPUT[] = u"/dev/stdin";

std::string Quoted(std::u16string_view name) {
    return "'" + ToUtf8(name) + "'";
}

// How a file is named in messages.
std::string Shown(const TJob& job, std::u16string_view name) {
    if (name.empty())
        return "standard output";
    if (job.stlIsStdin && name == cSTANDARD_INPUT)
        return "standard input";
    return Quoted(name);
}

std::string Cause(int error) {
    return ToUtf8(platform::SystemErrorText(error));
}

bool IsBlank(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t ch) { return ch <= u' '; });
}

bool EndsWithStl(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return static_cast<char>(ch | 0x20); });
    return ext == ".stl";
}

std::u16string BaseName(const std::u16string& name) {
    const std::size_t slash = name.rfind(u'/');
    return slash == std::u16string::npos ? name : name.substr(slash + 1);
}

// The checks before any file is touched, worded for the command line.
std::string Refusal(const TJob& job) {
    if (!job.raw.empty() && IsBlank(job.raw))
        return Quoted(job.raw) + ": a RAW name may not be blank";
    if (!platform::FileExists(job.stl)) {
        const platform::TFileKind kind = platform::ExamineFile(job.stl);
        if (kind.what == platform::TFileKind::Folder)
            return Shown(job, job.stl) + " is a folder, not an STL file";
        int error = kind.error;
        if (error == 0) {
            // It exists but does not pass as a file (a link we may not
            // follow, say): opening it tells why.
            const auto stream = platform::TFileStream::Open(job.stl, error);
            if (stream)
                return {};
        }
        return "cannot open " + Shown(job, job.stl) + ": " + Cause(error);
    }
    if (platform::SameFile(job.stl, job.raw))
        return (job.raw.empty() ? std::string("standard output") : Quoted(job.raw)) +
               " is the STL file itself; give another RAW name";
    return {};
}

std::string FailureLine(const TJob& job, const std::exception& failure) {
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr)
        return "cannot convert " + Shown(job, job.stl) + ": " + Cause(ENOMEM);
    if (const auto* own = dynamic_cast<const TTrimeldError*>(&failure)) {
        const TFailureDetail& d = own->Detail();
        const std::string file = Shown(job, d.fileName) + ": " + Cause(d.systemError);
        switch (d.operation) {
        case TOperation::Open:
            return "cannot open " + file;
        case TOperation::Create:
            return "cannot create " + file;
        case TOperation::Read:
            return "cannot read " + file;
        case TOperation::Write:
        case TOperation::Close:
            return "cannot write " + file;
        case TOperation::None:
            break;
        }
    }
    return "cannot convert " + Shown(job, job.stl) + ": " +
           ToUtf8(WithFullStop(FailureText(failure)));
}

std::string ReportLine(const TJob& job, const TRunReport& report) {
    std::string text = Shown(job, job.stl) + ": " + std::to_string(report.triangleCount) +
                       (report.triangleCount == 1 ? " triangle" : " triangles");
    if (report.kind != TStlKind::None)
        text += report.kind == TStlKind::Binary ? " read from binary STL" : " read from text STL";
    text += ", written to " + Shown(job, job.raw);
    if (report.stop.stopped) {
        text += report.kind == TStlKind::Binary ? "; reading stopped at facet "
                                                : "; reading stopped at line ";
        text +=
            std::to_string(report.stop.position) + ": " + ToUtf8(WithFullStop(report.stop.reason));
    }
    return text;
}

// What looks wrong in a file that was read all the same.
std::vector<std::string> Notes(const TJob& job, const TRunReport& report) {
    std::vector<std::string> notes;
    const std::string name = Shown(job, job.stl);
    const TReadFacts& facts = report.facts;
    if (report.kind == TStlKind::Binary) {
        constexpr std::int64_t cHEADER = 84, cFACET = 50;
        if (facts.binaryHeaderBytes < cHEADER) {
            notes.push_back("note: " + name + " is shorter than a binary STL header (" +
                            std::to_string(facts.binaryHeaderBytes) +
                            " of 84 bytes); it holds no triangles");
        } else {
            const platform::TFileKind kind = platform::ExamineFile(job.stl);
            const std::int64_t counted = std::max<std::int32_t>(facts.facetCount, 0);
            if (kind.what == platform::TFileKind::Regular) {
                const std::int64_t room = (kind.size - cHEADER) / cFACET;
                if (room > counted)
                    notes.push_back("note: " + name + " holds bytes for " + std::to_string(room) +
                                    " facets but its header counts " + std::to_string(counted) +
                                    "; the rest was not read");
                else if (kind.size < cHEADER + counted * cFACET)
                    notes.push_back("note: " + name + " holds bytes for " + std::to_string(room) +
                                    " facets but its header counts " + std::to_string(counted));
            }
        }
    } else if (report.kind == TStlKind::Text && facts.contentAfterEnd) {
        notes.push_back("note: " + name +
                        " goes on after its ENDSOLID line; that part was not read");
    }
    return notes;
}

} // namespace

TPlan PlanJobs(const TOptions& options) {
    TPlan plan;
    const auto& ops = options.operands;
    const auto name = [](const std::string& bytes) { return platform::NameFromBytes(bytes); };
    const bool single = !options.hasTargetDirectory &&
                        (ops.size() == 1 || (ops.size() == 2 && !EndsWithStl(ops[1])));
    if (single) {
        TJob job;
        job.stlIsStdin = ops[0] == "-";
        job.stl = job.stlIsStdin ? std::u16string(cSTANDARD_INPUT) : name(ops[0]);
        if (ops.size() == 2)
            job.raw = ops[1] == "-" ? std::u16string() : name(ops[1]);
        else
            job.raw = job.stlIsStdin ? std::u16string() : ChangeFileExtToRaw(job.stl);
        plan.jobs.push_back(std::move(job));
        return plan;
    }
    std::u16string folder;
    if (options.hasTargetDirectory) {
        folder = name(options.targetDirectory);
        if (folder.empty() || folder.back() != u'/')
            folder += u'/';
    }
    std::set<std::string> rawNames;
    for (const std::string& op : ops) {
        if (op == "-") {
            plan.problem = "standard input ('-') can only be converted on its own";
            return plan;
        }
        TJob job;
        job.stl = name(op);
        const std::u16string beside = ChangeFileExtToRaw(job.stl);
        job.raw = options.hasTargetDirectory ? folder + BaseName(beside) : beside;
        // Two files with one RAW name: the later one would overwrite the
        // earlier one's lines, so it is refused.
        const auto bytes = platform::NameToBytes(platform::ExpandFileName(job.raw));
        if (bytes && !rawNames.insert(*bytes).second)
            job.refusal = Quoted(job.stl) + " would be written to " + Quoted(job.raw) +
                          " like an earlier file; skipped";
        plan.jobs.push_back(std::move(job));
    }
    return plan;
}

TJobOutcome RunJob(const TJob& job, const TOptions& options, unsigned threads) {
    TJobOutcome outcome;
    std::string refusal = job.refusal.empty() ? Refusal(job) : job.refusal;
    if (!refusal.empty()) {
        outcome.status = TExitStatus::Failure;
        outcome.lines.push_back(std::move(refusal));
        return outcome;
    }
    try {
        const TRunReport report = RunConversion(
            job.stl, job.raw, {options.blockSize, platform::CreateReplacingFile, threads});
        outcome.damaged = report.stop.stopped;
        if (report.stop.stopped && options.strict)
            outcome.status = TExitStatus::Damaged;
        if (!options.quiet) {
            outcome.lines.push_back(ReportLine(job, report));
            for (std::string& note : Notes(job, report))
                outcome.lines.push_back(std::move(note));
        }
    } catch (const std::exception& failure) {
        outcome.status = TExitStatus::Failure;
        outcome.lines.push_back(FailureLine(job, failure));
    }
    return outcome;
}

TExitStatus RunBatch(const std::vector<TJob>& jobs, const TOptions& options) {
    const std::size_t count = jobs.size();
    std::vector<TJobOutcome> outcomes(count);
    std::vector<char> done(count, 0);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};

    const unsigned wanted = options.jobs != 0 ? options.jobs : platform::AvailableProcessors();
    const std::size_t parallel = std::min<std::size_t>(std::max(wanted, 1u), count);
    // Files converted side by side share the processors among them.
    const unsigned threadsPerRun = std::max(
        1u, ConversionThreads() / static_cast<unsigned>(std::max<std::size_t>(parallel, 1)));

    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            TJobOutcome outcome = RunJob(jobs[i], options, threadsPerRun);
            const std::lock_guard lock(mutex);
            outcomes[i] = std::move(outcome);
            done[i] = 1;
            finished.notify_all();
        }
    };
    const std::size_t helpers = parallel - 1;
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t)
        threads.emplace_back(work);

    // This thread converts too, and prints each file's lines as soon as the
    // files before it are done.
    std::thread mine(work);
    TExitStatus worst = TExitStatus::Ok;
    std::size_t converted = 0, damaged = 0, failed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return done[i] != 0; });
        const TJobOutcome outcome = std::move(outcomes[i]);
        lock.unlock();
        std::string text;
        for (const std::string& line : outcome.lines)
            text += "trimeld-convert: " + line + "\n";
        if (!text.empty()) {
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        }
        worst = Worse(worst, outcome.status);
        if (outcome.status == TExitStatus::Failure)
            ++failed;
        else if (outcome.damaged)
            ++damaged;
        else
            ++converted;
    }
    mine.join();
    for (std::thread& thread : threads)
        thread.join();
    if (count > 1 && !(options.quiet && failed == 0))
        PrintLine(std::to_string(count) + " files: " + std::to_string(converted) + " converted, " +
                  std::to_string(damaged) + " damaged, " + std::to_string(failed) + " failed");
    return worst;
}

} // namespace trimeld::cli
