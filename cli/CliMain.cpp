// trimeld-convert: the command-line converter. It converts one STL file or
// many, with the same conversion run as the window, and says on standard
// error what it read from each file and where, or why a file failed.
#include "app/ConvertCommand.h"
#include "cli/Batch.h"
#include "cli/Options.h"
#include "platform/Files.h"
#include "platform/Unicode.h"

#include <cstdio>

int main(int argc, char** argv) {
    using namespace trimeld;
    using namespace trimeld::cli;

    TOptions options;
    const TParsed parsed = ParseOptions(argc, argv, options);
    switch (parsed.action) {
    case TParsed::Stop:
        return static_cast<int>(parsed.status);
    case TParsed::ShowHelp:
        std::fputs(HelpText(), stdout);
        return 0;
    case TParsed::ShowVersion:
        std::printf("trimeld-convert %s\n", platform::ToUtf8(AppVer).c_str());
        return 0;
    case TParsed::Convert:
        break;
    }

    const TPlan plan = PlanJobs(options);
    if (!plan.problem.empty()) {
        PrintLine(plan.problem);
        std::fputs("Try 'trimeld-convert --help' for more information.\n", stderr);
        return static_cast<int>(TExitStatus::Usage);
    }
    if (options.hasTargetDirectory) {
        const auto target = platform::ExamineFile(platform::NameFromBytes(options.targetDirectory));
        if (target.what != platform::TFileKind::Folder) {
            PrintLine("target '" + options.targetDirectory + "' is not a folder" +
                      (target.what == platform::TFileKind::Missing
                           ? ": " + platform::ToUtf8(platform::SystemErrorText(target.error))
                           : std::string()));
            return static_cast<int>(TExitStatus::Failure);
        }
    }
    platform::RemoveTemporaryFilesOnInterrupt();
    return static_cast<int>(RunBatch(plan.jobs, options));
}
