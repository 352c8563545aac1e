// Feeds bytes to Expression::parse / parse_list and evaluates what parses over a few rows;
// also uses the bytes as a display format.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/forms/expression.h"

namespace {

class Rows : public shenbao::ExpressionContext {
 public:
  std::vector<std::vector<shenbao::Value>> rows;
  shenbao::Value slot_value(int slot, long row) const override {
    if (row < 1 || row > static_cast<long>(rows.size())) return {};
    const auto& r = rows[static_cast<size_t>(row - 1)];
    return slot >= 0 && slot < static_cast<int>(r.size()) ? r[static_cast<size_t>(slot)] : shenbao::Value();
  }
  long row_count() const override { return static_cast<long>(rows.size()); }
  long current_row() const override { return 1; }
  shenbao::DateTime today() const override { return shenbao::DateTime::from_civil(2009, 6, 15); }
};

int resolve(std::string_view name) {
  static const char* names[] = {"n", "l", "d", "t", "z"};
  for (int i = 0; i < 5; ++i)
    if (name == names[i]) return i;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const Rows context = [] {
    Rows r;
    r.rows = {
        {shenbao::Value(1.5), shenbao::Value(9223372036854775807LL), shenbao::Value(shenbao::DateTime::from_civil(1979, 3, 8)),
         shenbao::Value("中文 text"), shenbao::Value()},
        {shenbao::Value(-0.0), shenbao::Value(-9223372036854775807LL - 1), shenbao::Value(shenbao::DateTime()),
         shenbao::Value(""), shenbao::Value()},
        {shenbao::Value(1e308), shenbao::Value(0), shenbao::Value(), shenbao::Value("\xff\xfe"), shenbao::Value()},
    };
    return r;
  }();
  std::string error;
  if (auto e = shenbao::Expression::parse(text, resolve, error)) {
    for (long row = 0; row <= 4; ++row) e->evaluate(context, row);
  }
  for (const auto& e : shenbao::Expression::parse_list(text, resolve, error)) e->evaluate(context, 1);
  for (const auto& row : context.rows)
    for (const auto& v : row) shenbao::format_value(v, text);
  return 0;
}
