#pragma once

#include <string_view>

namespace shenbao {

// The register's tables and columns in the words of its users, for lists of what changed in
// the register. Empty for a table or column the register does not name.
std::string_view register_table_caption(std::string_view table);
std::string_view register_column_caption(std::string_view table, std::string_view column);

}  // namespace shenbao
