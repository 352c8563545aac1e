#include "framework/runtime/values/packed_row.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace shenbao {
namespace {

// Tag bytes. A tag with its high bit set is a short text whose length is the low seven bits.
enum Tag : unsigned char {
  kNull = 0,
  kLong1,
  kLong2,
  kLong4,
  kLong8,
  kNumber,
  kDate4,
  kDate8,
  kLongText,  // a four-byte length, then the bytes
};
constexpr unsigned char kShortText = 0x80;
constexpr size_t kShortTextMax = 0x7f;

template <typename T>
T read(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void write(std::string& out, T v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// The bytes of the value whose tag is at `p`, its tag included.
size_t packed_size(const unsigned char* p) {
  const unsigned char tag = *p;
  if (tag & kShortText) return 1 + (tag & kShortTextMax);
  switch (tag) {
    case kLong1: return 2;
    case kLong2: return 3;
    case kLong4:
    case kDate4: return 5;
    case kLong8:
    case kNumber:
    case kDate8: return 9;
    case kLongText: return 1 + sizeof(uint32_t) + read<uint32_t>(p + 1);
    default: return 1;
  }
}

void append_whole(std::string& out, int64_t v, unsigned char tag4, unsigned char tag8) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
    out.push_back(static_cast<char>(tag4));
    write(out, static_cast<int32_t>(v));
  } else {
    out.push_back(static_cast<char>(tag8));
    write(out, v);
  }
}

}  // namespace

PackedRow::PackedRow(const std::string& packed) { assign(packed.data(), packed.size()); }

PackedRow::PackedRow(const PackedRow& other) {
  if (other.data_) assign(reinterpret_cast<const char*>(other.data_ + kHeader), other.length());
}

PackedRow& PackedRow::operator=(const PackedRow& other) {
  if (this != &other) {
    PackedRow copy(other);
    *this = std::move(copy);
  }
  return *this;
}

PackedRow& PackedRow::operator=(PackedRow&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = other.data_;
    other.data_ = nullptr;
  }
  return *this;
}

PackedRow::~PackedRow() { std::free(data_); }

void PackedRow::assign(const char* packed, size_t length) {
  auto* data = static_cast<unsigned char*>(std::malloc(kHeader + length));
  if (!data) throw std::bad_alloc();
  const auto n = static_cast<uint32_t>(length);
  std::memcpy(data, &n, sizeof n);
  std::memcpy(data + kHeader, packed, length);
  std::free(data_);
  data_ = data;
}

uint32_t PackedRow::length() const { return read<uint32_t>(data_); }

void PackedRow::append(std::string& out, const Value& value) {
  switch (value.kind()) {
    case ValueKind::Null: append_null(out); return;
    case ValueKind::Long: append_long(out, value.as_long()); return;
    case ValueKind::Number: append_number(out, value.as_number()); return;
    case ValueKind::DateTime: append_datetime(out, value.as_datetime()); return;
    case ValueKind::Text: append_text(out, value.as_text()); return;
  }
}

void PackedRow::append_null(std::string& out) { out.push_back(static_cast<char>(kNull)); }

void PackedRow::append_long(std::string& out, int64_t v) {
  if (v >= std::numeric_limits<int8_t>::min() && v <= std::numeric_limits<int8_t>::max()) {
    out.push_back(static_cast<char>(kLong1));
    write(out, static_cast<int8_t>(v));
  } else if (v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max()) {
    out.push_back(static_cast<char>(kLong2));
    write(out, static_cast<int16_t>(v));
  } else {
    append_whole(out, v, kLong4, kLong8);
  }
}

void PackedRow::append_number(std::string& out, double v) {
  out.push_back(static_cast<char>(kNumber));
  write(out, v);
}

void PackedRow::append_datetime(std::string& out, DateTime v) { append_whole(out, v.seconds_since_epoch(), kDate4, kDate8); }

void PackedRow::append_text(std::string& out, std::string_view text) {
  if (text.size() <= kShortTextMax) {
    out.push_back(static_cast<char>(kShortText | text.size()));
  } else {
    out.push_back(static_cast<char>(kLongText));
    write(out, static_cast<uint32_t>(text.size()));
  }
  out.append(text);
}

const unsigned char* PackedRow::at(size_t column) const {
  const unsigned char* p = data_ + kHeader;
  for (size_t c = 0; c < column; ++c) p += packed_size(p);
  return p;
}

Value PackedRow::get(size_t column) const { return data_ ? value_at(at(column)) : Value(); }

std::vector<Value> PackedRow::unpack() const {
  std::vector<Value> values;
  if (!data_) return values;
  const unsigned char* end = data_ + kHeader + length();
  for (const unsigned char* p = data_ + kHeader; p < end; p += packed_size(p)) values.push_back(value_at(p));
  return values;
}

Value PackedRow::value_at(const unsigned char* p) {
  const unsigned char tag = *p++;
  if (tag & kShortText) return Value(std::string_view(reinterpret_cast<const char*>(p), tag & kShortTextMax));
  switch (tag) {
    case kLong1: return Value(static_cast<long long>(read<int8_t>(p)));
    case kLong2: return Value(static_cast<long long>(read<int16_t>(p)));
    case kLong4: return Value(static_cast<long long>(read<int32_t>(p)));
    case kLong8: return Value(static_cast<long long>(read<int64_t>(p)));
    case kNumber: return Value(read<double>(p));
    case kDate4: return Value(DateTime::from_epoch_seconds(read<int32_t>(p)));
    case kDate8: return Value(DateTime::from_epoch_seconds(read<int64_t>(p)));
    case kLongText:
      return Value(std::string_view(reinterpret_cast<const char*>(p + sizeof(uint32_t)), read<uint32_t>(p)));
    default: return {};
  }
}

void PackedRow::set(size_t column, const Value& value) {
  const auto* begin = reinterpret_cast<const char*>(data_ + kHeader);
  const auto* cell = reinterpret_cast<const char*>(at(column));
  const size_t before = static_cast<size_t>(cell - begin);
  const size_t old_size = packed_size(reinterpret_cast<const unsigned char*>(cell));
  std::string packed;
  packed.reserve(length() + 16);
  packed.append(begin, before);
  append(packed, value);
  packed.append(cell + old_size, length() - before - old_size);
  assign(packed.data(), packed.size());
}

size_t PackedRow::memory_used() const { return data_ ? malloc_usable_size(data_) + sizeof(size_t) : 0; }

}  // namespace shenbao
