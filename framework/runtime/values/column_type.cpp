#include "framework/runtime/values/column_type.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace shenbao {

namespace {

// `value` rounded half away from zero to `scale` digits after the point, as the decimal it
// was written as (2.675 is 2.68, though its nearest double lies just below).
double round_decimal(double value, int scale) {
  if (!std::isfinite(value) || scale < 0 || scale > 15) return value;
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (written.ec != std::errc()) return value;
  std::string digits(text, written.ptr);
  const size_t point = digits.find('.');
  if (point == std::string::npos || digits.size() - point - 1 <= static_cast<size_t>(scale)) return value;
  const bool up = digits[point + 1 + static_cast<size_t>(scale)] >= '5';
  const double unit = std::pow(10.0, -scale);
  double cut = 0;
  digits.resize(point + 1 + static_cast<size_t>(scale));
  std::from_chars(digits.data(), digits.data() + digits.size(), cut);
  if (up) cut += std::copysign(unit, value);
  // The nearest double to the rounded decimal.
  std::snprintf(text, sizeof text, "%.*f", scale, cut);
  double rounded = 0;
  std::from_chars(text, text + std::strlen(text), rounded);
  return rounded == 0 ? 0.0 : rounded;  // no "-0" for a small negative amount
}

}  // namespace

size_t utf8_length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::optional<ColumnType> ColumnType::parse(std::string_view text) {
  auto with_size = [&](std::string_view name, TypeKind kind, int default_size) -> std::optional<ColumnType> {
    if (text.substr(0, name.size()) != name) return std::nullopt;
    std::string_view rest = text.substr(name.size());
    if (rest.empty()) return ColumnType{kind, default_size};
    if (rest.front() != '(' || rest.back() != ')') return std::nullopt;
    rest = rest.substr(1, rest.size() - 2);
    int n = 0;
    auto [p, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (ec != std::errc() || p != rest.data() + rest.size() || n < 0 || n > 1000000) return std::nullopt;
    return ColumnType{kind, n};
  };
  if (text == "long") return ColumnType{TypeKind::Long, 0};
  if (text == "number") return ColumnType{TypeKind::Number, 0};
  if (text == "datetime") return ColumnType{TypeKind::DateTime, 0};
  if (text == "date") return ColumnType{TypeKind::Date, 0};
  if (auto t = with_size("decimal", TypeKind::Decimal, 2)) return t;
  if (auto t = with_size("char", TypeKind::Char, 255); t && t->size > 0) return t;
  return std::nullopt;
}

std::string ColumnType::to_string() const {
  switch (kind) {
    case TypeKind::Char: return "char(" + std::to_string(size) + ")";
    case TypeKind::Long: return "long";
    case TypeKind::Number: return "number";
    case TypeKind::Decimal: return "decimal(" + std::to_string(size) + ")";
    case TypeKind::DateTime: return "datetime";
    case TypeKind::Date: return "date";
  }
  return {};
}

std::optional<std::string> ColumnType::coerce(Value& value) const {
  if (value.is_null()) return std::nullopt;
  const ValueKind k = value.kind();
  auto wrong = [&] {
    static constexpr const char* kKinds[] = {"null", "a whole number", "a number", "a text", "a date-time"};
    return std::string(kKinds[static_cast<int>(k)]) + " \"" + value.to_string() + "\" does not fit a " +
           to_string() + " column";
  };
  switch (kind) {
    case TypeKind::Char: {
      if (k != ValueKind::Text) return wrong();
      const size_t n = utf8_length(value.as_text());
      if (n > static_cast<size_t>(size))
        return "text of " + std::to_string(n) + " characters is longer than " + to_string();
      return std::nullopt;
    }
    case TypeKind::Long:
      if (k == ValueKind::Long) return std::nullopt;
      if (k == ValueKind::Number && std::trunc(value.as_number()) == value.as_number() &&
          std::fabs(value.as_number()) < 9.2e18) {
        value = Value(static_cast<long long>(value.as_number()));
        return std::nullopt;
      }
      return wrong();
    case TypeKind::Number:
      if (k == ValueKind::Number) return std::nullopt;
      if (k == ValueKind::Long) {
        value = Value(static_cast<double>(value.as_long()));
        return std::nullopt;
      }
      return wrong();
    case TypeKind::Decimal:
      // Held to the column's digits after the point, as the database keeps them.
      if (k == ValueKind::Number) {
        value = Value(round_decimal(value.as_number(), size));
        return std::nullopt;
      }
      if (k == ValueKind::Long) {
        value = Value(static_cast<double>(value.as_long()));
        return std::nullopt;
      }
      return wrong();
    case TypeKind::DateTime:
      if (k == ValueKind::DateTime) return std::nullopt;
      return wrong();
    case TypeKind::Date:
      if (k != ValueKind::DateTime) return wrong();
      value = Value(value.as_datetime().date());
      return std::nullopt;
  }
  return wrong();
}

Value ColumnType::from_db_text(std::string_view text) const {
  switch (kind) {
    case TypeKind::Char: return Value(text);
    case TypeKind::Long: {
      long long v = 0;
      auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec == std::errc() && p == text.data() + text.size()) return Value(v);
      [[fallthrough]];
    }
    case TypeKind::Number:
    case TypeKind::Decimal: {
      double d = 0;
      auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec == std::errc() && p == text.data() + text.size()) {
        Value v(d);
        if (kind == TypeKind::Long) coerce(v);
        return v;
      }
      return Value(text);
    }
    case TypeKind::DateTime:
    case TypeKind::Date: {
      if (auto dt = DateTime::parse(text)) return Value(kind == TypeKind::Date ? dt->date() : *dt);
      return Value(text);
    }
  }
  return Value(text);
}

}  // namespace shenbao
