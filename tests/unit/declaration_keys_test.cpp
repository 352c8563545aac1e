// Declaration ids and person numbers stay unique when eight sessions save new declarations or
// add persons at the same moment.
#include <gtest/gtest.h>

#include <latch>

#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/declaration/declaration_record.h"
#include "framework/host/host_session.h"
#include "tests/unit/test_database.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

class DeclarationKeysTest : public ApplicationDatabaseTest {
 protected:
  std::unique_ptr<Session> start_session(const std::string& username) {
    return ApplicationDatabaseTest::start_session(username, Role::Clerk);
  }
};

TEST_P(DeclarationKeysTest, SessionsSavingAtOnceNeverShareAnId) {
  constexpr int kSessions = 8;
  constexpr int kDeclarationsEach = 6;
  std::vector<std::unique_ptr<Session>> sessions;
  for (int s = 0; s < kSessions; ++s) {
    sessions.push_back(start_session("clerk" + std::to_string(s)));
    ASSERT_TRUE(sessions.back()->post({"open", "w_vorant_zw"}).ok());
  }
  std::vector<std::thread> clerks;
  std::vector<std::vector<std::string>> ids(kSessions);
  std::latch start(kSessions);
  for (int s = 0; s < kSessions; ++s) {
    clerks.emplace_back([&, s] {
      start.arrive_and_wait();
      for (int d = 0; d < kDeclarationsEach; ++d) {
        sessions[s]->post({"click", "pb_16"});
        const EventResult saved = sessions[s]->post({"click", "pb_5"});
        EXPECT_TRUE(saved.ok()) << saved.error();
        EXPECT_EQ(sessions[s]->state_text().find("database is locked"), std::string::npos) << "session " << s;
        const EventResult pkid = sessions[s]->post({"var", "pkid"});
        ids[s].push_back(pkid.result ? pkid.result->to_string() : "");
      }
    });
  }
  for (auto& clerk : clerks) clerk.join();

  std::set<std::string> distinct;
  for (int s = 0; s < kSessions; ++s) {
    for (const auto& id : ids[s]) {
      EXPECT_EQ(id.size(), 10u) << "session " << s << " saved without an id: " << sessions[s]->state_text();
      distinct.insert(id);
    }
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kSessions * kDeclarationsEach));
  std::vector<Value> count;
  ASSERT_EQ(db.sqlca().select_into("select count(*), count(distinct pkid) from rs_w00031_com", {}, count), 0);
  EXPECT_EQ(count, (std::vector<Value>{kSessions * kDeclarationsEach, kSessions * kDeclarationsEach}));
}

TEST_P(DeclarationKeysTest, KindsSharingAWorkerTableNeverShareAnId) {
  // The three reward kinds keep their workers in rs_w00033, told apart by pkid alone.
  const auto kind = [](const char* unit_table) {
    CategoryDescriptor d{.class_name = "w_kind", .caption = "", .unit_table = unit_table, .worker_table = "rs_w00033"};
    for (const char* other : {"rs_w00041_com", "rs_w00042_com", "rs_w00033_com"})
      if (std::string_view(other) != unit_table) d.unit_tables_sharing_workers.push_back(other);
    return d;
  };
  const CategoryDescriptor reward = kind("rs_w00041_com"), szf = kind("rs_w00042_com"), gwy = kind("rs_w00033_com");
  std::set<std::string> ids;
  for (const CategoryDescriptor* category : {&reward, &szf, &gwy, &reward}) {
    const std::string id = next_declaration_id(db.sqlca(), *category);
    const char* unit_table = category->unit_table;
    EXPECT_EQ(id.size(), 10u) << unit_table << ": " << db.sqlca().sqlerrtext;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 4u);
  // A number already holding workers (stored by other means) is skipped.
  ASSERT_EQ(db.sqlca().execute("insert into rs_w00033 (pkid, company_num, worker_code) values ('0000000005', '001', '0010001')"), 0)
      << db.sqlca().sqlerrtext;
  EXPECT_EQ(next_declaration_id(db.sqlca(), szf), "0000000006");
  // So is one another kind already holds without workers (numbered before the kinds shared).
  ASSERT_EQ(db.sqlca().execute("insert into rs_w00041_com (pkid, company_num) values ('0000000007', '001')"), 0)
      << db.sqlca().sqlerrtext;
  EXPECT_EQ(next_declaration_id(db.sqlca(), szf), "0000000008");
  db.sqlca().commit();
}

