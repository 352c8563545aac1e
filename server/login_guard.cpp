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

std::chrono::milliseconds AccountThrottle::wait_for(const std::string& account) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(account);
  if (it == entries_.end()) return std::chrono::milliseconds(0);
  const auto now = Clock::now();
  if (it->second.next_check <= now) return std::chrono::milliseconds(0);
  return std::chrono::ceil<std::chrono::milliseconds>(it->second.next_check - now);
}

std::chrono::milliseconds AccountThrottle::failed(const std::string& account) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  if (entries_.size() >= options_.max_entries && !entries_.count(account)) {
    std::erase_if(entries_, [&](const auto& e) { return now - e.second.last_failure > options_.forget_after; });
    while (entries_.size() >= options_.max_entries) {
      auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.last_failure < b.second.last_failure;
      });
      entries_.erase(oldest);
    }
  }
  Entry& entry = entries_[account];
  if (entry.failures > 0 && now - entry.last_failure > options_.forget_after) entry = Entry{};
  ++entry.failures;
  entry.last_failure = now;
  const int beyond = entry.failures - options_.free_failures;
  if (beyond <= 0) return std::chrono::milliseconds(0);
  // step × 2^(beyond-1), without overflowing on a long run of failures.
  std::chrono::milliseconds delay = options_.step;
  for (int i = 1; i < beyond && delay < options_.max_delay; ++i) delay *= 2;
  delay = std::min(delay, options_.max_delay);
  entry.next_check = now + delay;
  return delay;
}

void AccountThrottle::succeeded(const std::string& account) {
  std::lock_guard lock(mutex_);
  entries_.erase(account);
}

}  // namespace shenbao
