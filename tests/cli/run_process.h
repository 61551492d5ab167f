// Running the built corvanta-convert from a test and collecting what it says.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace corvanta::test {

struct ProcessResult {
    int exitCode = -1;   // when it exited normally
    int termSignal = 0;  // when a signal ended it
    std::string out;
    std::string err;
    std::vector<std::string> OutLines() const;
    std::vector<std::string> ErrLines() const;
};

// Runs corvanta-convert with args. onLine, when given, sees every complete
// line of its standard output as it arrives, with the child's pid (to send it
// a signal, say). A child that hangs is killed after timeoutSeconds. A
// wrapper (prlimit and its options, say) runs it in its place.
ProcessResult RunConvert(const std::vector<std::string>& args,
                         const std::function<void(const std::string&, pid_t)>& onLine = {},
                         int timeoutSeconds = 300, const std::vector<std::string>& wrapper = {});

}  // namespace corvanta::test
