#include "framework/runtime/forms/expression.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "framework/runtime/values/column_type.h"

namespace shenbao {
namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Text helpers working on characters (UTF-8 code points).

// Byte offset of the character with 0-based index `index`, or the text's size past the end.
size_t byte_offset(std::string_view s, size_t index) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == index) return i;
      ++chars;
    }
  }
  return s.size();
}

// Characters [start, start + count) of `s`, 0-based; clipped to the text.
std::string_view char_range(std::string_view s, size_t start, size_t count) {
  const size_t b = byte_offset(s, start);
  if (b >= s.size()) return s.substr(s.size());  // empty, but never a null pointer
  const std::string_view rest = s.substr(b);
  return rest.substr(0, byte_offset(rest, count));
}

bool is_trim_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ---------------------------------------------------------------------------------------------
// Number formatting.

std::string strip_fraction_zeros(std::string s) {
  if (s.find('.') == std::string::npos) return s;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string general_number(double v) {
  if (!std::isfinite(v)) return format_number(v);
  char buf[64];
  const double a = std::fabs(v);
  if (a == 0) return "0";
  if (a >= 1e15 || a < 1e-6) {
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
  }
  const int int_digits = a < 1 ? 1 : static_cast<int>(std::floor(std::log10(a))) + 1;
  const int decimals = std::max(0, 15 - int_digits);
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return strip_fraction_zeros(buf);
}

std::string general(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null: return {};
    case ValueKind::Number: return general_number(v.as_number());
    default: return v.to_string();
  }
}

std::string picture_number(const Value& value, std::string_view picture) {
  size_t first = picture.find_first_of("0#");
  const size_t last = picture.find_last_of("0#");
  if (first == std::string_view::npos) return general(value);
  while (first > 0 && (picture[first - 1] == '.' || picture[first - 1] == ',')) --first;
  const std::string_view prefix = picture.substr(0, first);
  const std::string_view core = picture.substr(first, last - first + 1);
  const std::string_view suffix = picture.substr(last + 1);
  const bool percent = picture.find('%') != std::string_view::npos;
  const size_t dot = core.find('.');
  const std::string_view int_pat = core.substr(0, dot);
  const std::string_view frac_pat = dot == std::string_view::npos ? std::string_view() : core.substr(dot + 1);
  const size_t min_int = static_cast<size_t>(std::count(int_pat.begin(), int_pat.end(), '0'));
  const bool group = int_pat.find(',') != std::string_view::npos;
  const size_t min_dec = static_cast<size_t>(std::count(frac_pat.begin(), frac_pat.end(), '0'));
  const size_t max_dec = min_dec + static_cast<size_t>(std::count(frac_pat.begin(), frac_pat.end(), '#'));
  if (max_dec > 30) return general(value);

  std::string digits;
  bool negative = false;
  if (value.kind() == ValueKind::Long && !percent && max_dec == 0) {
    const int64_t v = value.as_long();
    negative = v < 0;
    const uint64_t mag = negative ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    digits = std::to_string(mag);
  } else {
    const double x = value.as_number() * (percent ? 100.0 : 1.0);
    const double scaled = x * std::pow(10.0, static_cast<double>(max_dec));
    if (!(std::fabs(scaled) < 1e18)) return general(value);
    // A nudge away from zero so that 2.675 (held as 2.67499999...) rounds as written.
    const double r = std::round(scaled + std::copysign(1e-9 + std::fabs(scaled) * 1e-13, scaled));
    negative = r < 0;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.0f", std::fabs(r));
    digits = buf;
  }
  if (digits.size() <= max_dec) digits.insert(0, max_dec + 1 - digits.size(), '0');
  std::string int_part = digits.substr(0, digits.size() - max_dec);
  std::string frac = digits.substr(digits.size() - max_dec);
  if (negative && int_part.find_first_not_of('0') == std::string::npos &&
      frac.find_first_not_of('0') == std::string::npos)
    negative = false;
  const size_t nz = int_part.find_first_not_of('0');
  int_part = nz == std::string::npos ? std::string() : int_part.substr(nz);
  if (int_part.size() < min_int) int_part.insert(0, min_int - int_part.size(), '0');
  if (group && int_part.size() > 3) {
    std::string grouped;
    const size_t n = int_part.size();
    for (size_t i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) grouped += ',';
      grouped += int_part[i];
    }
    int_part = std::move(grouped);
  }
  while (frac.size() > min_dec && frac.back() == '0') frac.pop_back();
  std::string out;
  if (negative) out += '-';
  out += prefix;
  out += int_part;
  if (!frac.empty()) {
    out += '.';
    out += frac;
  }
  out += suffix;
  return out;
}

