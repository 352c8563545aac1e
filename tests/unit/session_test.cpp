// The session loop contract: events are posted from another thread, message boxes and modal
// windows wait for the user inside the script, and the caller reads a quiet state.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "framework/host/structures.h"
#include "framework/host/w_response.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/state_diff.h"

namespace shenbao {
namespace {

std::string temporary_path(const std::string& stem) {
  static std::atomic<int> counter{0};
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "_" + std::to_string(getpid()) + "_" +
         std::to_string(counter++);
}

// Buttons whose scripts ask, open a dialog, or fail.
class AskingWindow : public Window {
 public:
  explicit AskingWindow(Session& session) : Window(session, "w_asking") {
    button("pb_status", [this] { this->session().set_status("clicked"); });
    button("pb_ask", [this] {
      const int answer =
          this->session().message_box("提示", "确定要删除该申报吗？", Icon::Question, Buttons::YesNo, 2);
      this->session().set_status(answer == 1 ? "deleted" : "kept");
    });
    button("pb_dialog", [this] { this->session().set_status("chose [" + this->session().open_modal("w_dialog") + "]"); });
    button("pb_dialog_with_worker", [this] {
      this->session().message.powerobjectparm = s_com{"001", "0010007"};
      this->session().set_status("chose [" + this->session().open_modal("w_dialog") + "]");
    });
    button("pb_throw", [] { throw std::runtime_error("no such unit"); });
    button("pb_forget_commit", [this] {
      this->session().sqlca().execute("create table if not exists note (body varchar(10))");
      this->session().sqlca().commit();
      this->session().sqlca().execute("insert into note (body) values ('lost')");
    });
    button("pb_write_then_ask", [this] {
      this->session().sqlca().execute("create table if not exists note (body varchar(10))");
      this->session().sqlca().commit();
      this->session().sqlca().execute("insert into note (body) values ('held')");
      this->session().message_box("提示", "继续吗？", Icon::Question, Buttons::YesNo);
    });
    button("pb_ask_then_throw", [this] {
      this->session().message_box("提示", "继续吗？", Icon::Question, Buttons::YesNo);
      throw std::runtime_error("failed after the answer");
    });
    define_function("wf_title", [this](const auto& args) -> Result<Value> {
      title = args.empty() ? std::string() : args[0];
      return Value(1);
    });
    // Asks Yes/No with the default button given as the argument.
    define_function("wf_ask_with_default", [this](const auto& args) -> Result<Value> {
      return Value(this->session().message_box("提示", "确定要重新提取吗？", Icon::Question, Buttons::YesNo,
                                               args.empty() ? 1 : std::stoi(args[0])));
    });
    define_function("wf_confirm", [this](const auto&) -> Result<Value> {
      return Value(this->session().message_box("提示", "保存吗？", Icon::Question, Buttons::OkCancel));
    });
  }

