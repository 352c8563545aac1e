// The declaration ancestor's shared behaviour, through a category of its own that states only a
// descriptor and one acceptance statement: listing, new, save, delete, adding workers, the
// unsaved-changes question, numbering, acceptance with commit or rollback, rights, and that a
// question one clerk is reading holds no other session back.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <future>
#include <mutex>

#include "app/database_setup.h"
#include "framework/declaration/sb1.h"
#include "framework/host/host_session.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

// A minimal category on the post and rank tables: one copied unit column, two copied worker
// columns, one required column, and an acceptance that marks the declared workers' posts. It
// fails its acceptance after writing when told to, so that the rollback shows.
class w_test_category : public sb1 {
 public:
  static const CategoryDescriptor& descriptor() {
    static const CategoryDescriptor kDescriptor{
        .class_name = "w_test_category",
        .caption = "测试申报",
        .unit_table = "rs_w00031_com",
        .worker_table = "rs_w00031",
        .unit_form = "d_zw_company_form",
        .worker_form = "d_zw_worker_form",
        .company_copies = {"now_mans"},
        .worker_copies = {{"sex", "sex"}, {"card_no", "card_no"}},
        .required = {{"bz", "说明不能为空！"}},
        .functions = {"uf_getworkercode", "wf_rystate"},
    };
    return kDescriptor;
  }

  explicit w_test_category(Session& session) : sb1(session, descriptor()) {
    define_function("wf_fail_acceptance", [this](const auto&) -> Result<Value> {
      fail_acceptance_ = true;
      return Value(0);
    });
  }

  int uf_approve(int ai_state) override {
    sb1::uf_approve(ai_state);
    session().sqlca().execute(
        "update rs_main set post = 'T1' where company_num = :com and worker_code in "
        "(select worker_code from rs_w00031 where pkid = :id and company_num = :com)",
        {Value(company_num), Value(pkid)});
    if (session().sqlca().sqlcode < 0 || fail_acceptance_) return -1;
    return 0;
  }

 private:
  bool fail_acceptance_ = false;
};

class DeclarationAncestorTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
    registry.add("w_test_category", [](Session& s) { return std::make_unique<w_test_category>(s); }, "测试申报");
  }

  std::unique_ptr<Session> start(Role role = Role::Both, std::string username = "clerk001") {
    Session::Options options;
    options.database_url = db.url();
    options.registry = &registry;
    options.print_folder = "/tmp";
    options.today = DateTime::from_civil(2009, 6, 15);
    apply_host(options);
    options.user = host_user(username, "001", role);
    options.user.company_num = "001";
    options.audit = [this](const std::string& action, const std::string& detail) {
      std::lock_guard lock(audit_mutex);
      audit.push_back(action + " " + detail);
    };
    std::string error;
    auto session = Session::start(options, error);
    EXPECT_TRUE(session) << error;
    if (session) EXPECT_TRUE(session->post({"open", "w_test_category"}).ok());
    return session;
  }

  static EventResult post(Session& s, std::string kind, std::string target = {}, long row = 0,
                          std::string column = {}, std::string text = {}) {
    Event event{std::move(kind), std::move(target), row, std::move(column), std::move(text), {}};
    return s.post(std::move(event));
  }
  static std::string message(Session& s) {
    const auto m = s.state()["message"];
    return m.is_null() ? std::string() : m["title"].get<std::string>() + "|" + m["text"].get<std::string>();
  }
  static std::string value(Session& s, const char* form, long row, const char* column) {
    const EventResult r = post(s, "value", form, row, column);
    return r.result ? r.result->to_string() : "<" + r.error() + ">";
  }
  std::string query(const std::string& sql) {
    std::string out;
    db.sqlca().query(sql, {}, [&](const ResultRow& row) {
      for (int c = 0; c < row.column_count(); ++c) out += (out.empty() ? "" : ",") + row.get(c).to_string();
      return true;
    });
    db.sqlca().rollback();
    return out;
  }
  // New declaration, saved.
  static void new_declaration(Session& s) {
    ASSERT_TRUE(post(s, "click", "pb_16").ok());
    ASSERT_TRUE(post(s, "type", "dw_3", 1, "state", "1").ok());  // submitted
    ASSERT_TRUE(post(s, "click", "pb_5").ok());
    ASSERT_EQ(message(s), "");
  }
  static void add_worker(Session& s, const char* worker_code, const char* note) {
    Event add{"gesture", "add", 0, "", "", {worker_code}};
    ASSERT_TRUE(s.post(add).ok());
    ASSERT_TRUE(post(s, "type", "dw_4", 1, "bz", note).ok());
    ASSERT_TRUE(post(s, "click", "pb_2").ok());
    ASSERT_EQ(message(s), "");
  }

  TestDatabase db{GetParam()};
  WindowRegistry registry;
  std::mutex audit_mutex;
  std::vector<std::string> audit;
};

