#include "server/web_server.h"

#include <arpa/inet.h>
#include <sodium.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <semaphore>
#include <sstream>
#include <thread>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/form_def.h"
#include "framework/runtime/reports/print_job.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/windows/window.h"
#include "server/audit_log.h"
#include "server/event_request.h"
#include "server/http_server.h"
#include "server/passwords.h"

namespace shenbao {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kCookie = "shenbao_session";
// The signed token of a browser that has logged in as a user (LoginThrottle).
constexpr const char* kDeviceCookie = "shenbao_device";
constexpr const char* kSessionsFull = "当前登录人数已满，请稍后再试";
constexpr const char* kLeaving = "服务器正在停止，请稍后重新登录";
constexpr const char* kServerGone = "服务器已重新启动，请重新登录。";
constexpr const char* kTooLarge = "提交的内容太多，无法处理，请减少输入的内容后重试";

void reply(HttpAnswer& res, int status, const json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void reply_error(HttpAnswer& res, int status, const std::string& error) { reply(res, status, {{"error", error}}); }

// The value of cookie `name` in a Cookie header, "" when absent.
std::string cookie_value(const std::string& header, std::string_view name) {
  size_t at = 0;
  while (at < header.size()) {
    size_t end = header.find(';', at);
    if (end == std::string::npos) end = header.size();
    std::string_view part(header.data() + at, end - at);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    const size_t eq = part.find('=');
    if (eq != std::string_view::npos && part.substr(0, eq) == name) {
      std::string_view value = part.substr(eq + 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
    at = end + 1;
  }
  return {};
}

std::string session_cookie(const std::string& token, bool secure) {
  return std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

std::string ended_cookie(bool secure) {
  return std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

json value_json(const std::optional<Value>& v) {
  if (!v || v->is_null()) return nullptr;
  if (v->kind() == ValueKind::Long) return v->as_long();
  if (v->kind() == ValueKind::Number) return v->as_number();
  return v->to_string();
}

json result_json(const EventResult& r) {
  json out = {{"ok", r.ok()},
              {"error", r.error()},
              {"accepted", r.accepted},
              {"pending", r.pending},
              {"result", value_json(r.result)}};
  if (r.refusal) {
    out["refusal"] = {{"code", to_string(r.refusal->code)}, {"text", r.refusal->text}, {"detail", r.refusal->detail}};
  }
  if (!r.resumed.empty()) {
    json resumed = json::array();
    for (const auto& earlier : r.resumed) resumed.push_back(result_json(earlier));
    out["resumed"] = std::move(resumed);
  }
  return out;
}

json user_json(const WebUser& user) {
  return {{"username", user.username},
          {"display_name", user.display_name},
          {"company_num", user.company_num},
          {"role", user.role},
          {"may_accept", user.may_accept()}};
}

// Percent-encoding for the filename* parameter of Content-Disposition.
std::string percent_encoded(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

size_t worker_count(const WebServer::Options& options) { return static_cast<size_t>(std::max(16, options.threads)); }

}  // namespace

std::string default_web_root() {
  if (const char* env = std::getenv("SHENBAO_WEB"); env && *env) return env;
#ifdef SHENBAO_SOURCE_DIR
  return std::string(SHENBAO_SOURCE_DIR) + "/web";
#else
  return "web";
#endif
}

static HttpServer::Limits connection_limits(const WebServer::Options& options) {
  HttpServer::Limits limits = options.connections;
  limits.workers = worker_count(options);
  limits.max_body = options.max_body;
  return limits;
}

struct WebServer::Impl {
  explicit Impl(Options o)
      : options(std::move(o)),
        server(connection_limits(options)),
        server_id(random_token(6)),
        sessions(options.sessions, shared, server_id) {}

  Options options;
  HttpServer server;
  // What every server of the database shares (seats, login waits, the device key), and the
  // audit log's table: connections of their own.
  ServerDatabase shared;
  ServerDatabase audit_table;
  std::string server_id;
  SessionTable sessions;
  std::unique_ptr<LoginThrottle> logins;
  AuditLog log;
  std::string print_root;
  bool own_print_root = false;
  int bound_port = 0;
  std::thread reaper;
  std::mutex reaper_mutex;
  std::condition_variable reaper_wake;
  bool stopping = false;
  bool started = false;

  // The server's own connection, for sys_user and the unit list; one user at a time.
  std::mutex db_mutex;
  std::unique_ptr<Transaction> db;
  // Verified when a name is unknown, so that unknown names take as long as known ones.
  std::string decoy_hash;
  // The database connections held by sessions, at most options.sessions.max_sessions. Shared
  // with the seats, which a session may hold until the last request using it is done.
  struct Seats {
    std::mutex mutex;
    std::condition_variable freed;
    size_t taken = 0;
  };
  std::shared_ptr<Seats> seats = std::make_shared<Seats>();
  // A seat for a new session's connection, waiting a moment for one to be given back; nullptr
  // when every one stays taken.
  std::shared_ptr<void> take_seat();
  // Ends and logs the sessions idle too long or past their lifetime.
  void end_expired();

  // Drawing preview pages is CPU work: two at a time.
  std::counting_semaphore<2> drawing{2};

  bool start(std::string& error);
  void stop();
  void routes();
  void reap_loop();

  // The session of the request's cookie; answers 401 and nullptr when there is none.
  std::shared_ptr<WebSession> need_session(const HttpRequest& req, HttpAnswer& res);
  // The CSRF token of the request matches the session's; else answers 403 and logs.
  bool need_csrf(const HttpRequest& req, HttpAnswer& res, WebSession& session);
  // Answers a refusal and logs it: every time, or counted with its repeats when `limited`.
  void refuse(HttpAnswer& res, const WebUser& user, int status, const std::string& event,
              const std::string& reason, const std::string& detail, bool limited = false);

  void login(const HttpRequest& req, HttpAnswer& res);
  void logout(const HttpRequest& req, HttpAnswer& res);
  void state(const HttpRequest& req, HttpAnswer& res);
  void event(const HttpRequest& req, HttpAnswer& res);
  void units(const HttpRequest& req, HttpAnswer& res);
  // For a load balancer: 200 while the server reaches its database, else 503.
  void health(const HttpRequest& req, HttpAnswer& res);
  void preview_info(const HttpRequest& req, HttpAnswer& res);
  void preview_page(const HttpRequest& req, HttpAnswer& res);
  void job_pdf(const HttpRequest& req, HttpAnswer& res);
  void rows(const HttpRequest& req, HttpAnswer& res);
  void find(const HttpRequest& req, HttpAnswer& res);
  void export_list(const HttpRequest& req, HttpAnswer& res);

  // The session's client state for an answer, as members of its JSON object:
  // "version":V,"state":{...} or, when the request says (X-State-Version) it holds a recent
  // version B, "version":V,"base":B,"changes":[...].
  static std::string state_members(const HttpRequest& req, WebSession& session, bool whole);

  // The print preview of form control `control` of the active window, laid out for the
  // session's present state; nullptr with `status` 404 when there is no such form in
  // preview.
  std::shared_ptr<const ReportPages> preview(WebSession& session, const std::string& control, size_t& version);
  // The preview the request names (its first match) and the session it is of, or nullptr
  // after a 401 or 404 answer.
  std::shared_ptr<const ReportPages> requested_preview(const HttpRequest& req, HttpAnswer& res,
                                                       std::shared_ptr<WebSession>& session, size_t& version);
  bool lookup_user(const std::string& username, std::string& hash, WebUser& user, std::string& error);
  // The client's address, for the log and the login guard.
  std::string client_address(const HttpRequest& req) const;
};

// The connection's own address, unless it is the trusted proxy's: then the address the proxy
// saw, which it appends as the last entry of X-Forwarded-For (the entries before it are the
// client's word and may be anything). A proxy that sent no valid address stays itself.
std::string WebServer::Impl::client_address(const HttpRequest& req) const {
  const std::string& proxy = options.connections.trusted_address;
  if (proxy.empty() || req.remote_addr != proxy) return req.remote_addr;
  const size_t headers = req.get_header_value_count("X-Forwarded-For");
  if (headers == 0) return req.remote_addr;
  const std::string value = req.get_header_value("X-Forwarded-For", headers - 1);
  const size_t comma = value.rfind(',');
  std::string last = value.substr(comma == std::string::npos ? 0 : comma + 1);
  while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) last.erase(last.begin());
  while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) last.pop_back();
  unsigned char buffer[sizeof(in6_addr)];
  if (inet_pton(AF_INET, last.c_str(), buffer) == 1 || inet_pton(AF_INET6, last.c_str(), buffer) == 1) return last;
  return req.remote_addr;
}

WebServer::WebServer(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

WebServer::~WebServer() { stop(); }

bool WebServer::start(std::string& error) { return impl_->start(error); }

int WebServer::port() const { return impl_->bound_port; }

void WebServer::stop() { impl_->stop(); }

size_t WebServer::session_count() const { return impl_->sessions.size(); }

bool WebServer::Impl::start(std::string& error) {
  if (started) {
    error = "already started";
    return false;
  }
  if (!options.registry) {
    error = "no window registry";
    return false;
  }
  if (!sodium_ready()) {
    error = "libsodium cannot be initialised";
    return false;
  }
  if (!log.open(options.log_path, error, options.log)) return false;
  // Opening a SQLite file that is not there would make an empty one.
  if (!starts_with(options.database_url, "postgres")) {
    std::string file = options.database_url;
    if (starts_with(file, "sqlite:")) file = file.substr(7);
    if (file != ":memory:" && !fs::exists(file)) {
      error = "no database at " + file + ": create it with `shenbao init " + file + "`";
      return false;
    }
  }
  db = Transaction::open(options.database_url, error);
  if (!db) return false;
  std::vector<Value> count{Value()};
  if (db->select_into("select count(*) from sys_user", {}, count) != 0) {
    error = "the database has no users table (sys_user): create it with `shenbao init`: " + db->sqlerrtext;
    db->rollback();
    return false;
  }
  db->rollback();
  if (!shared.open(options.database_url, error) || !audit_table.open(options.database_url, error)) return false;
  if (db->select_into("select count(*) from sb_seat", {}, count) != 0) {
    error = "the database has no tables for several servers (sb_seat): it was made by an older `shenbao init`: " +
            db->sqlerrtext;
    db->rollback();
    return false;
  }
  db->rollback();
  const std::string device_key = shared_device_key(shared, error);
  if (device_key.empty()) return false;
  logins = std::make_unique<LoginThrottle>(shared, device_key, options.logins);
  if (options.web_root.empty()) options.web_root = default_web_root();
  if (!fs::is_regular_file(fs::path(options.web_root) / "index.html")) {
    error = "no index.html in the web folder " + options.web_root;
    return false;
  }
  std::string hash_error;
  decoy_hash = hash_password(random_token(24), hash_error);
  if (decoy_hash.empty()) {
    error = hash_error;
    return false;
  }
  if (options.print_root.empty()) {
    std::string pattern = (fs::temp_directory_path() / "shenbao-serve-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error = "cannot make a folder for print jobs in " + fs::temp_directory_path().string();
      return false;
    }
    print_root = pattern;
    own_print_root = true;
  } else {
    print_root = options.print_root;
    std::error_code ec;
    fs::create_directories(print_root, ec);
  }
  routes();
  bound_port = server.listen(options.host, options.port, error);
  if (bound_port <= 0) return false;
  started = true;
  log.record_in(audit_table, options.host + ":" + std::to_string(bound_port));
  sessions.sync();
  reaper = std::thread([this] { reap_loop(); });
  log.write("-", "-", "-", "serve", "http://" + options.host + ":" + std::to_string(bound_port) + "/ " + options.database_url);
  return true;
}

void WebServer::Impl::stop() {
  if (!started) return;
  started = false;
  // No new connection; new logins are refused; what has begun is run and answered.
  log.write("-", "-", "-", "stopping", std::to_string(server.connections()) + " connections open");
  server.stop(options.stop_grace);
  {
    std::lock_guard lock(reaper_mutex);
    stopping = true;
  }
  reaper_wake.notify_all();
  if (reaper.joinable()) reaper.join();
  sessions.clear();  // ends every session
  if (own_print_root) {
    std::error_code ec;
    fs::remove_all(print_root, ec);
  }
  log.flush(true);
  log.write("-", "-", "-", "stop", "");
}

std::shared_ptr<void> WebServer::Impl::take_seat() {
  std::unique_lock lock(seats->mutex);
  const bool free = seats->freed.wait_for(lock, std::chrono::seconds(5), [&] {
    return seats->taken < options.sessions.max_sessions;
  });
  if (!free) return nullptr;
  ++seats->taken;
  return std::shared_ptr<void>(new int(0), [seats = seats](void* p) {
    delete static_cast<int*>(p);
    {
      std::lock_guard lock(seats->mutex);
      --seats->taken;
    }
    seats->freed.notify_one();
  });
}

void WebServer::Impl::end_expired() {
  for (auto& session : sessions.expire())
    log.write(session->user().username, session->user().company_num, session->user().address, "expired",
              "session ended: idle, or past its lifetime");
}

void WebServer::Impl::reap_loop() {
  // Every second: sessions past their time end, and the log writes the counts of repeated
  // refusals whose interval has passed.
  std::unique_lock lock(reaper_mutex);
  while (!stopping) {
    reaper_wake.wait_for(lock, std::chrono::seconds(1), [&] { return stopping; });
    if (stopping) break;
    lock.unlock();
    end_expired();
    for (auto& session : sessions.sync())
      log.write(session->user().username, session->user().company_num, session->user().address, "logout",
                "session ended: its seat was taken by a login on another server");
    log.flush();
    lock.lock();
  }
}

void WebServer::Impl::routes() {
  // Every request is screened by its head before its body is read: what is refused here is
  // answered without reading the body (a client that asked for "100 Continue" gets this answer
  // instead), and its connection ends after the answer.
  server.screen([this](const HttpRequest& req, HttpAnswer& res) {
    // A head another reader might take otherwise (a blank before a colon, a folded line, a
    // bare CR, two lengths, an encoding but a lone chunked): refused, and the connection ends.
    if (!req.head_fault.empty()) {
      log.limited("-", "-", client_address(req), "bad-head", "request head refused: " + req.head_fault);
      reply_error(res, 400, "malformed request head");
      return true;
    }
    // The body limit holds only for bodies of a stated length: a chunked body would be read
    // whole, however large. Browsers state the length of every body they send.
    if (req.has_header("Transfer-Encoding")) {
      reply_error(res, 411, "a request body must state its length");
      return true;
    }
    // A body of no readable length, or longer than any we take, is not read at all.
    if (req.has_header("Content-Length")) {
      const std::string length = req.get_header_value("Content-Length");
      const bool digits = !length.empty() && length.size() <= 18 &&
                          std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (!digits || req.get_header_value_count("Content-Length") > 1) {
        reply_error(res, 400, "malformed Content-Length");
        return true;
      }
      if (std::stoull(length) > options.max_body) {
        reply_error(res, 413, kTooLarge);
        return true;
      }
    }
    // A server that is stopping takes no new sessions (a proxy in front sends them elsewhere);
    // a login that came before it began is run.
    if (server.stopping() && req.path == "/api/login") {
      reply_error(res, 503, kLeaving);
      return true;
    }
    if (req.path.find('\0') != std::string::npos) {
      reply_error(res, 400, "malformed path");
      return true;
    }
    // Several ranges in one request can make the server build huge answers.
    if (req.get_header_value("Range").find(',') != std::string::npos) {
      res.status = 416;
      return true;
    }
    if (req.method == "POST" && starts_with(req.path, "/api/")) {
      // A page of another site cannot send JSON here without asking first (which we never
      // allow); browsers also say where a request comes from.
      if (!starts_with(req.get_header_value("Content-Type"), "application/json")) {
        reply_error(res, 415, "the body must be application/json");
        return true;
      }
      const std::string origin = req.get_header_value("Origin");
      const std::string site = req.get_header_value("Sec-Fetch-Site");
      const std::string host = req.get_header_value("Host");
      const bool foreign_origin =
          !origin.empty() && origin != "http://" + host && origin != "https://" + host;
      const bool foreign_site = !site.empty() && site != "same-origin" && site != "none";
      if (foreign_origin || foreign_site) {
        log.limited("-", "-", client_address(req), "refused", "request from another site: " + req.path + " origin=" + origin + " site=" + site);
        reply_error(res, 403, "requests from another site are refused");
        return true;
      }
    }
    return false;
  });
  server.finish([](const HttpRequest& req, HttpAnswer& res) {
    // An answer of no body of its own (no route, no file, a bare status) says what it is.
    if (res.status >= 400 && res.body.empty() && res.status != 416) {
      const char* text = res.status == 413 ? kTooLarge
                         : res.status == 404 ? "not found"
                         : res.status == 405 ? "method not allowed"
                                             : "bad request";
      if (starts_with(req.path, "/api/")) {
        reply_error(res, res.status, text);
      } else {
        res.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
      }
    }
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; frame-ancestors 'none'; "
                   "base-uri 'none'; form-action 'self'");
    if (starts_with(req.path, "/api/") && !res.has_header("Cache-Control")) res.set_header("Cache-Control", "no-store");
  });
  server.on_failure([this](const HttpRequest& req, HttpAnswer& res, const std::string& what) {
    log.write("-", "-", client_address(req), "error", req.method + " " + req.path + ": " + what);
    reply_error(res, 500, "internal error");
  });

  server.post("/api/login", [this](const auto& req, auto& res) { login(req, res); });
  server.post("/api/logout", [this](const auto& req, auto& res) { logout(req, res); });
  server.get("/api/state", [this](const auto& req, auto& res) { state(req, res); });
  server.post("/api/event", [this](const auto& req, auto& res) { event(req, res); });
  server.get("/api/units", [this](const auto& req, auto& res) { units(req, res); });
  server.get("/api/health", [this](const auto& req, auto& res) { health(req, res); });
  server.get(R"(/api/preview/([A-Za-z0-9_]{1,64})\.json)", [this](const auto& req, auto& res) { preview_info(req, res); });
  server.get(R"(/api/preview/([A-Za-z0-9_]{1,64})/([0-9]{1,4})\.png)",
             [this](const auto& req, auto& res) { preview_page(req, res); });
  server.get(R"(/api/jobs/([0-9]{1,9})\.pdf)", [this](const auto& req, auto& res) { job_pdf(req, res); });
  server.get(R"(/api/rows/([A-Za-z0-9_]{1,64})\.json)", [this](const auto& req, auto& res) { rows(req, res); });
  server.get(R"(/api/find/([A-Za-z0-9_]{1,64})\.json)", [this](const auto& req, auto& res) { find(req, res); });
  server.get(R"(/api/export/([A-Za-z0-9_]{1,64})\.xlsx)", [this](const auto& req, auto& res) { export_list(req, res); });
  // Everything else under /api/ is unknown, whatever the method.
  auto unknown = [](const HttpRequest&, HttpAnswer& res) { reply_error(res, 404, "no such API"); };
  server.get(R"(/api/.*)", unknown);
  server.post(R"(/api/.*)", unknown);
  // The pinyin module of the lists' type-ahead, from the npm package beside the web folder
  // (the browser does without it when it is not installed).
  const fs::path pinyin = (fs::path(options.web_root) / ".." / "node_modules" / "pinyin-pro" / "dist").lexically_normal();
  if (fs::is_directory(pinyin)) server.mount("/vendor/pinyin-pro", pinyin.string());
  server.mount("/", options.web_root);
}

std::shared_ptr<WebSession> WebServer::Impl::need_session(const HttpRequest& req, HttpAnswer& res) {
  const std::string token = cookie_value(req.get_header_value("Cookie"), kCookie);
  auto session = sessions.find(token);
  if (session) return session;
  // A session of a server that went away (stopped, or restarted): the browser was sent here.
  if (!token.empty() && !sessions.issued_here(token))
    reply(res, 401, {{"error", kServerGone}, {"code", "session-unknown"}});
  else
    reply_error(res, 401, "未登录或登录已过期，请重新登录");
  return nullptr;
}

bool WebServer::Impl::need_csrf(const HttpRequest& req, HttpAnswer& res, WebSession& session) {
  if (session.csrf_matches(req.get_header_value("X-CSRF-Token"))) return true;
  refuse(res, session.user(), 403, "refused-csrf", "请求缺少有效的安全令牌，请刷新页面", "CSRF token missing or wrong: " + req.path,
         true);
  return false;
}

void WebServer::Impl::refuse(HttpAnswer& res, const WebUser& user, int status, const std::string& event,
                             const std::string& reason, const std::string& detail, bool limited) {
  if (limited) log.limited(user.username, user.company_num, user.address, event, detail);
  else log.write(user.username, user.company_num, user.address, event, detail);
  reply_error(res, status, reason);
}

bool WebServer::Impl::lookup_user(const std::string& username, std::string& hash, WebUser& user, std::string& error) {
  std::lock_guard lock(db_mutex);
  std::vector<Value> row(4);
  const long rc = db->select_into(
      "select password_hash, display_name, company_num, role from sys_user where username = :u", {Value(username)},
      row);
  error = db->sqlerrtext;
  db->rollback();
  if (rc != 0) {
    if (rc < 0) error = "cannot read sys_user: " + error;
    return false;
  }
  auto text = [](const Value& v) { return v.is_null() ? std::string() : v.to_string(); };
  hash = text(row[0]);
  user.username = username;
  user.display_name = text(row[1]);
  user.company_num = text(row[2]);
  user.role = text(row[3]);
  return true;
}

void WebServer::Impl::login(const HttpRequest& req, HttpAnswer& res) {
  json body = json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object() || !body.contains("username") || !body.contains("password") ||
      !body["username"].is_string() || !body["password"].is_string()) {
    reply_error(res, 400, "请输入用户名和密码");
    return;
  }
  const std::string username = body["username"].get<std::string>();
  std::string password = body["password"].get<std::string>();
  body["password"].get_ref<std::string&>().assign(body["password"].get_ref<std::string&>().size(), '\0');
  const std::string from = client_address(req);
  // A name with a control character is no name: on PostgreSQL a NUL would end it early.
  if (std::any_of(username.begin(), username.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    wipe_password(password);
    log.limited("(malformed)", "-", from, "login-failed", "user name with a control character");
    reply_error(res, 400, "用户名含有不允许的字符");
    return;
  }
  if (username.empty() || username.size() > 20 || password.empty() || password.size() > kMaxPasswordBytes) {
    wipe_password(password);
    log.limited("(malformed)", "-", from, "login-failed", "malformed user name or password");
    reply_error(res, 401, "用户名或密码错误");
    return;
  }
  // Whether the name is a user's is known before anything is logged: a name that is not (a
  // password typed into the wrong field, say) never reaches the log.
  std::string hash;
  WebUser user;
  std::string db_error;
  const bool known = lookup_user(username, hash, user, db_error);
  if (!known && !db_error.empty()) {
    wipe_password(password);
    log.write("-", "-", from, "error", db_error);
    reply_error(res, 500, "无法读取用户信息");
    return;
  }
  const std::string who = known ? log_word(username) : "(unknown)";
  user.address = from;
  // A browser that logged in as this user before is throttled on its own; any other attempt
  // waits while its account or its address waits after failed logins, answered at once.
  const LoginThrottle::Attempt attempt = logins->attempt(username, from, cookie_value(req.get_header_value("Cookie"), kDeviceCookie));
  if (attempt.wait.count() > 0) {
    wipe_password(password);
    const long seconds = static_cast<long>((attempt.wait.count() + 999) / 1000);
    log.limited(who, user.company_num, from, "login-slowed", "failed logins of the account or from the address");
    res.set_header("Retry-After", std::to_string(seconds));
    reply_error(res, 429, "登录失败次数过多，请" + std::to_string(seconds) + "秒后再试");
    return;
  }
  const bool verified = verify_password(known ? hash : decoy_hash, password) && known;
  wipe_password(password);
  if (!verified) {
    const auto wait = logins->failed(attempt, username, from);
    log.write(who, user.company_num, from, "login-failed",
              std::string(known ? "wrong password" : "unknown user") + (attempt.trusted() ? " (known device)" : ""));
    if (wait.count() > 0)
      log.limited(who, user.company_num, from, "account-slowed", "next login from an unknown device checked after a wait");
    reply_error(res, 401, "用户名或密码错误");
    return;
  }
  logins->succeeded(attempt, username, from);
  const bool clerk_with_unit = user.role == "clerk" && !user.company_num.empty();
  if (!clerk_with_unit && user.role != "authority") {
    log.write(who, user.company_num, from, "refused", "login of a user without a valid role and unit: role=" + user.role);
    reply_error(res, 403, "该用户没有使用本系统的权限");
    return;
  }
  if (user.role == "authority") user.company_num.clear();

  // A new login ends the session this browser had.
  if (auto old = sessions.remove(cookie_value(req.get_header_value("Cookie"), kCookie)))
    log.write(old->user().username, old->user().company_num, from, "logout", "replaced by a new login");

  // Sessions past their time give up their seats first.
  end_expired();
  std::shared_ptr<WebSession> ended;
  if (!sessions.admit(user, ended)) {
    log.limited(who, user.company_num, from, "refused",
                "login refused: all " + std::to_string(options.sessions.max_sessions) +
                    " sessions in use (each holds a database connection)");
    reply_error(res, 503, kSessionsFull);
    return;
  }
  // The seat held for this login is given up on every way out before its session is added.
  struct HeldSeat {
    SessionTable& table;
    const WebUser& user;
    bool added = false;
    ~HeldSeat() {
      if (!added) table.cancel(user);
    }
  } held{sessions, user};
  if (ended) {
    log.write(ended->user().username, ended->user().company_num, ended->user().address, "logout",
              ended->user().username == user.username ? "oldest session of the user ended by a new login"
                                                      : "a further session of the user ended for another's login");
    ended.reset();
  }
  // Every session holds a database connection: beyond the budget, no new one is opened. A
  // session just ended gives its connection back once the requests using it are done.
  auto seat = take_seat();
  if (!seat) {
    log.limited(who, user.company_num, from, "refused",
                "login refused: all " + std::to_string(options.sessions.max_sessions) + " database connections in use");
    reply_error(res, 503, kSessionsFull);
    return;
  }
  const std::string folder = (fs::path(print_root) / random_token(12)).string();
  Session::Options session_options;
  session_options.database_url = options.database_url;
  session_options.user = SessionUser{user.username, user.company_num, {}};
  session_options.registry = options.registry;
  session_options.print_folder = folder;
  session_options.client_address = from;
  if (options.prepare_session) options.prepare_session(session_options, user);
  // What the windows of this login write to the audit log goes there with his name and unit.
  session_options.audit = [this, username = user.username, unit = user.company_num, address = from](
                              const std::string& action, const std::string& detail) {
    log.write(username, unit, address, action, detail);
  };
  std::string error;
  auto app = Session::start(session_options, error);
  if (!app) {
    log.write(who, user.company_num, from, "error", "cannot start a session: " + error);
    reply_error(res, 500, "无法连接数据库");
    return;
  }
  const std::string csrf = random_token();
  auto session = std::make_shared<WebSession>(user, std::move(app), csrf, folder);
  session->hold(std::move(seat));
  const std::string token = sessions.add(session);
  held.added = true;
  log.write(who, user.company_num, from, "login", attempt.trusted() ? "ok (known device)" : "ok");
  res.set_header("Set-Cookie", session_cookie(token, options.secure_cookie));
  // The browser is known for this user from now on.
  res.set_header("Set-Cookie", std::string(kDeviceCookie) + "=" + logins->device_token(user.username) +
                                   "; Path=/api/login; Max-Age=" + std::to_string(logins->device_lifetime().count()) +
                                   "; HttpOnly; SameSite=Strict" + (options.secure_cookie ? "; Secure" : ""));
  reply(res, 200, {{"csrf", csrf}, {"user", user_json(user)}});
}

void WebServer::Impl::logout(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session || !need_csrf(req, res, *session)) return;
  sessions.remove(cookie_value(req.get_header_value("Cookie"), kCookie));
  log.write(session->user().username, session->user().company_num, client_address(req), "logout", "");
  res.set_header("Set-Cookie", ended_cookie(options.secure_cookie));
  reply(res, 200, json::object());
}

void WebServer::Impl::state(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session) return;
  const json head = {{"csrf", session->csrf()}, {"user", user_json(session->user())}};
  std::string body = head.dump(-1, ' ', false, json::error_handler_t::replace);
  body.pop_back();  // the closing brace: the state joins as it is, without parsing it again
  body += ',';
  body += state_members(req, *session, true);
  body += '}';
  res.set_content(std::move(body), "application/json; charset=utf-8");
}

std::string WebServer::Impl::state_members(const HttpRequest& req, WebSession& session, bool whole) {
  Session& app = session.session();
  const std::string held = req.get_header_value("X-State-Version");
  uint64_t base = 0;
  const auto [end, ec] = std::from_chars(held.data(), held.data() + held.size(), base);
  const bool has_base = !whole && !held.empty() && ec == std::errc() && end == held.data() + held.size();
  if (has_base) {
    if (auto changes = app.client_changes(base)) {
      return "\"version\":" + std::to_string(changes->version) + ",\"base\":" + held + ",\"changes\":" + changes->changes;
    }
  }
  const Session::ClientDocument document = app.client_document();
  return "\"version\":" + std::to_string(document.version) + ",\"state\":" + document.text;
}

void WebServer::Impl::event(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session || !need_csrf(req, res, *session)) return;
  const WebUser& user = session->user();
  std::string error, for_user;
  auto event = parse_event(req.body, error, for_user);
  if (!event && !for_user.empty()) {
    // Answered as the window answers what it does not take (a typed value not accepted, or a
    // refused event), with the state as it is: nothing changed. A body that is no UTF-8 does
    // not parse; the browser writes its kind as "kind":"type".
    log.limited(user.username, user.company_num, user.address, "event-refused", "event refused: " + error);
    const bool typed = req.body.find("\"kind\":\"type\"") != std::string::npos;
    const json result = {{"ok", typed},
                         {"error", error},
                         {"accepted", false},
                         {"pending", false},
                         {"result", nullptr},
                         {"refusal", {{"code", "invalid-entry"}, {"text", for_user}, {"detail", error}}}};
    std::string body = "{\"result\":" + result.dump() + "," + state_members(req, *session, false) + "}";
    res.status = typed ? 200 : 409;
    res.set_content(std::move(body), "application/json; charset=utf-8");
    return;
  }
  if (!event) {
    refuse(res, user, 400, "bad-request", error, "event refused: " + error, true);
    return;
  }
  const std::string what = event->kind + " " + event->target +
                           (event->column.empty() ? "" : " " + event->column) +
                           (event->args.empty() ? "" : " [" + [&] {
                             std::string joined;
                             for (const auto& a : event->args) joined += (joined.empty() ? "" : " ") + a;
                             return joined;
                           }() + "]");
  const EventVerdict verdict = check_event(*event, user);
  if (verdict.status != 200) {
    refuse(res, user, verdict.status, "refused", verdict.reason, what + ": " + verdict.reason);
    return;
  }
  Session& app = session->session();
  // A control whose role names an audit entry is logged when it is clicked; what its action
  // then did is logged by the code that does it.
  if (event->kind == "click") {
    std::string audit, where;
    app.read_quietly([&] {
      if (Window* w = app.active_window()) {
        if (Control* c = w->control(event->target)) audit = c->role.audit;
        where = w->class_name();
      }
    });
    if (!audit.empty()) log.write(user.username, user.company_num, client_address(req), audit + "-click", what + " in " + where);
  }
  const EventResult result = app.post(*event);
  // A right the user lacks is refused as the requests refused before the window are: 403,
  // and nothing changed, so no state.
  if (result.refusal && result.refusal->code == RefusalCode::Forbidden) {
    refuse(res, user, 403, "refused", result.refusal->text, what + ": " + result.error());
    return;
  }
  if (!result.ok()) log.limited(user.username, user.company_num, client_address(req), "event-refused", what + ": " + result.error());
  std::string body = "{\"result\":";
  body += result_json(result).dump(-1, ' ', false, json::error_handler_t::replace);
  body += ',';
  body += state_members(req, *session, false);
  body += '}';
  res.status = result.ok() ? 200 : 409;
  res.set_content(std::move(body), "application/json; charset=utf-8");
}

void WebServer::Impl::health(const HttpRequest&, HttpAnswer& res) {
  const bool reached = shared.transact([](Transaction& t) {
    std::vector<Value> one{Value()};
    return t.select_into("select 1", {}, one) == 0;
  });
  reply(res, reached ? 200 : 503, {{"database", reached}});
}

void WebServer::Impl::units(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session) return;
  const WebUser& user = session->user();
  json out = json::array();
  std::lock_guard lock(db_mutex);
  auto add = [&](const ResultRow& row) {
    out.push_back({{"company_num", row.get(0).to_string()}, {"company_name", row.get(1).to_string()}});
    return out.size() < 5000;
  };
  if (user.is_clerk()) {
    db->query("select company_num, company_name from rs_info_company where company_num = :c", {Value(user.company_num)},
              add);
  } else {
    db->query("select company_num, company_name from rs_info_company order by company_num", {}, add);
  }
  db->rollback();
  reply(res, 200, out);
}

