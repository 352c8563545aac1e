// Accepting a personnel plan of 2,000 planned persons (数据入库: the record of the acceptance,
// the persons created in rs_main with consecutive register numbers, commit), as the authority's
// session does it, against one hand-written set-based INSERT ... SELECT doing the same work in
// one transaction. SQLite file database; prints both medians and their ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"
#include "bench/bench_session.h"

namespace shenbao {
namespace {

constexpr int kPersons = 2000;
std::vector<double> window_ms, hand_ms;

const std::string& database() {
  static const std::string path = [] {
    const std::string p = "/tmp/shenbao_acceptance_bench_" + std::to_string(getpid()) + ".db";
    std::string error;
    auto sqlca = Transaction::open(p, error);
    if (!sqlca || !create_database(*sqlca, true, "", error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    sqlca->execute("insert into rs_w00034_com (pkid, company_num, state, sb_date) values ('0000000001', '001', 1, :d)",
                   {Value(DateTime::from_civil(2009, 6, 1))});
    for (int i = 1; i <= kPersons; ++i) {
      sqlca->execute(
          "insert into rs_w00034 (pkid, company_num, worker_code, worker_name, sex, birthday, first_degree, card_no) "
          "values ('0000000001', '001', :w, :n, '1', :b, '21', :c)",
          {Value(std::to_string(9000000 + i)), Value("人员" + std::to_string(i)),
           Value(DateTime::from_civil(1970 + i % 30, 1 + i % 12, 1 + i % 28)), Value("3601021980" + std::to_string(10000000 + i))});
    }
    sqlca->commit();
    return p;
  }();
  return path;
}

// Takes the accepted persons out of the register again, untimed.
void undo_acceptance(Transaction& sqlca) {
  sqlca.execute("delete from rs_main where company_num = '001' and worker_code like '9%'");
  sqlca.execute("delete from rs_sb_approval");
  sqlca.commit();
}

void BM_AcceptPlanThroughWindow(benchmark::State& state) {
  std::string error;
  WindowRegistry registry;
  register_windows(registry);
  auto session =
      bench::start_session(database(), registry, "authority", "001", Role::Both, error, DateTime::from_civil(2009, 6, 15));
  auto cleaner = Transaction::open(database(), error);
  if (!session || !cleaner) {
    state.SkipWithError(error.c_str());
    return;
  }
  session->post({"open", "w_vorant_rsjh"});
  session->post({"select", "dw_1", 1});
  for (auto _ : state) {
    state.PauseTiming();
    undo_acceptance(*cleaner);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    session->post({"click", "pb_approve"});
    session->post({"answer", "yes"});
    window_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (session->state_text().find("数据入库成功！") == std::string::npos) state.SkipWithError("acceptance failed");
    session->post({"answer", "ok"});
  }
  std::vector<Value> count;
  cleaner->select_into("select count(*) from rs_main where company_num = '001' and worker_code like '9%'", {}, count);
  if (count.empty() || count[0].as_long() != kPersons) state.SkipWithError("not every person was created");
}

void BM_AcceptPlanHandWritten(benchmark::State& state) {
  std::string error;
  auto sqlca = Transaction::open(database(), error);
  if (!sqlca) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    undo_acceptance(*sqlca);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    sqlca->execute(
        "insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) "
        "values ('rs_w00034_com', '0000000001', '001', :at, 'authority')",
        {Value(DateTime::from_civil(2009, 6, 15))});
    std::vector<Value> highest;
    sqlca->select_into(
        "select coalesce(max(cast(substr(worker_code, 2) as integer)), 0) from rs_main "
        "where company_num = '001' and length(worker_code) = 7 and worker_code like '9%'",
        {}, highest);
    sqlca->execute(
        "insert into rs_main (company_num, book_code, worker_code, worker_name, card_no, sex, first_degree, birthday, csny) "
        "select company_num, company_num, '9' || substr('000000' || (:n + row_number() over (order by worker_code)), -6), "
        "worker_name, card_no, sex, first_degree, strftime('%Y%m%d', birthday), birthday "
        "from rs_w00034 where pkid = '0000000001' and company_num = '001'",
        {highest[0]});
    if (sqlca->sqlcode < 0) state.SkipWithError(sqlca->sqlerrtext.c_str());
    sqlca->commit();
    hand_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
}

BENCHMARK(BM_AcceptPlanThroughWindow)->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_AcceptPlanHandWritten)->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace
}  // namespace shenbao

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double window = shenbao::bench::median(shenbao::window_ms), hand = shenbao::bench::median(shenbao::hand_ms);
  std::printf("accept a plan of %d persons: %.1f ms through the window, %.1f ms hand-written INSERT ... SELECT: %.2f x\n",
              shenbao::kPersons, window, hand, hand > 0 ? window / hand : 0.0);
  std::remove(shenbao::database().c_str());
  return 0;
}
