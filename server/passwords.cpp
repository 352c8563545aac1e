#include "server/passwords.h"

#include <sodium.h>

#include <mutex>
#include <semaphore>

namespace shenbao {
namespace {

// Each argon2 run takes 64 MiB: two at a time.
std::counting_semaphore<2>& argon2_slots() {
  static std::counting_semaphore<2> slots(2);
  return slots;
}

struct Slot {
  Slot() { argon2_slots().acquire(); }
  ~Slot() { argon2_slots().release(); }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
};

size_t utf8_characters(std::string_view text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace

bool sodium_ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = sodium_init() >= 0; });
  return ready;
}

std::string hash_password(std::string_view password, std::string& error) {
  if (utf8_characters(password) < kMinPasswordLength) {
    error = "密码至少需要" + std::to_string(kMinPasswordLength) + "个字符";
    return {};
  }
  if (password.size() > kMaxPasswordBytes) {
    error = "密码过长";
    return {};
  }
  if (!sodium_ready()) {
    error = "libsodium cannot be initialised";
    return {};
  }
  char hash[crypto_pwhash_STRBYTES];
  Slot slot;
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    error = "out of memory while hashing the password";
    return {};
  }
  return hash;
}

bool verify_password(const std::string& hash, std::string_view password) {
  if (!sodium_ready() || password.size() > kMaxPasswordBytes) return false;
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  Slot slot;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void wipe_password(std::string& password) {
  if (!password.empty()) sodium_memzero(password.data(), password.size());
  password.clear();
}

}  // namespace shenbao
