#include "framework/runtime/forms/syntax.h"

#include <algorithm>

namespace shenbao {
namespace {

bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9') || c == '.'; }

void skip_blanks(std::string_view text, size_t& pos) {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
}

std::string describe_char(char c) {
  if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
    static const char kHex[] = "0123456789abcdef";
    const unsigned char u = static_cast<unsigned char>(c);
    return std::string("byte 0x") + kHex[u >> 4] + kHex[u & 15];
  }
  return std::string("'") + c + "'";
}

int line_of(std::string_view text, size_t pos) {
  pos = std::min(pos, text.size());
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
}

}  // namespace

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

const Property* Statement::find(std::string_view name) const {
  for (const Property& p : properties)
    if (p.name == name) return &p;
  return nullptr;
}

std::string Statement::get(std::string_view name, std::string_view fallback) const {
  const Property* p = find(name);
  return p ? p->value : std::string(fallback);
}

void Statement::set(std::string_view name, std::string value, bool quoted) {
  for (Property& p : properties) {
    if (p.name == name) {
      p.value = std::move(value);
      p.quoted = quoted;
      return;
    }
  }
  properties.push_back({std::string(name), std::move(value), quoted});
}

std::string read_name(std::string_view text, size_t& pos) {
  if (pos >= text.size() || !is_name_start(text[pos])) return {};
  const size_t start = pos;
  while (pos < text.size() && is_name_char(text[pos])) ++pos;
  return std::string(text.substr(start, pos - start));
}

bool read_value(std::string_view text, size_t& pos, Property& out, std::string& error) {
  skip_blanks(text, pos);
  out.value.clear();
  if (pos < text.size() && text[pos] == '"') {
    const size_t open = pos++;
    while (pos < text.size() && text[pos] != '"') {
      char c = text[pos];
      if (c == '\\') {
        if (pos + 1 >= text.size()) break;
        switch (text[pos + 1]) {
          case '"': c = '"'; break;
          case '\\': c = '\\'; break;
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          default:
            ++pos;
            error = "unknown escape \\" + std::string(1, text[pos]) + " in a quoted value";
            return false;
        }
        ++pos;
      }
      out.value += c;
      ++pos;
    }
    if (pos >= text.size()) {
      pos = open;
      error = "quoted value without its closing \"";
      return false;
    }
    ++pos;
    out.quoted = true;
    return true;
  }
  // Bare: up to a blank, a quote or a ')' that closes nothing opened inside the value.
  const size_t start = pos;
  int depth = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (is_blank(c) || c == '"') break;
    if (c == '(') ++depth;
    if (c == ')') {
      if (depth == 0) break;
      --depth;
    }
    ++pos;
  }
  if (pos == start) {
    error = pos < text.size() ? "missing value before " + describe_char(text[pos]) : "missing value at the end";
    return false;
  }
  if (depth != 0) {
    error = "unbalanced '(' in value " + std::string(text.substr(start, pos - start));
    pos = start;
    return false;
  }
  out.value.assign(text.substr(start, pos - start));
  out.quoted = false;
  return true;
}

std::optional<Statement> read_statement(std::string_view text, size_t& pos, std::string& error) {
  skip_blanks(text, pos);
  const size_t start = pos;
  Statement st;
  st.kind = read_name(text, pos);
  if (st.kind.empty()) {
    error = pos < text.size() ? "expected a statement, found " + describe_char(text[pos]) : "expected a statement";
    return std::nullopt;
  }
  skip_blanks(text, pos);
  if (pos >= text.size() || text[pos] != '(') {
    error = "expected '(' after " + st.kind;
    return std::nullopt;
  }
  ++pos;
  for (;;) {
    skip_blanks(text, pos);
    if (pos >= text.size()) {
      pos = start;
      error = st.kind + "(...) is not closed with ')'";
      return std::nullopt;
    }
    if (text[pos] == ')') {
      ++pos;
      return st;
    }
    Property p;
    p.name = read_name(text, pos);
    if (p.name.empty()) {
      error = "expected a property name in " + st.kind + "(...), found " + describe_char(text[pos]);
      return std::nullopt;
    }
    skip_blanks(text, pos);
    if (pos >= text.size() || text[pos] != '=') {
      error = "expected '=' after " + p.name;
      return std::nullopt;
    }
    ++pos;
    std::string why;
    if (!read_value(text, pos, p, why)) {
      error = p.name + ": " + why;
      return std::nullopt;
    }
    if (st.find(p.name)) {
      error = "property " + p.name + " given twice in " + st.kind + "(...)";
      return std::nullopt;
    }
    st.properties.push_back(std::move(p));
  }
}

std::vector<Statement> parse_statements(std::string_view text, std::string& error) {
  error.clear();
  std::vector<Statement> out;
  size_t pos = 0;
  for (;;) {
    skip_blanks(text, pos);
    if (pos >= text.size()) break;
    if (text[pos] == '#') {
      // A comment runs to the end of its line.
      while (pos < text.size() && text[pos] != '\n') ++pos;
      continue;
    }
    const size_t start = pos;
    std::string why;
    auto st = read_statement(text, pos, why);
    if (!st) {
      error = "line " + std::to_string(line_of(text, pos)) + ": " + why;
      return {};
    }
    st->line = line_of(text, start);
    out.push_back(std::move(*st));
  }
  return out;
}

bool value_needs_quotes(std::string_view value) {
  if (value.empty()) return true;
  int depth = 0;
  for (char c : value) {
    if (is_blank(c) || c == '"') return true;
    if (c == '(') ++depth;
    if (c == ')' && --depth < 0) return true;
  }
  return depth != 0;
}

namespace {

// Always in quotes, with the escapes the reader knows.
std::string quoted(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string quote_value(std::string_view value) {
  return value_needs_quotes(value) ? quoted(value) : std::string(value);
}

std::string print_statements(const std::vector<Statement>& statements) {
  std::string out;
  for (const Statement& st : statements) {
    out += st.kind;
    out += '(';
    bool first = true;
    for (const Property& p : st.properties) {
      if (!first) out += ' ';
      first = false;
      out += p.name;
      out += '=';
      out += p.quoted ? quoted(p.value) : quote_value(p.value);
    }
    out += ")\n";
  }
  return out;
}

}  // namespace shenbao
