#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/values/value.h"

namespace shenbao {

// The values of one row packed one after the other in a single allocation: per value a tag
// byte, then only the bytes the value needs. A null is its tag alone, a text of up to 127 bytes
// is its tag (holding the length) and its bytes, a whole number takes 1, 2, 4 or 8 bytes by its
// size, a date-time 4 or 8. Rows are many and mostly read: a row of 20 columns takes about the
// size of its values instead of 16 bytes per cell plus a heap block per long text.
//
//   std::string packed;
//   for (const Value& v : values) PackedRow::append(packed, v);
//   PackedRow row(packed);
//   Value third = row.get(2);
//
// Reading a value walks the tags before it. An empty PackedRow holds no values.
class PackedRow {
 public:
  PackedRow() = default;
  // The row whose packed values (appended with append()) are `packed`.
  explicit PackedRow(const std::string& packed);
  PackedRow(const PackedRow& other);
  PackedRow(PackedRow&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
  PackedRow& operator=(const PackedRow& other);
  PackedRow& operator=(PackedRow&& other) noexcept;
  ~PackedRow();

  static void append(std::string& packed, const Value& value);
  // The same for a value of a known kind, without making a Value of it.
  static void append_null(std::string& packed);
  static void append_long(std::string& packed, int64_t value);
  static void append_number(std::string& packed, double value);
  static void append_text(std::string& packed, std::string_view text);
  static void append_datetime(std::string& packed, DateTime value);

  explicit operator bool() const { return data_ != nullptr; }
  Value get(size_t column) const;
  // Every value, in column order.
  std::vector<Value> unpack() const;
  // Replaces the value of a column: the row is packed again.
  void set(size_t column, const Value& value);
  // Bytes allocated for the row, with the allocator's own header.
  size_t memory_used() const;

 private:
  static constexpr size_t kHeader = sizeof(uint32_t);  // the length of what follows
  uint32_t length() const;
  const unsigned char* at(size_t column) const;
  static Value value_at(const unsigned char* p);
  void assign(const char* packed, size_t length);

  unsigned char* data_ = nullptr;
};

}  // namespace shenbao
