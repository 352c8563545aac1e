#include "framework/runtime/windows/window.h"

#include <cctype>
#include <algorithm>
#include <cstdlib>

#include "framework/runtime/windows/session.h"

namespace shenbao {

std::string_view to_string(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button: return "button";
    case ControlKind::StaticText: return "static";
    case ControlKind::EditMask: return "editmask";
    case ControlKind::SingleLineEdit: return "edit";
    case ControlKind::MultiLineEdit: return "mle";
    case ControlKind::CheckBox: return "checkbox";
    case ControlKind::Form: return "form";
    case ControlKind::Selector: return "selector";
  }
  return "control";
}

Control::Control(Window& window, ControlKind kind, std::string name)
    : window_(&window), kind_(kind), name_(std::move(name)) {}

std::optional<std::string> Control::property(std::string_view name) const {
  if (name == "x") return std::to_string(x);
  if (name == "y") return std::to_string(y);
  if (name == "width") return std::to_string(width);
  if (name == "height") return std::to_string(height);
  if (name == "visible") return visible ? "true" : "false";
  if (name == "enabled") return enabled ? "true" : "false";
  if (name == "text") return text;
  return std::nullopt;
}

FormControl::FormControl(Window& window, std::string name) : Control(window, ControlKind::Form, std::move(name)) {}

int FormControl::set_dataobject(std::string_view name) {
  const int rc = store_.set_dataobject(name);
  if (rc < 0) return rc;
  store_.settransobject(&window().session().sqlca());
  store_.set_today(window().session().today());
  // Every drop-down shows names from its code list: the lists that take no arguments are
  // fetched once here; a window's constructor may fetch or narrow them again.
  const FormDef& def = store_.def();
  for (const auto& object : def.objects) {
    if (object.kind != ObjectKind::Column || object.get("dddw.name").empty()) continue;
    DataStore* list = store_.getchild(def.columns[static_cast<size_t>(object.column)].name);
    if (list && list->def().arguments.empty() && !list->def().retrieve_sql.empty()) {
      list->settransobject(&window().session().sqlca());
      list->retrieve();
    }
  }
  if (constructor) constructor();
  return rc;
}

std::optional<Refusal> FormControl::type_into(long row, const std::string& column, const std::string& text) {
  if (!store_.has_definition()) return Refusal::technical(RefusalCode::BadRequest, name() + " shows no form");
  const int index = store_.def().column_index(column);
  if (index < 0) return Refusal::technical(RefusalCode::BadRequest, "no column " + column + " in " + store_.dataobject());
  if (row < 1 || row > store_.rowcount())
    return Refusal::technical(RefusalCode::BadRequest, "no row " + std::to_string(row) + " in " + name());
  if (row != store_.getrow()) select_row(row);
  store_.setcolumn(column);
  setfocus();
  if (editchanged) editchanged(row, column, text);
  // The column's type speaks first: a script never sees a value the column cannot hold. A
  // number entered through a percent mask ("###,###.00%") is read as percent: "12.50%" and
  // "12.5" both hold 0.125, as the format "0.00%" then shows it.
  const ColumnType& type = store_.def().columns[static_cast<size_t>(index)].type;
  std::string entry = text;
  bool percent = false;
  if (type.is_numeric() && type.kind != TypeKind::Long) {
    for (const auto& object : store_.def().objects) {
      if (object.kind == ObjectKind::Column && object.column == index)
        percent = (object.get("mask") + object.get("format")).find('%') != std::string::npos;
    }
    if (percent) std::erase_if(entry, [](char c) { return c == '%' || c == ','; });
  }
  Result<Value> value = parse_entry(type, entry);
  if (value && percent && !value->is_null()) value = Value(value->as_number() / 100.0);
  if (!value) return value.refusal();
  if (auto refused = check_choice(index, *value, text)) return refused;
  if (auto below = below_minimum(index, *value)) return below;
  entry_refusal_.clear();
  if (itemchanged && itemchanged(row, column, text, *value) == 1)
    return Refusal{RefusalCode::InvalidEntry, std::move(entry_refusal_), "refused by the form"};
  if (store_.setitem(row, index + 1, std::move(*value)) < 0)
    return Refusal::technical(RefusalCode::InvalidEntry, store_.last_error());
  if (entries_only) store_.reset_update_flags();
  return std::nullopt;
}

std::optional<Refusal> FormControl::editable(long row, const std::string& column) const {
  auto refuse = [&](std::string why) { return Refusal::technical(RefusalCode::NotNow, std::move(why)); };
  if (!store_.has_definition()) return refuse(name() + " shows no form");
  // A read-only control, or a form whose definition says datawindow.readonly=yes.
  std::string readonly = store_.def().form_property("readonly");
  for (char& c : readonly) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (read_only || readonly == "yes" || readonly == "'yes'" || readonly == "1")
    return refuse(name() + " is read-only");
  const FormObject* shown = shown_column(store_.def().column_index(column));
  if (!shown) return refuse("column " + column + " is not shown in " + name());
  const bool is_protected = Expression::truthy(store_.property_value(*shown, "protect", row));
  const bool hidden = shown->find("visible") && !Expression::truthy(store_.property_value(*shown, "visible", row));
  if (is_protected || hidden || shown->get("edit") == "none")
    return refuse("column " + column + " of " + name() + " is protected");
  return std::nullopt;
}

