// The session's state as one JSON document: what the browser draws and what tests read.
//
// {
//   "user": {"username", "company_num", "rights": [RIGHT...]},
//   "frame": {"class", "title", "menu": [{"class", "caption", "note" (when it has one)}]},
//   "status": "保存成功", "hourglass": false,
//   "sheets": [WINDOW...], "active_sheet": 0, "modals": [WINDOW...],
//   "message": null | {"title", "text", "icon", "buttons": ["yes", "no"],
//               "default": "no" (the button that has the focus, which Enter presses)},
//   "print_jobs": [{"id", "name", "forms", "pages"}]
// }
// WINDOW:  {"class", "title", "x", "y", "width", "height", "focus", "controls": [CONTROL...]}
// CONTROL: {"name", "kind", "x", "y", "width", "height", "visible", "enabled", "text", "mask",
//           "role": {"right", "refusal", "locked", "audit", "gesture", "gesture_column",
//                    "initials_gesture", "initials_column", "accent"}
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
#include <functional>
#include <map>

#include "framework/runtime/windows/client_view.h"
#include "framework/runtime/windows/form_state.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/state_diff.h"

namespace shenbao {
namespace {

using nlohmann::json;

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

json role_json(const ControlRole& role) {
  json out = json::object();
  for (const auto& [name, text] : {std::pair<const char*, const std::string*>{"right", &role.right},
                                   {"refusal", &role.refusal},
                                   {"locked", &role.locked},
                                   {"audit", &role.audit},
                                   {"gesture", &role.gesture},
                                   {"gesture_column", &role.gesture_column},
                                   {"initials_gesture", &role.initials_gesture},
                                   {"initials_column", &role.initials_column}}) {
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
    if (control->limit > 0) c["limit"] = control->limit;
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

}  // namespace

json Session::build_document(const FormsTo& forms_to) {
  if (client_view_->frame.is_null()) {
    json menu = json::array();
    const auto notes = options_.menu_notes ? options_.menu_notes(*this) : std::map<std::string, std::string>{};
    for (const auto& [class_name, caption] : options_.registry->menu(options_.user)) {
      json item = {{"class", class_name}, {"caption", caption}};
      if (auto note = notes.find(class_name); note != notes.end() && !note->second.empty()) item["note"] = note->second;
      menu.push_back(std::move(item));
    }
    client_view_->frame = {{"class", options_.frame_class}, {"title", options_.frame_title}, {"menu", std::move(menu)}};
  }
  json state = json::object();
  state["user"] = {{"username", options_.user.username},
                   {"company_num", options_.user.company_num},
                   {"rights", options_.user.rights}};
  state["frame"] = client_view_->frame;
  state["status"] = status_window_ == active_window() ? status_ : std::string();
  state["hourglass"] = hourglass_;
  json sheets = json::array();
  for (const auto& w : sheets_) sheets.push_back(window_json(*w, {"sheets", sheets.size()}, forms_to));
  state["sheets"] = std::move(sheets);
  state["active_sheet"] = sheets_.empty() ? json(nullptr) : json(active_sheet_);
  json modals = json::array();
  for (const auto& w : modals_) modals.push_back(window_json(*w, {"modals", modals.size()}, forms_to));
  state["modals"] = std::move(modals);
  state["message"] = nullptr;
  if (box_) {
    const auto names = button_names(box_->buttons);
    json buttons = json::array();
    for (std::string_view name : names) buttons.push_back(name);
    state["message"] = {{"title", box_->title},
                        {"text", box_->text},
                        {"icon", icon_name(box_->icon)},
                        {"buttons", std::move(buttons)},
                        {"default", names.at(box_->default_button - 1)}};
  }
  json jobs = json::array();
  for (const auto& job : print_jobs_->finished())
    jobs.push_back({{"id", job.id}, {"name", job.name}, {"forms", job.forms}, {"pages", job.pages}});
  state["print_jobs"] = std::move(jobs);
  return state;
}

json Session::build_state() {
  return build_document([](json& control, FormControl& form, const json&) {
    control["form"] = form_json(form.store(), 1, form.store().rowcount());
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
  std::string skeleton_text = compact_text(skeleton);
  json skeleton_ops = json::array();
  std::string ops;
  if (skeleton_text != view.skeleton) {
    skeleton_ops = state_changes(json::parse(view.skeleton), skeleton);
    view.skeleton = std::move(skeleton_text);
    for (const json& op : skeleton_ops) OpsText(ops).append(compact_text(op));
  }

  std::map<const FormControl*, ClientView::Form> taken;
  std::map<const FormControl*, RowView> views;
  for (auto& [form, path] : shown) {
    const auto [from, count] = client_rows(*form);
    if (auto v = row_views_.find(form); v != row_views_.end()) views.insert(*v);
    auto before = view.forms.find(form);
    const bool held = before != view.forms.end() && before->second.path == path && !replaces(skeleton_ops, path);
    ClientView::Form next = before != view.forms.end() ? std::move(before->second) : ClientView::Form{};
    std::string at = compact_text(path);
    at.pop_back();
    next.take(form->store(), from, count, held ? &at : nullptr, ops);
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