TEST_P(DeclarationAncestorTest, FilesAndDeletesDeclarationsAndWorkers) {
  auto s = start();
  ASSERT_TRUE(post(*s, "click", "pb_16").ok());
  EXPECT_EQ(value(*s, "dw_3", 1, "company_name"), "江州市人事局") << "the unit's name";
  EXPECT_EQ(value(*s, "dw_3", 1, "now_mans"), query("select now_mans from rs_info_company where company_num = '001'"))
      << "the descriptor's copy from the master data";
  ASSERT_TRUE(post(*s, "click", "pb_5").ok());
  EXPECT_EQ(s->state()["status"], "保存成功");
  EXPECT_EQ(post(*s, "var", "pkid").result->to_string(), "0000000001");
  EXPECT_EQ(query("select pkid, createby from rs_w00031_com"), "0000000001,clerk001") << "key and audit columns";

  Event add{"gesture", "add", 0, "", "", {"0010001"}};
  ASSERT_TRUE(s->post(add).ok());
  EXPECT_EQ(value(*s, "dw_4", 1, "worker_name"), query("select worker_name from rs_main where worker_code = '0010001'"));
  EXPECT_EQ(value(*s, "dw_4", 1, "card_no"), query("select card_no from rs_main where worker_code = '0010001'"));
  ASSERT_TRUE(post(*s, "click", "pb_2").ok());
  EXPECT_EQ(message(*s), "提示|说明不能为空！") << "the descriptor's required column";
  ASSERT_TRUE(post(*s, "answer", "ok").ok());
  EXPECT_EQ(s->state()["sheets"][0]["focus"], "dw_4");
  EXPECT_EQ(query("select count(*) from rs_w00031"), "0");
  ASSERT_TRUE(post(*s, "type", "dw_4", 1, "bz", "拟任").ok());
  ASSERT_TRUE(post(*s, "click", "pb_2").ok());
  EXPECT_EQ(query("select worker_code, bz from rs_w00031"), "0010001,拟任");
  EXPECT_EQ(post(*s, "call", "wf_rystate").result->to_string(), "1") << "the worker list marks the declared worker";

  ASSERT_TRUE(s->post(add).ok());
  EXPECT_EQ(message(*s), "提示|该人员已在本次申报中！");
  ASSERT_TRUE(post(*s, "answer", "ok").ok());

  ASSERT_TRUE(post(*s, "click", "pb_del").ok());
  EXPECT_EQ(message(*s), "提示|确定要删除该人员吗？");
  ASSERT_TRUE(post(*s, "answer", "yes").ok());
  EXPECT_EQ(query("select count(*) from rs_w00031"), "0");

  add_worker(*s, "0010002", "x");
  ASSERT_TRUE(post(*s, "click", "pb_d").ok());
  ASSERT_TRUE(post(*s, "answer", "no").ok());
  EXPECT_EQ(query("select count(*) from rs_w00031_com"), "1") << "No keeps the declaration";
  ASSERT_TRUE(post(*s, "click", "pb_d").ok());
  ASSERT_TRUE(post(*s, "answer", "yes").ok());
  EXPECT_EQ(query("select (select count(*) from rs_w00031_com) + (select count(*) from rs_w00031)"), "0");
  EXPECT_EQ(post(*s, "var", "pkid").result->to_string(), "");
  std::lock_guard lock(audit_mutex);
  ASSERT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[0], "delete-worker rs_w00031 pkid=0000000001 unit=001 worker=0010001");
  EXPECT_EQ(audit[1], "delete-declaration rs_w00031_com pkid=0000000001 unit=001");
}

TEST_P(DeclarationAncestorTest, AsksBeforeUnsavedEntriesAreLeft) {
  auto s = start();
  new_declaration(*s);
  ASSERT_TRUE(post(*s, "type", "dw_3", 1, "sbr", "张三").ok());
  ASSERT_TRUE(post(*s, "click", "pb_16").ok());
  EXPECT_EQ(message(*s), "提示|申报数据已修改，是否保存？");
  ASSERT_TRUE(post(*s, "answer", "no").ok());
  EXPECT_EQ(query("select sbr from rs_w00031_com"), "null") << "No drops the entry";
  // The new declaration that pb_16 went on to set up is left unsaved in turn.
  ASSERT_TRUE(post(*s, "select", "dw_1", 1).ok());
  EXPECT_EQ(message(*s), "提示|申报数据已修改，是否保存？");
  ASSERT_TRUE(post(*s, "answer", "no").ok());
  EXPECT_EQ(query("select count(*) from rs_w00031_com"), "1");
  ASSERT_TRUE(post(*s, "type", "dw_3", 1, "sbr", "李四").ok());
  ASSERT_TRUE(post(*s, "close").ok());
  ASSERT_TRUE(post(*s, "answer", "yes").ok());
  EXPECT_EQ(query("select sbr from rs_w00031_com"), "李四") << "Yes saves it before the window closes";
  EXPECT_TRUE(s->state()["sheets"].empty()) << message(*s);
}

