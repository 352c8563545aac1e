// The host's code-list and numbering functions, over the standard fixture.
#include "framework/host/host_functions.h"

#include <gtest/gtest.h>

#include "app/database_setup.h"
#include "framework/runtime/forms/data_store.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

class HostFunctionsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
    ASSERT_EQ(posts.set_dataobject("d_select_zhiwu"), 1) << posts.last_error();
    posts.settransobject(&db.sqlca());
    ASSERT_EQ(posts.retrieve({}), 14);
  }
  TestDatabase db{GetParam()};
  DataStore posts;
};

TEST_P(HostFunctionsTest, CodeListsNarrowAsTheUserTypesAndCheckWhatIsAccepted) {
  static const struct {
    const char* typed;
    long shown;  // rows left by of_filter_dddw
    int check;   // of_check_in_dddw of the same text
  } cases[] = {
      {"01", 14, -1},    // a code prefix narrows nothing away here, and is no code itself
      {"013", 2, -1},    // 0131 and 0132
      {"副局长", 2, -1}, // names match anywhere: 副局长 and 副局长（兼）
      {"0141", 1, 0},
      {"调研", 2, -1},
      {"9999", 0, -1},
      {"", 14, 0},  // typing nothing shows the whole list; an emptied cell is accepted
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(of_filter_dddw(&posts, c.typed, "zhiwu_code", "zhiwu_name"), 1);
    EXPECT_EQ(posts.rowcount(), c.shown);
    EXPECT_EQ(of_check_in_dddw(&posts, c.typed, "zhiwu_code"), c.check);
  }
  // A code narrowed out of sight is still a code of the list.
  of_filter_dddw(&posts, "0152", "zhiwu_code", "zhiwu_name");
  EXPECT_EQ(of_check_in_dddw(&posts, "0101", "zhiwu_code"), 0);
  EXPECT_EQ(of_filter_dddw(&posts, "01", "no_such_column", "zhiwu_name"), -1);
  EXPECT_EQ(of_check_in_dddw(&posts, "0101", "no_such_column"), -1);
}

TEST_P(HostFunctionsTest, UnitNumbersForNewPersonsFollowTheRegister) {
  static const struct {
    const char* stored;  // added to unit 001's register before asking; nullptr for nothing
    const char* next;
  } cases[] = {
      {nullptr, "9000001"},
      {"9000123", "9000124"},
      {"900ABCD", "9000124"},   // not a sequence: ignored
      {"90001234", "9000124"},  // eight characters: not a provisional number
      {"9999999", ""},          // the six digits are used up
  };
  // Another unit's numbers never count.
  ASSERT_EQ(db.sqlca().execute("insert into rs_main (company_num, worker_code, worker_name) values ('002', '9000500', 'x')"), 0)
      << db.sqlca().sqlerrtext;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "nothing");
    if (c.stored) {
      ASSERT_EQ(db.sqlca().execute("insert into rs_main (company_num, worker_code, worker_name) values ('001', :w, 'x')",
                                   {Value(c.stored)}),
                0)
          << db.sqlca().sqlerrtext;
    }
    EXPECT_EQ(uf_getworkercode(db.sqlca(), "001"), c.next);
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, HostFunctionsTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
