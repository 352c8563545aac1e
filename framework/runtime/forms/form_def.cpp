#include "framework/runtime/forms/form_def.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

namespace shenbao {
namespace {

char lower_char(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower_char(c);
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower_char(a[i]) != lower_char(b[i])) return false;
  return true;
}

constexpr const char* kStyleNames[] = {"freeform", "grid", "tabular", "composite"};
constexpr const char* kBandNames[] = {"header", "detail", "summary", "footer"};
constexpr const char* kKindNames[] = {"text", "column", "compute", "line", "rectangle", "groupbox", "report"};

template <class E, size_t N>
std::optional<E> enum_from(std::string_view text, const char* const (&names)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (iequals(text, names[i])) return static_cast<E>(i);
  return std::nullopt;
}

std::optional<int> parse_int(std::string_view text) {
  int v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

std::optional<bool> parse_yes_no(std::string_view text) {
  if (iequals(text, "yes") || iequals(text, "true") || text == "1") return true;
  if (iequals(text, "no") || iequals(text, "false") || text == "0") return false;
  return std::nullopt;
}

// Names of columns and objects are what expressions refer to: letters, digits, '_' (and
// non-ASCII letters), not starting with a digit.
bool valid_name(std::string_view name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u >= 0x80))
      return false;
  }
  return true;
}

bool is_column_data_property(std::string_view name) {
  for (const char* p : {"name", "type", "dbname", "key", "update", "initial"})
    if (iequals(name, p)) return true;
  return false;
}

bool in_list(std::string_view name, std::initializer_list<const char*> list) {
  for (const char* p : list)
    if (iequals(name, p)) return true;
  return false;
}

// Properties an object of `kind` may have: describe answers "?" for these when not set and
// "!" for any other name that is not set.
bool known_property(ObjectKind kind, std::string_view name) {
  const std::string n = lower(name);
  if (n.rfind("font.", 0) == 0 && kind != ObjectKind::Line && kind != ObjectKind::Rectangle &&
      kind != ObjectKind::Report)
    return true;
  if (in_list(n, {"name", "band", "visible"})) return true;
  const bool boxed = kind != ObjectKind::Line;
  if (boxed && in_list(n, {"x", "y", "width", "height"})) return true;
  if ((kind == ObjectKind::Text || kind == ObjectKind::Column) && n == "height.autosize") return true;
  switch (kind) {
    case ObjectKind::Text: return in_list(n, {"text", "align", "border", "color", "background.color"});
    case ObjectKind::Column:
      return in_list(n, {"edit", "mask", "format", "dddw.name", "dddw.display", "dddw.data", "checkbox.on",
                         "checkbox.off", "checkbox.text", "protect", "align", "border", "color",
                         "background.color"});
    case ObjectKind::Compute:
      return in_list(n, {"expression", "format", "align", "border", "color", "background.color"});
    case ObjectKind::Line: return in_list(n, {"x1", "y1", "x2", "y2", "pen.width", "pen.color"});
    case ObjectKind::Rectangle: return in_list(n, {"pen.width", "pen.color", "brush.color"});
    case ObjectKind::GroupBox: return in_list(n, {"text"});
    case ObjectKind::Report: return in_list(n, {"form", "arguments", "newpage"});
  }
  return false;
}

bool known_form_property(std::string_view name) {
  return in_list(name, {"title", "color", "print.preview", "print.orientation", "print.margin.left",
                        "print.margin.right", "print.margin.top", "print.margin.bottom", "print.paper"});
}

ObjectProperty* find_property(std::vector<ObjectProperty>& props, std::string_view name) {
  for (ObjectProperty& p : props)
    if (iequals(p.name, name)) return &p;
  return nullptr;
}

const ObjectProperty* find_property(const std::vector<ObjectProperty>& props, std::string_view name) {
  for (const ObjectProperty& p : props)
    if (iequals(p.name, name)) return &p;
  return nullptr;
}

void set_property(std::vector<ObjectProperty>& props, std::string_view name, std::string value, bool quoted) {
  if (ObjectProperty* p = find_property(props, name)) {
    p->text = std::move(value);
    p->quoted = quoted;
    p->expression = nullptr;
    return;
  }
  props.push_back({std::string(name), std::move(value), quoted, nullptr});
}

std::string value_text(const Value& v) { return v.is_null() ? std::string() : v.to_string(); }

