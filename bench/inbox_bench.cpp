// The authority's inbox at scale: 10,000 submitted declarations of 1,000 units, spread over
// every category, each with its history (submitted; every third returned once and
// resubmitted), on SQLite. Times the authority's login as the web server starts it (the inbox
// opened and its list retrieved, the menu's waiting counts) up to the first state the browser
// gets, and checks that state's size: the list is paged, so it must stay within 100 KB.
// Then the steps of his work: listing again, and filtering the whole list by days and by unit.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "bench/bench_session.h"
#include "framework/host/host_session.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {
namespace {

constexpr int kUnits = 1000;
constexpr int kDeclarations = 10000;
constexpr size_t kMostFirstAnswer = 100 * 1024;
const DateTime kToday = DateTime::from_civil(2009, 12, 31);

const std::string& database() {
  static const std::string path = "/tmp/shenbao_inbox_bench_" + std::to_string(getpid()) + ".db";
  return path;
}

// The fixture's units 001 and 002, units 003 to 1000 (master data only: the inbox reads no
// more of them), and the declarations with their history.
bool make_database(std::string& error) {
  std::remove(database().c_str());
  auto sqlca = Transaction::open(database(), error);
  if (!sqlca || !create_database(*sqlca, true, "", error)) return false;
  static const char* const kAgencies[] = {"人事局", "财政局", "教育局", "卫生局", "公安局", "统计局", "审计局", "民政局"};
  char company[16];
  for (int n = 3; n <= kUnits; ++n) {
    std::snprintf(company, sizeof company, "%03d", n);
    const std::string name = "江州市第" + std::to_string(n) + kAgencies[n % 8];
    if (sqlca->execute("insert into rs_info_company (company_num, company_name, dept, company_property) "
                       "values (:com, :name, '江州市人民政府', '1')",
                       {Value(company), Value(name)}) != 0) {
      error = sqlca->sqlerrtext;
      return false;
    }
  }
  const std::vector<const CategoryDescriptor*> categories = category_descriptors();
  char pkid[16];
  for (int i = 0; i < kDeclarations; ++i) {
    const CategoryDescriptor& c = *categories[i % categories.size()];
    std::snprintf(company, sizeof company, "%03d", 1 + i % kUnits);
    std::snprintf(pkid, sizeof pkid, "%010d", i + 1);
    const DateTime submitted = kToday.plus_days(-(i % 365)).date();
    const std::string unit_table = c.unit_table;
    bool ok = sqlca->execute("insert into " + unit_table + " (pkid, company_num, state, sb_date, sbr, createby, createdate) "
                             "values (:pkid, :com, 1, :sb_date, '申报人', 'clerk', :created)",
                             {Value(pkid), Value(company), Value(submitted), Value(submitted)}) == 0;
    auto step = [&](const char* code, DateTime at) {
      return sqlca->execute("insert into sb_history (table_name, pkid, company_num, step, username, at) "
                            "values (:t, :pkid, :com, :step, 'clerk', :at)",
                            {Value(unit_table), Value(pkid), Value(company), Value(code), Value(at)}) == 0;
    };
    ok = ok && step("created", submitted.plus_days(-3)) && step("submitted", submitted.plus_days(-2));
    if (i % 3 == 0) ok = ok && step("returned", submitted.plus_days(-1)) && step("resubmitted", submitted);
    if (!ok) {
      error = sqlca->sqlerrtext;
      sqlca->rollback();
      return false;
    }
  }
  return sqlca->commit() == 0;
}

const WindowRegistry& registry() {
  static const WindowRegistry r = [] {
    WindowRegistry made;
    register_windows(made);
    return made;
  }();
  return r;
}

// The authority's session as the web server starts it: the inbox open, the menu's counts.
std::unique_ptr<Session> authority_session(std::string& error) {
  Session::Options options;
  options.database_url = database();
  options.user = host_user("authority", "", Role::Authority);
  apply_host(options);
  options.registry = &registry();
  options.print_folder = "/tmp";
  options.today = kToday;
  options.open_at_start.push_back("w_sb_inbox");
  options.menu_notes = waiting_notes;
  return Session::start(options, error);
}

bool prepared(benchmark::State& state) {
  static std::string error;
  static const bool made = make_database(error);
  if (!made) state.SkipWithError(("database: " + error).c_str());
  return made;
}

void BM_InboxFirstAnswer(benchmark::State& state) {
  if (!prepared(state)) return;
  size_t bytes = 0;
  long rows = 0;
  for (auto _ : state) {
    std::string error;
    auto session = authority_session(error);
    if (!session) {
      state.SkipWithError(error.c_str());
      return;
    }
    const Session::ClientDocument first = session->client_document();
    bytes = first.text.size();
    state.PauseTiming();
    session->read_quietly([&] {
      if (Window* inbox = session->active_window(); inbox && inbox->form("dw_1")) rows = inbox->form("dw_1")->store().rowcount();
    });
    session.reset();
    state.ResumeTiming();
  }
  state.counters["first_answer_KB"] = static_cast<double>(bytes) / 1024;
  state.counters["rows"] = static_cast<double>(rows);
  std::printf("first state answer: %.1f KB for %ld waiting declarations\n", bytes / 1024.0, rows);
  if (bytes > kMostFirstAnswer || rows != kDeclarations)
    state.SkipWithError("the first answer is over 100 KB, or the inbox does not hold every waiting declaration");
}

// One step of the authority's work on the open inbox, timed as the browser waits for it.
void work_step(benchmark::State& state, const std::vector<Event>& setup, const Event& step) {
  if (!prepared(state)) return;
  std::string error;
  auto session = authority_session(error);
  if (!session) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (const Event& e : setup) session->post(e);
  for (auto _ : state) {
    const EventResult result = session->post(step);
    if (!result.ok()) state.SkipWithError(result.error().c_str());
  }
  // The answer the browser gets for the step from the unfiltered list: the changes since the
  // state it held, or the whole state when they are too many to keep.
  session->post({"click", "pb_reset"});
  const uint64_t held = session->client_document().version;
  session->post(step);
  const auto changes = session->client_changes(held);
  const size_t answer = changes ? changes->changes.size() : session->client_document().text.size();
  state.counters["answer_KB"] = static_cast<double>(answer) / 1024;
}

// The same list by hand: the statement the inbox runs (one select per category, union all,
// the history figures as correlated subqueries over its index), rows read into vectors.
void BM_InboxListByHand(benchmark::State& state) {
  if (!prepared(state)) return;
  std::string error;
  auto sqlca = Transaction::open(database(), error);
  if (!sqlca) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::string sql;
  for (const CategoryDescriptor* c : category_descriptors()) {
    const std::string unit = c->unit_table;
    const std::string of_it = "from sb_history h where h.table_name = '" + unit +
                              "' and h.pkid = t.pkid and h.company_num = t.company_num and h.step ";
    sql += (sql.empty() ? "" : " union all ") + std::string("select t.company_num, u.company_name, t.pkid, ") +
           "coalesce((select h.at " + of_it + "in ('submitted', 'resubmitted') order by h.pk_id desc limit 1), t.sb_date) as at, " +
           "(select count(*) " + of_it + "= 'returned'), t.sbr, (select count(*) from " + c->worker_table +
           " w where w.pkid = t.pkid and w.company_num = t.company_num) from " + unit +
           " t left join rs_info_company u on u.company_num = t.company_num where t.state = 1 and not exists " +
           "(select 1 from rs_sb_approval a where a.table_name = '" + unit + "' and a.pkid = t.pkid and a.company_num = t.company_num)";
  }
  sql += " order by 4";
  for (auto _ : state) {
    std::vector<std::vector<Value>> rows;
    sqlca->query(sql, {}, [&](const ResultRow& row) {
      std::vector<Value> values;
      for (int i = 0; i < row.column_count(); ++i) values.push_back(row.get(i));
      rows.push_back(std::move(values));
      return true;
    });
    if (rows.size() != kDeclarations) state.SkipWithError("the hand-written list misses declarations");
  }
}

void BM_InboxRefresh(benchmark::State& state) { work_step(state, {}, {"click", "pb_refresh"}); }

void BM_InboxFilterDays(benchmark::State& state) {
  Event days{"type", "dw_filter", 1, "days", "300"};
  work_step(state, {}, days);
}

void BM_InboxFilterUnit(benchmark::State& state) {
  Event unit{"type", "dw_filter", 1, "unit", "05"};
  work_step(state, {}, unit);
}

void BM_InboxFilterInitials(benchmark::State& state) {
  // As the browser sends it: the text and the 100 units whose names' initials hold it.
  Event call{"call", "uf_filter_unit"};
  call.args.push_back("jzs");
  char company[16];
  for (int i = 0; i < 100; ++i) {
    std::snprintf(company, sizeof company, "%03d", 1 + i * 10);
    call.args.push_back(company);
  }
  work_step(state, {}, call);
}

BENCHMARK(BM_InboxFirstAnswer)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_InboxRefresh)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_InboxListByHand)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_InboxFilterDays)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_InboxFilterUnit)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_InboxFilterInitials)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace shenbao

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(shenbao::database().c_str());
  return 0;
}
