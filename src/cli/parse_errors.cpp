#include "cli/parse_errors.h"

#include <algorithm>
#include <cstdio>

#include "cli/command_failure.h"

namespace strellix::cli {

namespace {

std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The subcommand being parsed when the error came, or the program itself.
CLI::App* failing_command(CLI::App& app) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  return chosen.empty() ? &app : chosen.back();
}

std::vector<std::string> option_names(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    for (const std::string& name : option->get_snames()) names.push_back("-" + name);
  }
  return names;
}

std::vector<std::string> subcommand_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands({})) names.push_back(sub->get_name());
  return names;
}

bool is_option(const std::string& word) {
  return word.size() > 1 && word[0] == '-';
}

// A flag ("--quiet") takes no value, so what follows a misspelling of it
// is not its value.
bool is_flag(CLI::App& command, const std::string& name) {
  const CLI::Option* option = name.empty() ? nullptr : command.get_option_no_throw(name);
  return option != nullptr && option->get_expected_max() == 0;
}

// The values given to unknown options ("--treshold 0.01": the word after
// an unknown option without "=", unless it is an option itself or the
// option meant is a flag). Each took the place of some argument, itself
// or one it pushed out of INPUT.
std::vector<std::string> values_of_unknown_options(CLI::App& command,
                                                   const std::vector<std::string>& leftovers,
                                                   const std::vector<std::string>& words) {
  std::vector<std::string> values;
  const std::vector<std::string> options = option_names(command);
  for (const std::string& word : leftovers) {
    if (!is_option(word) || word.find('=') != std::string::npos) continue;
    if (is_flag(command, nearest_name(word, options))) continue;
    for (std::size_t k = 0; k + 1 < words.size(); ++k)
      if (words[k] == word && !is_option(words[k + 1])) {
        values.push_back(words[k + 1]);
        break;
      }
  }
  return values;
}

// "unknown option --ennd (did you mean --end?)", one line for each mistake:
// after an unknown command the rest is that command's, and an argument
// that an unknown option's value displaced is not one more mistake.
std::string leftover_message(CLI::App& app, CLI::App& command, const std::vector<std::string>& words) {
  const std::vector<std::string> leftovers = command.remaining();
  std::vector<std::string> values = values_of_unknown_options(command, leftovers, words);
  std::vector<std::string> arguments;  // the unexpected ones, less what the values account for
  for (const std::string& word : leftovers)
    if (!is_option(word)) arguments.push_back(word);
  for (const std::string& value : values) {
    auto same = std::find(arguments.begin(), arguments.end(), value);
    if (same == arguments.end()) same = arguments.begin();
    if (same != arguments.end()) arguments.erase(same);
  }
  std::string message;
  const std::vector<std::string> options = option_names(command);
  for (const std::string& word : leftovers) {
    std::string line, guess;
    if (is_option(word)) {
      const std::string name = word.substr(0, word.find('='));
      line = "unknown option " + name;
      guess = nearest_name(name, options);
    } else if (&command == &app) {
      line = "unknown command " + word;
      guess = nearest_name(word, subcommand_names(app));
    } else {
      auto kept = std::find(arguments.begin(), arguments.end(), word);
      if (kept == arguments.end()) continue;
      arguments.erase(kept);
      line = "unexpected argument " + word;
    }
    if (!guess.empty()) line += " (did you mean " + guess + "?)";
    message += (message.empty() ? "" : "\n") + line;
    if (&command == &app && !is_option(word)) break;
  }
  return message;
}

}  // namespace

std::string nearest_name(const std::string& given, const std::vector<std::string>& names) {
  std::string best;
  std::size_t best_distance = std::max<std::size_t>(2, given.size() / 3) + 1;
  for (const std::string& name : names) {
    const std::size_t distance = edit_distance(given, name);
    if (distance < best_distance) {
      best_distance = distance;
      best = name;
    }
  }
  return best;
}

int report_parse_error(CLI::App& app, const CLI::ParseError& error, const std::vector<std::string>& words) {
  if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
  CLI::App& command = *failing_command(app);
  const bool leftovers =
      dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && !command.remaining().empty();
  const std::string message = leftovers ? leftover_message(app, command, words) : error.what();
  const std::string name = &command == &app ? "strellix" : "strellix " + command.get_name();
  std::string text;
  for (std::size_t at = 0; at <= message.size();) {
    const std::size_t end = std::min(message.find('\n', at), message.size());
    text += name + ": " + message.substr(at, end - at) + "\n";
    at = end + 1;
  }
  std::fprintf(stderr, "%sRun '%s --help' for the options.\n", text.c_str(), name.c_str());
  return EXIT_USAGE;
}

}  // namespace strellix::cli
