#include "framework/host/period.h"

#include "framework/host/host_functions.h"

namespace shenbao {

std::optional<ExtractionPeriod> ask_extraction_period(Session& session) {
  const std::string answer = session.open_modal("w_account_set");
  if (answer.find_first_not_of(' ') == std::string::npos) return std::nullopt;
  const size_t p = answer.find('/');
  if (p == std::string::npos) return std::nullopt;
  const auto start = getdate(answer.substr(0, p));
  const auto end = getdate(answer.substr(p + 1));
  if (!start || !end) return std::nullopt;
  return ExtractionPeriod{start->format("yyyymmdd"), end->format("yyyymmdd")};
}

}  // namespace shenbao
