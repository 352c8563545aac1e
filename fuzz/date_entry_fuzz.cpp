// Feeds bytes to DateTime::parse and, as the text typed into a cell, to parse_entry for a date
// and a datetime column (and the number columns beside them); what reads as a date is printed
// and read back, which must give the same date.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "framework/runtime/forms/data_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto dt = shenbao::DateTime::parse(text)) {
    const auto again = shenbao::DateTime::parse(dt->to_sql_text());
    if (!again || again->to_sql_text() != dt->to_sql_text()) std::abort();
  }
  using shenbao::TypeKind;
  for (const shenbao::ColumnType type :
       {shenbao::ColumnType{TypeKind::Date, 0}, shenbao::ColumnType{TypeKind::DateTime, 0},
        shenbao::ColumnType{TypeKind::Long, 0}, shenbao::ColumnType{TypeKind::Decimal, 2},
        shenbao::ColumnType{TypeKind::Char, 10}}) {
    auto entry = shenbao::parse_entry(type, text);
    if (entry && type.is_date() && !entry->is_null()) {
      const auto again = shenbao::DateTime::parse(entry->as_datetime().to_sql_text());
      if (!again) std::abort();
    }
  }
  return 0;
}
