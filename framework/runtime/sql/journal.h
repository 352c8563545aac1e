#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/sql/transaction.h"

namespace shenbao {

// The journal of row changes: while a JournalScope is held on a connection, every row that a
// statement of that connection inserts, updates or deletes in a journaled table is recorded in
// the table sb_journal by the database or the connection itself, whatever statement wrote it:
//
//   sb_journal (pk_id, history_id, target, action, row_key, before_values, after_values, worker_code)
//
// `history_id` is the scope's (the step of a declaration that made the change), `target` the
// table written, `action` insert, update or delete, `row_key` a JSON object of the row's key
// columns (before the change), `before_values` / `after_values` JSON objects: of the changed
// columns for an update, of the whole row deleted or inserted. Values are as the database's
// JSON gives them (SQLite: a date-time as its stored text; PostgreSQL: "yyyy-mm-ddThh:mm:ss").
// `worker_code` is the row's own worker_code column (before the change), where it has one, so
// that one worker's changes are found by an index.
//
// SQLite records through the connection's pre-update hook (attach_journal on each connection),
// each statement's changes written as soon as it has run; PostgreSQL through statement triggers
// with transition tables (installed once in the database), which read the scope from the
// transaction's setting shenbao.journal.

// Once per database, after its schema: PostgreSQL's triggers on every table for which
// `journaled` answers true (replaced when present); nothing on SQLite. False, with sqlca's
// error, when it fails. Uncommitted: the caller commits.
bool install_journal(Transaction& sqlca, const std::function<bool(std::string_view table)>& journaled);
// Once per connection: SQLite's recorder of the connection's changes to those tables (tables made
// later are not watched); nothing on PostgreSQL. False, with sqlca's error, when it fails.
bool attach_journal(Transaction& sqlca, const std::function<bool(std::string_view table)>& journaled);

// One journalled change, as sb_journal holds it.
struct JournalRow {
  long long id = 0;
  std::string target;  // the table written
  std::string action;  // insert, update or delete
  std::string key;     // JSON objects
  std::string before;
  std::string after;
};

// The changes journalled under `history_id`, in the order they were made.
std::vector<JournalRow> journal_rows(Transaction& sqlca, long long history_id);
// Whether the row is as the change left it: an updated row holds the values written, an
// inserted row is there with them, a deleted row is still gone. False also when it cannot be
// read.
bool still_as_written(Transaction& sqlca, const JournalRow& change);
// Undoes the change: writes the values before back, deletes the row inserted, inserts the row
// deleted. False, with sqlca's error, when it fails.
bool undo(Transaction& sqlca, const JournalRow& change);

// Records the connection's changes under `history_id` until it ends, within the transaction
// already begun.
class JournalScope {
 public:
  JournalScope(Transaction& sqlca, long long history_id);
  ~JournalScope();
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;
  // Whether the scope could be set; when not, sqlca holds the error.
  bool ok() const { return ok_; }

 private:
  Transaction* sqlca_;
  bool ok_ = false;
  bool attached_ = true;
};

}  // namespace shenbao
