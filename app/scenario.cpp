#include "app/scenario.h"

#include <algorithm>
#include <iterator>

#include <nlohmann/json.hpp>

#include <charconv>
#include <memory>

#include "framework/host/host_session.h"
#include "framework/runtime/windows/state_diff.h"

namespace shenbao {

bool split_words(std::string_view line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  size_t i = 0;
  while (i < line.size()) {
    if (blank(line[i])) {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] != '"') {
      while (i < line.size() && !blank(line[i])) {
        if (line[i] == '"') {
          error = "a quote inside the word at column " + std::to_string(i + 1);
          return false;
        }
        word += line[i++];
      }
      words.push_back(std::move(word));
      continue;
    }
    const size_t opened = i++;
    bool closed = false;
    while (i < line.size() && !closed) {
      const char c = line[i++];
      if (c == '"') {
        closed = true;
      } else if (c != '\\') {
        word += c;
      } else if (i == line.size()) {
        break;
      } else {
        switch (line[i++]) {
          case '"': word += '"'; break;
          case '\\': word += '\\'; break;
          case 'r': word += '\r'; break;
          case 'n': word += '\n'; break;
          case 't': word += '\t'; break;
          default:
            error = std::string("unknown escape \\") + line[i - 1] + " at column " + std::to_string(i - 1);
            return false;
        }
      }
    }
    if (!closed) {
      error = "the quote opened at column " + std::to_string(opened + 1) + " is not closed";
      return false;
    }
    if (i < line.size() && !blank(line[i])) {
      error = "no blank after the quoted word that ends at column " + std::to_string(i);
      return false;
    }
    words.push_back(std::move(word));
  }
  return true;
}

namespace {

using nlohmann::json;
using Words = std::vector<std::string>;
// What went wrong with a line ("expected … got …"); nothing when it held.
using Failure = std::optional<std::string>;

// A word as failure messages show it: in quotes when it is empty or holds blanks or quotes.
std::string shown(std::string_view word) {
  if (!word.empty() && word.find_first_of(" \t\r\n\"\\") == std::string_view::npos) return std::string(word);
  std::string out = "\"";
  for (char c : word) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string shown(const Words& words) {
  if (words.empty()) return "nothing";
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + shown(w);
  return out;
}

std::optional<long> whole_number(std::string_view word) {
  long n = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), n);
  if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return n;
}

Event event(std::string kind, std::string target = {}, long row = 0, std::string column = {}, std::string text = {},
            Words args = {}) {
  Event e;
  e.kind = std::move(kind);
  e.target = std::move(target);
  e.row = row;
  e.column = std::move(column);
  e.text = std::move(text);
  e.args = std::move(args);
  return e;
}

// Control properties answer booleans as true/false; a file may write them as 1/0.
bool same_property_text(const std::string& got, const std::string& expected) {
  if (got == expected) return true;
  return (got == "true" && expected == "1") || (got == "false" && expected == "0");
}

class Runner {
 public:
  explicit Runner(const ScenarioSetup& setup) : setup_(setup) {}

  ScenarioOutcome run(std::string_view text);

 private:
  struct Command {
    std::string_view name;  // one or more words
    int min_args;
    int max_args;           // -1: any number
    std::string_view usage;
    Failure (Runner::*run)(const Words& args);
  };
  static const std::vector<Command>& table();
  Failure run_line(const Words& words);

  // Session, observer connection and the state of the active window.
  Failure need_session();
  Failure need_observer();
  Failure post(Event event, EventResult* out = nullptr);
  // What a browser holds follows every event: the changes since the version it held lead to
  // the client state as the session has it whole.
  Failure follow_client_state();
  // An event that waited for the user has finished: a call's result, a type's outcome.
  Failure resumed(const EventResult& earlier);
  Failure inspect(Event event, Value& answer);
  static const json* active_window(const json& state);
  Failure find_form(const json& state, const std::string& name, const json*& window, const json*& form);
  Failure expect_equal(std::string_view what, const std::string& got, const std::string& expected);

