// The scenario language: splitting lines into words, and the runner's commands against a
// small window of its own on the standard fixture.

#include "app/scenario.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "app/database_setup.h"

namespace shenbao {
namespace {

TEST(SplitWords, Lines) {
  static const struct {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {"open w_vorant_zw", {"open", "w_vorant_zw"}},
      {"  type dw_4 1 ndzw \"副\"  ", {"type", "dw_4", "1", "ndzw", "副"}},
      {"text sle_1 \"\"", {"text", "sle_1", ""}},
      {"a\tb", {"a", "b"}},
      {"a b\r", {"a", "b"}},
      {"", {}},
      {"   ", {}},
      {"sql \"insert into t values ('P1', 'x y')\"", {"sql", "insert into t values ('P1', 'x y')"}},
      {R"(expect message "提示" "a \"b\" \\ c\r\n\t")", {"expect", "message", "提示", "a \"b\" \\ c\r\n\t"}},
      {R"("\\")", {"\\"}},
      {R"("a" "b")", {"a", "b"}},
      {"x'y's", {"x'y's"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words{"left over"};
    std::string error;
    EXPECT_TRUE(split_words(c.line, words, error)) << c.line << ": " << error;
    EXPECT_EQ(words, c.words) << c.line;
  }
}

TEST(SplitWords, MalformedLines) {
  static const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"text sle_1 \"abc", "not closed"},
      {R"(text sle_1 "abc\")", "not closed"},
      {R"(text sle_1 "abc\)", "not closed"},
      {R"(text "a\qb")", "unknown escape \\q"},
      {R"(ab"c")", "quote inside"},
      {R"("ab"c)", "no blank after"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words;
    std::string error;
    EXPECT_FALSE(split_words(c.line, words, error)) << c.line;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.line << ": " << error;
  }
}

// A grid of two persons: worker_code protected, note protected in row 2 only, sex a code
// list that narrows to the code typed, and worker_name refusing "无名".
constexpr const char* kClerkForm = R"FORM(form(name=d_clerk style=grid)
header(height=24)
detail(height=24)
column(name=worker_code type=char(20) band=detail x=4 y=2 width=80 height=20 protect=1)
column(name=worker_name type=char(20) band=detail x=90 y=2 width=100 height=20)
column(name=sex type=char(10) band=detail x=200 y=2 width=60 height=20 edit=dropdown dddw.name=d_select_sex dddw.display=sex_name dddw.data=sex_code)
column(name=note type=char(10) band=detail x=270 y=2 width=60 height=20 protect="=if(worker_code = '0010002', 1, 0)")
)FORM";

class ClerkWindow : public Window {
 public:
  explicit ClerkWindow(Session& session) : Window(session, "w_clerk") {
    FormControl& dw = add_form("dw_1", 0, 0, 800, 400);
    if (!dw.store().create(kClerkForm).empty()) throw std::runtime_error("d_clerk does not parse");
    dw.store().settransobject(&session.sqlca());
    DataStore* sexes = dw.store().getchild("sex");
    sexes->settransobject(&session.sqlca());
    sexes->retrieve();
    for (const char* code : {"0010001", "0010002"}) dw.store().setitem(dw.store().insertrow(0), "worker_code", code);
    dw.editchanged = [sexes](long, const std::string& column, const std::string& data) {
      if (column != "sex") return;
      sexes->setfilter(data.empty() ? "" : "sex_code = '" + data + "'");
      sexes->filter();
    };
    dw.itemchanged = [](long, const std::string& column, const std::string& data, const Value&) {
      return column == "worker_name" && data == "无名" ? 1 : 0;
    };
    add_control(ControlKind::SingleLineEdit, "sle_1", "", 10, 420, 200, 24);
    button("pb_ask", [this] { this->session().message_box("提示", "继续吗？", Icon::Question, Buttons::YesNo); });
    button("pb_fail_after_answer", [this] {
      this->session().message_box("提示", "继续吗？", Icon::Question, Buttons::YesNo);
      throw std::runtime_error("the register is locked");
    });
    button("pb_dialog", [this] { this->session().open_modal("w_dialog"); });
    define_function("wf_user", [this](const auto&) -> Result<Value> { return Value(this->session().user().username); });
    define_function("wf_today", [this](const auto&) -> Result<Value> { return Value(this->session().today()); });
    define_function("wf_ask", [this](const auto&) -> Result<Value> {
      return Value(this->session().message_box("提示", "保存吗？", Icon::Question, Buttons::OkCancel));
    });
    define_function("wf_join", [](const std::vector<std::string>& args) -> Result<Value> {
      std::string joined;
      for (const auto& a : args) joined += "[" + a + "]";
      return Value(joined);
    });
  }

