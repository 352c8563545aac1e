// A save and an acceptance of the same declaration are ordered: a save that is under way when
// the acceptance commits is refused after it, and an acceptance that begins while a save is
// under way waits for it and accepts what it saved. Another connection stands in for the one
// side, holding the declaration's lock as that side's transaction does, while a session does
// the other.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <future>
#include <thread>

#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

using namespace std::chrono_literals;

// Long enough for the session's statement to reach the lock the other side holds.
constexpr auto kReachTheLock = 500ms;

class SaveAcceptanceRaceTest : public ApplicationDatabaseTest {
 protected:
  void SetUp() override {
    ApplicationDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A submitted post and rank declaration of unit 001 for worker 0010008.
    db.run("insert into rs_w00031_com (pkid, company_num, state, sb_date, sbr) "
           "values ('0000000001', '001', 1, '2009-06-10 00:00:00', '王小红');\n"
           "insert into rs_w00031 (pkid, company_num, worker_code, worker_name, state, ndzw, ndjb, bz, yrzsj) "
           "values ('0000000001', '001', '0010008', '黄海涛', 0, '0111', '11', '原说明', '2004-07-01 00:00:00');\n");
  }

  // Opens the declaration in the post and rank window, as the user of `session` does.
  void open_declaration(Session& session, bool choose_unit) {
    post(session, {"open", "w_vorant_zw"});
    if (choose_unit) {
      post(session, {.kind = "text", .target = "uo_1", .text = "001"});
      post(session, {"click", "pb_3"});
    }
    post(session, {.kind = "select", .target = "dw_1", .row = 1});
  }

  // The other side's transaction: the declaration's lock as a save or an acceptance takes it.
  std::unique_ptr<Transaction> hold_the_declaration() {
    auto other = db.connect_again();
    EXPECT_TRUE(other->begin()) << other->sqlerrtext;
    if (other->dialect() == Dialect::PostgreSQL) {
      std::vector<Value> row;
      EXPECT_EQ(other->select_into("select pkid from rs_w00031_com where pkid = '0000000001' and company_num = '001' "
                                   "for update",
                                   {}, row),
                0)
          << other->sqlerrtext;
    }
    return other;
  }

  static void post(Session& session, Event event) {
    const EventResult result = session.post(event);
    ASSERT_TRUE(result.ok()) << event.kind << " " << event.target << ": " << result.error();
  }

  static std::string message_text(Session& session) {
    const nlohmann::json message = session.state()["message"];
    return message.is_null() ? std::string() : message["text"].get<std::string>();
  }

  std::vector<Value> query(const std::string& sql) {
    std::vector<Value> row;
    db.sqlca().select_into(sql, {}, row);
    db.sqlca().commit();
    return row;
  }

};

TEST_P(SaveAcceptanceRaceTest, ASaveUnderWayWhenTheAcceptanceCommitsIsRefused) {
  auto clerk = start_session("clerk001", Role::Clerk);
  open_declaration(*clerk, false);
  post(*clerk, {.kind = "select", .target = "dw_2", .row = 8});
  post(*clerk, {.kind = "type", .target = "dw_4", .row = 1, .column = "bz", .text = "改过的说明"});

  auto acceptance = hold_the_declaration();
  auto save = std::async(std::launch::async, [&] { return clerk->post({"click", "pb_2"}); });
  std::this_thread::sleep_for(kReachTheLock);
  ASSERT_EQ(acceptance->execute("insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) "
                                "values ('rs_w00031_com', '0000000001', '001', '2009-06-15 10:00:00', 'authority')"),
            0)
      << acceptance->sqlerrtext;
  ASSERT_EQ(acceptance->commit(), 0) << acceptance->sqlerrtext;

  EXPECT_TRUE(save.get().ok());
  EXPECT_EQ(message_text(*clerk), "该申报已入库，不能修改！");
  EXPECT_EQ(query("select bz from rs_w00031 where worker_code = '0010008'"), std::vector<Value>{Value("原说明")});
}

TEST_P(SaveAcceptanceRaceTest, AnAcceptanceWaitsForASaveUnderWayAndAcceptsWhatItSaved) {
  auto authority = start_session("authority", Role::Authority);
  open_declaration(*authority, true);
  post(*authority, {"click", "pb_approve"});
  ASSERT_EQ(message_text(*authority), "确定要将本次申报数据入库吗？");

  auto save = hold_the_declaration();
  ASSERT_EQ(save->execute("update rs_w00031 set ndzw = '0112' where pkid = '0000000001' and worker_code = '0010008'"), 0)
      << save->sqlerrtext;
  auto accepted = std::async(std::launch::async, [&] { return authority->post({"answer", "yes"}); });
  std::this_thread::sleep_for(kReachTheLock);
  ASSERT_EQ(save->commit(), 0) << save->sqlerrtext;

  EXPECT_TRUE(accepted.get().ok());
  EXPECT_EQ(message_text(*authority), "数据入库成功！");
  EXPECT_EQ(query("select post from rs_main where company_num = '001' and worker_code = '0010008'"),
            std::vector<Value>{Value("0112")});
}

INSTANTIATE_TEST_SUITE_P(Databases, SaveAcceptanceRaceTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
