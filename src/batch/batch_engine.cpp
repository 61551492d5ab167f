#include "batch/batch_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "batch/display_name.h"
#include "batch/failure_reason.h"
#include "batch/folder_listing.h"
#include "batch/memory_budget.h"
#include "batch/output_writer.h"

namespace corvanta {
namespace {

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Hands the files out in queue order and keeps the count of finished ones,
// posting kLoading and kRemaining under its lock so that both reach the
// sink in order whichever job posts them.
class Dispatcher {
  public:
    Dispatcher(const ConversionJob& job, ProgressSink& sink) : job_(job), sink_(sink) {}

    // The next file's index, its kLoading posted; false when none is left,
    // stop is set or the batch has been given up.
    bool Next(const std::atomic<bool>& stop, std::size_t& index) {
        const std::lock_guard lock(mutex_);
        if (stop.load() || givenUp_ || next_ >= job_.files.size()) {
            return false;
        }
        index = next_++;
        ProgressEvent loading;
        loading.kind = ProgressKind::kLoading;
        loading.fileNumber = static_cast<std::int64_t>(index) + 1;
        loading.fileName = EventName(job_.files[index]);
        sink_.Post(std::move(loading));
        return true;
    }

    // A file has ended; one whose output folder has gone ends the batch,
    // which says so once instead of failing every file behind it.
    void Finished(const FileReport& report) {
        const std::lock_guard lock(mutex_);
        givenUp_ = givenUp_ || report.reason == failure_reason::kOutputGone;
        ++finished_;
        ProgressEvent remaining;
        remaining.kind = ProgressKind::kRemaining;
        remaining.remaining = static_cast<std::int64_t>(job_.files.size() - finished_);
        sink_.Post(std::move(remaining));
    }

  private:
    const ConversionJob& job_;
    ProgressSink& sink_;
    std::mutex mutex_;
    std::size_t next_ = 0;      // guarded by mutex_
    std::size_t finished_ = 0;  // guarded by mutex_
    bool givenUp_ = false;      // guarded by mutex_
};

}  // namespace

FileQueue BuildFileQueue(const std::vector<std::string>& paths, FolderExpansion expansion) {
    FileQueue queue;
    if (expansion == FolderExpansion::kSingleDroppedFolder) {
        if (paths.size() != 1 || !IsFolder(paths.front())) {
            queue.files = paths;
            return queue;
        }
        std::optional<std::vector<std::string>> files =
            ListFolderFiles(paths.front(), FolderOrder::kDirectory);
        if (!files) {
            queue.files = paths;
        } else if (files->empty()) {
            queue.emptyFolders = paths;
        } else {
            queue.files = std::move(*files);
        }
        return queue;
    }
    for (const std::string& path : paths) {
        if (!IsFolder(path)) {
            queue.files.push_back(path);  // a missing file is reported by the conversion
            continue;
        }
        std::optional<std::vector<std::string>> files = ListFolderFiles(path, FolderOrder::kByName);
        if (!files) {
            queue.unreadableFolders.push_back(path);
        } else if (files->empty()) {
            queue.emptyFolders.push_back(path);
        } else {
            queue.files.insert(queue.files.end(), std::make_move_iterator(files->begin()),
                               std::make_move_iterator(files->end()));
        }
    }
    return queue;
}

OutputFolderCheck CheckOutputFolder(const std::string& folder) {
    if (folder.empty()) {
        return OutputFolderCheck::kEmpty;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return errno == ELOOP                        ? OutputFolderCheck::kLinkLoop
               : errno == ENOENT || errno == ENOTDIR ? OutputFolderCheck::kMissing
                                                     : OutputFolderCheck::kUnreachable;
    }
    if (!S_ISDIR(info.st_mode)) {
        return OutputFolderCheck::kNotAFolder;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return errno == EROFS ? OutputFolderCheck::kReadOnly : OutputFolderCheck::kNotWritable;
    }
    return OutputFolderCheck::kFine;
}

std::string OutputFolderMessage(OutputFolderCheck check, const std::string& folder) {
    const std::string named = "output folder '" + EscapedName(folder) + "'";
    switch (check) {
        case OutputFolderCheck::kFine:
            return {};
        case OutputFolderCheck::kEmpty:
            return "the output folder is empty";
        case OutputFolderCheck::kMissing:
            return named + " does not exist";
        case OutputFolderCheck::kLinkLoop:
            return named + " is a loop of symbolic links";
        case OutputFolderCheck::kUnreachable:
            return named + " cannot be reached";
        case OutputFolderCheck::kReadOnly:
            return named + " is on a read-only file system";
        case OutputFolderCheck::kNotAFolder:
            return named + " is not a folder";
        case OutputFolderCheck::kNotWritable:
            return named + " is not writable";
    }
    return {};
}

int DefaultJobCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : static_cast<int>(count);
}

