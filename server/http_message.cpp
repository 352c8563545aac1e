#include "server/http_message.h"

#include <algorithm>

namespace shenbao {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool HeaderNameLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

std::string HttpRequest::get_header_value(std::string_view name, size_t index) const {
  auto [from, to] = headers.equal_range(name);
  for (auto it = from; it != to; ++it, --index)
    if (index == 0) return it->second;
  return {};
}

std::string HttpRequest::get_param_value(const std::string& name) const {
  auto it = params.find(name);
  return it == params.end() ? std::string() : it->second;
}

void HttpAnswer::set_content(std::string content, std::string content_type) {
  body = std::move(content);
  headers.erase("Content-Type");
  headers.emplace("Content-Type", std::move(content_type));
}

std::string percent_decoded(std::string_view text, bool plus_as_blank) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
      i += 2;
    } else {
      out.push_back(plus_as_blank && c == '+' ? ' ' : c);
    }
  }
  return out;
}

}  // namespace shenbao