std::string object_label(const FormObject& o, bool with_line) {
  std::string label = std::string(to_string(o.kind));
  if (!o.name.empty()) label += " " + o.name;
  if (with_line && o.line > 0) label = "line " + std::to_string(o.line) + ": " + label;
  return label;
}

// Reads a column statement into a ColumnDef and, when it is shown, its display object.
std::string add_column(FormDef& def, const Statement& st) {
  ColumnDef c;
  FormObject display;
  display.kind = ObjectKind::Column;
  display.line = st.line;
  bool shown = false, typed = false, has_band = false;
  std::string first_display;
  for (const Property& p : st.properties) {
    const std::string n = lower(p.name);
    if (n == "name") {
      c.name = p.value;
    } else if (n == "type") {
      auto t = ColumnType::parse(lower(p.value));
      if (!t) return "bad type '" + p.value + "'";
      c.type = *t;
      typed = true;
    } else if (n == "dbname") {
      c.dbname = p.value;
    } else if (n == "key" || n == "update") {
      auto b = parse_yes_no(p.value);
      if (!b) return p.name + " must be yes or no, not '" + p.value + "'";
      (n == "key" ? c.key : c.updatable) = *b;
    } else if (n == "initial") {
      // Read once the type is known (below).
    } else if (n == "band") {
      auto b = enum_from<Band>(p.value, kBandNames);
      if (!b) return "bad band '" + p.value + "'";
      display.band = *b;
      has_band = true;
    } else {
      if (n == "x") shown = true;
      if (first_display.empty()) first_display = p.name;
      display.properties.push_back({p.name, p.value, p.quoted, nullptr});
    }
  }
  if (c.name.empty()) return "a column needs a name";
  if (def.column_index(c.name) >= 0) return "name " + c.name + " is used twice";
  if (!typed) return "column " + c.name + " has no type";
  if (c.dbname.empty()) c.dbname = c.name;
  for (const Property& p : st.properties) {
    if (!iequals(p.name, "initial")) continue;
    Value v = c.type.from_db_text(p.value);
    if (auto why = c.type.coerce(v)) return "column " + c.name + ": initial value: " + *why;
    c.initial = std::move(v);
  }
  if (!shown && (!first_display.empty() || has_band))
    return "column " + c.name + " has display properties (" + (first_display.empty() ? "band" : first_display) +
           ") but no x";
  def.columns.push_back(std::move(c));
  if (shown) {
    display.name = def.columns.back().name;
    display.column = static_cast<int>(def.columns.size() - 1);
    def.objects.push_back(std::move(display));
  }
  return {};
}

// Reads a drawn object's statement (not a column) and appends it to the definition.
std::string add_object(FormDef& def, const Statement& st) {
  auto kind = enum_from<ObjectKind>(st.kind, kKindNames);
  if (!kind) return "unknown statement kind '" + st.kind + "'";
  if (*kind == ObjectKind::Column) return "columns are not objects here";
  FormObject o;
  o.kind = *kind;
  o.line = st.line;
  for (const Property& p : st.properties) {
    if (iequals(p.name, "name")) {
      o.name = p.value;
    } else if (iequals(p.name, "band")) {
      auto b = enum_from<Band>(p.value, kBandNames);
      if (!b) return std::string(to_string(o.kind)) + ": bad band '" + p.value + "'";
      o.band = *b;
    } else {
      o.properties.push_back({p.name, p.value, p.quoted, nullptr});
    }
  }
  def.objects.push_back(std::move(o));
  return {};
}