 private:
  void button(std::string name, std::function<void()> clicked) {
    add_control(ControlKind::Button, name, name, 10, 10, 100, 30).clicked = std::move(clicked);
  }
};

// A response window that answers the worker its opener handed it, or one of its own.
class ChoosingDialog : public w_response {
 public:
  explicit ChoosingDialog(Session& session) : w_response(session, "w_dialog") {
    add_control(ControlKind::Button, "pb_ok", "确定", 10, 10, 100, 30).clicked = [this] {
      const auto handed = parameter<s_com>();
      close_with_return(handed ? handed->worker_code : "0010003");
    };
  }
};

// A grid of two rows with a computed field per row and a total in the summary band.
class TotalsWindow : public Window {
 public:
  explicit TotalsWindow(Session& session) : Window(session, "w_totals") {
    DataStore& store = add_form("dw_1", 0, 0, 400, 200).store();
    const std::string error = store.create(R"syntax(form(name=d_totals style=grid)
detail(height=24)
summary(height=24)
column(name=pay type=number band=detail x=0 y=0 width=60 height=20)
compute(name=with_bonus expression="pay * 1.1" format="0.00" band=detail x=60 y=0 width=60 height=20)
compute(name=total expression="sum(pay)" format="#,##0.00" band=summary x=60 y=0 width=60 height=20)
)syntax");
    if (!error.empty()) throw std::runtime_error(error);
    for (double pay : {1000.0, 250.5}) store.setitem(store.insertrow(0), "pay", Value(pay));
  }
};

// A list of 1,000 names, "name0001" to "name1000", that fills the window when it is resized.
class LongListWindow : public Window {
 public:
  explicit LongListWindow(Session& session) : Window(session, "w_long") {
    DataStore& store = add_form("dw_1", 0, 0, 400, 200).store();
    add_control(ControlKind::StaticText, "st_count", "1000 人", 0, 200, 100, 20);
    const std::string error = store.create(R"syntax(form(name=d_long style=grid)
detail(height=24)
column(name=worker_name type=char(20) band=detail x=0 y=0 width=80 height=20)
)syntax");
    if (!error.empty()) throw std::runtime_error(error);
    for (int i = 1; i <= 1000; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "name%04d", i);
      store.setitem(store.insertrow(0), "worker_name", Value(std::string(name)));
    }
    store.setrow(1);
    // A name added at the top, as a saved declaration joins the top of its list.
    define_function("wf_insert_first", [this](const auto& args) -> Result<Value> {
      DataStore& list = form("dw_1")->store();
      list.setitem(list.insertrow(1), "worker_name", Value(args.empty() ? std::string("new") : args[0]));
      return Value(1);
    });
  }
  void resize(int new_width, int new_height) override {
    Control& list = *form("dw_1");
    list.x = list.y = 4;
    list.width = new_width - 8;
    list.height = new_height - 32;
    Control& count = *control("st_count");
    count.y = new_height - 24;
    count.width = new_width - 8;
  }
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.add("w_asking", [](Session& s) { return std::make_unique<AskingWindow>(s); });
    registry_.add("w_dialog", [](Session& s) { return std::make_unique<ChoosingDialog>(s); });
    registry_.add("w_totals", [](Session& s) { return std::make_unique<TotalsWindow>(s); });
    registry_.add("w_long", [](Session& s) { return std::make_unique<LongListWindow>(s); });
    file_ = temporary_path("shenbao_session_test") + ".db";
    Session::Options options;
    options.database_url = "sqlite:" + file_;
    options.user = {"clerk001", "001", {"file", "accept"}};
    options.registry = &registry_;
    options.print_folder = file_ + "_print";
    std::string error;
    session_ = Session::start(std::move(options), error);
    ASSERT_TRUE(session_) << error;
    ASSERT_TRUE(post("open", "w_asking").ok());
  }

  void TearDown() override {
    session_.reset();
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "_print"}) std::filesystem::remove_all(file_ + suffix, ec);
  }

  EventResult post(std::string kind, std::string target = {}, std::string text = {}) {
    Event event;
    event.kind = std::move(kind);
    event.target = std::move(target);
    event.text = std::move(text);
    return session_->post(std::move(event));
  }
  nlohmann::json state() const { return session_->state(); }

  WindowRegistry registry_;
  std::string file_;
  std::unique_ptr<Session> session_;
};

