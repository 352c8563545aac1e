// Disk faults during an acceptance and a save, on SQLite through the "faulty" VFS: each write
// of the acceptance of a post and rank declaration fails in turn (an I/O error, a full disk).
// The register is then as before the acceptance or as after it, never in between; the
// session says 数据入库失败！ with the reason and goes on (the acceptance succeeds once the
// disk is well again); the database passes its integrity check. Saves on a full disk alike.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "tests/unit/faulty_vfs.h"
#include "tests/unit/test_database.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

namespace fs = std::filesystem;

// Every table's rows, in one text, as a separate connection reads them.
std::string snapshot(const std::string& file) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::vector<std::string> tables;
  auto collect = [](void* out, int, char** values, char**) {
    static_cast<std::vector<std::string>*>(out)->push_back(values[0] ? values[0] : "");
    return 0;
  };
  sqlite3_exec(db, "select name from sqlite_master where type = 'table' order by name", collect, &tables, nullptr);
  std::string text;
  for (const auto& table : tables) {
    std::vector<std::string> rows;
    auto row = [](void* out, int n, char** values, char**) {
      std::string line;
      for (int i = 0; i < n; ++i) line += std::string(values[i] ? values[i] : "null") + "|";
      static_cast<std::vector<std::string>*>(out)->push_back(line);
      return 0;
    };
    sqlite3_exec(db, ("select * from \"" + table + "\" order by 1").c_str(), row, &rows, nullptr);
    std::sort(rows.begin(), rows.end());
    text += "[" + table + "]\n";
    for (const auto& r : rows) text += r + "\n";
  }
  sqlite3_close(db);
  return text;
}

// The first column of a query's rows, joined.
std::string query_text(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string result;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += values[0] ? values[0] : "";
        return 0;
      },
      &result, nullptr);
  sqlite3_close(db);
  return result;
}

std::string integrity(const std::string& file) { return query_text(file, "pragma integrity_check"); }

class AcceptanceFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
    register_windows(registry);
    FaultyVfs::install();
    file = db.url().substr(7);
    work = file + ".work";
  }

  void TearDown() override {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(work + suffix);
  }

  std::unique_ptr<Session> start_session(const std::string& url) {
    return start_test_session(url, registry, "clerk001", Role::Both);
  }

  static void post(Session& session, Event event) {
    const EventResult result = session.post(event);
    ASSERT_TRUE(result.ok()) << event.kind << " " << event.target << ": " << result.error() << "\n"
                             << session.state_text();
  }

  // A fresh copy of the database as it stands, opened through the faulty VFS.
  std::unique_ptr<Session> fresh_copy() {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(work + suffix);
    db.sqlca().commit();
    sqlite3* source = nullptr;
    sqlite3_open_v2(file.c_str(), &source, SQLITE_OPEN_READWRITE, nullptr);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(source, ("vacuum into '" + work + "'").c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(source);
    return start_session("sqlite:" + work + "?vfs=" + FaultyVfs::kName);
  }

  // A declaration of unit 001 with three workers, saved.
  void file_declaration() {
    auto session = start_session(db.url());
    post(*session, {"open", "w_vorant_zw"});
    post(*session, {"click", "pb_16"});
    post(*session, {"type", "dw_3", 1, "state", "1"});  // submitted
    post(*session, {"click", "pb_5"});
    const struct {
      const char* worker;
      const char* since;
      const char* post_code;
      const char* rank;
    } workers[] = {{"0010008", "2004-07-01", "0111", "11"},
                   {"0010009", "2003-07-01", "0131", "13"},
                   {"0010010", "2003-07-01", "0141", "14"}};
    for (const auto& w : workers) {
      post(*session, Event{.kind = "gesture", .target = "add", .args = {w.worker}});
      post(*session, Event{.kind = "type", .target = "dw_4", .row = 1, .column = "yrzsj", .text = w.since});
      post(*session, Event{.kind = "type", .target = "dw_4", .row = 1, .column = "ndzw", .text = w.post_code});
      post(*session, Event{.kind = "type", .target = "dw_4", .row = 1, .column = "ndjb", .text = w.rank});
      post(*session, {"click", "pb_2"});
    }
  }

  TestDatabase db{Backend::SQLite};
  WindowRegistry registry;
  std::string file, work;
};