std::shared_ptr<const ReportPages> WebServer::Impl::preview(WebSession& session, const std::string& control,
                                                             size_t& version) {
  Session& app = session.session();
  version = app.quiet_version();
  std::lock_guard lock(session.preview_mutex);
  if (session.preview.pages && session.preview.control == control && session.preview.version == version)
    return session.preview.pages;
  std::shared_ptr<ReportPages> pages;
  app.read_quietly([&] {
    Window* window = app.active_window();
    FormControl* form = window ? window->form(control) : nullptr;
    if (!form || !form->store().has_definition() || !in_print_preview(form->store())) return;
    pages = std::make_shared<ReportPages>(preview_pages(form->store()));
  });
  // The state may have moved on while the pages were laid out; they belong to the newer one.
  version = app.quiet_version();
  session.preview = {control, version, pages};
  return pages;
}

std::shared_ptr<const ReportPages> WebServer::Impl::requested_preview(const HttpRequest& req,
                                                                      HttpAnswer& res,
                                                                      std::shared_ptr<WebSession>& session,
                                                                      size_t& version) {
  session = need_session(req, res);
  if (!session) return nullptr;
  auto pages = preview(*session, req.matches[1], version);
  if (!pages) reply_error(res, 404, "no print preview of " + std::string(req.matches[1]) + " in the active window");
  return pages;
}