// Candidates are numbered again when stored, inside the storing transaction with the
// table's counter row locked: eight clerks of one unit adding candidate persons (or units) at
// the same moment, each shown the same next number, never store two under one number.
TEST_P(DeclarationKeysTest, SessionsAddingCandidatesAtOnceNeverShareANumber) {
  constexpr int kSessions = 8;
  constexpr int kCandidatesEach = 4;
  struct CandidateWindow {
    const char* name;
    const char* table;
    const char* name_column;
    const char* save;
    bool says_saved;  // the save answers with a message to acknowledge
  };
  for (const CandidateWindow& w : {CandidateWindow{"w_sb_jlry", "rs_w00046", "worker_name", "pb_2", false},
                          CandidateWindow{"w_sb_sjjt", "rs_w00047", "hx_company", "pb_22", true}}) {
    SCOPED_TRACE(w.name);
    std::vector<std::unique_ptr<Session>> sessions;
    for (int s = 0; s < kSessions; ++s) {
      sessions.push_back(start_session("clerk" + std::to_string(s)));
      ASSERT_TRUE(sessions.back()->post({"open", w.name}).ok());
      sessions.back()->post({"click", "pb_16"});
      sessions.back()->post({"click", "pb_5"});
    }
    std::vector<std::thread> clerks;
    std::vector<int> stored(kSessions, 0);
    std::latch start(kSessions);
    for (int s = 0; s < kSessions; ++s) {
      clerks.emplace_back([&, s] {
        Session& session = *sessions[s];
        start.arrive_and_wait();
        for (int c = 0; c < kCandidatesEach; ++c) {
          session.post({"click", "pb_n"});
          session.post(Event{.kind = "type", .target = "dw_4", .row = 1, .column = w.name_column,
                             .text = "候选" + std::to_string(s) + "-" + std::to_string(c)});
          const EventResult saved = session.post({"click", w.save});
          const EventResult answered = w.says_saved ? session.post({"answer", "ok"}) : saved;
          stored[s] += saved.ok() && answered.ok() && session.state_text().find("失败") == std::string::npos;
        }
      });
    }
    for (auto& clerk : clerks) clerk.join();

    for (int s = 0; s < kSessions; ++s)
      EXPECT_EQ(stored[s], kCandidatesEach) << "session " << s << ": " << sessions[s]->state_text();
    std::vector<Value> count;
    ASSERT_EQ(db.sqlca().select_into("select count(*), count(distinct worker_code), min(worker_code), max(worker_code) "
                                     "from " + std::string(w.table) + " where company_num = '001'",
                                     {}, count),
              0);
    db.sqlca().commit();
    EXPECT_EQ(count, (std::vector<Value>{kSessions * kCandidatesEach, kSessions * kCandidatesEach, Value("9000001"),
                                         Value("9000032")}));
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, DeclarationKeysTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

TEST(PersonNumbers, FollowTheHighestCode) {
  static const struct {
    Value highest;
    long sequence;
  } cases[] = {
      {Value(), 1},        {Value("   "), 1},       {Value("9000123"), 124},
      {Value(" 9000041 "), 42}, {Value("9999999"), 1000000}, {Value("0010013"), 10014},
  };
  for (const auto& c : cases) EXPECT_EQ(next_person_sequence(c.highest), c.sequence) << c.highest.to_string();
}

}  // namespace
}  // namespace shenbao::testing
