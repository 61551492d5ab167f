#include "common/program_directory.h"

#include <glib.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/path_parts.h"

namespace corvanta {

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

namespace {

std::mutex g_argumentMutex;
std::string g_firstArgument;  // guarded by g_argumentMutex

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Where the shell found a bare program name.
std::string SearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders(path != nullptr ? path : "");
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return RealPath(candidate);
        }
    }
    return {};
}

}  // namespace

void RememberProgramArgument(const char* firstArgument) {
    const std::lock_guard lock(g_argumentMutex);
    g_firstArgument = firstArgument != nullptr ? firstArgument : "";
}

std::string RunningProgramPath() {
    std::string resolved = RealPath("/proc/self/exe");
    if (!resolved.empty()) {
        return resolved;
    }
    std::string argument;
    {
        const std::lock_guard lock(g_argumentMutex);
        argument = g_firstArgument;
    }
    if (argument.empty()) {
        return {};
    }
    return argument.find('/') != std::string::npos ? RealPath(argument) : SearchPath(argument);
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
