#include "app/program_directory.h"

#include <array>

#include <limits.h>
#include <unistd.h>

namespace corvanta {

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return "./";
    }
    return path.substr(0, slash + 1);
}

std::string FindProgramDirectory(const char* argv0) {
    std::array<char, PATH_MAX> buffer{};
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    // A result that fills the buffer may have been cut: do not trust it.
    if (length > 0 && static_cast<std::size_t>(length) < buffer.size()) {
        return DirectoryOf(std::string(buffer.data(), static_cast<std::size_t>(length)));
    }
    return DirectoryOf(argv0 != nullptr ? argv0 : "");
}

}  // namespace corvanta