TEST_F(AcceptanceFaultsTest, AFailedWriteLeavesTheRegisterBeforeOrAfterAndTheSessionGoesOn) {
  file_declaration();
  auto accept = [&](Session& session) {
    post(session, {"open", "w_vorant_zw"});
    post(session, {"select", "dw_1", 1});
    post(session, {"click", "pb_approve"});  // the question waits; nothing is written yet
  };
  // Undisturbed, to know the writes and the register after.
  std::string before, after;  // before: of this run only
  int writes = 0;
  {
    auto session = fresh_copy();
    accept(*session);
    before = snapshot(work);
    FaultyVfs::arm(0, SQLITE_IOERR_WRITE);
    post(*session, {"answer", "yes"});
    FaultyVfs::disarm();
    writes = FaultyVfs::writes();
    ASSERT_NE(session->state_text().find("数据入库成功！"), std::string::npos) << session->state_text();
    after = snapshot(work);
  }
  ASSERT_GT(writes, 0);
  ASSERT_NE(before, after);
  auto without_times = [](std::string text) {
    // The acceptance's own time stamps differ from run to run: the approval row, the history's
    // step and the journal's copy of the approval row are compared without their times.
    static const std::regex kTime(R"(\d{4}-\d{2}-\d{2}[ T]\d{2}:\d{2}:\d{2})");
    for (const char* table : {"[rs_sb_approval]", "[sb_history]", "[sb_journal]"}) {
      const size_t at = text.find(table);
      if (at == std::string::npos) continue;
      const size_t end = text.find('[', at + 1);
      const size_t length = end == std::string::npos ? std::string::npos : end - at;
      text.replace(at, length, std::regex_replace(text.substr(at, length), kTime, "T"));
    }
    return text;
  };
  for (const int code : {SQLITE_IOERR_WRITE, SQLITE_FULL}) {
    for (int n = 1; n <= writes; ++n) {
      SCOPED_TRACE((code == SQLITE_FULL ? "disk full at write " : "I/O error at write ") + std::to_string(n) + " of " +
                   std::to_string(writes));
      auto session = fresh_copy();
      accept(*session);
      const std::string before = snapshot(work);
      FaultyVfs::arm(n, code);
      const EventResult answered = session->post({"answer", "yes"});
      FaultyVfs::disarm();
      EXPECT_TRUE(answered.ok()) << answered.error();
      ASSERT_TRUE(FaultyVfs::failed());
      const std::string state = session->state_text();
      const std::string now = snapshot(work);
      EXPECT_EQ(integrity(work), "ok");
      if (state.find("数据入库成功！") != std::string::npos) {
        // Failed after the commit was safe (a write the commit did not need).
        EXPECT_EQ(without_times(now), without_times(after));
        continue;
      }
      ASSERT_NE(state.find("数据入库失败！"), std::string::npos) << state;
      EXPECT_NE(state.find(code == SQLITE_FULL ? "full" : "I/O"), std::string::npos) << "the reason is told: " << state;
      EXPECT_EQ(now, before) << "nothing of a failed acceptance is written";
      // The session goes on: once the disk is well, the same acceptance succeeds.
      post(*session, {"answer", "ok"});
      post(*session, {"click", "pb_approve"});
      post(*session, {"answer", "yes"});
      EXPECT_NE(session->state_text().find("数据入库成功！"), std::string::npos) << session->state_text();
      EXPECT_EQ(without_times(snapshot(work)), without_times(after));
      EXPECT_EQ(integrity(work), "ok");
    }
  }
}

// A full disk stays full: every write of the save fails from a point on. The declaration is
// saved whole or not at all, the clerk hears 保存失败！ with the reason and keeps his entries,
// and saves it once there is room again.
TEST_F(AcceptanceFaultsTest, SavingOnAFullDiskSavesNothingAndCanBeDoneAgain) {
  auto prepare = [&](Session& session) {
    post(session, {"open", "w_vorant_zw"});
    post(session, {"click", "pb_16"});
    post(session, {"type", "dw_3", 1, "state", "1"});  // submitted
    post(session, {"click", "pb_5"});
    post(session, Event{.kind = "gesture", .target = "add", .args = {"0010008"}});
    post(session, Event{.kind = "type", .target = "dw_4", .row = 1, .column = "yrzsj", .text = "2004-07-01"});
    post(session, Event{.kind = "type", .target = "dw_4", .row = 1, .column = "ndzw", .text = "0111"});
    post(session, Event{.kind = "type", .target = "dw_4", .row = 1, .column = "ndjb", .text = "11"});
  };
  int writes = 0;
  {
    auto session = fresh_copy();
    prepare(*session);
    FaultyVfs::arm(0, SQLITE_FULL);
    post(*session, {"click", "pb_2"});
    FaultyVfs::disarm();
    writes = FaultyVfs::writes();
    ASSERT_EQ(session->state_text().find("保存失败"), std::string::npos) << session->state_text();
  }
  ASSERT_GT(writes, 0);
  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("disk full from write " + std::to_string(n) + " of " + std::to_string(writes));
    auto session = fresh_copy();
    prepare(*session);
    const std::string before = snapshot(work);
    FaultyVfs::arm(n, SQLITE_FULL, true);
    const EventResult saved = session->post({"click", "pb_2"});
    FaultyVfs::disarm();
    EXPECT_TRUE(saved.ok()) << saved.error();
    ASSERT_TRUE(FaultyVfs::failed());
    EXPECT_EQ(integrity(work), "ok");
    const std::string state = session->state_text();
    if (state.find("保存失败！") == std::string::npos) continue;  // failed after the commit was safe
    EXPECT_NE(state.find("full"), std::string::npos) << state;
    EXPECT_EQ(snapshot(work), before) << "nothing of a failed save is written";
    post(*session, {"answer", "ok"});
    EXPECT_NE(session->state_text().find("0111"), std::string::npos) << "the entries stay on screen";
    post(*session, {"click", "pb_2"});
    EXPECT_EQ(session->state_text().find("保存失败"), std::string::npos) << session->state_text();
    EXPECT_EQ(query_text(work, "select count(*) || '/' || worker_code || '/' || coalesce(ndzw, '-') from rs_w00031"),
              "1/0010008/0111")
        << session->state_text();
    EXPECT_EQ(integrity(work), "ok");
  }
}

}  // namespace
}  // namespace shenbao::testing
