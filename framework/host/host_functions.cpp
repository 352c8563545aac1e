#include "framework/host/host_functions.h"

#include <vector>

namespace shenbao {
namespace {

// `number` in at least `width` digits, with leading zeros.
std::string zero_padded(long number, size_t width) {
  const std::string digits = std::to_string(number);
  return std::string(digits.size() < width ? width - digits.size() : 0, '0') + digits;
}

}  // namespace

std::optional<DateTime> getdate(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const size_t last = text.find_last_not_of(' ');
  auto date = DateTime::parse(text.substr(first, last - first + 1));
  if (!date) return std::nullopt;
  return date->date();
}

int of_filter_dddw(DataStore* list, std::string_view data, std::string_view code_column,
                   std::string_view name_column) {
  if (!list || !list->has_definition()) return -1;
  const int code = list->def().column_index(code_column);
  const int name = list->def().column_index(name_column);
  if (code < 0 || name < 0) return -1;
  const std::string wanted(data);
  return list->filter_by([&](const DataStore& store, long row) {
    if (wanted.empty()) return true;
    const std::string code_text = store.getitem(row, code + 1).to_string();
    const std::string name_text = store.getitem(row, name + 1).to_string();
    return code_text.rfind(wanted, 0) == 0 || name_text.find(wanted) != std::string::npos;
  });
}

int of_check_in_dddw(DataStore* list, std::string_view data, std::string_view code_column) {
  if (!list || !list->has_definition()) return -1;
  if (data.empty()) return 0;  // the user emptied the cell
  const int code = list->def().column_index(code_column);
  if (code < 0) return -1;
  for (Buffer buffer : {Buffer::Primary, Buffer::Filter}) {
    const long rows = buffer == Buffer::Primary ? list->rowcount() : list->filteredcount();
    for (long r = 1; r <= rows; ++r) {
      const Value v = list->getitem(r, code + 1, buffer);
      if (!v.is_null() && v.to_string() == data) return 0;
    }
  }
  return -1;
}

std::string uf_getworkercode(Transaction& sqlca, std::string_view company_num) {
  long highest = 0;
  const long code = sqlca.query(
      "select worker_code from rs_main where company_num = :com and worker_code like '9%'", {Value(company_num)},
      [&](const ResultRow& row) {
        const std::string worker = row.get(0).to_string();
        if (worker.size() != 7) return true;
        long sequence = 0;
        for (char c : worker.substr(1)) {
          if (c < '0' || c > '9') return true;
          sequence = sequence * 10 + (c - '0');
        }
        highest = std::max(highest, sequence);
        return true;
      });
  if (code < 0) return {};
  return provisional_worker_code(highest + 1);
}

std::string provisional_worker_code(long sequence) {
  const std::string digits = zero_padded(sequence, 6);
  if (sequence < 0 || digits.size() > 6) return {};
  return "9" + digits;
}

long uf_syrs_add_del(Transaction& sqlca, std::string_view company_num, int) {
  return sqlca.execute(
      "update rs_info_company set now_mans = (select count(*) from rs_main where rs_main.company_num = "
      "rs_info_company.company_num and stuff_status = '01') where company_num = :com",
      {Value(company_num)});
}

long next_person_sequence(const Value& highest_code) {
  if (highest_code.is_null()) return 1;
  std::string code = highest_code.to_string();
  const size_t first = code.find_first_not_of(' ');
  if (first == std::string::npos) return 1;
  code = code.substr(first, code.find_last_not_of(' ') - first + 1);
  const std::string last_six = code.size() > 6 ? code.substr(code.size() - 6) : code;
  long number = 0;
  for (char c : last_six) {
    if (c < '0' || c > '9') break;
    number = number * 10 + (c - '0');
  }
  return number + 1;
}

namespace {

// The unit tables whose declarations keep their workers in `worker_table`: the three reward
// kinds share rs_w00033; every other category has a worker table of its own.
std::vector<std::string> unit_tables_sharing(std::string_view unit_table, std::string_view worker_table) {
  if (worker_table == "rs_w00033") return {"rs_w00041_com", "rs_w00042_com", "rs_w00033_com"};
  return {std::string(unit_table)};
}

}  // namespace

std::string next_declaration_id(Transaction& sqlca, std::string_view unit_table, std::string_view worker_table) {
  const Value table(worker_table);
  if (sqlca.execute("update sb_key_counter set next_value = next_value + 1 where table_name = :t", {table}) == 100) {
    sqlca.execute("insert into sb_key_counter (table_name, next_value) values (:t, 2)", {table});
  }
  if (sqlca.sqlcode < 0) return {};
  std::vector<Value> taken;
  if (sqlca.select_into("select next_value - 1 from sb_key_counter where table_name = :t", {table}, taken) != 0)
    return {};
  // A number that someone stored by other means, as a declaration or as workers, is skipped.
  const auto in_use = [&](std::string_view table, const std::string& id) {
    std::vector<Value> found;
    return sqlca.select_into("select pkid from " + std::string(table) + " where pkid = :id limit 1", {Value(id)}, found);
  };
  for (long candidate = taken[0].as_long();; ++candidate) {
    const std::string id = zero_padded(candidate, 10);
    long code = in_use(worker_table, id);
    for (const std::string& table : unit_tables_sharing(unit_table, worker_table))
      if (code == 100) code = in_use(table, id);
    if (code < 0) return {};
    if (code == 100) {
      sqlca.execute("update sb_key_counter set next_value = :n where table_name = :t", {Value(candidate + 1), table});
      return sqlca.sqlcode < 0 ? std::string() : id;
    }
  }
}

}  // namespace shenbao
