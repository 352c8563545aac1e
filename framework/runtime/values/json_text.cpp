#include "framework/runtime/values/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace shenbao {
namespace {

// The length of the well-formed UTF-8 sequence that starts `text` at `at` (a byte of 0x80 or
// more), or 0 when it is not one: no overlong forms, no surrogates, nothing past U+10FFFF.
size_t utf8_length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : uint8_t{0}; };
  const uint8_t lead = byte(at);
  const auto follows = [&](size_t i, uint8_t low = 0x80, uint8_t high = 0xbf) {
    const uint8_t b = byte(at + i);
    return b >= low && b <= high;
  };
  if (lead >= 0xc2 && lead <= 0xdf) return follows(1) ? 2 : 0;
  if (lead >= 0xe0 && lead <= 0xef) {
    const uint8_t low = lead == 0xe0 ? 0xa0 : 0x80;
    const uint8_t high = lead == 0xed ? 0x9f : 0xbf;
    return follows(1, low, high) && follows(2) ? 3 : 0;
  }
  if (lead >= 0xf0 && lead <= 0xf4) {
    const uint8_t low = lead == 0xf0 ? 0x90 : 0x80;
    const uint8_t high = lead == 0xf4 ? 0x8f : 0xbf;
    return follows(1, low, high) && follows(2) && follows(3) ? 4 : 0;
  }
  return 0;
}

void append_escaped(std::string& out, char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\b': out += "\\b"; return;
    case '\f': out += "\\f"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  const auto b = static_cast<uint8_t>(c);
  out += "\\u00";
  out += kHex[b >> 4];
  out += kHex[b & 0xf];
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  size_t plain_from = 0;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
      ++i;
      continue;
    }
    if (b >= 0x80) {
      if (const size_t length = utf8_length(text, i)) {
        i += length;
        continue;
      }
    }
    out.append(text, plain_from, i - plain_from);
    if (b >= 0x80) {
      out += "\xef\xbf\xbd";
    } else {
      append_escaped(out, text[i]);
    }
    plain_from = ++i;
  }
  out.append(text, plain_from, std::string_view::npos);
  out += '"';
}

JsonTextWriter& JsonTextWriter::key(std::string_view name) {
  separate();
  append_json_string(out_, name);
  out_ += ':';
  return *this;
}

void JsonTextWriter::separate() {
  if (out_.empty()) return;
  if (const char last = out_.back(); last != '{' && last != '[' && last != ':') out_ += ',';
}

void JsonTextWriter::number(long long value) {
  char digits[24];
  out_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void JsonTextWriter::number(double value) {
  if (!std::isfinite(value)) return null();
  char digits[32];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_.append(digits, end);
  if (std::find_if(digits, end, [](char c) { return c == '.' || c == 'e'; }) == end) out_ += ".0";
}

void JsonTextWriter::value(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null: return null();
    case ValueKind::Long: return number(static_cast<long long>(v.as_long()));
    case ValueKind::Number: return number(v.as_number());
    default: return text(v.to_string());
  }
}

}  // namespace shenbao
