// An accepted declaration is locked, and the authority never changes a unit's declaration,
// whatever button is pressed.
//
// Every category window is opened on a declaration of unit 001 with one declared worker,
// once as the unit's clerk on an accepted declaration and once as the authority on a
// submitted one. Then every button the window shows, and every row gesture of its forms, is
// pressed in a fresh window, and whatever follows is driven to its end: every question is
// answered Yes, every dialog is filled in and each of its buttons pressed, a print window is
// closed. The database must be as it was, table by table. The buttons are read from the
// window's state, not listed here, so that a button added later is held to the same rule.
//
// A press that writes nothing but leaves entries unsaved on the locked declaration (a new
// person on screen) is followed by each press that writes nothing on its own, as what it left
// must not be saved either. A button whose role names a right the user holds is the authority's acceptance:
// it writes the register, so for it only the declaration's own tables must stay as they were.
// Between presses the tables a press changed are put back, so each starts from the same rows.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "tests/unit/table_digest.h"
#include "tests/unit/test_database.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

using nlohmann::json;

constexpr const char* kUnit = "001";
// A press that is still asking or showing something after this many steps is stuck.
constexpr int kMaxSteps = 50;
// Dialog buttons whose caption reads as leaving the dialog are pressed last.
constexpr const char* kLeavingCaptions[] = {"退出", "关闭", "取消", "返回"};

// Who looks at the declaration, and in which state it is.
struct Situation {
  const char* name;
  const char* username;
  Role role;
  bool accepted;
};
constexpr Situation kSituations[] = {
    {"accepted, as the unit's clerk", "clerk001", Role::Clerk, true},
    {"submitted, as the authority", "authority", Role::Authority, false},
};

// ---------------------------------------------------------------------------------------
// The database as text

// read_tables, digest_of and take_digest: tests/unit/table_digest.h

// The tables (of `only`, when given) whose rows differ, each with a few of the rows that went
// and came; empty when none differ.
std::string changed_tables(const Digest& before, const Digest& after, const std::set<std::string>* only = nullptr) {
  std::set<std::string> names;
  for (const Digest* d : {&before, &after}) {
    for (const auto& [name, rows] : *d) names.insert(name);
  }
  static const std::vector<std::string> kNone;
  auto rows_of = [](const Digest& d, const std::string& name) -> const std::vector<std::string>& {
    const auto found = d.find(name);
    return found == d.end() ? kNone : found->second;
  };
  auto cut = [](const std::string& row) { return row.size() > 240 ? row.substr(0, 240) + "…" : row; };
  std::string out;
  for (const std::string& name : names) {
    if (only && !only->count(name)) continue;
    const auto& was = rows_of(before, name);
    const auto& is = rows_of(after, name);
    if (was == is) continue;
    std::vector<std::string> gone, came;
    std::set_difference(was.begin(), was.end(), is.begin(), is.end(), std::back_inserter(gone));
    std::set_difference(is.begin(), is.end(), was.begin(), was.end(), std::back_inserter(came));
    out += "\n      " + name + ": " + std::to_string(gone.size()) + " row(s) gone, " + std::to_string(came.size()) +
           " new";
    for (size_t i = 0; i < gone.size() && i < 2; ++i) out += "\n        - " + cut(gone[i]);
    for (size_t i = 0; i < came.size() && i < 2; ++i) out += "\n        + " + cut(came[i]);
  }
  return out;
}

