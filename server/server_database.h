#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "framework/runtime/sql/transaction.h"

namespace shenbao {

// A connection of the server's own to the database, for what every server of that database
// shares: login waits, the device-token key, the seats, the audit log's table.
//
//   ServerDatabase db;
//   if (!db.open(url, error)) ...
//   db.transact([&](Transaction& t) { return t.execute("…", {…}) == 0; });
//
// transact() runs its work in a transaction of its own and commits when the work answers
// true, else rolls back; on SQLite the transaction holds the write lock from its start, on
// PostgreSQL the work locks the rows it reads with `for update`. A connection that failed
// (the database restarted) is opened again at the next transact(). Thread-safe: one
// transaction at a time.
class ServerDatabase {
 public:
  bool open(const std::string& url, std::string& error);
  // False when the connection cannot be had, or the work or the commit failed.
  bool transact(const std::function<bool(Transaction&)>& work);
  // Runs `work` in a transaction that only reads (no write lock taken), then ends it.
  bool read(const std::function<bool(Transaction&)>& work);
  // The last failure's text, for the log.
  std::string last_error();
  bool postgres() const { return postgres_; }

 private:
  std::mutex mutex_;
  std::string url_;
  std::unique_ptr<Transaction> db_;
  std::string error_;
  bool postgres_ = false;
};

// Milliseconds since 1970 by the system clock: the time unit of the shared tables.
int64_t epoch_ms();

}  // namespace shenbao
