#pragma once

#include <cstdint>
#include <string>

#include "framework/runtime/sql/transaction.h"

namespace shenbao {

// Creating a database: the schema, the standard fixture or another one, and generated demo
// data.
//
//   auto sqlca = Transaction::open("sqlite:/tmp/x.db", error);
//   if (!create_database(*sqlca, true, "", error)) ...     // nothing was kept
//   if (!generate_demo_data(*sqlca, DemoOptions{}, error)) ...
//
// Each call runs in one transaction and commits it; on failure it rolls back, so that the
// database keeps nothing of it, and answers false with the database's reason in `error`.

// The db/ folder: $SHENBAO_DB_DIR when set, else db/ of the source tree.
std::string database_folder();

// True when the database already holds tables of its own (any table on SQLite, any table of
// the current schema on PostgreSQL). False with `error` set when it cannot be asked.
bool database_has_tables(Transaction& sqlca, bool& has_tables, std::string& error);

// Runs db/schema.sql, then, when `load_fixture`, the fixture: `fixture_path`, or
// db/fixture.sql when that is empty.
bool create_database(Transaction& sqlca, bool load_fixture, const std::string& fixture_path, std::string& error);

// The generated demo: `units` units numbered from `first_unit` ("003", "004", ...), each with
// master data, departments, `workers_per_unit` workers with names, 18-digit ID numbers,
// ranks, posts and statuses from the code tables, reward and training records, and a clerk
// `clerkNNN` with password `clerkNNNpass`; and the authority user `authority` /
// `authoritypass` unless one exists. Needs the code tables of the standard fixture. The same
// options always give the same rows (only the password hashes, salted, differ).
struct DemoOptions {
  int first_unit = 3;
  int units = 5;
  int workers_per_unit = 60;
  uint32_t seed = 20090615;
};
bool generate_demo_data(Transaction& sqlca, const DemoOptions& options, std::string& error);

// Whether an 18-digit ID number's last character is its check character (ISO 7064 MOD 11-2).
bool id_number_valid(std::string_view card_no);

}  // namespace shenbao