TEST_P(DeclarationAncestorTest, NumbersNewPersonsUpToTheLimit) {
  auto s = start();
  EXPECT_EQ(post(*s, "call", "uf_getworkercode").result->to_string(), "9000001");
  db.run("insert into rs_w00031 (pkid, company_num, worker_code) values ('X', '001', ' 9000041 ')");
  EXPECT_EQ(post(*s, "call", "uf_getworkercode").result->to_string(), "9000042");
  db.run("insert into rs_w00031 (pkid, company_num, worker_code) values ('Y', '001', '9999999')");
  const EventResult limit = post(*s, "call", "uf_getworkercode");
  EXPECT_EQ(message(*s), "系统提示|人员编号已超出系统的极限，请与系统管理员联系");
  ASSERT_TRUE(post(*s, "answer", "ok").ok());
  EXPECT_EQ(s->last_call_result()->to_string(), "");
}

TEST_P(DeclarationAncestorTest, AcceptsOnceAndRollsBackAFailedAcceptance) {
  auto s = start();
  new_declaration(*s);
  add_worker(*s, "0010001", "x");
  const std::string before = query("select post from rs_main where worker_code = '0010001'");

  ASSERT_TRUE(post(*s, "call", "wf_fail_acceptance").ok());
  ASSERT_TRUE(post(*s, "click", "pb_approve").ok());
  EXPECT_EQ(message(*s), "提示|确定要将本次申报数据入库吗？");
  ASSERT_TRUE(post(*s, "answer", "yes").ok());
  EXPECT_EQ(message(*s).rfind("提示|数据入库失败！", 0), 0u) << message(*s);
  ASSERT_TRUE(post(*s, "answer", "ok").ok());
  EXPECT_EQ(query("select post from rs_main where worker_code = '0010001'"), before) << "the register is as before";
  EXPECT_EQ(query("select count(*) from rs_sb_approval"), "0") << "and no acceptance is recorded";
  const char* journalled =
      "select j.target, j.action, replace(j.row_key, ' ', ''), replace(j.before_values, ' ', ''), "
      "replace(j.after_values, ' ', '') from sb_journal j join sb_history h on h.pk_id = j.history_id "
      "where h.step = 'accepted' and j.target = 'rs_main'";
  EXPECT_EQ(query(journalled), "") << "nor journalled";

  s = start();  // a fresh window, whose acceptance succeeds
  ASSERT_TRUE(post(*s, "select", "dw_1", 1).ok());
  ASSERT_TRUE(post(*s, "click", "pb_approve").ok());
  ASSERT_TRUE(post(*s, "answer", "yes").ok());
  EXPECT_EQ(message(*s), "提示|数据入库成功！");
  ASSERT_TRUE(post(*s, "answer", "ok").ok());
  EXPECT_EQ(query("select post from rs_main where worker_code = '0010001'"), "T1");
  EXPECT_EQ(query("select table_name, pkid, company_num, approved_by from rs_sb_approval"),
            "rs_w00031_com,0000000001,001,clerk001");
  // The category's statement told the journal nothing; the journal has its row all the same.
  EXPECT_EQ(query(journalled), "rs_main,update,{\"company_num\":\"001\",\"worker_code\":\"0010001\"},{\"post\":\"" +
                                   before + "\"},{\"post\":\"T1\"}");
  ASSERT_TRUE(post(*s, "click", "pb_approve").ok());
  EXPECT_EQ(message(*s), "提示|该申报已入库，不能重复入库！") << "before any question";
  ASSERT_TRUE(post(*s, "answer", "ok").ok());
  std::lock_guard lock(audit_mutex);
  EXPECT_EQ(audit.back(), "approve rs_w00031_com pkid=0000000001 unit=001: accepted");
}

