// Declaration ids stay unique when several sessions save new declarations at the same moment.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_functions.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

class DeclarationKeysTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
    register_windows(registry);
  }

  std::unique_ptr<Session> start_session(const std::string& username) {
    std::string error;
    Session::Options options;
    options.database_url = db.url();
    options.user = {username, "001", false};
    options.registry = &registry;
    options.print_folder = "/tmp";
    options.today = DateTime::from_civil(2009, 6, 15);
    auto session = Session::start(options, error);
    EXPECT_TRUE(session) << error;
    return session;
  }

  TestDatabase db{GetParam()};
  WindowRegistry registry;
};

TEST_P(DeclarationKeysTest, SessionsSavingAtOnceNeverShareAnId) {
  constexpr int kSessions = 4;
  constexpr int kDeclarationsEach = 8;
  std::vector<std::unique_ptr<Session>> sessions;
  for (int s = 0; s < kSessions; ++s) {
    sessions.push_back(start_session("clerk" + std::to_string(s)));
    ASSERT_TRUE(sessions.back()->post({"open", "w_vorant_zw"}).ok);
  }
  std::vector<std::thread> clerks;
  std::vector<std::vector<std::string>> ids(kSessions);
  for (int s = 0; s < kSessions; ++s) {
    clerks.emplace_back([&, s] {
      for (int d = 0; d < kDeclarationsEach; ++d) {
        sessions[s]->post({"click", "pb_16"});
        sessions[s]->post({"click", "pb_5"});
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
  std::set<std::string> ids;
  for (const char* unit_table : {"rs_w00041_com", "rs_w00042_com", "rs_w00033_com", "rs_w00041_com"}) {
    const std::string id = next_declaration_id(db.sqlca(), unit_table, "rs_w00033");
    EXPECT_EQ(id.size(), 10u) << unit_table << ": " << db.sqlca().sqlerrtext;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 4u);
  // A number already holding workers (stored by other means) is skipped.
  ASSERT_EQ(db.sqlca().execute("insert into rs_w00033 (pkid, company_num, worker_code) values ('0000000005', '001', '0010001')"), 0)
      << db.sqlca().sqlerrtext;
  EXPECT_EQ(next_declaration_id(db.sqlca(), "rs_w00042_com", "rs_w00033"), "0000000006");
  // So is one another kind already holds without workers (numbered before the kinds shared).
  ASSERT_EQ(db.sqlca().execute("insert into rs_w00041_com (pkid, company_num) values ('0000000007', '001')"), 0)
      << db.sqlca().sqlerrtext;
  EXPECT_EQ(next_declaration_id(db.sqlca(), "rs_w00042_com", "rs_w00033"), "0000000008");
  db.sqlca().commit();
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
