#include "framework/runtime/sql/journal.h"

#include <nlohmann/json.hpp>
// Debian's SQLite is built with the pre-update hook; its header declares it only when asked.
#define SQLITE_ENABLE_PREUPDATE_HOOK
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "framework/runtime/values/json_text.h"

namespace shenbao {
namespace {

std::string sql_name(std::string_view name) { return "\"" + std::string(name) + "\""; }
std::string literal(std::string_view text) { return "'" + std::string(text) + "'"; }

struct TableColumns {
  std::vector<std::string> columns;
  std::vector<std::string> key;  // in key order
};

std::vector<std::string> base_tables(Transaction& sqlca) {
  std::vector<std::string> names;
  const char* sql = sqlca.dialect() == Dialect::SQLite
                        ? "select name from main.sqlite_master where type = 'table' and name not like 'sqlite_%'"
                        : "select table_name from information_schema.tables where table_schema = current_schema() "
                          "and table_type = 'BASE TABLE'";
  sqlca.query(sql, {}, [&](const ResultRow& row) {
    names.push_back(row.get(0).to_string());
    return true;
  });
  return names;
}

// Table and column names come from the database's own catalogue; they are checked to be plain
// names all the same, as they are put into trigger text.
bool is_plain_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

TableColumns sqlite_columns(Transaction& sqlca, const std::string& table) {
  TableColumns t;
  std::vector<std::pair<long, std::string>> key;
  sqlca.query("select name, pk from pragma_table_info(:t)", {Value(table)}, [&](const ResultRow& row) {
    const std::string name = row.get(0).to_string();
    t.columns.push_back(name);
    if (const long pk = row.get(1).as_long(); pk > 0) key.emplace_back(pk, name);
    return true;
  });
  std::sort(key.begin(), key.end());
  for (auto& [order, name] : key) t.key.push_back(name);
  return t;
}

// A JSON object of the row's columns. A function takes at most 127 arguments, so a wide row is
// built in parts (json_insert keeps a null value, where merging objects would drop it).
std::string json_of(const std::vector<std::string>& columns, const char* row) {
  constexpr size_t kPairs = 60;
  std::string sql;
  for (size_t first = 0; first < columns.size() || first == 0; first += kPairs) {
    std::string pairs;
    for (size_t i = first; i < std::min(columns.size(), first + kPairs); ++i)
      pairs += ", " + (first == 0 ? literal(columns[i]) : literal("$." + columns[i])) + ", " + row + "." +
               sql_name(columns[i]);
    sql = first == 0 ? "json_object(" + pairs.substr(std::min<size_t>(2, pairs.size())) + ")"
                     : "json_insert(" + sql + pairs + ")";
    if (columns.empty()) break;
  }
  return sql;
}

// SQLite's journal is kept by the connection itself: its pre-update hook sees every row any
// statement writes (triggers' and cascades' included), and the changes of one statement are
// written to sb_journal as soon as it has run, before its caller hears of it. A statement that
// fails leaves nothing: its own changes are undone by SQLite, its journal rows dropped.
class SqliteRecorder final : public StatementObserver {
 public:
  explicit SqliteRecorder(sqlite3* db) : db_(db) {}
  ~SqliteRecorder() override {
    sqlite3_preupdate_hook(db_, nullptr, nullptr);
    for (sqlite3_stmt* insert : inserts_) sqlite3_finalize(insert);
  }

  void watch(std::string table, const TableColumns& t) {
    Shape shape;
    shape.columns = t.columns;
    for (const std::string& c : t.columns) shape.names.push_back("\"" + c + "\":");
    // A table without a primary key is keyed by all its columns.
    shape.in_key.assign(t.columns.size(), t.key.empty() ? 1 : 0);
    for (const std::string& k : t.key)
      shape.in_key[std::find(t.columns.begin(), t.columns.end(), k) - t.columns.begin()] = 1;
    const auto worker = std::find(t.columns.begin(), t.columns.end(), "worker_code");
    shape.worker = worker == t.columns.end() ? -1 : static_cast<int>(worker - t.columns.begin());
    tables_.emplace(std::move(table), std::move(shape));
  }
  void start() { sqlite3_preupdate_hook(db_, &SqliteRecorder::on_write, this); }

