#include "cli/number_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace strellix::cli {

namespace {

// The long name of an option, for messages ("--layers" of "-n,--layers").
std::string long_name(const std::string& names) {
  const std::size_t at = names.find("--");
  if (at == std::string::npos) return names;
  return names.substr(at, names.find(',', at) - at);
}

std::string shown(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

[[noreturn]] void refuse(const std::string& name, const std::string& text, const std::string& wanted) {
  throw CLI::ValidationError(name, "needs " + wanted + ", not \"" + text + "\"");
}

}  // namespace

long long read_whole_number(const std::string& name, const std::string& text, long long least,
                            long long most) {
  const std::string wanted = "a whole number from " + std::to_string(least) + " to " + std::to_string(most);
  const bool digits_follow = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) ||
                                               ((text[0] == '-' || text[0] == '+') && text.size() > 1 &&
                                                std::isdigit(static_cast<unsigned char>(text[1]))));
  if (!digits_follow) refuse(name, text, wanted);
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < least || value > most) refuse(name, text, wanted);
  return value;
}

double read_real_number(const std::string& name, const std::string& text, double least, double most) {
  const std::string wanted = "a number from " + shown(least) + " to " + shown(most);
  errno = 0;
  char* end = nullptr;
  const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
  // Spaces would be skipped by strtod; "nan" and "inf" are no rate or
  // threshold.
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || errno == ERANGE || *end != '\0' ||
      !std::isfinite(value) || value < least || value > most)
    refuse(name, text, wanted);
  return value;
}

CLI::Option* add_whole_number(CLI::App& app, const std::string& names, int& target, Range<int> range,
                              const std::string& help) {
  const std::string name = long_name(names);
  const long long least = range.least, most = range.most;
  return app
      .add_option_function<std::string>(
          names,
          [&target, name, least, most](const std::string& text) {
            target = static_cast<int>(read_whole_number(name, text, least, most));
          },
          help)
      ->type_name("INT")
      ->default_str(std::to_string(target));
}

CLI::Option* add_whole_number(CLI::App& app, const std::string& names, std::optional<long long>& target,
                              long long least, long long most, const std::string& help) {
  const std::string name = long_name(names);
  return app
      .add_option_function<std::string>(
          names,
          [&target, name, least, most](const std::string& text) {
            target = read_whole_number(name, text, least, most);
          },
          help)
      ->type_name("INT");
}

CLI::Option* add_real_number(CLI::App& app, const std::string& names, double& target, Range<double> range,
                             const std::string& help) {
  const std::string name = long_name(names);
  const double least = range.least, most = range.most;
  return app
      .add_option_function<std::string>(
          names,
          [&target, name, least, most](const std::string& text) {
            target = read_real_number(name, text, least, most);
          },
          help)
      ->type_name("NUMBER")
      ->default_str(shown(target));
}

}  // namespace strellix::cli
