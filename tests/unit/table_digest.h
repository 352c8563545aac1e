#pragma once
// The whole database as text, to compare it before and after something that must not change
// it, or must change it only so.

#include <map>
#include <string>
#include <vector>

#include "framework/runtime/sql/transaction.h"

namespace shenbao::testing {

// Every table's rows as the database answers them, by table name.
struct Table {
  std::vector<std::string> columns;  // known when there are rows
  std::vector<std::vector<Value>> rows;
};
using Tables = std::map<std::string, Table>;
Tables read_tables(Transaction& sqlca);

// Every table's rows, sorted, each as the text "column=value ..." of its non-null cells; by
// table name.
using Digest = std::map<std::string, std::vector<std::string>>;
Digest digest_of(const Tables& tables);
Digest take_digest(Transaction& sqlca);

}  // namespace shenbao::testing
