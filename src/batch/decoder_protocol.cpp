#include "batch/decoder_protocol.h"

#include <charconv>
#include <string_view>

namespace corvanta::decoder {
namespace {

constexpr int kRowAlignment = 4;
constexpr int kRgbChannels = 3;
constexpr int kRgbaChannels = 4;
constexpr int kRequestFields = 7;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::int64_t RowBytes(std::int32_t width, bool hasAlpha) {
    const std::int64_t bytes = std::int64_t{width} * (hasAlpha ? kRgbaChannels : kRgbChannels);
    return (bytes + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
}

std::vector<std::string> RequestArguments(const Request& request) {
    return {std::to_string(request.maxWidth),
            std::to_string(request.maxHeight),
            std::to_string(request.memoryBytes),
            std::to_string(request.cpuSeconds),
            std::to_string(request.tempFileBytes),
            std::to_string(request.parentPid),
            request.nameHint};
}

std::optional<Request> ParseRequest(int argc, char** argv) {
    if (argc != kRequestFields + 1) {
        return std::nullopt;
    }
    Request request;
    if (!ParseNumber(argv[1], request.maxWidth) || !ParseNumber(argv[2], request.maxHeight) ||
        !ParseNumber(argv[3], request.memoryBytes) || !ParseNumber(argv[4], request.cpuSeconds) ||
        !ParseNumber(argv[5], request.tempFileBytes) || !ParseNumber(argv[6], request.parentPid)) {
        return std::nullopt;
    }
    request.nameHint = argv[7];
    return request;
}

}  // namespace corvanta::decoder
