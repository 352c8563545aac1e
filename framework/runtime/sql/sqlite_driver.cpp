#include <sqlite3.h>

#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/sql/wal_checkpointer.h"

namespace shenbao {
namespace {

// Reads a declared SQL type ("varchar(20)", "timestamp", ...) as a form column type.
ColumnType type_from_declared(const char* declared) {
  std::string t = declared ? declared : "";
  for (auto& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto size_in_parens = [&](int fallback) {
    const size_t open = t.find('(');
    if (open == std::string::npos) return fallback;
    const size_t comma = t.find(',', open);
    const size_t from = comma == std::string::npos ? open : comma;
    return std::atoi(t.c_str() + from + 1);
  };
  if (t.find("char") != std::string::npos) return {TypeKind::Char, size_in_parens(255)};
  if (t == "text" || t.find("clob") != std::string::npos) return {TypeKind::Char, 32766};
  if (t.find("int") != std::string::npos) return {TypeKind::Long, 0};
  if (t.find("numeric") != std::string::npos || t.find("decimal") != std::string::npos)
    return {TypeKind::Decimal, size_in_parens(2)};
  if (t.find("double") != std::string::npos || t.find("real") != std::string::npos ||
      t.find("float") != std::string::npos)
    return {TypeKind::Number, 0};
  if (t.find("timestamp") != std::string::npos || t.find("datetime") != std::string::npos)
    return {TypeKind::DateTime, 0};
  if (t == "date") return {TypeKind::Date, 0};
  return {TypeKind::Char, 255};
}

class SqliteRow final : public ResultRow {
 public:
  explicit SqliteRow(sqlite3_stmt* stmt) : stmt_(stmt) {}
  int column_count() const override { return sqlite3_column_count(stmt_); }
  std::string column_name(int column) const override { return sqlite3_column_name(stmt_, column); }

  Value get(int column, const ColumnType* type) const override {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_NULL: return {};
      case SQLITE_INTEGER: {
        const long long v = sqlite3_column_int64(stmt_, column);
        if (type && (type->kind == TypeKind::Number || type->kind == TypeKind::Decimal))
          return Value(static_cast<double>(v));
        if (type && type->kind == TypeKind::Char) return Value(std::to_string(v));
        return Value(v);
      }
      case SQLITE_FLOAT: {
        Value v(sqlite3_column_double(stmt_, column));
        if (type && type->kind == TypeKind::Long) type->coerce(v);
        if (type && type->kind == TypeKind::Char) return Value(format_number(v.as_number()));
        return v;
      }
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        const std::string_view view(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
        if (type) return type->from_db_text(view);
        if (const ColumnType* date = declared_date(column)) return date->from_db_text(view);
        return Value(view);
      }
    }
  }

  // Texts, whole numbers and numbers of columns of their own kind go straight from SQLite's
  // buffers into the row: most values of a retrieve are of these.
  void append_packed(int column, const ColumnType& type, std::string& packed) const override {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_NULL: PackedRow::append_null(packed); return;
      case SQLITE_INTEGER:
        if (type.kind == TypeKind::Long) return PackedRow::append_long(packed, sqlite3_column_int64(stmt_, column));
        break;
      case SQLITE_FLOAT:
        if (type.kind == TypeKind::Number) return PackedRow::append_number(packed, sqlite3_column_double(stmt_, column));
        break;
      case SQLITE_TEXT:
        if (type.kind == TypeKind::Char) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
          return PackedRow::append_text(packed, {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))});
        }
        break;
      default: break;
    }
    PackedRow::append(packed, get(column, &type));
  }

 private:
  // The declared type of a column when it is a date or time, read once per statement run.
  const ColumnType* declared_date(int column) const {
    if (declared_.empty()) {
      declared_.resize(static_cast<size_t>(column_count()));
      for (int c = 0; c < column_count(); ++c) {
        if (const char* declared = sqlite3_column_decltype(stmt_, c)) declared_[static_cast<size_t>(c)] = type_from_declared(declared);
      }
    }
    const auto& type = declared_[static_cast<size_t>(column)];
    return type && type->is_date() ? &*type : nullptr;
  }

  sqlite3_stmt* stmt_;
  mutable std::vector<std::optional<ColumnType>> declared_;
};

