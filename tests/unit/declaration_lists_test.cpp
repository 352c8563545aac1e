// The read-only lists over further declaration tables: every worker row of one declaration,
// in table order, and nothing for a declaration without worker rows.
#include <gtest/gtest.h>

#include "app/database_setup.h"
#include "framework/runtime/forms/data_store.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

class DeclarationListsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
  }
  TestDatabase db{GetParam()};
};

TEST_P(DeclarationListsTest, ListTheWorkersOfOneDeclaration) {
  static const struct {
    const char* list;
    const char* table;
    size_t columns;
  } cases[] = {
      {"d_w00026_list", "rs_w00026", 23}, {"d_w00063_list", "rs_w00063", 54}, {"d_w00082_list", "rs_w00082", 31},
      {"d_w00092_list", "rs_w00092", 42}, {"d_w00096_list", "rs_w00096", 23},
  };
  for (const auto& c : cases) {
    DataStore list;
    ASSERT_EQ(list.set_dataobject(c.list), 1) << c.list << ": " << list.last_error();
    EXPECT_EQ(list.def().columns.size(), c.columns) << c.list;
    EXPECT_TRUE(list.def().update_table.empty()) << c.list << " is read-only";
    list.settransobject(&db.sqlca());
    EXPECT_EQ(list.retrieve({"P1", "001"}), 0) << c.list << ": " << list.last_error();

    const std::string insert = std::string("insert into ") + c.table +
                               " (pkid, company_num, worker_code, worker_name, state) values (:p, :c, :w, :n, 0)";
    for (const char* worker : {"0010002", "0010001"})
      ASSERT_EQ(db.sqlca().execute(insert, {"P1", "001", worker, "某人"}), 0) << db.sqlca().sqlerrtext;
    ASSERT_EQ(db.sqlca().execute(insert, {"P2", "001", "0010003", "别人"}), 0);
    ASSERT_EQ(db.sqlca().execute(insert, {"P1", "002", "0020001", "外人"}), 0);
    db.sqlca().commit();
    ASSERT_EQ(list.retrieve({"P1", "001"}), 2) << c.list << ": " << list.last_error();
    EXPECT_EQ(list.getitem(1, "worker_name"), Value("某人")) << c.list;
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, DeclarationListsTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
