#include "framework/runtime/forms/expression.h"

#include <gtest/gtest.h>

namespace shenbao {
namespace {

// Rows of cells addressed by slot; slots: name, age, pay, born, nothing.
class RowsContext : public ExpressionContext {
 public:
  std::vector<std::vector<Value>> rows;
  long current = 1;
  Value slot_value(int slot, long row) const override {
    if (row < 1 || row > static_cast<long>(rows.size())) return {};
    const auto& r = rows[static_cast<size_t>(row - 1)];
    return slot >= 0 && slot < static_cast<int>(r.size()) ? r[static_cast<size_t>(slot)] : Value();
  }
  long row_count() const override { return static_cast<long>(rows.size()); }
  long current_row() const override { return current; }
  long page() const override { return 2; }
  long page_count() const override { return 5; }
  DateTime today() const override { return DateTime::from_civil(2009, 6, 15); }
};

int resolve(std::string_view name) {
  static const char* names[] = {"name", "age", "pay", "born", "nothing"};
  for (int i = 0; i < 5; ++i)
    if (name == names[i]) return i;
  return -1;
}

RowsContext sample() {
  RowsContext c;
  c.rows = {
      {Value("张三"), Value(30), Value(1234.5), Value(DateTime::from_civil(1979, 3, 8)), Value()},
      {Value("Li Si "), Value(45), Value(), Value(DateTime::from_civil(1964, 12, 1)), Value()},
      {Value(), Value(25), Value(800.25), Value(), Value()},
  };
  c.current = 2;
  return c;
}

std::string show(const Value& v) {
  static const char* kinds[] = {"null", "long", "number", "text", "datetime"};
  return std::string(kinds[static_cast<int>(v.kind())]) + ":" + v.to_string();
}

TEST(Expression, Evaluates) {
  static const struct {
    const char* text;
    long row;
    const char* expected;  // kind:value
  } cases[] = {
      // literals and arithmetic
      {"12", 1, "long:12"},
      {"0.5", 1, "number:0.5"},
      {"'a' + \"b\"", 1, "text:ab"},
      {"7 / 2", 1, "number:3.5"},
      {"6 / 3", 1, "number:2"},
      {"7 - 2 * 3", 1, "long:1"},
      {"(7 - 2) * 3", 1, "long:15"},
      {"-age + 1", 1, "long:-29"},
      {"age * 0.5", 1, "number:15"},
      {"9223372036854775807 + 1", 1, "number:9223372036854775808"},
      {"1 / 0", 1, "null:null"},
      {"1 / (age - 30)", 1, "null:null"},
      // a number joined to a text is written out as string() writes it
      {"'a' + 1", 1, "text:a1"},
      {"'第 ' + age + ' 页 / 共 ' + 12 + ' 页'", 1, "text:第 30 页 / 共 12 页"},
      {"pay + '元'", 1, "text:1234.5元"},
      {"1 + 2 + 'x'", 1, "text:3x"},
      {"'x' + born", 1, "null:null"},
      {"'x' + pay", 2, "null:null"},
      {"name + '!'", 1, "text:张三!"},
      // null propagation
      {"pay + 1", 2, "null:null"},
      {"nothing = nothing", 1, "null:null"},
      {"age = nothing", 1, "null:null"},
      {"null", 1, "null:null"},
      {"not nothing", 1, "null:null"},
      // comparisons
      {"age = 30", 1, "long:1"},
      {"age = 30.0", 1, "long:1"},
      {"age <> 30", 1, "long:0"},
      {"age < 30.5", 1, "long:1"},
      {"age >= 45", 2, "long:1"},
      {"age <= 44", 2, "long:0"},
      {"age > 44", 2, "long:1"},
      {"'B' < 'a'", 1, "long:1"},
      {"'b' > 'a'", 1, "long:1"},
      {"born < today()", 1, "long:1"},
      {"'1' = 1", 1, "null:null"},
      // logic
      {"age > 20 and age < 40", 1, "long:1"},
      {"age > 40 OR name = '张三'", 1, "long:1"},
      {"not age > 40", 1, "long:1"},
      {"NOT (age > 20) And 1", 1, "long:0"},
      {"nothing or 1", 1, "long:1"},
      {"nothing and 1", 1, "long:0"},
      {"'yes' and 'TRUE'", 1, "long:1"},
      // functions
      {"if(age > 40, 'old', 'young')", 1, "text:young"},
      {"IF(age > 40, 'old', 'young')", 2, "text:old"},
      {"if(nothing, 1, 2)", 1, "long:2"},
      {"if(null = null, 1, 2)", 1, "long:2"},
      {"isnull(pay)", 2, "long:1"},
      {"isNull(pay)", 1, "long:0"},
      {"currentrow()", 1, "long:2"},
      {"getrow()", 3, "long:3"},
      {"rowcount()", 1, "long:3"},
      {"rgb(162, 192, 248)", 1, "long:16302242"},
      {"rgb(1, nothing, 1)", 1, "null:null"},
      {"page() * 10 + pagecount()", 1, "long:25"},
      {"string(age)", 1, "text:30"},
      {"string(pay)", 1, "text:1234.5"},
      {"string(0.1 + 0.2)", 1, "text:0.3"},
      {"string(born)", 1, "text:1979-03-08"},
      {"string(nothing)", 1, "null:null"},
      {"string(born, 'yyyy年mm月dd日')", 1, "text:1979年03月08日"},
      {"string(born, 'yyyymmdd')", 1, "text:19790308"},
      {"string(age, '000000')", 1, "text:000030"},
      {"string(pay, '#,##0')", 1, "text:1,235"},
      {"string(pay, '0.00')", 1, "text:1234.50"},
      {"string(0.1234, '0.00%')", 1, "text:12.34%"},
      {"trim(name)", 2, "text:Li Si"},
      {"len(name)", 1, "long:2"},
      {"len(name)", 2, "long:6"},
      {"left(name, 1)", 1, "text:张"},
      {"left(name, 10)", 1, "text:张三"},
      {"left(name, 0)", 1, "text:"},
      {"right(name, 1)", 1, "text:三"},
      {"right('abc', 2)", 1, "text:bc"},
      {"mid('中华人民', 2, 2)", 1, "text:华人"},
      {"mid('中华人民', 3)", 1, "text:人民"},
      {"mid('abc', 5)", 1, "text:"},
      {"mid('abc', 0, 2)", 1, "text:"},
      {"pos('中华人民', '人')", 1, "long:3"},
      {"pos('abc', 'x')", 1, "long:0"},
      {"upper('aBc')", 1, "text:ABC"},
      {"lower('aBc')", 1, "text:abc"},
      {"len(age)", 1, "null:null"},
      {"today()", 1, "datetime:2009-06-15"},
      {"year(born)", 1, "long:1979"},
      {"month(born)", 1, "long:3"},
      {"day(born)", 1, "long:8"},
      {"year(today()) - year(born)", 2, "long:45"},
      {"day(age)", 1, "null:null"},
      // aggregates over all rows, whatever the row
      {"sum(age)", 1, "long:100"},
      {"sum(pay)", 3, "number:2034.75"},
      {"count(pay)", 1, "long:2"},
      {"count(nothing)", 1, "long:0"},
      {"sum(nothing)", 1, "null:null"},
      {"max(age)", 1, "long:45"},
      {"min(born)", 1, "datetime:1964-12-01"},
      {"avg(age)", 1, "number:33.333333333333336"},
      {"sum(age * 2) / count(age)", 1, "number:66.66666666666667"},
      {"sum(if(age > 26, 1, 0))", 1, "long:2"},
      {"getrow() = currentrow()", 2, "long:1"},
  };
  const RowsContext context = sample();
  for (const auto& c : cases) {
    std::string error;
    const auto e = Expression::parse(c.text, resolve, error);
    ASSERT_TRUE(e) << c.text << ": " << error;
    EXPECT_EQ(show(e->evaluate(context, c.row)), c.expected) << c.text;
    EXPECT_EQ(e->text(), c.text);
  }
}

TEST(Expression, RejectsMalformedText) {
  static const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "expected a value but found end of expression"},
      {"1 +", "expected a value but found end of expression"},
      {"(1 + 2", "expected ')' but found end of expression"},
      {"1 2", "unexpected '2' at 3"},
      {"salary + 1", "unknown name 'salary'"},
      {"Age", "unknown name 'Age'"},
      {"foo(1)", "unknown function 'foo'"},
      {"if(1, 2)", "if() takes 3 arguments, not 2"},
      {"mid('a')", "mid() takes 2 or 3 arguments, not 1"},
      {"isnull(1, 2)", "isnull() takes 1 argument, not 2"},
      {"'abc", "unterminated text"},
      {"1 @ 2", "unexpected character '@' at 3"},
      {"a 中", "unknown name 'a'"},
      {"age and", "expected a value but found end of expression"},
      {"sum(max(age))", "max() inside an aggregate"},
      {"left(name 1)", "expected ',' or ')' but found '1' at 11"},
      {"1 + )", "expected a value but found ')' at 5"},
      {"and", "expected a value but found 'and' at 1"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(Expression::parse(c.text, resolve, error), nullptr) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  std::string error;
  EXPECT_EQ(Expression::parse("age", SlotResolver(), error), nullptr);
  EXPECT_EQ(error, "unknown name 'age'");
}

TEST(Expression, LimitsNesting) {
  auto parses = [](const std::string& text) {
    std::string error;
    const bool ok = Expression::parse(text, resolve, error) != nullptr;
    EXPECT_TRUE(ok || error == "expression nested too deeply") << error;
    return ok;
  };
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  EXPECT_TRUE(parses(repeat("(", 150) + "1" + repeat(")", 150)));
  EXPECT_FALSE(parses(repeat("(", 100000) + "1" + repeat(")", 100000)));
  EXPECT_FALSE(parses(repeat("-", 100000) + "1"));
  EXPECT_FALSE(parses(repeat("not ", 100000) + "1"));
  EXPECT_FALSE(parses(repeat("len(", 300)));
  EXPECT_FALSE(parses(repeat("len(", 100000) + "'a'" + repeat(")", 100000)));
  EXPECT_TRUE(parses("1" + repeat(" + 1", 150)));
  EXPECT_FALSE(parses("1" + repeat(" + 1", 100000)));
  EXPECT_FALSE(parses("1" + repeat(" * 1", 100000)));
  EXPECT_FALSE(parses("1" + repeat(" or 1", 100000)));
}

TEST(Expression, SlotsAndLists) {
  std::string error;
  const auto e = Expression::parse("pay + age * sum(age) + if(isnull(born), 1, 0)", resolve, error);
  ASSERT_TRUE(e) << error;
  EXPECT_EQ(e->slots(), (std::vector<int>{1, 2, 3}));

  const auto list = Expression::parse_list(" age, name + 'x' ,3 ", resolve, error);
  ASSERT_EQ(list.size(), 3u) << error;
  const RowsContext context = sample();
  EXPECT_EQ(list[0]->text(), "age");
  EXPECT_EQ(list[1]->text(), "name + 'x'");
  EXPECT_EQ(list[1]->slots(), std::vector<int>{0});
  EXPECT_EQ(show(list[1]->evaluate(context, 1)), "text:张三x");
  EXPECT_TRUE(Expression::parse_list("", resolve, error).empty());
  EXPECT_EQ(error, "");
  EXPECT_TRUE(Expression::parse_list("age,", resolve, error).empty());
  EXPECT_EQ(error, "expected a value but found end of expression");
}

TEST(Expression, Truthy) {
  static const struct {
    Value value;
    bool truthy;
  } cases[] = {
      {Value(), false},        {Value(0), false},        {Value(2), true},     {Value(0.0), false},
      {Value(-0.5), true},     {Value("yes"), true},     {Value("True"), true}, {Value("no"), false},
      {Value("1"), true},      {Value("0"), false},      {Value("0.0"), false}, {Value("1x"), false},
      {Value(""), false},      {Value(DateTime()), false},
  };
  for (const auto& c : cases) EXPECT_EQ(Expression::truthy(c.value), c.truthy) << show(c.value);
}

TEST(FormatValue, NumbersDatesAndGeneral) {
  static const struct {
    Value value;
    const char* format;
    const char* expected;
  } cases[] = {
      {Value(42), "000000", "000042"},
      {Value(-42), "000000", "-000042"},
      {Value(3), "0.00", "3.00"},
      {Value(2.675), "0.00", "2.68"},
      {Value(-0.001), "0.00", "0.00"},
      {Value(1234567), "#,##0", "1,234,567"},
      {Value(-1234567.891), "#,##0.00", "-1,234,567.89"},
      {Value(0), "#,##0", "0"},
      {Value(999), "#,##0", "999"},
      {Value(0.1234), "0.00%", "12.34%"},
      {Value(1), "0%", "100%"},
      {Value(1.5), "0.0#", "1.5"},
      {Value(1.567), "0.0#", "1.57"},
      {Value(12.5), "¥#,##0.00元", "¥12.50元"},
      {Value(0.5), "#.00", ".50"},
      {Value(9223372036854775807LL), "#,##0", "9,223,372,036,854,775,807"},
      {Value(1e300), "0.00", "1e+300"},
      {Value(DateTime::from_civil(2009, 6, 5)), "yyyy-mm-dd", "2009-06-05"},
      {Value(DateTime::from_civil(2009, 6, 5)), "yyyy年mm月dd日", "2009年06月05日"},
      {Value(DateTime::from_civil(2009, 6, 5)), "yyyymmdd", "20090605"},
      {Value(DateTime::from_civil(2009, 6, 5, 8, 30)), "", "2009-06-05 08:30:00"},
      {Value(2.50), "[general]", "2.5"},
      {Value(2.0), "[General]", "2"},
      {Value(0.1 + 0.2), "", "0.3"},
      {Value(1e20), "", "1e+20"},
      {Value(-7), "", "-7"},
      {Value("text"), "0.00", "text"},
      // display masks over texts: a place per character, other characters as they stand
      {Value("20090605"), "xxxx-xx-xx", "2009-06-05"},
      {Value("2009-06-05"), "xxxx-xx-xx", "2009-06-05"},
      {Value("200906"), "xxxx-xx-xx", "200906"},
      {Value("二〇〇九〇六〇五"), "xxxx-xx-xx", "二〇〇九-〇六-〇五"},
      {Value("20090605"), "yyyy-mm-dd", "20090605"},
      {Value(), "0.00", ""},
      {Value(5), "yyyy", "5"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(format_value(c.value, c.format), c.expected) << c.value.to_string() << " with " << c.format;
}

}  // namespace
}  // namespace shenbao