// Checks names, gives computed fields their slots and compiles every expression. Run after
// parsing and after each modify, so slots and compiled expressions always match the objects.
// Errors name the object, and its line in the text when `with_lines` (when parsing).
std::string finish(FormDef& def, bool with_lines) {
  auto object_label = [with_lines](const FormObject& o) { return shenbao::object_label(o, with_lines); };
  std::set<std::string> names;
  for (const ColumnDef& c : def.columns) {
    if (!valid_name(c.name) || iequals(c.name, "datawindow") || iequals(c.name, "form"))
      return "column name '" + c.name + "' is not a name";
    if (!names.insert(lower(c.name)).second) return "name " + c.name + " is used twice";
  }
  int next_slot = static_cast<int>(def.columns.size());
  for (FormObject& o : def.objects) {
    if (o.kind == ObjectKind::Column) {
      if (o.column < 0 || o.column >= static_cast<int>(def.columns.size()) ||
          !iequals(def.columns[static_cast<size_t>(o.column)].name, o.name))
        return object_label(o) + ": does not match a column";
      o.slot = o.column;
      continue;
    }
    o.slot = o.kind == ObjectKind::Compute ? next_slot++ : -1;
    if (o.name.empty()) continue;
    if (!valid_name(o.name) || iequals(o.name, "datawindow") || iequals(o.name, "form"))
      return object_label(o) + ": '" + o.name + "' is not a name";
    if (!names.insert(lower(o.name)).second) return object_label(o) + ": name " + o.name + " is used twice";
  }

  const SlotResolver resolver = [&def](std::string_view name) { return def.resolve_slot(name); };
  for (FormObject& o : def.objects) {
    bool has_expression = false;
    for (ObjectProperty& p : o.properties) {
      p.expression = nullptr;
      std::string why;
      if (o.kind == ObjectKind::Compute && iequals(p.name, "expression")) {
        has_expression = true;
        std::string_view text = p.text;
        if (!text.empty() && text.front() == '=') text.remove_prefix(1);
        p.expression = Expression::parse(text, resolver, why);
      } else if (o.kind == ObjectKind::Report && iequals(p.name, "arguments")) {
        // Comma-separated expressions, compiled by the nested report; checked here. They may
        // name this form's own retrieval arguments as well as its columns.
        std::string_view text = p.text;
        if (!text.empty() && text.front() == '=') text.remove_prefix(1);
        const SlotResolver with_arguments = [&def, &resolver](std::string_view name) {
          if (const int slot = resolver(name); slot >= 0) return slot;
          for (const Argument& a : def.arguments)
            if (iequals(a.name, name)) return 0;
          return -1;
        };
        Expression::parse_list(text, with_arguments, why);
      } else if (p.quoted && !p.text.empty() && p.text.front() == '=') {
        p.expression = Expression::parse(std::string_view(p.text).substr(1), resolver, why);
      }
      if (!why.empty()) return object_label(o) + ": " + p.name + ": " + why;
    }
    if (o.kind == ObjectKind::Compute && !has_expression) return object_label(o) + ": no expression";
  }

  // Computed fields may read each other, but not in a circle: peel off those that read no
  // unresolved computed field until nothing changes.
  const int first = static_cast<int>(def.columns.size());
  const int computes = next_slot - first;
  std::vector<const FormObject*> by_slot(static_cast<size_t>(computes));
  for (const FormObject& o : def.objects)
    if (o.kind == ObjectKind::Compute) by_slot[static_cast<size_t>(o.slot - first)] = &o;
  std::vector<int> pending(static_cast<size_t>(computes));
  std::vector<std::vector<int>> readers(static_cast<size_t>(computes));
  for (int i = 0; i < computes; ++i) {
    const ObjectProperty* p = find_property(by_slot[static_cast<size_t>(i)]->properties, "expression");
    for (int s : p->expression->slots()) {
      if (s < first) continue;
      ++pending[static_cast<size_t>(i)];
      readers[static_cast<size_t>(s - first)].push_back(i);
    }
  }
  std::vector<int> ready;
  for (int i = 0; i < computes; ++i)
    if (pending[static_cast<size_t>(i)] == 0) ready.push_back(i);
  int resolved = 0;
  while (!ready.empty()) {
    const int i = ready.back();
    ready.pop_back();
    ++resolved;
    for (int r : readers[static_cast<size_t>(i)])
      if (--pending[static_cast<size_t>(r)] == 0) ready.push_back(r);
  }
  if (resolved != computes) {
    for (int i = 0; i < computes; ++i)
      if (pending[static_cast<size_t>(i)] > 0)
        return object_label(*by_slot[static_cast<size_t>(i)]) + ": computed fields read each other in a circle";
  }
  return {};
}