// SQLite through its C API: one connection in WAL mode with a busy timeout, and a cache of
// prepared statements keyed by their text.
class SqliteDriver final : public Driver {
 public:
  explicit SqliteDriver(sqlite3* db) : db_(db) {}
  ~SqliteDriver() override {
    observer_.reset();  // it may hold statements of the connection
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
  }

  Dialect dialect() const override { return Dialect::SQLite; }
  void* native_handle() override { return db_; }
  void observe(std::unique_ptr<StatementObserver> observer) override { observer_ = std::move(observer); }
  StatementObserver* observer() override { return observer_.get(); }

  Outcome run(const std::string& sql, const std::vector<Value>& params,
              const std::function<bool(const ResultRow&)>* on_row) override {
    sqlite3_stmt* stmt = nullptr;
    if (Outcome o = prepare(sql, stmt); !o.ok) return o;
    for (size_t i = 0; i < params.size(); ++i) {
      const Value& v = params[i];
      const int index = static_cast<int>(i + 1);
      switch (v.kind()) {
        case ValueKind::Null: sqlite3_bind_null(stmt, index); break;
        case ValueKind::Long: sqlite3_bind_int64(stmt, index, v.as_long()); break;
        case ValueKind::Number: sqlite3_bind_double(stmt, index, v.as_number()); break;
        case ValueKind::Text: {
          const auto text = v.as_text();
          sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
          break;
        }
        case ValueKind::DateTime: {
          const std::string text = v.as_datetime().to_sql_text();
          sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
          break;
        }
      }
    }
    Outcome outcome;
    SqliteRow row(stmt);
    for (;;) {
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        if (on_row && !(*on_row)(row)) break;
        continue;
      }
      if (rc == SQLITE_DONE) {
        outcome.rows_affected = sqlite3_changes(db_);
        break;
      }
      outcome = error();
      break;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return observer_ ? observer_->statement_ended(outcome) : outcome;
  }

  Outcome describe(const std::string& sql, std::vector<ResultColumn>& columns) override {
    sqlite3_stmt* stmt = nullptr;
    if (Outcome o = prepare(sql, stmt); !o.ok) return o;
    columns.clear();
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const char* declared = sqlite3_column_decltype(stmt, c);
      // Expressions (count(*), sums) have no declared type: they are numbers.
      const ColumnType type = declared ? type_from_declared(declared) : ColumnType{TypeKind::Number, 0};
      columns.push_back({sqlite3_column_name(stmt, c), type});
    }
    return {};
  }

 private:
  Outcome error() const {
    return {false, 0, sqlite3_errmsg(db_), sqlite3_extended_errcode(db_)};
  }

  Outcome prepare(const std::string& sql, sqlite3_stmt*& stmt) {
    if (auto found = cache_.find(sql); found != cache_.end()) {
      stmt = found->second;
      return {};
    }
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                           &tail) != SQLITE_OK)
      return error();
    if (!stmt) return {false, 0, "empty statement", 0};
    if (cache_.size() > 256) {
      for (auto& [text, cached] : cache_) sqlite3_finalize(cached);
      cache_.clear();
    }
    cache_.emplace(sql, stmt);
    return {};
  }

  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  std::unique_ptr<StatementObserver> observer_;
};

}  // namespace

// `location` is a file path, optionally followed by "?vfs=NAME": the file is then opened
// through the SQLite VFS registered under NAME (one that wraps the file system's, for
// instance) instead of the default one.
std::unique_ptr<Driver> open_sqlite_driver(const std::string& location, std::string& error) {
  std::string path = location;
  std::string vfs;
  if (const size_t at = location.rfind("?vfs="); at != std::string::npos) {
    path = location.substr(0, at);
    vfs = location.substr(at + 5);
  }
  // SQLite's count of its own memory use takes a lock around every allocation, in every
  // connection of the process; nothing here reads the count. Set once, before SQLite starts
  // (afterwards the call is refused and changes nothing).
  static const bool memory_unstated = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)memory_unstated;
  sqlite3* db = nullptr;
  // A transaction is used by one thread at a time (see transaction.h): its connection needs no
  // lock of its own, which would otherwise be taken around every value read.
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      vfs.empty() ? nullptr : vfs.c_str()) != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db) : "cannot open " + path;
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_exec(db, "pragma journal_mode=wal; pragma synchronous=normal; pragma foreign_keys=on;", nullptr, nullptr,
               nullptr);
  checkpoint_in_background(db, path, vfs);
  return std::make_unique<SqliteDriver>(db);
}

}  // namespace shenbao
