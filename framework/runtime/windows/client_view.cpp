#include "framework/runtime/windows/client_view.h"

#include <algorithm>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/windows/form_state.h"
#include "framework/runtime/windows/state_diff.h"

namespace shenbao {
namespace {

using nlohmann::json;

// The operations that turn array `a` into array `b` (element texts), at the path whose text
// is `at`: a run of elements inserted or removed after their common start (a list that
// shifted by a row, as a declaration list does when one is added at its top), then the
// elements that differ one by one, and the array cut or lengthened to its new size.
std::string element_changes(const std::vector<std::string>& a, const std::vector<std::string>& b, const std::string& at) {
  constexpr size_t kLongestRun = 64;
  size_t same = 0;
  while (same < a.size() && same < b.size() && a[same] == b[same]) ++same;
  size_t inserted = 0, removed = 0;
  for (size_t k = 1; k <= kLongestRun && same < a.size() && same + k < b.size() && !inserted; ++k) {
    if (b[same + k] == a[same]) inserted = k;
  }
  for (size_t k = 1; k <= kLongestRun && same < b.size() && same + k < a.size() && !inserted && !removed; ++k) {
    if (a[same + k] == b[same]) removed = k;
  }
  std::string ops;
  OpsText out(ops);
  if (inserted || removed)
    out.splice(at, same, removed, std::vector<std::string>(b.begin() + same, b.begin() + same + inserted));
  // `a` with the run spliced in, element by element.
  const size_t length = a.size() - removed + inserted;
  auto spliced = [&](size_t i) -> const std::string& { return i < same + inserted ? b[i] : a[i - inserted + removed]; };
  if (b.size() < length) out.cut(at, b.size());
  for (size_t i = same + inserted; i < b.size(); ++i) {
    if (i >= length || spliced(i) != b[i]) out.put(at + ',' + std::to_string(i), b[i]);
  }
  return ops;
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
    const std::string elements = element_changes(old->second.texts, member.texts, member_at);
    if (elements.empty()) continue;
    const std::string whole = member_text(member);
    if (elements.size() > whole.size() + member_at.size() + 16) {
      out.put(member_at, whole);
    } else {
      out.append(elements);
    }
  }
}

}  // namespace

// Operations as text, each a JSON object ({"p": path, "v": value} and the others of
// state_changes), separated by commas.
void OpsText::put(const std::string& at, const std::string& value) { add(at, "\"v\":" + value); }
void OpsText::cut(const std::string& at, size_t length) { add(at, "\"n\":" + std::to_string(length)); }
void OpsText::remove(const std::string& at) { add(at, "\"d\":1"); }
void OpsText::splice(const std::string& at, size_t index, size_t removed, const std::vector<std::string>& inserted) {
  add(at, "\"i\":" + std::to_string(index) + ",\"r\":" + std::to_string(removed) + ",\"a\":" + array_text(inserted));
}

void OpsText::append(const std::string& ops) {
  if (ops.empty()) return;
  if (!out_.empty()) out_ += ',';
  out_ += ops;
}

void OpsText::add(const std::string& at, const std::string& what) { append("{\"p\":" + at + "]," + what + '}'); }

void ClientView::Form::take(DataStore& store, long from, long count, const std::string* at, std::string& ops) {
  auto lay_out = [&](Part& part, Part fresh) {
    if (at) part_changes(part, fresh, *at, ops);
    part = std::move(fresh);
  };
  // The lists are the members of the form's "lists" object, which a form has with its definition.
  const std::string lists_at = at ? *at + ",\"lists\"" : std::string();
  if (!store.has_definition()) {
    if (at && defined) OpsText(ops).remove(lists_at);
    lay_out(definition_part, {});
    lay_out(rows_part, {});
    lists_part.clear();
    definition = lists = rows = 0;
    defined = false;
    return;
  }
  const bool new_definition = definition != store.definition_revision();
  if (new_definition) lay_out(definition_part, form_definition_part(store));
  // The lists come before the rows, whose display values they name; laying them out may
  // fill a list, so revisions are read after it.
  if (new_definition || lists != store.lists_revision()) {
    Part fresh = form_lists_part(store);
    if (at && defined) part_changes(lists_part, fresh, lists_at, ops);
    if (at && !defined) OpsText(ops).put(lists_at, members_text(fresh));
    lists_part = std::move(fresh);
  }
  defined = true;
  const uint64_t lists_now = store.lists_revision();
  if (rows != store.revision() || lists != lists_now || rows_from != from || rows_count != count)
    lay_out(rows_part, form_rows_part(store, from, count));
  definition = store.definition_revision();
  lists = lists_now;
  rows = store.revision();
  rows_from = from;
  rows_count = count;
}

std::string ClientView::Form::whole() const {
  return form_object_text(definition_part, defined ? &lists_part : nullptr, rows_part);
}

std::string ClientView::document() const {
  // Each form's place is marked in the skeleton by a text of control characters, which its
  // own text then replaces, so that no form is read back as a tree. Should the skeleton hold
  // a mark's text anywhere else, the forms are put in as trees instead.
  json marks = json::array();
  std::vector<std::pair<std::string, const Form*>> places;
  for (const auto& [control, form] : forms) {
    const std::string mark = "\x01\x02form " + std::to_string(places.size()) + "\x02\x01";
    marks.push_back({{"p", form.path}, {"v", mark}});
    places.emplace_back(compact_text(mark), &form);
  }
  json with_marks = json::parse(skeleton);
  apply_state_changes(with_marks, marks);
  const std::string text = compact_text(with_marks);
  std::vector<std::pair<size_t, const std::pair<std::string, const Form*>*>> at;
  for (const auto& place : places) {
    const size_t found = text.find(place.first);
    if (found == std::string::npos || text.find(place.first, found + 1) != std::string::npos) {
      json whole = json::parse(skeleton);
      json puts = json::array();
      for (const auto& [control, form] : forms) puts.push_back({{"p", form.path}, {"v", json::parse(form.whole())}});
      apply_state_changes(whole, puts);
      return compact_text(whole);
    }
    at.emplace_back(found, &place);
  }
  std::sort(at.begin(), at.end());
  std::string out;
  size_t from = 0;
  for (const auto& [position, place] : at) {
    out.append(text, from, position - from);
    out += place->second->whole();
    from = position + place->first.size();
  }
  out.append(text, from, std::string::npos);
  return out;
}

}  // namespace shenbao
