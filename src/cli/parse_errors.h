// Messages for command lines that cannot be parsed: which option or value
// is wrong and, for a near miss, what was probably meant.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace strellix::cli {

// Prints help or version text (exit code 0) or the message for `error` on
// standard error (exit code 2, whatever code CLI11 would give); returns
// the exit code. `words` are the command line's, after the program's name:
// one mistake gets one message, not one more for each word it displaced.
int report_parse_error(CLI::App& app, const CLI::ParseError& error, const std::vector<std::string>& words);

// Of `names`, the one `given` is most likely a misspelling of: at most a
// third of its letters (at least 2) changed, added or dropped. "" when none
// is that close.
std::string nearest_name(const std::string& given, const std::vector<std::string>& names);

}  // namespace strellix::cli