// The names of the tables whose rows differ, comma-separated; empty when none differ.
std::string changed_table_names(const Digest& before, const Digest& after) {
  std::string out;
  for (const auto& [name, rows] : after) {
    const auto was = before.find(name);
    if (was == before.end() ? !rows.empty() : was->second != rows) out += (out.empty() ? "" : ", ") + name;
  }
  for (const auto& [name, rows] : before) {
    if (!after.count(name) && !rows.empty()) out += (out.empty() ? "" : ", ") + name;
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// The declarations the windows are opened on

// One declaration per category, of unit 001, with one declared worker. The ids differ across
// categories, as the reward kinds keep their workers in one table.
struct Declaration {
  const CategoryDescriptor* category;
  std::string pkid;
  std::string worker_code;  // a register worker in service, or the unit's first new person
};

std::vector<Declaration> declarations() {
  std::vector<Declaration> out;
  for (const CategoryDescriptor* category : category_descriptors()) {
    std::string id = std::to_string(out.size() + 1);
    id.insert(0, 10 - id.size(), '0');
    out.push_back({category, id, category->adds_register_workers ? "0010001" : "9000001"});
  }
  return out;
}

// A plausible stored value for a column of a form: the first code of its drop-down list, else
// a date, a number or a text by the column's type.
Value plausible_value(DataStore& form, const std::string& column, Transaction& sqlca) {
  const FormDef& def = form.def();
  if (const FormObject* shown = def.find_object(column); shown && shown->find("dddw.name")) {
    if (DataStore* list = form.getchild(column)) {
      list->settransobject(&sqlca);
      if (list->retrieve() > 0) return list->getitem(1, shown->get("dddw.data"));
    }
  }
  const ColumnType& type = def.columns[static_cast<size_t>(def.column_index(column))].type;
  if (type.is_date()) return Value(DateTime::from_civil(2009, 5, 4));
  if (type.is_numeric()) return Value(1);
  return Value("测试");
}

// Inserts the declaration (submitted on 2009-06-10) and its worker row, with the worker
// form's name column and the category's required columns filled.
void insert_declaration(TestDatabase& db, const Declaration& d) {
  Transaction& sqlca = db.sqlca();
  const CategoryDescriptor& category = *d.category;
  ASSERT_EQ(sqlca.execute(std::string("insert into ") + category.unit_table +
                              " (pkid, company_num, state, sb_date, sbr) values (:id, :com, 1, :day, '王小红')",
                          {Value(d.pkid), Value(kUnit), Value(DateTime::from_civil(2009, 6, 10))}),
            0)
      << category.unit_table << ": " << sqlca.sqlerrtext;

  DataStore worker_form;
  ASSERT_EQ(worker_form.set_dataobject(category.worker_form), 1) << category.worker_form;
  std::vector<std::string> columns = {"pkid", "company_num", "worker_code", "state"};
  std::vector<Value> values = {Value(d.pkid), Value(kUnit), Value(d.worker_code), Value(0)};
  auto fill = [&](const std::string& column, Value value) {
    if (std::find(columns.begin(), columns.end(), column) != columns.end()) return;
    columns.push_back(column);
    values.push_back(std::move(value));
  };
  for (const RequiredColumn& required : category.required)
    fill(required.column, plausible_value(worker_form, required.column, sqlca));
  if (worker_form.def().column_index("worker_name") >= 0) {
    std::vector<Value> name{Value("测试人员")};
    sqlca.select_into("select worker_name from rs_main where company_num = :com and worker_code = :w",
                      {Value(kUnit), Value(d.worker_code)}, name);
    fill("worker_name", name[0]);
  }
  if (worker_form.def().column_index("hx_company") >= 0) fill("hx_company", Value("测试候选单位"));
  std::string names, marks;
  for (size_t i = 0; i < columns.size(); ++i) {
    names += (i ? ", " : "") + columns[i];
    marks += (i ? ", :v" : ":v") + std::to_string(i);
  }
  ASSERT_EQ(
      sqlca.execute(std::string("insert into ") + category.worker_table + " (" + names + ") values (" + marks + ")",
                    values),
      0)
      << category.worker_table << ": " << sqlca.sqlerrtext;
}

// The training declaration's subjects, as its subject dialog first stores them (five fixed
// subjects, five open ones), so that the dialog opens on stored rows.
void insert_training_subjects(TestDatabase& db, const Declaration& d) {
  static const char* kNames[] = {"公共服务", "公共政策", "公共经济", "依法行政", "创新能力",
                                 "其他",     "其他",     "其他",     "其他",     "其他"};
  for (int i = 0; i < 10; ++i) {
    const std::string code = (i < 9 ? "0" : "") + std::to_string(i + 1);
    ASSERT_EQ(
        db.sqlca().execute("insert into rs_px_type (pkid, company_num, code, name) values (:id, :com, :code, :name)",
                           {Value(d.pkid), Value(kUnit), Value(code), Value(kNames[i])}),
        0)
        << db.sqlca().sqlerrtext;
  }
}

// ---------------------------------------------------------------------------------------
// Reading the session's state

// The window events go to: the top dialog, else the active sheet; null when none.
json active_window(const json& state) {
  if (!state["modals"].empty()) return state["modals"].back();
  if (state["active_sheet"].is_null()) return nullptr;
  return state["sheets"][state["active_sheet"].get<size_t>()];
}

const json* find_control(const json& window, const std::string& name) {
  if (!window.is_object()) return nullptr;
  for (const json& control : window["controls"]) {
    if (control["name"] == name) return &control;
  }
  return nullptr;
}

std::string cell_text(const json& cell) {
  if (cell.is_null()) return {};
  return cell.is_string() ? cell.get<std::string>() : cell.dump();
}

// The value of `column` in `row` (from 1) of a form's state; empty when there is none.
std::string form_cell(const json& form, long row, const std::string& column) {
  const json& columns = form["columns"];
  const long from = form.value("rows_from", 1L);
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c]["name"] != column) continue;
    const long index = row - from;
    if (index < 0 || index >= static_cast<long>(form["rows"].size())) return {};
    return cell_text(form["rows"][static_cast<size_t>(index)]["codes"][c]);
  }
  return {};
}

