#include "framework/runtime/sql/journal.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>

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

// The changed columns of an updated row, from `row` (old or new).
std::string changed_json(const std::vector<std::string>& columns, const char* row) {
  std::string sql = "(select json_group_object(n, v) from (";
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string c = sql_name(columns[i]);
    sql += (i ? " union all " : "") + std::string("select ") + literal(columns[i]) + " as n, " + row + "." + c +
           " as v where old." + c + " is not new." + c;
  }
  return sql + "))";
}

bool install_sqlite(Transaction& sqlca, const std::string& table) {
  const TableColumns t = sqlite_columns(sqlca, table);
  if (t.columns.empty()) return true;
  const std::vector<std::string>& key = t.key.empty() ? t.columns : t.key;
  const std::string on = " on main." + sql_name(table) + " when exists (select 1 from temp.sb_journal_context)";
  const std::string insert = " begin insert into sb_journal (history_id, target, action, row_key, before_values, "
                             "after_values) select history_id, " + literal(table) + ", ";
  const std::string end = " from temp.sb_journal_context; end";
  std::string any_change;
  for (const std::string& c : t.columns) any_change += (any_change.empty() ? "" : " or ") + ("old." + sql_name(c) + " is not new." + sql_name(c));
  const std::string name = "sbj_" + table;
  return sqlca.execute("create temp trigger if not exists " + sql_name(name + "_i") + " after insert" + on + insert +
                       "'insert', " + json_of(key, "new") + ", null, " + json_of(t.columns, "new") + end) == 0 &&
         sqlca.execute("create temp trigger if not exists " + sql_name(name + "_u") + " after update" + on + " and (" +
                       any_change + ")" + insert + "'update', " + json_of(key, "old") + ", " +
                       changed_json(t.columns, "old") + ", " + changed_json(t.columns, "new") + end) == 0 &&
         sqlca.execute("create temp trigger if not exists " + sql_name(name + "_d") + " after delete" + on + insert +
                       "'delete', " + json_of(key, "old") + ", " + json_of(t.columns, "old") + ", null" + end) == 0;
}

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
    execute format('insert into sb_journal (history_id, target, action, row_key, after_values) '
                   'select $1, %L, ''insert'', jsonb_build_object(%s)::text, to_jsonb(r)::text from sb_new r',
                   TG_TABLE_NAME, keys) using history::bigint;
  elsif TG_OP = 'DELETE' then
    execute format('insert into sb_journal (history_id, target, action, row_key, before_values) '
                   'select $1, %L, ''delete'', jsonb_build_object(%s)::text, to_jsonb(r)::text from sb_old r',
                   TG_TABLE_NAME, keys) using history::bigint;
  else
    execute format('insert into sb_journal (history_id, target, action, row_key, before_values, after_values) '
                   'select $1, %L, ''update'', k::text, b::text, a::text from ('
                   'select jsonb_build_object(%s) as k, '
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
  if (sqlca.execute("create temp table if not exists sb_journal_context (history_id integer not null)") < 0)
    return false;
  for (const std::string& table : base_tables(sqlca)) {
    if (is_plain_name(table) && journaled(table) && !install_sqlite(sqlca, table)) return false;
  }
  // Temporary objects are made in a transaction like any other statement: kept from here on.
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
    std::vector<Value> attached;
    if (sqlca.select_into("select 1 from temp.sqlite_master where name = 'sb_journal_context'", {}, attached) == 100) {
      ok_ = true;
      attached_ = false;
      return;
    }
    ok_ = sqlca.execute("delete from temp.sb_journal_context") >= 0 &&
          sqlca.execute("insert into temp.sb_journal_context (history_id) values (:h)", {Value(history_id)}) == 0;
  } else {
    std::vector<Value> set;
    ok_ = sqlca.select_into("select set_config('shenbao.journal', :h, true)", {Value(std::to_string(history_id))},
                            set) == 0;
  }
}

JournalScope::~JournalScope() {
  if (!ok_ || !attached_) return;
  if (sqlca_->dialect() == Dialect::SQLite) {
    sqlca_->execute("delete from temp.sb_journal_context");
  } else {
    std::vector<Value> set;
    sqlca_->select_into("select set_config('shenbao.journal', '', true)", {}, set);
  }
}

}  // namespace shenbao
