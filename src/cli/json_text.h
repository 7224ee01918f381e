// The few pieces of JSON that run.json, the checkpoint and `evaluate
// --json` are made of.
#pragma once

#include <string>

namespace strellix::cli {

// A JSON string literal, quotes included. Bytes that are not valid UTF-8
// (file names may hold any) become U+FFFD, so the document stays valid.
std::string json_string(const std::string& text);

// A number as JSON has it; null when it is not finite (JSON has no NaN).
std::string json_number(double value);

}  // namespace strellix::cli
