// The text of the help window.
#pragma once

namespace corvanta {

// Plain ASCII, lines separated by single line feeds, starting with two empty
// lines and ending without a line feed.
extern const char* const kHelpText;

}  // namespace corvanta
