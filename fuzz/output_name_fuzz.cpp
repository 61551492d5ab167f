// Output names are made from input file names, which may hold any bytes but
// "/" and NUL. Whatever the name, the chosen path must stay inside the output
// folder and keep the wanted suffix or the accepted extension.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "batch/output_writer.h"

namespace {

const std::string& OutputFolder() {
    static const std::string folder = [] {
        std::string pattern = "/tmp/corvanta-fuzz-names-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern + "/";
    }();
    return folder;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) {
        return false;
    }
    for (std::size_t i = 0; i < end.size(); ++i) {
        char c = text[text.size() - end.size() + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != end[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool jpeg = (data[0] & 1) != 0;
    std::string name;
    for (std::size_t i = 1; i < size && name.size() < 255; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c != '/' && c != '\0') {
            name.push_back(c);
        }
    }
    const std::string& folder = OutputFolder();
    const auto path = corvanta::ResolveOutputPath(
        folder + name, jpeg ? corvanta::OutputFormat::kJpeg : corvanta::OutputFormat::kPng, 0);
    if (!path) {
        return 0;
    }
    if (path->compare(0, folder.size(), folder) != 0 ||
        path->find('/', folder.size()) != std::string::npos) {
        __builtin_trap();  // escaped the output folder
    }
    const bool extensionOk =
        jpeg ? (EndsWithIgnoringCase(*path, ".jpg") || EndsWithIgnoringCase(*path, ".jpeg"))
             : EndsWithIgnoringCase(*path, ".png");
    if (!extensionOk) {
        __builtin_trap();
    }
    return 0;
}