  std::optional<Value> variable(std::string_view name) const override {
    if (name == "is_index") return Value(3);
    return Window::variable(name);
  }

 private:
  void button(std::string name, std::function<void()> clicked) {
    add_control(ControlKind::Button, name, name, 10, 460, 100, 30).clicked = std::move(clicked);
  }
};

class Dialog : public Window {
 public:
  explicit Dialog(Session& session) : Window(session, "w_dialog") {
    add_control(ControlKind::Button, "pb_ok", "确定", 10, 10, 100, 30).clicked = [this] { close_with_return("x"); };
  }
};

class RunScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.add("w_clerk", [](Session& s) { return std::make_unique<ClerkWindow>(s); });
    registry_.add("w_dialog", [](Session& s) { return std::make_unique<Dialog>(s); });
  }

  // Runs the text in a fresh database with the standard fixture.
  ScenarioOutcome run(const std::string& text) {
    static std::atomic<int> counter{0};
    const char* tmp = std::getenv("TMPDIR");
    const std::string file = std::string(tmp && *tmp ? tmp : "/tmp") + "/shenbao_scenario_test_" +
                             std::to_string(getpid()) + "_" + std::to_string(counter++) + ".db";
    ScenarioOutcome outcome{false, -1, "no database"};
    {
      std::string error;
      auto sqlca = Transaction::open("sqlite:" + file, error);
      if (sqlca && create_database(*sqlca, true, "", error)) {
        sqlca.reset();
        outcome = run_scenario(text, {"sqlite:" + file, &registry_, file + "_print"});
      } else {
        outcome.message += ": " + error;
      }
    }
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "_print"}) std::filesystem::remove_all(file + suffix, ec);
    return outcome;
  }

  WindowRegistry registry_;
};

TEST_F(RunScenario, FilesThatHold) {
  static const struct {
    const char* name;
    const char* text;
  } cases[] = {
      {"forms",
       "# typing, narrowing lists and the focus\n"
       "\n"
       "open w_clerk\n"
       "expect window w_clerk\n"
       "expect rows dw_1 2\n"
       "type dw_1 2 worker_name \"李卫东\"\n"
       "expect accepted\n"
       "expect value dw_1 2 worker_name 李卫东\n"
       "expect row dw_1 2\n"
       "expect focus dw_1 worker_name\n"
       "type dw_1 1 worker_name \"无名\"\n"
       "expect rejected\n"
       "expect value dw_1 1 worker_name null\n"
       "type dw_1 1 worker_name \"一二三四五六七八九十一二三四五六七八九十一\"\n"
       "expect rejected\n"
       "expect list dw_1 sex 1 2\n"
       "filter dw_1 1 sex \"2\"\n"
       "expect list dw_1 sex 2\n"
       "type dw_1 1 sex \"2\"\n"
       "expect value dw_1 1 sex 2\n"
       "type dw_1 1 sex \"\"\n"
       "expect value dw_1 1 sex null\n"
       "type dw_1 1 note \"可写\"\n"
       "select dw_1 2\n"
       "expect row dw_1 2\n"},
      {"controls and window functions",
       "today 2009-06-15\n"
       "unit 001\n"
       "open w_clerk\n"
       "call wf_user\n"
       "expect result clerk001\n"
       "call wf_today\n"
       "expect result 2009-06-15\n"
       "call wf_join \"a b\" \"\"\n"
       "expect result \"[a b][]\"\n"
       "expect var is_index 3\n"
       "expect property pb_ask visible 1\n"
       "expect property pb_ask visible true\n"
       "text sle_1 \"a b\"\n"
       "expect property sle_1 text \"a b\"\n"
       "expect open w_clerk\n"
       "expect closed w_dialog\n"
       "expect printed 0\n"},
      {"a unit without a clerk acts as a tester", "unit 009\nopen w_clerk\ncall wf_user\nexpect result tester\n"},
      {"message boxes and a call that waits",
       "open w_clerk\n"
       "expect no message\n"
       "call wf_ask\n"
       "expect message \"提示\" \"保存吗？\"\n"
       "expect message-prefix \"提示\" \"保存\"\n"
       "answer cancel\n"
       "expect no message\n"
       "expect result 2\n"},
      {"modal windows",
       "open w_clerk\n"
       "click pb_dialog\n"
       "expect window w_dialog\n"
       "click pb_ok\n"
       "expect window w_clerk\n"
       "expect closed w_dialog\n"},
      {"the database",
       "expect query \"select worker_name, birthday, csny from rs_main where worker_code = '0010001'\" 张建国 "
       "19620315 1962-03-15\n"
       "sql \"update rs_main set worker_name = '张建华' where worker_code = '0010001'\"\n"
       "expect query \"select worker_name from rs_main where worker_code in ('0010001', '0010002') order by 1\" "
       "张建华 李卫东\n"
       "expect query \"select worker_name from rs_main where worker_code = 'none'\"\n"},
  };
  for (const auto& c : cases) {
    const ScenarioOutcome outcome = run(c.text);
    EXPECT_TRUE(outcome.passed) << c.name << ": line " << outcome.line << ": " << outcome.message;
  }
}

