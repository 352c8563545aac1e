// Every category's unit and worker forms declare the columns all declarations share, with the
// types the schema gives them, and update the tables their descriptor names: a form that
// drifted from its table would store text cut short or refuse a key only when a clerk saves.

#include <gtest/gtest.h>

#include <string>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/runtime/forms/data_store.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

struct SharedColumn {
  const char* name;
  const char* type;
};

constexpr SharedColumn kUnitColumns[] = {
    {"createdate", "datetime"}, {"createby", "char(20)"},     {"lastupdate", "datetime"},
    {"lastupdateby", "char(20)"}, {"pkid", "char(10)"},       {"company_num", "char(20)"},
    {"state", "long"},          {"company_name", "char(50)"}, {"sb_date", "datetime"},
    {"sbr", "char(10)"},        {"phone", "char(20)"},        {"mail", "char(50)"},
    {"sbsm", "char(32766)"},    {"tel", "char(50)"},          {"sbid", "char(50)"},
};

constexpr SharedColumn kWorkerColumns[] = {
    {"createdate", "datetime"}, {"createby", "char(20)"},    {"lastupdate", "datetime"},
    {"lastupdateby", "char(20)"}, {"pkid", "char(10)"},      {"company_num", "char(20)"},
    {"worker_code", "char(20)"}, {"state", "long"},          {"worker_name", "char(20)"},
    {"sex", "char(10)"},        {"card_no", "char(40)"},
};

// Candidate units stand in a unit's name for the person's name and sex.
bool is_person_column(std::string_view column) { return column == "worker_name" || column == "sex"; }

class CategoryFormsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), false, "", error)) << error;
  }

  // The column's type as the database describes it.
  std::string schema_type(const std::string& table, const std::string& column) {
    std::vector<ResultColumn> described;
    if (db.sqlca().describe("select " + column + " from " + table, described) != 0 || described.size() != 1)
      return "missing: " + db.sqlca().sqlerrtext;
    return described[0].type.to_string();
  }

  void check(const std::string& form, const std::string& table, const SharedColumn* columns, size_t count) {
    DataStore store;
    ASSERT_EQ(store.set_dataobject(form), 1) << store.last_error();
    EXPECT_EQ(store.def().update_table, table) << form << " updates its category's table";
    for (size_t i = 0; i < count; ++i) {
      const SharedColumn& c = columns[i];
      if (table == "rs_w00047" && is_person_column(c.name)) continue;
      SCOPED_TRACE(form + "." + c.name);
      const int index = store.def().column_index(c.name);
      ASSERT_GE(index, 0) << "the shared column is missing";
      EXPECT_EQ(store.def().columns[static_cast<size_t>(index)].type.to_string(), c.type);
      EXPECT_EQ(schema_type(table, c.name), c.type);
    }
  }

  TestDatabase db{GetParam()};
};

TEST_P(CategoryFormsTest, UnitAndWorkerFormsHoldTheSharedColumns) {
  const auto categories = category_descriptors();
  ASSERT_FALSE(categories.empty());
  for (const CategoryDescriptor* category : categories) {
    SCOPED_TRACE(category->class_name);
    check(category->unit_form, category->unit_table, kUnitColumns, std::size(kUnitColumns));
    check(category->worker_form, category->worker_table, kWorkerColumns, std::size(kWorkerColumns));
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, CategoryFormsTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
