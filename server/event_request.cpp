#include "server/event_request.h"

#include <nlohmann/json.hpp>

#include <array>
#include <limits>

namespace shenbao {
namespace {

using nlohmann::json;

constexpr size_t kMaxName = 64;
constexpr size_t kMaxText = 4 * kMaxTextChars;
constexpr size_t kMaxArgs = 8;
constexpr size_t kMaxArg = 200;
// A gesture may carry a list the browser chose (the units whose names' pinyin initials hold a
// text): more arguments, within a bound on their bytes.
constexpr size_t kMaxGestureArgs = 2000;
constexpr size_t kMaxGestureBytes = 32 * 1024;
constexpr long kMaxRow = 10'000'000;

constexpr std::array<std::string_view, 11> kKinds = {"open",    "click",  "text",   "type",  "filter",  "select",
                                                     "gesture", "answer", "close",  "resize", "activate"};

bool is_name(std::string_view text) {
  if (text.empty() || text.size() > kMaxName) return false;
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// A string member of the body, "" when absent; false when present but not a string.
bool string_member(const json& body, const char* name, std::string& out) {
  auto it = body.find(name);
  if (it == body.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

bool whole_number(std::string_view text, long low, long high) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  return v >= low && v <= high;
}

}  // namespace

std::optional<Event> parse_event(std::string_view body_text, std::string& error, std::string& for_user) {
  json body;
  try {
    body = json::parse(body_text.begin(), body_text.end());
  } catch (const json::parse_error& e) {
    // Bytes that are no UTF-8, or a lone half of a surrogate pair, come from a text that was
    // pasted or typed: the user is told so.
    const std::string what = e.what();
    if (what.find("UTF-8") != std::string::npos || what.find("surrogate") != std::string::npos) {
      error = "the body is not valid UTF-8";
      for_user = "输入的内容含有无法识别的字符";
      return std::nullopt;
    }
  }
  if (body.is_discarded() || !body.is_object()) {
    error = "the body is not a JSON object";
    return std::nullopt;
  }
  Event event;
  if (!string_member(body, "kind", event.kind) || !string_member(body, "target", event.target) ||
      !string_member(body, "column", event.column) || !string_member(body, "text", event.text)) {
    error = "kind, target, column and text must be strings";
    return std::nullopt;
  }
  bool known = false;
  for (auto kind : kKinds) known = known || event.kind == kind;
  if (!known) {
    error = "unknown event kind \"" + event.kind.substr(0, kMaxName) + "\"";
    return std::nullopt;
  }
  if (event.kind != "close" ? !is_name(event.target) : !(event.target.empty() || is_name(event.target))) {
    error = "the target must be a name of letters, digits and _";
    return std::nullopt;
  }
  if (!event.column.empty() && !is_name(event.column)) {
    error = "the column must be a name of letters, digits and _";
    return std::nullopt;
  }
  if (event.text.size() > kMaxText) {
    error = "the text is longer than " + std::to_string(kMaxText) + " bytes";
    for_user = "输入的内容太长，最多" + std::to_string(kMaxTextChars) + "个字";
    return std::nullopt;
  }
  if (auto row = body.find("row"); row != body.end() && !row->is_null()) {
    if (!row->is_number_integer() || row->get<long long>() < 0 || row->get<long long>() > kMaxRow) {
      error = "the row must be a whole number from 0 to " + std::to_string(kMaxRow);
      return std::nullopt;
    }
    event.row = static_cast<long>(row->get<long long>());
  }
  if (auto args = body.find("args"); args != body.end() && !args->is_null()) {
    const size_t most = event.kind == "gesture" ? kMaxGestureArgs : kMaxArgs;
    if (!args->is_array() || args->size() > most) {
      error = "args must be a list of at most " + std::to_string(most) + " texts";
      return std::nullopt;
    }
    size_t bytes = 0;
    for (const auto& arg : *args) {
      if (!arg.is_string() || arg.get_ref<const std::string&>().size() > kMaxArg) {
        error = "each argument must be a text of at most " + std::to_string(kMaxArg) + " bytes";
        return std::nullopt;
      }
      bytes += arg.get_ref<const std::string&>().size();
      if (bytes > kMaxGestureBytes) {
        error = "the arguments must not exceed " + std::to_string(kMaxGestureBytes) + " bytes";
        return std::nullopt;
      }
      event.args.push_back(arg.get<std::string>());
    }
  }
  if ((event.kind == "type" || event.kind == "filter") && event.column.empty()) {
    error = event.kind + " needs a column";
    return std::nullopt;
  }
  if (event.kind == "resize" &&
      (event.args.size() != 2 || !whole_number(event.args[0], 100, 20000) || !whole_number(event.args[1], 100, 20000))) {
    error = "resize takes a width and a height from 100 to 20000";
    return std::nullopt;
  }
  return event;
}

EventVerdict check_event(const Event& event, const WebUser& user) {
  if (!user.is_clerk()) return {};
  if (event.kind == "text" && event.target == "uo_1") return {403, "只能处理本单位的申报！"};
  if (event.kind == "open" && event.args.size() >= 2 && event.args[1] != user.company_num)
    return {403, "只能查看本单位的申报！"};
  if ((event.kind == "type" || event.kind == "filter") && event.column == "company_num" &&
      event.text != user.company_num)
    return {403, "只能处理本单位的申报！"};
  return {};
}

}  // namespace shenbao