  void record_under(long long history_id) { history_id_ = history_id; }
  void stop() { history_id_ = 0; }

  Driver::Outcome statement_ended(const Driver::Outcome& outcome) override {
    if (pending_.empty()) return outcome;
    Driver::Outcome answer = outcome;
    if (answer.ok && !write_pending())
      answer = {false, 0, std::string("cannot journal the change: ") + sqlite3_errmsg(db_), sqlite3_extended_errcode(db_)};
    pending_.clear();
    texts_.clear();
    return answer;
  }

 private:
  struct Shape {
    std::vector<std::string> columns;
    int worker = -1;       // the position of worker_code, -1 when the table has none
    std::vector<std::string> names;  // each column's `"name":`, as the JSON texts begin a pair
    std::vector<char> in_key;        // per column: whether it is of the key
  };
  // The texts of one statement's changes, kept in blocks that never move: a statement that
  // writes ten thousand rows makes neither ten thousand small allocations nor copies of a
  // growing buffer. A few blocks are kept from one statement to the next.
  class Texts {
   public:
    std::string_view keep(std::string_view text) {
      char* at;
      if (text.size() > kBlock) {
        at = large_.emplace_back(std::make_unique_for_overwrite<char[]>(text.size())).get();
      } else {
        if (kBlock - used_ < text.size()) {
          if (++current_ == blocks_.size()) blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
          used_ = 0;
        }
        at = blocks_[current_].get() + used_;
        used_ += text.size();
      }
      std::memcpy(at, text.data(), text.size());
      return {at, text.size()};
    }
    void clear() {
      if (blocks_.size() > kKeptBlocks) blocks_.resize(kKeptBlocks);
      large_.clear();
      current_ = static_cast<size_t>(-1);
      used_ = kBlock;
    }

   private:
    static constexpr size_t kBlock = 64 * 1024;
    static constexpr size_t kKeptBlocks = 4;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::unique_ptr<char[]>> large_;  // texts longer than a block, one each
    size_t current_ = static_cast<size_t>(-1);
    size_t used_ = kBlock;
  };
  // One change caught; an empty text stands for null.
  struct Change {
    const std::string* table;
    const char* action;
    std::string_view key, before, after;
    std::string_view worker;  // the worker's code as it stands, not JSON
  };

  static void on_write(void* self, sqlite3* db, int op, const char* schema, const char* table, sqlite3_int64,
                       sqlite3_int64) {
    auto* recorder = static_cast<SqliteRecorder*>(self);
    if (recorder->history_id_ == 0 || std::strcmp(schema, "main") != 0) return;
    const auto found = recorder->tables_.find(std::string_view(table));
    if (found == recorder->tables_.end()) return;
    recorder->caught(db, op, found->first, found->second);
  }

  // One pass over the row's columns builds its key and the before and after objects of the
  // columns that changed (all of them for an insert or a delete).
  void caught(sqlite3* db, int op, const std::string& table, const Shape& shape) {
    key_.assign(1, '{');
    before_.assign(1, '{');
    after_.assign(1, '{');
    bool any = op != SQLITE_UPDATE;
    sqlite3_value* worker = nullptr;
    for (int i = 0; i < static_cast<int>(shape.columns.size()); ++i) {
      sqlite3_value* old_value = nullptr;
      sqlite3_value* new_value = nullptr;
      if (op != SQLITE_INSERT) sqlite3_preupdate_old(db, i, &old_value);
      if (op != SQLITE_DELETE) sqlite3_preupdate_new(db, i, &new_value);
      sqlite3_value* keyed = op == SQLITE_INSERT ? new_value : old_value;
      if (shape.in_key[i]) add_pair(key_, shape.names[i], keyed);
      if (i == shape.worker) worker = keyed;
      if (op == SQLITE_UPDATE && same(old_value, new_value)) continue;
      any = true;
      if (old_value) add_pair(before_, shape.names[i], old_value);
      if (new_value) add_pair(after_, shape.names[i], new_value);
    }
    if (!any) return;
    Change change{&table, op == SQLITE_INSERT ? "insert" : op == SQLITE_DELETE ? "delete" : "update", {}, {}, {}, {}};
    change.key = texts_.keep(key_ += '}');
    if (op != SQLITE_INSERT) change.before = texts_.keep(before_ += '}');
    if (op != SQLITE_DELETE) change.after = texts_.keep(after_ += '}');
    if (worker && sqlite3_value_type(worker) != SQLITE_NULL) {
      const auto* code = static_cast<const char*>(sqlite3_value_blob(worker));
      change.worker = texts_.keep({code ? code : "", static_cast<size_t>(sqlite3_value_bytes(worker))});
    }
    pending_.push_back(change);
  }