std::string assign(FormDef& def, std::string_view target, std::string_view prop, const Property& value) {
  const std::string where = std::string(target) + "." + std::string(prop) + ": ";
  // The property must be one the definition text can write back.
  const char c0 = prop.empty() ? '\0' : prop[0];
  if (!((c0 >= 'a' && c0 <= 'z') || (c0 >= 'A' && c0 <= 'Z') || c0 == '_')) return where + "not a property name";
  if (iequals(target, "datawindow") || iequals(target, "form")) {
    const std::string n = lower(prop);
    if (n == "name") {
      def.name = value.value;
    } else if (n == "style") {
      auto s = enum_from<Style>(value.value, kStyleNames);
      if (!s) return where + "bad style '" + value.value + "'";
      def.style = *s;
    } else if (n == "table.retrieve") {
      def.retrieve_sql = value.value;
    } else if (n == "table.update") {
      def.update_table = value.value;
    } else if (n.size() > 7 && n.substr(n.size() - 7) == ".height" &&
               enum_from<Band>(n.substr(0, n.size() - 7), kBandNames)) {
      auto h = parse_int(value.value);
      if (!h || *h < 0) return where + "bad height '" + value.value + "'";
      def.band_height[static_cast<int>(*enum_from<Band>(n.substr(0, n.size() - 7), kBandNames))] = *h;
    } else {
      set_property(def.properties, prop, value.value, value.quoted);
    }
    return {};
  }
  FormObject* o = def.find_object(target);
  if (!o) {
    if (def.column_index(target) >= 0) return where + "column " + std::string(target) + " is not shown (has no x)";
    return where + "unknown object";
  }
  if (iequals(prop, "name")) {
    if (o->kind == ObjectKind::Column) return where + "a column cannot be renamed";
    o->name = value.value;
  } else if (iequals(prop, "band")) {
    auto b = enum_from<Band>(value.value, kBandNames);
    if (!b) return where + "bad band '" + value.value + "'";
    o->band = *b;
  } else if (iequals(prop, "type") ||
             (o->kind == ObjectKind::Column &&
              (is_column_data_property(prop) || iequals(prop, "coltype")))) {
    return where + "cannot be changed";
  } else {
    set_property(o->properties, prop, value.value, value.quoted);
  }
  return {};
}

}  // namespace

std::string_view to_string(Style style) { return kStyleNames[static_cast<int>(style)]; }
std::string_view to_string(Band band) { return kBandNames[static_cast<int>(band)]; }
std::string_view to_string(ObjectKind kind) { return kKindNames[static_cast<int>(kind)]; }

const ObjectProperty* FormObject::find(std::string_view property) const { return find_property(properties, property); }

std::string FormObject::get(std::string_view property, std::string_view fallback) const {
  const ObjectProperty* p = find(property);
  return p ? p->text : std::string(fallback);
}

int FormObject::get_int(std::string_view property, int fallback) const {
  const ObjectProperty* p = find(property);
  if (!p) return fallback;
  return parse_int(p->text).value_or(fallback);
}

bool FormObject::get_bool(std::string_view property, bool fallback) const {
  const ObjectProperty* p = find(property);
  if (!p) return fallback;
  return parse_yes_no(p->text).value_or(fallback);
}

std::optional<FormDef> FormDef::parse(std::string_view text, std::string& error) {
  error.clear();
  std::vector<Statement> statements = parse_statements(text, error);
  if (!error.empty()) return std::nullopt;
  FormDef def;
  bool seen_form = false, seen_table = false, seen_band[4] = {false, false, false, false};
  for (const Statement& st : statements) {
    const std::string at = "line " + std::to_string(st.line) + ": ";
    const std::string kind = lower(st.kind);
    auto unknown = [&](const Property& p) { return at + "unknown property " + p.name + " of " + st.kind; };
    if (kind == "form") {
      if (seen_form) return error = at + "a second form(...)", std::nullopt;
      seen_form = true;
      for (const Property& p : st.properties) {
        if (iequals(p.name, "name")) {
          def.name = p.value;
        } else if (iequals(p.name, "style")) {
          auto s = enum_from<Style>(p.value, kStyleNames);
          if (!s) return error = at + "bad style '" + p.value + "'", std::nullopt;
          def.style = *s;
        } else {
          def.properties.push_back({p.name, p.value, p.quoted, nullptr});
        }
      }
    } else if (auto band = enum_from<Band>(kind, kBandNames)) {
      const int b = static_cast<int>(*band);
      if (seen_band[b]) return error = at + "a second " + kind + "(...)", std::nullopt;
      seen_band[b] = true;
      for (const Property& p : st.properties) {
        if (!iequals(p.name, "height")) return error = unknown(p), std::nullopt;
        auto h = parse_int(p.value);
        if (!h || *h < 0) return error = at + "bad height '" + p.value + "'", std::nullopt;
        def.band_height[b] = *h;
      }
    } else if (kind == "table") {
      if (seen_table) return error = at + "a second table(...)", std::nullopt;
      seen_table = true;
      for (const Property& p : st.properties) {
        if (iequals(p.name, "retrieve")) def.retrieve_sql = p.value;
        else if (iequals(p.name, "update")) def.update_table = p.value;
        else return error = unknown(p), std::nullopt;
      }
    } else if (kind == "argument") {
      Argument a;
      bool typed = false;
      for (const Property& p : st.properties) {
        if (iequals(p.name, "name")) {
          a.name = p.value;
        } else if (iequals(p.name, "type")) {
          auto t = ColumnType::parse(lower(p.value));
          if (!t) return error = at + "argument " + a.name + ": bad type '" + p.value + "'", std::nullopt;
          a.type = *t;
          typed = true;
        } else {
          return error = unknown(p), std::nullopt;
        }
      }
      if (!valid_name(a.name)) return error = at + "an argument needs a name", std::nullopt;
      if (!typed) return error = at + "argument " + a.name + " has no type", std::nullopt;
      for (const Argument& other : def.arguments)
        if (iequals(other.name, a.name)) return error = at + "argument " + a.name + " given twice", std::nullopt;
      def.arguments.push_back(std::move(a));
    } else if (kind == "column") {
      if (std::string why = add_column(def, st); !why.empty()) return error = at + why, std::nullopt;
    } else {
      if (std::string why = add_object(def, st); !why.empty()) return error = at + why, std::nullopt;
    }
  }
  // Column objects come first, in column order, whatever the order of the statements was:
  // to_text writes them with their columns.
  std::stable_partition(def.objects.begin(), def.objects.end(),
                        [](const FormObject& o) { return o.kind == ObjectKind::Column; });
  if (std::string why = finish(def, true); !why.empty()) return error = why, std::nullopt;
  return def;
}

