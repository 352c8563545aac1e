#include "framework/runtime/windows/form_state.h"

#include <algorithm>
#include <cmath>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/expression.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/values/json_text.h"

namespace shenbao {
namespace {

using nlohmann::json;

// A part laid out as a JSON tree, held as texts.
StatePart hold(const json& part) {
  StatePart held;
  for (auto it = part.begin(); it != part.end(); ++it) {
    StateMember& member = held[it.key()];
    member.array = it->is_array();
    if (!member.array) {
      member.texts.push_back(compact_text(*it));
      continue;
    }
    member.texts.reserve(it->size());
    for (const json& element : *it) member.texts.push_back(compact_text(element));
  }
  return held;
}

// Adds to `member` the text `write` writes. It is written into `scratch` and kept at its own
// size, as parts are held for as long as the browser shows the form.
template <class Write>
void add_text(StateMember& member, std::string& scratch, Write&& write) {
  scratch.clear();
  JsonTextWriter out(scratch);
  write(out);
  member.texts.emplace_back(scratch);
}

// A member of a part, written as text by `write`.
template <class Write>
void put(StatePart& part, const char* name, Write&& write) {
  std::string scratch;
  add_text(part[name], scratch, write);
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

}  // namespace

StatePart form_definition_part(const DataStore& store) {
  const FormDef& def = store.def();
  json form = json::object();
  form["dataobject"] = store.dataobject();
  form["style"] = to_string(def.style);
  // As the print engine reads it: a script's modify writes 'Yes' in quotes.
  form["preview"] = in_print_preview(store);
  // The browser draws in pixels, at the size that keeps the fields legible.
  const FormDef screen = screen_definition(def);
  form["bands"] = {{"header", screen.band_height[0]},
                   {"detail", screen.band_height[1]},
                   {"summary", screen.band_height[2]},
                   {"footer", screen.band_height[3]}};
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
  for (const auto& object : screen.objects) {
    json o = {{"kind", to_string(object.kind)}, {"name", object.name}, {"band", to_string(object.band)}};
    if (object.column >= 0) o["column"] = def.columns[static_cast<size_t>(object.column)].name;
    for (const auto& p : object.properties) {
      if (!p.expression) o[p.name] = p.text;
    }
    objects.push_back(std::move(o));
  }
  form["objects"] = std::move(objects);
  // Laid out as a tree: it changes only with the definition.
  return hold(form);
}

StatePart form_lists_part(DataStore& store) {
  const FormDef& def = store.def();
  StatePart part;
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const FormObject* shown = shown_column(def, static_cast<int>(c));
    if (!shown || !shown->find("dddw.name")) continue;
    DataStore* list = store.getchild(def.columns[c].name);
    if (!list || !list->has_definition()) continue;
    const int data = list->def().column_index(shown->get("dddw.data"));
    const int display = list->def().column_index(shown->get("dddw.display"));
    StateMember& items = part[def.columns[c].name];
    items.array = true;
    std::string scratch;
    for (long r = 1; data >= 0 && display >= 0 && r <= list->rowcount(); ++r) {
      add_text(items, scratch, [&](JsonTextWriter& out) {
        out.raw("[");
        out.text(list->getitem(r, data + 1).to_string());
        out.raw(",");
        out.text(list->getitem(r, display + 1).to_string());
        out.raw("]");
      });
    }
  }
  return part;
}

StatePart form_rows_part(const DataStore& store, long from, long count) {
  const FormDef& def = store.def();
  std::vector<std::pair<const FormObject*, const ObjectProperty*>> per_row;
  std::vector<const FormObject*> row_computes, band_computes;
  for (const auto& object : def.objects) {
    if (object.kind == ObjectKind::Compute) (object.band == Band::Detail ? row_computes : band_computes).push_back(&object);
    for (const auto& p : object.properties) {
      if (p.expression) per_row.emplace_back(&object, &p);
    }
  }
  const UnitScale scale = per_row.empty() ? UnitScale{} : screen_scale(def);
  // What each column shows of a number: its display format ("0.00%" shows 0.125 as 12.50%,
  // as the user then edits it), unless a drop-down names it.
  std::vector<std::string> number_formats(def.columns.size());
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const FormObject* shown = shown_column(def, static_cast<int>(c));
    if (shown && !shown->find("dddw.name")) number_formats[c] = shown->get("format");
  }
  StatePart part;
  put(part, "computed", [&](JsonTextWriter& out) {
    out.raw("{");
    // Header, summary and footer fields are read at the first row, as their totals and
    // counts over all rows come out the same at any row.
    if (store.rowcount() > 0) {
      for (const FormObject* object : band_computes) out.key(object->name).text(computed_text(store, *object, 1));
    }
    out.raw("}");
  });
  StateMember& rows = part["rows"];
  rows.array = true;
  const long last = std::min(from + count - 1, store.rowcount());
  rows.texts.reserve(static_cast<size_t>(std::max(0L, last - from + 1)));
  std::vector<Value> codes(def.columns.size());
  std::string scratch;
  for (long r = from; r <= last; ++r) {
    add_text(rows, scratch, [&](JsonTextWriter& out) {
      out.raw("{");
      out.key("values").raw("[");
      for (size_t c = 0; c < def.columns.size(); ++c) {
        const int column = static_cast<int>(c) + 1;
        codes[c] = store.getitem(r, column);
        out.separate();
        if (codes[c].is_numeric() && !number_formats[c].empty()) {
          out.text(format_value(codes[c], number_formats[c]));
        } else {
          out.text(store.display_value(r, column));
        }
      }
      out.raw("]");
      out.key("codes").raw("[");
      for (const Value& v : codes) {
        out.separate();
        out.value(v);
      }
      out.raw("]");
      if (!per_row.empty() || !row_computes.empty()) {
        out.key("attributes").raw("{");
        for (const auto& [object, property] : per_row) {
          Value value = store.property_value(*object, property->name, r);
          // A position or size computed for the row is in the definition's units, as the
          // fixed ones are, and goes out in pixels as they do.
          if (const double factor = pixels_per_unit(scale, property->name); factor != 1 && factor != 0 && value.is_numeric())
            value = Value(static_cast<long long>(std::llround(value.as_number() * factor)));
          out.key(object->name + "." + property->name).value(value);
        }
        for (const FormObject* object : row_computes) out.key(object->name + ".value").text(computed_text(store, *object, r));
        out.raw("}");
      }
      out.raw("}");
    });
  }
  put(part, "row_count", [&](JsonTextWriter& out) { out.number(static_cast<long long>(store.rowcount())); });
  put(part, "rows_from", [&](JsonTextWriter& out) { out.number(static_cast<long long>(from)); });
  put(part, "current_row", [&](JsonTextWriter& out) { out.number(static_cast<long long>(store.getrow())); });
  put(part, "modified", [&](JsonTextWriter& out) { out.boolean(store.modifiedcount() > 0 || store.deletedcount() > 0); });
  put(part, "current_column", [&](JsonTextWriter& out) { out.text(store.getcolumnname()); });
  return part;
}

std::string array_text(const std::vector<std::string>& elements) {
  std::string text = "[";
  for (const std::string& element : elements) {
    if (text.size() > 1) text += ',';
    text += element;
  }
  return text + ']';
}

std::string member_text(const StateMember& member) {
  return member.array ? array_text(member.texts) : member.texts.front();
}

void append_members(std::string& object, const StatePart& part) {
  JsonTextWriter out(object);
  for (const auto& [key, member] : part) out.key(key).raw(member_text(member));
}

std::string members_text(const StatePart& part) {
  std::string text = "{";
  append_members(text, part);
  return text + '}';
}

std::string form_object_text(const StatePart& definition, const StatePart* lists, const StatePart& rows) {
  std::string text = "{";
  append_members(text, definition);
  if (lists) JsonTextWriter(text).key("lists").raw(members_text(*lists));
  append_members(text, rows);
  return text + '}';
}

std::string form_text(DataStore& store, long from, long count) {
  if (!store.has_definition()) return "{}";
  const StatePart lists = form_lists_part(store);
  return form_object_text(form_definition_part(store), &lists, form_rows_part(store, from, count));
}

std::string compact_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }


}  // namespace shenbao
