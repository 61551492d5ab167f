// The batch engine both front ends drive: the queue built from the paths a
// user gave, the check of the output folder, the conversion with N jobs at
// once (N = 1 is the plain loop), Stop, every file's outcome and the elapsed
// time. The front ends differ only in their sink and in how they start a
// batch and show it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "batch/conversion_job.h"
#include "batch/file_conversion.h"
#include "batch/progress.h"
#include "tone/shared_gradient.h"

namespace corvanta {

// How folders among the given paths stand for their files (one level deep,
// subfolders and names starting with a dot left out).
enum class FolderExpansion {
    // The window: a single dropped folder, in directory order; anything else
    // is queued as dropped (a folder among several then fails as a folder).
    // A single folder that cannot be listed is queued as itself, so that the
    // conversion reports it.
    kSingleDroppedFolder,
    // The command line: every folder, each sorted by name (reproducible runs).
    kEveryFolderByName,
};

struct FileQueue {
    std::vector<std::string> files;              // in conversion order
    std::vector<std::string> unreadableFolders;  // kEveryFolderByName only
    std::vector<std::string> emptyFolders;
};

FileQueue BuildFileQueue(const std::vector<std::string>& paths, FolderExpansion expansion);

// The reason an unreadable folder is reported with.
constexpr std::string_view kUnreadableFolder = "cannot read folder";
// What an empty folder is said to be, behind its name or "The folder you dropped".
constexpr std::string_view kEmptyFolderWords = "doesn't contain any files";

enum class OutputFolderCheck {
    kFine,
    kEmpty,
    kMissing,
    kLinkLoop,
    kUnreachable,
    kNotAFolder,
    kReadOnly,
    kNotWritable,
};

OutputFolderCheck CheckOutputFolder(const std::string& folder);
// One line naming the problem, with the folder in it.
std::string OutputFolderMessage(OutputFolderCheck check, const std::string& folder);

// One job per processor: the default of both front ends.
int DefaultJobCount();

struct BatchReport {
    std::vector<FileReport> files;  // one per queued file, in queue order
    std::int64_t elapsedMs = 0;
    int jobs = 0;  // how many ran at once
    bool AllWritten() const;
};

// Converts job.files with up to `jobs` at once (bounded by the files and by
// the memory budget), each file taken in queue order. Every file posts its
// kLoading in queue order, then its own steps whatever the others do, then
// kRemaining with the number of files not finished. Stop starts no new
// file; the files in hand end after their mapping, unwritten. Files never
// started are reported cancelled. Posts no kFinished: the caller knows when
// the batch is over.
BatchReport RunBatch(const ConversionJob& job, int jobs, const SharedGradientTable& gradient,
                     const std::atomic<bool>& stop, ProgressSink& sink);

// ---- a batch on a thread of its own (the window) ------------------------------

// State a front end shares with its running batch.
struct BatchState {
    // Set by the stop button, at shut-down or by a signal. The front end
    // clears it once kFinished has arrived.
    std::atomic<bool> stop{false};
    // True from StartConversionWorker until the worker's last act, which
    // clears it just before posting kFinished: while it holds, a new batch
    // must be refused.
    std::atomic<bool> running{false};
};

// The worker's thread procedure: RunBatch with `jobs` (0: DefaultJobCount),
// then clears state.running and posts kFinished with the elapsed milliseconds.
void ConversionWorker(ConversionJob job, const SharedGradientTable& gradient, BatchState& state,
                      ProgressSink& sink, int jobs = 0);

// Starts ConversionWorker on a new thread stored in thread (a finished
// previous worker in it is joined first). Returns false, leaving the state
// idle, when a batch is running or the thread cannot be started. gradient,
// state and sink must outlive the worker.
bool StartConversionWorker(ConversionJob job, const SharedGradientTable& gradient,
                           BatchState& state, ProgressSink& sink, std::thread& thread,
                           int jobs = 0);

}  // namespace corvanta
