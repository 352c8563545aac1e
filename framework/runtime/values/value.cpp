#include "framework/runtime/values/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace shenbao {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), after H. Hinnant's algorithm.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
  int year;
  int month;
  int day;
};

Civil civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads exactly `width` digits at `pos`; false when they are not all digits.
bool read_digits(std::string_view s, size_t pos, size_t width, int& out) {
  if (pos + width > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

DateTime DateTime::from_civil(int year, int month, int day, int hour, int minute, int second) {
  return DateTime(days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                  hour * 3600 + minute * 60 + second);
}

std::optional<DateTime> DateTime::parse(std::string_view s) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  size_t pos = 0;
  if (s.size() == 8 && read_digits(s, 0, 4, y) && read_digits(s, 4, 2, mo) && read_digits(s, 6, 2, d)) {
    pos = 8;
  } else {
    if (!read_digits(s, 0, 4, y) || s.size() < 10 || s[4] != '-' || !read_digits(s, 5, 2, mo) || s[7] != '-' ||
        !read_digits(s, 8, 2, d))
      return std::nullopt;
    pos = 10;
    if (pos < s.size()) {
      if (s[pos] != ' ' && s[pos] != 'T') return std::nullopt;
      if (!read_digits(s, pos + 1, 2, h) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
          !read_digits(s, pos + 4, 2, mi))
        return std::nullopt;
      pos += 6;
      if (pos < s.size() && s[pos] == ':') {
        if (!read_digits(s, pos + 1, 2, se)) return std::nullopt;
        pos += 3;
        if (pos < s.size() && s[pos] == '.') {
          ++pos;
          while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        }
      }
    }
  }
  if (pos != s.size()) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo) || h > 23 || mi > 59 || se > 59) return std::nullopt;
  return from_civil(y, mo, d, h, mi, se);
}

int DateTime::year() const { return civil_from_days(floor_div(seconds_, 86400)).year; }
int DateTime::month() const { return civil_from_days(floor_div(seconds_, 86400)).month; }
int DateTime::day() const { return civil_from_days(floor_div(seconds_, 86400)).day; }

std::string DateTime::to_string() const { return format(has_time() ? "yyyy-mm-dd hh:mi:ss" : "yyyy-mm-dd"); }

std::string DateTime::to_sql_text() const { return format("yyyy-mm-dd hh:mi:ss"); }

std::string DateTime::format(std::string_view picture) const {
  const Civil c = civil_from_days(floor_div(seconds_, 86400));
  std::string out;
  char buf[16];
  auto put = [&](int v, int width) {
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    out += buf;
  };
  bool after_hour = false;
  for (size_t i = 0; i < picture.size();) {
    auto at = [&](std::string_view token) { return picture.substr(i, token.size()) == token; };
    if (at("yyyy")) { put(c.year, 4); i += 4; after_hour = false; }
    else if (at("yy")) { put(c.year % 100, 2); i += 2; }
    else if (at("hh")) { put(hour(), 2); i += 2; after_hour = true; }
    else if (at("mi") || (after_hour && at("mm"))) { put(minute(), 2); i += 2; }
    else if (at("mm")) { put(c.month, 2); i += 2; }
    else if (at("dd")) { put(c.day, 2); i += 2; }
    else if (at("ss")) { put(second(), 2); i += 2; }
    else { out += picture[i]; ++i; }
  }
  return out;
}

Value::Value(long long v) {
  raw_[kKindByte] = kLong;
  int64_t x = v;
  std::memcpy(raw_, &x, 8);
}

Value::Value(double v) {
  raw_[kKindByte] = kNumber;
  std::memcpy(raw_, &v, 8);
}

Value::Value(std::string_view text) {
  if (text.size() <= kInlineCapacity) {
    raw_[kKindByte] = kInlineText;
    raw_[kInlineLengthByte] = static_cast<unsigned char>(text.size());
    if (!text.empty()) std::memcpy(raw_, text.data(), text.size());
  } else {
    raw_[kKindByte] = kHeapText;
    char* p = new char[text.size()];
    std::memcpy(p, text.data(), text.size());
    const uint32_t n = static_cast<uint32_t>(text.size());
    std::memcpy(raw_, &p, sizeof p);
    std::memcpy(raw_ + 8, &n, 4);
  }
}