// A text through a display mask such as "xxxx-xx-xx": each of x X # ! ^ a takes the next
// character of the text, anything else is written as it stands. A text that has not as many
// characters as the mask has places (already formatted, or something else) is shown as it is.
std::string text_mask(std::string_view text, std::string_view mask) {
  const auto is_place = [](char c) { return c == 'x' || c == 'X' || c == '#' || c == '!' || c == '^' || c == 'a'; };
  const size_t places = static_cast<size_t>(std::count_if(mask.begin(), mask.end(), is_place));
  if (places == 0 || places != utf8_length(text)) return std::string(text);
  std::string out;
  size_t next = 0;
  for (char c : mask) {
    if (!is_place(c)) {
      out += c;
      continue;
    }
    const std::string_view one = char_range(text, next++, 1);
    if (c == '!' && one.size() == 1) out += ascii_upper(one[0]);
    else if (c == '^' && one.size() == 1) out += ascii_lower(one[0]);
    else out += one;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Arithmetic and comparison.

enum class Op { Add, Sub, Mul, Div, Eq, Ne, Lt, Gt, Le, Ge, And, Or };

Value arithmetic(Op op, const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return {};
  if (op == Op::Add && (a.kind() == ValueKind::Text || b.kind() == ValueKind::Text)) {
    // Text joins text; a number joined to a text is written as string() writes it.
    const auto joinable = [](const Value& v) { return v.kind() == ValueKind::Text || v.is_numeric(); };
    if (!joinable(a) || !joinable(b)) return {};
    std::string s = general(a);
    s += general(b);
    return Value(s);
  }
  if (!a.is_numeric() || !b.is_numeric()) return {};
  if (a.kind() == ValueKind::Long && b.kind() == ValueKind::Long && op != Op::Div) {
    const long long x = a.as_long(), y = b.as_long();
    long long r = 0;
    bool overflow = false;
    switch (op) {
      case Op::Add: overflow = __builtin_add_overflow(x, y, &r); break;
      case Op::Sub: overflow = __builtin_sub_overflow(x, y, &r); break;
      case Op::Mul: overflow = __builtin_mul_overflow(x, y, &r); break;
      default: break;
    }
    if (!overflow) return Value(r);
  }
  const double x = a.as_number(), y = b.as_number();
  switch (op) {
    case Op::Add: return Value(x + y);
    case Op::Sub: return Value(x - y);
    case Op::Mul: return Value(x * y);
    case Op::Div:
      if (y == 0) return {};
      return Value(x / y);
    default: return {};
  }
}

// -1, 0, 1, or nothing when the values cannot be compared (null or kinds that differ).
std::optional<int> compare_values(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return std::nullopt;
  if (a.is_numeric() && b.is_numeric()) {
    if (a.kind() == ValueKind::Long && b.kind() == ValueKind::Long)
      return a.as_long() < b.as_long() ? -1 : a.as_long() > b.as_long();
    const double x = a.as_number(), y = b.as_number();
    if (std::isnan(x) || std::isnan(y)) return std::nullopt;
    return x < y ? -1 : x > y;
  }
  if (a.kind() != b.kind()) return std::nullopt;
  return a.compare(b);
}

Value comparison(Op op, const Value& a, const Value& b) {
  const auto c = compare_values(a, b);
  if (!c) return {};
  bool r = false;
  switch (op) {
    case Op::Eq: r = *c == 0; break;
    case Op::Ne: r = *c != 0; break;
    case Op::Lt: r = *c < 0; break;
    case Op::Gt: r = *c > 0; break;
    case Op::Le: r = *c <= 0; break;
    case Op::Ge: r = *c >= 0; break;
    default: break;
  }
  return Value(r ? 1 : 0);
}

Value bool_value(bool b) { return Value(b ? 1 : 0); }

// ---------------------------------------------------------------------------------------------
// Nodes.

class Node : public Expression {
 public:
  int height = 1;  // of the subtree: the evaluation recursion it needs
  void set_root(std::string text, std::vector<int> slots) {
    text_ = std::move(text);
    slots_ = std::move(slots);
  }
};

using NodePtr = std::unique_ptr<Node>;

class Literal final : public Node {
 public:
  explicit Literal(Value v) : value_(std::move(v)) {}
  Value evaluate(const ExpressionContext&, long) const override { return value_; }

 private:
  Value value_;
};

class SlotRef final : public Node {
 public:
  explicit SlotRef(int slot) : slot_(slot) {}
  Value evaluate(const ExpressionContext& context, long row) const override { return context.slot_value(slot_, row); }

 private:
  int slot_;
};

class Negate final : public Node {
 public:
  explicit Negate(NodePtr child) : child_(std::move(child)) {}
  Value evaluate(const ExpressionContext& context, long row) const override {
    const Value v = child_->evaluate(context, row);
    if (v.kind() == ValueKind::Long && v.as_long() != std::numeric_limits<int64_t>::min()) return Value(-v.as_long());
    if (v.is_numeric()) return Value(-v.as_number());
    return {};
  }

 private:
  NodePtr child_;
};

class Not final : public Node {
 public:
  explicit Not(NodePtr child) : child_(std::move(child)) {}
  Value evaluate(const ExpressionContext& context, long row) const override {
    const Value v = child_->evaluate(context, row);
    if (v.is_null()) return {};
    return bool_value(!truthy(v));
  }

 private:
  NodePtr child_;
};

class Binary final : public Node {
 public:
  Binary(Op op, NodePtr left, NodePtr right) : op_(op), left_(std::move(left)), right_(std::move(right)) {}
  Value evaluate(const ExpressionContext& context, long row) const override {
    switch (op_) {
      case Op::And:
        return bool_value(truthy(left_->evaluate(context, row)) && truthy(right_->evaluate(context, row)));
      case Op::Or:
        return bool_value(truthy(left_->evaluate(context, row)) || truthy(right_->evaluate(context, row)));
      case Op::Add:
      case Op::Sub:
      case Op::Mul:
      case Op::Div: return arithmetic(op_, left_->evaluate(context, row), right_->evaluate(context, row));
      default: return comparison(op_, left_->evaluate(context, row), right_->evaluate(context, row));
    }
  }

 private:
  Op op_;
  NodePtr left_, right_;
};

enum class Fn {
  If, IsNull, CurrentRow, GetRow, RowCount, Rgb, Page, PageCount, String, Trim, Len, Left, Right, Mid, Pos,
  Upper, Lower, Today, Year, Month, Day, Sum, Count, Max, Min, Avg
};

struct FunctionInfo {
  const char* name;
  Fn fn;
  int min_args;
  int max_args;
  bool aggregate;
};

constexpr FunctionInfo kFunctions[] = {
    {"if", Fn::If, 3, 3, false},           {"isnull", Fn::IsNull, 1, 1, false},
    {"currentrow", Fn::CurrentRow, 0, 0, false}, {"getrow", Fn::GetRow, 0, 0, false},
    {"rowcount", Fn::RowCount, 0, 0, false}, {"rgb", Fn::Rgb, 3, 3, false},
    {"page", Fn::Page, 0, 0, false},       {"pagecount", Fn::PageCount, 0, 0, false},
    {"string", Fn::String, 1, 2, false},   {"trim", Fn::Trim, 1, 1, false},
    {"len", Fn::Len, 1, 1, false},         {"left", Fn::Left, 2, 2, false},
    {"right", Fn::Right, 2, 2, false},     {"mid", Fn::Mid, 2, 3, false},
    {"pos", Fn::Pos, 2, 2, false},         {"upper", Fn::Upper, 1, 1, false},
    {"lower", Fn::Lower, 1, 1, false},     {"today", Fn::Today, 0, 0, false},
    {"year", Fn::Year, 1, 1, false},       {"month", Fn::Month, 1, 1, false},
    {"day", Fn::Day, 1, 1, false},         {"sum", Fn::Sum, 1, 1, true},
    {"count", Fn::Count, 1, 1, true},      {"max", Fn::Max, 1, 1, true},
    {"min", Fn::Min, 1, 1, true},          {"avg", Fn::Avg, 1, 1, true},
};

const FunctionInfo* find_function(std::string_view name) {
  const std::string lower = lowered(name);
  for (const FunctionInfo& f : kFunctions)
    if (lower == f.name) return &f;
  return nullptr;
}

std::optional<DateTime> date_of(const Value& v) {
  if (v.kind() == ValueKind::DateTime) return v.as_datetime();
  if (v.kind() == ValueKind::Text) return DateTime::parse(v.as_text());
  return std::nullopt;
}

// A whole-number argument: a long, or a number rounded; nothing for other kinds.
std::optional<int64_t> whole(const Value& v) {
  if (v.kind() == ValueKind::Long) return v.as_long();
  if (v.kind() == ValueKind::Number) {
    const double d = v.as_number();
    if (!(std::fabs(d) < 9e18)) return std::nullopt;
    return static_cast<int64_t>(std::llround(d));
  }
  return std::nullopt;
}

class Call final : public Node {
 public:
  Call(const FunctionInfo& info, std::vector<NodePtr> args) : info_(info), args_(std::move(args)) {}

  Value evaluate(const ExpressionContext& context, long row) const override {
    switch (info_.fn) {
      case Fn::If: return truthy(arg(0, context, row)) ? arg(1, context, row) : arg(2, context, row);
      case Fn::IsNull: return bool_value(arg(0, context, row).is_null());
      case Fn::CurrentRow: return Value(context.current_row());
      case Fn::GetRow: return Value(row);
      case Fn::RowCount: return Value(context.row_count());
      case Fn::Page: return Value(context.page());
      case Fn::PageCount: return Value(context.page_count());
      case Fn::Today: return Value(context.today());
      case Fn::Rgb: {
        uint64_t out = 0;
        uint64_t scale = 1;
        for (size_t i = 0; i < 3; ++i, scale *= 256) {
          const auto c = whole(arg(i, context, row));
          if (!c) return {};
          out += static_cast<uint64_t>(*c) * scale;  // wraps rather than overflowing
        }
        return Value(static_cast<long long>(out));
      }
      case Fn::String: {
        const Value v = arg(0, context, row);
        if (v.is_null()) return {};
        if (args_.size() == 1) return Value(general(v));
        const Value f = arg(1, context, row);
        if (f.kind() != ValueKind::Text) return {};
        return Value(format_value(v, f.as_text()));
      }
      case Fn::Trim: {
        const Value v = arg(0, context, row);
        if (v.kind() != ValueKind::Text) return {};
        std::string_view s = v.as_text();
        while (!s.empty() && is_trim_blank(s.front())) s.remove_prefix(1);
        while (!s.empty() && is_trim_blank(s.back())) s.remove_suffix(1);
        return Value(s);
      }
      case Fn::Len: {
        const Value v = arg(0, context, row);
        if (v.kind() != ValueKind::Text) return {};
        return Value(static_cast<long long>(utf8_length(v.as_text())));
      }
      case Fn::Upper:
      case Fn::Lower: {
        const Value v = arg(0, context, row);
        if (v.kind() != ValueKind::Text) return {};
        std::string s(v.as_text());
        for (char& c : s) c = info_.fn == Fn::Upper ? ascii_upper(c) : ascii_lower(c);
        return Value(s);
      }
      case Fn::Left:
      case Fn::Right: {
        const Value v = arg(0, context, row);
        const auto n = whole(arg(1, context, row));
        if (v.kind() != ValueKind::Text || !n) return {};
        const std::string_view s = v.as_text();
        if (*n <= 0) return Value("");
        const size_t len = utf8_length(s);
        const size_t count = std::min<uint64_t>(static_cast<uint64_t>(*n), len);
        return Value(info_.fn == Fn::Left ? char_range(s, 0, count) : char_range(s, len - count, count));
      }
      case Fn::Mid: {
        const Value v = arg(0, context, row);
        const auto start = whole(arg(1, context, row));
        if (v.kind() != ValueKind::Text || !start) return {};
        std::optional<int64_t> n = std::numeric_limits<int64_t>::max();
        if (args_.size() == 3) n = whole(arg(2, context, row));
        if (!n) return {};
        if (*start < 1 || *n <= 0) return Value("");
        return Value(char_range(v.as_text(), static_cast<size_t>(*start - 1), static_cast<size_t>(*n)));
      }
      case Fn::Pos: {
        const Value s = arg(0, context, row), t = arg(1, context, row);
        if (s.kind() != ValueKind::Text || t.kind() != ValueKind::Text) return {};
        const size_t at = s.as_text().find(t.as_text());
        if (at == std::string_view::npos) return Value(0);
        return Value(static_cast<long long>(utf8_length(s.as_text().substr(0, at)) + 1));
      }
      case Fn::Year:
      case Fn::Month:
      case Fn::Day: {
        const auto d = date_of(arg(0, context, row));
        if (!d) return {};
        return Value(info_.fn == Fn::Year ? d->year() : info_.fn == Fn::Month ? d->month() : d->day());
      }
      case Fn::Sum:
      case Fn::Count:
      case Fn::Max:
      case Fn::Min:
      case Fn::Avg: return aggregate(context);
    }
    return {};
  }

 private:
  Value arg(size_t i, const ExpressionContext& context, long row) const { return args_[i]->evaluate(context, row); }

  Value aggregate(const ExpressionContext& context) const {
    const long rows = context.row_count();
    long long count = 0, long_sum = 0;
    double sum = 0;
    bool all_long = true;
    Value best;
    for (long r = 1; r <= rows; ++r) {
      const Value v = args_[0]->evaluate(context, r);
      if (v.is_null()) continue;
      switch (info_.fn) {
        case Fn::Count: ++count; break;
        case Fn::Max:
        case Fn::Min: {
          if (best.is_null()) {
            best = v;
            break;
          }
          const auto c = compare_values(v, best);
          if (c && (info_.fn == Fn::Max ? *c > 0 : *c < 0)) best = v;
          break;
        }
        default:  // sum, avg: numbers only; other kinds are skipped
          if (!v.is_numeric()) break;
          ++count;
          sum += v.as_number();
          if (all_long && (v.kind() != ValueKind::Long || __builtin_add_overflow(long_sum, v.as_long(), &long_sum)))
            all_long = false;
      }
    }
    switch (info_.fn) {
      case Fn::Count: return Value(count);
      case Fn::Max:
      case Fn::Min: return best;
      case Fn::Sum:
        if (count == 0) return {};
        return all_long ? Value(long_sum) : Value(sum);
      default:
        if (count == 0) return {};
        return Value(sum / static_cast<double>(count));
    }
  }

  const FunctionInfo& info_;
  std::vector<NodePtr> args_;
};

// ---------------------------------------------------------------------------------------------
// Tokens and the parser.

enum class Tok { End, Number, Text, Name, Op, LParen, RParen, Comma, Bad };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // the literal's value for Text, the source otherwise
  size_t pos = 0;
};

bool is_name_start(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}
bool is_name_char(unsigned char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  Parser(std::string_view text, const SlotResolver& resolver) : text_(text), resolver_(resolver) { advance(); }

  NodePtr parse_full() {
    NodePtr n = parse_or();
    if (n && tok_.kind == Tok::Bad) return fail(tok_.text);
    if (n && tok_.kind != Tok::End) return fail("unexpected " + describe(tok_));
    return n;
  }

  struct Item {
    NodePtr node;
    std::string text;
    std::vector<int> slots;
  };

  std::vector<Item> parse_list() {
    std::vector<Item> out;
    if (tok_.kind == Tok::End) return out;
    for (;;) {
      const size_t start = tok_.pos;
      slots_.clear();
      NodePtr n = parse_or();
      if (!n) return {};
      std::string_view item = text_.substr(start, tok_.pos - start);
      while (!item.empty() && (item.back() == ' ' || item.back() == '\t' || item.back() == '\r' || item.back() == '\n'))
        item.remove_suffix(1);
      out.push_back({std::move(n), std::string(item), slots()});
      if (tok_.kind == Tok::Comma) {
        advance();
        continue;
      }
      if (tok_.kind != Tok::End) {
        fail("unexpected " + describe(tok_));
        return {};
      }
      return out;
    }
  }

  const std::string& error() const { return error_; }
  std::vector<int> slots() {
    std::sort(slots_.begin(), slots_.end());
    slots_.erase(std::unique(slots_.begin(), slots_.end()), slots_.end());
    return std::move(slots_);
  }

 private:
  NodePtr fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return nullptr;
  }

  std::string describe(const Token& t) const {
    switch (t.kind) {
      case Tok::Bad: return t.text;
      case Tok::End: return "end of expression";
      case Tok::Text: return "text at " + std::to_string(t.pos + 1);
      default: return "'" + t.text + "' at " + std::to_string(t.pos + 1);
    }
  }

  void advance() {
    size_t& p = pos_;
    while (p < text_.size() && (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\r' || text_[p] == '\n')) ++p;
    tok_ = Token{};
    tok_.pos = p;
    if (p >= text_.size()) return;
    const char c = text_[p];
    const size_t start = p;
    if (is_digit(c) || (c == '.' && p + 1 < text_.size() && is_digit(text_[p + 1]))) {
      while (p < text_.size() && is_digit(text_[p])) ++p;
      if (p < text_.size() && text_[p] == '.') {
        ++p;
        while (p < text_.size() && is_digit(text_[p])) ++p;
      }
      tok_.kind = Tok::Number;
      tok_.text.assign(text_.substr(start, p - start));
      return;
    }
    if (c == '\'' || c == '"') {
      const size_t close = text_.find(c, p + 1);
      if (close == std::string_view::npos) {
        tok_.kind = Tok::Bad;
        tok_.text = "unterminated text";
        p = text_.size();
        return;
      }
      tok_.kind = Tok::Text;
      tok_.text.assign(text_.substr(p + 1, close - p - 1));
      p = close + 1;
      return;
    }
    if (is_name_start(static_cast<unsigned char>(c))) {
      while (p < text_.size() && is_name_char(static_cast<unsigned char>(text_[p]))) ++p;
      tok_.kind = Tok::Name;
      tok_.text.assign(text_.substr(start, p - start));
      return;
    }
    ++p;
    switch (c) {
      case '(': tok_.kind = Tok::LParen; break;
      case ')': tok_.kind = Tok::RParen; break;
      case ',': tok_.kind = Tok::Comma; break;
      case '+': case '-': case '*': case '/': case '=': tok_.kind = Tok::Op; break;
      case '<':
        tok_.kind = Tok::Op;
        if (p < text_.size() && (text_[p] == '>' || text_[p] == '=')) ++p;
        break;
      case '>':
        tok_.kind = Tok::Op;
        if (p < text_.size() && text_[p] == '=') ++p;
        break;
      default: {
        tok_.kind = Tok::Bad;
        // Report the whole UTF-8 character.
        while (p < text_.size() && (static_cast<unsigned char>(text_[p]) & 0xC0) == 0x80) ++p;
        tok_.text = "unexpected character '" + std::string(text_.substr(start, p - start)) + "' at " +
                    std::to_string(start + 1);
        return;
      }
    }
    tok_.text.assign(text_.substr(start, p - start));
  }

  bool is_op(std::string_view op) const { return tok_.kind == Tok::Op && tok_.text == op; }
  bool is_keyword(std::string_view word) const {
    if (tok_.kind != Tok::Name || tok_.text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (ascii_lower(tok_.text[i]) != word[i]) return false;
    return true;
  }

  // Joins two subtrees, refusing trees deeper than evaluation may recurse.
  NodePtr binary(Op op, NodePtr l, NodePtr r) {
    const int h = std::max(l->height, r->height) + 1;
    if (h > Expression::kMaxDepth) return fail("expression nested too deeply");
    auto n = std::make_unique<Binary>(op, std::move(l), std::move(r));
    n->height = h;
    return n;
  }

  template <class T>
  NodePtr unary(NodePtr child) {
    const int h = child->height + 1;
    if (h > Expression::kMaxDepth) return fail("expression nested too deeply");
    auto n = std::make_unique<T>(std::move(child));
    n->height = h;
    return n;
  }

  // Guards the parser's own recursion (parentheses, function arguments, unary operators).
  struct DepthGuard {
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
    int& depth;
  };

  NodePtr parse_or() {
    DepthGuard guard(depth_);
    if (depth_ > Expression::kMaxDepth) return fail("expression nested too deeply");
    NodePtr l = parse_and();
    while (l && is_keyword("or")) {
      advance();
      NodePtr r = parse_and();
      if (!r) return nullptr;
      l = binary(Op::Or, std::move(l), std::move(r));
    }
    return l;
  }

  NodePtr parse_and() {
    NodePtr l = parse_not();
    while (l && is_keyword("and")) {
      advance();
      NodePtr r = parse_not();
      if (!r) return nullptr;
      l = binary(Op::And, std::move(l), std::move(r));
    }
    return l;
  }

  NodePtr parse_not() {
    if (is_keyword("not")) {
      DepthGuard guard(depth_);
      if (depth_ > Expression::kMaxDepth) return fail("expression nested too deeply");
      advance();
      NodePtr c = parse_not();
      if (!c) return nullptr;
      return unary<Not>(std::move(c));
    }
    return parse_comparison();
  }

  NodePtr parse_comparison() {
    NodePtr l = parse_additive();
    while (l && tok_.kind == Tok::Op) {
      Op op;
      if (tok_.text == "=") op = Op::Eq;
      else if (tok_.text == "<>") op = Op::Ne;
      else if (tok_.text == "<") op = Op::Lt;
      else if (tok_.text == ">") op = Op::Gt;
      else if (tok_.text == "<=") op = Op::Le;
      else if (tok_.text == ">=") op = Op::Ge;
      else break;
      advance();
      NodePtr r = parse_additive();
      if (!r) return nullptr;
      l = binary(op, std::move(l), std::move(r));
    }
    return l;
  }

  NodePtr parse_additive() {
    NodePtr l = parse_multiplicative();
    while (l && (is_op("+") || is_op("-"))) {
      const Op op = tok_.text == "+" ? Op::Add : Op::Sub;
      advance();
      NodePtr r = parse_multiplicative();
      if (!r) return nullptr;
      l = binary(op, std::move(l), std::move(r));
    }
    return l;
  }

  NodePtr parse_multiplicative() {
    NodePtr l = parse_unary();
    while (l && (is_op("*") || is_op("/"))) {
      const Op op = tok_.text == "*" ? Op::Mul : Op::Div;
      advance();
      NodePtr r = parse_unary();
      if (!r) return nullptr;
      l = binary(op, std::move(l), std::move(r));
    }
    return l;
  }

  NodePtr parse_unary() {
    if (is_op("-") || is_op("+")) {
      DepthGuard guard(depth_);
      if (depth_ > Expression::kMaxDepth) return fail("expression nested too deeply");
      const bool negate = tok_.text == "-";
      advance();
      NodePtr c = parse_unary();
      if (!c || !negate) return c;
      return unary<Negate>(std::move(c));
    }
    return parse_primary();
  }

  NodePtr parse_primary() {
    switch (tok_.kind) {
      case Tok::Number: {
        const std::string t = tok_.text;
        advance();
        if (t.find('.') == std::string::npos) {
          long long v = 0;
          auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
          if (ec == std::errc() && p == t.data() + t.size()) return std::make_unique<Literal>(Value(v));
        }
        double d = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
        if (ec != std::errc() || p != t.data() + t.size()) return fail("bad number " + t);
        return std::make_unique<Literal>(Value(d));
      }
      case Tok::Text: {
        NodePtr n = std::make_unique<Literal>(Value(tok_.text));
        advance();
        return n;
      }
      case Tok::LParen: {
        advance();
        NodePtr n = parse_or();
        if (!n) return nullptr;
        if (tok_.kind != Tok::RParen) return fail("expected ')' but found " + describe(tok_));
        advance();
        return n;
      }
      case Tok::Name: return parse_name();
      case Tok::Bad: return fail(tok_.text);
      default: return fail("expected a value but found " + describe(tok_));
    }
  }

  NodePtr parse_name() {
    const Token name = tok_;
    advance();
    if (tok_.kind == Tok::LParen) return parse_call(name);
    const std::string lower = lowered(name.text);
    if (lower == "null") return std::make_unique<Literal>(Value());
    if (lower == "and" || lower == "or" || lower == "not")
      return fail("expected a value but found " + describe(name));
    const int slot = resolver_ ? resolver_(name.text) : -1;
    if (slot < 0) return fail("unknown name '" + name.text + "'");
    slots_.push_back(slot);
    return std::make_unique<SlotRef>(slot);
  }

  NodePtr parse_call(const Token& name) {
    const FunctionInfo* info = find_function(name.text);
    if (!info) return fail("unknown function '" + name.text + "'");
    advance();  // '('
    if (info->aggregate && in_aggregate_) return fail(std::string(info->name) + "() inside an aggregate");
    const bool outer = in_aggregate_;
    in_aggregate_ = in_aggregate_ || info->aggregate;
    std::vector<NodePtr> args;
    int height = 0;
    if (tok_.kind != Tok::RParen) {
      for (;;) {
        NodePtr a = parse_or();
        if (!a) return nullptr;
        height = std::max(height, a->height);
        args.push_back(std::move(a));
        if (tok_.kind == Tok::Comma) {
          advance();
          continue;
        }
        if (tok_.kind != Tok::RParen) return fail("expected ',' or ')' but found " + describe(tok_));
        break;
      }
    }
    advance();  // ')'
    in_aggregate_ = outer;
    const int n = static_cast<int>(args.size());
    if (n < info->min_args || n > info->max_args) {
      std::string want = std::to_string(info->min_args);
      if (info->max_args != info->min_args) want += " or " + std::to_string(info->max_args);
      return fail(std::string(info->name) + "() takes " + want + " argument" + (info->max_args == 1 ? "" : "s") +
                  ", not " + std::to_string(n));
    }
    if (height + 1 > Expression::kMaxDepth) return fail("expression nested too deeply");
    auto call = std::make_unique<Call>(*info, std::move(args));
    call->height = height + 1;
    return call;
  }

  std::string_view text_;
  const SlotResolver& resolver_;
  size_t pos_ = 0;
  Token tok_;
  int depth_ = 0;
  bool in_aggregate_ = false;
  std::vector<int> slots_;
  std::string error_;
};

}  // namespace

std::shared_ptr<const Expression> Expression::parse(std::string_view text, const SlotResolver& resolver,
                                                    std::string& error) {
  error.clear();
  Parser parser(text, resolver);
  NodePtr root = parser.parse_full();
  if (!root) {
    error = parser.error().empty() ? "malformed expression" : parser.error();
    return nullptr;
  }
  root->set_root(std::string(text), parser.slots());
  return std::shared_ptr<const Expression>(std::move(root));
}

std::vector<std::shared_ptr<const Expression>> Expression::parse_list(std::string_view text,
                                                                      const SlotResolver& resolver,
                                                                      std::string& error) {
  error.clear();
  Parser parser(text, resolver);
  std::vector<Parser::Item> items = parser.parse_list();
  if (!parser.error().empty()) {
    error = parser.error();
    return {};
  }
  std::vector<std::shared_ptr<const Expression>> out;
  for (Parser::Item& item : items) {
    item.node->set_root(std::move(item.text), std::move(item.slots));
    out.push_back(std::shared_ptr<const Expression>(std::move(item.node)));
  }
  return out;
}

bool Expression::truthy(const Value& value) {
  switch (value.kind()) {
    case ValueKind::Long: return value.as_long() != 0;
    case ValueKind::Number: return value.as_number() != 0;
    case ValueKind::Text: {
      // Literal property texts (visible=1, protect=0) reach here as texts.
      const std::string t = lowered(value.as_text());
      if (t == "yes" || t == "true") return true;
      double d = 0;
      const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
      return ec == std::errc() && p == t.data() + t.size() && !t.empty() && d != 0;
    }
    default: return false;
  }
}

std::string format_value(const Value& value, std::string_view format) {
  if (format.empty() || lowered(format) == "[general]") return general(value);
  switch (value.kind()) {
    case ValueKind::Null: return {};
    case ValueKind::Text: return text_mask(value.as_text(), format);
    case ValueKind::DateTime: return value.as_datetime().format(format);
    default: return picture_number(value, format);
  }
}

}  // namespace shenbao
