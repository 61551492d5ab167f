// Both loaders on arbitrary file contents: each input is written to a
// temporary file, then loaded the way a batch does (JPEG in this process
// first, then the decoder process) with a small box and with no limit.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decoder/decoder_process.h"
#include "codecs/image_loader.h"
#include "decoder/input_file.h"

namespace {

const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/corvanta-fuzz-" +
               std::to_string(::getpid()) + ".img";
    }();
    return path;
}

void CheckImage(const corvanta::PixbufPtr& image, int maxWidth, int maxHeight) {
    if (!image) {
        return;
    }
    const int width = gdk_pixbuf_get_width(image.get());
    const int height = gdk_pixbuf_get_height(image.get());
    if (width < 1 || height < 1 || (maxWidth > 0 && width > maxWidth) ||
        (maxHeight > 0 && height > maxHeight)) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static corvanta::JpegDecoder decoder;
    const std::string& path = ScratchPath();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return 0;
    }
    const bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (!written) {
        return 0;
    }
    for (const auto& box : {std::pair{64, 48}, std::pair{0, 0}}) {
        std::uint8_t orientation = 0;
        const corvanta::InputFile input = corvanta::OpenInputFile(path);
        corvanta::PixbufPtr image = corvanta::LoadJpegScaled(decoder, input.fd.Get(), input.size,
                                                             box.first, box.second, &orientation);
        if (!image) {
            image = corvanta::DecodeInHelper(
                        {input.fd.Get(), input.size, "fuzz", box.first, box.second},
                        corvanta::DecoderSettings{})
                        .image;
        }
        CheckImage(image, box.first, box.second);
    }
    ::unlink(path.c_str());
    return 0;
}