void WebServer::Impl::preview_info(const HttpRequest& req, HttpAnswer& res) {
  std::shared_ptr<WebSession> session;
  size_t version = 0;
  auto pages = requested_preview(req, res, session, version);
  if (!pages) return;
  reply(res, 200,
        {{"pages", pages->pages.size()},
         {"width", pages->width},
         {"height", pages->height},
         {"version", std::to_string(version)}});
}

void WebServer::Impl::preview_page(const HttpRequest& req, HttpAnswer& res) {
  std::shared_ptr<WebSession> session;
  size_t version = 0;
  auto pages = requested_preview(req, res, session, version);
  if (!pages) return;
  const int page = std::stoi(req.matches[2]);
  if (page < 1 || page > static_cast<int>(pages->pages.size())) {
    reply_error(res, 404, "no page " + std::to_string(page));
    return;
  }
  double scale = 1.5;
  if (req.has_param("scale")) {
    const std::string text = req.get_param_value("scale");
    char* end = nullptr;
    scale = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(scale >= 0.5 && scale <= 3)) {
      reply_error(res, 400, "scale must be a number from 0.5 to 3");
      return;
    }
  }
  std::string png;
  std::string error;
  bool drawn = false;
  {
    drawing.acquire();
    drawn = render_png(*pages, page, scale, png, error);
    drawing.release();
  }
  if (!drawn) {
    log.write(session->user().username, session->user().company_num, client_address(req), "error", "preview page: " + error);
    reply_error(res, 500, "cannot draw the page");
    return;
  }
  res.set_header("Cache-Control", "private, max-age=300");
  res.set_content(std::move(png), "image/png");
}

