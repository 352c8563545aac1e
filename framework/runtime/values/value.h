#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shenbao {

// A civil date and time without a time zone, to the second: what forms show and the
// databases store ("yyyy-mm-dd hh:mm:ss" text on SQLite, `timestamp` on PostgreSQL).
class DateTime {
 public:
  DateTime() = default;
  static DateTime from_civil(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  // Accepts "yyyy-mm-dd", "yyyy-mm-dd hh:mm[:ss[.ffffff]]" (also with 'T'), and "yyyymmdd".
  // Answers nothing for any other text or an impossible date (2009-02-30).
  static std::optional<DateTime> parse(std::string_view text);
  static DateTime from_epoch_seconds(int64_t seconds) { return DateTime(seconds); }

  int year() const;
  int month() const;
  int day() const;
  int hour() const { return static_cast<int>(seconds_of_day() / 3600); }
  int minute() const { return static_cast<int>(seconds_of_day() / 60 % 60); }
  int second() const { return static_cast<int>(seconds_of_day() % 60); }
  DateTime date() const { return DateTime(seconds_ - seconds_of_day()); }
  DateTime plus_days(int days) const { return DateTime(seconds_ + int64_t{days} * 86400); }
  bool has_time() const { return seconds_of_day() != 0; }

  // "yyyy-mm-dd" when the time is 00:00:00, else "yyyy-mm-dd hh:mm:ss".
  std::string to_string() const;
  // Always "yyyy-mm-dd hh:mm:ss": the form stored in the database.
  std::string to_sql_text() const;
  // Formats with the picture letters yyyy, yy, mm, dd, hh, mm (after hh:), ss; anything else
  // is copied ("yyyy年mm月dd日", "yyyymmdd").
  std::string format(std::string_view picture) const;

  int64_t seconds_since_epoch() const { return seconds_; }
  auto operator<=>(const DateTime&) const = default;

 private:
  explicit DateTime(int64_t seconds) : seconds_(seconds) {}
  int64_t seconds_of_day() const { return ((seconds_ % 86400) + 86400) % 86400; }
  int64_t seconds_ = 0;
};

enum class ValueKind : uint8_t { Null, Long, Number, Text, DateTime };

// One cell: null, a whole number, a number with fraction, a text or a date-time.
// Sixteen bytes; texts of up to 14 bytes are held inline, longer ones on the heap.
class Value {
 public:
  Value() { raw_[kKindByte] = kNull; }
  Value(int v) : Value(static_cast<long long>(v)) {}
  Value(long v) : Value(static_cast<long long>(v)) {}
  Value(long long v);
  Value(double v);
  Value(std::string_view text);
  Value(const char* text) : Value(std::string_view(text)) {}
  Value(const std::string& text) : Value(std::string_view(text)) {}
  Value(DateTime v);
  Value(const Value& other);
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value() { release(); }

  ValueKind kind() const;
  bool is_null() const { return raw_[kKindByte] == kNull; }
  bool is_numeric() const { return kind() == ValueKind::Long || kind() == ValueKind::Number; }

  // Typed reads. Each answers the value when it has that kind; as_number also reads a long.
  // Reading the wrong kind answers 0, the empty text or the epoch: check kind() first.
  int64_t as_long() const;
  double as_number() const;
  std::string_view as_text() const;
  DateTime as_datetime() const;

  // The scenario language's printing: null, 42, 0.5, text as it is, 2009-06-15.
  std::string to_string() const;
  // Bytes the value itself holds: 8 for numbers and dates, the length of a text, 0 for null.
  size_t payload_size() const;

  // Equal kinds and values; a long and a number compare by their numeric values.
  bool operator==(const Value& other) const;
  // Orders null first, then numbers, texts, date-times; within a kind by value.
  int compare(const Value& other) const;

 private:
  static constexpr int kKindByte = 15;
  static constexpr int kInlineLengthByte = 14;
  static constexpr size_t kInlineCapacity = 14;
  enum RawKind : uint8_t { kNull, kLong, kNumber, kInlineText, kHeapText, kDateTime };

  void release();
  void copy_from(const Value& other);
  alignas(8) unsigned char raw_[16];
};

std::string format_number(double v);

}  // namespace shenbao
