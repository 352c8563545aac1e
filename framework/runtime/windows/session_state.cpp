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
#include "framework/runtime/values/json_text.h"

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

void write_role(JsonTextWriter& out, std::string& text, const ControlRole& role) {
  const size_t before = text.size();
  out.key("role").raw("{");
  for (const auto& [name, value] : {std::pair<const char*, const std::string*>{"right", &role.right},
                                    {"refusal", &role.refusal},
                                    {"locked", &role.locked},
                                    {"audit", &role.audit},
                                    {"gesture", &role.gesture},
                                    {"gesture_column", &role.gesture_column},
                                    {"initials_gesture", &role.initials_gesture},
                                    {"initials_column", &role.initials_column}}) {
    if (!value->empty()) out.member(name, *value);
  }
  if (role.accent) out.flag("accent", true);
  // A control without a role has no member for it.
  if (text.back() == '{') {
    text.resize(before);
  } else {
    text += '}';
  }
}

// The state of a window, written to `text`; `forms_to` is called for each form control with
// the text of its control object, still open, and the path of its form in the state
// document: it writes the form's member there, or takes note of it.
using FormsTo = std::function<void(std::string& control, FormControl& form, const json& path)>;
using WindowText = ClientView::WindowText;
using Layout = ClientView::Layout;

void write_window(std::string& text, const Window& window, std::string_view list, size_t index, const FormsTo& forms_to,
                  Layout* layout) {
  json path = {list, index};
  WindowText place{list, index, text.size(), 0, 0, layout ? layout->controls.size() : 0, 0};
  JsonTextWriter out(text);
  out.raw("{");
  out.member("class", window.class_name()).member("title", window.title);
  out.member("x", window.x).member("y", window.y).member("width", window.width).member("height", window.height);
  out.key("focus");
  if (window.focus()) {
    out.text(window.focus()->name());
  } else {
    out.raw("null");
  }
  place.controls_key = text.size();
  out.key("controls").raw("[");
  path.push_back("controls");
  size_t written = 0;  // controls written so far: the next one's index
  for (const auto& control : window.controls()) {
    out.separate();
    const size_t control_begin = text.size();
    out.raw("{");
    out.member("name", control->name()).member("kind", to_string(control->kind()));
    out.member("x", control->x).member("y", control->y).member("width", control->width).member("height", control->height);
    out.flag("visible", control->visible).flag("enabled", control->enabled).member("text", control->text);
    if (!control->mask.empty()) out.member("mask", control->mask);
    if (control->limit > 0) out.member("limit", static_cast<long long>(control->limit));
    write_role(out, text, control->role);
    if (control->kind() == ControlKind::Form) {
      auto& form = *static_cast<FormControl*>(control.get());
      if (form.read_only) out.flag("read_only", true);
      path.push_back(written);
      path.push_back("form");
      forms_to(text, form, path);
      path.erase(path.size() - 1);
      path.erase(path.size() - 1);
    }
    out.raw("}");
    if (layout) layout->controls.emplace_back(control_begin, text.size());
    ++written;
  }
  out.raw("]}");
  if (!layout) return;
  place.end = text.size();
  place.control_count = written;
  layout->windows.push_back(place);
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

// The operations that turn skeleton `a` into skeleton `b`, laid out as `a_layout` and
// `b_layout` say. When the same windows with as many controls stand in both and only their
// texts changed (a focus, a caption, a control moved), only the parts that differ are read as
// trees and compared: a window's own members, or a control.
json skeleton_changes(const std::string& a, const Layout& a_layout, const std::string& b, const Layout& b_layout) {
  const auto& aw = a_layout.windows;
  const auto& bw = b_layout.windows;
  const auto piece = [](const std::string& s, size_t from, size_t to) { return std::string_view(s).substr(from, to - from); };
  bool same_frame = aw.size() == bw.size();
  for (size_t i = 0; same_frame && i <= aw.size(); ++i) {
    const size_t a_from = i > 0 ? aw[i - 1].end : 0, b_from = i > 0 ? bw[i - 1].end : 0;
    const size_t a_to = i < aw.size() ? aw[i].begin : a.size(), b_to = i < bw.size() ? bw[i].begin : b.size();
    same_frame = piece(a, a_from, a_to) == piece(b, b_from, b_to) &&
                 (i == aw.size() || (aw[i].list == bw[i].list && aw[i].index == bw[i].index &&
                                     aw[i].control_count == bw[i].control_count));
  }
  if (!same_frame) return state_changes(json::parse(a), json::parse(b));
  json ops = json::array();
  const auto add = [&](json changes) {
    for (json& op : changes) ops.push_back(std::move(op));
  };
  for (size_t i = 0; i < aw.size(); ++i) {
    const json at = json::array({aw[i].list, aw[i].index});
    // The window's own members: its text up to its controls, as an object of them, compared
    // member by member, so that no operation puts the window without its controls.
    const std::string_view a_own = piece(a, aw[i].begin, aw[i].controls_key);
    const std::string_view b_own = piece(b, bw[i].begin, bw[i].controls_key);
    if (a_own != b_own) {
      const json before = json::parse(std::string(a_own) + '}');
      const json after = json::parse(std::string(b_own) + '}');
      for (const auto& [key, value] : after.items()) {
        json member_at = at;
        member_at.push_back(key);
        add(state_changes(before.value(key, json()), value, member_at));
      }
    }
    for (size_t c = 0; c < aw[i].control_count; ++c) {
      const auto [a_begin, a_end] = a_layout.controls[aw[i].first_control + c];
      const auto [b_begin, b_end] = b_layout.controls[bw[i].first_control + c];
      if (piece(a, a_begin, a_end) == piece(b, b_begin, b_end)) continue;
      add(state_changes(json::parse(piece(a, a_begin, a_end)), json::parse(piece(b, b_begin, b_end)),
                        json::array({aw[i].list, aw[i].index, "controls", c})));
    }
  }
  return ops;
}

}  // namespace

