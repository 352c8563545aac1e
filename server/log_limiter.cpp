#include "server/log_limiter.h"

namespace shenbao {

std::string grouped(size_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

void LogLimiter::report(const Entry& entry, Clock::time_point now) {
  if (entry.repeats == 0) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - entry.since).count();
  Line line = entry.first;
  line.detail += " (repeated " + grouped(entry.repeats) + " times in " + std::to_string(std::max<long long>(1, seconds)) + " s)";
  emit_(line);
}

void LogLimiter::add(Line line) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  // Once a second at most, the intervals that have passed are reported.
  if (now - last_flush_ >= std::chrono::seconds(1)) flush_locked(now, false);
  std::string key = line.user + '\n' + line.address + '\n' + line.event;
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    ++it->second.repeats;
    return;
  }
  if (entries_.size() >= options_.max_keys) {
    if (overflow_ == 0) overflow_since_ = now;
    ++overflow_;
    return;
  }
  emit_(line);
  entries_.emplace(std::move(key), Entry{std::move(line), now, 0});
}

void LogLimiter::flush(bool all) {
  std::lock_guard lock(mutex_);
  flush_locked(Clock::now(), all);
}

void LogLimiter::flush_locked(Clock::time_point now, bool all) {
  last_flush_ = now;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (all || now - it->second.since >= options_.interval) {
      report(it->second, now);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  if (overflow_ > 0 && (all || now - overflow_since_ >= options_.interval)) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - overflow_since_).count();
    emit_({"-", "-", "-", "refused", "further refusals from too many sources to tell apart: " + grouped(overflow_) +
                                         " in " + std::to_string(std::max<long long>(1, seconds)) + " s"});
    overflow_ = 0;
  }
}

}  // namespace shenbao
