#include "cli/name_pattern.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace strellix::cli {

namespace {

// Reads the digits of a width or precision; bounded so that a hostile
// pattern cannot ask for a name of any length.
int read_count(const std::string& text, std::size_t& at) {
  int value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && value < 100)
    value = value * 10 + (text[at++] - '0');
  return value;
}

}  // namespace

bool parse_name_pattern(const std::string& text, NamePattern* pattern) {
  NamePattern result;
  bool seen_field = false;
  std::string* part = &result.before;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *part += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    }
    if (seen_field) return false;
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == '0') {
      result.zero_pad = true;
      ++j;
    }
    result.width = read_count(text, j);
    if (j < text.size() && text[j] == '.') {
      ++j;
      result.precision = read_count(text, j);
    }
    if (j >= text.size() || text[j] != 'd') return false;
    seen_field = true;
    part = &result.after;
    i = j;
  }
  if (!seen_field) return false;
  *pattern = result;
  return true;
}

std::string format_name(const NamePattern& pattern, long long number) {
  // The magnitude as unsigned: -LLONG_MIN does not fit a long long.
  const unsigned long long magnitude =
      number < 0 ? 0ULL - static_cast<unsigned long long>(number) : static_cast<unsigned long long>(number);
  std::string digits = std::to_string(magnitude);
  if (static_cast<int>(digits.size()) < pattern.precision)
    digits.insert(0, static_cast<std::size_t>(pattern.precision) - digits.size(), '0');
  std::string sign = number < 0 ? "-" : "";
  const int length = static_cast<int>(sign.size() + digits.size());
  if (length < pattern.width) {
    const std::size_t fill = static_cast<std::size_t>(pattern.width - length);
    // As printf: a precision turns the 0 flag off.
    if (pattern.zero_pad && pattern.precision == 0)
      digits.insert(0, fill, '0');
    else
      sign.insert(0, fill, ' ');
  }
  return pattern.before + sign + digits + pattern.after;
}

bool number_of_name(const NamePattern& pattern, const std::string& name, long long* number) {
  const std::size_t around = pattern.before.size() + pattern.after.size();
  if (name.size() <= around || name.compare(0, pattern.before.size(), pattern.before) != 0 ||
      name.compare(name.size() - pattern.after.size(), pattern.after.size(), pattern.after) != 0)
    return false;
  std::string field = name.substr(pattern.before.size(), name.size() - around);
  const std::size_t first = field.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  const std::string text = field.substr(first);
  if (!(std::isdigit(static_cast<unsigned char>(text[0])) || (text[0] == '-' && text.size() > 1)))
    return false;
  for (std::size_t k = 1; k < text.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  // Only the spelling the pattern gives that number.
  if (format_name(pattern, value) != name) return false;
  *number = value;
  return true;
}

}  // namespace strellix::cli