TEST_F(SessionTest, MessageBoxWaitsForItsAnswerAndTheScriptGoesOn) {
  static const struct {
    const char* answer;
    const char* status;
  } cases[] = {{"yes", "deleted"}, {"no", "kept"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(post("click", "pb_status").ok());

    const EventResult asked = post("click", "pb_ask");
    EXPECT_TRUE(asked.ok()) << asked.error();
    EXPECT_TRUE(asked.pending);
    const auto box = state()["message"];
    ASSERT_TRUE(box.is_object());
    EXPECT_EQ(box["title"], "提示");
    EXPECT_EQ(box["text"], "确定要删除该申报吗？");
    EXPECT_EQ(box["icon"], "question");
    EXPECT_EQ(box["buttons"], nlohmann::json({"yes", "no"}));
    EXPECT_EQ(state()["status"], "clicked") << "the script must not go on before the answer";

    const EventResult other = post("click", "pb_status");
    EXPECT_FALSE(other.ok());
    EXPECT_NE(other.error().find("message box waits"), std::string::npos) << other.error();
    const EventResult look = post("property", "pb_ask", "text");
    EXPECT_TRUE(look.ok()) << "inspections are answered while the box waits: " << look.error();
    const EventResult wrong = post("answer", "ok");
    EXPECT_FALSE(wrong.ok()) << "a Yes/No box has no OK button";
    EXPECT_TRUE(state()["message"].is_object());

    const EventResult answered = post("answer", c.answer);
    EXPECT_TRUE(answered.ok()) << answered.error();
    EXPECT_TRUE(state()["message"].is_null());
    EXPECT_EQ(state()["status"], c.status);
    ASSERT_EQ(answered.resumed.size(), 1u);
    EXPECT_EQ(answered.resumed[0].id, asked.id);
    EXPECT_TRUE(answered.resumed[0].ok());
  }
}

// The state names the button Enter presses; a number the box has no button for is the first.
TEST_F(SessionTest, MessageBoxStateNamesItsDefaultButton) {
  static const struct {
    const char* default_button;
    const char* name;
  } cases[] = {{"2", "no"}, {"1", "yes"}, {"3", "yes"}, {"0", "yes"}, {"-1", "yes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.default_button);
    Event ask;
    ask.kind = "call";
    ask.target = "wf_ask_with_default";
    ask.args = {c.default_button};
    const EventResult asked = session_->post(std::move(ask));
    ASSERT_TRUE(asked.pending) << asked.error();
    const auto box = state()["message"];
    ASSERT_TRUE(box.is_object());
    EXPECT_EQ(box["buttons"], nlohmann::json({"yes", "no"}));
    EXPECT_EQ(box["default"], c.name);
    ASSERT_TRUE(post("answer", "no").ok());
    EXPECT_TRUE(state()["message"].is_null());
  }
}

// A script that neither commits nor rolls back must not hold the database for other sessions
// while its own waits for the user: its changes are undone and the event reports it.
TEST_F(SessionTest, WorkLeftUncommittedIsUndoneAfterTheEvent) {
  const EventResult result = post("click", "pb_forget_commit");
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.error().find("undone"), std::string::npos) << result.error();
  std::string error;
  auto other = Transaction::open("sqlite:" + file_, error);
  ASSERT_TRUE(other) << error;
  std::vector<Value> count;
  ASSERT_EQ(other->select_into("select count(*) from note", {}, count), 0) << other->sqlerrtext;
  EXPECT_EQ(count, std::vector<Value>{0});
  EXPECT_EQ(other->execute("insert into note (body) values ('kept')"), 0) << "the database is not locked";
  other->rollback();
}

// Asking the user while holding writes would lock every other session out for as long as he
// reads: the runtime refuses it as a programming error, before the box is shown.
TEST_F(SessionTest, AQuestionIsNeverAskedWhileWritesArePending) {
  const EventResult result = post("click", "pb_write_then_ask");
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.error().find("uncommitted writes"), std::string::npos) << result.error();
  EXPECT_TRUE(state()["message"].is_null()) << "no box is left waiting";
  std::string error;
  auto other = Transaction::open("sqlite:" + file_, error);
  ASSERT_TRUE(other) << error;
  std::vector<Value> count;
  ASSERT_EQ(other->select_into("select count(*) from note", {}, count), 0) << other->sqlerrtext;
  EXPECT_EQ(count, std::vector<Value>{0}) << "the pending write was rolled back";
}

TEST_F(SessionTest, ModalWindowAnswersItsReturnOrNothingWhenClosed) {
  static const struct {
    const char* kind;
    const char* target;
    const char* status;
    const char* opener;
  } cases[] = {{"click", "pb_ok", "chose [0010003]", "pb_dialog"},
               {"close", "", "chose []", "pb_dialog"},
               {"click", "pb_ok", "chose [0010007]", "pb_dialog_with_worker"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.opener) + " " + c.kind);
    const EventResult opened = post("click", c.opener);
    EXPECT_TRUE(opened.ok()) << opened.error();
    EXPECT_TRUE(opened.pending);
    ASSERT_EQ(state()["modals"].size(), 1u);
    EXPECT_EQ(state()["modals"][0]["class"], "w_dialog");
    EXPECT_FALSE(post("click", "pb_status").ok()) << "events go to the modal window on top";

    const EventResult closed = post(c.kind, c.target);
    EXPECT_TRUE(closed.ok()) << closed.error();
    EXPECT_TRUE(state()["modals"].empty());
    EXPECT_EQ(state()["status"], c.status);
    ASSERT_EQ(closed.resumed.size(), 1u);
    EXPECT_EQ(closed.resumed[0].id, opened.id);
  }
}

TEST_F(SessionTest, ComputedFieldsAreInTheStateAsTheFormShowsThem) {
  const EventResult opened = post("open", "w_totals");
  ASSERT_TRUE(opened.ok()) << opened.error();
  const auto form = state()["sheets"][1]["controls"][0]["form"];
  ASSERT_EQ(form["rows"].size(), 2u);
  EXPECT_EQ(form["rows"][0]["attributes"]["with_bonus.value"], "1100.00");
  EXPECT_EQ(form["rows"][1]["attributes"]["with_bonus.value"], "275.55");
  EXPECT_EQ(form["computed"]["total"], "1,250.50");
  EXPECT_EQ(form["modified"], true) << "rows entered and not saved";
}

