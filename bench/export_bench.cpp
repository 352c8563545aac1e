// Exporting a worker list to a spreadsheet: the time to write 1,000, 10,000 and 50,000 rows,
// and how far the resident memory rises while one is written (peak RSS above the RSS before
// it, with the rows already in their data store), which constant-memory writing keeps from
// growing with the rows. Compared with the same cells, already made, written straight to the
// library.
//
//   export_bench
//
// The list: the demo's register workers of ten units of 5,000 (the first N of them), eight
// columns as a grid shows them — number, name, sex and rank by their names from their code
// lists, ID number, birth date text, a date (csny) and the department — retrieved once.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/database_setup.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/sheet_export.h"
#include "framework/runtime/sql/transaction.h"

namespace {

namespace fs = std::filesystem;

const char* kList = R"syntax(form(name=d_export_bench style=grid)
header(height=24)
detail(height=24)
table(retrieve="select worker_code, worker_name, sex, card_no, birthday, csny, jb, department from rs_main where company_num >= '003' order by company_num, worker_code limit :n")
argument(name=n type=long)
column(name=worker_code type=char(20) x=4 y=2 width=80 height=20)
column(name=worker_name type=char(20) x=88 y=2 width=80 height=20)
column(name=sex type=char(10) x=172 y=2 width=40 height=20 edit=dropdown dddw.name=d_select_sex dddw.data=sex_code dddw.display=sex_name)
column(name=card_no type=char(40) x=216 y=2 width=160 height=20)
column(name=birthday type=char(8) x=380 y=2 width=80 height=20)
column(name=csny type=datetime x=464 y=2 width=90 height=20 format=yyyy-mm-dd)
column(name=jb type=char(10) x=558 y=2 width=100 height=20 edit=dropdown dddw.name=d_select_jb dddw.data=code dddw.display=name)
column(name=department type=char(20) x=662 y=2 width=80 height=20)
text(name=worker_code_t band=header x=4 y=2 width=80 height=20 text="编号")
text(name=worker_name_t band=header x=88 y=2 width=80 height=20 text="姓名")
text(name=sex_t band=header x=172 y=2 width=40 height=20 text="性别")
text(name=card_no_t band=header x=216 y=2 width=160 height=20 text="身份证号")
text(name=birthday_t band=header x=380 y=2 width=80 height=20 text="出生年月")
text(name=csny_t band=header x=464 y=2 width=90 height=20 text="参加工作时间")
text(name=jb_t band=header x=558 y=2 width=100 height=20 text="职级")
text(name=department_t band=header x=662 y=2 width=80 height=20 text="部门")
)syntax";

long status_kib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n, nullptr, 10);
  }
  return -1;
}

// Resets the peak resident size to the present one (Linux: 5 to clear_refs); false when the
// kernel does not let it.
bool reset_peak_rss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

struct Fixture {
  fs::path folder;
  std::unique_ptr<shenbao::Transaction> sqlca;

  Fixture() {
    folder = fs::temp_directory_path() / ("shenbao_export_bench_" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::string error;
    sqlca = shenbao::Transaction::open("sqlite:" + (folder / "bench.db").string(), error);
    shenbao::DemoOptions demo;
    demo.units = 10;
    demo.workers_per_unit = 5000;
    if (!sqlca || !shenbao::create_database(*sqlca, true, "", error) ||
        !shenbao::generate_demo_data(*sqlca, demo, error)) {
      std::fprintf(stderr, "export_bench: %s\n", error.c_str());
      std::exit(1);
    }
  }
  ~Fixture() {
    sqlca.reset();
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_ExportWorkerList(benchmark::State& state) {
  Fixture& f = fixture();
  shenbao::DataStore store;
  if (const std::string why = store.create(kList); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  store.settransobject(f.sqlca.get());
  for (const char* column : {"sex", "jb"}) {
    shenbao::DataStore* list = store.getchild(column);
    list->settransobject(f.sqlca.get());
    list->retrieve();
  }
  store.retrieve({shenbao::Value(static_cast<int64_t>(state.range(0)))});
  f.sqlca->rollback();
  if (store.rowcount() != state.range(0)) {
    state.SkipWithError("the demo has too few workers");
    return;
  }
  const std::string path = (f.folder / "list.xlsx").string();

  // One export on its own, for its peak memory above what the process held before it. Free
  // heap goes back to the system first, so that the export cannot hide in what is left over.
  malloc_trim(0);
  const bool peak_known = reset_peak_rss();
  const long before = status_kib("VmRSS:");
  if (!shenbao::export_sheet(store, "人员名单", path)) {
    state.SkipWithError("export failed");
    return;
  }
  const long peak = status_kib("VmHWM:");

  for (auto _ : state) {
    auto written = shenbao::export_sheet(store, "人员名单", path);
    benchmark::DoNotOptimize(written);
  }
  state.counters["rows"] = static_cast<double>(store.rowcount());
  state.counters["file_KiB"] = static_cast<double>(fs::file_size(path)) / 1024;
  if (peak_known) state.counters["peak_rss_growth_KiB"] = static_cast<double>(peak - before);
  state.SetItemsProcessed(state.iterations() * store.rowcount());
}
// The floor: the same cells, their texts and dates already made, written straight to the
// library in constant memory (no data store, no code lookup, no widths).
void BM_HandWrittenSheet(benchmark::State& state) {
  Fixture& f = fixture();
  shenbao::DataStore store;
  store.create(kList);
  store.settransobject(f.sqlca.get());
  for (const char* column : {"sex", "jb"}) {
    shenbao::DataStore* list = store.getchild(column);
    list->settransobject(f.sqlca.get());
    list->retrieve();
  }
  store.retrieve({shenbao::Value(static_cast<int64_t>(state.range(0)))});
  f.sqlca->rollback();
  const int columns = static_cast<int>(store.def().columns.size());
  const int csny = store.def().column_index("csny") + 1;
  std::vector<std::string> texts;
  std::vector<lxw_datetime> dates;
  for (long r = 1; r <= store.rowcount(); ++r) {
    for (int c = 1; c <= columns; ++c) texts.push_back(c == csny ? std::string() : store.display_value(r, c));
    const shenbao::Value d = store.getitem(r, csny);
    const shenbao::DateTime t = d.is_null() ? shenbao::DateTime::from_civil(2000, 1, 1) : d.as_datetime();
    dates.push_back({t.year(), t.month(), t.day(), 0, 0, 0});
  }
  const std::string path = (f.folder / "hand.xlsx").string();
  for (auto _ : state) {
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, "人员名单");
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd");
    for (int c = 0; c < columns; ++c) worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), "标题", nullptr);
    size_t at = 0;
    for (long r = 1; r <= store.rowcount(); ++r) {
      for (int c = 1; c <= columns; ++c, ++at) {
        if (c == csny)
          worksheet_write_datetime(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c - 1), &dates[r - 1], date);
        else if (!texts[at].empty())
          worksheet_write_string(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c - 1), texts[at].c_str(), nullptr);
      }
    }
    workbook_close(book);
  }
  state.SetItemsProcessed(state.iterations() * store.rowcount());
}
BENCHMARK(BM_HandWrittenSheet)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ExportWorkerList)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