// The first row of a form's state whose `column` holds `value`; 0 when none.
long form_row(const json& form, const std::string& column, const std::string& value) {
  const long from = form.value("rows_from", 1L);
  for (size_t i = 0; i < form["rows"].size(); ++i) {
    const long row = from + static_cast<long>(i);
    if (form_cell(form, row, column) == value) return row;
  }
  return 0;
}

// A message's text on one line, as a failure lists it.
std::string one_line(const json& text) {
  std::string out;
  for (char c : text.get<std::string>()) {
    if (c == '\n') {
      out += " / ";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

bool has_right(const json& state, const std::string& right) {
  for (const json& held : state["user"]["rights"]) {
    if (held == right) return true;
  }
  return false;
}

// The answer a message box gets: Yes while driving, No when closing; else OK, else its first.
std::string answer_for(const json& box, const char* wanted) {
  for (const char* choice : {wanted, "ok"}) {
    for (const json& button : box["buttons"]) {
      if (button == choice) return choice;
    }
  }
  return box["buttons"].empty() ? "ok" : box["buttons"][0].get<std::string>();
}

// What a person types into a cell of a dialog's form: the first code of a drop-down, else a
// date, a number or a text by the column's type.
std::string plausible_entry(const json& form, const json& column) {
  const std::string name = column["name"];
  if (form.contains("lists") && form["lists"].contains(name) && !form["lists"][name].empty())
    return form["lists"][name][0][0].get<std::string>();
  const std::string type = column["type"];
  if (type.starts_with("char")) return "x";
  if (type.starts_with("date")) return "2009-01-01";
  return "5";
}

// ---------------------------------------------------------------------------------------
// Pressing

// One thing to press in a category window: a button, or a form's row gesture.
struct Action {
  std::string kind;    // click or gesture
  std::string target;  // the button, or the gesture's name
  std::vector<std::string> args;
  std::string label;  // as a failure names it
  // Its role names a right the user holds (the authority's acceptance): its purpose is to
  // write the register, so only the declaration's own rows must stay as they were.
  bool own_right = false;
};

// Every button of the window that is visible and enabled, and every row gesture of its forms
// on the form's current row, from the window's state.
std::vector<Action> actions_of(const json& state) {
  const json window = active_window(state);
  std::vector<Action> actions;
  for (const json& control : window["controls"]) {
    const std::string name = control["name"];
    const json role = control.value("role", json::object());
    if (control["kind"] == "button" && control["visible"] == true && control["enabled"] == true) {
      const std::string right = role.value("right", "");
      actions.push_back({.kind = "click",
                         .target = name,
                         .label = name + " " + control["text"].get<std::string>(),
                         .own_right = !right.empty() && has_right(state, right)});
    }
    if (role.contains("gesture") && control.contains("form")) {
      const json& form = control["form"];
      const long row = std::max(1L, form.value("current_row", 1L));
      const std::string arg = form_cell(form, row, role.value("gesture_column", ""));
      const std::string gesture = role["gesture"];
      actions.push_back(
          {.kind = "gesture", .target = gesture, .args = {arg}, .label = name + " row gesture " + gesture + " " + arg});
    }
  }
  return actions;
}

// A dialog being driven: filled in once, then its buttons pressed one by one, those that
// leave it last, then closed.
struct DialogWork {
  std::string class_name;
  bool filled = false;
  std::vector<std::pair<std::string, std::string>> buttons;  // name, caption
  size_t next = 0;
  bool close_asked = false;
};

DialogWork dialog_work(const json& dialog) {
  DialogWork work{dialog["class"].get<std::string>()};
  std::vector<std::pair<std::string, std::string>> leaving;
  for (const json& control : dialog["controls"]) {
    if (control["kind"] != "button" || control["visible"] != true || control["enabled"] != true) continue;
    const std::string caption = control["text"];
    const bool leaves = std::any_of(std::begin(kLeavingCaptions), std::end(kLeavingCaptions),
                                    [&](const char* word) { return caption.find(word) != std::string::npos; });
    (leaves ? leaving : work.buttons).emplace_back(control["name"], caption);
  }
  work.buttons.insert(work.buttons.end(), leaving.begin(), leaving.end());
  return work;
}

EventResult post(Session& s, std::string kind, std::string target = {}, long row = 0, std::string column = {},
                 std::string text = {}, std::vector<std::string> args = {}) {
  return s.post({std::move(kind), std::move(target), row, std::move(column), std::move(text), std::move(args)});
}

std::string variable(Session& s, const char* name) {
  const EventResult r = post(s, "var", name);
  return r.result ? r.result->to_string() : std::string();
}

// Answers a message box that an event left waiting, as many times as one follows another.
void answer_boxes(Session& s, const char* wanted, std::vector<std::string>& steps) {
  for (int i = 0; i < 5; ++i) {
    const json box = s.state()["message"];
    if (box.is_null()) return;
    const std::string answer = answer_for(box, wanted);
    steps.push_back("box «" + one_line(box["text"]) + "» answered " + answer);
    post(s, "answer", answer);
  }
}

// Types a plausible value into every edit control and every cell of row 1 of every form of
// the dialog; inserts no row. Entries the dialog refuses are left.
void fill_dialog(Session& s, const json& dialog, std::vector<std::string>& steps) {
  int dates = 0;
  for (const json& control : dialog["controls"]) {
    if (control["visible"] != true || control["enabled"] != true) continue;
    const std::string name = control["name"];
    const std::string kind = control["kind"];
    if (kind == "editmask" || kind == "edit") {
      const bool date = control.value("mask", "").find("yyyy") != std::string::npos;
      const std::string text = date ? (dates++ == 0 ? "2009-01-01" : "2009-06-30") : "x";
      if (post(s, "text", name, 0, {}, text).pending) answer_boxes(s, "yes", steps);
    } else if (kind == "form" && control.contains("form") && control["form"].value("row_count", 0L) > 0) {
      const json& form = control["form"];
      for (const json& column : form["columns"]) {
        if (!column.contains("edit")) continue;  // not shown
        if (post(s, "type", name, 1, column["name"], plausible_entry(form, column)).pending)
          answer_boxes(s, "yes", steps);
      }
    }
  }
  steps.push_back("dialog " + dialog["class"].get<std::string>() + " filled in");
}

// ---------------------------------------------------------------------------------------

// One database per situation, prepared once and put back after each press that changed it;
// one session of the situation's user, kept while each press leaves it with nothing open.
// Every failure names the window, the situation and the presses, the tables they changed
// with a few of the rows, and what was done step by step.
class DeclarationLockPropertyTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { register_windows(registry_); }

  // A fresh database: schema, fixture, and every category's declaration in `situation`'s state.
  void prepare(const Situation& situation) {
    session_.reset();
    db_.reset();
    db_ = std::make_unique<TestDatabase>(GetParam());
    if (!db_->available()) return;
    std::string error;
    ASSERT_TRUE(create_database(db_->sqlca(), true, "", error)) << error;
    for (const Declaration& d : declarations_) {
      insert_declaration(*db_, d);
      if (std::string_view(d.category->unit_table) == "rs_w00028_com") insert_training_subjects(*db_, d);
      if (situation.accepted) {
        ASSERT_EQ(db_->sqlca().execute("insert into rs_sb_approval (table_name, pkid, company_num, approved_at, "
                                       "approved_by) values (:t, :id, :com, :at, 'authority')",
                                       {Value(d.category->unit_table), Value(d.pkid), Value(kUnit),
                                        Value(DateTime::from_civil(2009, 6, 12, 10, 0, 0))}),
                  0)
            << db_->sqlca().sqlerrtext;
      }
    }
    ASSERT_EQ(db_->sqlca().commit(), 0) << db_->sqlca().sqlerrtext;
    pristine_ = read_tables(db_->sqlca());
    baseline_ = digest_of(pristine_);
    dirty_ = false;
  }

  // Puts every table that differs from the prepared database back as it was (a fresh
  // database when that does not come out right), so that each press starts from the same
  // rows.
  void put_back(const Situation& situation) {
    Transaction& sqlca = db_->sqlca();
    const Digest now = take_digest(sqlca);
    bool done = true;
    for (const auto& [name, rows] : now) {
      const auto was = baseline_.find(name);
      if (was != baseline_.end() && was->second == rows) continue;
      done = done && sqlca.execute("delete from \"" + name + "\"") >= 0;
      const auto table = pristine_.find(name);
      if (table == pristine_.end()) continue;
      std::string columns, marks;
      for (size_t c = 0; c < table->second.columns.size(); ++c) {
        columns += (c ? ", " : "") + table->second.columns[c];
        marks += (c ? ", :v" : ":v") + std::to_string(c);
      }
      for (const std::vector<Value>& values : table->second.rows) {
        if (!done) break;
        done = sqlca.execute("insert into \"" + name + "\" (" + columns + ") values (" + marks + ")", values) >= 0;
      }
    }
    done = done && sqlca.commit() == 0;
    if (!done) sqlca.rollback();
    if (done && take_digest(sqlca) == baseline_) {
      dirty_ = false;
      return;
    }
    prepare(situation);
  }

  // The situation's user's session, with no window open: the one the last press left, when
  // it closed everything, else a new one.
  Session* session(const Situation& situation) {
    if (!session_ || session_situation_ != &situation) {
      session_.reset();
      session_ = start_test_session(db_->url(), registry_, situation.username, situation.role);
      session_situation_ = &situation;
    }
    return session_.get();
  }

  // Opens the category window as a sheet on the declaration, with its worker shown in dw_4.
  // Empty when it did; else what stood in the way (a fault of this test's set-up).
  static std::string open_on_declaration(Session& s, const Declaration& d) {
    if (EventResult r = post(s, "open", d.category->class_name); !r.ok()) return "open: " + r.error();
    // The authority acts for every unit: he chooses the unit and lists its declarations.
    if (variable(s, "company_num").empty()) {
      if (EventResult r = post(s, "text", "uo_1", 0, {}, kUnit); !r.ok()) return "choosing the unit: " + r.error();
      if (EventResult r = post(s, "click", "pb_3"); !r.ok()) return "listing the unit's declarations: " + r.error();
    }
    json window = active_window(s.state());
    const json* list = find_control(window, "dw_1");
    const long declaration_row = list ? form_row((*list)["form"], "pkid", d.pkid) : 0;
    if (declaration_row == 0) return "declaration " + d.pkid + " is not listed in dw_1";
    if (EventResult r = post(s, "select", "dw_1", declaration_row); !r.ok()) return "select dw_1: " + r.error();
    if (variable(s, "pkid") != d.pkid) return "selecting dw_1 row did not open declaration " + d.pkid;
    window = active_window(s.state());
    const json* workers = find_control(window, "dw_2");
    const long worker_row = workers ? form_row((*workers)["form"], "worker_code", d.worker_code) : 0;
    if (worker_row == 0) return "worker " + d.worker_code + " is not listed in dw_2";
    if (EventResult r = post(s, "select", "dw_2", worker_row); !r.ok()) return "select dw_2: " + r.error();
    const json state = s.state();
    if (!state["message"].is_null()) return "a message after opening: " + state["message"]["text"].get<std::string>();
    window = active_window(state);
    const json* worker = find_control(window, "dw_4");
    if (!worker || form_cell((*worker)["form"], 1, "worker_code") != d.worker_code)
      return "dw_4 does not show worker " + d.worker_code;
    return {};
  }

  // What a run of presses led to.
  struct Outcome {
    std::vector<std::string> steps;    // what was done, in order
    std::vector<std::string> by_step;  // once a dialog is open: which step changed which tables
    std::vector<std::string> harness;  // what this test could not do
  };

  // Presses the action, then drives what follows until the session is quiet with nothing
  // waiting: boxes answered Yes, dialogs filled in and their buttons pressed, print windows
  // closed. Once a dialog is open, each step's changes (since `before`) are told apart. The
  // session may refuse the press; only a first press that cannot be made at all (the window
  // was found showing it) says that this test went wrong.
  void press(Session& s, const Declaration& d, const Action& action, const Digest& before, Outcome& out) {
    const bool first = out.steps.empty();
    const EventResult pressed = post(s, action.kind, action.target, 0, {}, {}, action.args);
    out.steps.push_back((action.kind == "click" ? "clicked " : "made ") + action.label);
    const bool unpressable = pressed.refusal && (pressed.refusal->code == RefusalCode::BadRequest ||
                                                 pressed.refusal->code == RefusalCode::NotNow);
    if (first && unpressable)
      out.harness.push_back("could not press " + action.label + ": " + pressed.error());
    else if (!pressed.ok())
      out.steps.back() += " (refused: " + pressed.error() + ")";

    std::vector<DialogWork> dialogs;  // alongside the modal stack
    std::optional<Digest> last;       // once a dialog has opened
    auto checkpoint = [&] {
      if (!last) return;
      Digest now = take_digest(db_->sqlca());
      if (std::string changed = changed_table_names(*last, now); !changed.empty())
        out.by_step.push_back("«" + out.steps.back() + "»: " + changed);
      last = std::move(now);
    };
    for (int n = 0;; ++n) {
      if (n == kMaxSteps) {
        out.harness.push_back("still not quiet after " + std::to_string(kMaxSteps) + " steps");
        return;
      }
      const json state = s.state();
      const json& modals = state["modals"];
      if (!last && !modals.empty()) {
        last = before;
        checkpoint();
      }
      if (!state["message"].is_null()) {
        const std::string answer = answer_for(state["message"], "yes");
        out.steps.push_back("box «" + one_line(state["message"]["text"]) + "» answered " + answer);
        post(s, "answer", answer);
      } else if (!modals.empty()) {
        size_t same = 0;
        while (same < dialogs.size() && same < modals.size() && dialogs[same].class_name == modals[same]["class"])
          ++same;
        dialogs.resize(same);
        while (dialogs.size() < modals.size()) dialogs.push_back(dialog_work(modals[dialogs.size()]));
        DialogWork& top = dialogs.back();
        if (!top.filled) {
          fill_dialog(s, modals.back(), out.steps);
          top.filled = true;
        } else if (top.next < top.buttons.size()) {
          const auto& [name, caption] = top.buttons[top.next++];
          out.steps.push_back("dialog " + top.class_name + ": clicked " + name + " " + caption);
          post(s, "click", name);
        } else if (!top.close_asked) {
          top.close_asked = true;
          out.steps.push_back("dialog " + top.class_name + " closed");
          post(s, "close");
        } else {
          out.harness.push_back("dialog " + top.class_name + " does not close");
          return;
        }
      } else {
        // A print window opened as a sheet is simply closed.
        std::string other;
        for (const json& sheet : state["sheets"]) {
          if (sheet["class"] != d.category->class_name) other = sheet["class"];
        }
        if (other.empty()) return;
        out.steps.push_back("closed the sheet " + other);
        post(s, "activate", other);
        post(s, "close");
      }
      checkpoint();
    }
  }

  // Whether the category window is still on the declaration with entries not yet saved in
  // one of its forms: what a later press (a save, a question answered Yes) might write.
  static bool leaves_unsaved_changes(Session& s, const Declaration& d) {
    const json state = s.state();
    const json window = active_window(state);
    if (!state["message"].is_null() || !state["modals"].empty() || !window.is_object() ||
        window["class"] != d.category->class_name || variable(s, "pkid") != d.pkid)
      return false;
    for (const json& control : window["controls"]) {
      if (control.contains("form") && control["form"].value("modified", false)) return true;
    }
    return false;
  }

  // Closes whatever is open, answering No to the question whether to save; a session that
  // does not come out empty is not used again.
  void close_all() {
    for (int n = 0; n < 20; ++n) {
      const json state = session_->state();
      if (!state["message"].is_null()) {
        post(*session_, "answer", answer_for(state["message"], "no"));
      } else if (!state["modals"].empty() || !state["sheets"].empty()) {
        post(*session_, "close");
      } else {
        return;
      }
    }
    session_.reset();
  }

  // How a run of presses ended.
  enum class Ended { Unchanged, LeftUnsaved, Changed, NotRun };

  // Presses the actions one after the other in a fresh window on the declaration, and
  // expects the database as it was; an action whose own right the user holds may write
  // anything but the declaration's own tables. LeftUnsaved: nothing was written, but the
  // window was left on the declaration with entries not yet saved.
  Ended run_case(const Situation& situation, const Declaration& d, const std::vector<const Action*>& presses) {
    if (dirty_) {
      put_back(situation);
      if (HasFatalFailure()) return Ended::NotRun;
    }
    std::string label;
    bool own_right = false;
    for (const Action* action : presses) {
      label += (label.empty() ? "" : ", then ") + action->label;
      own_right = own_right || action->own_right;
    }
    const std::string where =
        std::string(d.category->class_name) + " (" + d.category->caption + "), " + situation.name + ", " + label;
    Session* s = session(situation);
    if (!s) return Ended::NotRun;
    if (const std::string problem = open_on_declaration(*s, d); !problem.empty()) {
      ADD_FAILURE() << where << ": this test could not set the window up: " << problem;
      close_all();
      dirty_ = true;
      return Ended::NotRun;
    }
    const Digest before = take_digest(db_->sqlca());
    if (const std::string drift = changed_tables(baseline_, before); !drift.empty()) {
      ADD_FAILURE() << where << ": opening the window on the declaration (or closing the last one) changed:" << drift;
      close_all();
      dirty_ = true;
      return Ended::NotRun;
    }
    Outcome outcome;
    for (const Action* action : presses)
      press(*s, d, *action, action == presses.front() ? before : take_digest(db_->sqlca()), outcome);
    const Digest after = take_digest(db_->sqlca());
    const bool unsaved = leaves_unsaved_changes(*s, d);
    close_all();
    dirty_ = after != before;

    std::string steps;
    for (const std::string& step : outcome.steps) steps += "\n      " + step;
    for (const std::string& problem : outcome.harness)
      ADD_FAILURE() << where << ": this test could not drive the press: " << problem << "\n    what was done:" << steps;
    const std::set<std::string> own_tables = {d.category->unit_table, d.category->worker_table};
    const std::string changed = changed_tables(before, after, own_right ? &own_tables : nullptr);
    if (changed.empty()) return unsaved && !dirty_ ? Ended::LeftUnsaved : Ended::Unchanged;
    std::string by_step;
    for (const std::string& line : outcome.by_step) by_step += "\n      " + line;
    ADD_FAILURE() << where << " changed the database" << (own_right ? " (the declaration's own tables)" : "") << ":"
                  << changed << "\n    what was done:" << steps
                  << (by_step.empty() ? "" : "\n    changed by:" + by_step);
    return Ended::Changed;
  }

  // Presses every action of the category's window in `situation`, each in a fresh window.
  // An action that leaves entries unsaved on the locked declaration is then followed, each
  // time in a fresh window, by every action that wrote nothing on its own: what it left must
  // not be saved either.
  void check_category(const Situation& situation, const Declaration& d) {
    if (dirty_) {
      put_back(situation);
      if (HasFatalFailure()) return;
    }
    std::vector<Action> actions;
    {
      Session* s = session(situation);
      if (!s) return;
      if (const std::string problem = open_on_declaration(*s, d); !problem.empty()) {
        ADD_FAILURE() << d.category->class_name << ", " << situation.name
                      << ": this test could not open the window on its declaration: " << problem;
        close_all();
        dirty_ = true;
        return;
      }
      actions = actions_of(s->state());
      close_all();
    }
    EXPECT_FALSE(actions.empty()) << d.category->class_name << ", " << situation.name << ": the window shows no button";
    std::vector<Ended> alone;
    for (const Action& action : actions) alone.push_back(run_case(situation, d, {&action}));
    for (size_t first = 0; first < actions.size(); ++first) {
      if (alone[first] != Ended::LeftUnsaved) continue;
      for (size_t then = 0; then < actions.size(); ++then) {
        if (alone[then] != Ended::Changed) run_case(situation, d, {&actions[first], &actions[then]});
      }
    }
  }

  WindowRegistry registry_;
  const std::vector<Declaration> declarations_ = declarations();
  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<Session> session_;  // declared after the database, so it ends first
  const Situation* session_situation_ = nullptr;
  Tables pristine_;  // the prepared database
  Digest baseline_;  // ... as text
  bool dirty_ = false;
};

TEST_P(DeclarationLockPropertyTest, NoButtonChangesALockedDeclaration) {
  for (const Situation& situation : kSituations) {
    prepare(situation);
    if (!db_->available()) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG";
    ASSERT_FALSE(HasFatalFailure());
    for (const Declaration& d : declarations_) {
      check_category(situation, d);
      ASSERT_FALSE(HasFatalFailure());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, DeclarationLockPropertyTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), backend_name);

}  // namespace
}  // namespace shenbao::testing
