#include "server/audit_log.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

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

void AuditLog::write(std::string_view user, std::string_view unit, std::string_view address, std::string_view event,
                     std::string_view detail) {
  const std::time_t now = std::time(nullptr);
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
