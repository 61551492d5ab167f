#include "batch/display_name.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>

#include <glib.h>

namespace corvanta {
namespace {

constexpr gunichar kLineSeparator = 0x2028;
constexpr gunichar kParagraphSeparator = 0x2029;
// Bidirectional embeddings, overrides and isolates reorder the text around
// them: a name could make its own line read like another one.
constexpr gunichar kFirstBidiEmbedding = 0x202A;
constexpr gunichar kLastBidiEmbedding = 0x202E;
constexpr gunichar kFirstBidiIsolate = 0x2066;
constexpr gunichar kLastBidiIsolate = 0x2069;

bool NeedsEscape(gunichar c) {
    return g_unichar_iscntrl(c) || c == kLineSeparator || c == kParagraphSeparator ||
           (c >= kFirstBidiEmbedding && c <= kLastBidiEmbedding) ||
           (c >= kFirstBidiIsolate && c <= kLastBidiIsolate);
}

void AppendEscape(std::string& text, gunichar c) {
    switch (c) {
        case '\n':
            text += "\\n";
            return;
        case '\r':
            text += "\\r";
            return;
        case '\t':
            text += "\\t";
            return;
        default:
            break;
    }
    std::array<char, 16> code{};
    std::snprintf(code.data(), code.size(), c < 0x100 ? "\\x%02x" : "\\u%04x",
                  static_cast<unsigned>(c));
    text += code.data();
}

// The name part of path with its last `folders` folders in front.
std::string_view TrailingPart(std::string_view path, std::size_t folders) {
    std::size_t start = path.size();
    for (std::size_t i = 0; i <= folders; ++i) {
        const std::size_t slash = start == 0 ? std::string_view::npos : path.rfind('/', start - 1);
        if (slash == std::string_view::npos) {
            return path;
        }
        start = slash;
    }
    return path.substr(start + 1);
}

std::size_t FolderDepth(std::string_view path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

}  // namespace

std::string EscapedName(std::string_view name) {
    std::string text;
    text.reserve(name.size());
    const char* p = name.data();
    const char* const end = p + name.size();
    while (p < end) {
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2) || c == 0) {
            AppendEscape(text, static_cast<unsigned char>(*p));  // a stray byte
            ++p;
            continue;
        }
        const char* next = g_utf8_next_char(p);
        if (NeedsEscape(c)) {
            AppendEscape(text, c);
        } else {
            text.append(p, next);
        }
        p = next;
    }
    return text;
}

std::vector<std::string> DistinctLabels(const std::vector<std::string>& paths) {
    std::vector<std::string> labels(paths.size());
    std::map<std::string_view, std::vector<std::size_t>> byName;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        byName[TrailingPart(paths[i], 0)].push_back(i);
    }
    for (const auto& [name, group] : byName) {
        // One more folder for the whole group until every label differs; a
        // path that has run out of folders shows whole.
        std::size_t maxDepth = 0;
        for (const std::size_t i : group) {
            maxDepth = std::max(maxDepth, FolderDepth(paths[i]));
        }
        std::size_t folders = 0;
        for (; folders < maxDepth; ++folders) {
            std::map<std::string_view, int> seen;
            bool distinct = true;
            for (const std::size_t i : group) {
                distinct = ++seen[TrailingPart(paths[i], folders)] == 1 && distinct;
            }
            if (distinct) {
                break;
            }
        }
        for (const std::size_t i : group) {
            labels[i] = TrailingPart(paths[i], folders);
        }
    }
    return labels;
}

}  // namespace corvanta
