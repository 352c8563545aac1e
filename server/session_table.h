#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/runtime/reports/report.h"
#include "framework/runtime/windows/session.h"
#include "server/seat_policy.h"
#include "server/server_database.h"

namespace shenbao {

// Who is logged in, as sys_user says: a clerk of one unit, or the authority.
struct WebUser {
  std::string username;
  std::string display_name;
  std::string company_num;  // empty for the authority
  std::string role;         // "clerk" or "authority"
  std::string address;      // the client's address at login, for the log
  bool may_accept() const { return role == "authority"; }
  bool is_clerk() const { return role != "authority"; }
};

// One login: its application Session, its CSRF token and its print folder. Shared between
// the requests that use it; the Session ends (its UI thread stops, its print folder is
// removed) when the last holder lets go after the login was ended.
class WebSession {
 public:
  using Clock = std::chrono::steady_clock;
  WebSession(WebUser user, std::unique_ptr<Session> session, std::string csrf, std::string print_folder);
  ~WebSession();
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  const WebUser& user() const { return user_; }
  Session& session() { return *session_; }
  const std::string& csrf() const { return csrf_; }
  // Constant-time comparison with the session's CSRF token.
  bool csrf_matches(std::string_view token) const;
  const std::string& print_folder() const { return print_folder_; }
  // Keeps `seat` (its place in the server's connection budget) until the session has ended.
  void hold(std::shared_ptr<void> seat) { seat_ = std::move(seat); }

  void touch() { last_used_ = Clock::now().time_since_epoch().count(); }
  Clock::time_point last_used() const { return Clock::time_point(Clock::duration(last_used_.load())); }
  Clock::time_point logged_in() const { return logged_in_; }

  // The pages of the print preview last laid out, for the state they were laid out in.
  struct Preview {
    std::string control;
    size_t version = 0;
    std::shared_ptr<const ReportPages> pages;
  };
  std::mutex preview_mutex;
  Preview preview;

 private:
  friend class SessionTable;
  WebUser user_;
  std::unique_ptr<Session> session_;
  std::string csrf_;
  std::string print_folder_;
  std::shared_ptr<void> seat_;  // let go after session_ has ended (and closed its connection)
  std::string key_;  // the hash of its cookie token, set by the table
  std::atomic<Clock::rep> last_used_;
  Clock::time_point logged_in_ = Clock::now();
  Clock::time_point seated_at_;  // when the table took it in
};

// The live logins by cookie token. Tokens are the server's id, a dot and 32 random bytes
// (URL-safe base64); the table keeps only their hashes, so that looking one up does not leak
// timing about the others. A session idle for longer than `idle`, or logged in longer than
// `lifetime`, is gone: find() no longer answers it and expire() removes it.
//
// Seats are counted over every server of the database: each session, and each login being
// set up, is a row of sb_seat, and who gets a seat is choose_seat's (seat_policy.h) over all
// of them: at most max_per_user sessions a user, a tenth of the seats kept for the authority,
// the last seats for users who have none. A login that makes room by ending a session of
// another server deletes that session's row; sync(), which the server calls every second,
// ends the sessions of this server whose rows are gone and says that this server is alive.
// The rows of a server not heard of for kServerGone are given up by the next login anywhere.
//
// Thread-safe. The sessions it hands out or removes are ended by dropping the last
// shared_ptr, which callers do outside their own locks.
class SessionTable {
 public:
  struct Limits {
    std::chrono::seconds idle{30 * 60};
    // However much it is used, a session ends this long after its login.
    std::chrono::seconds lifetime{12 * 60 * 60};
    // Each session holds a database connection of its own: the sessions are bounded by what
    // the database allows (PostgreSQL: 100 by default, a few of them for others).
    size_t max_sessions = 80;
    // A user's login beyond these ends his oldest session (serve --sessions-per-user).
    size_t max_per_user = 3;
    SeatLimits seats() const { return {max_sessions, max_per_user, max_sessions / 10}; }
  };
  // How long a server may stay silent before its seats are given up.
  static constexpr std::chrono::seconds kServerGone{30};
  // `server_id` names this server in sb_seat and starts its cookie tokens.
  SessionTable(Limits limits, ServerDatabase& shared, std::string server_id)
      : limits_(limits), shared_(&shared), server_id_(std::move(server_id)) {}

  // Whether a new login of `user` gets a seat. When it does, the session that makes room for
  // it (if one must) is removed and handed to `ended` when it is this server's (another
  // server ends its own at its next sync), and the seat is held for the login until add() or
  // cancel(). False also when the database cannot be reached.
  bool admit(const WebUser& user, std::shared_ptr<WebSession>& ended);
  // Adds the logged-in session of an admitted login and answers its new cookie token.
  std::string add(std::shared_ptr<WebSession> session);
  // Gives up the seat held for an admitted login that did not come to a session.
  void cancel(const WebUser& user);
  // The live session of a cookie token, marked as used now; nullptr when the token is
  // unknown or its session has been idle too long.
  std::shared_ptr<WebSession> find(std::string_view token);
  // Removes the session of a token (logout); answers it, or nullptr.
  std::shared_ptr<WebSession> remove(std::string_view token);
  // Removes and answers the sessions idle for too long.
  std::vector<std::shared_ptr<WebSession>> expire();
  // Removes and answers every session (server shutdown), and gives up this server's seats.
  std::vector<std::shared_ptr<WebSession>> clear();
  // Says in the database that this server is alive; removes and answers its sessions whose
  // seats another server's login has taken.
  std::vector<std::shared_ptr<WebSession>> sync();
  // Whether a cookie token was made by this server (a token of another server, or of this
  // one before a restart, is a browser whose server went away).
  bool issued_here(std::string_view token) const;
  const std::string& server_id() const { return server_id_; }
  size_t size() const;
  const Limits& limits() const { return limits_; }

 private:
  bool idle_too_long(const WebSession& session, WebSession::Clock::time_point now) const;
  // The seat row held for a login of `username` being set up, taken off the list; "" when none.
  std::string release_pending(const std::string& username);
  // Deletes the seat rows of these session keys.
  void give_up(const std::vector<std::string>& keys);
  Limits limits_;
  ServerDatabase* shared_;
  std::string server_id_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<WebSession>> sessions_;
  struct Pending {
    std::string username;
    std::string seat_id;
  };
  std::vector<Pending> pending_;  // admitted logins whose session is being set up
};

// `bytes` random bytes as URL-safe base64 without padding.
std::string random_token(size_t bytes = 32);

}  // namespace shenbao
