#include "server/seat_policy.h"

#include <map>

namespace shenbao {

SeatChoice choose_seat(const std::vector<SeatHolder>& holders, std::string_view user, bool authority,
                       const SeatLimits& limits) {
  // The oldest endable session of `who`, if any.
  auto oldest_of = [&](std::string_view who) -> std::optional<size_t> {
    std::optional<size_t> oldest;
    for (size_t i = 0; i < holders.size(); ++i) {
      if (holders[i].user != who || !holders[i].endable) continue;
      if (!oldest || holders[i].since < holders[*oldest].since) oldest = i;
    }
    return oldest;
  };
  size_t own = 0, authority_held = 0;
  std::map<std::string_view, size_t> held;
  for (const SeatHolder& h : holders) {
    own += h.user == user;
    authority_held += h.authority;
    ++held[h.user];
  }
  if (own >= limits.per_user) {
    if (auto oldest = oldest_of(user)) return {true, oldest};
    return {};
  }
  const size_t kept = authority || authority_held >= limits.authority_seats ? 0 : limits.authority_seats - authority_held;
  if (holders.size() + kept < limits.seats) return {true, std::nullopt};
  if (own > 0) {
    if (auto oldest = oldest_of(user)) return {true, oldest};
    return {};
  }
  // Full, and the user has none: a second seat of another user comes back. A clerk takes
  // only seats that are no part of the authority's share.
  std::optional<std::string_view> richest;
  for (const auto& [who, count] : held) {
    if (count < 2 || !oldest_of(who)) continue;
    const bool of_authority = holders[*oldest_of(who)].authority;
    if (!authority && of_authority && authority_held <= limits.authority_seats) continue;
    if (!richest || count > held[*richest] ||
        (count == held[*richest] && holders[*oldest_of(who)].since < holders[*oldest_of(*richest)].since))
      richest = who;
  }
  if (richest) return {true, oldest_of(*richest)};
  return {};
}

}  // namespace shenbao
