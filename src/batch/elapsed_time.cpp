#include "batch/elapsed_time.h"

#include <cstdio>

namespace corvanta {
namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kHoursPerDay = 24;

}  // namespace

std::string FormatElapsedTime(std::int64_t elapsedMs) {
    const std::int64_t seconds = elapsedMs > 0 ? elapsedMs / kMsPerSecond : 0;
    const int h = static_cast<int>((seconds / kSecondsPerHour) % kHoursPerDay);
    const int m = static_cast<int>((seconds % kSecondsPerHour) / kSecondsPerMinute);
    const int s = static_cast<int>(seconds % kSecondsPerMinute);
    char text[sizeof "00h 00m 00s"];
    std::snprintf(text, sizeof text, "%02dh %02dm %02ds", h, m, s);
    return text;
}

std::string TotalTimeLine(std::int64_t elapsedMs) {
    std::string line(kTotalTimePrefix);
    line += FormatElapsedTime(elapsedMs);
    return line;
}

}  // namespace corvanta
