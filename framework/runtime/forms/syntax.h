#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shenbao {

// One `name=value` inside a statement. `quoted` keeps whether the value was written in double
// quotes, so that printing gives back what was read.
struct Property {
  std::string name;
  std::string value;
  bool quoted = false;
};

// One `kind(name=value ...)` statement of the form syntax (see forms/README.md).
struct Statement {
  std::string kind;
  std::vector<Property> properties;
  int line = 0;  // 1-based line where the statement starts in the text read; 0 when built in code

  const Property* find(std::string_view name) const;
  // The property's value, or `fallback` when the statement does not have it.
  std::string get(std::string_view name, std::string_view fallback = {}) const;
  void set(std::string_view name, std::string value, bool quoted);
};

// Reads a text of statements. Answers an error text ("line 3: ...") and no statements for
// malformed input; never throws.
std::vector<Statement> parse_statements(std::string_view text, std::string& error);
// Prints statements one per line, in the syntax parse_statements reads.
std::string print_statements(const std::vector<Statement>& statements);
// Quotes a value for the syntax when it needs quotes: "a \"b\"".
std::string quote_value(std::string_view value);
// True when `value` cannot be written bare (empty, blanks, quotes, unbalanced parentheses). A
// bare value has no escapes, so a backslash in it is just a backslash.
bool value_needs_quotes(std::string_view value);

// Pieces of the syntax for readers of other texts made of statements and values (modify).
// Each reads at `pos` (blanks before it are skipped), advances `pos` past what it read and
// answers false / nothing with an error text when the text there is malformed.
std::optional<Statement> read_statement(std::string_view text, size_t& pos, std::string& error);
bool read_value(std::string_view text, size_t& pos, Property& out, std::string& error);
// A kind or property name: letters, digits, '_' and '.', not starting with a digit or '.'.
std::string read_name(std::string_view text, size_t& pos);
bool is_blank(char c);

}  // namespace shenbao
