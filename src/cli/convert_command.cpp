#include "cli/convert_command.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "batch/batch_engine.h"
#include "batch/display_name.h"
#include "batch/elapsed_time.h"
#include "batch/lut_export.h"
#include "decoder/confinement.h"
#include "scheme/scheme_text.h"
#include "tone/shared_gradient.h"

#ifndef CORVANTA_VERSION
#define CORVANTA_VERSION "unknown"
#endif

namespace corvanta {
namespace {

void PrintLine(std::FILE* out, const std::string& line) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);  // a line per file as it happens, also into a pipe
}

// Prints each file's final status line, with a label that tells apart the
// files of the run sharing a name. Events come from several jobs at once.
class LinePrinter final : public ProgressSink {
  public:
    LinePrinter(std::FILE* out, std::vector<std::string> labels)
        : out_(out), labels_(std::move(labels)) {}

    void Post(ProgressEvent event) override {
        if (event.kind != ProgressKind::kDone && event.kind != ProgressKind::kFailed &&
            event.kind != ProgressKind::kCancelled) {
            return;  // loading, saving, thumbnails and counters are for the window
        }
        const auto index = static_cast<std::size_t>(event.fileNumber - 1);
        const std::string& name =
            event.fileNumber > 0 && index < labels_.size() ? labels_[index] : event.fileName;
        const std::string line = FileStatusLine(event.kind, name, event.reason);
        std::lock_guard lock(mutex_);
        PrintLine(out_, line);
    }

  private:
    std::FILE* out_;
    const std::vector<std::string> labels_;
    std::mutex mutex_;
};

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// The scheme as a lookup table in the file the user named. Problems are one
// line on err and exit 1, as for a file that failed to convert.
int ExportLutCommand(const ConvertOptions& options, const std::atomic<bool>& stop, std::FILE* out,
                     std::FILE* err) {
    using Outcome = LutExportResult::Outcome;
    const auto start = std::chrono::steady_clock::now();
    const std::string& path = options.lutFile;
    const LutExportResult result =
        ExportLut(options.scheme, options.schemeName, path, options.lutSize, stop);
    const std::string quoted = "'" + EscapedName(path) + "'";
    std::string problem;
    switch (result.outcome) {
        case Outcome::kWritten:
            PrintLine(out, FileStatusLine(ProgressKind::kDone, EscapedName(path)));
            PrintLine(out, TotalTimeLine(MillisecondsSince(start)));
            return kExitOk;
        case Outcome::kCancelled:
            return kExitInterrupted;
        case Outcome::kNotALutName:  // parsing refuses such a name; a caller that skipped it
            problem = quoted + " ends neither in .cube nor in .png";
            break;
        case Outcome::kExists:
            problem = quoted + " exists";
            break;
        case Outcome::kFolderProblem:
            problem = OutputFolderMessage(result.folder, result.folderPath);
            break;
        case Outcome::kCannotWrite:
            problem = "cannot write " + quoted + ": " + std::strerror(result.error);
            break;
        case Outcome::kNoMemory:
            problem = "not enough memory for a table of " + std::to_string(result.size) +
                      " points per channel";
            break;
    }
    PrintUsageError(err, problem);
    return kExitSomeFailed;
}

}  // namespace

void PrintUsageError(std::FILE* err, const std::string& problem) {
    std::fprintf(err, "%.*s: %s\n", static_cast<int>(kConvertProgramName.size()),
                 kConvertProgramName.data(), problem.c_str());
}

int RunConvertCommand(const ConvertOptions& options, std::atomic<bool>& stop, std::FILE* out,
                      std::FILE* err) {
    switch (options.action) {
        case ConvertAction::kHelp:
            std::fputs(UsageText().c_str(), out);
            return kExitOk;
        case ConvertAction::kVersion:
            std::fprintf(out, "%.*s %s\n%s\n", static_cast<int>(kConvertProgramName.size()),
                         kConvertProgramName.data(), CORVANTA_VERSION,
                         decoder::DescribeProtections(decoder::AvailableProtections()).c_str());
            return kExitOk;
        case ConvertAction::kListPresets:
            std::fputs(PresetListing().c_str(), out);
            return kExitOk;
        case ConvertAction::kExportLut:
            return ExportLutCommand(options, stop, out, err);
        case ConvertAction::kConvert:
            break;
    }

    if (const OutputFolderCheck check = CheckOutputFolder(options.outputFolder);
        check != OutputFolderCheck::kFine) {
        PrintUsageError(err, OutputFolderMessage(check, options.outputFolder));
        return kExitUsage;
    }

    const auto start = std::chrono::steady_clock::now();
    const FileQueue queue = BuildFileQueue(options.inputs, FolderExpansion::kEveryFolderByName);
    for (const std::string& folder : queue.unreadableFolders) {
        PrintLine(out, FileStatusLine(ProgressKind::kFailed, folder, kUnreadableFolder));
    }
    for (const std::string& folder : queue.emptyFolders) {
        PrintUsageError(
            err, "the folder '" + EscapedName(folder) + "' " + std::string(kEmptyFolderWords));
    }

    bool allWritten = queue.unreadableFolders.empty();
    if (!queue.files.empty()) {
        ConversionJob job;
        job.maxWidth = options.maxWidth;
        job.maxHeight = options.maxHeight;
        job.quality = options.quality;
        job.outputFolder = options.outputFolder;
        job.files = queue.files;
        const SharedGradientTable gradient(&options.scheme);
        LinePrinter printer(out, DistinctLabels(job.files));
        const BatchReport report = RunBatch(job, options.jobs, gradient, stop, printer);
        allWritten = allWritten && report.AllWritten();
    }
    PrintLine(out, TotalTimeLine(MillisecondsSince(start)));

    if (stop.load()) {
        return kExitInterrupted;
    }
    return allWritten ? kExitOk : kExitSomeFailed;
}

}  // namespace corvanta