  // Setting up.
  Failure today(const Words& a);
  Failure unit(const Words& a);
  Failure as(const Words& a);
  Failure sql(const Words& a);
  // Acting.
  Failure open(const Words& a);
  Failure click(const Words& a);
  Failure text(const Words& a);
  Failure type(const Words& a);
  Failure filter(const Words& a);
  Failure select(const Words& a);
  Failure add(const Words& a);
  Failure answer(const Words& a);
  Failure call(const Words& a);
  Failure close(const Words& a);
  Failure resize(const Words& a);
  // Expecting.
  Failure expect_message(const Words& a);
  Failure expect_message_prefix(const Words& a);
  Failure expect_no_message(const Words& a);
  Failure expect_window(const Words& a);
  Failure expect_open(const Words& a);
  Failure expect_closed(const Words& a);
  Failure expect_accepted(const Words& a);
  Failure expect_rejected(const Words& a);
  Failure expect_value(const Words& a);
  Failure expect_rows(const Words& a);
  Failure expect_row(const Words& a);
  Failure expect_focus(const Words& a);
  Failure expect_list(const Words& a);
  Failure expect_property(const Words& a);
  Failure expect_var(const Words& a);
  Failure expect_result(const Words& a);
  Failure expect_query(const Words& a);
  Failure expect_printed(const Words& a);
  Failure expect_job(const Words& a);

  Failure message_box(const std::string& title, const std::string& text, bool prefix);
  Failure window_open(const std::string& class_name, bool open);
  Failure row_number(const std::string& word, long& row);

  const ScenarioSetup& setup_;
  std::string line_text_;
  std::optional<DateTime> today_;
  std::optional<SessionUser> user_;
  Role role_ = Role::Both;
  std::unique_ptr<Session> session_;
  json client_;  // the client state as a browser holding every answer would have it
  uint64_t client_version_ = 0;
  std::unique_ptr<Transaction> observer_;
  // The last call and type, and their events while they wait for the user.
  std::optional<Value> last_result_;
  std::optional<bool> last_type_accepted_;
  uint64_t pending_call_ = 0;
  uint64_t pending_type_ = 0;
};

const std::vector<Runner::Command>& Runner::table() {
  static const std::vector<Command> commands = {
      {"today", 1, 1, "today YYYY-MM-DD", &Runner::today},
      {"unit", 1, 1, "unit COMPANY_NUM", &Runner::unit},
      {"as", 1, 1, "as clerk|authority|both", &Runner::as},
      {"sql", 1, 1, "sql \"STATEMENT\"", &Runner::sql},
      {"open", 1, 3, "open CLASS [PKID COMPANY_NUM]", &Runner::open},
      {"click", 1, 1, "click CONTROL", &Runner::click},
      {"text", 2, 2, "text CONTROL \"TEXT\"", &Runner::text},
      {"type", 4, 4, "type DW ROW COLUMN \"TEXT\"", &Runner::type},
      {"filter", 4, 4, "filter DW ROW COLUMN \"TEXT\"", &Runner::filter},
      {"select", 2, 2, "select DW ROW", &Runner::select},
      {"add", 1, 1, "add WORKER_CODE", &Runner::add},
      {"answer", 1, 1, "answer yes|no|ok|cancel", &Runner::answer},
      {"call", 1, -1, "call FUNCTION [ARG...]", &Runner::call},
      {"close", 0, 0, "close", &Runner::close},
      {"resize", 2, 2, "resize WIDTH HEIGHT", &Runner::resize},
      {"expect message", 2, 2, "expect message \"TITLE\" \"TEXT\"", &Runner::expect_message},
      {"expect message-prefix", 2, 2, "expect message-prefix \"TITLE\" \"TEXT\"", &Runner::expect_message_prefix},
      {"expect no message", 0, 0, "expect no message", &Runner::expect_no_message},
      {"expect window", 1, 1, "expect window CLASS", &Runner::expect_window},
      {"expect open", 1, 1, "expect open CLASS", &Runner::expect_open},
      {"expect closed", 1, 1, "expect closed CLASS", &Runner::expect_closed},
      {"expect accepted", 0, 0, "expect accepted", &Runner::expect_accepted},
      {"expect rejected", 0, 0, "expect rejected", &Runner::expect_rejected},
      {"expect value", 4, 4, "expect value DW ROW COLUMN VALUE", &Runner::expect_value},
      {"expect rows", 2, 2, "expect rows DW N", &Runner::expect_rows},
      {"expect row", 2, 2, "expect row DW N", &Runner::expect_row},
      {"expect focus", 2, 2, "expect focus DW COLUMN", &Runner::expect_focus},
      {"expect list", 2, -1, "expect list DW COLUMN CODE...", &Runner::expect_list},
      {"expect property", 3, 3, "expect property CONTROL NAME VALUE", &Runner::expect_property},
      {"expect var", 2, 2, "expect var NAME VALUE", &Runner::expect_var},
      {"expect result", 1, 1, "expect result VALUE", &Runner::expect_result},
      {"expect query", 1, -1, "expect query \"SELECT\" VALUE...", &Runner::expect_query},
      {"expect printed", 1, 1, "expect printed N", &Runner::expect_printed},
      {"expect job", 2, 2, "expect job \"NAME\" N", &Runner::expect_job},
  };
  return commands;
}

