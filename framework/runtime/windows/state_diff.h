#pragma once

#include <nlohmann/json.hpp>

namespace shenbao {

// What changed from one state document to the next, as a list of operations that turn the
// old document into the new one when applied in order:
//   {"p": [key or index...], "v": value}  puts value there (an index one past an array's
//                                           end appends)
//   {"p": [...], "n": length}              cuts the array there to length
//   {"p": [...], "d": 1}                   removes the key there
//   {"p": [...], "i": i, "r": r, "a": [...]}  replaces r elements from index i of the array
//                                           there by those of "a" (the client state's
//                                           changes use it for a list that shifted)
// Objects are compared key by key and arrays element by element; a part is replaced whole
// when that is shorter than the operations for its changes. With `at`, the two documents are
// the part at that path of a larger one, and the operations' paths start there.
nlohmann::json state_changes(const nlohmann::json& from, const nlohmann::json& to,
                             const nlohmann::json& at = nlohmann::json::array());

// Applies state_changes' operations to `document` (what the browser does).
void apply_state_changes(nlohmann::json& document, const nlohmann::json& changes);

}  // namespace shenbao