Value::Value(DateTime v) {
  raw_[kKindByte] = kDateTime;
  const int64_t s = v.seconds_since_epoch();
  std::memcpy(raw_, &s, 8);
}

Value::Value(const Value& other) { copy_from(other); }

Value::Value(Value&& other) noexcept {
  std::memcpy(raw_, other.raw_, 16);
  other.raw_[kKindByte] = kNull;
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    release();
    copy_from(other);
  }
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    release();
    std::memcpy(raw_, other.raw_, 16);
    other.raw_[kKindByte] = kNull;
  }
  return *this;
}

void Value::release() {
  if (raw_[kKindByte] == kHeapText) {
    char* p;
    std::memcpy(&p, raw_, sizeof p);
    delete[] p;
  }
  raw_[kKindByte] = kNull;
}

void Value::copy_from(const Value& other) {
  if (other.raw_[kKindByte] == kHeapText) {
    new (this) Value(other.as_text());
  } else {
    std::memcpy(raw_, other.raw_, 16);
  }
}

ValueKind Value::kind() const {
  switch (raw_[kKindByte]) {
    case kLong: return ValueKind::Long;
    case kNumber: return ValueKind::Number;
    case kInlineText:
    case kHeapText: return ValueKind::Text;
    case kDateTime: return ValueKind::DateTime;
    default: return ValueKind::Null;
  }
}

int64_t Value::as_long() const {
  if (raw_[kKindByte] == kLong) {
    int64_t v;
    std::memcpy(&v, raw_, 8);
    return v;
  }
  if (raw_[kKindByte] == kNumber) return static_cast<int64_t>(std::llround(as_number()));
  return 0;
}

double Value::as_number() const {
  if (raw_[kKindByte] == kNumber) {
    double v;
    std::memcpy(&v, raw_, 8);
    return v;
  }
  if (raw_[kKindByte] == kLong) return static_cast<double>(as_long());
  return 0;
}

std::string_view Value::as_text() const {
  if (raw_[kKindByte] == kInlineText) return {reinterpret_cast<const char*>(raw_), raw_[kInlineLengthByte]};
  if (raw_[kKindByte] == kHeapText) {
    const char* p;
    uint32_t n;
    std::memcpy(&p, raw_, sizeof p);
    std::memcpy(&n, raw_ + 8, 4);
    return {p, n};
  }
  return {};
}

DateTime Value::as_datetime() const {
  if (raw_[kKindByte] != kDateTime) return {};
  int64_t s;
  std::memcpy(&s, raw_, 8);
  return DateTime::from_epoch_seconds(s);
}

std::string format_number(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string Value::to_string() const {
  switch (kind()) {
    case ValueKind::Null: return "null";
    case ValueKind::Long: return std::to_string(as_long());
    case ValueKind::Number: return format_number(as_number());
    case ValueKind::Text: return std::string(as_text());
    case ValueKind::DateTime: return as_datetime().to_string();
  }
  return {};
}

size_t Value::payload_size() const {
  switch (kind()) {
    case ValueKind::Null: return 0;
    case ValueKind::Text: return as_text().size();
    default: return 8;
  }
}

bool Value::operator==(const Value& other) const {
  const bool same_kind = kind() == other.kind() || (is_numeric() && other.is_numeric());
  return same_kind && compare(other) == 0;
}

int Value::compare(const Value& other) const {
  auto rank = [](ValueKind k) {
    switch (k) {
      case ValueKind::Null: return 0;
      case ValueKind::Long:
      case ValueKind::Number: return 1;
      case ValueKind::Text: return 2;
      case ValueKind::DateTime: return 3;
    }
    return 0;
  };
  const int ra = rank(kind()), rb = rank(other.kind());
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (kind()) {
    case ValueKind::Null: return 0;
    case ValueKind::Long:
      if (other.kind() == ValueKind::Long) return as_long() < other.as_long() ? -1 : as_long() > other.as_long();
      [[fallthrough]];
    case ValueKind::Number: {
      const double a = as_number(), b = other.as_number();
      return a < b ? -1 : a > b;
    }
    case ValueKind::Text: {
      const int c = as_text().compare(other.as_text());
      return c < 0 ? -1 : c > 0;
    }
    case ValueKind::DateTime: {
      const auto a = as_datetime(), b = other.as_datetime();
      return a < b ? -1 : b < a;
    }
  }
  return 0;
}

}  // namespace shenbao
