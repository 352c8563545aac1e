// The training declaration for a unit of 10,000 workers in service (generated as the demo
// generates its units):
// - the extraction "提取人员信息(&A)" through the window as a clerk does it (click, the
//   overwrite question answered, the period dialog confirmed), against one hand-written
//   set-based INSERT ... SELECT of the same rows in one transaction; medians and their ratio;
// - the print sheet's generated list "应培未培公务员名单" with ten subjects: generating it
//   ("打印预览(&V)": the definition from the SELECT, create, modify, retrieve), then laying it
//   out and drawing it to a PDF.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/window.h"
#include "bench/bench_session.h"

namespace shenbao {
namespace {

constexpr int kWorkers = 10000;
constexpr const char* kUnit = "003";
constexpr const char* kHandKey = "H000000001";

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

const std::string& database() {
  static const std::string path = [] {
    const std::string p = "/tmp/shenbao_training_bench_" + std::to_string(getpid()) + ".db";
    std::string error;
    auto sqlca = Transaction::open(p, error);
    DemoOptions demo;
    demo.units = 1;
    demo.workers_per_unit = 9999;  // the most a demo unit holds
    if (!sqlca || !create_database(*sqlca, true, "", error) || !generate_demo_data(*sqlca, demo, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    // Ten thousand in service: the few who resigned come back, and one more joins.
    sqlca->execute("update rs_main set stuff_status = '01', a_vc1 = null, a_vc2 = null, a_date1 = null "
                   "where company_num = :c",
                   {Value(kUnit)});
    sqlca->execute(
        "insert into rs_main (company_num, worker_code, book_code, worker_name, sex, card_no, birthday, csny, "
        "people_standing, post, jb, department, first_degree, stuff_status) "
        "select company_num, '0030000', book_code, worker_name, sex, card_no, birthday, csny, people_standing, post, "
        "jb, department, first_degree, stuff_status from rs_main where worker_code = '0039999'");
    std::vector<Value> count;
    sqlca->select_into("select count(*) from rs_main where company_num = :c and stuff_status = '01'", {Value(kUnit)},
                       count);
    if (sqlca->commit() != 0 || count.empty() || count[0].as_long() != kWorkers) {
      std::fprintf(stderr, "the unit does not hold %d workers in service\n", kWorkers);
      std::exit(1);
    }
    return p;
  }();
  return path;
}

std::unique_ptr<Session> clerk_session(WindowRegistry& registry, std::string& error) {
  return bench::start_session(database(), registry, "clerk003", kUnit, Role::Clerk, error, DateTime::from_civil(2009, 6, 15));
}

std::vector<double> window_ms, hand_ms;

void BM_TrainingExtractionThroughWindow(benchmark::State& state) {
  std::string error;
  WindowRegistry registry;
  register_windows(registry);
  auto session = clerk_session(registry, error);
  auto check = Transaction::open(database(), error);
  if (!session || !check) {
    state.SkipWithError(error.c_str());
    return;
  }
  session->post({"open", "w_vorant_px"});
  session->post({"click", "pb_16"});
  session->post({"click", "pb_5"});
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    session->post({"click", "pb_6"});
    // From the second round on the rows are there: the overwrite question first. It is read
    // from the state as the browser holds it (the whole state would lay out every row).
    if (session->client_document().text.find("您确定要重新提取人员培训信息吗") != std::string::npos)
      session->post({"answer", "yes"});
    const EventResult confirmed = session->post({"click", "pb_1"});  // the period dialog's 确定
    window_ms.push_back(ms_since(start));
    std::vector<Value> rows;
    check->select_into("select count(*) from rs_w00028 where company_num = :c and pkid <> :h",
                       {Value(kUnit), Value(kHandKey)}, rows);
    check->commit();
    if (!confirmed.ok() || rows.empty() || rows[0].as_long() != kWorkers) {
      state.SkipWithError(("the extraction wrote " + (rows.empty() ? std::string("?") : rows[0].to_string()) +
                           " rows: " + confirmed.error())
                              .c_str());
      return;
    }
  }
}

void BM_TrainingExtractionHandWritten(benchmark::State& state) {
  std::string error;
  auto sqlca = Transaction::open(database(), error);
  if (!sqlca) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::vector<Value> key{Value(kHandKey), Value(kUnit)};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    sqlca->execute("delete from rs_w00028 where pkid = :id and company_num = :com", key);
    sqlca->execute(
        "insert into rs_w00028 (pkid, company_num, worker_code, worker_name, sex, card_no, over_pxrw) "
        "select :id, company_num, worker_code, worker_name, sex, card_no, '1' from rs_main "
        "where company_num = :com and stuff_status = '01'",
        key);
    if (sqlca->sqlcode < 0) state.SkipWithError(sqlca->sqlerrtext.c_str());
    sqlca->commit();
    hand_ms.push_back(ms_since(start));
  }
  // The window wrote the same rows as the statement.
  std::vector<Value> same;
  sqlca->select_into(
      "select count(*) from rs_w00028 a join rs_w00028 b on b.pkid = :id and b.company_num = a.company_num "
      "and b.worker_code = a.worker_code and b.worker_name is a.worker_name and b.sex is a.sex "
      "and b.card_no is a.card_no and b.over_pxrw is a.over_pxrw "
      "and coalesce(a.xf01, a.xf02, a.xf03, a.xf04, a.xf05, a.xf06, a.xf07, a.xf08, a.xf09, a.xf10, a.px_year) is null "
      "where a.pkid <> :id and a.company_num = :com",
      key, same);
  sqlca->commit();
  if (same.empty() || same[0].as_long() != kWorkers)
    state.SkipWithError("the window's rows differ from the hand-written statement's");
}

BENCHMARK(BM_TrainingExtractionThroughWindow)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TrainingExtractionHandWritten)->Unit(benchmark::kMillisecond)->Iterations(5);

std::vector<double> generate_ms, draw_ms;
size_t list_pages = 0;

void BM_TrainingListTenSubjects(benchmark::State& state) {
  std::string error;
  WindowRegistry registry;
  register_windows(registry);
  auto session = clerk_session(registry, error);
  auto sqlca = Transaction::open(database(), error);
  if (!session || !sqlca) {
    state.SkipWithError(error.c_str());
    return;
  }
  // The declaration the extraction filled: ten named subjects, credits for some workers.
  std::vector<Value> key;
  sqlca->select_into("select max(pkid) from rs_w00028_com where company_num = :c", {Value(kUnit)}, key);
  sqlca->execute("delete from rs_px_type where pkid = :id and company_num = :c", {key[0], Value(kUnit)});
  const char* names[] = {"公共服务", "公共政策", "公共经济", "依法行政", "创新能力",
                         "外语",     "公文写作", "电子政务", "应急管理", "廉政建设"};
  for (int i = 0; i < 10; ++i) {
    sqlca->execute("insert into rs_px_type (pkid, company_num, code, name) values (:id, :c, :code, :name)",
                   {key[0], Value(kUnit), Value((i < 9 ? "0" : "") + std::to_string(i + 1)), Value(names[i])});
  }
  sqlca->execute("update rs_w00028 set xf01 = 2, xf03 = 1, xf06 = 0.5 where pkid = :id and worker_code like '%3'",
                 {key[0]});
  sqlca->execute("update rs_w00028 set xf02 = 1, xf07 = 2, xf10 = 1 where pkid = :id and worker_code like '%7'",
                 {key[0]});
  sqlca->commit();

  session->post({"open", "w_vorant_px"});
  session->post({"select", "dw_1", 1});
  session->post({"click", "pb_7"});  // 打印预览(&P): the print sheet
  const std::string pdf = "/tmp/shenbao_training_bench_" + std::to_string(getpid()) + ".pdf";
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    const EventResult generated = session->post({"click", "pb_2"});  // 打印预览(&V)
    generate_ms.push_back(ms_since(start));
    bool drawn = false;
    session->read_quietly([&] {
      for (const auto& sheet : session->sheets()) {
        if (sheet->class_name() != "w_px_print") continue;
        const FormControl* list = sheet->form("dw_3");
        if (!list || !list->visible || list->store().rowcount() != kWorkers) break;
        start = std::chrono::steady_clock::now();
        const ReportPages pages = layout_report(list->store());
        drawn = write_pdf(pages, pdf, error);
        draw_ms.push_back(ms_since(start));
        list_pages = pages.pages.size();
      }
    });
    if (!generated.ok() || !drawn) {
      state.SkipWithError(("the list was not generated and drawn: " + generated.error() + error).c_str());
      return;
    }
    session->post({"click", "pb_2"});  // back to the fixed view
  }
  std::error_code ec;
  std::filesystem::remove(pdf, ec);
}

BENCHMARK(BM_TrainingListTenSubjects)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace shenbao

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using namespace shenbao;
  const double window = bench::median(window_ms), hand = bench::median(hand_ms);
  std::printf("training extraction of %d workers: %.1f ms through the window, %.1f ms hand-written INSERT ... SELECT: "
              "%.2f x\n",
              kWorkers, window, hand, hand > 0 ? window / hand : 0.0);
  std::printf("应培未培公务员名单 for %d workers, ten subjects: generated in %.1f ms, laid out and drawn to a PDF of %zu "
              "pages in %.1f ms\n",
              kWorkers, bench::median(generate_ms), list_pages, bench::median(draw_ms));
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((database() + suffix).c_str());
  return 0;
}
