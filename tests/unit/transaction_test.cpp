#include "framework/runtime/sql/transaction.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

class TransactionTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    db.run(
        "create table person (code varchar(10) primary key, name varchar(20), age integer, "
        "score double precision, born timestamp);\n"
        "insert into person values ('001', '张三', 40, 1.5, '1969-03-01 00:00:00');\n"
        "insert into person values ('002', '李四', null, null, null);\n");
  }
  TestDatabase db{GetParam()};
};

TEST_P(TransactionTest, SelectIntoAnswersRowNoRowOrError) {
  static const struct {
    const char* name;
    const char* sql;
    std::vector<Value> params;
    long sqlcode;
    std::vector<Value> into;  // what `into` holds afterwards
  } cases[] = {
      {"found", "select name, age, score, born from person where code = :code", {"001"}, 0,
       {"张三", 40, 1.5, DateTime::from_civil(1969, 3, 1)}},
      {"nulls", "select name, age, score, born from person where code = :code", {"002"}, 0,
       {"李四", Value(), Value(), Value()}},
      {"no row leaves into alone", "select name from person where code = :code", {"999"}, 100, {"untouched"}},
      {"same name bound once", "select name from person where code = :c and (code = :c or name = :n)",
       {"001", "x"}, 0, {"张三"}},
      {"colon inside quotes is text", "select name from person where code = :c and name <> ':n'", {"002"}, 0,
       {"李四"}},
      {"error", "select nosuchcolumn from person", {}, -1, {"untouched"}},
      {"too few values", "select name from person where code = :code", {}, -1, {"untouched"}},
  };
  for (const auto& c : cases) {
    std::vector<Value> into{"untouched"};
    EXPECT_EQ(db.sqlca().select_into(c.sql, c.params, into), c.sqlcode) << c.name << ": " << db.sqlca().sqlerrtext;
    EXPECT_EQ(into, c.into) << c.name;
    if (c.sqlcode < 0) {
      EXPECT_FALSE(db.sqlca().sqlerrtext.empty()) << c.name;
      if (std::string(c.name) == "error") {
        EXPECT_NE(db.sqlca().sqldbcode, 0) << c.name;
      }
    }
  }
}