TEST_F(SessionTest, FrameHoldsABoundedNumberOfSheets) {
  while (state()["sheets"].size() < Session::kMaxSheets) ASSERT_TRUE(post("open", "w_asking").ok());
  const EventResult refused = post("open", "w_asking");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.error().find("请先关闭一些窗口"), std::string::npos) << refused.error();
  EXPECT_EQ(state()["sheets"].size(), Session::kMaxSheets);
}

TEST_F(SessionTest, ResponseWindowDoesNotOpenAsASheet) {
  const EventResult refused = post("open", "w_dialog");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.error().find("w_dialog is a dialog"), std::string::npos) << refused.error();
  EXPECT_EQ(state()["sheets"].size(), 1u);
}

TEST_F(SessionTest, ScriptErrorsAreReportedAndTheSessionGoesOn) {
  const EventResult thrown = post("click", "pb_throw");
  EXPECT_FALSE(thrown.ok());
  EXPECT_NE(thrown.error().find("no such unit"), std::string::npos) << thrown.error();
  ASSERT_TRUE(post("click", "pb_status").ok());
  EXPECT_EQ(state()["status"], "clicked");

  // An error after the answer belongs to the click that waited; it comes with the answer.
  const EventResult asked = post("click", "pb_ask_then_throw");
  EXPECT_TRUE(asked.pending);
  const EventResult answered = post("answer", "yes");
  EXPECT_TRUE(answered.ok());
  ASSERT_EQ(answered.resumed.size(), 1u);
  EXPECT_EQ(answered.resumed[0].id, asked.id);
  EXPECT_FALSE(answered.resumed[0].ok());
  EXPECT_NE(answered.resumed[0].error().find("failed after the answer"), std::string::npos);
  EXPECT_TRUE(post("click", "pb_status").ok());
}

TEST_F(SessionTest, CallThatWaitsForTheUserGivesItsResultWithTheAnswer) {
  const EventResult called = post("call", "wf_confirm");
  EXPECT_TRUE(called.ok());
  EXPECT_TRUE(called.pending);
  EXPECT_FALSE(called.result.has_value());
  const EventResult answered = post("answer", "cancel");
  ASSERT_EQ(answered.resumed.size(), 1u);
  ASSERT_TRUE(answered.resumed[0].result.has_value());
  EXPECT_EQ(answered.resumed[0].result->to_string(), "2");

  const EventResult unknown = post("call", "wf_missing");
  EXPECT_FALSE(unknown.ok());
  EXPECT_FALSE(unknown.pending);
}

// The whole state has every row; the client's has a window of them that follows the current
// row, or the rows the client asked for, and the whole list can be searched.
TEST_F(SessionTest, LongListsReachTheClientInWindows) {
  ASSERT_TRUE(post("open", "w_long").ok());
  auto client_rows = [&] {
    const nlohmann::json document = nlohmann::json::parse(session_->client_document().text);
    const auto& form = document["sheets"][1]["controls"][0]["form"];
    EXPECT_EQ(form["row_count"], 1000);
    return std::pair<long, std::vector<std::string>>(form["rows_from"].get<long>(), [&] {
      std::vector<std::string> names;
      for (const auto& row : form["rows"]) names.push_back(row["values"][0]);
      return names;
    }());
  };
  EXPECT_EQ(state()["sheets"][1]["controls"][0]["form"]["rows"].size(), 1000u);
  auto [from, names] = client_rows();
  EXPECT_EQ(from, 1);
  ASSERT_EQ(names.size(), static_cast<size_t>(Session::kWindowRows));
  EXPECT_EQ(names.front(), "name0001");

  Event select{"select", "dw_1", 730};
  ASSERT_TRUE(session_->post(select).ok());
  std::tie(from, names) = client_rows();
  EXPECT_LE(from, 730 - 20);
  EXPECT_GE(from + static_cast<long>(names.size()) - 1, 730 + 20);
  EXPECT_EQ(names[static_cast<size_t>(730 - from)], "name0730");

  // The client scrolls to the end; the window stays there until the current row moves.
  const uint64_t before = session_->client_document().version;
  ASSERT_TRUE(session_->show_rows("dw_1", 990, 50));
  EXPECT_GT(session_->client_document().version, before);
  std::tie(from, names) = client_rows();
  EXPECT_EQ(from, 951);
  EXPECT_EQ(names.back(), "name1000");
  ASSERT_TRUE(post("property", "dw_1", "visible").ok());
  EXPECT_EQ(client_rows().first, 951);
  select.row = 3;
  ASSERT_TRUE(session_->post(select).ok());
  EXPECT_EQ(client_rows().first, 1);
  EXPECT_FALSE(session_->show_rows("dw_9", 1, 10));

  const struct {
    const char* column;
    const char* prefix;
    long from;
    long row;
  } finds[] = {{"worker_name", "NAME05", 1, 500}, {"worker_name", "name0999", 1, 999}, {"worker_name", "name00", 800, 1},
               {"worker_name", "name09", 950, 950}, {"worker_name", "x", 1, 0}, {"no_column", "n", 1, -1}};
  for (const auto& f : finds)
    EXPECT_EQ(session_->find_row("dw_1", f.column, f.prefix, f.from), f.row) << f.prefix << " from " << f.from;
}

