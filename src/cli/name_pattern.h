// File names with one number in them, written the way printf writes an
// integer field: "gt%06d.png", "in%d.jpg", "bin%.6d.png". The pattern is
// split once so that no user text ever reaches printf.
#pragma once

#include <string>

namespace strellix::cli {

struct NamePattern {
  std::string before, after;  // the text around the field, "%%" already made "%"
  bool zero_pad = false;
  int width = 0;
  int precision = 0;
};

// False when `text` has no integer field, more than one, or a field other
// than %d with an optional 0 flag, width and precision.
bool parse_name_pattern(const std::string& text, NamePattern* pattern);

// The name of `number`, as printf would write it.
std::string format_name(const NamePattern& pattern, long long number);

// The number whose name is exactly `name` (no other spelling of it, such as
// another padding, matches); false when there is none.
bool number_of_name(const NamePattern& pattern, const std::string& name, long long* number);

}  // namespace strellix::cli
