#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "server/server_database.h"

namespace shenbao {

// Failed attempts under one key (an account, an address, a device) make the key wait: the
// first `free_failures` are free, each one after them makes the key wait step, 2 × step,
// 4 × step, … at most max_delay before its next attempt is checked. An attempt while the key
// waits is answered at once with the time left and neither counts nor lengthens the wait.
// Once the free failures are spent, attempts are checked one at a time (the others are told to
// come back after a step), so that many at once do not all slip through as a wait ends; an
// attempt that is never ended (its server stopped) stops counting after a minute.
// `forget_after` without failures forgets the key; nothing else does, unless clear() is
// called. The counts live in the database (sb_login_wait, one `kind` per GrowingWait), so that
// every server of the database counts the same failures. Thread-safe; the table is bounded
// (the keys failed least recently are forgotten first). When the database cannot be reached
// nothing waits: no login can then succeed anyway.
class GrowingWait {
 public:
  struct Options {
    int free_failures = 5;
    std::chrono::milliseconds step{1000};
    std::chrono::milliseconds max_delay{60 * 1000};
    std::chrono::seconds forget_after{60 * 60};
    size_t max_entries = 10000;
  };

  GrowingWait(ServerDatabase& db, std::string kind, Options options)
      : db_(&db), kind_(std::move(kind)), options_(options) {}

  // Zero when an attempt under the key may be checked now; it must then be ended by failed()
  // or done(). Otherwise how long the key still waits.
  std::chrono::milliseconds begin(const std::string& key);
  // Ends a checked attempt that failed, counting it; answers the wait it starts (zero while
  // failures are free).
  std::chrono::milliseconds failed(const std::string& key);
  // Ends a checked attempt that did not fail.
  void done(const std::string& key);
  void clear(const std::string& key);

 private:
  struct Entry {
    int failures = 0;
    int checking = 0;
    int64_t checking_until = 0;  // ms since 1970, as every time here
    int64_t last_failure = 0;
    int64_t next_check = 0;
  };
  // Reads the key's entry, locked until the transaction ends when `lock`; false when there is
  // none.
  bool load(Transaction& t, const std::string& key, Entry& entry, bool lock = true) const;
  // The key's entry as it is, read without taking a lock; false when there is none.
  bool peek(const std::string& key, Entry& entry) const;
  bool store(Transaction& t, const std::string& key, const Entry& entry) const;
  bool erase(Transaction& t, const std::string& key) const;
  // Makes room for one more key: forgets the forgotten, then the least recently failed.
  bool make_room(Transaction& t, int64_t now) const;

  ServerDatabase* db_;
  std::string kind_;
  Options options_;
};

// Signed device tokens: a browser that has logged in as a user gets one for that user, and
// shows it with its next logins. A token is 16 random bytes (its id) and the time it was
// issued, with a MAC over them and the user name under a key (shared_device_key: one for
// every server of a database, so a token holds on whichever server the browser reaches).
class DeviceTokens {
 public:
  // `key` is crypto_auth_KEYBYTES (32) bytes; empty: a key of its own, made now.
  explicit DeviceTokens(std::string_view key = {});
  ~DeviceTokens();
  DeviceTokens(const DeviceTokens&) = delete;
  DeviceTokens& operator=(const DeviceTokens&) = delete;

  std::string issue(std::string_view username) const;
  // The token's id when this server signed it for `username` within `lifetime`; "" otherwise.
  std::string id_of(std::string_view token, std::string_view username, std::chrono::seconds lifetime) const;

 private:
  unsigned char key_[32];
};

// Throttles password guessing without handing the account to the guesser. A login attempt is
// either trusted, when it brings a valid device token of the user it names, or untrusted:
//
// - A trusted attempt is throttled by its token alone: after `device.free_failures` failures
//   the token stops being trusted for a while (its attempts are then untrusted ones). Nothing
//   an attacker does elsewhere slows it, so the clerk at his own browser logs in at once.
// - An untrusted attempt waits while its account or its address waits (GrowingWait, each
//   counted on its own). An address has many more free failures than an account, so one
//   person mistyping does not keep the others behind the same address out.
//
// A successful login clears its token's count only: the untrusted counts stay until they
// are forgotten, so that logins of the real user do not buy the guesser fresh guesses.
class LoginThrottle {
 public:
  struct Options {
    GrowingWait::Options accounts{};
    GrowingWait::Options addresses{20, std::chrono::milliseconds(1000), std::chrono::milliseconds(60 * 1000),
                                   std::chrono::seconds(60 * 60), 10000};
    // The failures with one token it takes before its attempts are untrusted, for max_delay.
    GrowingWait::Options devices{5, std::chrono::minutes(15), std::chrono::minutes(15), std::chrono::seconds(60 * 60),
                                 10000};
    // How long a device token stays valid after it was issued.
    std::chrono::seconds device_lifetime{180 * 24 * 60 * 60};
  };

  // `device_key` signs the device tokens (shared_device_key); the counts are kept in `db`.
  LoginThrottle(ServerDatabase& db, std::string_view device_key, Options options)
      : options_(options),
        tokens_(device_key),
        accounts_(db, "account", options.accounts),
        addresses_(db, "address", options.addresses),
        devices_(db, "device", options.devices) {}

  struct Attempt {
    std::string device;  // the id of the trusted token it came with; "" when untrusted
    std::chrono::milliseconds wait{0};  // not checked before this has passed
    bool trusted() const { return !device.empty(); }
  };
  // What an attempt to log in as `username` from `address` with device token `token` is.
  Attempt attempt(const std::string& username, const std::string& address, std::string_view token);
  // Ends an attempt whose wait was zero. failed() counts it and answers the wait it starts for
  // the next untrusted attempt (zero when none, or when the attempt was trusted).
  std::chrono::milliseconds failed(const Attempt& attempt, const std::string& username, const std::string& address);
  void succeeded(const Attempt& attempt, const std::string& username, const std::string& address);
  // A new device token for a browser that has just logged in as `username`.
  std::string device_token(std::string_view username) const { return tokens_.issue(username); }
  std::chrono::seconds device_lifetime() const { return options_.device_lifetime; }

 private:
  Options options_;
  DeviceTokens tokens_;
  GrowingWait accounts_, addresses_, devices_;
};

// The key that signs device tokens for every server of the database behind `db`, made (and
// stored in sb_server_key) by the first server that asks; empty when the database cannot be
// read or written, with `error`.
std::string shared_device_key(ServerDatabase& db, std::string& error);

}  // namespace shenbao