std::string FormDef::to_text() const {
  std::vector<Statement> out;
  auto add = [](Statement& st, std::string_view name, std::string value, bool quoted = false) {
    st.properties.push_back({std::string(name), std::move(value), quoted});
  };
  auto add_props = [&](Statement& st, const std::vector<ObjectProperty>& props) {
    for (const ObjectProperty& p : props) add(st, p.name, p.text, p.quoted);
  };

  Statement form{"form", {}, 0};
  if (!name.empty()) add(form, "name", name);
  add(form, "style", std::string(to_string(style)));
  add_props(form, properties);
  out.push_back(std::move(form));
  for (int b = 0; b < 4; ++b) {
    if (band_height[b] == 0) continue;
    Statement st{std::string(kBandNames[b]), {}, 0};
    add(st, "height", std::to_string(band_height[b]));
    out.push_back(std::move(st));
  }
  if (!retrieve_sql.empty() || !update_table.empty()) {
    Statement st{"table", {}, 0};
    if (!retrieve_sql.empty()) add(st, "retrieve", retrieve_sql, true);
    if (!update_table.empty()) add(st, "update", update_table);
    out.push_back(std::move(st));
  }
  for (const Argument& a : arguments) {
    Statement st{"argument", {}, 0};
    add(st, "name", a.name);
    add(st, "type", a.type.to_string());
    out.push_back(std::move(st));
  }
  for (size_t i = 0; i < columns.size(); ++i) {
    const ColumnDef& c = columns[i];
    Statement st{"column", {}, 0};
    add(st, "name", c.name);
    add(st, "type", c.type.to_string());
    if (c.dbname != c.name) add(st, "dbname", c.dbname);
    if (c.key) add(st, "key", "yes");
    if (c.updatable) add(st, "update", "yes");
    if (c.initial) add(st, "initial", value_text(*c.initial), c.initial->kind() == ValueKind::Text);
    for (const FormObject& o : objects) {
      if (o.kind != ObjectKind::Column || o.column != static_cast<int>(i)) continue;
      add(st, "band", std::string(to_string(o.band)));
      add_props(st, o.properties);
      break;
    }
    out.push_back(std::move(st));
  }
  for (const FormObject& o : objects) {
    if (o.kind == ObjectKind::Column) continue;
    Statement st{std::string(to_string(o.kind)), {}, 0};
    if (!o.name.empty()) add(st, "name", o.name);
    add(st, "band", std::string(to_string(o.band)));
    add_props(st, o.properties);
    out.push_back(std::move(st));
  }
  return print_statements(out);
}

