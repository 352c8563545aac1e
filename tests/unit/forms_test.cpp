#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "framework/runtime/forms/data_store.h"

namespace shenbao {
namespace {

// The names of the shipped definitions, in name order.
std::vector<std::string> shipped_forms() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(default_form_library().folder())) {
    if (entry.path().extension() == ".form") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every definition the application ships must load: a broken one would only show when a
// clerk opens the window that uses it.
TEST(Forms, EveryShippedDefinitionLoads) {
  size_t loaded = 0;
  for (const std::string& name : shipped_forms()) {
    DataStore store;
    EXPECT_EQ(store.set_dataobject(name), 1) << store.last_error();
    ++loaded;
  }
  EXPECT_GT(loaded, 0u) << "no definitions found in " << default_form_library().folder();
}

// Numbers a clerk types that take any value, each with the reason it needs no least value.
struct Unbounded {
  const char* form;
  const char* column;
  const char* why;
};

constexpr Unbounded kUnbounded[] = {
    {"d_zw_company_form", "zs_tz_xcz", "adjusted count: protected, the window works it out from the entries"},
    {"d_zw_company_form", "zs_tz_xcf", "adjusted count: protected, the window works it out from the entries"},
    {"d_zw_company_form", "zs_tz_dy", "adjusted count: protected, the window works it out from the entries"},
    {"d_zw_company_form", "zs_tz_fdy", "adjusted count: protected, the window works it out from the entries"},
};

// A numeric column written back to the table and shown with an edit style that takes typed
// text: a check box takes its two values and a drop-down its list's codes, whatever their type.
bool typed_number(const FormDef& def, const FormObject& shown) {
  const ColumnDef& column = def.columns[static_cast<size_t>(shown.column)];
  if (!column.type.is_numeric() || !column.updatable) return false;
  const std::string edit = shown.get("edit");
  return edit != "checkbox" && edit != "dropdown" && edit != "none" && shown.get("dddw.name").empty();
}

// Counts of people and units, credits, hours and years of service are never negative: each
// number a clerk types into a shipped form has a least value (`min`, which the form control
// enforces), so "-1" is refused at the field instead of being saved and printed. A number
// that may take any value is listed above with its reason; a listed one that no longer
// takes typed numbers without a `min` is reported too, so the list stays true.
TEST(Forms, EveryTypedNumberHasALeastValue) {
  std::set<std::pair<std::string, std::string>> unused;
  for (const Unbounded& u : kUnbounded) unused.emplace(u.form, u.column);
  for (const std::string& name : shipped_forms()) {
    std::string error;
    const auto def = default_form_library().load(name, error);
    ASSERT_TRUE(def) << name << ": " << error;
    for (const FormObject& shown : def->objects) {
      if (shown.kind != ObjectKind::Column || !typed_number(*def, shown) || shown.find("min")) continue;
      const std::string& column = def->columns[static_cast<size_t>(shown.column)].name;
      if (unused.erase({name, column}) > 0) continue;
      ADD_FAILURE() << name << "." << column << " takes a typed number but has no min (min=0 for a count)";
    }
  }
  for (const auto& [form, column] : unused)
    ADD_FAILURE() << form << "." << column << " is listed as taking any number but is no typed number without min";
}

}  // namespace
}  // namespace shenbao
