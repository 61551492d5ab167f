#include "cli/convert_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_engine.h"
#include "batch/display_name.h"
#include "batch/elapsed_time.h"
#include "batch/lut_export.h"
#include "batch/output_writer.h"
#include "tone/shared_gradient.h"
#include "scheme/scheme_text.h"
#include "tone/lut_table.h"

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

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The scheme as a lookup table in the file the user named. Problems are one
// line on err and exit 1, as for a file that failed to convert.
int ExportLut(const ConvertOptions& options, const std::atomic<bool>& stop, std::FILE* out,
              std::FILE* err) {
    const auto start = std::chrono::steady_clock::now();
    const std::string& path = options.lutFile;
    const std::string quoted = "'" + EscapedName(path) + "'";
    const auto fail = [err](const std::string& problem) {
        PrintUsageError(err, problem);
        return kExitSomeFailed;
    };
    const auto cannotWrite = [&](int error) {
        return fail("cannot write " + quoted + ": " + std::strerror(error));
    };
    const std::optional<LutFileFormat> known = LutFileFormatFor(path);
    if (!known) {  // parsing refuses such a name; a caller that skipped it gets this
        return fail(quoted + " ends neither in .cube nor in .png");
    }
    const LutFileFormat format = *known;
    const bool hald = format == LutFileFormat::kHaldPng;
    // Asked early so that nobody waits for a table that cannot be written;
    // publishing asks again and never replaces what is there by then.
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        return fail(quoted + " exists");
    }
    PendingOutput output;
    if (!output.Open(path)) {
        const int error = output.Error();
        const std::string folder = FolderOf(path);
        const OutputFolderCheck check = CheckOutputFolder(folder);
        return check != OutputFolderCheck::kFine ? fail(OutputFolderMessage(check, folder))
                                                 : cannotWrite(error);
    }

    const int size = hald ? kHaldLutSize : options.lutSize;
    // The unnamed file goes with `output` whichever way this ends.
    LutWrite written = LutWrite::kFailed;
    try {
        LutTable lut;
        {
            const ExactColorMap map = MapEveryColor(options.scheme);
            lut = FitLut(map, size, hald ? LutPrecision::kEightBit : LutPrecision::kFine, stop);
        }
        if (stop.load()) {
            return kExitInterrupted;
        }
        written = WriteLutFile(output, lut, format, options.schemeName, path, stop);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory for a table of " + std::to_string(size) +
                    " points per channel");
    }
    switch (written) {
        case LutWrite::kWritten:
            break;
        case LutWrite::kTaken:
            return fail(quoted + " exists");
        case LutWrite::kFailed:
            return cannotWrite(errno);
        case LutWrite::kCancelled:
            return kExitInterrupted;
    }
    PrintLine(out, FileStatusLine(ProgressKind::kDone, EscapedName(path)));
    PrintLine(out, TotalTimeLine(MillisecondsSince(start)));
    return kExitOk;
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
            std::fprintf(out, "%.*s %s\n", static_cast<int>(kConvertProgramName.size()),
                         kConvertProgramName.data(), CORVANTA_VERSION);
            return kExitOk;
        case ConvertAction::kListPresets:
            std::fputs(PresetListing().c_str(), out);
            return kExitOk;
        case ConvertAction::kExportLut:
            return ExportLut(options, stop, out, err);
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
