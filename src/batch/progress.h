// What a batch tells its front end while it runs: one event per step of a
// file, through a sink that each front end implements (the command prints
// lines, the window posts them to its log).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codecs/image_loader.h"  // PixbufPtr

namespace corvanta {

// The kinds of progress event. Per file: kLoading, then kThumbnail when a
// mapped image exists, kSaving just before the write, and exactly one of
// kDone, kFailed or kCancelled; then kRemaining. kFinished ends the batch.
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
    std::int64_t fileNumber = 0;  // per-file kinds: 1-based, in queue order
    std::int64_t remaining = 0;   // kRemaining: the files not yet finished
    std::int64_t elapsedMs = 0;   // kFinished: the whole batch's time
    std::string fileName;         // per-file kinds: the name part of the path
    PixbufPtr thumbnail;          // kThumbnail: at most 256 x 96, owned by the receiver
    std::string reason;           // kFailed: a few words on what went wrong; kDone: a damage note
};

// Where a batch reports to. Post runs on the converting threads, several at
// once, and takes the event over.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void Post(ProgressEvent event) = 0;
};

// The line a file's status is shown with: the status word of a per-file
// kind, the name escaped onto one line (EscapedName), and " (reason)" when
// a reason is given.
std::string FileStatusLine(ProgressKind kind, std::string_view name, std::string_view reason = {});

}  // namespace corvanta