std::string FormDef::modify(std::string_view text) {
  FormDef next = *this;
  size_t pos = 0;
  for (;;) {
    while (pos < text.size() && is_blank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    const std::string word = read_name(text, pos);
    if (word.empty()) return "modify: unexpected '" + std::string(text.substr(pos, 20)) + "'";
    if (iequals(word, "create")) {
      std::string why;
      auto st = read_statement(text, pos, why);
      if (!st) return "create: " + why;
      if (iequals(st->kind, "column")) return "create column: columns cannot be added by modify";
      if (std::string e = add_object(next, *st); !e.empty()) return "create: " + e;
    } else if (iequals(word, "destroy")) {
      while (pos < text.size() && is_blank(text[pos])) ++pos;
      const std::string target = read_name(text, pos);
      if (target.empty()) return "destroy: no object name";
      auto it = std::find_if(next.objects.begin(), next.objects.end(),
                             [&](const FormObject& o) { return !o.name.empty() && iequals(o.name, target); });
      if (it == next.objects.end())
        return "destroy " + target + ": " + (next.column_index(target) >= 0 ? "a column cannot be destroyed" : "unknown object");
      if (it->kind == ObjectKind::Column) return "destroy " + target + ": a column cannot be destroyed (set visible=0)";
      next.objects.erase(it);
    } else {
      const size_t dot = word.find('.');
      if (dot == std::string::npos) return "modify: expected obj.property=value, found '" + word + "'";
      while (pos < text.size() && is_blank(text[pos])) ++pos;
      if (pos >= text.size() || text[pos] != '=') return word + ": expected '='";
      ++pos;
      Property value;
      std::string why;
      while (pos < text.size() && is_blank(text[pos])) ++pos;
      if (pos < text.size() && text[pos] == '\'') {
        // Property texts that scripts build write values in single quotes: '1000', 'Yes',
        // '公文 写作' (a caption the user typed may hold blanks).
        const size_t close = text.find('\'', pos + 1);
        if (close == std::string_view::npos) return word + ": quoted value without its closing '";
        value.value.assign(text.substr(pos + 1, close - pos - 1));
        pos = close + 1;
      } else if (!read_value(text, pos, value, why)) {
        return word + ": " + why;
      }
      if (std::string e = assign(next, std::string_view(word).substr(0, dot), std::string_view(word).substr(dot + 1), value);
          !e.empty())
        return e;
    }
  }
  if (std::string why = finish(next, false); !why.empty()) return why;
  *this = std::move(next);
  return {};
}

std::string FormDef::describe(std::string_view paths) const {
  std::string out;
  size_t pos = 0;
  bool first = true;
  for (;;) {
    while (pos < paths.size() && is_blank(paths[pos])) ++pos;
    if (pos >= paths.size()) break;
    const size_t start = pos;
    while (pos < paths.size() && !is_blank(paths[pos])) ++pos;
    const std::string_view path = paths.substr(start, pos - start);
    if (!first) out += '\n';
    first = false;

    const size_t dot = path.find('.');
    if (dot == std::string_view::npos || dot + 1 == path.size()) {
      out += '!';
      continue;
    }
    const std::string_view target = path.substr(0, dot), prop = path.substr(dot + 1);
    auto answer = [](std::string_view v) { return v.empty() ? std::string("?") : std::string(v); };
    if (iequals(target, "datawindow") || iequals(target, "form")) {
      const std::string n = lower(prop);
      if (n == "name") out += answer(name);
      else if (n == "style") out += to_string(style);
      else if (n == "table.retrieve") out += answer(retrieve_sql);
      else if (n == "table.update") out += answer(update_table);
      else if (n.size() > 7 && n.substr(n.size() - 7) == ".height" && enum_from<Band>(n.substr(0, n.size() - 7), kBandNames))
        out += std::to_string(band_height[static_cast<int>(*enum_from<Band>(n.substr(0, n.size() - 7), kBandNames))]);
      else if (const ObjectProperty* p = find_property(properties, prop)) out += p->text;
      else out += known_form_property(prop) ? "?" : "!";
      continue;
    }
    const FormObject* o = find_object(target);
    const int c = column_index(target);
    if (!o && c < 0) {
      out += '!';
      continue;
    }
    const ColumnDef* col = c >= 0 ? &columns[static_cast<size_t>(c)] : nullptr;
    if (iequals(prop, "type")) {
      out += o ? to_string(o->kind) : "column";
    } else if (iequals(prop, "name")) {
      out += o ? o->name : col->name;
    } else if (col && iequals(prop, "coltype")) {
      out += col->type.to_string();
    } else if (col && iequals(prop, "dbname")) {
      out += col->dbname;
    } else if (col && iequals(prop, "key")) {
      out += col->key ? "yes" : "no";
    } else if (col && iequals(prop, "update")) {
      out += col->updatable ? "yes" : "no";
    } else if (col && iequals(prop, "initial")) {
      out += col->initial ? value_text(*col->initial) : "?";
    } else if (!o) {
      out += known_property(ObjectKind::Column, prop) ? "?" : "!";
    } else if (iequals(prop, "band")) {
      out += to_string(o->band);
    } else if (const ObjectProperty* p = o->find(prop)) {
      out += p->text;
    } else {
      out += known_property(o->kind, prop) ? "?" : "!";
    }
  }
  return out;
}

int FormDef::column_index(std::string_view name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (iequals(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

const FormObject* FormDef::find_object(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const FormObject& o : objects)
    if (iequals(o.name, name)) return &o;
  return nullptr;
}

FormObject* FormDef::find_object(std::string_view name) {
  return const_cast<FormObject*>(static_cast<const FormDef*>(this)->find_object(name));
}

int FormDef::resolve_slot(std::string_view name) const {
  if (int c = column_index(name); c >= 0) return c;
  int slot = static_cast<int>(columns.size());
  for (const FormObject& o : objects) {
    if (o.kind != ObjectKind::Compute) continue;
    if (!o.name.empty() && iequals(o.name, name)) return slot;
    ++slot;
  }
  return -1;
}

const FormObject* FormDef::compute_for_slot(int slot) const {
  int s = static_cast<int>(columns.size());
  if (slot < s) return nullptr;
  for (const FormObject& o : objects) {
    if (o.kind != ObjectKind::Compute) continue;
    if (s == slot) return &o;
    ++s;
  }
  return nullptr;
}

std::string FormDef::form_property(std::string_view name, std::string_view fallback) const {
  const ObjectProperty* p = find_property(properties, name);
  return p ? p->text : std::string(fallback);
}

void FormDef::set_form_property(std::string_view name, std::string value) {
  const bool quoted = value_needs_quotes(value);
  set_property(properties, name, std::move(value), quoted);
}

UnitScale unit_scale(const FormDef& def) {
  std::string units = def.form_property("units");
  if (units.size() >= 2 && units.front() == '\'' && units.back() == '\'') units = units.substr(1, units.size() - 2);
  for (char& c : units) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (units == "fine") return {7.0 / 32.0, 0.25};
  return {};
}

namespace {

// A property's text without the single quotes a script's modify writes around it.
std::string_view unquoted(std::string_view text) {
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') return text.substr(1, text.size() - 2);
  return text;
}

// Whether an object is drawn whatever the row: its visible property is not set, empty, an
// expression, or not false (as the browser reads it).
bool always_visible(const FormObject& object) {
  const ObjectProperty* visible = object.find("visible");
  if (!visible || visible->expression) return true;
  const std::string text = lower(unquoted(visible->text));
  return text.empty() || !(text == "0" || text == "false" || text == "no" || text == "n");
}

// A whole-number property that is set and is no expression, as written; nullopt otherwise.
std::optional<int> fixed_int(const FormObject& object, std::string_view property) {
  const ObjectProperty* p = object.find(property);
  if (!p || p->expression) return std::nullopt;
  return parse_int(unquoted(p->text));
}

// A fixed geometry property of an object in pixels at `factor`; 0 when it is not set or is
// an expression.
int fixed_pixels(const FormObject& object, std::string_view property, double factor) {
  return static_cast<int>(std::lround(fixed_int(object, property).value_or(0) * factor));
}

// Whether a column object is a field of several lines: a multi-line edit, or a text longer
// than a line holds.
bool holds_lines(const FormDef& def, const FormObject& object) {
  if (object.kind != ObjectKind::Column || object.column < 0) return false;
  const ColumnType& type = def.columns[static_cast<size_t>(object.column)].type;
  return object.get("edit") == "mle" || (type.is_text() && type.size > 100);
}

}  // namespace

UnitScale screen_scale(const FormDef& def) {
  const UnitScale units = unit_scale(def);
  if (def.style != Style::FreeForm) return units;
  int lowest = 0;
  for (const FormObject& object : def.objects) {
    if (object.kind != ObjectKind::Column || object.column < 0) continue;
    if (object.band == Band::Header || object.band == Band::Footer || !always_visible(object)) continue;
    // Fields of several lines and check boxes keep the height they were given.
    if (object.get("edit") == "checkbox" || holds_lines(def, object)) continue;
    const int height = fixed_pixels(object, "height", units.y);
    if (height > 0 && (lowest == 0 || height < lowest)) lowest = height;
  }
  if (lowest == 0 || lowest >= kLeastFieldPixels) return units;
  const double enlarged = std::min(3.0, static_cast<double>(kLeastFieldPixels) / lowest);
  return {units.x * enlarged, units.y * enlarged};
}

double pixels_per_unit(const UnitScale& scale, std::string_view property) {
  if (property == "x" || property == "x1" || property == "x2" || property == "width" || property == "pen.width")
    return scale.x;
  if (property == "y" || property == "y1" || property == "y2" || property == "height") return scale.y;
  return 0;
}

namespace {

// Sets a fixed whole-number property, in pixels.
void set_pixels(FormObject& object, std::string_view property, long long pixels) {
  set_property(object.properties, property, std::to_string(pixels), false);
}

// Grows field `grown` to `height` pixels, and makes room for it: what starts below its foot in
// its band moves down, what holds it (a box that starts above it and reaches its foot) grows,
// and so does the band. What stands beside it keeps its place and size.
void grow_field(FormDef& def, size_t grown, int height) {
  FormObject& field = def.objects[grown];
  const int top = *fixed_int(field, "y");
  const int foot = top + *fixed_int(field, "height");
  const int more = height - *fixed_int(field, "height");
  for (size_t i = 0; i < def.objects.size(); ++i) {
    FormObject& o = def.objects[i];
    if (i == grown || o.band != field.band) continue;
    for (const char* y : {"y", "y1", "y2"}) {
      if (const auto at = fixed_int(o, y); at && *at >= foot) set_pixels(o, y, *at + more);
    }
    const auto y = fixed_int(o, "y");
    const auto tall = fixed_int(o, "height");
    if (y && tall && *y < top && *y + *tall >= foot) set_pixels(o, "height", *tall + more);
  }
  set_pixels(field, "height", height);
  def.band_height[static_cast<size_t>(field.band)] += more;
}

}  // namespace

FormDef screen_definition(const FormDef& def) {
  FormDef screen = def;
  const UnitScale scale = screen_scale(def);
  if (!scale.is_pixels()) {
    for (FormObject& object : screen.objects) {
      for (ObjectProperty& p : object.properties) {
        const double factor = pixels_per_unit(scale, p.name);
        if (factor == 0 || p.expression) continue;
        const std::optional<int> v = parse_int(unquoted(p.text));
        if (!v) continue;
        p.text = std::to_string(std::llround(*v * factor));
        p.quoted = false;
      }
    }
    for (int& band : screen.band_height) band = static_cast<int>(std::lround(band * scale.y));
  }
  if (screen.style != Style::FreeForm) return screen;
  // Fields of several lines laid out one line high, from the top down, so that each one's
  // foot is read after the fields above it have moved it.
  std::vector<size_t> fields;
  for (size_t i = 0; i < screen.objects.size(); ++i) {
    const FormObject& o = screen.objects[i];
    const auto tall = fixed_int(o, "height");
    if (holds_lines(screen, o) && always_visible(o) && fixed_int(o, "y") && tall && *tall < kRestingLinesPixels)
      fields.push_back(i);
  }
  std::stable_sort(fields.begin(), fields.end(), [&](size_t a, size_t b) {
    return *fixed_int(screen.objects[a], "y") < *fixed_int(screen.objects[b], "y");
  });
  for (size_t i : fields) grow_field(screen, i, kRestingLinesPixels);
  return screen;
}

ScreenExtent screen_extent(const FormDef& def) {
  const FormDef screen = screen_definition(def);
  ScreenExtent extent;
  int right = 0;
  for (const FormObject& object : screen.objects) {
    if (!always_visible(object)) continue;
    right = std::max({right, fixed_pixels(object, "x", 1) + fixed_pixels(object, "width", 1), fixed_pixels(object, "x2", 1)});
  }
  extent.width = right + 8;
  for (int band : screen.band_height) extent.height += std::max(0, band);
  extent.height += 4;
  return extent;
}

}  // namespace shenbao
