// The form engine against the SQLite C API used by hand, on a 20-column worker table:
// retrieving 100,000 rows, and inserting 10,000 new rows in one transaction. Prints the
// ratio of the two and the memory a data store holds per row against the size of its values.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "framework/runtime/forms/data_store.h"

namespace shenbao {
namespace {

constexpr int kRetrieveRows = 100000;
constexpr int kUpdateRows = 10000;

const std::string kDatabase = "/tmp/shenbao_runtime_bench_" + std::to_string(getpid()) + ".db";

constexpr const char* kSchema =
    "create table worker (code varchar(20) primary key, name varchar(20), sex varchar(10), card_no varchar(40), "
    "post varchar(40), jb varchar(10), department varchar(20), degree varchar(20), status varchar(10), "
    "company varchar(20), age integer, years integer, children integer, grade integer, level integer, "
    "salary double precision, bonus double precision, score double precision, birthday timestamp, "
    "joined timestamp)";

constexpr const char* kColumns =
    "code, name, sex, card_no, post, jb, department, degree, status, company, age, years, children, grade, level, "
    "salary, bonus, score, birthday, joined";

std::string form_text() {
  return std::string("form(name=d_bench style=grid)\ndetail(height=20)\n") +
         "table(retrieve=\"select " + kColumns + " from worker where code < :upto\" update=worker)\n" +
         "argument(name=upto type=char(20))\n"
         "column(name=code type=char(20) key=yes update=yes)\n"
         "column(name=name type=char(20) update=yes)\ncolumn(name=sex type=char(10) update=yes)\n"
         "column(name=card_no type=char(40) update=yes)\ncolumn(name=post type=char(40) update=yes)\n"
         "column(name=jb type=char(10) update=yes)\ncolumn(name=department type=char(20) update=yes)\n"
         "column(name=degree type=char(20) update=yes)\ncolumn(name=status type=char(10) update=yes)\n"
         "column(name=company type=char(20) update=yes)\ncolumn(name=age type=long update=yes)\n"
         "column(name=years type=long update=yes)\ncolumn(name=children type=long update=yes)\n"
         "column(name=grade type=long update=yes)\ncolumn(name=level type=long update=yes)\n"
         "column(name=salary type=number update=yes)\ncolumn(name=bonus type=number update=yes)\n"
         "column(name=score type=number update=yes)\ncolumn(name=birthday type=datetime update=yes)\n"
         "column(name=joined type=datetime update=yes)\n";
}

std::string code_of(int i) {
  char code[16];
  std::snprintf(code, sizeof code, "W%07d", i);
  return code;
}

// The values of row i, as both sides write them.
std::vector<Value> row_values(int i) {
  return {Value(code_of(i)), Value("张建国"), Value("1"), Value("360102196203150218"), Value("0101"),
          Value("9"), Value("01"), Value("21"), Value("01"), Value("001"), Value(40 + i % 20), Value(i % 30),
          Value(i % 3), Value(i % 12), Value(i % 5), Value(5230.5 + i % 100), Value(800.25), Value(91.5),
          Value(DateTime::from_civil(1962, 3, 15)), Value(DateTime::from_civil(1985, 7, 1))};
}

void bind_row(sqlite3_stmt* stmt, const std::vector<Value>& values) {
  for (size_t c = 0; c < values.size(); ++c) {
    const int index = static_cast<int>(c + 1);
    const Value& v = values[c];
    switch (v.kind()) {
      case ValueKind::Long: sqlite3_bind_int64(stmt, index, v.as_long()); break;
      case ValueKind::Number: sqlite3_bind_double(stmt, index, v.as_number()); break;
      case ValueKind::DateTime: {
        const std::string text = v.as_datetime().to_sql_text();
        sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
      }
      default:
        sqlite3_bind_text(stmt, index, v.as_text().data(), static_cast<int>(v.as_text().size()), SQLITE_TRANSIENT);
    }
  }
}

void create_database() {
  std::remove(kDatabase.c_str());
  sqlite3* db = nullptr;
  sqlite3_open(kDatabase.c_str(), &db);
  sqlite3_exec(db, "pragma journal_mode=wal", nullptr, nullptr, nullptr);
  sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, (std::string("insert into worker (") + kColumns + ") values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)").c_str(),
                     -1, &insert, nullptr);
  for (int i = 0; i < kRetrieveRows; ++i) {
    bind_row(insert, row_values(i));
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Mean seconds per iteration of each benchmark, for the ratios printed at the end.
std::map<std::string, double>& timings() {
  static std::map<std::string, double> t;
  return t;
}

struct Stopwatch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

// What a program written by hand would hold: one struct per row.
struct HandRow {
  std::string text[10];
  int64_t whole[5];
  double number[3];
  std::string date[2];
};

void BM_RetrieveByHand(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(kDatabase.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, (std::string("select ") + kColumns + " from worker where code < ?").c_str(), -1, &stmt, nullptr);
  double total = 0;
  for (auto _ : state) {
    Stopwatch watch;
    std::vector<HandRow> rows;
    sqlite3_bind_text(stmt, 1, "X", -1, SQLITE_STATIC);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      HandRow& row = rows.emplace_back();
      for (int c = 0; c < 10; ++c) row.text[c] = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
      for (int c = 0; c < 5; ++c) row.whole[c] = sqlite3_column_int64(stmt, 10 + c);
      for (int c = 0; c < 3; ++c) row.number[c] = sqlite3_column_double(stmt, 15 + c);
      for (int c = 0; c < 2; ++c) row.date[c] = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 18 + c));
    }
    sqlite3_reset(stmt);
    benchmark::DoNotOptimize(rows.data());
    total += watch.seconds();
    state.counters["rows"] = static_cast<double>(rows.size());
  }
  timings()["retrieve by hand"] = total / static_cast<double>(state.iterations());
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

void BM_RetrieveDataStore(benchmark::State& state) {
  std::string error;
  auto sqlca = Transaction::open(kDatabase, error);
  DataStore ds;
  if (!ds.create(form_text()).empty()) state.SkipWithError("form");
  ds.settransobject(sqlca.get());
  double total = 0;
  for (auto _ : state) {
    Stopwatch watch;
    if (ds.retrieve({Value("X")}) != kRetrieveRows) state.SkipWithError(ds.last_error().c_str());
    total += watch.seconds();
  }
  timings()["retrieve data store"] = total / static_cast<double>(state.iterations());
  size_t payload = 0;
  for (long r = 1; r <= ds.rowcount(); ++r) {
    for (int c = 1; c <= 20; ++c) payload += ds.getitem(r, c).payload_size();
  }
  state.counters["rows"] = static_cast<double>(ds.rowcount());
  state.counters["bytes_per_row"] = static_cast<double>(ds.memory_used()) / static_cast<double>(ds.rowcount());
  state.counters["value_bytes_per_row"] = static_cast<double>(payload) / static_cast<double>(ds.rowcount());
  timings()["memory per row / value bytes"] = static_cast<double>(ds.memory_used()) / static_cast<double>(payload);
}

void delete_new_rows(sqlite3* db) { sqlite3_exec(db, "delete from worker where code >= 'X'", nullptr, nullptr, nullptr); }

void BM_InsertByHand(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(kDatabase.c_str(), &db);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, (std::string("insert into worker (") + kColumns + ") values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)").c_str(),
                     -1, &insert, nullptr);
  double total = 0;
  for (auto _ : state) {
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < kUpdateRows; ++i) {
      rows.push_back(row_values(i));
      rows.back()[0] = Value("X" + code_of(i));
    }
    Stopwatch watch;
    sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr);
    for (const auto& row : rows) {
      bind_row(insert, row);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    total += watch.seconds();
    state.PauseTiming();
    delete_new_rows(db);
    state.ResumeTiming();
  }
  timings()["insert by hand"] = total / static_cast<double>(state.iterations());
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

