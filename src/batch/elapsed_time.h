// How a batch's duration is shown: "Total time : 00h 01m 05s".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvanta {

constexpr std::string_view kTotalTimePrefix = "Total time : ";

// Whole seconds of elapsedMs as a time of day, "HHh MMm SSs"; the hours wrap
// at 24. Negative durations show as 00h 00m 00s.
std::string FormatElapsedTime(std::int64_t elapsedMs);

// kTotalTimePrefix followed by FormatElapsedTime.
std::string TotalTimeLine(std::int64_t elapsedMs);

}  // namespace corvanta
