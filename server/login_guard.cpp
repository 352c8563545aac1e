#include "server/login_guard.h"

#include <sodium.h>

#include <algorithm>
#include <ctime>
#include <vector>

namespace shenbao {

std::chrono::milliseconds GrowingWait::begin(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    if (entries_.size() >= options_.max_entries) {
      // A key nobody has failed under yet needs no entry until it fails.
      return std::chrono::milliseconds(0);
    }
    it = entries_.emplace(key, Entry{}).first;
  }
  Entry& entry = it->second;
  const auto now = Clock::now();
  if (entry.next_check > now) return std::chrono::ceil<std::chrono::milliseconds>(entry.next_check - now);
  // Once the free failures are spent, one attempt at a time: the next failure starts a wait.
  if (entry.checking > 0 && entry.failures >= options_.free_failures) return options_.step;
  ++entry.checking;
  return std::chrono::milliseconds(0);
}

void GrowingWait::done(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  if (it->second.checking > 0) --it->second.checking;
  if (it->second.checking == 0 && it->second.failures == 0) entries_.erase(it);
}

std::chrono::milliseconds GrowingWait::failed(const std::string& key) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  if (entries_.size() >= options_.max_entries && !entries_.count(key)) {
    std::erase_if(entries_, [&](const auto& e) {
      return e.second.checking == 0 && now - e.second.last_failure > options_.forget_after;
    });
    while (entries_.size() >= options_.max_entries) {
      auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.last_failure < b.second.last_failure;
      });
      entries_.erase(oldest);
    }
  }
  Entry& entry = entries_[key];
  if (entry.checking > 0) --entry.checking;
  if (entry.failures > 0 && now - entry.last_failure > options_.forget_after) entry.failures = 0;
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

void GrowingWait::clear(const std::string& key) {
  std::lock_guard lock(mutex_);
  entries_.erase(key);
}

namespace {

constexpr size_t kIdBytes = 16;
constexpr size_t kTimeBytes = 8;
constexpr size_t kPayloadBytes = kIdBytes + kTimeBytes;
constexpr size_t kTokenBytes = kPayloadBytes + crypto_auth_BYTES;

void sign(const unsigned char* key, const unsigned char* payload, std::string_view username, unsigned char* mac) {
  crypto_auth_hmacsha512256_state state;
  crypto_auth_hmacsha512256_init(&state, key, crypto_auth_KEYBYTES);
  crypto_auth_hmacsha512256_update(&state, payload, kPayloadBytes);
  crypto_auth_hmacsha512256_update(&state, reinterpret_cast<const unsigned char*>(username.data()), username.size());
  crypto_auth_hmacsha512256_final(&state, mac);
}

}  // namespace

static_assert(crypto_auth_KEYBYTES == 32 && crypto_auth_BYTES == crypto_auth_hmacsha512256_BYTES);

DeviceTokens::DeviceTokens() { crypto_auth_keygen(key_); }

DeviceTokens::~DeviceTokens() { sodium_memzero(key_, sizeof key_); }

std::string DeviceTokens::issue(std::string_view username) const {
  unsigned char raw[kTokenBytes];
  randombytes_buf(raw, kIdBytes);
  uint64_t now = static_cast<uint64_t>(std::time(nullptr));
  for (size_t i = 0; i < kTimeBytes; ++i) raw[kIdBytes + i] = static_cast<unsigned char>(now >> (8 * (kTimeBytes - 1 - i)));
  sign(key_, raw, username, raw + kPayloadBytes);
  std::string out(sodium_base64_ENCODED_LEN(kTokenBytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING), '\0');
  sodium_bin2base64(out.data(), out.size(), raw, kTokenBytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

std::string DeviceTokens::id_of(std::string_view token, std::string_view username,
                                std::chrono::seconds lifetime) const {
  unsigned char raw[kTokenBytes];
  size_t length = 0;
  if (token.empty() || token.size() > 2 * kTokenBytes ||
      sodium_base642bin(raw, sizeof raw, token.data(), token.size(), nullptr, &length, nullptr,
                        sodium_base64_VARIANT_URLSAFE_NO_PADDING) != 0 ||
      length != kTokenBytes)
    return {};
  unsigned char mac[crypto_auth_BYTES];
  sign(key_, raw, username, mac);
  if (sodium_memcmp(mac, raw + kPayloadBytes, sizeof mac) != 0) return {};
  uint64_t issued = 0;
  for (size_t i = 0; i < kTimeBytes; ++i) issued = (issued << 8) | raw[kIdBytes + i];
  const auto now = static_cast<uint64_t>(std::time(nullptr));
  if (issued > now + 60 || now - std::min(now, issued) > static_cast<uint64_t>(lifetime.count())) return {};
  return std::string(reinterpret_cast<const char*>(raw), kIdBytes);
}

LoginThrottle::Attempt LoginThrottle::attempt(const std::string& username, const std::string& address,
                                              std::string_view token) {
  Attempt out;
  std::string device = tokens_.id_of(token, username, options_.device_lifetime);
  // A token that has failed too often is trusted no more, for a while.
  if (!device.empty() && devices_.begin(device).count() == 0) {
    out.device = std::move(device);
    return out;
  }
  out.wait = accounts_.begin(username);
  if (out.wait.count() > 0) return out;
  out.wait = addresses_.begin(address);
  if (out.wait.count() > 0) accounts_.done(username);
  return out;
}

std::chrono::milliseconds LoginThrottle::failed(const Attempt& attempt, const std::string& username,
                                                const std::string& address) {
  if (attempt.trusted()) {
    devices_.failed(attempt.device);
    return std::chrono::milliseconds(0);
  }
  const auto address_wait = addresses_.failed(address);
  return std::max(address_wait, accounts_.failed(username));
}

void LoginThrottle::succeeded(const Attempt& attempt, const std::string& username, const std::string& address) {
  if (attempt.trusted()) {
    devices_.done(attempt.device);
    devices_.clear(attempt.device);
    return;
  }
  accounts_.done(username);
  addresses_.done(address);
}

}  // namespace shenbao
