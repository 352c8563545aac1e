#pragma once

#include <string>
#include <string_view>

namespace shenbao {

// Passwords of sys_user, stored as argon2id strings made by libsodium (crypto_pwhash_str with
// the INTERACTIVE limits: about 0.1 s and 64 MiB each). Clear passwords are never stored or
// logged; callers wipe their copies with wipe_password when done.
//
//   std::string error;
//   std::string hash = hash_password("clerk001pass", error);   // empty + error when refused
//   bool ok = verify_password(hash, typed);
//
// At most two hashes or verifications run at once in the process (the rest wait), so that a
// burst of logins cannot take more than about 128 MiB. Thread-safe.

// Passwords shorter than this many characters are refused when a password is set.
constexpr size_t kMinPasswordLength = 8;
// Longer passwords are refused outright (hashing them would only cost time).
constexpr size_t kMaxPasswordBytes = 1024;

// Initialises libsodium once; false when it cannot be used.
bool sodium_ready();

// The stored form of a new password; empty with `error` when the password is shorter than
// kMinPasswordLength characters (UTF-8 characters, not bytes), longer than kMaxPasswordBytes,
// or hashing failed.
std::string hash_password(std::string_view password, std::string& error);

// True when `password` matches `hash`. False for a malformed hash or an oversized password.
bool verify_password(const std::string& hash, std::string_view password);

// Overwrites the characters of a clear password in memory.
void wipe_password(std::string& password);

}  // namespace shenbao
