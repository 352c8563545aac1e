#include "framework/declaration/declaration_limits.h"

namespace shenbao {

std::vector<ExceededLimit> exceeded_limits(Transaction& sqlca, const CategoryDescriptor& category,
                                           const std::string& pkid, const std::string& company_num) {
  std::vector<ExceededLimit> exceeded;
  if (!category.limits) return exceeded;
  // Host variables are bound in the order their names first appear.
  const std::string_view sql = category.limits;
  std::vector<Value> arguments{Value(pkid), Value(company_num)};
  if (sql.find(":com") < sql.find(":id")) std::swap(arguments[0], arguments[1]);
  sqlca.query(sql, arguments, [&](const ResultRow& row) {
    // A limit the declaration leaves empty limits nothing.
    if (row.get(1).is_null()) return true;
    ExceededLimit limit{row.get(0).to_string(), row.get(1).as_long(), row.get(2).is_null() ? 0 : row.get(2).as_long()};
    if (limit.after > limit.limit) exceeded.push_back(std::move(limit));
    return true;
  });
  return exceeded;
}

std::string limit_lines(const std::vector<ExceededLimit>& limits, std::string_view separator) {
  std::string lines;
  for (const ExceededLimit& limit : limits) {
    lines += (lines.empty() ? std::string() : std::string(separator)) + limit.what + "：核定" + std::to_string(limit.limit) + "，入库后" +
             std::to_string(limit.after);
  }
  return lines;
}

}  // namespace shenbao
