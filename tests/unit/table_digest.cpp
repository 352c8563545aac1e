#include "tests/unit/table_digest.h"

#include <algorithm>

namespace shenbao::testing {

Tables read_tables(Transaction& sqlca) {
  std::vector<std::string> names;
  const char* list = sqlca.dialect() == Dialect::SQLite
                         ? "select name from sqlite_master where type = 'table'"
                         : "select table_name from information_schema.tables "
                           "where table_schema = current_schema() and table_type = 'BASE TABLE'";
  sqlca.query(list, {}, [&](const ResultRow& row) {
    names.push_back(row.get(0).to_string());
    return true;
  });
  Tables tables;
  for (const std::string& name : names) {
    Table& table = tables[name];
    const long rc = sqlca.query("select * from \"" + name + "\"", {}, [&](const ResultRow& row) {
      if (table.columns.empty()) {
        for (int c = 0; c < row.column_count(); ++c) table.columns.push_back(row.column_name(c));
      }
      std::vector<Value>& values = table.rows.emplace_back();
      for (int c = 0; c < row.column_count(); ++c) values.push_back(row.get(c));
      return true;
    });
    if (rc < 0) table.rows.assign(1, {Value("<unreadable: " + sqlca.sqlerrtext + ">")});
  }
  sqlca.rollback();
  return tables;
}

Digest digest_of(const Tables& tables) {
  Digest digest;
  for (const auto& [name, table] : tables) {
    std::vector<std::string>& rows = digest[name];
    for (const std::vector<Value>& values : table.rows) {
      std::string text;
      for (size_t c = 0; c < values.size(); ++c) {
        if (values[c].is_null()) continue;
        text += (text.empty() ? "" : " ") + (c < table.columns.size() ? table.columns[c] + "=" : "") +
                values[c].to_string();
      }
      rows.push_back(std::move(text));
    }
    std::sort(rows.begin(), rows.end());
  }
  return digest;
}

Digest take_digest(Transaction& sqlca) { return digest_of(read_tables(sqlca)); }

}  // namespace shenbao::testing