bool BatchReport::AllWritten() const {
    return std::all_of(files.begin(), files.end(),
                       [](const FileReport& f) { return f.outcome == FileOutcome::kWritten; });
}

BatchReport RunBatch(const ConversionJob& job, int jobs, const SharedGradientTable& gradient,
                     const std::atomic<bool>& stop, ProgressSink& sink) {
    const auto start = std::chrono::steady_clock::now();
    BatchReport report;
    report.files.assign(job.files.size(), FileReport{FileOutcome::kCancelled, {}});
    const int wanted = std::min<int>(jobs > 0 ? jobs : DefaultJobCount(),
                                     static_cast<int>(std::max<std::size_t>(job.files.size(), 1)));
    const BatchMemory memory = PlanBatchMemory(JobsWithinDescriptors(wanted), ReadMemoryRoom());
    MemoryBudget budget(memory.pictureBytes, memory.ceilingBytes);
    // What a killed run left in the folder goes before this run adds to it.
    RemoveStaleHiddenOutputs(job.outputFolder);

    Dispatcher dispatcher(job, sink);
    const auto convert = [&] {
        ConversionTools tools(memory.keepNothing);
        std::size_t index = 0;
        while (dispatcher.Next(stop, index)) {
            report.files[index] = ConvertFile(job, index, tools, gradient, stop, sink, &budget);
            dispatcher.Finished(report.files[index]);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < memory.jobs; ++i) {
        try {
            threads.emplace_back(convert);
        } catch (const std::system_error&) {
            break;  // fewer threads than asked: the others share the work
        }
    }
    convert();  // this thread is one of the jobs
    for (std::thread& thread : threads) {
        thread.join();
    }
    report.jobs = static_cast<int>(threads.size()) + 1;
    report.elapsedMs = MillisecondsSince(start);
    return report;
}

void ConversionWorker(ConversionJob job, const SharedGradientTable& gradient, BatchState& state,
                      ProgressSink& sink, int jobs) {
    std::int64_t elapsedMs = 0;
    {
        elapsedMs = RunBatch(job, jobs, gradient, state.stop, sink).elapsedMs;
        job = ConversionJob{};  // the batch's memory goes before the final report
    }
    ProgressEvent finished;
    finished.kind = ProgressKind::kFinished;
    finished.elapsedMs = elapsedMs;
    state.running.store(false);
    sink.Post(std::move(finished));
}

bool StartConversionWorker(ConversionJob job, const SharedGradientTable& gradient,
                           BatchState& state, ProgressSink& sink, std::thread& thread, int jobs) {
    if (state.running.exchange(true)) {
        return false;
    }
    if (thread.joinable()) {
        thread.join();  // the previous worker has already made its last report
    }
    try {
        thread = std::thread(ConversionWorker, std::move(job), std::cref(gradient), std::ref(state),
                             std::ref(sink), jobs);
    } catch (const std::system_error&) {
        state.running.store(false);
        return false;
    }
    return true;
}

}  // namespace corvanta
