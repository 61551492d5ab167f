#include "cli/convert_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "batch/conversion_worker.h"
#include "batch/display_name.h"
#include "batch/elapsed_time.h"
#include "batch/folder_listing.h"
#include "batch/memory_budget.h"
#include "batch/shared_gradient.h"
#include "scheme/scheme_text.h"

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

// Prints each file's final status as the window's log words it, with a
// label that tells apart the files of the run sharing a name, escaped so
// that no name can add a line or reach the terminal. Events come from
// several conversion threads.
class LinePrinter final : public ProgressSink {
  public:
    explicit LinePrinter(std::FILE* out) : out_(out) {}

    // The labels of the queued files, by file number - 1.
    void SetLabels(std::vector<std::string> labels) { labels_ = std::move(labels); }

    void Post(ProgressEvent event) override {
        const std::string name = EscapedName(LabelFor(event));
        std::string line;
        switch (event.kind) {
            case ProgressKind::kDone:
                line = std::string(kDonePrefix) + name;
                break;
            case ProgressKind::kFailed:
                line = std::string(kErrorPrefix) + name;
                if (!event.reason.empty()) {
                    line += " (" + event.reason + ")";
                }
                break;
            case ProgressKind::kCancelled:
                line = std::string(kCancelledPrefix) + name;
                break;
            default:
                return;  // loading, saving, thumbnails and counters are for the window
        }
        std::lock_guard lock(mutex_);
        if (event.kind != ProgressKind::kDone) {
            anyUnwritten_ = true;
        }
        PrintLine(out_, line);
    }

    void Fail(const std::string& name, std::string_view reason) {
        ProgressEvent event;
        event.kind = ProgressKind::kFailed;
        event.fileName = name;
        event.reason = reason;
        Post(std::move(event));
    }

    bool AnyUnwritten() {
        std::lock_guard lock(mutex_);
        return anyUnwritten_;
    }

  private:
    const std::string& LabelFor(const ProgressEvent& event) const {
        const auto index = static_cast<std::size_t>(event.object - 1);
        return event.object > 0 && index < labels_.size() && !labels_[index].empty()
                   ? labels_[index]
                   : event.fileName;
    }

    std::FILE* out_;
    std::vector<std::string> labels_;  // written before the first file starts
    std::mutex mutex_;
    bool anyUnwritten_ = false;
};

// Why the output folder cannot take files, or an empty text.
std::string OutputFolderProblem(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        return "output folder '" + folder + "' does not exist";
    }
    if (!S_ISDIR(info.st_mode)) {
        return "output folder '" + folder + "' is not a folder";
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return "output folder '" + folder + "' is not writable";
    }
    return {};
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int ProcessorCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : static_cast<int>(std::min<unsigned>(count, kMaxJobs));
}

// Converts job.files on jobs threads, each taking the next unclaimed file
// until none is left or stop is set.
void ConvertInParallel(const ConversionJob& job, int jobs, const SharedGradientTable& gradient,
                       const std::atomic<bool>& stop, ProgressSink& sink, MemoryBudget& budget) {
    std::atomic<std::size_t> next{0};
    const auto convert = [&] {
        ConversionTools tools;
        while (!stop.load()) {
            const std::size_t index = next.fetch_add(1);
            if (index >= job.files.size()) {
                break;
            }
            ConvertOneFile(job, index, tools, gradient, stop, sink, &budget);
        }
    };

    std::vector<std::thread> threads;
    for (int i = 1; i < jobs; ++i) {
        try {
            threads.emplace_back(convert);
        } catch (const std::system_error&) {
            break;  // fewer threads than asked: the rest share the work
        }
    }
    convert();  // this thread is one of the jobs
    for (std::thread& thread : threads) {
        thread.join();
    }
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
        case ConvertAction::kConvert:
            break;
    }

    if (const std::string problem = OutputFolderProblem(options.outputFolder); !problem.empty()) {
        PrintUsageError(err, problem);
        return kExitUsage;
    }

    const auto start = std::chrono::steady_clock::now();
    LinePrinter printer(out);

    ConversionJob job;
    job.maxWidth = options.maxWidth;
    job.maxHeight = options.maxHeight;
    job.quality = options.quality;
    job.outputFolder = options.outputFolder;
    for (const std::string& input : options.inputs) {
        if (!IsDirectory(input)) {
            job.files.push_back(input);  // a missing file is reported by the conversion
            continue;
        }
        std::optional<std::vector<std::string>> files =
            ListFolderFiles(input, FolderOrder::kByName);
        if (!files) {
            printer.Fail(input, "cannot read folder");  // escaped by the printer
        } else if (files->empty()) {
            std::fprintf(err, "%.*s: the folder '%s' doesn't contain any files\n",
                         static_cast<int>(kConvertProgramName.size()), kConvertProgramName.data(),
                         EscapedName(input).c_str());
        } else {
            job.files.insert(job.files.end(), std::make_move_iterator(files->begin()),
                             std::make_move_iterator(files->end()));
        }
    }

    if (!job.files.empty()) {
        const SharedGradientTable gradient(&options.scheme);
        MemoryBudget budget(DefaultBudgetBytes());
        const int wanted = options.jobs > 0 ? options.jobs : ProcessorCount();
        const int jobs = JobsWithinBudget(static_cast<int>(std::min<std::size_t>(
                                              static_cast<std::size_t>(wanted), job.files.size())),
                                          budget.Total());
        printer.SetLabels(DistinctLabels(job.files));
        ConvertInParallel(job, jobs, gradient, stop, printer, budget);
    }

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    PrintLine(out, TotalTimeLine(elapsed.count()));

    if (stop.load()) {
        return kExitInterrupted;
    }
    return printer.AnyUnwritten() ? kExitSomeFailed : kExitOk;
}

}  // namespace corvanta
