#include "tests/unit/test_database.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace shenbao::testing {

std::string backend_name(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

namespace {
std::string unique_suffix() {
  static std::atomic<int> counter{0};
  return std::to_string(getpid()) + "_" + std::to_string(counter++);
}
}  // namespace

TestDatabase::TestDatabase(Backend backend) {
  std::string error;
  if (backend == Backend::SQLite) {
    file_ = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) + "/shenbao_test_" +
            unique_suffix() + ".db";
    url_ = "sqlite:" + file_;
    sqlca_ = Transaction::open(url_, error);
  } else {
    const char* server = std::getenv("SHENBAO_TEST_PG");
    if (!server || !*server) return;
    const std::string_view url(server);
    if (!url.starts_with("postgresql://") && !url.starts_with("postgres://")) {
      ADD_FAILURE() << "SHENBAO_TEST_PG is not a postgresql:// URL: " << url;
      return;
    }
    schema_ = "t_" + unique_suffix();
    auto admin = Transaction::open(server, error);
    if (!admin) {
      ADD_FAILURE() << error;
      return;
    }
    admin->execute("create schema " + schema_);
    admin->commit();
    url_ = std::string(server) + (std::string(server).find('?') == std::string::npos ? "?" : "&") +
           "options=-csearch_path%3D" + schema_;
    sqlca_ = Transaction::open(url_, error);
  }
  if (!sqlca_) ADD_FAILURE() << "cannot open the test database: " << error;
}

TestDatabase::~TestDatabase() {
  sqlca_.reset();
  if (!file_.empty()) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file_ + suffix).c_str());
  }
  if (!schema_.empty()) {
    std::string error;
    if (auto admin = Transaction::open(std::getenv("SHENBAO_TEST_PG"), error)) {
      admin->execute("drop schema " + schema_ + " cascade");
      admin->commit();
    }
  }
}

std::unique_ptr<Transaction> TestDatabase::connect_again() {
  std::string error;
  auto connection = Transaction::open(url_, error);
  if (!connection) ADD_FAILURE() << error;
  return connection;
}

void TestDatabase::run(const std::string& script) {
  ASSERT_EQ(sqlca_->execute_script(script), 0) << sqlca_->sqlerrtext << "\n" << script;
  ASSERT_EQ(sqlca_->commit(), 0) << sqlca_->sqlerrtext;
}

}  // namespace shenbao::testing