ScenarioOutcome Runner::run(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte order mark
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    Words words;
    std::string error;
    if (!split_words(line, words, error)) return {false, number, "expected a line of words, got " + error};
    line_text_ = shown(words);
    if (Failure failure = run_line(words)) return {false, number, *failure};
  }
  return {};
}

Failure Runner::run_line(const Words& words) {
  // The longest command name whose words begin the line.
  const Command* found = nullptr;
  size_t name_words = 0;
  for (const Command& command : table()) {
    size_t n = 0;
    std::string_view rest = command.name;
    bool matches = true;
    while (!rest.empty()) {
      const size_t blank = rest.find(' ');
      const std::string_view word = rest.substr(0, blank);
      if (n >= words.size() || words[n] != word) {
        matches = false;
        break;
      }
      ++n;
      rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
    if (matches && n > name_words) {
      found = &command;
      name_words = n;
    }
  }
  if (!found) {
    const std::string what = words[0] == "expect" && words.size() > 1 ? words[0] + " " + words[1] : words[0];
    return "expected a command, got unknown command " + shown(what);
  }
  const Words args(words.begin() + static_cast<long>(name_words), words.end());
  const int count = static_cast<int>(args.size());
  if (count < found->min_args || (found->max_args >= 0 && count > found->max_args))
    return "expected " + std::string(found->usage) + ", got " + line_text_;
  return (this->*found->run)(args);
}

Failure Runner::need_session() {
  if (session_) return {};
  Session::Options options;
  options.database_url = setup_.database_url;
  // Without `unit` the file acts as the authority.
  options.user = user_.value_or(host_user("authority", "", Role::Both));
  options.registry = setup_.registry;
  apply_host(options);
  options.print_folder = setup_.print_folder;
  options.today = today_;
  std::string error;
  session_ = Session::start(std::move(options), error);
  if (!session_) return "expected a session, got " + error;
  return {};
}

Failure Runner::need_observer() {
  if (observer_) return {};
  std::string error;
  observer_ = Transaction::open(setup_.database_url, error);
  if (!observer_) return "expected a connection to the database, got " + error;
  return {};
}

Failure Runner::post(Event event, EventResult* out) {
  if (Failure f = need_session()) return f;
  EventResult result = session_->post(std::move(event));
  if (!result.ok()) return "expected " + line_text_ + " to be done, got refused: " + result.error();
  for (const EventResult& earlier : result.resumed) {
    if (Failure f = resumed(earlier)) return f;
  }
  if (out) *out = std::move(result);
  return follow_client_state();
}

// The whole state as a client sees it: a long form's rows cut to the window `client` shows.
json as_client_sees(json whole, const json& client) {
  for (const char* windows : {"sheets", "modals"}) {
    if (!whole.contains(windows) || !client.contains(windows) || whole[windows].size() != client[windows].size()) continue;
    for (size_t w = 0; w < whole[windows].size(); ++w) {
      json& controls = whole[windows][w]["controls"];
      const json& shown = client[windows][w]["controls"];
      for (size_t c = 0; c < controls.size() && c < shown.size(); ++c) {
        if (!controls[c].contains("form") || !shown[c].contains("form") || !shown[c]["form"].contains("rows")) continue;
        json& form = controls[c]["form"];
        const long from = shown[c]["form"]["rows_from"].get<long>();
        const long count = static_cast<long>(shown[c]["form"]["rows"].size());
        json rows = json::array();
        for (long r = from; r < from + count && r <= static_cast<long>(form["rows"].size()); ++r)
          rows.push_back(std::move(form["rows"][static_cast<size_t>(r - 1)]));
        form["rows"] = std::move(rows);
        form["rows_from"] = from;
      }
    }
  }
  return whole;
}

Failure Runner::follow_client_state() {
  const Session::ClientDocument present = session_->client_document();
  json whole = json::parse(present.text);
  // A browser that holds no version the changes are kept since takes the state whole.
  const auto changes = client_.is_null() ? std::nullopt : session_->client_changes(client_version_);
  if (changes) {
    apply_state_changes(client_, json::parse(changes->changes));
    if (client_ != whole)
      return "expected the client state's changes after " + line_text_ + " to lead to its present state, got " +
             state_changes(client_, whole).dump().substr(0, 400) + " still to do";
  }
  // And the client state is the session's state, laid out afresh.
  const json fresh = as_client_sees(session_->state(), whole);
  if (fresh != whole)
    return "expected the client state after " + line_text_ + " to be the session's, got " +
           state_changes(whole, fresh).dump().substr(0, 400) + " differing";
  client_ = std::move(whole);
  client_version_ = present.version;
  return {};
}

Failure Runner::resumed(const EventResult& earlier) {
  if (!earlier.ok()) return "expected the script that waited for the user to finish, got " + earlier.error();
  if (earlier.id == pending_call_) {
    last_result_ = earlier.result.value_or(Value());
    pending_call_ = 0;
  }
  if (earlier.id == pending_type_) {
    last_type_accepted_ = earlier.accepted;
    pending_type_ = 0;
  }
  return {};
}

Failure Runner::inspect(Event event, Value& answer) {
  EventResult result;
  if (Failure f = post(std::move(event), &result)) return f;
  answer = result.result.value_or(Value());
  return {};
}

const json* Runner::active_window(const json& state) {
  const json& modals = state["modals"];
  if (!modals.empty()) return &modals.back();
  const json& active = state["active_sheet"];
  if (active.is_number()) {
    const auto index = active.get<size_t>();
    if (index < state["sheets"].size()) return &state["sheets"][index];
  }
  return nullptr;
}

Failure Runner::find_form(const json& state, const std::string& name, const json*& window, const json*& form) {
  window = active_window(state);
  if (!window) return "expected a form control " + shown(name) + ", got no window open";
  for (const json& control : (*window)["controls"]) {
    if (control["name"] == name && control.contains("form")) {
      form = &control["form"];
      return {};
    }
  }
  return "expected a form control " + shown(name) + " in " + (*window)["class"].get<std::string>() + ", got none";
}

Failure Runner::expect_equal(std::string_view what, const std::string& got, const std::string& expected) {
  if (got == expected) return {};
  return "expected " + std::string(what) + " " + shown(expected) + ", got " + shown(got);
}

Failure Runner::row_number(const std::string& word, long& row) {
  auto n = whole_number(word);
  if (!n || *n < 1) return "expected a row number from 1, got " + shown(word);
  row = *n;
  return {};
}

// Setting up

Failure Runner::today(const Words& a) {
  auto day = DateTime::parse(a[0]);
  if (!day) return "expected a date yyyy-mm-dd, got " + shown(a[0]);
  today_ = day->date();
  if (session_) session_->set_today(*today_);  // the session is quiet between events
  return {};
}

Failure Runner::unit(const Words& a) {
  if (session_) return "expected unit before the first window opens, got " + line_text_ + " after it";
  if (Failure f = need_observer()) return f;
  // The unit's clerk when the database has one, so that audit columns name a real user.
  std::vector<Value> row{Value("tester")};
  const long rc = observer_->select_into(
      "select username from sys_user where company_num = :company_num and role = 'clerk' order by username limit 1",
      {a[0]}, row);
  observer_->rollback();
  if (rc < 0) return "expected the unit's users, got " + observer_->sqlerrtext;
  user_ = host_user(row[0].to_string(), a[0], role_);
  return {};
}

Failure Runner::as(const Words& a) {
  static const std::pair<const char*, Role> kRoles[] = {
      {"clerk", Role::Clerk}, {"authority", Role::Authority}, {"both", Role::Both}};
  const auto found = std::find_if(std::begin(kRoles), std::end(kRoles), [&](const auto& r) { return a[0] == r.first; });
  if (found == std::end(kRoles)) return "expected as clerk, as authority or as both, got " + line_text_;
  role_ = found->second;
  SessionUser user = user_.value_or(host_user("authority", "", Role::Both));
  // The rights change; the unit acted for stays the file's.
  const std::string unit = user.company_num;
  user = host_user(user.username, unit, role_);
  user.company_num = unit;
  user_ = user;
  if (session_) session_->change_user(user);
  return {};
}

Failure Runner::sql(const Words& a) {
  if (Failure f = need_observer()) return f;
  if (observer_->execute(a[0]) < 0) {
    std::string why = observer_->sqlerrtext;
    observer_->rollback();
    return "expected the statement to run, got " + why;
  }
  if (observer_->commit() != 0) return "expected the statement to be committed, got " + observer_->sqlerrtext;
  return {};
}

// Acting

Failure Runner::open(const Words& a) {
  if (a.size() == 2) return "expected open CLASS [PKID COMPANY_NUM], got " + line_text_;
  Event e = event("open", a[0]);
  if (a.size() == 3) e.args = {a[1], a[2]};
  return post(std::move(e));
}

Failure Runner::click(const Words& a) { return post(event("click", a[0])); }

Failure Runner::text(const Words& a) { return post(event("text", a[0], 0, {}, a[1])); }

Failure Runner::type(const Words& a) {
  long row = 0;
  if (Failure f = row_number(a[1], row)) return f;
  if (Failure f = need_session()) return f;
  // A person cannot type into a form that is disabled or hidden; the session itself refuses
  // protected and read-only cells.
  const json state = session_->state();
  const json* window = nullptr;
  const json* form = nullptr;
  if (Failure f = find_form(state, a[0], window, form)) return f;
  for (const json& control : (*window)["controls"]) {
    if (control["name"] == a[0] && (!control["enabled"].get<bool>() || !control["visible"].get<bool>()))
      return "expected an editable cell, got " + shown(a[0]) + " disabled or hidden";
  }
  EventResult result;
  last_type_accepted_.reset();
  pending_type_ = 0;
  if (Failure f = post(event("type", a[0], row, a[2], a[3]), &result)) return f;
  if (result.pending) pending_type_ = result.id;
  else last_type_accepted_ = result.accepted;
  return {};
}

Failure Runner::filter(const Words& a) {
  long row = 0;
  if (Failure f = row_number(a[1], row)) return f;
  return post(event("filter", a[0], row, a[2], a[3]));
}

Failure Runner::select(const Words& a) {
  long row = 0;
  if (Failure f = row_number(a[1], row)) return f;
  return post(event("select", a[0], row));
}

Failure Runner::add(const Words& a) { return post(event("gesture", "add", 0, {}, {}, {a[0]})); }

Failure Runner::answer(const Words& a) { return post(event("answer", a[0])); }

Failure Runner::call(const Words& a) {
  EventResult result;
  last_result_.reset();
  pending_call_ = 0;
  if (Failure f = post(event("call", a[0], 0, {}, {}, Words(a.begin() + 1, a.end())), &result)) return f;
  if (result.pending) pending_call_ = result.id;
  else last_result_ = result.result.value_or(Value());
  return {};
}

Failure Runner::close(const Words&) { return post(event("close")); }

Failure Runner::resize(const Words& a) {
  if (!whole_number(a[0]) || !whole_number(a[1])) return "expected resize WIDTH HEIGHT in whole numbers, got " + line_text_;
  return post(event("resize", {}, 0, {}, {}, a));
}

// Expecting

Failure Runner::message_box(const std::string& title, const std::string& text, bool prefix) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json& box = state["message"];
  const std::string wanted = std::string(prefix ? "a message starting " : "message ") + shown(title) + " " + shown(text);
  if (box.is_null()) return "expected " + wanted + ", got no message";
  const std::string got_title = box.value("title", "");
  const std::string got_text = box.value("text", "");
  const bool text_ok = prefix ? got_text.compare(0, text.size(), text) == 0 : got_text == text;
  if (got_title != title || !text_ok) return "expected " + wanted + ", got message " + shown(got_title) + " " + shown(got_text);
  return {};
}

