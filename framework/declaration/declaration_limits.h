#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/declaration/category.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {

// A limit of the unit that accepting a declaration would exceed: what is limited ("县处级正职"),
// the approved number, and the number the acceptance would make.
struct ExceededLimit {
  std::string what;
  long long limit = 0;
  long long after = 0;
};

// The limits the category states (CategoryDescriptor::limits) that accepting the declaration
// would exceed, counted from the register as it is now and the declaration as stored; empty
// when none is exceeded, when the category states none, or when they cannot be read (the
// acceptance then reports the database's trouble itself).
std::vector<ExceededLimit> exceeded_limits(Transaction& sqlca, const CategoryDescriptor& category,
                                           const std::string& pkid, const std::string& company_num);

// One line per limit, "县处级正职：核定1，入库后2", the lines joined by `separator`.
std::string limit_lines(const std::vector<ExceededLimit>& limits, std::string_view separator = "\n");

// What the acceptance question, the clerk's status line and the history say before the lines.
inline constexpr std::string_view kLimitsExceeded = "本次入库后将超出核定职数或编制：";
// The mark of an exceeded limit in the acceptance preview.
inline constexpr std::string_view kLimitMark = "超出核定";

}  // namespace shenbao
