#include "batch/file_conversion.h"

#include <algorithm>
#include <new>
#include <utility>

#include "batch/decoder_process.h"
#include "batch/input_file.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

void PostFileEvent(ProgressSink& sink, ProgressKind kind, std::int64_t number,
                   const std::string& name, std::string_view reason = {}) {
    ProgressEvent event;
    event.kind = kind;
    event.fileNumber = number;
    event.fileName = name;
    event.reason = reason;
    sink.Post(std::move(event));
}

// The central kThumbnailWidth x kThumbnailHeight part of the image (all of a
// smaller side), copied into an image of its own so that it does not keep
// the full picture alive.
PixbufPtr CutThumbnail(GdkPixbuf* image) {
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    const int cutWidth = std::min(width, kThumbnailWidth);
    const int cutHeight = std::min(height, kThumbnailHeight);
    PixbufPtr thumbnail(gdk_pixbuf_new(GDK_COLORSPACE_RGB, gdk_pixbuf_get_has_alpha(image), 8,
                                       cutWidth, cutHeight));
    if (thumbnail) {
        gdk_pixbuf_copy_area(image, (width - cutWidth) / 2, (height - cutHeight) / 2, cutWidth,
                             cutHeight, thumbnail.get(), 0, 0);
    }
    return thumbnail;
}

std::string OutputCandidate(const std::string& folder, std::string_view name) {
    std::string candidate = folder;
    // The folder chooser's text ends with a slash; a typed one may not, and
    // gluing the name on would then write beside the folder instead of into it.
    if (!candidate.empty() && candidate.back() != '/') {
        candidate.push_back('/');
    }
    candidate.append(name);
    return candidate;
}

}  // namespace

ConversionTools::ConversionTools() : table_(std::make_unique<GradientTable>()) {}

std::string_view FileNamePart(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

namespace {

FileReport Failed(std::string_view reason) {
    return {FileOutcome::kFailed, reason};
}

constexpr FileReport kCancelled{FileOutcome::kCancelled, {}};

// Everything between the file's "[Loading]" and its final status.
FileReport ConvertPicture(const ConversionJob& job, const std::string& path,
                          const std::string& name, std::int64_t number, ConversionTools& tools,
                          const SharedGradientTable& gradient, const std::atomic<bool>& stop,
                          ProgressSink& sink, MemoryBudget* budget) {
    if (!tools.Valid()) {
        return Failed(failure_reason::kNoCodec);
    }
    // Opened once: the loaders and the decoder read this descriptor only.
    const InputFile input = OpenInputFile(path);
    if (!input.problem.empty()) {
        return Failed(input.problem);
    }
    BudgetHold hold(budget, stop);
    std::uint8_t orientation = 0;
    OutputFormat format = OutputFormat::kJpeg;
    JpegLoad status = JpegLoad::kUndecodable;
    PixbufPtr image = LoadJpegScaled(tools.Decoder(), input.fd.Get(), input.size, job.maxWidth,
                                     job.maxHeight, &orientation, &status, &hold);
    if (!image) {
        switch (status) {
            case JpegLoad::kTooLarge:
                return Failed(failure_reason::kTooLarge);
            case JpegLoad::kOutOfMemory:
                return Failed(failure_reason::kOutOfMemory);
            case JpegLoad::kStopped:
                return kCancelled;
            case JpegLoad::kDecoded:
            case JpegLoad::kNotJpeg:
            case JpegLoad::kUndecodable:
                break;
        }
        DecodedPicture decoded =
            DecodeInHelper(input.fd.Get(), input.size, name, job.maxWidth, job.maxHeight,
                           job.decoder, &stop, &hold, &tools.Server());
        if (decoded.stopped) {
            return kCancelled;
        }
        if (!decoded.image) {
            return Failed(decoded.problem);
        }
        image = std::move(decoded.image);
        format = OutputFormat::kPng;
        orientation = 0;
    }

    // One copy per image: a rebuild during the batch reaches the next
    // image, never a part of this one.
    gradient.Snapshot(tools.Table());
    ToneMapImage(image.get(), tools.Table());
    if (PixbufPtr thumbnail = CutThumbnail(image.get())) {
        ProgressEvent event;
        event.kind = ProgressKind::kThumbnail;
        event.fileNumber = number;
        event.thumbnail = std::move(thumbnail);
        sink.Post(std::move(event));
    }
    if (stop.load()) {
        return kCancelled;  // stopped after the mapping: left unwritten
    }
    PostFileEvent(sink, ProgressKind::kSaving, number, name);
    const std::string candidate = OutputCandidate(job.outputFolder, name);
    const bool written =
        format == OutputFormat::kJpeg
            ? WriteJpegOutput(tools.Encoder(), image.get(), candidate, job.quality, orientation)
            : WritePngOutput(tools.PngEncoder(), image.get(), candidate);
    // A failed write is a failure even when stop arrived meanwhile.
    return written ? FileReport{FileOutcome::kWritten, {}} : Failed(failure_reason::kNotWritten);
}

}  // namespace

std::string EventName(const std::string& path) {
    const std::string_view name = FileNamePart(path);
    return std::string(name.empty() ? std::string_view(path) : name);
}

FileReport ConvertFile(const ConversionJob& job, std::size_t index, ConversionTools& tools,
                       const SharedGradientTable& gradient, const std::atomic<bool>& stop,
                       ProgressSink& sink, MemoryBudget* budget) {
    if (index >= job.files.size()) {
        return Failed(failure_reason::kNoFileName);
    }
    const std::string& path = job.files[index];
    const auto number = static_cast<std::int64_t>(index) + 1;
    const std::string name = EventName(path);
    FileReport report;
    if (FileNamePart(path).empty()) {
        report = Failed(failure_reason::kNoFileName);
    } else {
        try {
            report = ConvertPicture(job, path, name, number, tools, gradient, stop, sink, budget);
        } catch (const std::bad_alloc&) {
            report = Failed(failure_reason::kOutOfMemory);
        }
    }
    switch (report.outcome) {
        case FileOutcome::kWritten:
            PostFileEvent(sink, ProgressKind::kDone, number, name);
            break;
        case FileOutcome::kCancelled:
            PostFileEvent(sink, ProgressKind::kCancelled, number, name);
            break;
        case FileOutcome::kFailed:
            PostFileEvent(sink, ProgressKind::kFailed, number, name, report.reason);
            break;
    }
    return report;
}

}  // namespace corvanta
