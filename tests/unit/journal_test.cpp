// The journal of row changes on its own, below any declaration: what a scope records, and that
// a write undone by the database leaves no journal row behind. On both databases.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "framework/runtime/sql/journal.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

class JournalTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    db.run(
        "create table sb_journal (pk_id @IDENTITY@, history_id bigint not null, target varchar(30) not null, "
        "action varchar(6) not null, row_key text not null, before_values text, after_values text, worker_code varchar(20));\n"
        "create table person (code varchar(10) not null, name varchar(20), age integer, primary key (code))");
    const auto journaled = [](std::string_view table) { return table != "sb_journal"; };
    ASSERT_TRUE(install_journal(db.sqlca(), journaled)) << db.sqlca().sqlerrtext;
    ASSERT_EQ(db.sqlca().commit(), 0);
    ASSERT_TRUE(attach_journal(db.sqlca(), journaled)) << db.sqlca().sqlerrtext;
  }

  // "action target key before after" per journal row of `history`, in order; values compared
  // as parsed JSON would be, so both databases' spellings agree.
  std::string journal(long long history) {
    std::string out;
    for (const JournalRow& row : journal_rows(db.sqlca(), history)) {
      const auto canonical = [](const std::string& text) {
        return text.empty() ? std::string("null") : nlohmann::json::parse(text).dump();
      };
      out += row.action + " " + row.target + " " + canonical(row.key) + " " + canonical(row.before) + " " +
             canonical(row.after) + "\n";
    }
    return out;
  }

  TestDatabase db{GetParam()};
};

TEST_P(JournalTest, RecordsEveryWriteOfTheScopeWithTheChangedColumnsOnly) {
  Transaction& sqlca = db.sqlca();
  ASSERT_TRUE(sqlca.begin());
  {
    JournalScope scope(sqlca, 7);
    ASSERT_TRUE(scope.ok());
    ASSERT_EQ(sqlca.execute("insert into person (code, name, age) values ('a', '甲', 30), ('b', 'say \"hi\"\n', null)"), 0);
    ASSERT_EQ(sqlca.execute("update person set age = 31 where code = 'a'"), 0);
    ASSERT_EQ(sqlca.execute("update person set name = name"), 0);  // changes nothing: not recorded
    ASSERT_EQ(sqlca.execute("delete from person where code = 'b'"), 0);
  }
  ASSERT_EQ(sqlca.execute("update person set age = 40"), 0);  // outside the scope
  ASSERT_EQ(sqlca.commit(), 0);
  EXPECT_EQ(journal(7),
            "insert person {\"code\":\"a\"} null {\"age\":30,\"code\":\"a\",\"name\":\"甲\"}\n"
            "insert person {\"code\":\"b\"} null {\"age\":null,\"code\":\"b\",\"name\":\"say \\\"hi\\\"\\n\"}\n"
            "update person {\"code\":\"a\"} {\"age\":30} {\"age\":31}\n"
            "delete person {\"code\":\"b\"} {\"age\":null,\"code\":\"b\",\"name\":\"say \\\"hi\\\"\\n\"} null\n");
}

TEST_P(JournalTest, AWriteTheDatabaseUndoesLeavesNoJournalRow) {
  Transaction& sqlca = db.sqlca();
  db.run("insert into person (code, name, age) values ('a', '甲', 30)");
  ASSERT_TRUE(sqlca.begin());
  {
    JournalScope scope(sqlca, 8);
    // The second row breaks the key: the statement is undone whole, the first row too.
    EXPECT_LT(sqlca.execute("insert into person (code, name) values ('c', '丙'), ('a', '重复')"), 0);
    // Work undone by its savepoint takes its journal rows with it.
    EXPECT_FALSE(sqlca.atomically([&] { return sqlca.execute("update person set age = 50") == 0 && false; }));
    ASSERT_EQ(sqlca.execute("update person set age = 32"), 0);
  }
  ASSERT_EQ(sqlca.commit(), 0);
  EXPECT_EQ(journal(8), "update person {\"code\":\"a\"} {\"age\":30} {\"age\":32}\n");
}

INSTANTIATE_TEST_SUITE_P(Databases, JournalTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), backend_name);

}  // namespace
}  // namespace shenbao::testing