Failure Runner::expect_message(const Words& a) { return message_box(a[0], a[1], false); }

Failure Runner::expect_message_prefix(const Words& a) { return message_box(a[0], a[1], true); }

Failure Runner::expect_no_message(const Words&) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json& box = state["message"];
  if (box.is_null()) return {};
  return "expected no message, got message " + shown(box.value("title", "")) + " " + shown(box.value("text", ""));
}

Failure Runner::expect_window(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json* window = active_window(state);
  return expect_equal("active window", window ? (*window)["class"].get<std::string>() : "(none)", a[0]);
}

Failure Runner::window_open(const std::string& class_name, bool open) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  bool found = false;
  for (const char* list : {"sheets", "modals"}) {
    for (const json& window : state[list]) found = found || window["class"] == class_name;
  }
  if (found == open) return {};
  return "expected " + shown(class_name) + (open ? " open" : " closed") + ", got it " + (found ? "open" : "closed");
}

Failure Runner::expect_open(const Words& a) { return window_open(a[0], true); }

Failure Runner::expect_closed(const Words& a) { return window_open(a[0], false); }

Failure Runner::expect_accepted(const Words&) {
  if (pending_type_) return "expected the last type accepted, got it still waiting for the user";
  if (!last_type_accepted_) return "expected the last type accepted, got no type before";
  if (!*last_type_accepted_) return "expected the last type accepted, got it rejected";
  return {};
}

