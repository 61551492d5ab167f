#include "batch/file_conversion.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "decoder/decoder_process.h"
#include "decoder/input_file.h"
#include "tone/pixbuf_format.h"
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

ConversionTools::ConversionTools(bool keepNothing)
    : table_(std::make_unique<GradientTable>()), keepNothing_(keepNothing) {}

void ConversionTools::TrimKept(bool always) {
    decoder_.TrimFileBuffer(always);
    encoder_.TrimBuffer(always);
    pngEncoder_.TrimBuffers(always);
    server_.TrimPixels(always);
}

namespace {

FileReport Failed(std::string_view reason) {
    return {FileOutcome::kFailed, reason};
}

constexpr FileReport kCancelled{FileOutcome::kCancelled, {}};

// Admits a JPEG's memory, the file's own bytes in the read buffer included.
class BudgetGate final : public SizeGate {
  public:
    BudgetGate(BudgetHold& hold, std::int64_t fileBytes) : hold_(hold), fileBytes_(fileBytes) {}
    bool Admit(ImageSize decoded, ImageSize fitted) override {
        return hold_.Admit(
            fileBytes_ + ConversionBytes(std::int64_t{decoded.width} * decoded.height,
                                         std::int64_t{fitted.width} * fitted.height, kRgbChannels),
            true);
    }

  private:
    BudgetHold& hold_;
    std::int64_t fileBytes_;
};

// Admits what a picture from the decoder process needs here: its fitted
// copy and the PNG encoder's buffers, or less for a JPEG.
class DecoderGate final : public SizeGate {
  public:
    explicit DecoderGate(BudgetHold& hold) : hold_(hold) {}
    bool Admit(ImageSize decoded, ImageSize fitted) override {
        return hold_.Admit(PngConversionBytes(std::int64_t{decoded.width} * decoded.height, fitted,
                                              kRgbaChannels));
    }

