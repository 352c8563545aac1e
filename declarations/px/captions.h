#pragma once

#include <string>

namespace shenbao {

// A caption for a quoted property value of a modify text: in single quotes, or, when it holds
// an apostrophe itself, in double quotes with its quotes and backslashes escaped, so that a
// subject name the user typed can neither end the value early nor change what the rest of the
// text sets.
inline std::string quoted_caption(const std::string& text) {
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace shenbao