Failure Runner::expect_rejected(const Words&) {
  if (pending_type_) return "expected the last type rejected, got it still waiting for the user";
  if (!last_type_accepted_) return "expected the last type rejected, got no type before";
  if (*last_type_accepted_) return "expected the last type rejected, got it accepted";
  return {};
}

Failure Runner::expect_value(const Words& a) {
  long row = 0;
  if (Failure f = row_number(a[1], row)) return f;
  Value got;
  if (Failure f = inspect(event("value", a[0], row, a[2]), got)) return f;
  return expect_equal(a[0] + " row " + a[1] + " " + a[2], got.to_string(), a[3]);
}

Failure Runner::expect_rows(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json *window = nullptr, *form = nullptr;
  if (Failure f = find_form(state, a[0], window, form)) return f;
  return expect_equal("rows in " + a[0], std::to_string(form->value("rows", json::array()).size()), a[1]);
}

Failure Runner::expect_row(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json *window = nullptr, *form = nullptr;
  if (Failure f = find_form(state, a[0], window, form)) return f;
  return expect_equal("current row of " + a[0], std::to_string(form->value("current_row", 0L)), a[1]);
}

Failure Runner::expect_focus(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json *window = nullptr, *form = nullptr;
  if (Failure f = find_form(state, a[0], window, form)) return f;
  const json& focus = (*window)["focus"];
  const std::string focused = focus.is_string() ? focus.get<std::string>() : "(none)";
  const std::string column = form->value("current_column", "");
  if (focused == a[0] && column == a[1]) return {};
  return "expected the focus on " + shown(a[0]) + " column " + shown(a[1]) + ", got " + shown(focused) +
         (focused == a[0] ? " column " + shown(column) : "");
}