void WebServer::Impl::job_pdf(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session) return;
  const int id = std::stoi(req.matches[1]);
  std::string path;
  std::string name;
  Session& app = session->session();
  app.read_quietly([&] {
    if (const PrintJobInfo* job = app.print_jobs().find(id)) {
      path = job->pdf_path;
      name = job->name;
    }
  });
  // Only files of this session's own print folder are served.
  std::error_code ec;
  const fs::path file = fs::weakly_canonical(path.empty() ? fs::path() : fs::path(path), ec);
  const fs::path folder = fs::weakly_canonical(session->print_folder(), ec);
  const std::string file_text = file.string();
  if (path.empty() || !starts_with(file_text, folder.string() + "/") || !fs::is_regular_file(file, ec)) {
    reply_error(res, 404, "no finished print job " + std::to_string(id));
    return;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in.good() && !in.eof()) {
    reply_error(res, 500, "cannot read the print job");
    return;
  }
  const std::string file_name = (name.empty() ? "print" : job_file_name(name)) + ".pdf";
  res.set_header("Content-Disposition", "inline; filename=\"print.pdf\"; filename*=UTF-8''" + percent_encoded(file_name));
  res.set_header("Cache-Control", "private, no-store");
  res.set_content(bytes.str(), "application/pdf");
}

