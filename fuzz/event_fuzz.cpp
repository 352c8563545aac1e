// Feeds bytes to parse_event as the body of POST /api/event, and what parses to check_event
// for a clerk and for the authority.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/event_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  static const shenbao::WebUser clerk{"clerk001", "王小红", "001", "clerk", "127.0.0.1"};
  static const shenbao::WebUser authority{"authority", "审批员", "", "authority", "127.0.0.1"};
  std::string error, for_user;
  if (auto event = shenbao::parse_event(body, error, for_user)) {
    shenbao::check_event(*event, clerk);
    shenbao::check_event(*event, authority);
  }
  return 0;
}
