#pragma once

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "server/log_limiter.h"
#include "server/server_database.h"

namespace shenbao {

// The server's log of logins, failed logins, refusals and acceptance clicks: one line each,
//
//   2026-12-10T08:15:02Z clerk001 001 192.0.2.7 refused click pb_approve: acceptance is the authority's
//
// fields "time user unit address event detail", the time in UTC. User, unit, address and
// event are single words ("-" when empty; blanks and control characters become "_"); the
// detail is one line, cut at 400 bytes. Passwords are never passed in, nor names that are not
// users' (they are logged as "(unknown)"). Thread-safe; every line is flushed.
//
// What anyone can cause without end (refused requests, slowed logins) goes through limited():
// repeats of one source's event are counted and written as one line per interval
// (LogLimiter). What matters (logins, failed password checks, refusals of rights,
// acceptances, deletions) goes through write() and is never dropped. A log file that grows
// past `max_bytes` is renamed FILE.1 (FILE.1 becomes FILE.2, …; at most `keep_files` old
// files are kept) and a new one begun.
//
// With record_in(), every line is also a row of sb_audit_log (its time local, as the
// register's), which the authority reads in w_audit_log across every server of the database;
// a row that cannot be written is said in the file (counted like a refusal) and the line
// stays there.
class AuditLog {
 public:
  struct Options {
    size_t max_bytes = 20 * 1024 * 1024;
    int keep_files = 9;
    LogLimiter::Options limits;
  };
  AuditLog();
  ~AuditLog();
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  // Appends to the file at `path`; stderr when `path` is empty. False with `error` when the
  // file cannot be opened.
  bool open(const std::string& path, std::string& error, Options options);
  // Writes each line also into sb_audit_log through `db`, naming this server `server`.
  void record_in(ServerDatabase& db, std::string server);
  void write(std::string_view user, std::string_view unit, std::string_view address, std::string_view event,
             std::string_view detail);
  void limited(std::string_view user, std::string_view unit, std::string_view address, std::string_view event,
               std::string_view detail);
  // Writes the counts of limited lines whose interval has passed (all of them when `all`).
  void flush(bool all = false);

 private:
  void rotate();
  void write_file(std::time_t now, std::string_view user, std::string_view unit, std::string_view address,
                  std::string_view event, std::string_view detail);
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::string path_;
  Options options_;
  size_t bytes_ = 0;
  std::unique_ptr<LogLimiter> limiter_;
  ServerDatabase* db_ = nullptr;
  std::atomic<std::time_t> table_error_said_{0};
  std::string server_;
};

// A text made fit for one word of a log line: printable, no blanks, at most `limit` bytes.
std::string log_word(std::string_view text, size_t limit = 40);

}  // namespace shenbao