  private:
    BudgetHold& hold_;
};

// A picture as loaded, with what it is written as.
struct LoadedPicture {
    PixbufPtr image;
    OutputFormat format = OutputFormat::kJpeg;
    std::uint8_t orientation = 0;
    Damage damage = Damage::kNone;
    std::optional<FileReport> ended;  // set when there is no picture
};

// How a JPEG the batch's own loader would not take ends, when it ends here.
std::optional<FileReport> EndingFor(JpegLoad status) {
    switch (status) {
        case JpegLoad::kTooLarge:
            return Failed(failure_reason::kTooLarge);
        case JpegLoad::kTooCostly:
            return Failed(failure_reason::kTooCostly);
        case JpegLoad::kOutOfMemory:
            return Failed(failure_reason::kOutOfMemory);
        case JpegLoad::kStopped:
            return kCancelled;
        case JpegLoad::kDecoded:
        case JpegLoad::kNotJpeg:
        case JpegLoad::kUndecodable:
        case JpegLoad::kCostlyHere:
        case JpegLoad::kDamaged:
            break;
    }
    return std::nullopt;
}

// The JPEG loader in this process where it can, the decoder process for
// everything else, for JPEGs too costly to decode here (which stay JPEGs)
// and for JPEGs TurboJPEG could decode only in part.
LoadedPicture LoadAnyPicture(const ConversionJob& job, const InputFile& input,
                             const std::string& name, ConversionTools& tools,
                             const std::atomic<bool>& stop, BudgetHold& hold) {
    LoadedPicture loaded;
    JpegLoad status = JpegLoad::kUndecodable;
    BudgetGate gate(hold, input.size);
    loaded.image = LoadJpegScaled(tools.Decoder(), input.fd.Get(), input.size, job.maxWidth,
                                  job.maxHeight, &loaded.orientation, &status, &gate);
    loaded.ended = EndingFor(status);
    if (loaded.image || loaded.ended) {
        return loaded;
    }
    PictureToDecode picture{input.fd.Get(), input.size, name, job.maxWidth, job.maxHeight};
    if (status == JpegLoad::kCostlyHere) {
        picture.decodeWith = decoder::DecodeWith::kTurboJpeg;
    }
    DecoderGate decoderGate(hold);
    DecodedPicture decoded =
        DecodeInHelper(picture, job.decoder, &stop, &decoderGate, &tools.Server());
    if (decoded.stopped) {
        loaded.ended = kCancelled;
    } else if (!decoded.image) {
        loaded.ended = Failed(failure_reason::ForDecode(decoded.problem));
    }
    if (decoded.decodedWith == decoder::DecodeWith::kPixbuf) {
        loaded.format = OutputFormat::kPng;
    }
    loaded.image = std::move(decoded.image);
    loaded.orientation = decoded.orientation;
    loaded.damage = status == JpegLoad::kDamaged && decoded.damage == Damage::kNone
                        ? tools.Decoder().LastDamage()
                        : decoded.damage;
    return loaded;
}

std::string_view NoteFor(Damage damage) {
    switch (damage) {
        case Damage::kEndsEarly:
            return failure_reason::kDamagedEndsEarly;
        case Damage::kCorrupt:
            return failure_reason::kDamagedCorrupt;
        case Damage::kNone:
            break;
    }
    return {};
}

void PostThumbnail(ProgressSink& sink, std::int64_t number, GdkPixbuf* image) {
    if (PixbufPtr thumbnail = CutThumbnail(image)) {
        ProgressEvent event;
        event.kind = ProgressKind::kThumbnail;
        event.fileNumber = number;
        event.thumbnail = std::move(thumbnail);
        sink.Post(std::move(event));
    }
}

// Everything between the file's "[Loading]" and its final status.
FileReport ConvertPicture(const ConversionJob& job, const std::string& path,
                          const std::string& name, std::int64_t number, ConversionTools& tools,
                          const SharedGradientTable& gradient, const std::atomic<bool>& stop,
                          ProgressSink& sink, BudgetHold& hold) {
    if (!tools.Valid()) {
        return Failed(failure_reason::kNoCodec);
    }
    // Opened once: the loaders and the decoder read this descriptor only.
    const InputFile input = OpenInputFile(path);
    if (!input.Opened()) {
        return Failed(failure_reason::ForInput(input.problem));
    }
    LoadedPicture loaded = LoadAnyPicture(job, input, name, tools, stop, hold);
    if (loaded.ended) {
        // More memory than any limit leaves: a failure, not a cancel.
        return hold.Refused() ? Failed(failure_reason::kOutOfMemory) : *loaded.ended;
    }
    // One copy per image: a rebuild during the batch reaches the next
    // image, never a part of this one.
    gradient.Snapshot(tools.Table());
    ToneMapImage(loaded.image.get(), tools.Table());
    PostThumbnail(sink, number, loaded.image.get());
    if (stop.load()) {
        return kCancelled;  // stopped after the mapping: left unwritten
    }
    PostFileEvent(sink, ProgressKind::kSaving, number, name);
    const std::string candidate = OutputCandidate(job.outputFolder, name);
    std::string_view problem = failure_reason::kNotWritten;
    const bool written =
        loaded.format == OutputFormat::kJpeg
            ? WriteJpegOutput(tools.Encoder(), loaded.image.get(), candidate, job.quality,
                              loaded.orientation, nullptr, &problem)
            : WritePngOutput(tools.PngEncoder(), loaded.image.get(), candidate, nullptr, &problem);
    // A failed write is a failure even when stop arrived meanwhile. A
    // damaged picture is written, and said to be damaged.
    return written ? FileReport{FileOutcome::kWritten, NoteFor(loaded.damage)} : Failed(problem);
}

// One try at the file, with a share of the budget of its own or, alone,
// with all of it.
FileReport TryFile(const ConversionJob& job, const std::string& path, const std::string& name,
                   std::int64_t number, ConversionTools& tools, const SharedGradientTable& gradient,
                   const std::atomic<bool>& stop, ProgressSink& sink, MemoryBudget* budget,
                   bool alone) {
    try {
        BudgetHold hold(budget, stop, alone);
        return ConvertPicture(job, path, name, number, tools, gradient, stop, sink, hold);
    } catch (const std::bad_alloc&) {
        return Failed(failure_reason::kOutOfMemory);
    }
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
        report = TryFile(job, path, name, number, tools, gradient, stop, sink, budget, false);
        // Out of memory while others held some: once more when they hold none.
        if (report.reason == failure_reason::kOutOfMemory && budget != nullptr &&
            budget->InUse() > 0 && !stop.load()) {
            tools.TrimKept(true);
            report = TryFile(job, path, name, number, tools, gradient, stop, sink, budget, true);
        }
        tools.TrimKept(tools.KeepsNothing());
    }
    switch (report.outcome) {
        case FileOutcome::kWritten:
            PostFileEvent(sink, ProgressKind::kDone, number, name, report.reason);
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
