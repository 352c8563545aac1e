// Creating databases: the schema with the standard fixture, whole or not at all, and the
// generated demo data on top of it.

#include "app/database_setup.h"
#include "server/passwords.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "tests/unit/test_database.h"

namespace shenbao {
namespace {

using testing::Backend;
using testing::TestDatabase;

// Every row of a query, each as its cells' printed texts joined by "|".
std::vector<std::string> rows_of(Transaction& sqlca, const std::string& sql) {
  std::vector<std::string> rows;
  const long rc = sqlca.query(sql, {}, [&](const ResultRow& row) {
    std::string line;
    for (int c = 0; c < row.column_count(); ++c) line += (c ? "|" : "") + row.get(c).to_string();
    rows.push_back(line);
    return true;
  });
  EXPECT_EQ(rc, 0) << sql << ": " << sqlca.sqlerrtext;
  sqlca.rollback();
  return rows;
}

std::string single(Transaction& sqlca, const std::string& sql) {
  auto rows = rows_of(sqlca, sql);
  return rows.size() == 1 ? rows[0] : "(" + std::to_string(rows.size()) + " rows)";
}

bool has_tables(Transaction& sqlca) {
  bool has = false;
  std::string error;
  EXPECT_TRUE(database_has_tables(sqlca, has, error)) << error;
  return has;
}

class DatabaseSetup : public ::testing::TestWithParam<Backend> {};

TEST_P(DatabaseSetup, CreatesTheSchemaWithTheStandardFixture) {
  TestDatabase db(GetParam());
  SHENBAO_REQUIRE_DATABASE(db);
  EXPECT_FALSE(has_tables(db.sqlca()));
  std::string error;
  ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
  EXPECT_TRUE(has_tables(db.sqlca()));
  auto other = db.connect_again();  // committed: another connection sees it
  EXPECT_EQ(single(*other, "select count(*) from rs_main"), "25");
  EXPECT_EQ(single(*other, "select count(*) from sys_user"), "3");
  EXPECT_EQ(single(*other, "select count(*) from sb_key_counter where next_value = 1"),
            single(*other, "select count(*) from sb_key_counter"));
}

// The fixture's passwords are hashed when the database is made, never shipped as hashes
// (whose salts every database would share).
TEST_P(DatabaseSetup, HashesTheFixturesPasswordsWithSaltsOfItsOwn) {
  TestDatabase db(GetParam());
  SHENBAO_REQUIRE_DATABASE(db);
  std::string error;
  ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
  EXPECT_EQ(single(db.sqlca(), "select count(*) from sys_user where password_hash not like '$argon2id$%'"), "0");
  for (const std::string user : {"clerk001", "clerk002", "authority"}) {
    const std::string hash = single(db.sqlca(), "select password_hash from sys_user where username = '" + user + "'");
    EXPECT_TRUE(verify_password(hash, user + "pass")) << user;
    // The salt the fixture once shipped for clerk001.
    EXPECT_EQ(hash.find("a55VWlACFNd4ga4mXdvpmg"), std::string::npos);
  }
}

TEST_P(DatabaseSetup, KeepsNothingWhenTheFixtureFails) {
  static const struct {
    const char* name;
    const char* fixture;  // nullptr: no such file
    const char* error;
  } cases[] = {
      {"a bad statement", "insert into rs_sex_code (sex_code, sex_name) values ('1', '男');\ninsert into nowhere values (1);\n",
       "fixture"},
      {"a missing file", nullptr, "cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestDatabase db(GetParam());
    SHENBAO_REQUIRE_DATABASE(db);
    const std::string path = "/tmp/shenbao_bad_fixture_" + std::to_string(getpid()) + ".sql";
    std::remove(path.c_str());
    if (c.fixture) std::ofstream(path) << c.fixture;
    std::string error;
    EXPECT_FALSE(create_database(db.sqlca(), true, path, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_FALSE(has_tables(*db.connect_again())) << "the schema must go with the failed fixture";
    std::remove(path.c_str());
  }
}

TEST_P(DatabaseSetup, SchemaWithoutFixtureHasNoRows) {
  TestDatabase db(GetParam());
  SHENBAO_REQUIRE_DATABASE(db);
  std::string error;
  ASSERT_TRUE(create_database(db.sqlca(), false, "", error)) << error;
  EXPECT_EQ(single(db.sqlca(), "select count(*) from rs_main"), "0");
  EXPECT_EQ(single(db.sqlca(), "select count(*) from rs_sex_code"), "0");
}

INSTANTIATE_TEST_SUITE_P(Backends, DatabaseSetup, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         testing::backend_name);

TEST(IdNumber, CheckCharacter) {
  static const struct {
    const char* card_no;
    bool valid;
  } cases[] = {
      {"11010519491231002X", true},  {"440524188001010014", true}, {"11010519491231002x", false},
      {"110105194912310021", false}, {"44052418800101001", false}, {"4405241880010100144", false},
      {"4405241880A1010014", false},
  };
  for (const auto& c : cases) EXPECT_EQ(id_number_valid(c.card_no), c.valid) << c.card_no;
}

class DemoData : public ::testing::TestWithParam<Backend> {
 protected:
  static constexpr DemoOptions kOptions{3, 2, 60, 20090615};

  // A database with the fixture and the demo; false when the backend is not there.
  bool make(TestDatabase& db) {
    if (!db.available()) return false;
    std::string error;
    EXPECT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
    EXPECT_TRUE(generate_demo_data(db.sqlca(), kOptions, error)) << error;
    return true;
  }
};

TEST_P(DemoData, UnitsWorkersAndRecordsFitTogether) {
  TestDatabase db(GetParam());
  if (!make(db)) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG";
  Transaction& sqlca = db.sqlca();

  EXPECT_EQ(rows_of(sqlca, "select company_num, count(*) from rs_main where company_num > '002' group by company_num "
                           "order by company_num"),
            (std::vector<std::string>{"003|60", "004|60"}));
  // Staffing counts agree with the register.
  EXPECT_EQ(single(sqlca, "select count(*) from rs_info_company c where c.company_num > '002' and c.now_mans = "
                          "(select count(*) from rs_main m where m.company_num = c.company_num and m.stuff_status = "
                          "'01') and c.bz_mans = c.xzbz_mans + c.fsbz_mans and c.xzbz_mans >= c.now_mans"),
            "2");
  // Every code is one of its table's, every department one of the unit's.
  static const char* const kDangling[] = {
      "select count(*) from rs_main m where not exists (select 1 from rs_jb_code j where j.code = m.jb)",
      "select count(*) from rs_main m where not exists (select 1 from rs_zhiwu_code z where z.zhiwu_code = m.post)",
      "select count(*) from rs_main m where not exists (select 1 from rs_sex_code s where s.sex_code = m.sex)",
      "select count(*) from rs_main m where not exists (select 1 from rs_wenhua_code w where w.wenhua_code = "
      "m.first_degree)",
      "select count(*) from rs_main m where m.company_num > '002' and not exists (select 1 from gg_bumen_bm b where "
      "b.book_code = m.company_num and b.gg_bm_id = m.department)",
      "select count(*) from rs_sub_jl_2 r where not exists (select 1 from rs_main m where m.company_num = "
      "r.company_num and m.worker_code = r.worker_code)",
      "select count(*) from rs_sub_jl_2 r where not exists (select 1 from rs_encouragement_code e where e.jl_code = "
      "r.jl_name)",
      "select count(*) from rs_sub_education e where not exists (select 1 from rs_main m where m.company_num = "
      "e.company_num and m.worker_code = e.worker_code)",
      "select count(*) from rs_sub_education e where e.px_end_date < e.px_start_date or not exists (select 1 from "
      "rs_pxresult_code r where r.pxresult_code = e.px_result)",
      "select count(*) from rs_main where stuff_status = '04' and (a_vc2 is null or a_date1 is null)",
  };
  for (const char* sql : kDangling) EXPECT_EQ(single(sqlca, sql), "0") << sql;
  for (const char* table : {"rs_sub_jl_2", "rs_sub_education"}) {
    EXPECT_NE(single(sqlca, std::string("select count(*) from ") + table + " where company_num > '002'"), "0") << table;
  }
  // Each unit has one head of rank 9, and resigned people as well as people in service.
  EXPECT_EQ(single(sqlca, "select count(*) from rs_main where company_num > '002' and jb = '9'"), "2");
  EXPECT_NE(single(sqlca, "select count(*) from rs_main where company_num > '002' and stuff_status = '04'"), "0");

  // ID numbers: valid, carrying the birthday, odd in their 17th digit for men.
  int people = 0;
  std::string names;
  sqlca.query("select card_no, birthday, sex, worker_name from rs_main where company_num > '002'", {},
              [&](const ResultRow& row) {
                const std::string card = row.get(0).to_string();
                const std::string birthday = row.get(1).to_string();
                const bool male = row.get(2).to_string() == "1";
                EXPECT_TRUE(id_number_valid(card)) << card;
                EXPECT_EQ(card.substr(6, 8), birthday) << card;
                EXPECT_EQ((card[16] - '0') % 2 == 1, male) << card;
                names += row.get(3).to_string();
                ++people;
                return true;
              });
  sqlca.rollback();
  EXPECT_EQ(people, 120);
  for (const char* rare : {"玥", "珺", "堃", "喆", "赟", "镕"}) EXPECT_NE(names.find(rare), std::string::npos) << rare;
}

TEST_P(DemoData, ClerksLogInWithTheirDocumentedPasswords) {
  TestDatabase db(GetParam());
  if (!make(db)) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG";
  ASSERT_GE(sodium_init(), 0);
  const auto users = rows_of(db.sqlca(), "select username, company_num, role, password_hash from sys_user where "
                                         "username in ('clerk003', 'clerk004', 'authority') order by username");
  ASSERT_EQ(users.size(), 3u) << "one clerk per demo unit, and a single authority";
  std::map<std::string, std::string> expected = {{"clerk003", "003|clerk"}, {"clerk004", "004|clerk"},
                                                 {"authority", "null|authority"}};
  for (const std::string& row : users) {
    const std::string username = row.substr(0, row.find('|'));
    const std::string hash = row.substr(row.rfind('|') + 1);
    EXPECT_EQ(row.substr(username.size() + 1, row.rfind('|') - username.size() - 1), expected[username]);
    const std::string password = username + "pass";
    EXPECT_EQ(crypto_pwhash_str_verify(hash.c_str(), password.c_str(), password.size()), 0) << username;
    EXPECT_NE(crypto_pwhash_str_verify(hash.c_str(), "wrong", 5), 0) << username;
  }
}

TEST_P(DemoData, SameOptionsGiveTheSameRowsAndARepeatKeepsNothing) {
  TestDatabase first(GetParam()), second(GetParam());
  if (!make(first) || !make(second)) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG";
  for (const char* sql :
       {"select * from rs_main order by company_num, worker_code", "select * from rs_info_company order by 1",
        "select * from gg_bumen_bm order by 1, 2",
        "select company_num, worker_code, jl_name, jl_date from rs_sub_jl_2 order by pk_id",
        "select company_num, worker_code, px_start_date, px_end_date, px_xf from rs_sub_education order by pk_id"}) {
    EXPECT_EQ(rows_of(first.sqlca(), sql), rows_of(second.sqlca(), sql)) << sql;
  }

  // A run that meets an existing unit after making a new one keeps nothing of either.
  std::string error;
  ASSERT_TRUE(generate_demo_data(first.sqlca(), {6, 1, 60, 1}, error)) << error;
  const std::string workers = single(first.sqlca(), "select count(*) from rs_main");
  const std::string trainings = single(first.sqlca(), "select count(*) from rs_sub_education");
  EXPECT_FALSE(generate_demo_data(first.sqlca(), {5, 2, 60, 1}, error));
  EXPECT_NE(error.find("006"), std::string::npos) << error;
  EXPECT_EQ(single(first.sqlca(), "select count(*) from rs_main"), workers);
  EXPECT_EQ(single(first.sqlca(), "select count(*) from rs_sub_education"), trainings);
  EXPECT_EQ(single(first.sqlca(), "select count(*) from sys_user where username = 'clerk005'"), "0");
}

INSTANTIATE_TEST_SUITE_P(Backends, DemoData, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         testing::backend_name);

}  // namespace
}  // namespace shenbao
