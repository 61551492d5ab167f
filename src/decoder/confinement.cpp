#include "decoder/confinement.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <glib.h>

#include "decoder/confinement_inside.h"

extern char** environ;

namespace corvanta::decoder {
namespace {

// The folders that stay readable: every folder name a rule of its own,
// none inside another.
std::vector<std::string>& Readable() {
    static std::vector<std::string> folders;
    return folders;
}

bool Inside(const std::string& folder, const std::string& parent) {
    return folder.size() > parent.size() && folder.compare(0, parent.size(), parent) == 0 &&
           (parent.back() == '/' || folder[parent.size()] == '/');
}

void AddAll(FcStrList* list, std::vector<std::string>& folders) {
    if (list == nullptr) {
        return;
    }
    while (FcChar8* folder = FcStrListNext(list)) {
        folders.emplace_back(reinterpret_cast<const char*>(folder));
    }
    FcStrListDone(list);
}

// Fonts, their configuration and caches as fontconfig found them, and the
// MIME database of every system data folder.
std::vector<std::string> CollectReadable() {
    std::vector<std::string> folders = {kSystemFolder};
    FcConfig* config = FcConfigGetCurrent();
    AddAll(FcConfigGetFontDirs(config), folders);
    AddAll(FcConfigGetCacheDirs(config), folders);
    AddAll(FcConfigGetConfigDirs(config), folders);
    if (FcChar8* file = FcConfigFilename(nullptr)) {
        gchar* folder = g_path_get_dirname(reinterpret_cast<const char*>(file));
        folders.emplace_back(folder);
        g_free(folder);
        FcStrFree(file);
    }
    for (const gchar* const* data = g_get_system_data_dirs(); *data != nullptr; ++data) {
        folders.push_back(std::string(*data) + "/mime");
    }
    std::sort(folders.begin(), folders.end());
    std::vector<std::string> kept;
    for (std::string& folder : folders) {
        const bool covered = std::any_of(kept.begin(), kept.end(), [&](const std::string& k) {
            return k == folder || Inside(folder, k);
        });
        if (!folder.empty() && folder.front() == '/' && !covered) {
            kept.push_back(std::move(folder));
        }
    }
    return kept;
}

}  // namespace

bool DecoderKeeps(std::string_view variable) {
    constexpr std::array<std::string_view, 3> kPrefixes = {"LANG=", "LC_", "GDK_PIXBUF_MODULE"};
    return std::any_of(kPrefixes.begin(), kPrefixes.end(),
                       [&](std::string_view prefix) { return variable.rfind(prefix, 0) == 0; });
}

const std::vector<std::string>& ReadableFolders() {
    return Readable();
}

void PrepareConfinement() {
    FcInit();
    Readable() = CollectReadable();
    CompileSystemCallFilter();
    std::vector<std::string> kept;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (DecoderKeeps(*e)) {
            kept.emplace_back(*e);
        }
    }
    clearenv();
    for (const std::string& variable : kept) {
        const std::size_t equals = variable.find('=');
        setenv(variable.substr(0, equals).c_str(), variable.c_str() + equals + 1, 1);
    }
}

Protections AvailableProtections() {
    Protections protections;
    protections.systemCallFilter = SystemCallFilterAvailable();
    protections.landlockAbi = LandlockAbi();
    return protections;
}

std::string DescribeProtections(const Protections& protections) {
    std::string text = "decoder confinement: system-call filter ";
    text += protections.systemCallFilter ? "on" : "off (the kernel has no seccomp)";
    text += "; file-system rules ";
    if (protections.landlockAbi > 0) {
        text += "on (Landlock ABI " + std::to_string(protections.landlockAbi) + ")";
    } else {
        text += "off (the kernel has no Landlock: a decoder may open any file you can read)";
    }
    return text + "; clean environment, no core dumps";
}

}  // namespace corvanta::decoder
