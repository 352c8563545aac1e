// Feeds bytes to the statement reader, FormDef::parse, modify and describe. Besides crashes it
// checks the round trips: printing parsed statements reads back the same, to_text of a parsed
// definition is a fixed point, and a failed modify leaves the definition as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "framework/runtime/forms/form_def.h"
#include "framework/runtime/forms/syntax.h"

namespace {

const char kBase[] =
    "form(name=f style=grid)\nheader(height=20)\ntable(retrieve=\"select a, b from t\" update=t)\n"
    "column(name=a type=long key=yes x=1 y=1 width=10 height=10)\ncolumn(name=b type=char(10))\n"
    "text(name=t band=header text=\"A\")\ncompute(name=c expression=\"sum(a)\")\n"
    "compute(name=d expression=\"c + a\" visible=\"=if(a > 1, 1, 0)\")\n";

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "round trip broken: %s\n", what);
  std::abort();
}

bool same(const std::vector<shenbao::Statement>& x, const std::vector<shenbao::Statement>& y) {
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (x[i].kind != y[i].kind || x[i].properties.size() != y[i].properties.size()) return false;
    for (size_t j = 0; j < x[i].properties.size(); ++j) {
      const auto& p = x[i].properties[j];
      const auto& q = y[i].properties[j];
      if (p.name != q.name || p.value != q.value || p.quoted != q.quoted) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto statements = shenbao::parse_statements(text, error);
  if (error.empty()) {
    const auto again = shenbao::parse_statements(shenbao::print_statements(statements), error);
    check(error.empty() && same(statements, again), "statements");
  }

  if (auto def = shenbao::FormDef::parse(text, error)) {
    const std::string printed = def->to_text();
    auto again = shenbao::FormDef::parse(printed, error);
    check(again.has_value() && again->to_text() == printed, "to_text of a parsed definition");
    def->describe(text);
  }

  static const shenbao::FormDef base = *shenbao::FormDef::parse(kBase, error);
  shenbao::FormDef def = base;
  const std::string before = def.to_text();
  if (!def.modify(text).empty()) {
    check(def.to_text() == before, "failed modify changed the definition");
  } else {
    auto again = shenbao::FormDef::parse(def.to_text(), error);
    check(again.has_value() && again->to_text() == def.to_text(), "to_text after modify");
  }
  def.describe(text);
  return 0;
}
