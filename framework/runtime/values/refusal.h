#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace shenbao {

// Why something the user or a caller asked for was not done: the one way every layer reports
// an expected failure. `text` is for the user, in the user's own words, shown as it stands;
// it is empty when the reason is only technical (a malformed event, a control that does not
// exist), which then goes to logs and tests through `detail`.
enum class RefusalCode {
  BadRequest,    // the request names nothing that exists, or is malformed
  NotNow,        // the thing exists but cannot be done at this moment (disabled, a box waits)
  Forbidden,     // the user lacks the right the action needs
  InvalidEntry,  // a typed value the column or the window does not take
  Failed,        // the work was tried and did not succeed (a script error, the database)
  Conflict,      // someone else changed the data since it was read: nothing was written
};

std::string_view to_string(RefusalCode code);

struct Refusal {
  RefusalCode code = RefusalCode::Failed;
  std::string text;    // for the user; may be empty
  std::string detail;  // technical; may be empty

  // A refusal only a developer needs to read.
  static Refusal technical(RefusalCode code, std::string detail) { return {code, {}, std::move(detail)}; }
  // A refusal the user reads.
  static Refusal for_user(RefusalCode code, std::string text, std::string detail = {}) {
    return {code, std::move(text), std::move(detail)};
  }
  // The text and, when there is one, the detail: for logs and test failures.
  std::string describe() const;
};

// A value, or the refusal that stands in its place.
//
//   Result<Value> entry = parse_entry(type, text);
//   if (!entry) return entry.refusal();
//   use(*entry);
template <class T>
class Result {
 public:
  Result(T value) : held_(std::move(value)) {}
  Result(Refusal refusal) : held_(std::move(refusal)) {}

  bool ok() const { return held_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& operator*() const { return std::get<0>(held_); }
  T& operator*() { return std::get<0>(held_); }
  const T* operator->() const { return &std::get<0>(held_); }
  const Refusal& refusal() const { return std::get<1>(held_); }

 private:
  std::variant<T, Refusal> held_;
};

}  // namespace shenbao
