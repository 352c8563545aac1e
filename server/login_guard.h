#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace shenbao {

// Slows down and stops password guessing. Each failed login under a key (the server uses the
// user name with the client's address) makes the answer wait a little longer (step ×
// failures, at most max_delay); after max_failures failures in a row the key is locked for
// lock_time, during which every login under it is refused without looking at the password. A successful login clears the count. Names that do not exist are
// treated alike, so that the answers do not tell which names exist. Thread-safe; the table
// is bounded (old entries are forgotten first).
class LoginGuard {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    int max_failures = 5;
    std::chrono::seconds lock_time{5 * 60};
    std::chrono::milliseconds step{400};
    std::chrono::milliseconds max_delay{2000};
    size_t max_entries = 10000;
  };

  LoginGuard() = default;
  explicit LoginGuard(Options options) : options_(options) {}

  // How long the key stays locked; zero when it is not locked.
  std::chrono::seconds locked_for(const std::string& key);

  struct Failure {
    std::chrono::milliseconds delay{0};  // wait this long before answering
    bool locked = false;                 // this failure locked the key
  };
  Failure failed(const std::string& key);
  void succeeded(const std::string& key);

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point last_failure;
    Clock::time_point locked_until;
  };
  void forget_old(Clock::time_point now);

  Options options_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

// Slows guessing at one account from any number of addresses, without ever locking it: after
// `free_failures` failed logins of a name (from wherever), each further failure makes the
// name wait before its password is checked again, step, 2 × step, 4 × step, … at most
// max_delay. A login of the name while it waits is answered at once with the time left and
// neither counts nor lengthens the wait; the first one after it is checked as usual, so the
// right password always logs in once the wait has passed. A successful login, or
// `forget_after` without failures, clears the count. Thread-safe and bounded like LoginGuard.
class AccountThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    int free_failures = 5;
    std::chrono::milliseconds step{1000};
    std::chrono::milliseconds max_delay{60 * 1000};
    std::chrono::seconds forget_after{60 * 60};
    size_t max_entries = 10000;
  };

  AccountThrottle() = default;
  explicit AccountThrottle(Options options) : options_(options) {}

  // How long the account still waits before a password of it is checked; zero when it may
  // be checked now.
  std::chrono::milliseconds wait_for(const std::string& account);
  // Counts a failed login; answers the wait it starts (zero while failures are free).
  std::chrono::milliseconds failed(const std::string& account);
  void succeeded(const std::string& account);

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point last_failure;
    Clock::time_point next_check;
  };
  Options options_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace shenbao