void BM_InsertDataStore(benchmark::State& state) {
  std::string error;
  auto sqlca = Transaction::open(kDatabase, error);
  sqlite3* db = nullptr;
  sqlite3_open(kDatabase.c_str(), &db);
  sqlite3_busy_timeout(db, 10000);
  double total = 0;
  for (auto _ : state) {
    DataStore ds;
    ds.create(form_text());
    ds.settransobject(sqlca.get());
    for (int i = 0; i < kUpdateRows; ++i) {
      const long row = ds.insertrow(0);
      const auto values = row_values(i);
      for (int c = 0; c < 20; ++c) ds.setitem(row, c + 1, c == 0 ? Value("X" + code_of(i)) : values[static_cast<size_t>(c)]);
    }
    Stopwatch watch;
    if (ds.update() != 1 || sqlca->commit() != 0) state.SkipWithError(ds.last_error().c_str());
    total += watch.seconds();
    state.PauseTiming();
    delete_new_rows(db);
    state.ResumeTiming();
  }
  timings()["insert data store"] = total / static_cast<double>(state.iterations());
  sqlite3_close(db);
}

BENCHMARK(BM_RetrieveByHand)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RetrieveDataStore)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_InsertByHand)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_InsertDataStore)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace shenbao

int main(int argc, char** argv) {
  shenbao::create_database();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& t = shenbao::timings();
  std::printf("\nretrieve 100000 rows: data store / by hand = %.2f\n", t["retrieve data store"] / t["retrieve by hand"]);
  std::printf("insert 10000 rows:    data store / by hand = %.2f\n", t["insert data store"] / t["insert by hand"]);
  std::printf("memory held per row / size of its values = %.2f\n", t["memory per row / value bytes"]);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((shenbao::kDatabase + suffix).c_str());
  return 0;
}
