#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/runtime/values/column_type.h"
#include "framework/runtime/values/packed_row.h"
#include "framework/runtime/values/value.h"

namespace shenbao {

enum class Dialect { SQLite, PostgreSQL };

// One row of a result while a query runs. Cells are read by position; with a column type the
// database's value is read as that type, without one as what the database says it is.
class ResultRow {
 public:
  virtual ~ResultRow() = default;
  virtual int column_count() const = 0;
  virtual std::string column_name(int column) const = 0;
  virtual Value get(int column, const ColumnType* type = nullptr) const = 0;
  // Appends get(column, &type) to a packed row (see PackedRow); a driver may do it without
  // making the Value.
  virtual void append_packed(int column, const ColumnType& type, std::string& packed) const {
    PackedRow::append(packed, get(column, &type));
  }
};

struct ResultColumn {
  std::string name;
  ColumnType type;
};

// A database driver: runs one statement with bound parameters (already numbered for its
// dialect) and reports errors. Internal to Transaction; see sqlite_driver.cpp and
// postgres_driver.cpp.
class StatementObserver;

class Driver {
 public:
  struct Outcome {
    bool ok = true;
    long rows_affected = 0;
    std::string error;
    long dbcode = 0;
  };
  virtual ~Driver() = default;
  virtual Dialect dialect() const = 0;
  // The database library's own connection handle (sqlite3* on SQLite), for what needs the
  // library itself; nullptr where there is none to give.
  virtual void* native_handle() { return nullptr; }
  // Told after each statement the driver runs; SQLite's driver only.
  virtual void observe(std::unique_ptr<StatementObserver> observer) {}
  virtual StatementObserver* observer() { return nullptr; }
  virtual Outcome run(const std::string& sql, const std::vector<Value>& params,
                      const std::function<bool(const ResultRow&)>* on_row) = 0;
  virtual Outcome describe(const std::string& sql, std::vector<ResultColumn>& columns) = 0;
};

// Watches the statements of one connection (the journal's recorder on SQLite): told when each
// statement has run, before its caller hears of it, whether it succeeded. Its answer becomes the
// statement's: an observer that cannot do its part fails the statement.
class StatementObserver {
 public:
  virtual ~StatementObserver() = default;
  virtual Driver::Outcome statement_ended(const Driver::Outcome& outcome) = 0;
};

// The transaction object (`SQLCA`): one connection, and the status of its last statement.
//
//   auto sqlca = Transaction::open("sqlite:/tmp/x.db", error);
//   std::vector<Value> row;
//   sqlca->select_into("select gg_bm_mc from gg_bumen_bm where book_code = :com", {com}, row);
//   if (sqlca->sqlcode == 100) ...   // no row: `row` is left unchanged
//
// Statements use `:name` host variables; the values are bound in the order in which distinct
// names first appear, never spliced into the SQL text. A transaction begins with the first
// statement after open, commit or rollback and lasts until commit or rollback. A failed
// statement undoes only itself (on PostgreSQL through a savepoint), as on SQLite.
// sqlcode: 0 success, 100 no row (select_into found nothing, update/delete touched nothing),
// -1 error with sqlerrtext (the database's text) and sqldbcode (its code). Not thread-safe:
// one per session.
class Transaction {
 public:
  // A database named by a URL: a file path or `sqlite:PATH` for SQLite, `postgresql://...`
  // for PostgreSQL (`?options=-csearch_path%3Dname` selects a schema). nullptr and an error
  // text when the connection fails.
  static std::unique_ptr<Transaction> open(const std::string& url, std::string& error);
  ~Transaction();

  long sqlcode = 0;
  std::string sqlerrtext;
  long sqldbcode = 0;
  long sqlnrows = 0;

  Dialect dialect() const { return driver_->dialect(); }
  // See Driver: the library's connection handle, and the observer of its statements.
  void* native_handle() { return driver_->native_handle(); }
  void observe(std::unique_ptr<StatementObserver> observer) { driver_->observe(std::move(observer)); }
  StatementObserver* observer() { return driver_->observer(); }

  // UPDATE, INSERT, DELETE or DDL. Answers sqlcode.
  long execute(std::string_view sql, const std::vector<Value>& params = {});
  // SELECT ... (the `into` of embedded SQL is the `into` vector): fills `into` from the first
  // row. Answers sqlcode; 100 and `into` untouched when there is no row.
  long select_into(std::string_view sql, const std::vector<Value>& params, std::vector<Value>& into);
  // Runs a query and calls on_row for each row until it answers false. Answers sqlcode
  // (0 also when there were no rows).
  long query(std::string_view sql, const std::vector<Value>& params,
             const std::function<bool(const ResultRow&)>& on_row);
  // The result columns of a query, without running it (used by syntaxfromsql).
  long describe(std::string_view sql, std::vector<ResultColumn>& columns);
  long commit();
  long rollback();
  bool in_transaction() const { return in_transaction_; }
  // Begins the transaction now rather than at the first write: on SQLite with the database's
  // write lock (begin immediate), so that what is read next stays as read until commit. False,
  // with sqlcode -1, when it cannot begin.
  bool begin();

  // Tables that only one writer of the layer above may write (that layer names them). A
  // statement that writes such a table (insert into, update, delete from) while no
  // WritePermit is held is a programming error: the transaction is rolled back and
  // std::logic_error thrown, so a write that goes around the writer fails loudly, never
  // silently. Without a predicate nothing is protected.
  void protect_tables(std::function<bool(std::string_view table)> is_protected);
  // Held by that one writer while it writes the protected tables.
  class WritePermit {
   public:
    explicit WritePermit(Transaction& sqlca) : sqlca_(&sqlca) { ++sqlca_->permits_; }
    ~WritePermit() { --sqlca_->permits_; }
    WritePermit(const WritePermit&) = delete;
    WritePermit& operator=(const WritePermit&) = delete;

   private:
    Transaction* sqlca_;
  };

  // Runs `work` so that it takes effect whole or not at all: when it answers false every
  // statement it ran is undone (a savepoint), and the transaction goes on.
  bool atomically(const std::function<bool()>& work);

  // Runs a text of statements separated by ";" at line ends (schema files), `@IDENTITY@`
  // standing for a generated whole-number key. Answers sqlcode.
  long execute_script(std::string_view script);

 private:
  explicit Transaction(std::unique_ptr<Driver> driver);
  // The statement with its `:name` host variables numbered for the driver's dialect.
  struct Numbered {
    std::string sql;
    size_t names = 0;
  };
  const Numbered& number_host_variables(std::string_view sql);
  long run(std::string_view sql, const std::vector<Value>& params,
           const std::function<bool(const ResultRow&)>* on_row);
  bool control(const char* sql);
  // Runs one statement of the driver; inside a PostgreSQL transaction under a savepoint of
  // its own, so that its failure undoes only itself.
  Driver::Outcome guarded(const std::function<Driver::Outcome()>& statement);
  long end_transaction(const char* verb);
  bool begin_if_needed();
  long fail(const Driver::Outcome& outcome);

  std::unique_ptr<Driver> driver_;
  bool in_transaction_ = false;
  int savepoint_depth_ = 0;
  std::unordered_map<std::string, Numbered> numbered_;
  std::function<bool(std::string_view table)> is_protected_;
  int permits_ = 0;
};

// The table a statement writes: the name after "insert into", "update" or "delete from",
// lower-cased; empty for any other statement.
std::string written_table(std::string_view sql);

std::unique_ptr<Driver> open_sqlite_driver(const std::string& path, std::string& error);
std::unique_ptr<Driver> open_postgres_driver(const std::string& url, std::string& error);

}  // namespace shenbao
