// The civil-servant reward extraction and its acceptance for a unit of 10,000 workers holding
// three rewards each, through the window as a clerk and the authority use it, against
// hand-written set-based statements doing the same work on the same database. Prints the
// times and their ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_functions.h"
#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"
#include "bench/bench_session.h"

namespace shenbao {
namespace {

constexpr int kWorkers = 10000;
constexpr const char* kUnit = "B01";

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

bool fill_unit(Transaction& sqlca, std::string& error) {
  sqlca.execute("insert into rs_info_company (company_num, company_name, now_mans) values (:c, '基准测试单位', :n)",
                {Value(kUnit), Value(kWorkers)});
  for (int w = 1; w <= kWorkers; ++w) {
    const std::string code = "B" + zero_padded(w, 6);
    sqlca.execute("insert into rs_main (company_num, worker_code, worker_name, sex, card_no, post, stuff_status) "
                  "values (:c, :w, :n, :s, :card, '0131', '01')",
                  {Value(kUnit), Value(code), Value("职工" + std::to_string(w)), Value(w % 2 ? "1" : "2"),
                   Value("3601021970" + zero_padded(w, 8))});
    for (const char* date : {"20090315", "20090101", "20091120"}) {
      sqlca.execute("insert into rs_sub_jl_2 (company_num, worker_code, jl_name, jl_date, ry_jb) "
                    "values (:c, :w, '1000', :d, '3')",
                    {Value(kUnit), Value(code), Value(date)});
    }
    if (sqlca.sqlcode < 0) {
      error = sqlca.sqlerrtext;
      return false;
    }
  }
  return sqlca.commit() == 0;
}

void BM_CivilServantRewardExtractionAndAcceptance(benchmark::State& state) {
  const std::string path = "/tmp/shenbao_reward_bench_" + std::to_string(getpid()) + ".db";
  std::string error;
  auto sqlca = Transaction::open(path, error);
  if (!sqlca || !create_database(*sqlca, true, "", error) || !fill_unit(*sqlca, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  WindowRegistry registry;
  register_windows(registry);
  for (auto _ : state) {
    auto session = bench::start_session(path, registry, "bench", kUnit, Role::Both, error);
    if (!session) {
      state.SkipWithError(error.c_str());
      return;
    }
    session->post({"open", "w_vorant_jl_gwy"});
    session->post({"click", "pb_16"});
    session->post({"type", "dw_3", 1, "state", "1"});  // submitted, so that it may be accepted
    session->post({"click", "pb_5"});
    session->post({"click", "pb_6"});
    session->post({"text", "em_1", 0, {}, "2009-01-01"});
    session->post({"text", "em_2", 0, {}, "2009-12-31"});
    auto start = std::chrono::steady_clock::now();
    const EventResult extracted = session->post({"click", "pb_1"});
    const double extraction_ms = ms_since(start);
    std::vector<Value> rows;
    sqlca->select_into("select count(*), min(jl_date), max(jl_date) from rs_w00033 where company_num = :c", {Value(kUnit)},
                       rows);
    sqlca->commit();
    if (!extracted.ok() || rows[0] != Value(kWorkers)) {
      state.SkipWithError(("the extraction wrote " + rows[0].to_string() + " rows: " + extracted.error()).c_str());
      return;
    }
    session->post({"click", "pb_approve"});
    start = std::chrono::steady_clock::now();
    session->post({"answer", "yes"});
    const double acceptance_ms = ms_since(start);
    session->post({"answer", "ok"});
    session.reset();

    // The same work by hand: one statement each, on a declaration of its own.
    const std::vector<Value> key{Value("H000000001"), Value(kUnit)};
    start = std::chrono::steady_clock::now();
    sqlca->execute("delete from rs_w00033 where pkid = :id and company_num = :com", key);
    sqlca->execute(
        "insert into rs_w00033 (pkid, company_num, worker_code, worker_name, sex, card_no, post, jl_name, jl_date, jl_gg) "
        "select :id, m.company_num, m.worker_code, m.worker_name, m.sex, m.card_no, m.post, r.jl_name, "
        "substr(r.jl_date, 1, 4) || '-' || substr(r.jl_date, 5, 2) || '-' || substr(r.jl_date, 7, 2) || ' 00:00:00', r.ry_jb "
        "from rs_main m join (select worker_code, jl_name, jl_date, ry_jb, row_number() over "
        "(partition by worker_code order by jl_date, pk_id) as n from rs_sub_jl_2 "
        "where company_num = :com and jl_date >= '20090101' and jl_date <= '20091231') r "
        "on r.worker_code = m.worker_code and r.n = 1 where m.company_num = :com and m.stuff_status = '01'",
        key);
    sqlca->commit();
    const double hand_extraction_ms = ms_since(start);
    start = std::chrono::steady_clock::now();
    sqlca->execute("insert into rs_sb_approval (table_name, pkid, company_num, approved_by) values ('rs_w00033_com', :id, :com, 'bench')",
                   key);
    sqlca->execute(
        "insert into rs_sub_jl_2 (worker_code, company_num, jl_name, jl_date, jlsj, ry_jb) "
        "select worker_code, company_num, jl_name, strftime('%Y%m%d', jl_date), jl_date, jl_gg from rs_w00033 "
        "where pkid = :id and company_num = :com and trim(coalesce(jl_name, '')) <> ''",
        key);
    sqlca->commit();
    const double hand_acceptance_ms = ms_since(start);
    std::vector<Value> written;
    sqlca->select_into("select count(*) from rs_sub_jl_2 where company_num = :c", {Value(kUnit)}, written);
    sqlca->commit();

    std::printf("extraction of %d workers x 3 rewards: %.1f ms; by hand %.1f ms; ratio %.2f\n", kWorkers, extraction_ms,
                hand_extraction_ms, extraction_ms / hand_extraction_ms);
    std::printf("acceptance of %d rewards: %.1f ms; by hand %.1f ms; ratio %.2f (reward records now %s)\n", kWorkers,
                acceptance_ms, hand_acceptance_ms, acceptance_ms / hand_acceptance_ms, written[0].to_string().c_str());
    state.counters["extraction_ms"] = extraction_ms;
    state.counters["extraction_ratio"] = extraction_ms / hand_extraction_ms;
    state.counters["acceptance_ms"] = acceptance_ms;
    state.counters["acceptance_ratio"] = acceptance_ms / hand_acceptance_ms;
  }
  sqlca.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

BENCHMARK(BM_CivilServantRewardExtractionAndAcceptance)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace shenbao

BENCHMARK_MAIN();
