#include "server/request_head.h"

#include <algorithm>
#include <optional>

namespace shenbao {
namespace {

bool is_token_char(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool is_value_char(unsigned char c) { return c == ' ' || c == '\t' || (c >= 0x21 && c != 0x7F); }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x | 0x20) == (y | 0x20);
         });
}

std::string_view trimmed(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

// Calls `line` with each line of the head without its CR LF; "" for a sound split, else why not.
template <typename Fn>
std::string each_line(std::string_view head, Fn&& line) {
  size_t at = 0;
  while (at < head.size()) {
    const size_t lf = head.find('\n', at);
    if (lf == std::string_view::npos) return "a line without its end";
    if (lf == at || head[lf - 1] != '\r') return "a line ending in a bare LF";
    std::string_view text = head.substr(at, lf - 1 - at);
    if (text.find('\r') != std::string_view::npos) return "a bare CR";
    if (std::string reason = line(text); !reason.empty()) return reason;
    at = lf + 1;
  }
  return {};
}

}  // namespace

std::string request_head_fault(std::string_view head) {
  bool first = true;
  bool ended = false;
  std::optional<std::string_view> length;
  int encodings = 0;
  std::string_view encoding;
  std::string reason = each_line(head, [&](std::string_view text) -> std::string {
    if (ended) return "bytes after the end of the head";
    if (first) {
      first = false;
      if (text.empty()) return "an empty request line";
      for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return "a control character in the request line";
      return {};
    }
    if (text.empty()) {
      ended = true;
      return {};
    }
    if (text.front() == ' ' || text.front() == '\t') return "a folded header line";
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return "a header line without a colon";
    const std::string_view name = text.substr(0, colon);
    if (name.empty()) return "a header line without a name";
    for (unsigned char c : name) {
      if (c == ' ' || c == '\t') return "whitespace before the colon of a header";
      if (!is_token_char(c)) return "a header name with a character not allowed in it";
    }
    const std::string_view value = text.substr(colon + 1);
    for (unsigned char c : value)
      if (!is_value_char(c)) return "a control character in a header value";
    if (same_name(name, "Content-Length")) {
      const std::string_view v = trimmed(value);
      if (v.empty() || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "a Content-Length that is not a number";
      if (length && *length != v) return "two different Content-Length values";
      length = v;
    } else if (same_name(name, "Transfer-Encoding")) {
      ++encodings;
      encoding = trimmed(value);
    }
    return {};
  });
  if (!reason.empty()) return reason;
  if (!ended) return "a head without its end";
  if (encodings > 1 || (encodings == 1 && !same_name(encoding, "chunked")))
    return "a Transfer-Encoding other than a lone chunked";
  return {};
}

}  // namespace shenbao