TEST_F(RunScenario, FilesThatFailSayWhereAndWhy) {
  static const struct {
    const char* text;
    int line;
    const char* message;
  } cases[] = {
      {"open w_clerk\nfrobnicate x\n", 2, "unknown command frobnicate"},
      {"expect frob\n", 1, "unknown command \"expect frob\""},
      {"open w_clerk\nclick\n", 2, "expected click CONTROL"},
      {"open w_clerk\nclick pb_none\n", 2, "no control pb_none"},
      {"open w_none\n", 1, "no window class w_none"},
      {"open w_clerk\ntype dw_1 1 nosuch \"x\"\n", 2, "no column nosuch"},
      {"open w_clerk\ntype dw_9 1 sex \"x\"\n", 2, "form control dw_9"},
      {"open w_clerk\ntype dw_1 1 worker_code \"x\"\n", 2, "protected"},
      {"open w_clerk\ntype dw_1 2 note \"x\"\n", 2, "protected"},
      {"open w_clerk\ntype dw_1 0 sex \"1\"\n", 2, "row number"},
      {"open w_clerk\nclick pb_ask\nclick pb_ask\n", 3, "message box waits"},
      {"open w_clerk\nclick pb_fail_after_answer\nanswer yes\n", 3, "the register is locked"},
      {"open w_clerk\nanswer yes\n", 2, "no message box"},
      {"open w_clerk\ncall wf_ask\nexpect result 1\n", 3, "still waiting"},
      {"open w_clerk\nexpect rejected\n", 2, "no type before"},
      {"expect result 1\n", 1, "no call before"},
      {"open w_clerk\nunit 001\n", 2, "unit before"},
      {"open w_clerk\n\n# comment\ntext sle_1 \"abc\n", 4, "not closed"},
      {"open w_clerk\nexpect value dw_1 1 worker_code 9\n", 2, "expected dw_1 row 1 worker_code 9, got 0010001"},
      {"open w_clerk\nexpect rows dw_1 3\n", 2, "expected rows in dw_1 3, got 2"},
      {"open w_clerk\nexpect list dw_1 sex 2 1\n", 2, "expected the list 2 1, got 1 2"},
      {"open w_clerk\nexpect list dw_1 worker_name\n", 2, "a code list on dw_1 column worker_name, got none"},
      {"open w_clerk\nexpect focus dw_1 sex\n", 2, "expected the focus on dw_1 column sex"},
      {"open w_clerk\nexpect message \"提示\" \"x\"\n", 2, "got no message"},
      {"open w_clerk\nclick pb_ask\nexpect no message\n", 3, "got message 提示 继续吗？"},
      {"open w_clerk\nexpect window w_dialog\n", 2, "expected active window w_dialog, got w_clerk"},
      {"expect query \"select worker_name from rs_main where worker_code = '0010001'\" 李四\n", 1,
       "expected 李四, got 张建国"},
      {"expect query \"select nothing from nowhere\"\n", 1, "expected the query to run"},
      {"sql \"update nowhere set x = 1\"\n", 1, "expected the statement to run"},
      {"open w_clerk\nexpect var nosuch 1\n", 2, "no window variable nosuch"},
      {"open w_clerk\nexpect property pb_ask nosuch 1\n", 2, "no property nosuch"},
      {"open w_clerk\nexpect job \"x\" 1\n", 2, "got no print job"},
      {"today 2009-02-30\n", 1, "expected a date"},
  };
  for (const auto& c : cases) {
    const ScenarioOutcome outcome = run(c.text);
    EXPECT_FALSE(outcome.passed) << c.text;
    EXPECT_EQ(outcome.line, c.line) << c.text << outcome.message;
    EXPECT_NE(outcome.message.find(c.message), std::string::npos) << c.text << "\ngot: " << outcome.message;
  }
}

}  // namespace
}  // namespace shenbao
