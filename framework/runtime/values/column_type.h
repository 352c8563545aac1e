#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "framework/runtime/values/value.h"

namespace shenbao {

enum class TypeKind { Char, Long, Number, Decimal, DateTime, Date };

// The type of a form column: char(n) (at most n characters), long, number, decimal(s),
// datetime, date. Parsed from and printed as the definition files write it.
struct ColumnType {
  TypeKind kind = TypeKind::Char;
  int size = 255;  // characters of a char column; digits after the point of a decimal

  static std::optional<ColumnType> parse(std::string_view text);
  std::string to_string() const;
  bool is_text() const { return kind == TypeKind::Char; }
  bool is_numeric() const { return kind == TypeKind::Long || kind == TypeKind::Number || kind == TypeKind::Decimal; }
  bool is_date() const { return kind == TypeKind::DateTime || kind == TypeKind::Date; }

  // Makes `value` fit this type: a long for a number column, a whole number for a long column,
  // a date without time for a date column. Answers an error text, and leaves `value` alone,
  // when the value has the wrong kind or a text is longer than the column.
  std::optional<std::string> coerce(Value& value) const;
  // Reads a database's text for a column of this type (PostgreSQL's text results, SQLite's
  // text cells). Text that does not read as the type stays text, so coerce() can refuse it.
  Value from_db_text(std::string_view text) const;
};

// Number of characters (UTF-8 code points) in a text.
size_t utf8_length(std::string_view text);

}  // namespace shenbao
