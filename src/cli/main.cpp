// corvanta-convert: the batch conversion of the window, from the command line.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "cli/convert_options.h"
#include "common/program_directory.h"
#include "decoder/decoder_child.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

extern "C" void OnStopSignal(int signal) {
    g_stopSignal.store(signal);
    g_stop.store(true);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: a file being written when the
    // signal arrives is finished, never left half-written.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // a closed terminal, too
    // A closed pipe on stdout must not kill the process in the middle of
    // writing an output file; the lines are simply lost.
    signal(SIGPIPE, SIG_IGN);
    // A full disk or a file-size limit fails that one output (its write
    // returns EFBIG), and the batch goes on with the next file.
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    // A copy of the program with no corvanta-decode beside it serves as its
    // own decoder.
    if (corvanta::decoder::IsDecoderMode(argc, argv)) {
        return corvanta::decoder::RunDecoderMode(argc, argv);
    }
    corvanta::RememberProgramArgument(argc > 0 ? argv[0] : nullptr);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const corvanta::ParsedOptions parsed = corvanta::ParseConvertOptions(args);
    if (!parsed.options) {
        corvanta::PrintUsageError(stderr, parsed.error);
        return corvanta::kExitUsage;
    }
    InstallSignalHandlers();
    const int status = corvanta::RunConvertCommand(*parsed.options, g_stop, stdout, stderr);
    if (status == corvanta::kExitInterrupted && g_stopSignal.load() > 0) {
        return 128 + g_stopSignal.load();  // 130 for Ctrl+C, 143 for SIGTERM, 129 for SIGHUP
    }
    return status;
}