Failure Runner::expect_list(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json *window = nullptr, *form = nullptr;
  if (Failure f = find_form(state, a[0], window, form)) return f;
  bool known = false;
  for (const json& column : form->value("columns", json::array())) known = known || column["name"] == a[1];
  if (!known) return "expected a column " + shown(a[1]) + " in " + shown(a[0]) + ", got none";
  const json lists = form->value("lists", json::object());
  if (!lists.contains(a[1])) return "expected a code list on " + shown(a[0]) + " column " + shown(a[1]) + ", got none";
  Words got;
  for (const json& item : lists[a[1]]) got.push_back(item[0].get<std::string>());
  const Words expected(a.begin() + 2, a.end());
  if (got == expected) return {};
  return "expected the list " + shown(expected) + ", got " + shown(got);
}

Failure Runner::expect_property(const Words& a) {
  Value got;
  if (Failure f = inspect(event("property", a[0], 0, {}, a[1]), got)) return f;
  if (same_property_text(got.to_string(), a[2])) return {};
  return expect_equal(a[0] + " " + a[1], got.to_string(), a[2]);
}

Failure Runner::expect_var(const Words& a) {
  Value got;
  if (Failure f = inspect(event("var", a[0]), got)) return f;
  return expect_equal("variable " + a[0], got.to_string(), a[1]);
}

