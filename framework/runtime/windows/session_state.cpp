// The session's state as one JSON document: what the browser draws and what tests read.
//
// {
//   "user": {"username", "company_num", "rights": [RIGHT...]},
//   "frame": {"class", "title", "menu": [{"class", "caption"}]},
//   "status": "保存成功", "hourglass": false,
//   "sheets": [WINDOW...], "active_sheet": 0, "modals": [WINDOW...],
//   "message": null | {"title", "text", "icon", "buttons": ["yes", "no"]},
//   "print_jobs": [{"id", "name", "forms", "pages"}]
// }
// WINDOW:  {"class", "title", "x", "y", "width", "height", "focus", "controls": [CONTROL...]}
// CONTROL: {"name", "kind", "x", "y", "width", "height", "visible", "enabled", "text", "mask",
//           "role": {"right", "refusal", "audit", "gesture", "gesture_column", "accent"}
//                   (only the parts the control has), "read_only": true (a form that takes no
//           entry), "form": FORM (form controls only)}
// FORM:    {"dataobject", "style", "preview", "bands": {"header": h, ...},
//           "columns": [{"name", "type", "edit", "list", "update": true (saved by the
//                        form's update)}],
//           "objects": [{"kind", "name", "band", "column", "x", "y", ... every property}],
//           "computed": {NAME: text} (header, summary and footer computed fields),
//           "row_count": n, "rows_from": first row of "rows" (1 when they are all there),
//           "rows": [{"values": [display text...], "codes": [stored value...],
//                     "attributes": {"object.property": value, "compute.value": text}}],
//           "current_row", "current_column", "modified" (changes not yet saved),
//           "lists": {"column": [[code, name]...]}}
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>

#include "framework/runtime/forms/expression.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/windows/client_view.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/state_diff.h"

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

std::string_view icon_name(Icon icon) {
  switch (icon) {
    case Icon::Information: return "information";
    case Icon::Question: return "question";
    case Icon::Exclamation: return "exclamation";
    case Icon::StopSign: return "stop";
    case Icon::None: break;
  }
  return "none";
}

