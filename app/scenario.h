#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/windows/session.h"

namespace shenbao {

// Splits one line of a scenario file into words. Words are separated by blanks (spaces and
// tabs); a word in double quotes may hold blanks and the escapes \" \\ \r \n \t, and `""` is
// the empty word. Answers false with `error` for an unterminated quote, an unknown escape, or
// a quote that starts or ends inside a word (`ab"c"`, `"ab"c`).
bool split_words(std::string_view line, std::vector<std::string>& words, std::string& error);

// Where a scenario file runs: a database that already holds the schema and the fixture, the
// windows a session may open, and a folder for its print jobs.
struct ScenarioSetup {
  std::string database_url;
  const WindowRegistry* registry = nullptr;
  std::string print_folder;
};

// How a scenario file ended: passed, or failed at `line` (0: before any line) with a message
// of the form "expected … got …".
struct ScenarioOutcome {
  bool passed = true;
  int line = 0;
  std::string message;
};

// Runs the text of one scenario file, line by line, until its first failure. Each file gets a
// session of its own (started at the first command that needs one, with the user of `unit`)
// and a second connection to the same database for `sql` and `expect query`.
ScenarioOutcome run_scenario(std::string_view text, const ScenarioSetup& setup);

}  // namespace shenbao