Failure Runner::expect_result(const Words& a) {
  if (pending_call_) return "expected a call's result " + shown(a[0]) + ", got the call still waiting for the user";
  if (!last_result_) return "expected a call's result " + shown(a[0]) + ", got no call before";
  return expect_equal("result", last_result_->to_string(), a[0]);
}

Failure Runner::expect_query(const Words& a) {
  if (Failure f = need_observer()) return f;
  Words got;
  const long rc = observer_->query(a[0], {}, [&](const ResultRow& row) {
    for (int c = 0; c < row.column_count(); ++c) got.push_back(row.get(c).to_string());
    return true;
  });
  const std::string why = observer_->sqlerrtext;
  observer_->rollback();  // no snapshot is kept between lines
  if (rc < 0) return "expected the query to run, got " + why;
  const Words expected(a.begin() + 1, a.end());
  if (got == expected) return {};
  return "expected " + shown(expected) + ", got " + shown(got);
}

Failure Runner::expect_printed(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  return expect_equal("print jobs", std::to_string(state["print_jobs"].size()), a[0]);
}

Failure Runner::expect_job(const Words& a) {
  if (Failure f = need_session()) return f;
  const json state = session_->state();
  const json& jobs = state["print_jobs"];
  if (jobs.empty()) return "expected print job " + shown(a[0]) + ", got no print job";
  const json& last = jobs.back();
  const std::string name = last.value("name", "");
  const std::string forms = std::to_string(last.value("forms", 0));
  if (name == a[0] && forms == a[1]) return {};
  return "expected print job " + shown(a[0]) + " with " + a[1] + " forms, got " + shown(name) + " with " + forms;
}

}  // namespace

ScenarioOutcome run_scenario(std::string_view text, const ScenarioSetup& setup) {
  return Runner(setup).run(text);
}

}  // namespace shenbao