  static bool same(sqlite3_value* a, sqlite3_value* b) {
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    const bool numbers = (ta == SQLITE_INTEGER || ta == SQLITE_FLOAT) && (tb == SQLITE_INTEGER || tb == SQLITE_FLOAT);
    if (numbers) {
      return ta == SQLITE_INTEGER && tb == SQLITE_INTEGER ? sqlite3_value_int64(a) == sqlite3_value_int64(b)
                                                          : sqlite3_value_double(a) == sqlite3_value_double(b);
    }
    if (ta != tb) return false;
    if (ta == SQLITE_NULL) return true;
    const int size = sqlite3_value_bytes(a);
    return size == sqlite3_value_bytes(b) && std::memcmp(sqlite3_value_blob(a), sqlite3_value_blob(b), size) == 0;
  }

  // `"name":value`, as SQLite's json_object writes it (column names are plain).
  static void add_pair(std::string& out, const std::string& name, sqlite3_value* value) {
    if (out.size() > 1) out += ',';
    out += name;
    switch (sqlite3_value_type(value)) {
      case SQLITE_INTEGER: out += std::to_string(sqlite3_value_int64(value)); return;
      case SQLITE_FLOAT: JsonTextWriter(out).number(sqlite3_value_double(value)); return;
      case SQLITE_NULL: out += "null"; return;
      default: break;
    }
    const auto* text = static_cast<const char*>(sqlite3_value_blob(value));
    append_json_string(out, std::string_view(text ? text : "", sqlite3_value_bytes(value)));
  }

  // The changes in statements of 256, 16 or 1 rows each, the largest that fit: one statement
  // per row would also move the table's key counter once per row.
  static constexpr size_t kBatches[] = {256, 16, 1};
  static constexpr int kColumns = 7;

  bool write_pending() {
    size_t next = 0;
    for (size_t b = 0; b < std::size(kBatches); ++b) {
      const size_t rows = kBatches[b];
      for (; pending_.size() - next >= rows; next += rows) {
        if (!inserts_[b] && !prepare_insert(rows, inserts_[b])) return false;
        for (size_t r = 0; r < rows; ++r) bind(inserts_[b], static_cast<int>(r * kColumns), pending_[next + r]);
        if (!step(inserts_[b])) return false;
      }
    }
    return true;
  }

  bool step(sqlite3_stmt* insert) {
    const bool ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
    return ok;
  }

  bool prepare_insert(size_t rows, sqlite3_stmt*& insert) {
    std::string sql = "insert into main.sb_journal (history_id, target, action, row_key, before_values, after_values, "
                      "worker_code) values ";
    for (size_t r = 0; r < rows; ++r) sql += r ? ", (?, ?, ?, ?, ?, ?, ?)" : "(?, ?, ?, ?, ?, ?, ?)";
    return sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &insert, nullptr) == SQLITE_OK;
  }

