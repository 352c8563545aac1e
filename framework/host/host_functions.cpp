#include "framework/host/host_functions.h"

#include <vector>

namespace shenbao {
std::string zero_padded(long number, size_t width) {
  const std::string digits = std::to_string(number);
  return std::string(digits.size() < width ? width - digits.size() : 0, '0') + digits;
}

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

}  // namespace shenbao
