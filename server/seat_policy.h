#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shenbao {

// Who may have a seat (a session, with its database connection) when a user logs in:
//
// - a user has at most `per_user` seats: his login beyond them ends his oldest session;
// - `authority_seats` of the seats are kept for the authority: clerks never take them;
// - while seats are free the login gets one; when none is free, a user who has none yet takes
//   one from whoever holds the most (more than one): that user's oldest session ends; a
//   user who has some already ends his own oldest instead;
// - otherwise the login is refused.
// The holders are every server's (sb_seat, kept by SessionTable), so the limits hold for all
// the servers of a database together.
struct SeatLimits {
  size_t seats = 80;
  size_t per_user = 3;
  size_t authority_seats = 8;
};

struct SeatHolder {
  std::string user;
  bool authority = false;
  std::chrono::system_clock::time_point since;  // its login (on whichever server it is)
  bool endable = true;  // false for a login still being set up
};

struct SeatChoice {
  bool admitted = false;
  std::optional<size_t> ends;  // the index of the holder whose session makes room
};

SeatChoice choose_seat(const std::vector<SeatHolder>& holders, std::string_view user, bool authority,
                       const SeatLimits& limits);

}  // namespace shenbao
