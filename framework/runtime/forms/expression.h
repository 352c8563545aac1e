#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/values/value.h"

namespace shenbao {

// What an expression reads while it is evaluated: the cells of a form's rows (by the slot
// numbers the resolver gave at parse time), the current row and the page being printed.
class ExpressionContext {
 public:
  virtual ~ExpressionContext() = default;
  // The value of slot `slot` (a column or computed field) in `row` (1-based).
  virtual Value slot_value(int slot, long row) const = 0;
  virtual long row_count() const = 0;
  virtual long current_row() const = 0;
  virtual long page() const { return 1; }
  virtual long page_count() const { return 1; }
  // The session's date for today(); the epoch when not set.
  virtual DateTime today() const { return {}; }
};

// Maps a name in an expression to a slot number, or -1 when the name is unknown.
using SlotResolver = std::function<int(std::string_view name)>;

// A parsed expression of computed fields, attribute expressions and find texts:
// literals (12, 0.5, 'text', "text"), names, + - * / (+ joins texts), = <> < > <= >=,
// and or not, parentheses and the functions if isnull currentrow getrow rowcount rgb page
// pagecount string trim len left right mid pos upper lower today year month day sum count
// max min avg. Parsing answers an error text for malformed input or an unknown name; it
// never throws. Evaluation never fails: an operation on null answers null, and a type
// mismatch answers null as well.
class Expression {
 public:
  static std::shared_ptr<const Expression> parse(std::string_view text, const SlotResolver& resolver,
                                                 std::string& error);
  // Parses comma-separated expressions ("a, b + 1"), as the arguments of a nested report.
  // An empty text gives an empty list.
  static std::vector<std::shared_ptr<const Expression>> parse_list(std::string_view text,
                                                                   const SlotResolver& resolver,
                                                                   std::string& error);
  // Deepest nesting parse accepts; deeper texts answer an error.
  static constexpr int kMaxDepth = 200;
  virtual ~Expression() = default;
  virtual Value evaluate(const ExpressionContext& context, long row) const = 0;
  // True when the value is a true condition: a non-zero number, the text "yes"/"true" (any
  // case), or a text that is wholly a non-zero number ("1", as literal properties are held).
  static bool truthy(const Value& value);
  const std::string& text() const { return text_; }
  // The slots the expression reads (each once, ascending), aggregates included.
  const std::vector<int>& slots() const { return slots_; }

 protected:
  std::string text_;
  std::vector<int> slots_;
};

// Formats a value for showing it: dates with the picture letters of DateTime::format
// ("yyyy-mm-dd", "yyyy年mm月dd日", "yyyymmdd"), numbers with a picture of 0 (digit), # (digit
// when needed), ',' (thousands), '.' and '%' ("000000", "0.00", "0.00%", "#,##0"); other
// characters around the digits are copied. "" or "[general]" gives Value::to_string with
// numbers rounded to 15 significant digits and no trailing zeros. Texts are answered as they
// are, null as "".
std::string format_value(const Value& value, std::string_view format);

}  // namespace shenbao
