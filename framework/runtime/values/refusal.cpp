#include "framework/runtime/values/refusal.h"

namespace shenbao {

std::string_view to_string(RefusalCode code) {
  switch (code) {
    case RefusalCode::BadRequest: return "bad-request";
    case RefusalCode::NotNow: return "not-now";
    case RefusalCode::Forbidden: return "forbidden";
    case RefusalCode::InvalidEntry: return "invalid-entry";
    case RefusalCode::Failed: return "failed";
    case RefusalCode::Conflict: return "conflict";
  }
  return "failed";
}

std::string Refusal::describe() const {
  if (text.empty()) return detail;
  if (detail.empty() || detail == text) return text;
  return text + " (" + detail + ")";
}

}  // namespace shenbao
