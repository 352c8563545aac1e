// What the authority's menu counts as waiting in each category: submitted declarations whose
// acceptance is not recorded for their own table; drafts, returned ones and accepted ones not.
#include <gtest/gtest.h>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/declaration/w_sb_inbox.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

class InboxCountsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
  }
  TestDatabase db{GetParam()};
};

TEST_P(InboxCountsTest, CountsTheSubmittedNotAcceptedOfEachCategory) {
  db.run(
      // Post and rank: two waiting, a draft, a returned one (a draft again), an accepted one.
      "insert into rs_w00031_com (pkid, company_num, state) values "
      "('0000000001', '001', 1), ('0000000002', '001', 1), ('0000000003', '001', 0), ('0000000004', '002', 0), "
      "('0000000005', '002', 1);\n"
      "insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) values "
      "('rs_w00031_com', '0000000005', '002', '2009-06-15 00:00:00', 'authority');\n"
      // Training: one waiting with no state recorded elsewhere, one without any state; the
      // acceptance of another table's declaration of the same key does not hide it.
      "insert into rs_w00028_com (pkid, company_num, state) values ('0000000001', '002', 1), ('0000000002', '002', null);\n"
      "insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) values "
      "('rs_w00034_com', '0000000001', '002', '2009-06-15 00:00:00', 'authority');\n");
  const auto counts = w_sb_inbox::waiting_counts(db.sqlca(), category_descriptors());
  const std::vector<const CategoryDescriptor*> categories = category_descriptors();
  ASSERT_EQ(counts.size(), categories.size());
  for (const CategoryDescriptor* c : categories) {
    const long expected = std::string(c->class_name) == "w_vorant_zw" ? 2 : std::string(c->class_name) == "w_vorant_px" ? 1 : 0;
    EXPECT_EQ(counts.at(c->class_name), expected) << c->class_name;
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, InboxCountsTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
