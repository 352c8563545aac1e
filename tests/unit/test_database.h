#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/runtime/sql/transaction.h"

namespace shenbao::testing {

// The databases every database test runs on. PostgreSQL is the server named by
// $SHENBAO_TEST_PG (CI starts one); without it those cases are skipped.
enum class Backend { SQLite, PostgreSQL };
std::string backend_name(const ::testing::TestParamInfo<Backend>& info);

// A fresh, empty database for one test: a temporary SQLite file, or a schema of its own on
// the PostgreSQL server, dropped again when the object goes.
class TestDatabase {
 public:
  explicit TestDatabase(Backend backend);
  ~TestDatabase();
  bool available() const { return sqlca_ != nullptr; }
  const std::string& url() const { return url_; }
  Transaction& sqlca() { return *sqlca_; }
  // A second connection to the same database, as another session would have.
  std::unique_ptr<Transaction> connect_again();
  // Runs statements and commits them; fails the test on an error.
  void run(const std::string& script);

 private:
  std::string url_;
  std::string schema_;
  std::string file_;
  std::unique_ptr<Transaction> sqlca_;
};

#define SHENBAO_REQUIRE_DATABASE(db) \
  if (!(db).available()) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG"

}  // namespace shenbao::testing
