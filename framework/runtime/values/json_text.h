#pragma once

#include <string>
#include <string_view>

#include "framework/runtime/values/value.h"

namespace shenbao {

// Appends `text` as a JSON string: quotes, backslashes and control characters escaped, and
// every byte that is not part of well-formed UTF-8 replaced by U+FFFD, as the JSON library
// writes it when told to replace. Texts are written as they are otherwise (not as \u escapes).
void append_json_string(std::string& out, std::string_view text);

// Appends JSON text to a string, value by value: the caller opens and closes the objects and
// arrays (raw("{") ... raw("}")), and the writer puts the commas between their members.
class JsonTextWriter {
 public:
  explicit JsonTextWriter(std::string& out) : out_(out) {}
  // A member's name: `"name":`, after a comma unless it opens its object.
  JsonTextWriter& key(std::string_view name);
  // The comma before an array's element, unless it is the first.
  void separate();
  void text(std::string_view value) { append_json_string(out_, value); }
  void number(long long value);
  // A number as the JSON library writes a double: the shortest text that reads back as it,
  // with ".0" when it would read as an integer; null when it is not finite.
  void number(double value);
  void boolean(bool value) { out_ += value ? "true" : "false"; }
  void null() { out_ += "null"; }
  // A value as the browser takes it: null, a number, or its text.
  void value(const Value& value);
  void raw(std::string_view json) { out_ += json; }
  JsonTextWriter& member(std::string_view name, std::string_view value) { return key(name).text(value), *this; }
  JsonTextWriter& member(std::string_view name, long long value) { return key(name).number(value), *this; }
  JsonTextWriter& flag(std::string_view name, bool value) { return key(name).boolean(value), *this; }

 private:
  std::string& out_;
};

}  // namespace shenbao
