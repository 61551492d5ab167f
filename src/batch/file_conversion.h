// Converting one file of a batch: load it fitted into the box, tone-map it
// with one snapshot of the gradient table, cut a thumbnail and write it into
// the output folder, reporting each step. Knows nothing of widgets or of the
// other files; batch_engine.h runs many of these at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "batch/conversion_job.h"
#include "batch/failure_reason.h"
#include "batch/memory_budget.h"
#include "batch/output_writer.h"
#include "batch/progress.h"
#include "codecs/image_loader.h"
#include "common/path_parts.h"
#include "decoder/decoder_process.h"
#include "scheme/gradient_table.h"
#include "tone/shared_gradient.h"

namespace corvanta {

// What one converting thread owns: its TurboJPEG handles, its PNG
// compressor, its decoder server and the private copy of the gradient table
// it maps with.
class ConversionTools {
  public:
    // keepNothing: every buffer goes back after each file (a tight budget
    // cannot see memory a job keeps).
    explicit ConversionTools(bool keepNothing = false);
    bool Valid() const {
        return decoder_.Valid() && encoder_.Valid() && pngEncoder_.Valid() && table_ != nullptr;
    }

    JpegDecoder& Decoder() { return decoder_; }
    JpegEncoder& Encoder() { return encoder_; }
    DeflatePngEncoder& PngEncoder() { return pngEncoder_; }
    DecoderServer& Server() { return server_; }
    GradientTable& Table() { return *table_; }
    // Gives back what is kept between files: always, or only what is
    // unusually large.
    void TrimKept(bool always);
    bool KeepsNothing() const { return keepNothing_; }

  private:
    JpegDecoder decoder_;
    JpegEncoder encoder_;
    DeflatePngEncoder pngEncoder_;
    DecoderServer server_;  // started at the first picture that needs it
    std::unique_ptr<GradientTable> table_;
    bool keepNothing_;
};

enum class FileOutcome { kWritten, kFailed, kCancelled };

// How one file ended; reason says why for kFailed, and what is wrong with a
// damaged picture that was written anyway for kWritten.
struct FileReport {
    FileOutcome outcome = FileOutcome::kFailed;
    std::string_view reason;
    bool operator==(const FileReport&) const = default;
};

// The name a file's events carry: its name part, or the whole path when it
// has none (an empty entry, a path ending in a slash), so every file still
// has a line of its own.
std::string EventName(const std::string& path);

// Converts job.files[index] as file number index + 1 once its kLoading has
// been posted: posts kThumbnail, kSaving and the final event. Safe on
// several threads at once, each with its own tools, sharing the sink and
// the budget. A file that runs out of memory anywhere ends as failed, never
// the process (a file that ran out of memory beside other files gets a
// second try on its own); a failed write is a failure even when stop came
// meanwhile.
FileReport ConvertFile(const ConversionJob& job, std::size_t index, ConversionTools& tools,
                       const SharedGradientTable& gradient, const std::atomic<bool>& stop,
                       ProgressSink& sink, MemoryBudget* budget);

}  // namespace corvanta