// A text with a NUL is refused whole on both databases' terms: never cut at the NUL, so
// "001\0x" never finds row 001.
TEST_P(TransactionTest, ATextWithANulIsNeverCutShort) {
  const Value code(std::string("001\0x", 5));
  std::vector<Value> into{"untouched"};
  EXPECT_NE(db.sqlca().select_into("select name from person where code = :c", {code}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{"untouched"});
  db.sqlca().rollback();
  EXPECT_NE(db.sqlca().execute("update person set name = 'x' where code = :c", {code}), 1);
  db.sqlca().rollback();
  into = {"untouched"};
  EXPECT_EQ(db.sqlca().select_into("select name from person where code = '001'", {}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{"张三"});
}

TEST_P(TransactionTest, ExecuteCountsRowsAndAnswersNoRowForUntouchedUpdates) {
  static const struct {
    const char* name;
    const char* sql;
    std::vector<Value> params;
    long sqlcode;
    long rows;
  } cases[] = {
      {"insert", "insert into person (code, name) values (:c, :n)", {"003", "王五"}, 0, 1},
      {"update all", "update person set age = :a", {30}, 0, 3},
      {"update none", "update person set age = 1 where code = :c", {"999"}, 100, 0},
      {"delete none", "delete from person where code = :c", {"999"}, 100, 0},
      {"duplicate key", "insert into person (code) values (:c)", {"001"}, -1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(db.sqlca().execute(c.sql, c.params), c.sqlcode) << c.name << ": " << db.sqlca().sqlerrtext;
    EXPECT_EQ(db.sqlca().sqlnrows, c.rows) << c.name;
  }
}

TEST_P(TransactionTest, FailedStatementUndoesOnlyItselfAndRollbackUndoesTheRest) {
  auto other = db.connect_again();
  ASSERT_EQ(db.sqlca().execute("update person set age = 41 where code = '001'"), 0);
  ASSERT_EQ(db.sqlca().execute("insert into person (code) values ('001')"), -1);
  // The transaction goes on after the failure, on PostgreSQL as on SQLite.
  ASSERT_EQ(db.sqlca().execute("update person set age = 42 where code = '002'"), 0) << db.sqlca().sqlerrtext;
  std::vector<Value> into;
  ASSERT_EQ(db.sqlca().select_into("select age from person where code = '002'", {}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{42});
  // Others see nothing until commit.
  ASSERT_EQ(other->select_into("select age from person where code = '001'", {}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{40});
  ASSERT_EQ(db.sqlca().rollback(), 0);
  ASSERT_EQ(db.sqlca().select_into("select age from person where code = '001'", {}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{40});

  ASSERT_EQ(db.sqlca().execute("update person set age = 43 where code = '001'"), 0);
  // Describing a malformed query (as building a form from SQL does) is a failed statement too.
  std::vector<ResultColumn> columns;
  ASSERT_EQ(db.sqlca().describe("select nothing from nowhere", columns), -1);
  ASSERT_EQ(db.sqlca().commit(), 0);
  ASSERT_EQ(other->select_into("select age from person where code = '001'", {}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{43});
}

TEST_P(TransactionTest, AtomicallyUndoesEverythingOnFailure) {
  const bool ok = db.sqlca().atomically([&] {
    db.sqlca().execute("update person set age = 1");
    return db.sqlca().execute("insert into person (code) values ('001')") == 0;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(db.sqlca().sqlcode, -1) << "the failure's status is kept for the caller";
  std::vector<Value> into;
  ASSERT_EQ(db.sqlca().select_into("select count(*) from person where age = 1", {}, into), 0);
  EXPECT_EQ(into, std::vector<Value>{0});
}

TEST_P(TransactionTest, QueryReadsTypedCellsAndDescribeGivesColumnTypes) {
  std::vector<std::string> seen;
  const ColumnType as_text{TypeKind::Char, 20};
  ASSERT_EQ(db.sqlca().query("select code, age from person order by code", {},
                             [&](const ResultRow& row) {
                               seen.push_back(row.get(0, &as_text).to_string() + "/" + row.get(1).to_string());
                               return true;
                             }),
            0);
  EXPECT_EQ(seen, (std::vector<std::string>{"001/40", "002/null"}));
  EXPECT_EQ(db.sqlca().sqlnrows, 2);

  std::vector<ResultColumn> columns;
  ASSERT_EQ(db.sqlca().describe("select code, name, age, score, born from person where code = :c", columns), 0)
      << db.sqlca().sqlerrtext;
  std::vector<std::string> types;
  for (const auto& c : columns) types.push_back(c.name + ":" + c.type.to_string());
  EXPECT_EQ(types, (std::vector<std::string>{"code:char(10)", "name:char(20)", "age:long", "score:number",
                                             "born:datetime"}));
}

TEST_P(TransactionTest, ScriptsSpellGeneratedKeysForTheirDatabase) {
  db.run("create table note (pk_id @IDENTITY@, body varchar(10));\ninsert into note (body) values ('a');\n"
         "insert into note (body) values ('b');\n");
  std::vector<Value> into;
  ASSERT_EQ(db.sqlca().select_into("select max(pk_id), count(*) from note", {}, into), 0);
  EXPECT_EQ(into, (std::vector<Value>{2, 2}));
}

INSTANTIATE_TEST_SUITE_P(Databases, TransactionTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

// A protected table is written only while a permit is held: any other write to it rolls the
// whole transaction back and throws, reads and other tables are untouched by the rule.
TEST_P(TransactionTest, ProtectedTablesAreWrittenOnlyUnderAPermit) {
  Transaction& sqlca = db.sqlca();
  sqlca.protect_tables([](std::string_view table) { return table == "person"; });
  ASSERT_EQ(sqlca.execute("create table note (text varchar(20))"), 0) << sqlca.sqlerrtext;
  ASSERT_EQ(sqlca.execute("insert into note values ('pending')"), 0);
  for (const char* write : {"update person set age = 41 where code = '001'", "delete from person",
                            "insert into person (code) values ('003')", "UPDATE \"PERSON\" set age = 1"}) {
    EXPECT_THROW(sqlca.execute(write), std::logic_error) << write;
    EXPECT_FALSE(sqlca.in_transaction()) << write << ": the pending writes are rolled back";
  }
  std::vector<Value> row;
  EXPECT_EQ(sqlca.select_into("select age from person where code = '001'", {}, row), 0);
  EXPECT_EQ(row, std::vector<Value>{Value(40)});
  {
    Transaction::WritePermit permit(sqlca);
    EXPECT_EQ(sqlca.execute("update person set age = 41 where code = '001'"), 0) << sqlca.sqlerrtext;
  }
  EXPECT_EQ(sqlca.commit(), 0);
  EXPECT_EQ(sqlca.select_into("select age from person where code = '001'", {}, row), 0);
  EXPECT_EQ(row, std::vector<Value>{Value(41)});
}

TEST(WrittenTable, NamesTheTableAStatementWrites) {
  static const struct {
    const char* sql;
    const char* table;
  } cases[] = {
      {"insert into rs_w00031 (pkid) values (:id)", "rs_w00031"},
      {"  INSERT INTO Rs_W00031_com select * from x", "rs_w00031_com"},
      {"update rs_main as a set post = b.ndzw from rs_w00031 as b", "rs_main"},
      {"update only public.rs_px_type set xf = 1", "rs_px_type"},
      {"delete from \"rs_w00028\" where pkid = :id", "rs_w00028"},
      {"select * from rs_w00031", ""},
      {"create table rs_w00099 (x integer)", ""},
      {"insert rs_w00031 values (1)", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(written_table(c.sql), c.table) << c.sql;
}

TEST(TransactionOpen, ReportsABadUrl) {
  std::string error;
  EXPECT_EQ(Transaction::open("postgresql://nobody@127.0.0.1:1/none", error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Transaction::open("sqlite:/nonexistent-folder/x.db", error), nullptr);
}

// A commit that makes SQLite's log pass its size is copied back into the database file by the
// process's checkpointer, not by the committing connection; also for a file deleted and made
// again under the same name, as the tests and benchmarks here do.
TEST(SqliteLog, ALargeCommitReachesTheDatabaseFile) {
  const std::string path = "/tmp/shenbao_log_test_" + std::to_string(getpid()) + ".db";
  const auto remove_files = [&] {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  };
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    remove_files();
    std::string error;
    auto sqlca = Transaction::open(path, error);
    ASSERT_TRUE(sqlca) << error;
    ASSERT_GE(sqlca->execute("create table t (x text)"), 0);
    // About 2,000 pages of 4 KB.
    ASSERT_GE(sqlca->execute("with recursive n(i) as (select 1 union all select i + 1 from n where i < 2000) "
                             "insert into t select printf('%.4000c', 'x') from n"),
              0)
        << sqlca->sqlerrtext;
    ASSERT_EQ(sqlca->commit(), 0) << sqlca->sqlerrtext;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::filesystem::file_size(path) < 2000 * 4096 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(std::filesystem::file_size(path), 2000u * 4096) << "the log was not checkpointed";
  }
  remove_files();
}

}  // namespace
}  // namespace shenbao::testing
