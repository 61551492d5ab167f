// Running corvanta-convert once its command line is parsed.
#pragma once

#include <atomic>
#include <cstdio>

#include "cli/convert_options.h"

namespace corvanta {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// Carries out options (any action), printing file lines and the total time
// to out and problems with the command line to err. stop may be set at any
// time, from a signal handler too: the files in progress end as cancelled,
// the rest are left alone, and the result is kExitInterrupted.
int RunConvertCommand(const ConvertOptions& options, std::atomic<bool>& stop, std::FILE* out,
                      std::FILE* err);

// The text of the one-line usage error, as printed to err.
void PrintUsageError(std::FILE* err, const std::string& problem);

}  // namespace corvanta
