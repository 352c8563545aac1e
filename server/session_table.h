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
};

// The live logins by cookie token. Tokens are 32 random bytes (URL-safe base64); the table
// keeps only their hashes, so that looking one up does not leak timing about the others.
// A session idle for longer than `idle`, or logged in longer than `lifetime`, is gone: find() no longer answers it and expire()
// removes it. Who gets a seat is choose_seat's (seat_policy.h): at most max_per_user sessions a
// user, a tenth of the seats kept for the authority, the last seats for users who have none.
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
  explicit SessionTable(Limits limits) : limits_(limits) {}

  // Whether a new login of `user` gets a seat. When it does, the session that makes room for
  // it (if one must) is removed and handed to `ended`, and the seat is held for the login
  // until add() or cancel().
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
  // Removes and answers every session (server shutdown).
  std::vector<std::shared_ptr<WebSession>> clear();
  size_t size() const;
  const Limits& limits() const { return limits_; }

 private:
  bool idle_too_long(const WebSession& session, WebSession::Clock::time_point now) const;
  Limits limits_;
  void release_pending(const std::string& username);
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<WebSession>> sessions_;
  std::vector<SeatHolder> pending_;  // admitted logins whose session is being set up
};

// `bytes` random bytes as URL-safe base64 without padding.
std::string random_token(size_t bytes = 32);

}  // namespace shenbao
