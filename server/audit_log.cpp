#include "server/audit_log.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "framework/runtime/values/value.h"

namespace shenbao {
namespace {

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 character.
std::string_view cut(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string one_line(std::string_view text, size_t limit) {
  std::string out;
  for (unsigned char c : cut(text, limit)) out.push_back(c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c));
  return out;
}

// `text` cut to at most `limit` characters of UTF-8: what a column of that length takes.
std::string_view cut_chars(std::string_view text, size_t limit) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars++ == limit) return text.substr(0, i);
  }
  return text;
}

// A field of the table: null where the file says "-".
Value field(std::string_view text, size_t limit) {
  if (text.empty() || text == "-") return Value();
  return Value(std::string(cut_chars(text, limit)));
}

}  // namespace

std::string log_word(std::string_view text, size_t limit) {
  if (text.empty()) return "-";
  std::string out;
  for (unsigned char c : cut(text, limit)) out.push_back(c <= 0x20 || c == 0x7F ? '_' : static_cast<char>(c));
  return out;
}

AuditLog::AuditLog() {
  limiter_ = std::make_unique<LogLimiter>(options_.limits, [this](const LogLimiter::Line& l) {
    write(l.user, l.unit, l.address, l.event, l.detail);
  });
}

AuditLog::~AuditLog() {
  limiter_->flush(true);
  if (owned_ && file_) std::fclose(file_);
}

bool AuditLog::open(const std::string& path, std::string& error, Options options) {
  limiter_->flush(true);
  std::lock_guard lock(mutex_);
  if (owned_ && file_) std::fclose(file_);
  owned_ = false;
  file_ = nullptr;
  path_ = path;
  options_ = options;
  limiter_ = std::make_unique<LogLimiter>(options_.limits, [this](const LogLimiter::Line& l) {
    write(l.user, l.unit, l.address, l.event, l.detail);
  });
  if (path.empty()) {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(path.c_str(), "a");
  if (!file_) {
    error = "cannot open the log file " + path;
    return false;
  }
  owned_ = true;
  std::fseek(file_, 0, SEEK_END);
  const long at = std::ftell(file_);
  bytes_ = at > 0 ? static_cast<size_t>(at) : 0;
  return true;
}

void AuditLog::limited(std::string_view user, std::string_view unit, std::string_view address, std::string_view event,
                       std::string_view detail) {
  limiter_->add({std::string(user), std::string(unit), std::string(address), std::string(event), std::string(detail)});
}

void AuditLog::flush(bool all) { limiter_->flush(all); }

void AuditLog::rotate() {
  // Regular files only: /dev/null and the like are never renamed.
  std::error_code ec;
  if (!owned_ || path_.empty() || !std::filesystem::is_regular_file(path_, ec)) {
    bytes_ = 0;
    return;
  }
  std::fclose(file_);
  file_ = nullptr;
  const auto numbered = [&](int n) { return path_ + "." + std::to_string(n); };
  if (options_.keep_files > 0) {
    std::remove(numbered(options_.keep_files).c_str());
    for (int n = options_.keep_files - 1; n >= 1; --n) std::rename(numbered(n).c_str(), numbered(n + 1).c_str());
    std::rename(path_.c_str(), numbered(1).c_str());
  } else {
    std::remove(path_.c_str());
  }
  file_ = std::fopen(path_.c_str(), "a");
  bytes_ = 0;
  if (!file_) owned_ = false;
}

void AuditLog::record_in(ServerDatabase& db, std::string server) {
  std::lock_guard lock(mutex_);
  db_ = &db;
  server_ = std::move(server);
}

void AuditLog::write(std::string_view user, std::string_view unit, std::string_view address, std::string_view event,
                     std::string_view detail) {
  const std::time_t now = std::time(nullptr);
  write_file(now, user, unit, address, event, detail);
  ServerDatabase* db = nullptr;
  std::string server;
  {
    std::lock_guard lock(mutex_);
    db = db_;
    server = server_;
  }
  if (!db) return;
  std::tm local{};
  localtime_r(&now, &local);
  const DateTime at = DateTime::from_civil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                           local.tm_min, local.tm_sec);
  const bool written = db->transact([&](Transaction& t) {
    return t.execute("insert into sb_audit_log (at, username, company_num, address, event, detail, server) "
                     "values (:at, :u, :c, :a, :e, :d, :s)",
                     {Value(at), field(user, 20), field(unit, 20), field(address, 64), field(event, 40),
                      field(one_line(detail, 400), 500), field(server, 64)}) == 0;
  });
  if (written) return;
  // Said once in a while, not for every line (the limiter may be the one writing this line).
  std::time_t said = table_error_said_.load();
  if (now - said >= 10 && table_error_said_.compare_exchange_strong(said, now))
    write_file(now, "-", "-", "-", "error", "cannot write the audit log's table (sb_audit_log): " + db->last_error());
}

void AuditLog::write_file(std::time_t now, std::string_view user, std::string_view unit, std::string_view address,
                          std::string_view event, std::string_view detail) {
  std::tm utc{};
  gmtime_r(&now, &utc);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string line = when;
  line += ' ';
  line += log_word(user);
  line += ' ';
  line += log_word(unit);
  line += ' ';
  line += log_word(address, 64);
  line += ' ';
  line += log_word(event);
  if (!detail.empty()) {
    line += ' ';
    line += one_line(detail, 400);
  }
  line += '\n';
  std::lock_guard lock(mutex_);
  if (owned_ && options_.max_bytes > 0 && bytes_ > 0 && bytes_ + line.size() > options_.max_bytes) rotate();
  std::FILE* out = file_ ? file_ : stderr;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
  bytes_ += line.size();
}

}  // namespace shenbao
