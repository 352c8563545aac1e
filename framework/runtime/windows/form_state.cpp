#include "framework/runtime/windows/form_state.h"

#include <charconv>
#include <cmath>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/expression.h"
#include "framework/runtime/reports/report.h"

namespace shenbao {
namespace {

using nlohmann::json;

json value_json(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null: return nullptr;
    case ValueKind::Long: return v.as_long();
    case ValueKind::Number: return v.as_number();
    default: return v.to_string();
  }
}

// The column object (display properties) of a column, or nullptr when it is not shown.
const FormObject* shown_column(const FormDef& def, int column) {
  for (const auto& object : def.objects) {
    if (object.kind == ObjectKind::Column && object.column == column) return &object;
  }
  return nullptr;
}

// A computed field of a row as the form shows it: its value in the field's format.
std::string computed_text(const DataStore& store, const FormObject& field, long row) {
  return format_value(store.getitem_any(row, field.name), field.get("format"));
}

// A geometry property of a definition in finer units, in pixels; other properties as they are.
std::string to_pixels(const UnitScale& scale, std::string_view name, const std::string& text) {
  double factor = 0;
  if (name == "x" || name == "x1" || name == "x2" || name == "width" || name == "pen.width") factor = scale.x;
  if (name == "y" || name == "y1" || name == "y2" || name == "height") factor = scale.y;
  if (factor == 0) return text;
  std::string_view digits = text;
  if (digits.size() >= 2 && digits.front() == '\'' && digits.back() == '\'') digits = digits.substr(1, digits.size() - 2);
  long long v = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec != std::errc() || end != digits.data() + digits.size()) return text;
  return std::to_string(std::llround(static_cast<double>(v) * factor));
}

}  // namespace

json form_definition_json(const DataStore& store) {
  const FormDef& def = store.def();
  json form = json::object();
  form["dataobject"] = store.dataobject();
  form["style"] = to_string(def.style);
  // As the print engine reads it: a script's modify writes 'Yes' in quotes.
  form["preview"] = in_print_preview(store);
  // The browser draws in pixels: a definition in finer units is turned into them here.
  const UnitScale scale = unit_scale(def);
  auto down = [&](int v) { return static_cast<int>(std::lround(v * scale.y)); };
  form["bands"] = {{"header", down(def.band_height[0])},
                   {"detail", down(def.band_height[1])},
                   {"summary", down(def.band_height[2])},
                   {"footer", down(def.band_height[3])}};
  json columns = json::array();
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const ColumnDef& column = def.columns[c];
    json entry = {{"name", column.name}, {"type", column.type.to_string()}};
    if (column.updatable && !def.update_table.empty()) entry["update"] = true;
    if (const FormObject* shown = shown_column(def, static_cast<int>(c)))
      entry["edit"] = shown->get("edit", shown->find("dddw.name") ? "dropdown" : "edit");
    columns.push_back(std::move(entry));
  }
  form["columns"] = std::move(columns);
  json objects = json::array();
  for (const auto& object : def.objects) {
    json o = {{"kind", to_string(object.kind)}, {"name", object.name}, {"band", to_string(object.band)}};
    if (object.column >= 0) o["column"] = def.columns[static_cast<size_t>(object.column)].name;
    for (const auto& p : object.properties) {
      if (!p.expression) o[p.name] = scale.is_pixels() ? p.text : to_pixels(scale, p.name, p.text);
    }
    objects.push_back(std::move(o));
  }
  form["objects"] = std::move(objects);
  return form;
}

json form_lists_json(DataStore& store) {
  const FormDef& def = store.def();
  json lists = json::object();
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const FormObject* shown = shown_column(def, static_cast<int>(c));
    if (!shown || !shown->find("dddw.name")) continue;
    const std::string& name = def.columns[c].name;
    if (DataStore* list = store.getchild(name); list && list->has_definition()) {
      const int data = list->def().column_index(shown->get("dddw.data"));
      const int display = list->def().column_index(shown->get("dddw.display"));
      json items = json::array();
      for (long r = 1; data >= 0 && display >= 0 && r <= list->rowcount(); ++r)
        items.push_back({list->getitem(r, data + 1).to_string(), list->getitem(r, display + 1).to_string()});
      lists[name] = std::move(items);
    }
  }
  return {{"lists", std::move(lists)}};
}

json form_rows_json(const DataStore& store, long from, long count) {
  const FormDef& def = store.def();
  std::vector<std::pair<const FormObject*, const ObjectProperty*>> per_row;
  std::vector<const FormObject*> row_computes;
  json band_computes = json::object();
  for (const auto& object : def.objects) {
    if (object.kind == ObjectKind::Compute) {
      if (object.band == Band::Detail) {
        row_computes.push_back(&object);
      } else if (store.rowcount() > 0) {
        // Header, summary and footer fields are read at the first row, as their totals and
        // counts over all rows come out the same at any row.
        band_computes[object.name] = computed_text(store, object, 1);
      }
    }
    for (const auto& p : object.properties) {
      if (p.expression) per_row.emplace_back(&object, &p);
    }
  }
  json rows = json::array();
  for (long r = from; r < from + count && r <= store.rowcount(); ++r) {
    json values = json::array();
    json codes = json::array();
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const int column = static_cast<int>(c) + 1;
      const Value v = store.getitem(r, column);
      codes.push_back(value_json(v));
      // A number is shown in its column's display format ("0.00%" shows 0.125 as 12.50%),
      // as the user then edits it.
      const FormObject* shown = v.is_numeric() ? shown_column(def, static_cast<int>(c)) : nullptr;
      if (shown && !shown->find("dddw.name") && !shown->get("format").empty())
        values.push_back(format_value(v, shown->get("format")));
      else
        values.push_back(store.display_value(r, column));
    }
    json row = {{"values", std::move(values)}, {"codes", std::move(codes)}};
    if (!per_row.empty() || !row_computes.empty()) {
      json attributes = json::object();
      for (const auto& [object, property] : per_row)
        attributes[object->name + "." + property->name] = value_json(store.property_value(*object, property->name, r));
      for (const FormObject* object : row_computes) attributes[object->name + ".value"] = computed_text(store, *object, r);
      row["attributes"] = std::move(attributes);
    }
    rows.push_back(std::move(row));
  }
  json form = json::object();
  form["computed"] = std::move(band_computes);
  form["row_count"] = store.rowcount();
  form["rows_from"] = from;
  form["rows"] = std::move(rows);
  form["current_row"] = store.getrow();
  form["modified"] = store.modifiedcount() > 0 || store.deletedcount() > 0;
  form["current_column"] = store.getcolumnname();
  return form;
}

std::string compact_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }


namespace {

// The members of `part` added to `form`.
void add_members(json& form, const json& part) {
  for (auto it = part.begin(); it != part.end(); ++it) form[it.key()] = it.value();
}

}  // namespace

json form_json(DataStore& store, long from, long count) {
  json form = json::object();
  if (!store.has_definition()) return form;
  add_members(form, form_definition_json(store));
  add_members(form, form_lists_json(store));
  add_members(form, form_rows_json(store, from, count));
  return form;
}


}  // namespace shenbao
