#include "server/login_guard.h"

#include <algorithm>

namespace shenbao {

std::chrono::seconds LoginGuard::locked_for(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::chrono::seconds(0);
  const auto now = Clock::now();
  if (it->second.locked_until <= now) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(it->second.locked_until - now);
}

LoginGuard::Failure LoginGuard::failed(const std::string& key) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  if (entries_.size() >= options_.max_entries && !entries_.count(key)) forget_old(now);
  Entry& entry = entries_[key];
  // A lock that has run out starts a fresh count.
  if (entry.locked_until != Clock::time_point{} && entry.locked_until <= now) entry = Entry{};
  ++entry.failures;
  entry.last_failure = now;
  Failure failure;
  failure.delay = std::min(options_.max_delay, options_.step * entry.failures);
  if (entry.failures >= options_.max_failures) {
    entry.locked_until = now + options_.lock_time;
    failure.locked = entry.failures == options_.max_failures;
  }
  return failure;
}

void LoginGuard::succeeded(const std::string& key) {
  std::lock_guard lock(mutex_);
  entries_.erase(key);
}

void LoginGuard::forget_old(Clock::time_point now) {
  // First whatever is neither locked nor recent, then the oldest failures.
  std::erase_if(entries_, [&](const auto& e) {
    return e.second.locked_until <= now && now - e.second.last_failure > options_.lock_time;
  });
  while (entries_.size() >= options_.max_entries) {
    auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
      return a.second.last_failure < b.second.last_failure;
    });
    entries_.erase(oldest);
  }
}

}  // namespace shenbao