// A client that holds any recent version reaches the present one by applying the changes
// since it: through typing, paging, a resize that moves the list, windows opened and closed
// (the forms behind them move in the document) and a message box.
TEST_F(SessionTest, ClientChangesLeadFromEveryRecentVersionToThePresent) {
  std::map<uint64_t, nlohmann::json> held;
  // Every version held so far, with the changes since it, is the present document.
  auto check_and_hold = [&](const char* step) {
    const Session::ClientDocument present = session_->client_document();
    const nlohmann::json expected = nlohmann::json::parse(present.text);
    for (const auto& [version, document] : held) {
      const auto changes = session_->client_changes(version);
      ASSERT_TRUE(changes) << step << ": version " << version;
      EXPECT_EQ(changes->version, present.version);
      nlohmann::json updated = document;
      apply_state_changes(updated, nlohmann::json::parse(changes->changes));
      EXPECT_EQ(updated, expected) << step << ": from version " << version;
    }
    EXPECT_EQ(session_->client_changes(present.version)->changes, "[]");
    EXPECT_FALSE(session_->client_changes(present.version + 1));
    held[present.version] = expected;
  };
  auto type = [&](long row, std::string text) { return session_->post({"type", "dw_1", row, "pay", std::move(text)}); };
  check_and_hold("start");
  ASSERT_TRUE(post("open", "w_totals").ok());
  check_and_hold("open");
  ASSERT_TRUE(type(1, "300").ok());
  check_and_hold("type");
  ASSERT_TRUE(post("open", "w_long").ok());
  check_and_hold("open a long list");
  ASSERT_TRUE(session_->post({"select", "dw_1", 730}).ok());
  check_and_hold("select");
  ASSERT_TRUE(session_->show_rows("dw_1", 990, 50));
  check_and_hold("page");
  ASSERT_TRUE(session_->post({"resize", "", 0, "", "", {"640", "480"}}).ok());
  check_and_hold("resize");
  // Rows that shift by one within the client's window go as one row put in, not fifty.
  const uint64_t before_insert = session_->client_document().version;
  ASSERT_TRUE(session_->post({"call", "wf_insert_first", 0, "", "", {"name0000"}}).ok());
  const auto inserted = session_->client_changes(before_insert);
  ASSERT_TRUE(inserted);
  EXPECT_NE(inserted->changes.find("\"i\":0"), std::string::npos) << inserted->changes;
  EXPECT_LT(inserted->changes.size(), 600u) << inserted->changes;
  check_and_hold("insert at the top");
  const uint64_t unchanged = session_->client_document().version;
  ASSERT_TRUE(post("property", "dw_1", "visible").ok());
  EXPECT_EQ(session_->client_document().version, unchanged) << "an inspection changes nothing the client holds";
  ASSERT_TRUE(post("activate", "w_totals").ok());
  ASSERT_TRUE(post("close").ok());
  check_and_hold("close");
  ASSERT_TRUE(post("activate", "w_asking").ok());
  // A text that looks like the marks the whole document is put together with changes nothing.
  ASSERT_TRUE(session_->post({"call", "wf_title", 0, "", "", {"\x01\x02form 0\x02\x01"}}).ok());
  check_and_hold("a title that looks like a mark");
  EXPECT_EQ(nlohmann::json::parse(session_->client_document().text)["sheets"][0]["title"], "\x01\x02form 0\x02\x01");
  ASSERT_TRUE(post("click", "pb_ask").ok());
  check_and_hold("ask");
  ASSERT_TRUE(post("answer", "yes").ok());
  check_and_hold("answer");
  EXPECT_EQ(nlohmann::json::parse(session_->client_document().text)["status"], "deleted");
}

}  // namespace
}  // namespace shenbao