json button_names(Buttons buttons) {
  switch (buttons) {
    case Buttons::Ok: return {"ok"};
    case Buttons::OkCancel: return {"ok", "cancel"};
    case Buttons::YesNo: return {"yes", "no"};
    case Buttons::YesNoCancel: return {"yes", "no", "cancel"};
    case Buttons::RetryCancel: return {"retry", "cancel"};
  }
  return json::array();
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

// The rows of a form that go into the state: [from, from + count).
struct RowRange {
  long from = 1;
  long count = 0;
};

// A form's state in three parts, each taken from what it depends on, with their members
// apart: the definition (how the form looks), the drop-down lists, and the rows.
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

json form_rows_json(const DataStore& store, RowRange range) {
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
  for (long r = range.from; r < range.from + range.count && r <= store.rowcount(); ++r) {
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
  form["rows_from"] = range.from;
  form["rows"] = std::move(rows);
  form["current_row"] = store.getrow();
  form["modified"] = store.modifiedcount() > 0 || store.deletedcount() > 0;
  form["current_column"] = store.getcolumnname();
  return form;
}

std::string compact(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// The members of `part` added to `form`.
void add_members(json& form, const json& part) {
  for (auto it = part.begin(); it != part.end(); ++it) form[it.key()] = it.value();
}

json form_json(FormControl& control, RowRange range) {
  DataStore& store = control.store();
  json form = json::object();
  if (!store.has_definition()) return form;
  add_members(form, form_definition_json(store));
  add_members(form, form_lists_json(store));
  add_members(form, form_rows_json(store, range));
  return form;
}

json role_json(const ControlRole& role) {
  json out = json::object();
  for (const auto& [name, text] : {std::pair<const char*, const std::string*>{"right", &role.right},
                                   {"refusal", &role.refusal},
                                   {"audit", &role.audit},
                                   {"gesture", &role.gesture},
                                   {"gesture_column", &role.gesture_column}}) {
    if (!text->empty()) out[name] = *text;
  }
  if (role.accent) out["accent"] = true;
  return out;
}

// The state of a window; `forms_to` is called for each form control with its control object
// and the path of its form in the state document: it puts the form there, or takes note of it.
using FormsTo = std::function<void(json& control, FormControl& form, const json& path)>;

json window_json(const Window& window, json path, const FormsTo& forms_to) {
  json controls = json::array();
  path.push_back("controls");
  for (const auto& control : window.controls()) {
    json c = {{"name", control->name()},     {"kind", to_string(control->kind())},
              {"x", control->x},             {"y", control->y},
              {"width", control->width},     {"height", control->height},
              {"visible", control->visible}, {"enabled", control->enabled},
              {"text", control->text}};
    if (!control->mask.empty()) c["mask"] = control->mask;
    if (json role = role_json(control->role); !role.empty()) c["role"] = std::move(role);
    if (control->kind() == ControlKind::Form) {
      auto& form = *static_cast<FormControl*>(control.get());
      if (form.read_only) c["read_only"] = true;
      path.push_back(controls.size());
      path.push_back("form");
      forms_to(c, form, path);
      path.erase(path.size() - 1);
      path.erase(path.size() - 1);
    }
    controls.push_back(std::move(c));
  }
  return {{"class", window.class_name()},
          {"title", window.title},
          {"x", window.x},
          {"y", window.y},
          {"width", window.width},
          {"height", window.height},
          {"focus", window.focus() ? json(window.focus()->name()) : json(nullptr)},
          {"controls", std::move(controls)}};
}

// True when an operation of `ops` replaces or removes what stands at `path` or above it, so
// that the client no longer holds the part there.
bool replaces(const json& ops, const json& path) {
  for (const json& op : ops) {
    const json& at = op["p"];
    if (at.size() > path.size() || !std::equal(at.begin(), at.end(), path.begin())) continue;
    if (!op.contains("n")) return true;
    // An array cut short: only what stood past its new end is gone.
    if (at.size() < path.size() && path[at.size()].is_number() && path[at.size()].get<long>() >= op["n"].get<long>())
      return true;
  }
  return false;
}

// A part as the client holds it.
ClientView::Part hold(const json& part) {
  ClientView::Part held;
  for (auto it = part.begin(); it != part.end(); ++it) {
    ClientView::Member& member = held[it.key()];
    member.array = it->is_array();
    if (!member.array) {
      member.texts.push_back(compact(*it));
      continue;
    }
    member.texts.reserve(it->size());
    for (const json& element : *it) member.texts.push_back(compact(element));
  }
  return held;
}

std::string member_text(const ClientView::Member& member) {
  if (!member.array) return member.texts.front();
  std::string text = "[";
  for (const std::string& element : member.texts) {
    if (text.size() > 1) text += ',';
    text += element;
  }
  return text + ']';
}

// Operations as text, each a JSON object ({"p": path, "v": value} and the others of
// state_changes), separated by commas.
class OpsText {
 public:
  explicit OpsText(std::string& out) : out_(out) {}
  // `at` is a path's text without its closing bracket.
  void put(const std::string& at, const std::string& value) { add(at, "\"v\":" + value); }
  void cut(const std::string& at, size_t length) { add(at, "\"n\":" + std::to_string(length)); }
  void remove(const std::string& at) { add(at, "\"d\":1"); }

 private:
  void add(const std::string& at, const std::string& what) {
    if (!out_.empty()) out_ += ',';
    out_ += "{\"p\":" + at + "]," + what + '}';
  }
  std::string& out_;
};

// Adds to `ops` what turns part `from` into part `to`, at the form whose path's text is
// `at` (without its closing bracket): members whose texts differ, array members element by
// element unless the whole array is shorter.
void part_changes(const ClientView::Part& from, const ClientView::Part& to, const std::string& at, std::string& ops) {
  OpsText out(ops);
  for (const auto& [key, member] : from) {
    if (!to.count(key)) out.remove(at + ',' + compact(key));
  }
  for (const auto& [key, member] : to) {
    const std::string member_at = at + ',' + compact(key);
    const auto old = from.find(key);
    if (old == from.end() || !member.array || !old->second.array) {
      if (old == from.end() || old->second.texts != member.texts) out.put(member_at, member_text(member));
      continue;
    }
    const std::vector<std::string>& a = old->second.texts;
    const std::vector<std::string>& b = member.texts;
    std::string elements;
    OpsText element_ops(elements);
    if (b.size() < a.size()) element_ops.cut(member_at, b.size());
    for (size_t i = 0; i < b.size(); ++i) {
      if (i >= a.size() || a[i] != b[i]) element_ops.put(member_at + ',' + std::to_string(i), b[i]);
    }
    if (elements.empty()) continue;
    const std::string whole = member_text(member);
    if (elements.size() > whole.size() + member_at.size() + 16) {
      out.put(member_at, whole);
    } else {
      if (!ops.empty()) ops += ',';
      ops += elements;
    }
  }
}

// Lays out again the parts of `form` whose data store changed since they were taken; when
// the client holds the form at the path whose text is `at`, adds the changes of each to `ops`.
void take_form(FormControl& control, RowRange range, ClientView::Form& form, const std::string* at, std::string& ops) {
  DataStore& store = control.store();
  auto take = [&](ClientView::Part& part, const json& fresh) {
    ClientView::Part held = hold(fresh);
    if (at) part_changes(part, held, *at, ops);
    part = std::move(held);
  };
  if (!store.has_definition()) {
    take(form.definition_part, json::object());
    take(form.lists_part, json::object());
    take(form.rows_part, json::object());
    form.definition = form.lists = form.rows = 0;
    return;
  }
  const bool new_definition = form.definition != store.definition_revision();
  if (new_definition) take(form.definition_part, form_definition_json(store));
  // The lists come before the rows, whose display values they name; laying them out may
  // fill a list, so revisions are read after it.
  if (new_definition || form.lists != store.lists_revision()) take(form.lists_part, form_lists_json(store));
  const uint64_t lists = store.lists_revision();
  if (form.rows != store.revision() || form.lists != lists || form.rows_from != range.from ||
      form.rows_count != range.count) {
    take(form.rows_part, form_rows_json(store, range));
  }
  form.definition = store.definition_revision();
  form.lists = lists;
  form.rows = store.revision();
  form.rows_from = range.from;
  form.rows_count = range.count;
}

}  // namespace

std::string ClientView::Form::whole() const {
  std::string text = "{";
  for (const Part* part : {&definition_part, &lists_part, &rows_part}) {
    for (const auto& [key, member] : *part) {
      if (text.size() > 1) text += ',';
      text += compact(key) + ':' + member_text(member);
    }
  }
  return text + '}';
}

std::string ClientView::document() const {
  // Each form's place is marked in the skeleton by a text no state holds (entries refuse
  // control characters), which its own text then replaces: no form is read back as a tree.
  json whole = json::parse(skeleton);
  std::vector<std::pair<std::string, const Form*>> places;
  json marks = json::array();
  for (const auto& [control, form] : forms) {
    const std::string mark = "\x01form " + std::to_string(places.size());
    marks.push_back({{"p", form.path}, {"v", mark}});
    places.emplace_back(compact(mark), &form);
  }
  apply_state_changes(whole, marks);
  std::string text = compact(whole);
  for (const auto& [mark, form] : places) {
    if (const size_t at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), form->whole());
  }
  return text;
}

json Session::build_document(const FormsTo& forms_to) {
  if (client_view_->frame.is_null()) {
    json menu = json::array();
    for (const auto& [class_name, caption] : options_.registry->menu(options_.user))
      menu.push_back({{"class", class_name}, {"caption", caption}});
    client_view_->frame = {{"class", options_.frame_class}, {"title", options_.frame_title}, {"menu", std::move(menu)}};
  }
  json state = json::object();
  state["user"] = {{"username", options_.user.username},
                   {"company_num", options_.user.company_num},
                   {"rights", options_.user.rights}};
  state["frame"] = client_view_->frame;
  state["status"] = status_;
  state["hourglass"] = hourglass_;
  json sheets = json::array();
  for (const auto& w : sheets_) sheets.push_back(window_json(*w, {"sheets", sheets.size()}, forms_to));
  state["sheets"] = std::move(sheets);
  state["active_sheet"] = sheets_.empty() ? json(nullptr) : json(active_sheet_);
  json modals = json::array();
  for (const auto& w : modals_) modals.push_back(window_json(*w, {"modals", modals.size()}, forms_to));
  state["modals"] = std::move(modals);
  state["message"] = box_ ? json{{"title", box_->title},
                                 {"text", box_->text},
                                 {"icon", icon_name(box_->icon)},
                                 {"buttons", button_names(box_->buttons)}}
                          : json(nullptr);
  json jobs = json::array();
  for (const auto& job : print_jobs_->finished())
    jobs.push_back({{"id", job.id}, {"name", job.name}, {"forms", job.forms}, {"pages", job.pages}});
  state["print_jobs"] = std::move(jobs);
  return state;
}

json Session::build_state() {
  return build_document([](json& control, FormControl& form, const json&) {
    control["form"] = form_json(form, {1, form.store().rowcount()});
  });
}

std::pair<long, long> Session::client_rows(const FormControl& form) {
  // A short form goes out whole. A long one shows the client a window of rows: where the
  // client looked last (show_rows), or, once the current row has moved, around the current
  // row, on 50-row steps, so that moving within the window does not move it.
  const long rows = form.store().rowcount();
  if (rows <= kWholeRows) {
    row_views_.erase(&form);
    return {1, rows};
  }
  const long current = form.store().getrow();
  RowView view;
  if (auto found = row_views_.find(&form); found != row_views_.end() && found->second.current == current) {
    view = found->second;
  } else {
    constexpr long kStep = 50;
    const long step_start = current > 0 ? (current - 1) / kStep * kStep + 1 : 1;
    view = {step_start - (kWindowRows - kStep) / 2, kWindowRows, current};
  }
  view.from = std::clamp(view.from, 1L, std::max(1L, rows - view.count + 1));
  row_views_[&form] = view;
  return {view.from, std::min(view.count, rows - view.from + 1)};
}

std::string Session::take_client_state() {
  ClientView& view = *client_view_;
  struct Shown {
    FormControl* form;
    json path;
  };
  std::vector<Shown> shown;
  json skeleton = build_document([&](json&, FormControl& form, const json& path) { shown.push_back({&form, path}); });
  // Mostly nothing but forms changed: the texts are compared first, the trees only when they differ.
  std::string skeleton_text = compact(skeleton);
  json skeleton_ops = json::array();
  std::string ops;
  if (skeleton_text != view.skeleton) {
    skeleton_ops = state_changes(json::parse(view.skeleton), skeleton);
    view.skeleton = std::move(skeleton_text);
    for (const json& op : skeleton_ops) ops += (ops.empty() ? "" : ",") + compact(op);
  }

  std::map<const FormControl*, ClientView::Form> taken;
  std::map<const FormControl*, RowView> views;
  for (auto& [form, path] : shown) {
    const auto [from, count] = client_rows(*form);
    if (auto v = row_views_.find(form); v != row_views_.end()) views.insert(*v);
    auto before = view.forms.find(form);
    const bool held = before != view.forms.end() && before->second.path == path && !replaces(skeleton_ops, path);
    ClientView::Form next = before != view.forms.end() ? std::move(before->second) : ClientView::Form{};
    std::string at = compact(path);
    at.pop_back();
    take_form(*form, {from, count}, next, held ? &at : nullptr, ops);
    if (!held) OpsText(ops).put(at, next.whole());
    next.path = std::move(path);
    taken.emplace(form, std::move(next));
  }
  view.forms = std::move(taken);
  // Views of forms that are gone (their windows closed) go with them.
  row_views_ = std::move(views);
  return ops;
}

}  // namespace shenbao
