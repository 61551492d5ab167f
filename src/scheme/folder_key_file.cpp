#include "scheme/folder_key_file.h"

#include <glib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/path_parts.h"
#include "scheme/store_file.h"

namespace corvanta {
namespace {

constexpr const char* kGroup = "Output";
constexpr const char* kFolderKey = "Folder";
// A remembered folder takes a few hundred bytes; anything longer is no
// file of ours and is read no further.
constexpr std::size_t kMaxKeyFileSize = 64 * 1024;

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

// The key file at path as far as it can be read; an empty one otherwise.
// failed tells a file that exists but cannot be read or parsed.
KeyFilePtr LoadKeyFile(const std::string& path, bool* failed) {
    KeyFilePtr file(g_key_file_new());
    std::vector<std::uint8_t> bytes(kMaxKeyFileSize);
    const store_file::ReadResult read = store_file::ReadStart(path, bytes.data(), bytes.size());
    *failed = read.kind == store_file::ReadResult::Kind::kFailed || read.length == kMaxKeyFileSize;
    if (read.kind == store_file::ReadResult::Kind::kRead && read.length > 0 && !*failed) {
        const auto* text = reinterpret_cast<const gchar*>(bytes.data());
        if (!g_key_file_load_from_data(file.get(), text, read.length, G_KEY_FILE_KEEP_COMMENTS,
                                       nullptr)) {
            *failed = true;
        }
    }
    return file;
}

}  // namespace

std::string FolderKeyFilePath(const std::string& storePath) {
    return FolderOf(store_file::FollowLinks(storePath)) + "/" + kFolderKeyFileName;
}

std::optional<std::string> ReadRememberedFolder(const std::string& path) {
    bool failed = false;
    const KeyFilePtr file = LoadKeyFile(path, &failed);
    gchar* folder = g_key_file_get_string(file.get(), kGroup, kFolderKey, nullptr);
    if (folder == nullptr) {
        return std::nullopt;
    }
    std::string text = folder;
    g_free(folder);
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

std::string WriteRememberedFolder(const std::string& path, const std::string& folder) {
    const std::string target = store_file::FollowLinks(path);
    bool failed = false;
    const KeyFilePtr file = LoadKeyFile(target, &failed);
    if (failed) {
        // Another program's file, or one this run cannot see whole: what it
        // holds is not ours to lose.
        return target + " cannot be read";
    }
    g_key_file_set_string(file.get(), kGroup, kFolderKey, folder.c_str());
    gsize length = 0;
    gchar* text = g_key_file_to_data(file.get(), &length, nullptr);
    if (text == nullptr) {
        return target + " cannot be written";
    }
    std::string problem =
        store_file::Replace(target, reinterpret_cast<const std::uint8_t*>(text), length);
    g_free(text);
    return problem;
}

}  // namespace corvanta
