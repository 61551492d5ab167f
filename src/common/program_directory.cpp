#include "common/program_directory.h"

#include <glib.h>
#include <unistd.h>

#include <vector>

namespace corvanta {

std::string DirectoryPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return "./";
    }
    return path.substr(0, slash + 1);
}

std::string FindProgramDirectory(const char* firstArgument) {
    // readlink does not say how long the target is, so grow until it fits.
    std::vector<char> buffer(4096);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            break;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return DirectoryPart(std::string(buffer.data(), static_cast<std::size_t>(length)));
        }
        buffer.resize(buffer.size() * 4);
    }
    return DirectoryPart(firstArgument != nullptr ? firstArgument : "");
}

std::string UserConfigDirectory() {
    const char* configured = g_getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && g_path_is_absolute(configured)) {
        return configured;
    }
    const char* home = g_getenv("HOME");
    if (home == nullptr || !g_path_is_absolute(home)) {
        home = g_get_home_dir();  // the password database's entry
    }
    return std::string(home) + "/.config";
}

}  // namespace corvanta