// A whole number parameter within [low, high]; `fallback` when absent; nullopt when malformed.
static std::optional<long> number_param(const HttpRequest& req, const char* name, long fallback, long low, long high) {
  if (!req.has_param(name)) return fallback;
  const std::string text = req.get_param_value(name);
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
  return value;
}

// The client scrolled a long list: its state's window of that form's rows moves there. The
// answer is the state (its changes since the version the client holds), as after an event.
void WebServer::Impl::rows(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session) return;
  const auto from = number_param(req, "from", 1, 1, 100000000);
  const auto count = number_param(req, "count", Session::kWindowRows, 1, 100000000);
  if (!from || !count) {
    reply_error(res, 400, "from and count must be whole numbers from 1");
    return;
  }
  if (!session->session().show_rows(req.matches[1], *from, *count)) {
    reply_error(res, 404, "no form " + std::string(req.matches[1]) + " in the active window");
    return;
  }
  std::string body = "{";
  body += state_members(req, *session, false);
  body += '}';
  res.set_content(std::move(body), "application/json; charset=utf-8");
}

// Type-ahead over a whole list: the first row at or after `from` whose column starts with
// `text`. The client then selects it.
void WebServer::Impl::find(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session) return;
  const auto from = number_param(req, "from", 1, 1, 100000000);
  const std::string column = req.get_param_value("column");
  const std::string text = req.get_param_value("text");
  if (!from || column.empty() || column.size() > 64 || text.empty() || text.size() > 200) {
    reply_error(res, 400, "column and text are needed, from is a whole number from 1");
    return;
  }
  const long row = session->session().find_row(req.matches[1], column, text, *from);
  if (row < 0) {
    reply_error(res, 404, "no form " + std::string(req.matches[1]) + " with column " + column + " in the active window");
    return;
  }
  reply(res, 200, {{"row", row}});
}