  void bind(sqlite3_stmt* insert, int offset, const Change& change) {
    const auto text = [&](int index, std::string_view text) {
      if (text.empty()) sqlite3_bind_null(insert, offset + index);
      else sqlite3_bind_text(insert, offset + index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    };
    sqlite3_bind_int64(insert, offset + 1, history_id_);
    sqlite3_bind_text(insert, offset + 2, change.table->data(), static_cast<int>(change.table->size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, offset + 3, change.action, -1, SQLITE_STATIC);
    text(4, change.key);
    text(5, change.before);
    text(6, change.after);
    text(7, change.worker);
  }

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  sqlite3* db_;
  sqlite3_stmt* inserts_[std::size(kBatches)] = {};  // one for each size of kBatches
  std::unordered_map<std::string, Shape, NameHash, std::equal_to<>> tables_;
  long long history_id_ = 0;  // 0: not recording
  std::deque<Change> pending_;  // a deque: ten thousand changes are never moved as it grows
  Texts texts_;
  std::string key_, before_, after_;  // the JSON objects of the row being caught, reused
};

// One function for every table: the rows of the statement's transition tables, set-based.
// The key columns are the trigger's arguments.
constexpr const char* kPostgresFunction = R"SQL(
create or replace function sb_journal_statement() returns trigger language plpgsql as $f$
declare
  history text := current_setting('shenbao.journal', true);
  keys text := (select string_agg(format('%L, to_jsonb(r) -> %L', k, k), ', ') from unnest(TG_ARGV) k);
  joined text := (select string_agg(format('r.%I is not distinct from n.%I', k, k), ' and ') from unnest(TG_ARGV) k);
begin
  if history is null or history = '' then return null; end if;
  if TG_OP = 'INSERT' then
    execute format('insert into sb_journal (history_id, target, action, row_key, after_values, worker_code) '
                   'select $1, %L, ''insert'', jsonb_build_object(%s)::text, to_jsonb(r)::text, '
                   'to_jsonb(r) ->> ''worker_code'' from sb_new r',
                   TG_TABLE_NAME, keys) using history::bigint;
  elsif TG_OP = 'DELETE' then
    execute format('insert into sb_journal (history_id, target, action, row_key, before_values, worker_code) '
                   'select $1, %L, ''delete'', jsonb_build_object(%s)::text, to_jsonb(r)::text, '
                   'to_jsonb(r) ->> ''worker_code'' from sb_old r',
                   TG_TABLE_NAME, keys) using history::bigint;
  else
    execute format('insert into sb_journal (history_id, target, action, row_key, before_values, after_values, '
                   'worker_code) select $1, %L, ''update'', k::text, b::text, a::text, w from ('
                   'select jsonb_build_object(%s) as k, to_jsonb(r) ->> ''worker_code'' as w, '
                   '(select jsonb_object_agg(e.key, e.value) from jsonb_each(to_jsonb(r)) e '
                   '  where e.value is distinct from to_jsonb(n) -> e.key) as b, '
                   '(select jsonb_object_agg(e.key, e.value) from jsonb_each(to_jsonb(n)) e '
                   '  where e.value is distinct from to_jsonb(r) -> e.key) as a '
                   'from sb_old r join sb_new n on %s) c where b is not null',
                   TG_TABLE_NAME, keys, joined) using history::bigint;
  end if;
  return null;
end
$f$)SQL";

std::vector<std::string> postgres_key(Transaction& sqlca, const std::string& table) {
  std::vector<std::string> key;
  sqlca.query(
      "select a.attname from pg_index i join pg_attribute a on a.attrelid = i.indrelid and a.attnum = any(i.indkey) "
      "where i.indrelid = (current_schema() || '.' || :t)::regclass and i.indisprimary "
      "order by array_position(i.indkey::int2[], a.attnum)",
      {Value(table)}, [&](const ResultRow& row) {
        key.push_back(row.get(0).to_string());
        return true;
      });
  return key;
}

bool install_postgres(Transaction& sqlca, const std::string& table) {
  std::vector<std::string> key = postgres_key(sqlca, table);
  // A table without a primary key is keyed by all its columns, as on SQLite.
  if (key.empty()) {
    sqlca.query("select column_name from information_schema.columns where table_schema = current_schema() and "
                "table_name = :t order by ordinal_position",
                {Value(table)}, [&](const ResultRow& row) {
                  key.push_back(row.get(0).to_string());
                  return true;
                });
  }
  std::string arguments;
  for (const std::string& k : key) {
    if (!is_plain_name(k)) return true;
    arguments += (arguments.empty() ? "" : ", ") + literal(k);
  }
  for (const auto& [suffix, event, tables] :
       {std::tuple{"_i", "insert", "new table as sb_new"}, std::tuple{"_u", "update", "old table as sb_old new table as sb_new"},
        std::tuple{"_d", "delete", "old table as sb_old"}}) {
    const std::string name = sql_name("sbj_" + table + suffix);
    if (sqlca.execute("drop trigger if exists " + name + " on " + sql_name(table)) < 0 ||
        sqlca.execute("create trigger " + name + " after " + event + " on " + sql_name(table) + " referencing " + tables +
                      " for each statement execute function sb_journal_statement(" + arguments + ")") < 0)
      return false;
  }
  return true;
}

}  // namespace

bool install_journal(Transaction& sqlca, const std::function<bool(std::string_view table)>& journaled) {
  if (sqlca.dialect() == Dialect::SQLite) return true;
  if (sqlca.execute(kPostgresFunction) < 0) return false;
  for (const std::string& table : base_tables(sqlca)) {
    if (is_plain_name(table) && journaled(table) && !install_postgres(sqlca, table)) return false;
  }
  return true;
}

bool attach_journal(Transaction& sqlca, const std::function<bool(std::string_view table)>& journaled) {
  if (sqlca.dialect() != Dialect::SQLite) return true;
  auto recorder = std::make_unique<SqliteRecorder>(static_cast<sqlite3*>(sqlca.native_handle()));
  for (const std::string& table : base_tables(sqlca)) {
    if (!journaled(table)) continue;
    const TableColumns columns = sqlite_columns(sqlca, table);
    if (!columns.columns.empty()) recorder->watch(table, columns);
  }
  if (sqlca.sqlcode < 0) return false;
  recorder->start();
  sqlca.observe(std::move(recorder));
  return sqlca.commit() == 0;
}

namespace {

using nlohmann::json;

json parsed(const std::string& text) {
  json value = json::parse(text.empty() ? "{}" : text, nullptr, false);
  return value.is_object() ? value : json::object();
}

// A journalled value as a statement's parameter: text as text (the database reads a date-time
// text as its column's type), whole numbers and decimals as numbers.
Value parameter(const json& value) {
  if (value.is_null()) return Value();
  if (value.is_boolean()) return Value(static_cast<long long>(value.get<bool>()));
  if (value.is_number_integer()) return Value(value.get<long long>());
  if (value.is_number()) return Value(value.get<double>());
  if (value.is_string()) return Value(value.get<std::string>());
  return Value(value.dump());
}

// " where k1 = :k0 and k2 is null", its parameters appended to `params`; names are checked.
std::string where_key(const json& key, std::vector<Value>& params) {
  std::string where;
  for (const auto& [column, value] : key.items()) {
    if (!is_plain_name(column)) return " where 1 = 0";
    where += where.empty() ? " where " : " and ";
    if (value.is_null()) {
      where += sql_name(column) + " is null";
    } else {
      where += sql_name(column) + " = :k" + std::to_string(params.size());
      params.push_back(parameter(value));
    }
  }
  return where.empty() ? " where 1 = 0" : where;
}

// The row of `table` with `key` as the journal's JSON shows rows; nothing when there is none.
std::optional<json> current_row(Transaction& sqlca, const std::string& table, const json& key) {
  if (!is_plain_name(table)) return std::nullopt;
  std::vector<Value> params;
  const std::string where = where_key(key, params);
  std::string select;
  if (sqlca.dialect() == Dialect::SQLite) {
    select = "select " + json_of(sqlite_columns(sqlca, table).columns, sql_name(table).c_str()) + " from " + sql_name(table);
  } else {
    select = "select to_jsonb(t)::text from " + sql_name(table) + " t";
  }
  std::vector<Value> row;
  if (sqlca.select_into(select + where, params, row) != 0) return std::nullopt;
  return parsed(row[0].to_string());
}

// Whether `row` holds each of `values`: a number compared as a number (1 and 1.0 alike).
bool holds(const json& row, const json& values) {
  for (const auto& [column, value] : values.items()) {
    const auto found = row.find(column);
    if (found == row.end()) return false;
    if (found->is_number() && value.is_number()) {
      if (found->get<double>() != value.get<double>()) return false;
    } else if (*found != value) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<JournalRow> journal_rows(Transaction& sqlca, long long history_id) {
  std::vector<JournalRow> rows;
  sqlca.query("select pk_id, target, action, row_key, before_values, after_values from sb_journal "
              "where history_id = :h order by pk_id",
              {Value(history_id)}, [&](const ResultRow& row) {
                const auto text = [&](int c) { return row.get(c).is_null() ? std::string() : row.get(c).to_string(); };
                rows.push_back({row.get(0).as_long(), text(1), text(2), text(3), text(4), text(5)});
                return true;
              });
  return rows;
}

bool still_as_written(Transaction& sqlca, const JournalRow& change) {
  const json key = parsed(change.key);
  if (change.action == "delete") return !current_row(sqlca, change.target, key).has_value();
  // An update that changed a key column is found under its new key.
  json now_key = key;
  const json after = parsed(change.after);
  for (auto& [column, value] : now_key.items())
    if (after.contains(column)) value = after[column];
  const auto row = current_row(sqlca, change.target, now_key);
  return row && holds(*row, after);
}

bool undo(Transaction& sqlca, const JournalRow& change) {
  if (!is_plain_name(change.target)) return false;
  const std::string table = sql_name(change.target);
  json key = parsed(change.key);
  std::vector<Value> params;
  if (change.action == "insert") return sqlca.execute("delete from " + table + where_key(key, params), params) >= 0;
  const json before = parsed(change.before);
  if (change.action == "delete") {
    std::string columns, values;
    for (const auto& [column, value] : before.items()) {
      if (!is_plain_name(column)) return false;
      columns += (columns.empty() ? "" : ", ") + sql_name(column);
      values += (values.empty() ? ":v" : ", :v") + std::to_string(params.size());
      params.push_back(parameter(value));
    }
    return sqlca.execute("insert into " + table + " (" + columns + ") values (" + values + ")", params) >= 0;
  }
  const json after = parsed(change.after);
  for (auto& [column, value] : key.items())
    if (after.contains(column)) value = after[column];
  std::string set;
  for (const auto& [column, value] : before.items()) {
    if (!is_plain_name(column)) return false;
    set += (set.empty() ? " set " : ", ") + sql_name(column) + " = :v" + std::to_string(params.size());
    params.push_back(parameter(value));
  }
  if (set.empty()) return true;
  return sqlca.execute("update " + table + set + where_key(key, params), params) >= 0;
}

JournalScope::JournalScope(Transaction& sqlca, long long history_id) : sqlca_(&sqlca) {
  if (sqlca.dialect() == Dialect::SQLite) {
    // A connection the journal was not attached to records nothing.
    auto* recorder = dynamic_cast<SqliteRecorder*>(sqlca.observer());
    attached_ = recorder != nullptr;
    if (recorder) recorder->record_under(history_id);
    ok_ = true;
  } else {
    std::vector<Value> set;
    ok_ = sqlca.select_into("select set_config('shenbao.journal', :h, true)", {Value(std::to_string(history_id))},
                            set) == 0;
  }
}

JournalScope::~JournalScope() {
  if (!ok_ || !attached_) return;
  if (sqlca_->dialect() == Dialect::SQLite) {
    static_cast<SqliteRecorder*>(sqlca_->observer())->stop();
  } else {
    std::vector<Value> set;
    sqlca_->select_into("select set_config('shenbao.journal', '', true)", {}, set);
  }
}

}  // namespace shenbao
