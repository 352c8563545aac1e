// Printing a long list: laying out a 500-row grid report, and drawing it to a PDF.
// Counters: pages, and the process's peak resident memory (ru_maxrss) in MiB.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {
namespace {

constexpr int kRows = 500;

double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux reports KiB
}

// An in-memory database with 500 workers, and the golden grid form retrieved over them.
struct Fixture {
  FormLibrary library{std::string(SHENBAO_SOURCE_DIR) + "/tests/golden/forms"};
  std::unique_ptr<Transaction> sqlca;
  std::unique_ptr<DataStore> store;

  Fixture() {
    std::string error;
    sqlca = Transaction::open("sqlite::memory:", error);
    if (!sqlca) throw std::runtime_error(error);
    sqlca->execute_script(R"(
create table t_sex (code varchar(2) primary key, name varchar(10));
create table t_worker (company_num varchar(20), worker_code varchar(10), worker_name varchar(20), sex varchar(2),
  birthday varchar(19), salary numeric(12, 2), party integer, primary key (company_num, worker_code));
insert into t_sex values ('1', '男');
insert into t_sex values ('2', '女');
)");
    const char* names[] = {"王玥", "李珺", "张堃", "刘喆", "陈赟", "杨镕", "赵建国", "黄秀英"};
    for (int i = 1; i <= kRows; ++i) {
      const std::string code = std::to_string(10000 + i);
      sqlca->execute("insert into t_worker values ('C01', :code, :name, :sex, :birthday, :salary, :party)",
                     {Value(code), Value(names[i % 8]), Value(i % 2 ? "1" : "2"),
                      Value(DateTime::from_civil(1960 + i % 30, 1 + i % 12, 1 + i % 28).to_sql_text()),
                      Value(2800.0 + i * 12.5), Value(i % 3 == 0 ? 1 : 0)});
    }
    sqlca->commit();
    store = std::make_unique<DataStore>(library);
    store->set_dataobject("d_golden_grid");
    store->settransobject(sqlca.get());
    if (store->retrieve({Value("C01")}) != kRows) throw std::runtime_error(store->last_error());
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_LayoutGrid500(benchmark::State& state) {
  Fixture& f = fixture();
  LayoutOptions options;
  options.library = &f.library;
  size_t pages = 0;
  for (auto _ : state) {
    ReportPages laid_out = layout_report(*f.store, options);
    pages = laid_out.pages.size();
    benchmark::DoNotOptimize(laid_out);
  }
  state.counters["pages"] = static_cast<double>(pages);
  state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_rss_MiB"] = peak_rss_mib();
}
BENCHMARK(BM_LayoutGrid500)->Unit(benchmark::kMillisecond);

void BM_LayoutAndPdfGrid500(benchmark::State& state) {
  Fixture& f = fixture();
  LayoutOptions options;
  options.library = &f.library;
  const std::string path =
      (std::filesystem::temp_directory_path() / ("shenbao-report-bench-" + std::to_string(getpid()) + ".pdf")).string();
  size_t pages = 0;
  for (auto _ : state) {
    ReportPages laid_out = layout_report(*f.store, options);
    std::string error;
    if (!write_pdf(laid_out, path, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    pages = laid_out.pages.size();
  }
  std::error_code ec;
  state.counters["pages"] = static_cast<double>(pages);
  state.counters["pdf_KiB"] = static_cast<double>(std::filesystem::file_size(path, ec)) / 1024.0;
  state.counters["peak_rss_MiB"] = peak_rss_mib();
  std::filesystem::remove(path, ec);
}
BENCHMARK(BM_LayoutAndPdfGrid500)->Unit(benchmark::kMillisecond);

void BM_PreviewPng(benchmark::State& state) {
  Fixture& f = fixture();
  LayoutOptions options;
  options.library = &f.library;
  const ReportPages laid_out = layout_report(*f.store, options);
  std::string png, error;
  for (auto _ : state) {
    if (!render_png(laid_out, 1, 1.0, png, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.counters["png_KiB"] = static_cast<double>(png.size()) / 1024.0;
  state.counters["peak_rss_MiB"] = peak_rss_mib();
}
BENCHMARK(BM_PreviewPng)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace shenbao

BENCHMARK_MAIN();
