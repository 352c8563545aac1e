#include "framework/runtime/windows/client_view.h"

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/windows/form_state.h"
#include "framework/runtime/windows/state_diff.h"

namespace shenbao {
namespace {

using nlohmann::json;

// A part as the client holds it.
ClientView::Part hold(const json& part) {
  ClientView::Part held;
  for (auto it = part.begin(); it != part.end(); ++it) {
    ClientView::Member& member = held[it.key()];
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

std::string member_text(const ClientView::Member& member) {
  if (!member.array) return member.texts.front();
  std::string text = "[";
  for (const std::string& element : member.texts) {
    if (text.size() > 1) text += ',';
    text += element;
  }
  return text + ']';
}

// Adds to `ops` what turns part `from` into part `to`, at the form whose path's text is
// `at` (without its closing bracket): members whose texts differ, array members element by
// element unless the whole array is shorter.
void part_changes(const ClientView::Part& from, const ClientView::Part& to, const std::string& at, std::string& ops) {
  OpsText out(ops);
  for (const auto& [key, member] : from) {
    if (!to.count(key)) out.remove(at + ',' + compact_text(key));
  }
  for (const auto& [key, member] : to) {
    const std::string member_at = at + ',' + compact_text(key);
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

}  // namespace

// Operations as text, each a JSON object ({"p": path, "v": value} and the others of
// state_changes), separated by commas.
void OpsText::put(const std::string& at, const std::string& value) { add(at, "\"v\":" + value); }
void OpsText::cut(const std::string& at, size_t length) { add(at, "\"n\":" + std::to_string(length)); }
void OpsText::remove(const std::string& at) { add(at, "\"d\":1"); }

void OpsText::add(const std::string& at, const std::string& what) {
  if (!out_.empty()) out_ += ',';
  out_ += "{\"p\":" + at + "]," + what + '}';
}

void ClientView::Form::take(DataStore& store, long from, long count, const std::string* at, std::string& ops) {
  auto lay_out = [&](Part& part, const json& fresh) {
    Part held = hold(fresh);
    if (at) part_changes(part, held, *at, ops);
    part = std::move(held);
  };
  if (!store.has_definition()) {
    lay_out(definition_part, json::object());
    lay_out(lists_part, json::object());
    lay_out(rows_part, json::object());
    definition = lists = rows = 0;
    return;
  }
  const bool new_definition = definition != store.definition_revision();
  if (new_definition) lay_out(definition_part, form_definition_json(store));
  // The lists come before the rows, whose display values they name; laying them out may
  // fill a list, so revisions are read after it.
  if (new_definition || lists != store.lists_revision()) lay_out(lists_part, form_lists_json(store));
  const uint64_t lists_now = store.lists_revision();
  if (rows != store.revision() || lists != lists_now || rows_from != from || rows_count != count)
    lay_out(rows_part, form_rows_json(store, from, count));
  definition = store.definition_revision();
  lists = lists_now;
  rows = store.revision();
  rows_from = from;
  rows_count = count;
}


std::string ClientView::Form::whole() const {
  std::string text = "{";
  for (const Part* part : {&definition_part, &lists_part, &rows_part}) {
    for (const auto& [key, member] : *part) {
      if (text.size() > 1) text += ',';
      text += compact_text(key) + ':' + member_text(member);
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
    places.emplace_back(compact_text(mark), &form);
  }
  apply_state_changes(whole, marks);
  std::string text = compact_text(whole);
  for (const auto& [mark, form] : places) {
    if (const size_t at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), form->whole());
  }
  return text;
}

}  // namespace shenbao
