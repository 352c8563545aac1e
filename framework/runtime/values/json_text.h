#pragma once

#include <string>
#include <string_view>

namespace shenbao {

// Appends `text` as a JSON string: quotes, backslashes and control characters escaped, and
// every byte that is not part of well-formed UTF-8 replaced by U+FFFD, as the JSON library
// writes it when told to replace. Texts are written as they are otherwise (not as \u escapes).
void append_json_string(std::string& out, std::string_view text);

}  // namespace shenbao
