#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace shenbao {

// The server's log of logins, failed logins, refusals and acceptance clicks: one line each,
//
//   2026-12-10T08:15:02Z clerk001 001 192.0.2.7 refused click pb_approve: acceptance is the authority's
//
// fields "time user unit address event detail", the time in UTC. User, unit, address and
// event are single words ("-" when empty; blanks and control characters become "_"); the
// detail is one line, cut at 400 bytes. Passwords are never passed in, nor names that are not
// users' (they are logged as "(unknown)"). Thread-safe; every line is flushed.
class AuditLog {
 public:
  AuditLog() = default;
  ~AuditLog();
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  // Appends to the file at `path`; stderr when `path` is empty. False with `error` when the
  // file cannot be opened.
  bool open(const std::string& path, std::string& error);
  void write(std::string_view user, std::string_view unit, std::string_view address, std::string_view event,
             std::string_view detail);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

// A text made fit for one word of a log line: printable, no blanks, at most `limit` bytes.
std::string log_word(std::string_view text, size_t limit = 40);

}  // namespace shenbao