// A list of the active window as a spreadsheet: every row the session holds of it (so no row
// the user may not see), downloaded as "<window title>_<date>.xlsx". The workbook is written
// into the session's own folder and removed once read. Each export is one line of the audit
// log: the window, the list and the number of rows.
void WebServer::Impl::export_list(const HttpRequest& req, HttpAnswer& res) {
  auto session = need_session(req, res);
  if (!session) return;
  const std::string control = req.matches[1];
  unsigned char random[12];
  randombytes_buf(random, sizeof random);
  char hex[sizeof random * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, random, sizeof random);
  const std::string name = std::string("export-") + hex;
  std::error_code ec;
  fs::create_directories(session->print_folder(), ec);
  const fs::path file = fs::path(session->print_folder()) / (name + ".xlsx");
  const auto written = session->session().export_list(control, file.string());
  const WebUser& user = session->user();
  if (!written) {
    fs::remove(file, ec);
    if (written.refusal().code == RefusalCode::BadRequest) {
      reply_error(res, 404, "no list " + control + " in the active window");
      return;
    }
    log.write(user.username, user.company_num, client_address(req), "error", "export of " + control + ": " +
                                                                                 written.refusal().describe());
    reply_error(res, 500, "导出失败");
    return;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const bool read = in.good() || in.eof();
  in.close();
  fs::remove(file, ec);
  if (!read) {
    reply_error(res, 500, "cannot read the exported workbook");
    return;
  }
  log.write(user.username, user.company_num, client_address(req), "export",
            "window " + written->window_class + ", list " + control + ", " + std::to_string(written->rows) + " rows");
  const std::string title = written->window_title.empty() ? written->window_class : written->window_title;
  const std::string file_name = job_file_name(title + "_" + written->date.date().to_string()) + ".xlsx";
  res.set_header("Content-Disposition",
                 "attachment; filename=\"export.xlsx\"; filename*=UTF-8''" + percent_encoded(file_name));
  res.set_header("Cache-Control", "private, no-store");
  res.set_content(bytes.str(), "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
}

}  // namespace shenbao
