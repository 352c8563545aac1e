#include "server/audit_log.h"

#include <ctime>

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

AuditLog::~AuditLog() {
  if (owned_ && file_) std::fclose(file_);
}

bool AuditLog::open(const std::string& path, std::string& error) {
  std::lock_guard lock(mutex_);
  if (owned_ && file_) std::fclose(file_);
  owned_ = false;
  file_ = nullptr;
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
  return true;
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
  std::FILE* out = file_ ? file_ : stderr;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

}  // namespace shenbao
