// The server's limits on their own, without a server: which request heads are refused, who
// gets a seat, device tokens and login waits (kept in a database), the counting of repeated log lines and the log's rotation.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/database_setup.h"
#include "server/audit_log.h"
#include "server/log_limiter.h"
#include "server/login_guard.h"
#include "server/passwords.h"
#include "server/request_head.h"
#include "server/seat_policy.h"
#include "server/server_database.h"
#include "test_database.h"

namespace shenbao {
namespace {

TEST(RequestHeadTest, HeadsTwoReadersCouldTakeTwoWaysAreRefused) {
  const std::string line = "POST /api/event HTTP/1.1\r\nHost: h\r\n";
  struct Case {
    const char* name;
    std::string head;
    bool refused;
  };
  const Case cases[] = {
      {"sound", line + "Content-Length: 5\r\n\r\n", false},
      {"a blank after the colon and none", line + "A:b\r\nC:  d\t\r\n\r\n", false},
      {"the same length twice", line + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n", false},
      {"a lone chunked", line + "Transfer-Encoding: chunked\r\n\r\n", false},
      {"UTF-8 in a value", line + "X-Name: 王小红\r\n\r\n", false},
      {"a blank before the colon", line + "Transfer-Encoding : chunked\r\n\r\n", true},
      {"a tab before the colon", line + "Transfer-Encoding\t: chunked\r\n\r\n", true},
      {"an obs-fold", line + "X-A: b\r\n Transfer-Encoding: chunked\r\n\r\n", true},
      {"an obs-fold with a tab", line + "X-A: b\r\n\tc\r\n\r\n", true},
      {"a bare CR", line + "X-A: b\rTransfer-Encoding: chunked\r\n\r\n", true},
      {"a bare LF", line + "X-A: b\nTransfer-Encoding: chunked\r\n\r\n", true},
      {"two lengths", line + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", true},
      {"a length of no number", line + "Content-Length: 5, 5\r\n\r\n", true},
      {"an encoding besides chunked", line + "Transfer-Encoding: gzip, chunked\r\n\r\n", true},
      {"chunked twice", line + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n", true},
      {"another encoding", line + "Transfer-Encoding: identity\r\n\r\n", true},
      {"no colon", line + "Transfer-Encoding chunked\r\n\r\n", true},
      {"no name", line + ": x\r\n\r\n", true},
      {"a control character in a value", line + "X-A: b\x01\r\n\r\n", true},
      {"a NUL in a value", line + std::string("X-A: b\0c\r\n\r\n", 12), true},
      {"no end", line + "X-A: b\r\n", true},
      {"bytes after the end", line + "\r\nGET / HTTP/1.1\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string fault = request_head_fault(c.head);
    EXPECT_EQ(!fault.empty(), c.refused) << fault;
  }
}

TEST(SeatPolicyTest, NobodyHoardsTheSeats) {
  using Clock = std::chrono::system_clock;
  const auto t0 = Clock::now();
  auto at = [&](int s) { return t0 + std::chrono::seconds(s); };
  // Ten seats, three a user, one kept for the authority.
  const SeatLimits limits{10, 3, 1};
  auto seats = [&](std::vector<std::pair<std::string, int>> users) {
    std::vector<SeatHolder> out;
    int t = 0;
    for (const auto& [user, n] : users)
      for (int i = 0; i < n; ++i) out.push_back({user, user == "authority", at(t++), true});
    return out;
  };
  struct Case {
    const char* name;
    std::vector<SeatHolder> holders;
    std::string user;
    bool admitted;
    std::optional<size_t> ends;
  };
  const Case cases[] = {
      {"a free seat", seats({{"a", 1}}), "b", true, std::nullopt},
      {"a second while seats are free", seats({{"a", 1}}), "a", true, std::nullopt},
      {"a fourth ends his oldest", seats({{"b", 1}, {"a", 3}}), "a", true, 1},
      {"full for clerks: one with none takes another's oldest", seats({{"a", 3}, {"b", 3}, {"c", 3}}), "d", true, 0},
      {"the authority gets the kept seat", seats({{"a", 3}, {"b", 3}, {"c", 3}}), "authority", true, std::nullopt},
      {"full: a user with none takes the oldest of the most", seats({{"a", 2}, {"b", 3}, {"c", 3}, {"authority", 1}, {"d", 1}}),
       "e", true, 2},
      {"full: a user with some ends his own oldest", seats({{"a", 3}, {"b", 3}, {"c", 2}, {"authority", 1}, {"d", 1}}),
       "c", true, 6},
      {"full of single seats: refused", seats({{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}, {"f", 1}, {"g", 1},
                                               {"h", 1}, {"i", 1}}),
       "j", false, std::nullopt},
      {"full of single seats: the authority keeps his", seats({{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}, {"f", 1},
                                                               {"g", 1}, {"h", 1}, {"i", 1}}),
       "authority", true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SeatChoice choice = choose_seat(c.holders, c.user, c.user == "authority", limits);
    EXPECT_EQ(choice.admitted, c.admitted);
    EXPECT_EQ(choice.ends, c.ends);
  }
  // A login still being set up holds its seat but is never ended.
  std::vector<SeatHolder> pending = seats({{"a", 2}});
  pending.push_back({"a", false, at(-5), false});
  EXPECT_EQ(choose_seat(pending, "a", false, limits).ends, std::optional<size_t>(0));
}

TEST(LoginThrottleTest, DeviceTokensAreTheUsersOwnAndCannotBeMadeUp) {
  ASSERT_TRUE(sodium_ready());
  DeviceTokens tokens;
  const std::string token = tokens.issue("clerk001");
  const auto year = std::chrono::seconds(365 * 24 * 3600);
  EXPECT_FALSE(tokens.id_of(token, "clerk001", year).empty());
  EXPECT_TRUE(tokens.id_of(token, "clerk002", year).empty()) << "another user's";
  std::string changed = token;
  changed[5] = changed[5] == 'A' ? 'B' : 'A';
  EXPECT_TRUE(tokens.id_of(changed, "clerk001", year).empty()) << "changed";
  EXPECT_TRUE(tokens.id_of(token.substr(1), "clerk001", year).empty()) << "cut";
  EXPECT_TRUE(tokens.id_of("", "clerk001", year).empty());
  EXPECT_TRUE(DeviceTokens().id_of(token, "clerk001", year).empty()) << "another server's";
  EXPECT_NE(tokens.issue("clerk001"), token) << "each browser its own";
}

// The counts live in the database, so each case has one of its own.
class LoginThrottleTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  // A database with the schema, and the server's connection to it; false when there is none.
  bool prepare(testing::TestDatabase& db, ServerDatabase& shared) {
    if (!db.available()) return false;
    std::string error;
    EXPECT_TRUE(create_database(db.sqlca(), false, "", error)) << error;
    EXPECT_TRUE(shared.open(db.url(), error)) << error;
    return true;
  }
};

TEST_P(LoginThrottleTest, AKnownBrowserIsThrottledByItsTokenAlone) {
  ASSERT_TRUE(sodium_ready());
  testing::TestDatabase db(GetParam()), db2(GetParam());
  ServerDatabase shared, shared2;
  if (!prepare(db, shared) || !prepare(db2, shared2)) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG";
  LoginThrottle::Options options;
  options.accounts.free_failures = 2;
  options.addresses.free_failures = 3;
  options.devices.free_failures = 2;
  const std::string key(32, 'k');
  LoginThrottle throttle(shared, key, options);
  const std::string device = throttle.device_token("clerk001");
  // Guesses from elsewhere make the account and the guesser's address wait.
  for (int i = 0; i < 3; ++i) {
    const auto a = throttle.attempt("clerk001", "10.0.0.9", "");
    ASSERT_EQ(a.wait.count(), 0);
    throttle.failed(a, "clerk001", "10.0.0.9");
  }
  EXPECT_GT(throttle.attempt("clerk001", "10.0.0.1", "").wait.count(), 0) << "the account waits";
  EXPECT_EQ(throttle.attempt("clerk002", "10.0.0.9", "").wait.count(), 0) << "the address has failures to spare";
  // The clerk's own browser does not wait; his success leaves the account's count as it was.
  const auto known = throttle.attempt("clerk001", "10.0.0.9", device);
  EXPECT_TRUE(known.trusted());
  EXPECT_EQ(known.wait.count(), 0);
  throttle.succeeded(known, "clerk001", "10.0.0.9");
  EXPECT_GT(throttle.attempt("clerk001", "10.0.0.1", "").wait.count(), 0);
  // Many attempts at once from unknown browsers, once the free failures are spent: one is
  // checked, the others wait for it. Before, they are all checked (an office logging in).
  LoginThrottle fresh(shared2, key, options);
  std::vector<LoginThrottle::Attempt> office;
  for (int i = 0; i < 5; ++i) office.push_back(fresh.attempt("clerk00" + std::to_string(3 + i), "10.0.0.1", ""));
  for (const auto& a : office) EXPECT_EQ(a.wait.count(), 0);
  for (int i = 0; i < 5; ++i) fresh.succeeded(office[i], "clerk00" + std::to_string(3 + i), "10.0.0.1");
  for (int i = 0; i < 2; ++i) fresh.failed(fresh.attempt("clerk002", "10.0.0.1", ""), "clerk002", "10.0.0.1");
  const auto first = fresh.attempt("clerk002", "10.0.0.2", "");
  EXPECT_EQ(first.wait.count(), 0);
  for (int i = 3; i < 9; ++i)
    EXPECT_GT(fresh.attempt("clerk002", "10.0.0." + std::to_string(i), "").wait.count(), 0) << "attempt " << i;
  fresh.failed(first, "clerk002", "10.0.0.2");
  EXPECT_GT(fresh.attempt("clerk002", "10.0.0.9", "").wait.count(), 0) << "and then its failure's wait";
  // A token that fails too often is trusted no more.
  for (int i = 0; i < 3; ++i) throttle.failed(throttle.attempt("clerk001", "10.0.0.1", device), "clerk001", "10.0.0.1");
  EXPECT_FALSE(throttle.attempt("clerk001", "10.0.0.1", device).trusted());
}

TEST_P(LoginThrottleTest, ServersOfOneDatabaseCountTheSameFailuresAndKnowTheSameBrowsers) {
  ASSERT_TRUE(sodium_ready());
  testing::TestDatabase db(GetParam());
  ServerDatabase first_db, second_db;
  if (!prepare(db, first_db)) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG";
  std::string error;
  ASSERT_TRUE(second_db.open(db.url(), error)) << error;
  const std::string key = shared_device_key(first_db, error);
  ASSERT_EQ(key.size(), 32u) << error;
  EXPECT_EQ(shared_device_key(second_db, error), key) << "one key, made by the first server that asks";
  LoginThrottle::Options options;
  options.accounts.free_failures = 2;
  LoginThrottle first(first_db, key, options), second(second_db, shared_device_key(second_db, error), options);
  // Guesses alternate between the two servers: the third is slowed whichever server it reaches.
  for (LoginThrottle* server : {&first, &second}) {
    const auto a = server->attempt("clerk001", "10.0.0.9", "");
    ASSERT_EQ(a.wait.count(), 0);
    server->failed(a, "clerk001", "10.0.0.9");
  }
  const auto third = second.attempt("clerk001", "10.0.0.7", "");
  ASSERT_EQ(third.wait.count(), 0);
  EXPECT_GT(second.failed(third, "clerk001", "10.0.0.7").count(), 0);
  EXPECT_GT(first.attempt("clerk001", "10.0.0.8", "").wait.count(), 0) << "the account waits on the other server too";
  // A browser known to one server is known to the other.
  const std::string device = first.device_token("clerk001");
  const auto known = second.attempt("clerk001", "10.0.0.8", device);
  EXPECT_TRUE(known.trusted());
  EXPECT_EQ(known.wait.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Databases, LoginThrottleTest,
                         ::testing::Values(testing::Backend::SQLite, testing::Backend::PostgreSQL),
                         testing::backend_name);

TEST(LogLimiterTest, RepeatsAreCountedAndReportedOnce) {
  std::vector<LogLimiter::Line> lines;
  LogLimiter limiter({std::chrono::seconds(10), 3}, [&](const LogLimiter::Line& l) { lines.push_back(l); });
  for (int i = 0; i < 20731; ++i) limiter.add({"-", "-", "10.0.0.1", "bad-head", "request head refused"});
  for (int i = 0; i < 3; ++i) limiter.add({"clerk001", "001", "10.0.0.2", "bad-request", "event " + std::to_string(i)});
  limiter.add({"-", "-", "10.0.0.2", "bad-head", "request head refused"});
  // Beyond three keys, counted together.
  for (int i = 0; i < 5; ++i) limiter.add({"-", "-", "10.0.0." + std::to_string(10 + i), "bad-head", "x"});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].detail, "event 0") << "the first of a key as it is";
  limiter.flush(true);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3].event, "bad-head");
  EXPECT_NE(lines[3].detail.find("(repeated 20,730 times in"), std::string::npos) << lines[3].detail;
  EXPECT_NE(lines[4].detail.find("(repeated 2 times in"), std::string::npos) << lines[4].detail;
  EXPECT_NE(lines[5].detail.find("too many sources to tell apart: 5"), std::string::npos) << lines[5].detail;
  EXPECT_EQ(grouped(0), "0");
  EXPECT_EQ(grouped(999), "999");
  EXPECT_EQ(grouped(1234567), "1,234,567");
}

TEST(AuditLogTest, TheFileRotatesBySizeAndKeepsABoundedNumber) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(::testing::TempDir()) / ("shenbao-rotate-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string path = (folder / "audit.log").string();
  {
    AuditLog log;
    std::string error;
    AuditLog::Options options;
    options.max_bytes = 4096;
    options.keep_files = 2;
    ASSERT_TRUE(log.open(path, error, options)) << error;
    for (int i = 0; i < 500; ++i) log.write("clerk001", "001", "127.0.0.1", "login", "line " + std::to_string(i));
  }
  EXPECT_TRUE(fs::exists(path));
  EXPECT_TRUE(fs::exists(path + ".1"));
  EXPECT_TRUE(fs::exists(path + ".2"));
  EXPECT_FALSE(fs::exists(path + ".3"));
  for (const std::string& file : {path, path + ".1", path + ".2"}) EXPECT_LE(fs::file_size(file), 4096u) << file;
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("login line 499\n"), std::string::npos) << "the newest lines are in the file itself";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace shenbao
