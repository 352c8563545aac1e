#include "framework/runtime/windows/state_diff.h"

namespace shenbao {
namespace {

using nlohmann::json;

size_t dumped_size(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace).size(); }

void diff(const json& a, const json& b, json& path, json& ops) {
  if (a == b) return;
  const bool objects = a.is_object() && b.is_object();
  const bool arrays = a.is_array() && b.is_array();
  if (!objects && !arrays) {
    ops.push_back({{"p", path}, {"v", b}});
    return;
  }
  json mine = json::array();
  if (objects) {
    for (auto it = a.begin(); it != a.end(); ++it) {
      if (!b.contains(it.key())) {
        path.push_back(it.key());
        mine.push_back({{"p", path}, {"d", 1}});
        path.erase(path.size() - 1);
      }
    }
    for (auto it = b.begin(); it != b.end(); ++it) {
      path.push_back(it.key());
      if (auto old = a.find(it.key()); old != a.end()) {
        diff(*old, it.value(), path, mine);
      } else {
        mine.push_back({{"p", path}, {"v", it.value()}});
      }
      path.erase(path.size() - 1);
    }
  } else {
    if (b.size() < a.size()) mine.push_back({{"p", path}, {"n", b.size()}});
    for (size_t i = 0; i < b.size(); ++i) {
      path.push_back(i);
      if (i < a.size()) {
        diff(a[i], b[i], path, mine);
      } else {
        mine.push_back({{"p", path}, {"v", b[i]}});
      }
      path.erase(path.size() - 1);
    }
  }
  // Many small changes (a window of rows that moved) cost more than the part itself.
  if (mine.size() > 2 && dumped_size(mine) > dumped_size(b) + 16 + path.dump().size()) {
    ops.push_back({{"p", path}, {"v", b}});
    return;
  }
  for (auto& op : mine) ops.push_back(std::move(op));
}

}  // namespace

json state_changes(const json& from, const json& to, const json& at) {
  json ops = json::array();
  json path = at;
  diff(from, to, path, ops);
  return ops;
}

void apply_state_changes(json& document, const json& changes) {
  for (const json& op : changes) {
    const json& path = op.at("p");
    if (path.empty()) {
      if (op.contains("v")) document = op["v"];
      continue;
    }
    json* parent = &document;
    for (size_t i = 0; i + 1 < path.size(); ++i)
      parent = path[i].is_string() ? &(*parent)[path[i].get<std::string>()] : &(*parent)[path[i].get<size_t>()];
    const json& last = path.back();
    if (op.contains("v")) {
      if (last.is_string()) {
        (*parent)[last.get<std::string>()] = op["v"];
      } else {
        const size_t index = last.get<size_t>();
        if (index == parent->size()) parent->push_back(op["v"]);
        else (*parent)[index] = op["v"];
      }
    } else if (op.contains("n")) {
      json& array = last.is_string() ? (*parent)[last.get<std::string>()] : (*parent)[last.get<size_t>()];
      while (array.size() > op["n"].get<size_t>()) array.erase(array.size() - 1);
    } else if (op.contains("d")) {
      parent->erase(last.get<std::string>());
    } else if (op.contains("i")) {
      json& array = last.is_string() ? (*parent)[last.get<std::string>()] : (*parent)[last.get<size_t>()];
      const auto from = array.begin() + op["i"].get<long>();
      array.erase(from, from + op["r"].get<long>());
      array.insert(array.begin() + op["i"].get<long>(), op["a"].begin(), op["a"].end());
    }
  }
}

}  // namespace shenbao