std::optional<Refusal> FormControl::check_choice(int index, const Value& value, const std::string& text) {
  if (value.is_null()) return std::nullopt;
  const FormDef& def = store_.def();
  const std::string& column = def.columns[static_cast<size_t>(index)].name;
  for (const auto& object : def.objects) {
    if (object.kind != ObjectKind::Column || object.column != index) continue;
    if (!object.get("dddw.name").empty()) {
      // A code of the list, also one the window has narrowed away for the present row.
      const DataStore* list = store_.getchild(column);
      const std::string data = object.get("dddw.data");
      if (list && list->has_definition()) {
        for (Buffer buffer : {Buffer::Primary, Buffer::Filter}) {
          const long rows = buffer == Buffer::Primary ? list->rowcount() : list->filteredcount();
          for (long r = 1; r <= rows; ++r) {
            if (same_code(list->getitem(r, data, buffer), value)) return std::nullopt;
          }
        }
      }
      return Refusal::for_user(RefusalCode::InvalidEntry, "“" + text + "”不在可选的代码中",
                               "\"" + text + "\" is not a code of " + object.get("dddw.name"));
    }
    if (object.get("edit") == "checkbox") {
      if (same_code(Value(object.get("checkbox.on")), value) || same_code(Value(object.get("checkbox.off")), value))
        return std::nullopt;
      return Refusal::for_user(RefusalCode::InvalidEntry, "“" + text + "”不是复选框可取的值",
                               "\"" + text + "\" is neither the on nor the off value of check box " + column);
    }
  }
  return std::nullopt;
}

const FormObject* FormControl::shown_column(int index) const {
  const FormObject* shown = nullptr;
  for (const auto& object : store_.def().objects) {
    if (object.kind == ObjectKind::Column && object.column == index) shown = &object;
  }
  return shown;
}

std::optional<Refusal> FormControl::below_minimum(int index, const Value& value) const {
  // A column shown with `min` (counts of people: min=0) takes no number below it.
  const FormObject* shown = shown_column(index);
  if (!shown || !shown->find("min") || !value.is_numeric()) return std::nullopt;
  const std::string minimum = shown->get("min");
  const double floor = std::strtod(minimum.c_str(), nullptr);
  if (value.as_number() >= floor) return std::nullopt;
  return Refusal::for_user(RefusalCode::InvalidEntry, minimum == "0" ? "不能为负数" : "不能小于" + minimum,
                           "below the column's minimum " + minimum);
}

void FormControl::filter_in(long row, const std::string& column, const std::string& text) {
  if (row >= 1 && row <= store_.rowcount() && row != store_.getrow()) select_row(row);
  store_.setcolumn(column);
  setfocus();
  if (editchanged) editchanged(row, column, text);
}

bool FormControl::select_row(long row) {
  if (row < 1 || row > store_.rowcount()) return false;
  store_.setrow(row);
  setfocus();
  // Also for the row that is current already: a retrieve or a script made it current without
  // the window hearing of it, and the user's click on it must reach the window.
  if (rowfocuschanged) rowfocuschanged(row);
  return true;
}

int FormControl::setcolumn(std::string_view column) { return store_.setcolumn(column); }

void FormControl::setfocus() { window().set_focus(this); }

bool FormControl::has_focus() const { return window().focus() == this; }

Window::Window(Session& session, std::string class_name) : session_(&session), class_name_(std::move(class_name)) {}

Window::~Window() = default;

const std::any& Window::message_parameter() const { return session().message.powerobjectparm; }

Result<Value> Window::call(std::string_view function, const std::vector<std::string>& args) {
  const auto found = functions_.find(function);
  if (found == functions_.end())
    return Refusal::technical(RefusalCode::BadRequest, "window " + class_name_ + " has no function " + std::string(function));
  return found->second(args);
}

void Window::define_function(std::string name, Function function) { functions_[std::move(name)] = std::move(function); }

std::optional<Value> Window::variable(std::string_view) const { return std::nullopt; }

std::optional<Refusal> Window::gesture(std::string_view name, const std::vector<std::string>&) {
  return Refusal::technical(RefusalCode::BadRequest, "window " + class_name_ + " has no gesture " + std::string(name));
}

Control* Window::control(std::string_view name) const {
  for (const auto& c : controls_) {
    if (c->name() == name) return c.get();
  }
  return nullptr;
}

FormControl* Window::form(std::string_view name) const {
  Control* c = control(name);
  return c && c->kind() == ControlKind::Form ? static_cast<FormControl*>(c) : nullptr;
}

Control& Window::add_control(ControlKind kind, std::string name, std::string text, int x, int y, int width,
                             int height) {
  auto c = std::make_unique<Control>(*this, kind, std::move(name));
  c->text = std::move(text);
  c->x = x;
  c->y = y;
  c->width = width;
  c->height = height;
  controls_.push_back(std::move(c));
  return *controls_.back();
}

FormControl& Window::add_form(std::string name, int x, int y, int width, int height) {
  auto c = std::make_unique<FormControl>(*this, std::move(name));
  c->x = x;
  c->y = y;
  c->width = width;
  c->height = height;
  FormControl& form = *c;
  controls_.push_back(std::move(c));
  return form;
}

void Window::close_window() {
  if (!close_query()) return;
  close();
  session().request_close(*this);
}

void Window::close_with_return(std::string result) {
  session().message.stringparm = std::move(result);
  close();
  session().request_close(*this);
}

}  // namespace shenbao
