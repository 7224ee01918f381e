// Numbers on the command line, read strictly: the whole value must be a
// decimal number within the option's range (no octal or hexadecimal
// readings, no trailing text, no "nan"), or the command is refused with a
// message that names the option, the value and the range.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "strellix/strellix.hpp"

namespace strellix::cli {

// The value of `text` for option `name`; throws CLI::ValidationError.
long long read_whole_number(const std::string& name, const std::string& text, long long least,
                            long long most);
double read_real_number(const std::string& name, const std::string& text, double least, double most);

// Options that store such a number; `names` as CLI11 takes them
// ("--layers", "-o,--output"). The default shown in --help is the value
// the target holds when the option is added.
CLI::Option* add_whole_number(CLI::App& app, const std::string& names, int& target, Range<int> range,
                              const std::string& help);
CLI::Option* add_whole_number(CLI::App& app, const std::string& names, std::optional<long long>& target,
                              long long least, long long most, const std::string& help);
CLI::Option* add_real_number(CLI::App& app, const std::string& names, double& target, Range<double> range,
                             const std::string& help);

}  // namespace strellix::cli
