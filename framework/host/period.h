#pragma once

#include <optional>
#include <string>

#include "framework/runtime/windows/session.h"

namespace shenbao {

// The period of an extraction: start and end as "yyyymmdd".
struct ExtractionPeriod {
  std::string start;
  std::string end;
};

// Asks for the period in the host's period dialog (w_account_set, opened modally by name).
// Nothing when the dialog was closed without an answer; then the caller gives up its action.
std::optional<ExtractionPeriod> ask_extraction_period(Session& session);

}  // namespace shenbao
