#include "framework/declaration/register_changes.h"

#include <nlohmann/json.hpp>

#include <map>

#include "framework/declaration/declaration_history.h"
#include "framework/host/host_session.h"
#include "framework/host/register_captions.h"

namespace shenbao {
namespace {

using nlohmann::json;

// A journalled value as the list shows it: dates without a midnight time, both databases'
// spellings of a date-time alike.
std::string shown(const json& value) {
  if (value.is_null()) return {};
  if (!value.is_string()) return value.dump();
  std::string text = value.get<std::string>();
  if (text.size() == 19 && text[4] == '-' && text[7] == '-' && (text[10] == 'T' || text[10] == ' ')) {
    text[10] = ' ';
    if (text.compare(11, 8, "00:00:00") == 0) text.resize(10);
  }
  return text;
}

json parsed(const Value& text) {
  if (text.is_null()) return json::object();
  json value = json::parse(text.to_string(), nullptr, false);
  return value.is_object() ? value : json::object();
}

std::string text_of(const json& row, const char* column) {
  const auto found = row.find(column);
  return found == row.end() ? std::string() : shown(*found);
}

// A whole row in words: "姓名：张三；性别：1", its columns the register names, in table order.
std::string summed_up(const std::string& table, const json& row) {
  std::string text;
  for (const auto& [column, value] : row.items()) {
    const std::string_view caption = register_column_caption(table, column);
    const std::string v = shown(value);
    if (caption.empty() || v.empty()) continue;
    text += (text.empty() ? "" : "；") + std::string(caption) + "：" + v;
  }
  return text;
}

}  // namespace

namespace {

// The changes one journal row makes in the register, in words, appended to `changes`; nothing
// for a row of a declaration's own tables.
void add_register_changes(const ResultRow& row, int first, std::vector<RegisterChange>& changes) {
  const std::string table = row.get(first).to_string();
  if (is_declaration_table(table)) return;
  const std::string action = row.get(first + 1).to_string();
  const json key = parsed(row.get(first + 2));
  const json before = parsed(row.get(first + 3));
  const json after = parsed(row.get(first + 4));
  RegisterChange change;
  const json& whole = action == "delete" ? before : after;
  change.worker_code = text_of(key, "worker_code");
  if (change.worker_code.empty()) change.worker_code = text_of(whole, "worker_code");
  change.worker_name = text_of(whole, "worker_name");
  const std::string_view table_caption = register_table_caption(table);
  change.table = table_caption.empty() ? table : std::string(table_caption);
  if (action == "update") {
    for (const auto& [column, value] : after.items()) {
      RegisterChange one = change;
      const std::string_view caption = register_column_caption(table, column);
      one.item = caption.empty() ? column : std::string(caption);
      one.before = before.contains(column) ? shown(before[column]) : std::string();
      one.after = shown(value);
      changes.push_back(std::move(one));
    }
    return;
  }
  const bool inserted = action == "insert";
  change.item = inserted ? "新增记录" : "删除记录";
  (inserted ? change.after : change.before) = summed_up(table, whole);
  change.mark = inserted ? (table == "rs_main" ? "新增人员" : "新增") : "删除";
  changes.push_back(std::move(change));
}

// The workers' names where a change did not carry one, as the register holds them now.
void name_workers(Transaction& sqlca, std::vector<RegisterChange>& changes) {
  std::map<std::string, std::string> names;
  for (RegisterChange& change : changes) {
    if (!change.worker_name.empty() || change.worker_code.empty()) continue;
    auto [known, is_new] = names.try_emplace(change.worker_code);
    if (is_new) {
      std::vector<Value> name{Value()};
      sqlca.select_into("select worker_name from rs_main where worker_code = :w", {Value(change.worker_code)}, name);
      known->second = name[0].is_null() ? std::string() : name[0].to_string();
    }
    change.worker_name = known->second;
  }
}

}  // namespace

std::vector<RegisterChange> register_changes(Transaction& sqlca, long long step) {
  std::vector<RegisterChange> changes;
  sqlca.query(
      "select target, action, row_key, before_values, after_values from sb_journal where history_id = :step "
      "order by pk_id",
      {Value(step)}, [&](const ResultRow& row) {
        add_register_changes(row, 0, changes);
        return true;
      });
  name_workers(sqlca, changes);
  return changes;
}

std::vector<WorkerChange> worker_changes(Transaction& sqlca, const std::string& worker_code,
                                         const std::string& company_num) {
  std::vector<WorkerChange> list;
  std::vector<RegisterChange> changes;
  std::vector<Value> params{Value(worker_code), Value(std::string(step_code(DeclarationStep::Accepted))),
                            Value(std::string(step_code(DeclarationStep::Reversed)))};
  std::string sql =
      "select h.at, h.table_name, h.pkid, h.company_num, h.step, j.target, j.action, j.row_key, j.before_values, "
      "j.after_values from sb_journal j join sb_history h on h.pk_id = j.history_id "
      "where j.worker_code = :w and h.step in (:accepted, :reversed)";
  if (!company_num.empty()) {
    sql += " and h.company_num = :com";
    params.push_back(Value(company_num));
  }
  sqlca.query(sql + " order by j.pk_id desc", params, [&](const ResultRow& row) {
    const size_t first = changes.size();
    add_register_changes(row, 5, changes);
    for (size_t i = first; i < changes.size(); ++i) {
      WorkerChange one;
      one.at = row.get(0).is_null() ? std::string() : row.get(0).to_string().substr(0, 16);
      one.declaration = DeclarationKey{row.get(1).to_string(), row.get(2).to_string(), row.get(3).to_string()};
      one.step = row.get(4).to_string();
      list.push_back(std::move(one));
    }
    return true;
  });
  name_workers(sqlca, changes);
  for (size_t i = 0; i < list.size(); ++i) list[i].change = std::move(changes[i]);
  return list;
}

std::string changed_row_text(Transaction& sqlca, const JournalRow& change) {
  const std::string_view caption = register_table_caption(change.target);
  std::string text = caption.empty() ? change.target : std::string(caption);
  const json key = parsed(change.key.empty() ? Value() : Value(change.key));
  const json whole = parsed(Value(change.action == "delete" ? change.before : change.after));
  for (const auto& [column, value] : key.items()) text += " " + shown(value);
  std::string worker = text_of(key, "worker_code");
  if (worker.empty()) worker = text_of(whole, "worker_code");
  if (!worker.empty()) {
    std::vector<Value> name{Value()};
    sqlca.select_into("select worker_name from rs_main where worker_code = :w", {Value(worker)}, name);
    if (!name[0].is_null()) text += " " + name[0].to_string();
  }
  if (change.action != "update") return text + (change.action == "insert" ? "：新增记录" : "：删除记录");
  std::string items;
  // Held in a variable: a range over items() of a temporary would outlive the temporary.
  const json after = parsed(Value(change.after));
  for (const auto& [column, value] : after.items()) {
    const std::string_view c = register_column_caption(change.target, column);
    items += (items.empty() ? "：" : "、") + (c.empty() ? column : std::string(c));
  }
  return text + items;
}

bool added_person_referenced(Transaction& sqlca, const JournalRow& change, const DeclarationKey& declaration) {
  if (change.target != "rs_main" || change.action != "insert") return false;
  const json key = parsed(Value(change.key));
  const std::string company = text_of(key, "company_num");
  const std::string worker = text_of(key, "worker_code");
  std::vector<std::string> tables;
  const char* naming = sqlca.dialect() == Dialect::SQLite
                           ? "select m.name from sqlite_master m join pragma_table_info(m.name) c "
                             "where m.type = 'table' and c.name = 'worker_code'"
                           : "select table_name from information_schema.columns where table_schema = "
                             "current_schema() and column_name = 'worker_code'";
  sqlca.query(naming, {}, [&](const ResultRow& row) {
    tables.push_back(row.get(0).to_string());
    return true;
  });
  // A declaration's worker table is its unit table's name without "_com".
  const std::string own = declaration.unit_table.substr(0, declaration.unit_table.rfind("_com"));
  for (const std::string& table : tables) {
    if (table == "rs_main" || table.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
      continue;
    std::string sql = "select worker_code from " + table + " where company_num = :c and worker_code = :w";
    std::vector<Value> params{Value(company), Value(worker)};
    if (table == own) {
      sql += " and pkid <> :id";
      params.push_back(Value(declaration.pkid));
    }
    std::vector<Value> found;
    if (sqlca.select_into(sql + " limit 1", params, found) == 0) return true;
  }
  return false;
}

long long latest_acceptance(Transaction& sqlca, const DeclarationKey& declaration) {
  std::vector<Value> step{Value(0)};
  sqlca.select_into(
      "select max(pk_id) from sb_history where table_name = :t and pkid = :id and company_num = :com and step = :s",
      {Value(declaration.unit_table), Value(declaration.pkid), Value(declaration.company_num),
       Value(std::string(step_code(DeclarationStep::Accepted)))},
      step);
  return step[0].is_null() ? 0 : step[0].as_long();
}

}  // namespace shenbao
