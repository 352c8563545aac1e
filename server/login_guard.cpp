#include "server/login_guard.h"

#include <sodium.h>

#include <algorithm>
#include <ctime>
#include <vector>

namespace shenbao {

namespace {

// How long an attempt being checked counts as such: longer than any password check takes.
constexpr int64_t kCheckingHoldsMs = 60 * 1000;

}  // namespace

bool GrowingWait::load(Transaction& t, const std::string& key, Entry& entry, bool lock_row) const {
  std::vector<Value> row(5);
  const std::string lock = lock_row && db_->postgres() ? " for update" : "";
  const long rc = t.select_into(
      "select failures, checking, checking_until, last_failure, next_check from sb_login_wait "
      "where kind = :k and wait_key = :key" + lock,
      {Value(kind_), Value(key)}, row);
  if (rc != 0) return false;
  entry.failures = static_cast<int>(row[0].as_long());
  entry.checking = static_cast<int>(row[1].as_long());
  entry.checking_until = row[2].as_long();
  entry.last_failure = row[3].as_long();
  entry.next_check = row[4].as_long();
  return true;
}

bool GrowingWait::store(Transaction& t, const std::string& key, const Entry& e) const {
  return t.execute(
             "insert into sb_login_wait (kind, wait_key, failures, checking, checking_until, last_failure, next_check) "
             "values (:k, :key, :f, :c, :cu, :lf, :nc) on conflict (kind, wait_key) do update set "
             "failures = excluded.failures, checking = excluded.checking, checking_until = excluded.checking_until, "
             "last_failure = excluded.last_failure, next_check = excluded.next_check",
             {Value(kind_), Value(key), Value(static_cast<long>(e.failures)), Value(static_cast<long>(e.checking)),
              Value(e.checking_until), Value(e.last_failure), Value(e.next_check)}) >= 0;
}

bool GrowingWait::erase(Transaction& t, const std::string& key) const {
  return t.execute("delete from sb_login_wait where kind = :k and wait_key = :key", {Value(kind_), Value(key)}) >= 0;
}

bool GrowingWait::make_room(Transaction& t, int64_t now) const {
  std::vector<Value> count{Value()};
  if (t.select_into("select count(*) from sb_login_wait where kind = :k", {Value(kind_)}, count) != 0) return false;
  if (count[0].as_long() < static_cast<long>(options_.max_entries)) return true;
  const int64_t forgotten = now - std::chrono::duration_cast<std::chrono::milliseconds>(options_.forget_after).count();
  if (t.execute("delete from sb_login_wait where kind = :k and last_failure < :before and "
                "(checking = 0 or checking_until < :now)",
                {Value(kind_), Value(forgotten), Value(now)}) < 0)
    return false;
  if (t.select_into("select count(*) from sb_login_wait where kind = :k", {Value(kind_)}, count) != 0) return false;
  const long beyond = count[0].as_long() - static_cast<long>(options_.max_entries) + 1;
  if (beyond <= 0) return true;
  return t.execute("delete from sb_login_wait where kind = :k and wait_key in (select wait_key from sb_login_wait "
                   "where kind = :k order by last_failure limit :n)",
                   {Value(kind_), Value(beyond)}) >= 0;
}

bool GrowingWait::peek(const std::string& key, Entry& entry) const {
  bool found = false;
  db_->read([&](Transaction& t) {
    found = load(t, key, entry, false);
    return true;
  });
  return found;
}

std::chrono::milliseconds GrowingWait::begin(const std::string& key) {
  // Most keys have no entry, and a waiting key's answer changes nothing: read first, and lock
  // only to count an attempt being checked.
  Entry seen;
  if (!peek(key, seen)) return std::chrono::milliseconds(0);
  if (const int64_t now = epoch_ms(); seen.next_check > now) return std::chrono::milliseconds(seen.next_check - now);
  std::chrono::milliseconds wait{0};
  db_->transact([&](Transaction& t) {
    Entry entry;
    // A key nobody has failed under yet needs no entry until it fails.
    if (!load(t, key, entry)) return true;
    const int64_t now = epoch_ms();
    if (entry.next_check > now) {
      wait = std::chrono::milliseconds(entry.next_check - now);
      return true;
    }
    if (entry.checking > 0 && entry.checking_until < now) entry.checking = 0;
    // Once the free failures are spent, one attempt at a time: the next failure starts a wait.
    if (entry.checking > 0 && entry.failures >= options_.free_failures) {
      wait = options_.step;
      return true;
    }
    ++entry.checking;
    entry.checking_until = now + kCheckingHoldsMs;
    return store(t, key, entry);
  });
  return wait;
}

void GrowingWait::done(const std::string& key) {
  Entry seen;
  if (!peek(key, seen)) return;
  db_->transact([&](Transaction& t) {
    Entry entry;
    if (!load(t, key, entry)) return true;
    if (entry.checking > 0) --entry.checking;
    if (entry.checking == 0 && entry.failures == 0) return erase(t, key);
    return store(t, key, entry);
  });
}

std::chrono::milliseconds GrowingWait::failed(const std::string& key) {
  std::chrono::milliseconds delay{0};
  db_->transact([&](Transaction& t) {
    const int64_t now = epoch_ms();
    Entry entry;
    if (!load(t, key, entry)) {
      // Two servers counting the first failure of a key at once: the second waits for the
      // first's row and adds to it.
      if (!make_room(t, now) ||
          t.execute("insert into sb_login_wait (kind, wait_key, failures, checking, checking_until, last_failure, "
                    "next_check) values (:k, :key, 0, 0, 0, 0, 0) on conflict (kind, wait_key) do nothing",
                    {Value(kind_), Value(key)}) < 0 ||
          !load(t, key, entry))
        return false;
    }
    if (entry.checking > 0) --entry.checking;
    const int64_t forget_ms = std::chrono::duration_cast<std::chrono::milliseconds>(options_.forget_after).count();
    if (entry.failures > 0 && now - entry.last_failure > forget_ms) entry.failures = 0;
    ++entry.failures;
    entry.last_failure = now;
    const int beyond = entry.failures - options_.free_failures;
    if (beyond > 0) {
      // step × 2^(beyond-1), without overflowing on a long run of failures.
      delay = options_.step;
      for (int i = 1; i < beyond && delay < options_.max_delay; ++i) delay *= 2;
      delay = std::min(delay, options_.max_delay);
      entry.next_check = now + delay.count();
    }
    return store(t, key, entry);
  });
  return delay;
}

void GrowingWait::clear(const std::string& key) {
  db_->transact([&](Transaction& t) { return erase(t, key); });
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

DeviceTokens::DeviceTokens(std::string_view key) {
  if (key.size() == sizeof key_) std::copy(key.begin(), key.end(), key_);
  else crypto_auth_keygen(key_);
}

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
  char hex[2 * kIdBytes + 1];
  sodium_bin2hex(hex, sizeof hex, raw, kIdBytes);
  return hex;
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

std::string shared_device_key(ServerDatabase& db, std::string& error) {
  std::string key;
  const bool ok = db.transact([&](Transaction& t) {
    unsigned char made[crypto_auth_KEYBYTES];
    crypto_auth_keygen(made);
    char text[sodium_base64_ENCODED_LEN(crypto_auth_KEYBYTES, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(text, sizeof text, made, sizeof made, sodium_base64_VARIANT_ORIGINAL);
    sodium_memzero(made, sizeof made);
    // The first server to get here makes the key; the others take it.
    if (t.execute("insert into sb_server_key (name, key_value) values ('device', :v) on conflict (name) do nothing",
                  {Value(std::string(text))}) < 0)
      return false;
    sodium_memzero(text, sizeof text);
    std::vector<Value> row{Value()};
    if (t.select_into("select key_value from sb_server_key where name = 'device'", {}, row) != 0) return false;
    const std::string stored = row[0].to_string();
    unsigned char raw[crypto_auth_KEYBYTES];
    size_t length = 0;
    if (sodium_base642bin(raw, sizeof raw, stored.data(), stored.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != sizeof raw) {
      t.sqlerrtext = "the stored device key is not a key";
      return false;
    }
    key.assign(reinterpret_cast<const char*>(raw), sizeof raw);
    sodium_memzero(raw, sizeof raw);
    return true;
  });
  if (!ok) {
    error = "cannot read or make the device-token key (sb_server_key): " + db.last_error();
    return {};
  }
  return key;
}

}  // namespace shenbao
