#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace shenbao {

// Keeps repeated lines from flooding a log. A line is keyed by its source (who, from where)
// and its event: the first of a key in an interval is written as it is; the repeats are
// counted, and once the interval has passed one line says how many there were:
//
//   … clerk001 001 192.0.2.7 bad-request … (repeated 20,731 times in 10 s)
//
// At most `max_keys` keys are tracked at once; the repeats of keys beyond them are counted
// together and reported in one line per interval. Thread-safe; `emit` is called under the
// limiter's lock, in the order the lines are to appear.
class LogLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    std::chrono::seconds interval{10};
    size_t max_keys = 10000;
  };
  // What is written: the key's fields and the detail.
  struct Line {
    std::string user, unit, address, event, detail;
  };
  using Emit = std::function<void(const Line&)>;

  LogLimiter(Options options, Emit emit) : options_(options), emit_(std::move(emit)) {}

  // The line, or a count of it.
  void add(Line line);
  // Writes the counts of the intervals that have passed (all of them when `all`).
  void flush(bool all = false);

 private:
  struct Entry {
    Line first;
    Clock::time_point since;
    size_t repeats = 0;
  };
  void report(const Entry& entry, Clock::time_point now);
  void flush_locked(Clock::time_point now, bool all);

  Options options_;
  Emit emit_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  size_t overflow_ = 0;
  Clock::time_point overflow_since_{};
  Clock::time_point last_flush_{};
};

// A count with thousands separated: 20731 -> "20,731".
std::string grouped(size_t n);

}  // namespace shenbao