void Session::write_document(std::string& text, const FormsTo& forms_to, Layout* layout) {
  if (client_view_->frame.empty()) {
    std::string& frame = client_view_->frame;
    JsonTextWriter out(frame);
    const auto notes = options_.menu_notes ? options_.menu_notes(*this) : std::map<std::string, std::string>{};
    out.raw("{");
    out.member("class", options_.frame_class).member("title", options_.frame_title);
    out.key("menu").raw("[");
    for (const auto& [class_name, caption] : options_.registry->menu(options_.user)) {
      out.separate();
      out.raw("{");
      out.member("class", class_name).member("caption", caption);
      if (auto note = notes.find(class_name); note != notes.end() && !note->second.empty())
        out.member("note", note->second);
      out.raw("}");
    }
    out.raw("]}");
  }
  text.clear();
  if (layout) layout->clear();
  JsonTextWriter out(text);
  out.raw("{");
  out.key("user").raw("{");
  out.member("username", options_.user.username).member("company_num", options_.user.company_num);
  out.key("rights").raw("[");
  for (const std::string& right : options_.user.rights) {
    out.separate();
    out.text(right);
  }
  out.raw("]}");
  out.key("frame").raw(client_view_->frame);
  out.member("status", status_window_ == active_window() ? std::string_view(status_) : std::string_view());
  out.flag("hourglass", hourglass_);
  // "sheets" or "modals": the windows of that list.
  const auto write_windows = [&](std::string_view list, const std::vector<std::unique_ptr<Window>>& windows) {
    out.key(list).raw("[");
    for (size_t i = 0; i < windows.size(); ++i) {
      out.separate();
      write_window(text, *windows[i], list, i, forms_to, layout);
    }
    out.raw("]");
  };
  write_windows("sheets", sheets_);
  out.key("active_sheet");
  if (sheets_.empty()) {
    out.raw("null");
  } else {
    out.number(static_cast<long long>(active_sheet_));
  }
  write_windows("modals", modals_);
  out.key("message");
  if (box_) {
    const auto names = button_names(box_->buttons);
    out.raw("{");
    out.member("title", box_->title).member("text", box_->text).member("icon", icon_name(box_->icon));
    out.key("buttons").raw("[");
    for (std::string_view name : names) {
      out.separate();
      out.text(name);
    }
    out.raw("]");
    out.member("default", names.at(box_->default_button - 1));
    out.raw("}");
  } else {
    out.raw("null");
  }
  out.key("print_jobs").raw("[");
  for (const auto& job : print_jobs_->finished()) {
    out.separate();
    out.raw("{");
    out.member("id", job.id).member("name", job.name).member("forms", job.forms).member("pages", job.pages);
    out.raw("}");
  }
  out.raw("]}");
}

std::string Session::state_document() {
  std::string text;
  write_document(text, [](std::string& control, FormControl& form, const json&) {
    JsonTextWriter(control).key("form").raw(form_text(form.store(), 1, form.store().rowcount()));
  });
  return text;
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
  write_document(
      view.next_skeleton, [&](std::string&, FormControl& form, const json& path) { shown.push_back({&form, path}); },
      &view.next_layout);
  // Mostly nothing but forms changed: the texts are compared first, the trees only when they differ.
  json skeleton_ops = json::array();
  std::string ops;
  if (view.next_skeleton != view.skeleton) {
    skeleton_ops = skeleton_changes(view.skeleton, view.layout, view.next_skeleton, view.next_layout);
    std::swap(view.skeleton, view.next_skeleton);
    std::swap(view.layout, view.next_layout);
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
