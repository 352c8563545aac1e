#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "server/audit_log.h"
#include "server/event_request.h"
#include "server/http_server.h"
#include "server/login_guard.h"
#include "server/session_table.h"

namespace shenbao {

class WindowRegistry;

// The web front end's HTTP server: the browser's static files from `web_root`, and the JSON
// API over the sessions of the logged-in users.
//
//   POST /api/login   {username, password} -> {csrf, user}; sets the session cookie
//   POST /api/logout                         -> {}; ends the session
//   GET  /api/state                          -> {csrf, user, state}
//   POST /api/event   {kind, target, row, column, text, args}
//                                            -> {result: {ok, error, accepted, pending, result,
//                                                 refusal: {code, text, detail}}, state}
//   GET  /api/units                          -> [{company_num, company_name}] the user may choose
//   GET  /api/health                         -> {database}: 200 while the database answers, else 503
//   GET  /api/preview/CONTROL.json           -> {pages, width, height, version}
//   GET  /api/preview/CONTROL/PAGE.png[?scale=S]  a page of the active window's print preview
//   GET  /api/jobs/ID.pdf                    -> a finished print job of this session
//
// Every POST but login carries the session's CSRF token in X-CSRF-Token; every POST is
// application/json from the same origin. Answers: 400 malformed, 401 no live session (with
// "code":"session-unknown" when the session is of another server, or of this one before it
// restarted: its server went away), 403
// refused (rights, CSRF, origin), 404, 409 refused by the window (the state comes along),
// 413 body over max_body, 415, 416 multi-range, 429 slowed login, 503 no seat for a new session or
// the server stopping.
//
//   WebServer server(options);
//   if (!server.start(error)) ...   // listening on a thread of its own
//   server.port();                  // the port, also when options.port was 0
//   server.stop();                  // also in the destructor
class WebServer {
 public:
  struct Options {
    std::string database_url;
    const WindowRegistry* registry = nullptr;
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string web_root;  // empty: default_web_root()
    std::string log_path;  // empty: stderr
    AuditLog::Options log;  // rotation by size, and how repeated refusals are counted
    int threads = 64;
    // Marks the session cookie Secure: for a server reached through HTTPS (a TLS proxy).
    bool secure_cookie = false;
    // The longest text a column takes, as an event (event_request.h).
    size_t max_body = kMaxEventBody;
    // sessions.max_sessions bounds the logins at once, each holding a database connection
    // (serve --max-sessions); a login beyond it is refused with 503.
    SessionTable::Limits sessions;
    // Failed logins slow the next ones of the same account or address from browsers that have
    // not logged in as that user before, and those of the same device token (never lock).
    LoginThrottle::Options logins;
    // Deadlines for request heads and bodies; how many connections may wait for theirs.
    // Its trusted_address is a proxy in front of the server (serve --trusted-proxy): for its
    // connections the client's address is the last entry of X-Forwarded-For. Its workers and
    // max_body are `threads` and `max_body`.
    HttpServer::Limits connections;
    // How long stop() lets requests already begun run to their answers.
    std::chrono::milliseconds stop_grace{30000};
    // The folder under which each session gets its print folder; empty: a new folder in the
    // system's temporary folder, removed at stop.
    std::string print_root;
    // Gives a new login's session what the application puts into every session (its frame,
    // the user's rights); the server knows only the user's role.
    std::function<void(Session::Options&, const WebUser&)> prepare_session;
  };

  explicit WebServer(Options options);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Opens the database (it must hold sys_user), binds and serves on a thread of its own.
  // False with `error` when any of that fails.
  bool start(std::string& error);
  int port() const;
  // Stops serving and ends every session: takes no new connection, refuses logins, lets the
  // requests already begun run and answers them (for at most options.stop_grace), then ends
  // the sessions and writes the log. Safe to call twice.
  void stop();
  size_t session_count() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The folder of the browser's files: $SHENBAO_WEB when set, else web/ of the source tree.
std::string default_web_root();

}  // namespace shenbao
