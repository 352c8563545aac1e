// The clerk is warned, not refused, when a declaration he saves would take his unit past its
// approved posts: his status line names each limit. On both databases.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

class DeclarationLimitsTest : public ApplicationDatabaseTest {
 protected:
  void ok(Session& s, Event event) {
    const EventResult r = s.post(event);
    ASSERT_TRUE(r.ok()) << event.kind << " " << event.target << ": " << r.error();
  }
  std::string status(Session& s) { return s.state()["status"].get<std::string>(); }
};

TEST_P(DeclarationLimitsTest, TheClerksSaveSaysWhichApprovedPostsTheDeclarationWouldExceed) {
  SHENBAO_REQUIRE_DATABASE(db);
  auto s = start_session("clerk001", Role::Clerk);
  ASSERT_TRUE(s);
  ok(*s, {"open", "w_vorant_zw"});
  ok(*s, {"click", "pb_16"});
  // Unit 001 has one 县处级正职 (rank 9) and two 县处级副职 (rank 11) in service.
  ok(*s, {"type", "dw_3", 1, "zs_hd_xcz", "1"});
  ok(*s, {"type", "dw_3", 1, "zs_hd_xcf", "1"});
  ok(*s, {"click", "pb_5"});
  EXPECT_EQ(status(*s), "保存成功；本次入库后将超出核定职数或编制：县处级副职：核定1，入库后2");

  ok(*s, {"type", "dw_3", 1, "zs_hd_xcf", "2"});
  ok(*s, {"click", "pb_5"});
  EXPECT_EQ(status(*s), "保存成功") << "within its approved posts";

  // A worker proposed for rank 9: saved, with the warning.
  ok(*s, {"gesture", "add", 0, "", "", {"0010007"}});
  ok(*s, {"type", "dw_4", 1, "yrzsj", "2006-01-01"});
  ok(*s, {"type", "dw_4", 1, "ndzw", "0101"});
  ok(*s, {"type", "dw_4", 1, "ndjb", "9"});
  ok(*s, {"click", "pb_2"});
  EXPECT_EQ(status(*s), "保存成功；本次入库后将超出核定职数或编制：县处级正职：核定1，入库后2");
  std::vector<Value> saved;
  ASSERT_EQ(db.sqlca().select_into("select count(*) from rs_w00031 where worker_code = '0010007'", {}, saved), 0);
  EXPECT_EQ(saved[0].as_long(), 1) << "the worker is saved all the same";
}

INSTANTIATE_TEST_SUITE_P(Databases, DeclarationLimitsTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
