// The form engine against the best loops written by hand, on a 20-column worker table:
// retrieving 100,000 rows, and inserting 10,000 new rows in one transaction, on SQLite and
// (when SHENBAO_TEST_PG names a server) on PostgreSQL. Prints the ratio of each pair, and the
// memory a data store holds per row against the size of its values.
//
// The hand-written side is what a careful programmer would write: on SQLite the connection
// opened as the driver opens it (no connection mutex, WAL, the same pragmas and checkpoints), statements
// prepared once, the rows' vector reserved and a row's texts kept in one arena; on PostgreSQL
// one prepared statement read in binary or in text, whichever is faster, and for the inserts
// the faster of COPY and a prepared INSERT a row.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <endian.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/sql/wal_checkpointer.h"

namespace shenbao {
namespace {

constexpr int kRetrieveRows = 100000;
constexpr int kUpdateRows = 10000;

const std::string kSqliteFile = "/tmp/shenbao_runtime_bench_" + std::to_string(getpid()) + ".db";
constexpr const char* kTable = "bench_worker";

std::string postgres_url() {
  const char* url = std::getenv("SHENBAO_TEST_PG");
  return url ? url : "";
}

constexpr const char* kColumnTypes =
    " (code varchar(20) primary key, name varchar(20), sex varchar(10), card_no varchar(40), "
    "post varchar(40), jb varchar(10), department varchar(20), degree varchar(20), status varchar(10), "
    "company varchar(20), age integer, years integer, children integer, grade integer, level integer, "
    "salary double precision, bonus double precision, score double precision, birthday timestamp, "
    "joined timestamp)";

constexpr const char* kColumns =
    "code, name, sex, card_no, post, jb, department, degree, status, company, age, years, children, grade, level, "
    "salary, bonus, score, birthday, joined";

const std::string kSelect = std::string("select ") + kColumns + " from " + kTable + " where code < ";
const std::string kInsert = std::string("insert into ") + kTable + " (" + kColumns +
                            ") values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

std::string form_text() {
  return std::string("form(name=d_bench style=grid)\ndetail(height=20)\n") + "table(retrieve=\"" + kSelect +
         ":upto\" update=" + kTable + ")\n" +
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

// What a program written by hand holds: one struct per row, its texts in one arena.
struct HandRows {
  struct Row {
    uint32_t text_end[10];  // where each text ends in the arena; the first starts where the row's before ends
    int64_t whole[5];
    double number[3];
    int64_t date[2];  // seconds since the epoch
  };
  std::string arena;
  std::vector<Row> rows;
  void reserve(size_t n) {
    rows.reserve(n);
    arena.reserve(n * 64);
  }
};

int64_t seconds_of(std::string_view text) {
  const auto date = DateTime::parse(text);
  return date ? date->seconds_since_epoch() : 0;
}

// SQLite opened as the driver opens it.
sqlite3* open_sqlite() {
  sqlite3* db = nullptr;
  sqlite3_open_v2(kSqliteFile.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_exec(db, "pragma journal_mode=wal; pragma synchronous=normal; pragma foreign_keys=on;", nullptr, nullptr,
               nullptr);
  checkpoint_in_background(db, kSqliteFile, "");
  return db;
}

sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  return stmt;
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

void create_sqlite_database() {
  std::remove(kSqliteFile.c_str());
  sqlite3* db = open_sqlite();
  sqlite3_exec(db, (std::string("create table ") + kTable + kColumnTypes).c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = prepare(db, kInsert);
  for (int i = 0; i < kRetrieveRows; ++i) {
    bind_row(insert, row_values(i));
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// COPY's text form of a row.
std::string copy_line(const std::vector<Value>& values) {
  std::string line;
  for (size_t c = 0; c < values.size(); ++c) {
    if (c) line += '\t';
    const Value& v = values[c];
    line += v.kind() == ValueKind::DateTime ? v.as_datetime().to_sql_text() : v.to_string();
  }
  line += '\n';
  return line;
}

bool copy_rows(PGconn* conn, const std::vector<std::string>& lines) {
  PGresult* started = PQexec(conn, (std::string("copy ") + kTable + " (" + kColumns + ") from stdin").c_str());
  const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
  PQclear(started);
  if (!copying) return false;
  for (const auto& line : lines) PQputCopyData(conn, line.data(), static_cast<int>(line.size()));
  PQputCopyEnd(conn, nullptr);
  PGresult* ended = PQgetResult(conn);
  const bool ok = PQresultStatus(ended) == PGRES_COMMAND_OK;
  PQclear(ended);
  while (PGresult* more = PQgetResult(conn)) PQclear(more);
  return ok;
}

void exec(PGconn* conn, const std::string& sql) { PQclear(PQexec(conn, sql.c_str())); }

bool create_postgres_table() {
  PGconn* conn = PQconnectdb(postgres_url().c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    std::fprintf(stderr, "PostgreSQL: %s", PQerrorMessage(conn));
    PQfinish(conn);
    return false;
  }
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  exec(conn, std::string("drop table if exists ") + kTable);
  exec(conn, std::string("create table ") + kTable + kColumnTypes);
  std::vector<std::string> lines;
  for (int i = 0; i < kRetrieveRows; ++i) lines.push_back(copy_line(row_values(i)));
  const bool ok = copy_rows(conn, lines);
  exec(conn, std::string("analyze ") + kTable);
  PQfinish(conn);
  return ok;
}

void drop_postgres_table() {
  PGconn* conn = PQconnectdb(postgres_url().c_str());
  if (PQstatus(conn) == CONNECTION_OK) exec(conn, std::string("drop table if exists ") + kTable);
  PQfinish(conn);
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

void BM_SqliteRetrieveByHand(benchmark::State& state) {
  sqlite3* db = open_sqlite();
  sqlite3_stmt* stmt = prepare(db, kSelect + "?");
  double total = 0;
  for (auto _ : state) {
    Stopwatch watch;
    HandRows hand;
    hand.reserve(kRetrieveRows);
    sqlite3_bind_text(stmt, 1, "X", -1, SQLITE_STATIC);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      HandRows::Row& row = hand.rows.emplace_back();
      for (int c = 0; c < 10; ++c) {
        hand.arena.append(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                          static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
        row.text_end[c] = static_cast<uint32_t>(hand.arena.size());
      }
      for (int c = 0; c < 5; ++c) row.whole[c] = sqlite3_column_int64(stmt, 10 + c);
      for (int c = 0; c < 3; ++c) row.number[c] = sqlite3_column_double(stmt, 15 + c);
      for (int c = 0; c < 2; ++c) {
        row.date[c] = seconds_of({reinterpret_cast<const char*>(sqlite3_column_text(stmt, 18 + c)),
                                  static_cast<size_t>(sqlite3_column_bytes(stmt, 18 + c))});
      }
    }
    sqlite3_reset(stmt);
    benchmark::DoNotOptimize(hand.rows.data());
    total += watch.seconds();
    state.counters["rows"] = static_cast<double>(hand.rows.size());
    state.counters["bytes_per_row"] =
        static_cast<double>(hand.rows.capacity() * sizeof(HandRows::Row) + hand.arena.capacity()) /
        static_cast<double>(hand.rows.size());
  }
  timings()["sqlite retrieve by hand"] = total / static_cast<double>(state.iterations());
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

void retrieve_data_store(benchmark::State& state, const std::string& url, const std::string& name) {
  std::string error;
  auto sqlca = Transaction::open(url, error);
  if (!sqlca) {
    state.SkipWithError(error.c_str());
    return;
  }
  DataStore ds;
  if (!ds.create(form_text()).empty()) state.SkipWithError("form");
  ds.settransobject(sqlca.get());
  double total = 0;
  for (auto _ : state) {
    Stopwatch watch;
    if (ds.retrieve({Value("X")}) != kRetrieveRows) state.SkipWithError(ds.last_error().c_str());
    total += watch.seconds();
  }
  timings()[name + " retrieve data store"] = total / static_cast<double>(state.iterations());
  size_t payload = 0;
  for (long r = 1; r <= ds.rowcount(); ++r) {
    for (int c = 1; c <= 20; ++c) payload += ds.getitem(r, c).payload_size();
  }
  state.counters["rows"] = static_cast<double>(ds.rowcount());
  state.counters["bytes_per_row"] = static_cast<double>(ds.memory_used()) / static_cast<double>(ds.rowcount());
  state.counters["value_bytes_per_row"] = static_cast<double>(payload) / static_cast<double>(ds.rowcount());
  timings()["memory per row"] = static_cast<double>(ds.memory_used()) / static_cast<double>(ds.rowcount());
  timings()["value bytes per row"] = static_cast<double>(payload) / static_cast<double>(ds.rowcount());
}

void BM_SqliteRetrieveDataStore(benchmark::State& state) { retrieve_data_store(state, kSqliteFile, "sqlite"); }

void delete_new_rows(sqlite3* db) {
  sqlite3_exec(db, (std::string("delete from ") + kTable + " where code >= 'X'").c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::vector<Value>> new_rows() {
  std::vector<std::vector<Value>> rows;
  rows.reserve(kUpdateRows);
  for (int i = 0; i < kUpdateRows; ++i) {
    rows.push_back(row_values(i));
    rows.back()[0] = Value("X" + code_of(i));
  }
  return rows;
}

void BM_SqliteInsertByHand(benchmark::State& state) {
  sqlite3* db = open_sqlite();
  sqlite3_stmt* insert = prepare(db, kInsert);
  double total = 0;
  for (auto _ : state) {
    const auto rows = new_rows();
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
  timings()["sqlite insert by hand"] = total / static_cast<double>(state.iterations());
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

void insert_data_store(benchmark::State& state, const std::string& url, const std::string& name) {
  std::string error;
  auto sqlca = Transaction::open(url, error);
  if (!sqlca) {
    state.SkipWithError(error.c_str());
    return;
  }
  const auto rows = new_rows();
  double total = 0;
  for (auto _ : state) {
    DataStore ds;
    ds.create(form_text());
    ds.settransobject(sqlca.get());
    for (const auto& values : rows) {
      const long row = ds.insertrow(0);
      for (int c = 0; c < 20; ++c) ds.setitem(row, c + 1, values[static_cast<size_t>(c)]);
    }
    Stopwatch watch;
    if (ds.update() != 1 || sqlca->commit() != 0) state.SkipWithError(ds.last_error().c_str());
    total += watch.seconds();
    state.PauseTiming();
    sqlca->execute(std::string("delete from ") + kTable + " where code >= 'X'");
    sqlca->commit();
    state.ResumeTiming();
  }
  timings()[name + " insert data store"] = total / static_cast<double>(state.iterations());
}

void BM_SqliteInsertDataStore(benchmark::State& state) { insert_data_store(state, kSqliteFile, "sqlite"); }

PGconn* connect_postgres(benchmark::State& state) {
  PGconn* conn = PQconnectdb(postgres_url().c_str());
  if (PQstatus(conn) != CONNECTION_OK) state.SkipWithError(PQerrorMessage(conn));
  return conn;
}

template <typename T>
T big_endian(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (sizeof(T) == 4) return static_cast<T>(be32toh(static_cast<uint32_t>(v)));
  if constexpr (sizeof(T) == 8) return static_cast<T>(be64toh(static_cast<uint64_t>(v)));
  return v;
}

double double_of(const char* p) {
  const uint64_t bits = big_endian<uint64_t>(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// One prepared statement read in binary (format 1) or text (format 0).
void postgres_retrieve_by_hand(benchmark::State& state, int format, const char* name) {
  PGconn* conn = connect_postgres(state);
  PQclear(PQprepare(conn, "retrieve", (kSelect + "$1").c_str(), 1, nullptr));
  // Seconds from the epoch to PostgreSQL's own epoch, 2000-01-01.
  const int64_t epoch_2000 = DateTime::from_civil(2000, 1, 1).seconds_since_epoch();
  double total = 0;
  for (auto _ : state) {
    Stopwatch watch;
    const char* upto = "X";
    PGresult* result = PQexecPrepared(conn, "retrieve", 1, &upto, nullptr, nullptr, format);
    const int n = PQntuples(result);
    HandRows hand;
    hand.reserve(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r) {
      HandRows::Row& row = hand.rows.emplace_back();
      for (int c = 0; c < 10; ++c) {
        hand.arena.append(PQgetvalue(result, r, c), static_cast<size_t>(PQgetlength(result, r, c)));
        row.text_end[c] = static_cast<uint32_t>(hand.arena.size());
      }
      if (format == 1) {
        for (int c = 0; c < 5; ++c) row.whole[c] = big_endian<int32_t>(PQgetvalue(result, r, 10 + c));
        for (int c = 0; c < 3; ++c) row.number[c] = double_of(PQgetvalue(result, r, 15 + c));
        for (int c = 0; c < 2; ++c)
          row.date[c] = big_endian<int64_t>(PQgetvalue(result, r, 18 + c)) / 1000000 + epoch_2000;
      } else {
        for (int c = 0; c < 5; ++c) row.whole[c] = std::strtoll(PQgetvalue(result, r, 10 + c), nullptr, 10);
        for (int c = 0; c < 3; ++c) row.number[c] = std::strtod(PQgetvalue(result, r, 15 + c), nullptr);
        for (int c = 0; c < 2; ++c)
          row.date[c] = seconds_of({PQgetvalue(result, r, 18 + c), static_cast<size_t>(PQgetlength(result, r, 18 + c))});
      }
    }
    PQclear(result);
    benchmark::DoNotOptimize(hand.rows.data());
    total += watch.seconds();
    state.counters["rows"] = static_cast<double>(hand.rows.size());
  }
  timings()[name] = total / static_cast<double>(state.iterations());
  PQfinish(conn);
}

void BM_PostgresRetrieveByHandBinary(benchmark::State& state) {
  postgres_retrieve_by_hand(state, 1, "postgresql retrieve by hand, binary");
}
void BM_PostgresRetrieveByHandText(benchmark::State& state) {
  postgres_retrieve_by_hand(state, 0, "postgresql retrieve by hand, text");
}
void BM_PostgresRetrieveDataStore(benchmark::State& state) { retrieve_data_store(state, postgres_url(), "postgresql"); }

void BM_PostgresInsertByHand(benchmark::State& state) {
  PGconn* conn = connect_postgres(state);
  double total = 0;
  for (auto _ : state) {
    std::vector<std::string> lines;
    lines.reserve(kUpdateRows);
    for (const auto& row : new_rows()) lines.push_back(copy_line(row));
    Stopwatch watch;
    exec(conn, "begin");
    if (!copy_rows(conn, lines)) state.SkipWithError(PQerrorMessage(conn));
    exec(conn, "commit");
    total += watch.seconds();
    state.PauseTiming();
    exec(conn, std::string("delete from ") + kTable + " where code >= 'X'");
    state.ResumeTiming();
  }
  timings()["postgresql insert by hand, copy"] = total / static_cast<double>(state.iterations());
  PQfinish(conn);
}

// The same rows through one prepared INSERT, a statement a row, in one transaction.
void BM_PostgresInsertByHandPrepared(benchmark::State& state) {
  PGconn* conn = connect_postgres(state);
  std::string placeholders;
  for (int c = 1; c <= 20; ++c) placeholders += (c > 1 ? ",$" : "$") + std::to_string(c);
  PQclear(PQprepare(conn, "insert", (std::string("insert into ") + kTable + " (" + kColumns + ") values (" +
                                     placeholders + ")").c_str(), 0, nullptr));
  double total = 0;
  for (auto _ : state) {
    std::vector<std::vector<std::string>> texts;
    texts.reserve(kUpdateRows);
    for (const auto& row : new_rows()) {
      auto& t = texts.emplace_back();
      for (const Value& v : row) t.push_back(v.kind() == ValueKind::DateTime ? v.as_datetime().to_sql_text() : v.to_string());
    }
    Stopwatch watch;
    exec(conn, "begin");
    const char* params[20];
    for (const auto& row : texts) {
      for (int c = 0; c < 20; ++c) params[c] = row[static_cast<size_t>(c)].c_str();
      PGresult* result = PQexecPrepared(conn, "insert", 20, params, nullptr, nullptr, 0);
      if (PQresultStatus(result) != PGRES_COMMAND_OK) state.SkipWithError(PQerrorMessage(conn));
      PQclear(result);
    }
    exec(conn, "commit");
    total += watch.seconds();
    state.PauseTiming();
    exec(conn, std::string("delete from ") + kTable + " where code >= 'X'");
    state.ResumeTiming();
  }
  timings()["postgresql insert by hand, prepared"] = total / static_cast<double>(state.iterations());
  PQfinish(conn);
}

void BM_PostgresInsertDataStore(benchmark::State& state) { insert_data_store(state, postgres_url(), "postgresql"); }

BENCHMARK(BM_SqliteRetrieveByHand)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SqliteRetrieveDataStore)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SqliteInsertByHand)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SqliteInsertDataStore)->Unit(benchmark::kMillisecond)->Iterations(5);

void register_postgres_benchmarks() {
  benchmark::RegisterBenchmark("BM_PostgresRetrieveByHandBinary", BM_PostgresRetrieveByHandBinary)
      ->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::RegisterBenchmark("BM_PostgresRetrieveByHandText", BM_PostgresRetrieveByHandText)
      ->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::RegisterBenchmark("BM_PostgresRetrieveDataStore", BM_PostgresRetrieveDataStore)
      ->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::RegisterBenchmark("BM_PostgresInsertByHand", BM_PostgresInsertByHand)
      ->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::RegisterBenchmark("BM_PostgresInsertByHandPrepared", BM_PostgresInsertByHandPrepared)
      ->Unit(benchmark::kMillisecond)->Iterations(5);
  benchmark::RegisterBenchmark("BM_PostgresInsertDataStore", BM_PostgresInsertDataStore)
      ->Unit(benchmark::kMillisecond)->Iterations(5);
}

}  // namespace
}  // namespace shenbao

int main(int argc, char** argv) {
  using namespace shenbao;
  // As the driver does before SQLite starts: no count of SQLite's own memory use.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  create_sqlite_database();
  const bool postgres = !postgres_url().empty() && create_postgres_table();
  if (postgres) register_postgres_benchmarks();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& t = timings();
  auto line = [&](const std::string& figure, const std::string& measured, const std::string& baseline) {
    if (t.count(measured) && t.count(baseline) && t[baseline] > 0)
      bench::table_line(figure, bench::ms(t[measured] * 1e3), bench::ms(t[baseline] * 1e3), t[measured] / t[baseline]);
  };
  line("SQLite: retrieve 100,000 rows of 20 columns, data store / hand-written", "sqlite retrieve data store",
       "sqlite retrieve by hand");
  line("SQLite: insert 10,000 rows in one transaction, data store / hand-written", "sqlite insert data store",
       "sqlite insert by hand");
  if (postgres) {
    const std::string binary = "postgresql retrieve by hand, binary", text = "postgresql retrieve by hand, text";
    t["postgresql retrieve by hand"] = std::min(t[binary], t[text]);
    std::printf("PostgreSQL by hand: binary results %.1f ms, text results %.1f ms\n", t[binary] * 1e3, t[text] * 1e3);
    line("PostgreSQL: retrieve 100,000 rows of 20 columns, data store / hand-written (faster of binary, text)",
         "postgresql retrieve data store", "postgresql retrieve by hand");
    const std::string copy = "postgresql insert by hand, copy", prepared = "postgresql insert by hand, prepared";
    t["postgresql insert by hand"] = std::min(t[copy], t[prepared]);
    std::printf("PostgreSQL inserts by hand: COPY %.1f ms, a prepared INSERT a row %.1f ms\n", t[copy] * 1e3,
                t[prepared] * 1e3);
    line("PostgreSQL: insert 10,000 rows in one transaction, data store / hand-written (faster of COPY, prepared)",
         "postgresql insert data store", "postgresql insert by hand");
    line("PostgreSQL: insert 10,000 rows in one transaction, data store / a prepared INSERT a row",
         "postgresql insert data store", prepared);
    drop_postgres_table();
  }
  if (t.count("memory per row")) {
    bench::table_line("memory a data store holds per row of 20 columns / the size of its values",
                      std::to_string(std::lround(t["memory per row"])) + " B",
                      std::to_string(std::lround(t["value bytes per row"])) + " B",
                      t["memory per row"] / t["value bytes per row"]);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((kSqliteFile + suffix).c_str());
  return 0;
}
