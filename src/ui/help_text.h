// The text of the help window.
#pragma once

#include <string_view>

namespace corvanta {

// Plain ASCII, lines separated by single line feeds, starting with two empty
// lines and ending without a line feed.
extern const std::string_view kHelpText;

}  // namespace corvanta