TEST_P(DeclarationAncestorTest, AcceptanceIsTheAuthoritysAndFilingTheClerks) {
  auto clerk = start(Role::Clerk);
  new_declaration(*clerk);
  ASSERT_TRUE(post(*clerk, "click", "pb_approve").ok());
  EXPECT_EQ(message(*clerk), "提示|只有人事主管部门可以数据入库！") << "before any question";
  ASSERT_TRUE(post(*clerk, "answer", "ok").ok());
  EXPECT_EQ(query("select count(*) from rs_sb_approval"), "0");

  auto authority = start(Role::Authority, "authority");
  ASSERT_TRUE(post(*authority, "select", "dw_1", 1).ok());
  for (const char* button : {"pb_16", "pb_5", "pb_d"}) {
    SCOPED_TRACE(button);
    ASSERT_TRUE(post(*authority, "click", button).ok());
    EXPECT_EQ(message(*authority), "提示|人事主管部门不能修改单位申报！");
    ASSERT_TRUE(post(*authority, "answer", "ok").ok());
  }
  const EventResult typed = post(*authority, "type", "dw_3", 1, "sbr", "x");
  ASSERT_TRUE(typed.refusal) << "the authority's forms are read-only";
  EXPECT_EQ(query("select count(*) from rs_w00031_com"), "1");
}

TEST_P(DeclarationAncestorTest, AQuestionBeingReadHoldsNoOtherSessionBack) {
  auto reading = start(Role::Both, "clerk001");
  auto saving = start(Role::Both, "clerk001b");
  new_declaration(*reading);
  ASSERT_TRUE(post(*reading, "type", "dw_3", 1, "sbr", "张三").ok());
  ASSERT_TRUE(post(*reading, "click", "pb_16").ok());
  ASSERT_EQ(message(*reading), "提示|申报数据已修改，是否保存？");
  // While the first clerk reads the question, the second saves a declaration of his own; a
  // transaction held across the question would make him wait (SQLite) or fail.
  auto saved = std::async(std::launch::async, [&] {
    post(*saving, "click", "pb_16");
    post(*saving, "click", "pb_5");
    return message(*saving);
  });
  ASSERT_EQ(saved.wait_for(std::chrono::seconds(4)), std::future_status::ready) << "the save waited on the question";
  EXPECT_EQ(saved.get(), "");
  EXPECT_EQ(query("select count(*) from rs_w00031_com"), "2");
  ASSERT_TRUE(post(*reading, "answer", "yes").ok());
  EXPECT_EQ(query("select sbr from rs_w00031_com where pkid = '0000000001'"), "张三");
}

// Two sessions with one declaration open: the second save of the same field finds the row
// changed, writes nothing, says so and keeps its entries; after reopening it saves.
TEST_P(DeclarationAncestorTest, ASaveNeverOverwritesAnotherSessionsSave) {
  auto a = start();
  new_declaration(*a);
  add_worker(*a, "0010004", "原来的");
  auto b = start();
  for (Session* s : {a.get(), b.get()}) {
    ASSERT_TRUE(post(*s, "select", "dw_1", 1).ok());
    ASSERT_TRUE(post(*s, "select", "dw_2", 4).ok());
    ASSERT_EQ(value(*s, "dw_4", 1, "bz"), "原来的");
  }
  ASSERT_TRUE(post(*a, "type", "dw_3", 1, "sbr", "甲").ok());
  ASSERT_TRUE(post(*b, "type", "dw_3", 1, "sbr", "乙").ok());
  ASSERT_TRUE(post(*a, "click", "pb_5").ok());
  EXPECT_EQ(message(*a), "");
  ASSERT_TRUE(post(*b, "click", "pb_5").ok());
  EXPECT_EQ(message(*b), "提示|数据已被他人修改，请重新打开后再保存！");
  ASSERT_TRUE(post(*b, "answer", "ok").ok());
  EXPECT_EQ(value(*b, "dw_3", 1, "sbr"), "乙") << "the entries stay on screen";
  EXPECT_EQ(query("select sbr from rs_w00031_com"), "甲");

  ASSERT_TRUE(post(*a, "type", "dw_4", 1, "bz", "甲改的").ok());
  ASSERT_TRUE(post(*b, "type", "dw_4", 1, "bz", "乙改的").ok());
  ASSERT_TRUE(post(*a, "click", "pb_2").ok());
  EXPECT_EQ(message(*a), "");
  ASSERT_TRUE(post(*b, "click", "pb_2").ok());
  EXPECT_EQ(message(*b), "提示|数据已被他人修改，请重新打开后再保存！");
  ASSERT_TRUE(post(*b, "answer", "ok").ok());
  EXPECT_EQ(value(*b, "dw_4", 1, "bz"), "乙改的");
  EXPECT_EQ(query("select bz from rs_w00031"), "甲改的");
}

INSTANTIATE_TEST_SUITE_P(Databases, DeclarationAncestorTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
