#include "batch/output_writer.h"

namespace corvanta {

// Placeholders until the writers land: every write fails.
JpegEncoder::JpegEncoder() : handle_(tjInitCompress()) {}
JpegEncoder::~JpegEncoder() {
    if (handle_ != nullptr) {
        tjDestroy(handle_);
    }
}

std::optional<std::string> ResolveOutputPath(const std::string&, OutputFormat) { return std::nullopt; }
bool WriteJpegOutput(JpegEncoder&, const GdkPixbuf*, const std::string&, int, std::uint8_t) { return false; }
bool WritePngOutput(const GdkPixbuf*, const std::string&) { return false; }

}  // namespace corvanta
