// How a file name is shown to the user, in the command's lines and in the
// window's log alike: on one line, as valid UTF-8, with nothing in it that a
// terminal would act on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

// name with every control character and line or paragraph break escaped
// (\n, \t, \r, \x1b, \u2028 ...) and every byte that is not UTF-8 shown as
// \xNN. Other text, backslashes included, is kept as it is.
std::string EscapedName(std::string_view name);

// One label per path for the lines of one run: the name part, or when other
// paths of the run share that name, as many trailing folders as it takes to
// tell them apart (the whole path for exact duplicates). Not escaped.
std::vector<std::string> DistinctLabels(const std::vector<std::string>& paths);

}  // namespace corvanta
