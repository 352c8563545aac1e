// Personnel plans: eight sessions adding persons of one unit at once never give a number twice,
// and two acceptances of the unit's plans at once never give two new persons one register
// number.
#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <thread>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "tests/unit/test_database.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

class PersonnelPlanConcurrencyTest : public ApplicationDatabaseTest {
 protected:
  std::unique_ptr<Session> start_session(const std::string& username) {
    return ApplicationDatabaseTest::start_session(username, Role::Both);
  }

  // Posts an event and fails the test when it is refused.
  static void post(Session& session, Event event) {
    const EventResult result = session.post(event);
    EXPECT_TRUE(result.ok()) << event.kind << " " << event.target << ": " << result.error();
  }

  std::vector<std::string> register_codes() {
    std::vector<std::string> codes;
    db.sqlca().query("select worker_code from rs_main where company_num = '001' and worker_code like '9%' order by worker_code",
                     {}, [&](const ResultRow& row) {
                       codes.push_back(row.get(0).to_string());
                       return true;
                     });
    db.sqlca().commit();
    return codes;
  }
};

TEST_P(PersonnelPlanConcurrencyTest, ClerksAddingPersonsAtOnceNeverShareANumber) {
  constexpr int kSessions = 8;
  constexpr int kPersonsEach = 4;
  std::vector<std::unique_ptr<Session>> sessions;
  for (int s = 0; s < kSessions; ++s) sessions.push_back(start_session("clerk_" + std::to_string(s)));
  for (auto& session : sessions) {
    // Each clerk files a plan of his own for the same unit.
    post(*session, {"open", "w_vorant_rsjh"});
    post(*session, {"click", "pb_16"});
    post(*session, {"type", "dw_3", 1, "state", "1"});  // submitted
    post(*session, {"click", "pb_5"});
  }
  std::latch start(kSessions);
  std::vector<std::thread> clerks;
  for (int s = 0; s < kSessions; ++s) {
    clerks.emplace_back([&, s] {
      Session& session = *sessions[s];
      start.arrive_and_wait();
      for (int p = 0; p < kPersonsEach; ++p) {
        post(session, {"click", "pb_6"});
        post(session, {"type", "dw_4", 1, "worker_name", "人" + std::to_string(s) + "_" + std::to_string(p)});
        post(session, {"type", "dw_4", 1, "sex", "1"});
        post(session, {"type", "dw_4", 1, "birthday", "1980-01-01"});
        post(session, {"click", "pb_2"});
        EXPECT_EQ(session.state_text().find("database is locked"), std::string::npos);
      }
    });
  }
  for (auto& clerk : clerks) clerk.join();
  for (auto& session : sessions) EXPECT_EQ(session->state_text().find("保存失败"), std::string::npos);
  std::vector<Value> count;
  ASSERT_EQ(db.sqlca().select_into("select count(*), count(distinct worker_code), min(worker_code), max(worker_code) "
                                   "from rs_w00034 where company_num = '001'",
                                   {}, count),
            0);
  db.sqlca().commit();
  EXPECT_EQ(count, (std::vector<Value>{kSessions * kPersonsEach, kSessions * kPersonsEach, Value("9000001"),
                                       Value("9000032")}));
}

TEST_P(PersonnelPlanConcurrencyTest, AcceptancesAtOnceNeverShareARegisterNumber) {
  constexpr int kPersonsEach = 150;
  // Two plans of unit 001, filed earlier.
  std::string script;
  for (int plan = 1; plan <= 2; ++plan) {
    const std::string id = "000000000" + std::to_string(plan);
    script += "insert into rs_w00034_com (pkid, company_num, state, sb_date) values ('" + id + "', '001', 1, '2009-06-0" +
              std::to_string(plan) + " 00:00:00');\n";
    for (int p = 0; p < kPersonsEach; ++p) {
      const std::string code = std::to_string(9000000 + plan * 1000 + p);
      script += "insert into rs_w00034 (pkid, company_num, worker_code, worker_name, sex, birthday) values ('" + id +
                "', '001', '" + code + "', 'p" + code + "', '1', '1980-01-01 00:00:00');\n";
    }
  }
  db.run(script);

  std::unique_ptr<Session> sessions[2] = {start_session("authority_a"), start_session("authority_b")};
  for (int s = 0; s < 2; ++s) {
    post(*sessions[s], {"open", "w_vorant_rsjh"});
    post(*sessions[s], {"select", "dw_1", s + 1});
    post(*sessions[s], {"click", "pb_approve"});  // the question waits
  }
  std::latch start(2);
  std::vector<std::thread> authorities;
  int attempts[2] = {0, 0};
  for (int s = 0; s < 2; ++s) {
    authorities.emplace_back([&, s] {
      Session& session = *sessions[s];
      start.arrive_and_wait();
      post(session, {"answer", "yes"});
      // One may fail cleanly while the other holds the unit; it is accepted again then.
      while (++attempts[s] < 5 && session.state_text().find("数据入库成功！") == std::string::npos) {
        post(session, {"answer", "ok"});
        post(session, {"click", "pb_approve"});
        post(session, {"answer", "yes"});
      }
      EXPECT_NE(session.state_text().find("数据入库成功！"), std::string::npos) << session.state_text();
      post(session, {"answer", "ok"});
    });
  }
  for (auto& authority : authorities) authority.join();

  const std::vector<std::string> codes = register_codes();
  ASSERT_EQ(codes.size(), static_cast<size_t>(2 * kPersonsEach));
  EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()).size(), codes.size());
  EXPECT_EQ(codes.front(), "9000001");
  EXPECT_EQ(codes.back(), "9000300");
}

INSTANTIATE_TEST_SUITE_P(Databases, PersonnelPlanConcurrencyTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), backend_name);

}  // namespace
}  // namespace shenbao::testing
