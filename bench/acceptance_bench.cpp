// Accepting large declarations ("数据入库"): a dismissal of 10,000 workers and a discipline
// declaration of 10,000 punishments, through the window as the authority does it (the answer
// Yes to the acceptance question, until the success message shows), against hand-written
// set-based statements on the SQLite C API doing the same in one transaction: the approval
// record, the register marks, the punishment records, the head count. The window's acceptance
// is timed with the journal of its writes (every changed register row recorded) and without.
// A post and rank declaration of the same 10,000 workers is accepted too, and the check of the
// unit's approved posts that runs before it is timed on its own.
// Each run starts from a fresh copy of the same database. Prints the medians and their ratios.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "declarations/zw/w_vorant_zw.h"
#include "framework/declaration/declaration_limits.h"
#include "framework/host/host_functions.h"
#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/sql/wal_checkpointer.h"
#include "bench/bench_session.h"

namespace shenbao {
namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 5;
constexpr const char* kUnit = "001";
constexpr const char* kPkid = "0000000001";

const std::string kTemplate = "/tmp/shenbao_acceptance_bench_" + std::to_string(getpid()) + ".db";
const std::string kWork = "/tmp/shenbao_acceptance_bench_" + std::to_string(getpid()) + "_run.db";

constexpr const char* kPunishments[] = {"50", "51", "57", "58", "59", "61", "62", "63", "64", "65", "66", "90"};

std::string worker_code(int i) { return "1" + zero_padded(i, 6); }

// The standard fixture, 10,000 more workers in service of unit 001, a dismissal of all of them
// and a discipline declaration punishing each of them (every twelfth expelled).
bool make_template(std::string& error) {
  std::filesystem::remove(kTemplate);
  auto sqlca = Transaction::open(kTemplate, error);
  if (!sqlca || !create_database(*sqlca, true, "", error)) return false;
  const std::vector<Value> key{Value(kPkid), Value(kUnit)};
  bool ok = sqlca->execute("insert into rs_w00044_com (pkid, company_num, state, company_name, sb_date) values (:id, :com, "
                           "1, '江州市人事局', '2009-06-15 00:00:00')",
                           key) >= 0 &&
            sqlca->execute("insert into rs_w00029_com (pkid, company_num, state, company_name, sb_date) values (:id, :com, "
                           "1, '江州市人事局', '2009-06-15 00:00:00')",
                           key) >= 0 &&
            // Approved posts for all four classes, none exceeded: the check counts them all.
            sqlca->execute("insert into rs_w00031_com (pkid, company_num, state, company_name, sb_date, zs_hd_xcz, "
                           "zs_hd_xcf, zs_hd_dy, zs_hd_fdy) values (:id, :com, 1, '江州市人事局', "
                           "'2009-06-15 00:00:00', 20000, 20000, 20000, 20000)",
                           key) >= 0;
  for (int i = 1; ok && i <= kRows; ++i) {
    const Value code(worker_code(i));
    const Value day(DateTime::from_civil(2009, 1 + i % 12, 1 + i % 28));
    ok = sqlca->execute("insert into rs_main (company_num, worker_code, book_code, worker_name, sex, card_no, "
                        "people_standing, post, jb, department, stuff_status) values (:com, :w, :com, '测试人员', "
                        "'1', '360102196203150218', '5', '0151', '17', '01', '01')",
                        {Value(kUnit), code}) >= 0 &&
         sqlca->execute("insert into rs_w00031 (pkid, company_num, worker_code, worker_name, sex, ndzw, ndjb, yrzsj) "
                        "values (:id, :com, :w, '测试人员', '1', '0101', '9', :d)",
                        {Value(kPkid), Value(kUnit), code, day}) >= 0 &&
         sqlca->execute("insert into rs_w00044 (pkid, company_num, worker_code, worker_name, sex, post, ct_reason, "
                        "ct_date) values (:id, :com, :w, '测试人员', '1', '0151', '1', :d)",
                        {Value(kPkid), Value(kUnit), code, day}) >= 0 &&
         sqlca->execute("insert into rs_w00029 (pkid, company_num, worker_code, worker_name, sex, punish_date, "
                        "cf_type, punish_name, punish_reason, rescind_date) values (:id, :com, :w, '测试人员', '1', "
                        ":d, '政纪处分', :p, '01', :r)",
                        {Value(kPkid), Value(kUnit), code, day, Value(kPunishments[i % 12]),
                         Value(DateTime::from_civil(2011, 1 + i % 12, 1 + i % 28))}) >= 0;
  }
  if (!ok || sqlca->commit() != 0) {
    error = sqlca->sqlerrtext;
    return false;
  }
  return true;
}

void fresh_copy() {
  wait_for_background_checkpoints();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(kWork + suffix);
  std::filesystem::copy_file(kTemplate, kWork);
}

long count(const std::string& sql) {
  std::string error;
  auto sqlca = Transaction::open(kWork, error);
  std::vector<Value> into;
  if (!sqlca || sqlca->select_into(sql, {}, into) != 0) return -1;
  return into[0].as_long();
}

// The window's acceptance: open, choose the declaration, 数据入库, then time the answer Yes.
double accept_in_window(const WindowRegistry& registry, const char* window, std::string& error, bool journal = true) {
  auto session = bench::start_session(kWork, registry, "bench", kUnit, Role::Both, error, DateTime::from_civil(2009, 6, 15),
                                      journal);
  if (!session) return -1;
  session->post({"open", window});
  session->post({"select", "dw_1", 1});
  session->post({"click", "pb_approve"});
  const auto start = std::chrono::steady_clock::now();
  session->post({"answer", "yes"});
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The same acceptance written by hand: one transaction of set-based statements.
double accept_by_hand(const char* unit_table, const std::vector<std::string>& statements, std::string& error) {
  sqlite3* db = nullptr;
  sqlite3_open(kWork.c_str(), &db);
  sqlite3_busy_timeout(db, 5000);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> all{"begin immediate",
                               "insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) "
                               "values ('" + std::string(unit_table) + "', '0000000001', '001', '2009-06-15 00:00:00', 'bench')"};
  all.insert(all.end(), statements.begin(), statements.end());
  all.push_back("commit");
  for (const std::string& sql : all) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      error = message ? message : "sqlite error";
      sqlite3_free(message);
    }
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  sqlite3_close(db);
  return ms;
}

struct Case {
  const char* name;
  const char* window;
  const char* unit_table;
  std::vector<std::string> statements;
  const char* check;  // what the acceptance must leave: a count of kRows
  const CategoryDescriptor* limits = nullptr;  // the category whose limits check is timed too
};

const Case kDismissal{
    "dismissal of 10,000 workers",
    "w_vorant_ct",
    "rs_w00044_com",
    {"update rs_main as a set stuff_status = '05', a_vc1 = '85', a_vc2 = substr(b.ct_date, 1, 4) || "
     "substr(b.ct_date, 6, 2) || substr(b.ct_date, 9, 2), a_date1 = substr(b.ct_date, 1, 10) || ' 00:00:00' "
     "from rs_w00044 as b where b.pkid = '0000000001' and b.company_num = '001' and a.company_num = b.company_num "
     "and a.worker_code = b.worker_code",
     "update rs_info_company set now_mans = (select count(*) from rs_main where rs_main.company_num = "
     "rs_info_company.company_num and stuff_status = '01') where company_num = '001'"},
    "select count(*) from rs_main where a_vc1 = '85'"};

const Case kDiscipline{
    "discipline declaration of 10,000 punishments",
    "w_vorant_cj",
    "rs_w00029_com",
    {"insert into rs_sub_punish (company_num, worker_code, book_code, punish_name, punish_reason, punish_date, cfsj, "
     "rescind_date, jccfsj) select company_num, worker_code, company_num, punish_name, punish_reason, "
     "substr(punish_date, 1, 4) || substr(punish_date, 6, 2) || substr(punish_date, 9, 2), punish_date, "
     "substr(rescind_date, 1, 4) || substr(rescind_date, 6, 2) || substr(rescind_date, 9, 2), rescind_date "
     "from rs_w00029 where pkid = '0000000001' and company_num = '001'",
     "update rs_main as a set a_vc1 = '84', a_vc2 = substr(b.punish_date, 1, 4) || substr(b.punish_date, 6, 2) || "
     "substr(b.punish_date, 9, 2), a_date1 = substr(b.punish_date, 1, 10) || ' 00:00:00', stuff_status = '05' "
     "from rs_w00029 as b where b.pkid = '0000000001' and b.company_num = '001' and b.punish_name = '66' "
     "and a.company_num = b.company_num and a.worker_code = b.worker_code"},
    "select count(*) from rs_sub_punish"};

const Case kPostsAndRanks{
    "post and rank declaration of 10,000 workers",
    "w_vorant_zw",
    "rs_w00031_com",
    {"update rs_main as a set post = b.ndzw, jb = b.ndjb from rs_w00031 as b where b.pkid = '0000000001' "
     "and b.company_num = '001' and a.company_num = b.company_num and a.worker_code = b.worker_code"},
    "select count(*) - 1 from rs_main where company_num = '001' and post = '0101'",
    &w_vorant_zw::descriptor()};

// The check of the unit's limits alone, on the database as the acceptance finds it.
double check_limits(const CategoryDescriptor& category) {
  std::string error;
  auto sqlca = Transaction::open(kWork, error);
  const auto start = std::chrono::steady_clock::now();
  const auto exceeded = exceeded_limits(*sqlca, category, kPkid, kUnit);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return exceeded.empty() && sqlca->sqlcode == 0 ? ms : -1;
}

void run_case(benchmark::State& state, const Case& c) {
  std::string error;
  if (!make_template(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  WindowRegistry registry;
  register_windows(registry);
  std::vector<double> window_ms;
  std::vector<double> unjournalled_ms;
  std::vector<double> hand_ms;
  std::vector<double> limits_ms;
  for (auto _ : state) {
    for (int run = 0; run < kRuns; ++run) {
      fresh_copy();
      window_ms.push_back(accept_in_window(registry, c.window, error));
      if (!error.empty() || count(c.check) != kRows || count("select count(*) from rs_sb_approval") != 1) {
        state.SkipWithError(("the window did not accept: " + error).c_str());
        return;
      }
      if (c.limits) {
        fresh_copy();
        limits_ms.push_back(check_limits(*c.limits));
        if (limits_ms.back() < 0) {
          state.SkipWithError("the limits check failed");
          return;
        }
      }
      fresh_copy();
      unjournalled_ms.push_back(accept_in_window(registry, c.window, error, false));
      if (!error.empty() || count(c.check) != kRows) {
        state.SkipWithError(("the window did not accept without the journal: " + error).c_str());
        return;
      }
      fresh_copy();
      hand_ms.push_back(accept_by_hand(c.unit_table, c.statements, error));
      if (!error.empty() || count(c.check) != kRows) {
        state.SkipWithError(("the hand-written statements failed: " + error).c_str());
        return;
      }
    }
  }
  const double window = bench::median(window_ms);
  const double unjournalled = bench::median(unjournalled_ms);
  const double hand = bench::median(hand_ms);
  state.counters["window_ms"] = window;
  state.counters["unjournalled_ms"] = unjournalled;
  state.counters["hand_ms"] = hand;
  state.counters["ratio"] = window / hand;
  state.counters["journal_ratio"] = window / unjournalled;
  std::printf("%s: window %.1f ms (without the journal %.1f ms: journal %.2f x), hand-written %.1f ms, ratio %.2f "
              "(medians of %d)\n",
              c.name, window, unjournalled, window / unjournalled, hand, window / hand, kRuns);
  if (c.limits) {
    const double limits = bench::median(limits_ms);
    state.counters["limits_ms"] = limits;
    std::printf("  of which the check of the unit's approved posts %.1f ms: the acceptance takes %.2f x its time "
                "without the check\n",
                limits, window / (window - limits));
  }
  for (const std::string& path : {kTemplate, kWork})
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

void BM_AcceptDismissal(benchmark::State& state) { run_case(state, kDismissal); }
void BM_AcceptDiscipline(benchmark::State& state) { run_case(state, kDiscipline); }
void BM_AcceptPostsAndRanks(benchmark::State& state) { run_case(state, kPostsAndRanks); }

BENCHMARK(BM_AcceptDismissal)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AcceptDiscipline)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AcceptPostsAndRanks)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace shenbao

BENCHMARK_MAIN();
