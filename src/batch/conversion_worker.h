// The conversion loop: for each queued file load it fitted into the box,
// tone-map it, cut a thumbnail and write it into the output folder,
// reporting every step through a ProgressSink. Knows nothing of widgets.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "batch/conversion_job.h"
#include "batch/failure_reason.h"
#include "batch/image_loader.h"
#include "batch/memory_budget.h"
#include "batch/output_writer.h"
#include "batch/shared_gradient.h"
#include "scheme/gradient_table.h"

namespace corvanta {

// The kinds of progress event, with the numbers the window's log routing
// uses. Per file: kLoading, then kThumbnail when a mapped image exists,
// kSaving just before the write, and exactly one of kDone, kFailed or
// kCancelled; then kRemaining. kFinished ends the batch.
enum class ProgressKind : int {
    kLoading = 0,
    kThumbnail = -9,
    kSaving = 1,
    kDone = 2,
    kFailed = -1,
    kCancelled = -2,
    kRemaining = -3,
    kFinished = -4,
};

// The status words both front ends put before a file name; each ends in two
// spaces.
constexpr std::string_view kLoadingPrefix = "[Loading]  ";
constexpr std::string_view kSavingPrefix = "[Saving]  ";
constexpr std::string_view kDonePrefix = "[Done]  ";
constexpr std::string_view kErrorPrefix = "[Error]  ";
constexpr std::string_view kCancelledPrefix = "[Cancelled]  ";

constexpr int kThumbnailWidth = 256;
constexpr int kThumbnailHeight = 96;

struct ProgressEvent {
    ProgressKind kind = ProgressKind::kLoading;
    // The 1-based file number for the per-file kinds, the number of files
    // still to come for kRemaining, the elapsed milliseconds for kFinished.
    std::int64_t object = 0;
    std::string fileName;  // per-file kinds: the name part of the path
    PixbufPtr thumbnail;   // kThumbnail: at most 256 x 96, owned by the receiver
    std::string reason;    // kFailed: a few words on what went wrong
};

// Where the loop reports to. Post runs on the converting thread and takes
// the event over; the loop never touches it again.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void Post(ProgressEvent event) = 0;
};

// State a front end shares with its running batch.
struct BatchState {
    // Set by the stop button, at shut-down or by a signal; read before each
    // file and after each mapping. The front end clears it once kFinished
    // has arrived.
    std::atomic<bool> stop{false};
    // True from StartConversionWorker until the worker's last act, which
    // clears it just before posting kFinished: while it holds, a new batch
    // must be refused.
    std::atomic<bool> running{false};
};

// What one converting thread owns: its TurboJPEG handles and the private
// copy of the gradient table it maps with.
class ConversionTools {
  public:
    ConversionTools();
    bool Valid() const { return decoder_.Valid() && encoder_.Valid() && table_ != nullptr; }

    JpegDecoder& Decoder() { return decoder_; }
    JpegEncoder& Encoder() { return encoder_; }
    GradientTable& Table() { return *table_; }

  private:
    JpegDecoder decoder_;
    JpegEncoder encoder_;
    std::unique_ptr<GradientTable> table_;
};

enum class FileOutcome { kWritten, kFailed, kCancelled };

// The file name part of a path: everything behind the last slash.
std::string_view FileNamePart(std::string_view path);

// Converts job.files[index] as file number index + 1, posting its kLoading,
// kThumbnail, kSaving and final events (not kRemaining). Safe to run on
// several threads at once, each with its own tools, sharing one sink that
// can take events from several threads and one budget. A file that runs
// out of memory anywhere ends as failed, never the process.
FileOutcome ConvertOneFile(const ConversionJob& job, std::size_t index, ConversionTools& tools,
                           const SharedGradientTable& gradient, const std::atomic<bool>& stop,
                           ProgressSink& sink, MemoryBudget* budget = nullptr);

// The worker's thread procedure: converts every file in order until the stop
// flag is set, posts kRemaining after each, clears state.running and posts
// kFinished with the elapsed milliseconds.
void ConversionWorker(ConversionJob job, const SharedGradientTable& gradient, BatchState& state,
                      ProgressSink& sink);

// Starts ConversionWorker on a new thread stored in thread (a finished
// previous worker in it is joined first). Returns false, leaving the state
// idle, when a batch is running or the thread cannot be started. gradient,
// state and sink must outlive the worker.
bool StartConversionWorker(ConversionJob job, const SharedGradientTable& gradient,
                           BatchState& state, ProgressSink& sink, std::thread& thread);

}  // namespace corvanta
