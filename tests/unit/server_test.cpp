// The web server in process, on a free loopback port, driven with HttpClient: bad
// requests get a 4xx, change nothing and leave the server answering; sessions need a live
// cookie and their CSRF token; rights beyond the windows' own (acceptance, other units) are
// refused; failed logins are slowed and locked; previews and print jobs come back as PNG and
// PDF.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "app/database_setup.h"
#include "app/registry.h"
#include "server/event_request.h"
#include "server/passwords.h"
#include "framework/runtime/windows/state_diff.h"
#include "server/web_server.h"
#include "test_database.h"
#include "tests/http_client.h"

namespace shenbao {
namespace {

using nlohmann::json;
using testing::Backend;
using testing::TestDatabase;

struct Reply {
  int status = 0;
  std::string body;
  HttpHeaders headers;
  json data() const { return json::parse(body, nullptr, false); }
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  // The Set-Cookie header that sets cookie `name`, "" when none does.
  std::string set_cookie(const std::string& name) const {
    auto [from, to] = headers.equal_range("Set-Cookie");
    for (auto it = from; it != to; ++it)
      if (it->second.rfind(name + "=", 0) == 0) return it->second;
    return {};
  }
  // The cookie `name` as a request sends it back: "name=value".
  std::string cookie(const std::string& name) const {
    const std::string set = set_cookie(name);
    return set.substr(0, set.find(';'));
  }
};

// A database with the standard fixture, and a server on it.
class Served {
 public:
  explicit Served(WebServer::Options options = {}, Backend backend = Backend::SQLite,
                  const std::string& more_fixture = {})
      : db_(backend) {
    if (!db_.available()) return;
    std::string error;
    EXPECT_TRUE(create_database(db_.sqlca(), true, "", error)) << error;
    if (!more_fixture.empty()) db_.run(more_fixture);
    register_windows(registry_);
    options.database_url = db_.url();
    options.registry = &registry_;
    options.prepare_session = prepare_web_session;
    options.port = 0;
    options.threads = 16;
    if (options.log_path.empty()) options.log_path = "/dev/null";
    server_ = std::make_unique<WebServer>(options);
    started_ = server_->start(error);
    EXPECT_TRUE(started_) << error;
  }

  bool available() const { return db_.available(); }
  bool started() const { return started_; }
  WebServer& server() { return *server_; }

  Reply request(const std::string& method, const std::string& path, const std::string& body = {},
                HttpHeaders headers = {}, const std::string& content_type = "application/json") {
    HttpClient client("127.0.0.1", server_->port());
    client.set_keep_alive(false);
    client.set_read_timeout(30, 0);
    const auto r = method == "GET"       ? client.Get(path, headers)
                   : method == "CHUNKED" ? client.PostChunked(path, headers, body, content_type)
                                         : client.Post(path, headers, body, content_type);
    if (!r) return {};
    return {r->status, r->body, r->headers};
  }

  // Logs in and answers the cookie header and the CSRF token.
  std::pair<std::string, std::string> login(const std::string& user, const std::string& password) {
    Reply r = request("POST", "/api/login", json{{"username", user}, {"password", password}}.dump());
    EXPECT_EQ(r.status, 200) << r.body;
    const std::string set_cookie = r.header("Set-Cookie");
    const std::string cookie = set_cookie.substr(0, set_cookie.find(';'));
    return {cookie, r.data().value("csrf", "")};
  }

  Reply event(const std::pair<std::string, std::string>& who, const json& event) {
    return request("POST", "/api/event", event.dump(), {{"Cookie", who.first}, {"X-CSRF-Token", who.second}});
  }

  std::string state(const std::pair<std::string, std::string>& who) {
    Reply r = request("GET", "/api/state", {}, {{"Cookie", who.first}});
    EXPECT_EQ(r.status, 200) << r.body;
    return r.data()["state"].dump();
  }

 private:
  TestDatabase db_;
  WindowRegistry registry_;
  std::unique_ptr<WebServer> server_;
  bool started_ = false;
};

std::string large(size_t bytes) { return std::string(bytes, 'x'); }

// A raw connection to the server, for what HttpClient would never send.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()); }
  // Everything the server sends until it closes the connection or `timeout` passes; `closed`
  // says which.
  // The first whole answer (its head and the body its Content-Length states), an interim
  // "100 Continue" too; what came until `timeout` when none did.
  std::string read_answer(std::chrono::milliseconds timeout) {
    std::string out;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const size_t end = out.find("\r\n\r\n");
      if (end != std::string::npos) {
        const size_t at = out.find("Content-Length: ");
        const size_t body = at < end ? std::stoul(out.substr(at + 16)) : 0;
        if (out.size() >= end + 4 + body) return out;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return out;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return out;
      out.append(buffer, static_cast<size_t>(n));
    }
  }
  // Ends a send in progress on another thread.
  void stop_sending() { ::shutdown(fd_, SHUT_RDWR); }
  std::string read_all(std::chrono::milliseconds timeout, bool& closed) {
    std::string out;
    closed = false;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return out;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return out;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed = true;
        return out;
      }
      out.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  bool connected_ = false;
};

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(ServerTest, BadRequestsAreRefusedAndChangeNothing) {
  Served s;
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  ASSERT_EQ(s.event(clerk, {{"kind", "open"}, {"target", "w_vorant_zw"}}).status, 200);
  ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_16"}}).status, 200);

  enum class Csrf { Right, None, Wrong };
  struct Case {
    const char* name;
    const char* method;
    std::string path;
    std::string body;
    int status;
    Csrf csrf = Csrf::Right;
    const char* content_type = "application/json";
    HttpHeaders extra = {};
  };
  const Case cases[] = {
      {"malformed JSON", "POST", "/api/event", "{\"kind\": \"click\", ", 400},
      {"not an object", "POST", "/api/event", "[1, 2]", 400},
      {"empty body", "POST", "/api/event", "", 400},
      {"no kind", "POST", "/api/event", R"({"target": "pb_5"})", 400},
      {"unknown kind", "POST", "/api/event", R"({"kind": "explode", "target": "pb_5"})", 400},
      {"calls are the host's", "POST", "/api/event", R"({"kind": "call", "target": "uf_approve", "args": ["1"]})", 400},
      {"inspections are the tests'", "POST", "/api/event", R"({"kind": "value", "target": "dw_3", "row": 1})", 400},
      {"kind not a string", "POST", "/api/event", R"({"kind": 5, "target": "pb_5"})", 400},
      {"target with a path", "POST", "/api/event", R"({"kind": "click", "target": "../pb_5"})", 400},
      {"negative row", "POST", "/api/event", R"({"kind": "select", "target": "dw_2", "row": -1})", 400},
      {"row as text", "POST", "/api/event", R"({"kind": "select", "target": "dw_2", "row": "2"})", 400},
      {"huge row", "POST", "/api/event", R"({"kind": "select", "target": "dw_2", "row": 99999999999})", 400},
      {"args not a list", "POST", "/api/event", R"({"kind": "gesture", "target": "add", "args": "0010004"})", 400},
      {"args of numbers", "POST", "/api/event", R"({"kind": "gesture", "target": "add", "args": [10004]})", 400},
      {"nine args to a click", "POST", "/api/event",
       json{{"kind", "click"}, {"target", "pb_5"}, {"args", std::vector<std::string>(9, "1")}}.dump(), 400},
      {"a gesture's list too long", "POST", "/api/event",
       json{{"kind", "gesture"}, {"target", "units"}, {"args", std::vector<std::string>(2001, "001")}}.dump(), 400},
      {"a gesture's list too large", "POST", "/api/event",
       json{{"kind", "gesture"}, {"target", "units"}, {"args", std::vector<std::string>(200, large(190))}}.dump(), 400},
      {"text longer than any column", "POST", "/api/event",
       json{{"kind", "type"}, {"target", "dw_3"}, {"row", 1}, {"column", "sbsm"}, {"text", large(4 * 32766 + 1)}}.dump(),
       200},
      {"type without a column", "POST", "/api/event", R"({"kind": "type", "target": "dw_3", "row": 1, "text": "x"})", 400},
      {"resize out of range", "POST", "/api/event", R"({"kind": "resize", "target": "w", "args": ["1", "99999"]})", 400},
      {"unknown window", "POST", "/api/event", R"({"kind": "open", "target": "w_nope"})", 409},
      {"unknown control", "POST", "/api/event", R"({"kind": "click", "target": "pb_nope"})", 409},
      {"unknown column", "POST", "/api/event", R"({"kind": "type", "target": "dw_3", "row": 1, "column": "nope", "text": "1"})", 409},
      {"row past the end", "POST", "/api/event", R"({"kind": "type", "target": "dw_3", "row": 7, "column": "sbr", "text": "x"})", 409},
      {"protected cell", "POST", "/api/event", R"({"kind": "type", "target": "dw_3", "row": 1, "column": "zs_tz_xcz", "text": "9"})", 409},
      {"no message box to answer", "POST", "/api/event", R"({"kind": "answer", "target": "yes"})", 409},
      {"oversized body", "POST", "/api/event",
       json{{"kind", "click"}, {"target", "pb_5"}, {"text", large(200 * 1024)}}.dump(), 413},
      {"list cell", "POST", "/api/event",
       R"({"kind": "type", "target": "dw_2", "row": 1, "column": "worker_name", "text": "x"})", 409},
      {"NUL in a path", "GET", "/index.html%00.js", "", 400},
      {"no CSRF token", "POST", "/api/event", R"({"kind": "click", "target": "pb_5"})", 403, Csrf::None},
      {"wrong CSRF token", "POST", "/api/event", R"({"kind": "click", "target": "pb_5"})", 403, Csrf::Wrong},
      {"logout without CSRF token", "POST", "/api/logout", "{}", 403, Csrf::None},
      {"not JSON", "POST", "/api/event", R"({"kind": "click", "target": "pb_5"})", 415, Csrf::Right, "text/plain"},
      {"another site", "POST", "/api/event", R"({"kind": "click", "target": "pb_5"})", 403, Csrf::Right,
       "application/json", {{"Origin", "http://evil.example"}}},
      {"cross-site fetch", "POST", "/api/event", R"({"kind": "click", "target": "pb_5"})", 403, Csrf::Right,
       "application/json", {{"Sec-Fetch-Site", "cross-site"}}},
      {"clerk chooses a unit", "POST", "/api/event", R"({"kind": "text", "target": "uo_1", "text": "002"})", 403},
      {"clerk opens another unit", "POST", "/api/event",
       R"({"kind": "open", "target": "w_zwzs_print", "args": ["0000000001", "002"]})", 403},
      {"clerk types another unit", "POST", "/api/event",
       R"({"kind": "type", "target": "dw_3", "row": 1, "column": "company_num", "text": "002"})", 403},
      {"multiple ranges", "GET", "/api/state", "", 416, Csrf::Right, "", {{"Range", "bytes=0-1,5-9"}}},
      {"unknown API", "GET", "/api/nothing", "", 404},
      {"unknown API posted", "POST", "/api/nothing", "{}", 404},
      {"preview not in preview", "GET", "/api/preview/dw_3.json", "", 404},
      {"preview of no control", "GET", "/api/preview/dw_9/1.png", "", 404},
      {"no such print job", "GET", "/api/jobs/99.pdf", "", 404},
      {"export of no list", "GET", "/api/export/dw_9.xlsx", "", 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = s.state(clerk);
    HttpHeaders headers = c.extra;
    headers.emplace("Cookie", clerk.first);
    if (c.csrf == Csrf::Right) headers.emplace("X-CSRF-Token", clerk.second);
    if (c.csrf == Csrf::Wrong) headers.emplace("X-CSRF-Token", clerk.second.substr(1) + "A");
    const Reply r = s.request(c.method, c.path, c.body, headers, c.content_type);
    EXPECT_EQ(r.status, c.status) << r.body;
    EXPECT_EQ(s.state(clerk), before) << "the state changed";
  }
  // A body sent in chunks is refused before it is read, as its size is not known: the
  // answer is 411, or a closed line when the client was still sending as the server closed.
  for (const std::string& body : {std::string(R"({"kind": "click", "target": "pb_5"})"), large(4 * 1024 * 1024)}) {
    const std::string before = s.state(clerk);
    const Reply r = s.request("CHUNKED", "/api/event", body, {{"Cookie", clerk.first}, {"X-CSRF-Token", clerk.second}});
    EXPECT_TRUE(r.status == 411 || r.status == 0) << r.status << " " << r.body;
    EXPECT_EQ(s.state(clerk), before) << "the state changed";
  }
  // Control characters are refused with a reason, in one-line edits and in entries alike.
  for (const char* event : {R"({"kind": "text", "target": "em_1", "text": "2009-01-01\u0000"})",
                            R"({"kind": "type", "target": "dw_3", "row": 1, "column": "sbr", "text": "王\u001b"})"}) {
    SCOPED_TRACE(event);
    const Reply r = s.request("POST", "/api/event", event, {{"Cookie", clerk.first}, {"X-CSRF-Token", clerk.second}});
    EXPECT_EQ(r.data()["result"]["refusal"]["text"], "输入的内容含有不允许的控制字符");
    EXPECT_EQ(r.body.find("\\u001b"), std::string::npos);
    EXPECT_EQ(r.body.find("\\u0000"), std::string::npos);
  }
  // Still serving, and the session still works.
  const Reply saved = s.event(clerk, {{"kind", "click"}, {"target", "pb_5"}});
  EXPECT_EQ(saved.status, 200);
  EXPECT_EQ(saved.data()["state"]["status"], "保存成功");
  // The next edit is taken, and clears what the status line said of the save.
  const Reply typed = s.event(clerk, {{"kind", "type"}, {"target", "dw_3"}, {"row", 1}, {"column", "sbr"}, {"text", "王小红"}});
  EXPECT_EQ(typed.status, 200);
  EXPECT_EQ(typed.data()["state"]["status"], "");
}

// A request refused before its body is read ends its connection: what was sent as its body
// is never run as a request of its own.
TEST(ServerTest, ARequestHiddenInARefusedBodyIsNotRun) {
  Served s;
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  ASSERT_EQ(s.event(clerk, {{"kind", "open"}, {"target", "w_vorant_zw"}}).status, 200);
  ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_16"}}).status, 200);
  const std::string event =
      json{{"kind", "type"}, {"target", "dw_3"}, {"row", 1}, {"column", "sbr"}, {"text", "偷偷改的"}}.dump();
  const std::string hidden = "POST /api/event HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                             "Cookie: " + clerk.first + "\r\nX-CSRF-Token: " + clerk.second +
                             "\r\nContent-Length: " + std::to_string(event.size()) + "\r\n\r\n" + event;
  const std::string length = "Content-Length: " + std::to_string(hidden.size()) + "\r\n";
  const std::string common = "Host: 127.0.0.1\r\nCookie: " + clerk.first + "\r\nX-CSRF-Token: " + clerk.second + "\r\n";
  struct Case {
    const char* name;
    std::string head;
  };
  const Case cases[] = {
      {"not JSON", "POST /api/event HTTP/1.1\r\n" + common + "Content-Type: text/plain\r\n" + length},
      {"another site", "POST /api/event HTTP/1.1\r\n" + common +
                           "Content-Type: application/json\r\nOrigin: http://evil.example\r\n" + length},
      {"cross-site fetch", "POST /api/event HTTP/1.1\r\n" + common +
                               "Content-Type: application/json\r\nSec-Fetch-Site: cross-site\r\n" + length},
      {"chunked", "POST /api/event HTTP/1.1\r\n" + common +
                      "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n" + length},
      {"multiple ranges", "GET /api/state HTTP/1.1\r\n" + common + "Range: bytes=0-1,5-9\r\n" + length},
      {"negative length", "POST /api/event HTTP/1.1\r\n" + common + "Content-Type: application/json\r\nContent-Length: -1\r\n"},
      {"unknown path", "POST /api/nothing HTTP/1.1\r\n" + common + "Content-Type: text/plain\r\n" + length},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = s.state(clerk);
    RawConnection raw(s.server().port());
    ASSERT_TRUE(raw.connected());
    ASSERT_TRUE(raw.send(c.head + "\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    raw.send(hidden);
    bool closed = false;
    const std::string answers = raw.read_all(std::chrono::seconds(5), closed);
    EXPECT_EQ(count_of(answers, "HTTP/1.1 "), 1u) << answers;
    EXPECT_EQ(answers.find("HTTP/1.1 200"), std::string::npos) << answers;
    EXPECT_TRUE(closed) << "the connection stays open";
    EXPECT_EQ(s.state(clerk), before) << "the hidden request was run";
  }
  // A request read whole keeps its connection for the next one.
  RawConnection raw(s.server().port());
  const std::string state = "GET /api/state HTTP/1.1\r\n" + common + "\r\n";
  ASSERT_TRUE(raw.send(state + state));
  bool closed = false;
  const std::string answers = raw.read_all(std::chrono::milliseconds(1500), closed);
  EXPECT_EQ(count_of(answers, "HTTP/1.1 200"), 2u);
  EXPECT_FALSE(closed);
}

// Refused requests reach their client every time, however it sends its body: a client that
// asks for "100 Continue" is answered with the refusal instead, and one that sends its body at
// once gets the refusal before the connection ends, never a reset in its place.
TEST(ServerTest, EveryRefusalReachesItsClient) {
  Served s;
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  const std::string common = "Host: 127.0.0.1\r\nCookie: " + clerk.first + "\r\nX-CSRF-Token: " + clerk.second + "\r\n";
  const std::string json_type = "Content-Type: application/json\r\n";
  const std::string big = large(3 * 1024 * 1024);
  const std::string taken = large(60 * 1024);  // a length the server takes
  auto length = [](const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n"; };
  struct Case {
    const char* name;
    std::string head;
    std::string body;
    bool waits_for_continue;  // sends its body only after "100 Continue"
    int status;
  };
  const Case cases[] = {
      {"3 MB, asking to continue", "POST /api/event HTTP/1.1\r\n" + common + json_type + length(big) +
                                       "Expect: 100-continue\r\n",
       big, true, 413},
      {"3 MB at once", "POST /api/event HTTP/1.1\r\n" + common + json_type + length(big), big, false, 413},
      {"not JSON, asking to continue", "POST /api/event HTTP/1.1\r\n" + common + "Content-Type: text/plain\r\n" +
                                           length(taken) + "Expect: 100-continue\r\n",
       taken, true, 415},
      {"another site", "POST /api/event HTTP/1.1\r\n" + common + json_type + "Origin: http://evil.example\r\n" +
                           length(taken),
       taken, false, 403},
      {"chunked", "POST /api/event HTTP/1.1\r\n" + common + json_type + "Transfer-Encoding: chunked\r\n",
       "10000\r\n" + large(0x10000) + "\r\n0\r\n\r\n", false, 411},
      {"a lax head", "POST /api/event HTTP/1.1\r\n" + common + json_type + "Content-Length : 5\r\n", big, false, 400},
      {"no session", "POST /api/event HTTP/1.1\r\nHost: 127.0.0.1\r\n" + json_type + "Content-Length: 2\r\n", "{}", false,
       401},
      {"multiple ranges", "GET /api/state HTTP/1.1\r\n" + common + "Range: bytes=0-1,5-9\r\n", "", false, 416},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, int> answers;
    for (int i = 0; i < 50; ++i) {
      RawConnection raw(s.server().port());
      ASSERT_TRUE(raw.connected());
      ASSERT_TRUE(raw.send(c.head + "\r\n"));
      std::thread body;
      if (!c.waits_for_continue && !c.body.empty()) body = std::thread([&] { raw.send(c.body); });
      const std::string answer = raw.read_answer(std::chrono::seconds(10));
      raw.stop_sending();
      if (body.joinable()) body.join();
      ++answers[answer.substr(0, 12)];
    }
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers["HTTP/1.1 " + std::to_string(c.status)], 50);
  }
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", clerk.first}}).status, 200) << "still serving";
}

// Stopping lets what has begun end: a login being checked is answered and its session made;
// then no new connection is taken, and the log says the server stopped.
TEST(ServerTest, StoppingFinishesWhatHasBegun) {
  const std::string path = ::testing::TempDir() + "/shenbao-stop-" + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  WebServer::Options options;
  options.log_path = path;
  Served s(options);
  ASSERT_TRUE(s.started());
  const auto idle = s.login("clerk002", "clerk002pass");
  RawConnection kept(s.server().port());
  ASSERT_TRUE(kept.send("GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + idle.first + "\r\n\r\n"));
  ASSERT_EQ(kept.read_answer(std::chrono::seconds(5)).substr(0, 12), "HTTP/1.1 200");
  // Passwords are checked two at a time, a tenth of a second or so each: stop while four
  // logins are under way.
  Reply in_flight[4];
  std::vector<std::thread> logins;
  for (Reply& r : in_flight)
    logins.emplace_back([&] {
      r = s.request("POST", "/api/login", json{{"username", "clerk001"}, {"password", "clerk001pass"}}.dump());
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  s.server().stop();
  for (auto& t : logins) t.join();
  for (const Reply& r : in_flight) {
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_FALSE(r.cookie("shenbao_session").empty());
  }
  bool closed = false;
  kept.read_all(std::chrono::seconds(2), closed);
  EXPECT_TRUE(closed) << "an idle kept-alive connection ends";
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", idle.first}}).status, 0) << "no new connection";
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  EXPECT_NE(text.str().find(" clerk001 001 127.0.0.1 login ok"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find(" - - - stop"), std::string::npos) << text.str();
}

// Slow clients do not hold the server: a head must arrive within its deadline, connections
// waiting for theirs hold at most half of the workers, and others are answered meanwhile.
TEST(ServerTest, SlowClientsDoNotStarveOthers) {
  WebServer::Options options;
  options.connections.head_deadline = std::chrono::milliseconds(1500);
  Served s(options);  // 16 workers
  ASSERT_TRUE(s.started());
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < 64; ++i) {
    slow.push_back(std::make_unique<RawConnection>(s.server().port()));
    slow.back()->send("GET /api/state HTTP/1.1\r\n");
  }
  std::thread trickle([&] {
    for (int line = 0; !stop; ++line) {
      for (auto& c : slow) c->send("X-Slow-" + std::to_string(line) + ": 1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 3; ++i) {
    const auto started = std::chrono::steady_clock::now();
    // A request that costs the server nothing of its own (no password hash), so that what is
    // measured is the wait for a worker.
    const Reply r = s.request("GET", "/api/state", "", {});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.status, 401);
    EXPECT_LT(took, std::chrono::seconds(1)) << "answered only after "
                                             << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                             << " ms";
  }
  stop = true;
  trickle.join();

  // A head that never ends is cut at its deadline.
  RawConnection trickling(s.server().port());
  trickling.send("GET /api/state HTTP/1.1\r\n");
  const auto started = std::chrono::steady_clock::now();
  bool closed = false;
  for (int line = 0; line < 20 && !closed; ++line) {
    trickling.send("X-Slow: 1\r\n");
    trickling.read_all(std::chrono::milliseconds(400), closed);
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

// An answer carries the changes since the version the client says it holds, and the state
// whole when it holds none the server still keeps (or says something that is no version).
TEST(ServerTest, AnswersCarryTheChangesSinceTheClientsVersion) {
  Served s;
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  const Reply first = s.request("GET", "/api/state", {}, {{"Cookie", clerk.first}});
  ASSERT_EQ(first.status, 200);
  json held = first.data()["state"];
  std::string version = std::to_string(first.data()["version"].get<uint64_t>());
  auto post = [&](const json& event, const std::string& says) {
    return s.request("POST", "/api/event", event.dump(),
                     {{"Cookie", clerk.first}, {"X-CSRF-Token", clerk.second}, {"X-State-Version", says}});
  };
  for (const json& event : {json{{"kind", "open"}, {"target", "w_vorant_zw"}}, json{{"kind", "click"}, {"target", "pb_16"}},
                            json{{"kind", "type"}, {"target", "dw_3"}, {"row", 1}, {"column", "sbr"}, {"text", "李明"}}}) {
    const json answer = post(event, version).data();
    if (answer.contains("changes")) {
      EXPECT_EQ(answer["base"].dump(), version);
      apply_state_changes(held, answer["changes"]);
    } else {
      held = answer["state"];
    }
    version = std::to_string(answer["version"].get<uint64_t>());
    EXPECT_EQ(held.dump(), s.state(clerk)) << event.dump();
  }
  EXPECT_TRUE(post({{"kind", "click"}, {"target", "pb_16"}}, version).data().contains("changes"));
  for (const char* says : {"999999", "-1", "abc", "1"}) {
    const json answer = post({{"kind", "select"}, {"target", "dw_1"}, {"row", 1}}, says).data();
    EXPECT_TRUE(answer.contains("state")) << says;
    EXPECT_FALSE(answer.contains("changes")) << says;
  }
}

TEST(ServerTest, EventsNeedALiveSession) {
  WebServer::Options options;
  options.sessions.idle = std::chrono::seconds(1);
  Served s(options);
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  const auto other = s.login("clerk001", "clerk001pass");
  ASSERT_NE(clerk.first, other.first) << "each login has a token of its own";

  const std::string click = R"({"kind": "click", "target": "pb_5"})";
  struct Case {
    const char* name;
    std::string cookie;
  };
  const Case cases[] = {
      {"no cookie", ""},
      {"unknown token", "shenbao_session=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
      {"empty token", "shenbao_session="},
      {"another cookie's value", "other=" + clerk.first.substr(clerk.first.find('=') + 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpHeaders headers{{"X-CSRF-Token", clerk.second}};
    if (!c.cookie.empty()) headers.emplace("Cookie", c.cookie);
    EXPECT_EQ(s.request("GET", "/api/state", {}, headers).status, 401);
    EXPECT_EQ(s.request("POST", "/api/event", click, headers).status, 401);
    EXPECT_EQ(s.request("GET", "/api/preview/dw_1.json", {}, headers).status, 401);
    EXPECT_EQ(s.request("GET", "/api/jobs/1.pdf", {}, headers).status, 401);
    EXPECT_EQ(s.request("GET", "/api/export/dw_1.xlsx", {}, headers).status, 401);
  }
  // The session cookie is found among others.
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", "a=1; " + clerk.first + "; b=2"}}).status, 200);

  // A logout ends only that session.
  EXPECT_EQ(s.request("POST", "/api/logout", "{}", {{"Cookie", other.first}, {"X-CSRF-Token", other.second}}).status,
            200);
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", other.first}}).status, 401);
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", clerk.first}}).status, 200);

  // Idle past the limit: gone, and the table forgets it.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", clerk.first}}).status, 401);
  EXPECT_EQ(s.server().session_count(), 0u);
}

// A session ends its lifetime after its login, however often it is used.
TEST(ServerTest, SessionsEndTheirLifetimeAfterLoginHoweverUsed) {
  WebServer::Options options;
  options.sessions.lifetime = std::chrono::seconds(2);
  Served s(options);
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", clerk.first}}).status, 200) << "use " << i;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(s.request("GET", "/api/state", {}, {{"Cookie", clerk.first}}).status, 401);
}

TEST(ServerTest, LoginsAreCheckedAndSlowed) {
  Served s;
  ASSERT_TRUE(s.started());
  auto login = [&](const std::string& user, const std::string& password) {
    return s.request("POST", "/api/login", json{{"username", user}, {"password", password}}.dump());
  };
  struct Case {
    const char* name;
    std::string body;
    int status;
  };
  const Case malformed[] = {
      {"not JSON", "username=clerk001", 400},
      {"no password", R"({"username": "clerk001"})", 400},
      {"password not a text", R"({"username": "clerk001", "password": 12345678})", 400},
      {"unknown user", R"({"username": "nobody", "password": "whatever1"})", 401},
      {"NUL in the name", R"({"username": "clerk002\u0000x", "password": "clerk002pass"})", 400},
      {"line break in the name", R"({"username": "clerk002\n", "password": "clerk002pass"})", 400},
      {"empty password", R"({"username": "clerk002", "password": ""})", 401},
  };
  for (const Case& c : malformed) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(s.request("POST", "/api/login", c.body).status, c.status);
  }

  const Reply good = login("clerk002", "clerk002pass");
  ASSERT_EQ(good.status, 200);
  const std::string cookie = good.set_cookie("shenbao_session");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
  // The browser is known for this user from now on: a token that travels with logins only.
  const std::string device = good.set_cookie("shenbao_device");
  EXPECT_NE(device.find("Path=/api/login"), std::string::npos) << device;
  EXPECT_NE(device.find("HttpOnly"), std::string::npos) << device;
  EXPECT_NE(device.find("Max-Age="), std::string::npos) << device;
  EXPECT_EQ(good.data()["user"]["company_num"], "002");
  EXPECT_EQ(good.data()["user"]["may_accept"], false);
  EXPECT_EQ(login("authority", "authoritypass").data()["user"]["may_accept"], true);

  // Five failures are free; the sixth makes the account wait, and a login from a browser
  // that is not known for it is answered at once with the time left, never a lock.
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(login("clerk001", "wrong password").status, 401) << "attempt " << i;
  const Reply slowed = login("clerk001", "clerk001pass");
  EXPECT_EQ(slowed.status, 429) << slowed.body;
  EXPECT_NE(slowed.data().value("error", "").find("秒后再试"), std::string::npos) << slowed.body;
  EXPECT_EQ(slowed.data().value("error", "").find("锁定"), std::string::npos) << slowed.body;
  EXPECT_GE(std::atoi(slowed.header("Retry-After").c_str()), 1);
  EXPECT_EQ(login("clerk002", "clerk002pass").status, 200) << "other users are not slowed";
}

// Guessing at one account from many addresses (behind the trusted proxy, each its own
// address) slows its logins from unknown browsers with a growing wait, answered at once; the
// right password still logs in once the wait has passed, and does not clear the count.
TEST(ServerTest, GuessingFromManyAddressesSlowsTheAccountButNeverLocksItOut) {
  WebServer::Options options;
  options.logins.accounts.free_failures = 5;
  options.logins.accounts.step = std::chrono::milliseconds(400);
  options.logins.accounts.max_delay = std::chrono::milliseconds(1600);
  options.connections.trusted_address = "127.0.0.1";
  Served s(options);
  ASSERT_TRUE(s.started());
  auto login = [&](const std::string& from, const std::string& user, const std::string& password) {
    return s.request("POST", "/api/login", json{{"username", user}, {"password", password}}.dump(),
                     {{"X-Forwarded-For", "198.51.100.9, " + from}});
  };
  // 80 guesses from 20 addresses: the first five are free, then the account waits and only a
  // guess now and then is checked, each slowed answer at once.
  int checked = 0, slowed = 0;
  for (int i = 0; i < 80; ++i) {
    const Reply r = login("10.0.0." + std::to_string(1 + i % 20), "clerk001", "guess");
    if (r.status == 401) ++checked;
    if (r.status == 429) {
      ++slowed;
      if (slowed == 1) {
        EXPECT_NE(r.data().value("error", "").find("秒后再试"), std::string::npos) << r.body;
        EXPECT_GE(std::atoi(r.header("Retry-After").c_str()), 1);
      }
    }
  }
  EXPECT_EQ(checked + slowed, 80);
  EXPECT_GE(checked, 6);
  EXPECT_LE(checked, 12) << "most guesses are never checked";
  // The clerk, from his own address: told to wait at most the longest wait, then in.
  int tries = 0;
  Reply r;
  while ((r = login("10.1.1.1", "clerk001", "clerk001pass")).status == 429 && ++tries < 5)
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(r.header("Retry-After").c_str())));
  EXPECT_EQ(r.status, 200) << "the right password logs in once the wait has passed: " << r.body;
  EXPECT_LE(tries, 1);
  // His login did not buy the guesser fresh guesses: the guess after the next one waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(1700));
  EXPECT_EQ(login("10.0.0.50", "clerk001", "guess").status, 401);
  EXPECT_EQ(login("10.0.0.50", "clerk001", "guess").status, 429) << "the count was cleared";
  EXPECT_EQ(login("10.0.0.51", "clerk002", "clerk002pass").status, 200) << "other accounts were never slowed";

  // The waits grow (1 s, 2 s) up to the longest (2 s). A slow machine only lengthens the time
  // between two checked guesses, so that time shows the growth; the cap is read off the wait
  // the server announces right after a checked guess, which a slow machine only shortens
  // (uncapped it would be 4 s).
  options.logins.accounts.step = std::chrono::seconds(1);
  options.logins.accounts.max_delay = std::chrono::seconds(2);
  Served proxied(options);
  ASSERT_TRUE(proxied.started());
  auto login2 = [&](const std::string& from, const std::string& password) {
    return proxied.request("POST", "/api/login", json{{"username", "clerk001"}, {"password", password}}.dump(),
                           {{"X-Forwarded-For", from}});
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(login2("10.0.0.1", "guess").status, 401);
  EXPECT_EQ(login2("10.0.0.2", "guess").status, 401);  // the first failure that makes the account wait
  std::vector<long> waits, announced;
  for (int i = 0; i < 2; ++i) {
    // Polling until a guess is checked again: that guess fails and starts the next wait.
    const auto before = std::chrono::steady_clock::now();
    Reply g;
    while ((g = login2("10.0.0.3", "guess")).status == 429) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g.status, 401);
    waits.push_back(static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before).count()));
    const Reply slowed = login2("10.0.0.4", "guess");
    EXPECT_EQ(slowed.status, 429);
    announced.push_back(std::atol(slowed.header("Retry-After").c_str()));
  }
  EXPECT_GE(waits[0], 950);
  EXPECT_GE(waits[1], 1950) << "the second wait is twice the first";
  EXPECT_LE(announced[1], 2) << "capped at the longest wait";
  EXPECT_GE(announced[1], 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(login2("10.0.0.2", "clerk001pass").status, 200) << "the clerk is never locked out";
}

// X-Forwarded-For names the client only on connections from the trusted proxy: its last
// entry (what the proxy saw), never the ones before it, and never from anyone else.
TEST(ServerTest, TheClientAddressComesFromTheTrustedProxyOnly) {
  struct Case {
    const char* name;
    std::string trusted;
    std::string forwarded;
    std::string logged;
  };
  const Case cases[] = {
      {"no proxy trusted", "", "10.0.0.7", "127.0.0.1"},
      {"another proxy trusted", "192.0.2.1", "10.0.0.7", "127.0.0.1"},
      {"the trusted proxy", "127.0.0.1", "10.0.0.7", "10.0.0.7"},
      {"a forged first entry", "127.0.0.1", "203.0.113.5, 10.0.0.8", "10.0.0.8"},
      {"IPv6", "127.0.0.1", "2001:db8::7", "2001:db8::7"},
      {"not an address", "127.0.0.1", "evil clerk001", "127.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = ::testing::TempDir() + "/shenbao-proxy-" + std::to_string(::getpid()) + ".log";
    std::remove(path.c_str());
    {
      WebServer::Options options;
      options.log_path = path;
      options.connections.trusted_address = c.trusted;
      Served s(options);
      ASSERT_TRUE(s.started());
      EXPECT_EQ(s.request("POST", "/api/login", json{{"username", "clerk001"}, {"password", "clerk001pass"}}.dump(),
                          {{"X-Forwarded-For", c.forwarded}})
                    .status,
                200);
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path.c_str());
    EXPECT_NE(text.str().find(" clerk001 001 " + c.logged + " login ok"), std::string::npos) << text.str();
  }
}

// Each session holds a database connection: logins beyond the budget are refused with 503
// and a clear message, and logged; a session that ends gives its place back.
TEST(ServerTest, LoginsBeyondTheConnectionBudgetAreRefused) {
  EXPECT_LT(SessionTable::Limits{}.max_sessions, 100u) << "under PostgreSQL's default max_connections";
  const std::string path = ::testing::TempDir() + "/shenbao-budget-" + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  {
    WebServer::Options options;
    options.sessions.max_sessions = 2;
    options.log_path = path;
    Served s(options);
    ASSERT_TRUE(s.started());
    auto login = [&](const std::string& user) {
      return s.request("POST", "/api/login", json{{"username", user}, {"password", user + "pass"}}.dump());
    };
    const Reply first = login("clerk001");
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(login("clerk002").status, 200);
    const Reply full = login("authority");
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(full.data().value("error", ""), "当前登录人数已满，请稍后再试");
    EXPECT_EQ(s.server().session_count(), 2u);
    // A logout frees its place.
    const std::string cookie = first.header("Set-Cookie").substr(0, first.header("Set-Cookie").find(';'));
    EXPECT_EQ(s.request("POST", "/api/logout", "{}", {{"Cookie", cookie}, {"X-CSRF-Token", first.data().value("csrf", "")}})
                  .status,
              200);
    EXPECT_EQ(login("authority").status, 200);
    EXPECT_EQ(login("clerk001").status, 503);
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  EXPECT_NE(text.str().find(" authority - 127.0.0.1 refused login refused: all 2 sessions in use"), std::string::npos)
      << text.str();
}

// Every line of the log says who, of which unit, from where; a name that is no user's is
// never written as typed; deleting a declaration is logged with its id.
TEST(ServerTest, TheLogSaysWhoFromWhereAndNeverAnUnknownName) {
  const std::string path = ::testing::TempDir() + "/shenbao-audit-" + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  {
    WebServer::Options options;
    options.log_path = path;
    Served s(options);
    ASSERT_TRUE(s.started());
    auto login = [&](const std::string& user, const std::string& password) {
      return s.request("POST", "/api/login", json{{"username", user}, {"password", password}}.dump()).status;
    };
    EXPECT_EQ(login("Geheim-Passwort-9", "x12345678"), 401);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(login("clerk001", "wrong password"), 401);
    EXPECT_EQ(login("clerk001", "clerk001pass"), 429);
    const auto clerk = s.login("clerk002", "clerk002pass");
    ASSERT_EQ(s.event(clerk, {{"kind", "open"}, {"target", "w_vorant_zw"}}).status, 200);
    ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_16"}}).status, 200);
    ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_5"}}).status, 200);
    ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_d"}}).status, 200);
    ASSERT_EQ(s.event(clerk, {{"kind", "answer"}, {"target", "yes"}}).status, 200);
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  std::remove(path.c_str());
  EXPECT_EQ(log.find("Geheim"), std::string::npos) << log;
  EXPECT_NE(log.find(" (unknown) - 127.0.0.1 login-failed"), std::string::npos) << log;
  EXPECT_NE(log.find(" clerk001 001 127.0.0.1 login-failed wrong password"), std::string::npos) << log;
  EXPECT_NE(log.find(" clerk001 001 127.0.0.1 account-slowed"), std::string::npos) << log;
  EXPECT_NE(log.find(" clerk001 001 127.0.0.1 login-slowed"), std::string::npos) << log;
  EXPECT_NE(log.find(" clerk002 002 127.0.0.1 delete-declaration rs_w00031_com pkid=0000000001"), std::string::npos)
      << log;
}

TEST(ServerTest, PreviewPagesAndPrintJobsComeBack) {
  Served s;
  ASSERT_TRUE(s.started());
  const auto clerk = s.login("clerk001", "clerk001pass");
  const json steps[] = {{{"kind", "open"}, {"target", "w_vorant_zw"}},
                        {{"kind", "click"}, {"target", "pb_16"}},
                        {{"kind", "click"}, {"target", "pb_5"}},
                        {{"kind", "click"}, {"target", "pb_6"}}};
  for (const json& step : steps) ASSERT_EQ(s.event(clerk, step).status, 200) << step.dump();
  const HttpHeaders cookie{{"Cookie", clerk.first}};
  const Reply info = s.request("GET", "/api/preview/dw_1.json", {}, cookie);
  ASSERT_EQ(info.status, 200) << info.body;
  EXPECT_EQ(info.data()["pages"], 1);
  const Reply png = s.request("GET", "/api/preview/dw_1/1.png?scale=1", {}, cookie);
  ASSERT_EQ(png.status, 200) << png.body;
  EXPECT_EQ(png.body.substr(1, 3), "PNG");
  EXPECT_EQ(s.request("GET", "/api/preview/dw_1/2.png", {}, cookie).status, 404);
  EXPECT_EQ(s.request("GET", "/api/preview/dw_1/1.png?scale=50", {}, cookie).status, 400);

  const Reply printed = s.event(clerk, {{"kind", "click"}, {"target", "pb_2"}});
  ASSERT_EQ(printed.status, 200);
  const int job = printed.data()["state"]["print_jobs"][0]["id"];
  const Reply pdf = s.request("GET", "/api/jobs/" + std::to_string(job) + ".pdf", {}, cookie);
  ASSERT_EQ(pdf.status, 200);
  EXPECT_EQ(pdf.body.substr(0, 5), "%PDF-");
  EXPECT_EQ(pdf.header("Content-Type"), "application/pdf");

  // Another session sees neither the preview nor the job.
  const auto other = s.login("clerk001", "clerk001pass");
  EXPECT_EQ(s.request("GET", "/api/jobs/" + std::to_string(job) + ".pdf", {}, {{"Cookie", other.first}}).status, 404);
  EXPECT_EQ(s.request("GET", "/api/preview/dw_1.json", {}, {{"Cookie", other.first}}).status, 404);
}

TEST(ServerTest, RightsBeyondTheWindows) {
  const WebUser clerk{"clerk001", "王小红", "001", "clerk"};
  const WebUser authority{"authority", "审批员", "", "authority"};
  struct Case {
    const char* name;
    Event event;
    int clerk_status;
    int authority_status;
  };
  const Case cases[] = {
      {"another button", {"click", "pb_5"}, 200, 200},
      {"choosing a unit", {"text", "uo_1", 0, "", "002"}, 403, 200},
      {"the date range", {"text", "em_1", 0, "", "2009-01-01"}, 200, 200},
      {"own unit's print", {"open", "w_zwzs_print", 0, "", "", {"0000000001", "001"}}, 200, 200},
      {"other unit's print", {"open", "w_zwzs_print", 0, "", "", {"0000000001", "002"}}, 403, 200},
      {"a category", {"open", "w_vorant_zw"}, 200, 200},
      {"own unit's number", {"type", "dw_3", 1, "company_num", "001"}, 200, 200},
      {"other unit's number", {"type", "dw_3", 1, "company_num", "002"}, 403, 200},
      {"narrowing by unit", {"filter", "dw_3", 1, "company_num", "00"}, 403, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(check_event(c.event, clerk).status, c.clerk_status);
    EXPECT_EQ(check_event(c.event, authority).status, c.authority_status);
  }
}

TEST(ServerTest, PasswordsAreHashedAndChecked) {
  std::string error;
  EXPECT_TRUE(hash_password("short", error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(hash_password("七个汉字的密码", error).empty()) << "seven characters, though 21 bytes";
  const std::string hash = hash_password("八个汉字的好密码", error);
  ASSERT_FALSE(hash.empty()) << error;
  EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
  EXPECT_TRUE(verify_password(hash, "八个汉字的好密码"));
  EXPECT_FALSE(verify_password(hash, "八个汉字的坏密码"));
  EXPECT_FALSE(verify_password("not a hash", "八个汉字的好密码"));
  EXPECT_FALSE(verify_password("", ""));
}

// What anyone can try against the server: on both databases.
class ServerGuardTest : public ::testing::TestWithParam<Backend> {};

// Users clerk101, clerk102, … of unit 001, their password "officepass1".
std::string office_fixture(int users) {
  static const std::string hash = [] {
    std::string error;
    return hash_password("officepass1", error);
  }();
  std::string sql = "insert into sys_user (username, password_hash, display_name, company_num, role) values ";
  for (int i = 1; i <= users; ++i)
    sql += (i > 1 ? ", " : "") + std::string("('clerk") + std::to_string(100 + i) + "', '" + hash + "', '办事员" +
           std::to_string(i) + "', '001', 'clerk')";
  return sql + ";";
}

#define SHENBAO_REQUIRE_SERVED(s)                                                   \
  if (!(s).available()) GTEST_SKIP() << "no PostgreSQL server: set SHENBAO_TEST_PG"; \
  ASSERT_TRUE((s).started())

// The request forms a lax reader takes otherwise than a strict one: each is answered 400
// alone, its connection ends, and nothing sent behind it runs.
TEST_P(ServerGuardTest, LaxHeadFormsGetA400AndNoSecondAnswer) {
  Served s({}, GetParam());
  SHENBAO_REQUIRE_SERVED(s);
  const auto clerk = s.login("clerk001", "clerk001pass");
  ASSERT_EQ(s.event(clerk, {{"kind", "open"}, {"target", "w_vorant_zw"}}).status, 200);
  ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_16"}}).status, 200);
  const std::string event =
      json{{"kind", "type"}, {"target", "dw_3"}, {"row", 1}, {"column", "sbr"}, {"text", "偷偷改的"}}.dump();
  const std::string common = "Host: 127.0.0.1\r\nContent-Type: application/json\r\nCookie: " + clerk.first +
                             "\r\nX-CSRF-Token: " + clerk.second + "\r\n";
  const std::string hidden = "POST /api/event HTTP/1.1\r\n" + common + "Content-Length: " +
                             std::to_string(event.size()) + "\r\n\r\n" + event;
  struct Case {
    const char* name;
    std::string header;
    std::string body;
  };
  const Case cases[] = {
      {"a blank before the colon", "Transfer-Encoding : chunked\r\n", "0\r\n\r\n"},
      {"a tab before the colon", "Transfer-Encoding\t: chunked\r\n", "0\r\n\r\n"},
      {"an obs-fold", "X-Note: a\r\n Transfer-Encoding: chunked\r\n", "0\r\n\r\n"},
      {"a bare CR", "X-Note: a\rTransfer-Encoding: chunked\r\n", "0\r\n\r\n"},
      {"a bare LF", "X-Note: a\nTransfer-Encoding: chunked\r\n", "0\r\n\r\n"},
      {"two lengths", "Content-Length: 0\r\nContent-Length: 7\r\n", "{}12345"},
      {"an encoding besides chunked", "Transfer-Encoding: gzip, chunked\r\n", "0\r\n\r\n"},
      {"chunked and a length", "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", "0\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = s.state(clerk);
    RawConnection raw(s.server().port());
    ASSERT_TRUE(raw.connected());
    ASSERT_TRUE(raw.send("POST /api/event HTTP/1.1\r\n" + common + c.header + "\r\n" + c.body + hidden));
    bool closed = false;
    const std::string answers = raw.read_all(std::chrono::seconds(5), closed);
    EXPECT_EQ(count_of(answers, "HTTP/1.1 "), 1u) << answers;
    EXPECT_TRUE(answers.rfind("HTTP/1.1 400", 0) == 0 || answers.rfind("HTTP/1.1 411", 0) == 0) << answers;
    EXPECT_TRUE(closed) << "the connection stays open";
    EXPECT_EQ(s.state(clerk), before) << "the hidden request was run";
  }
}

// The guesser's loop runs from 20 addresses while the clerk logs in from his own browser
// (its device token): he is in at once, every time; from a browser not known for him he
// waits as the guesser does, and his logins do not buy the guesser fresh guesses.
TEST_P(ServerGuardTest, TheClerksOwnBrowserLogsInWhileHisAccountIsAttacked) {
  WebServer::Options options;
  options.connections.trusted_address = "127.0.0.1";
  options.logins.accounts.free_failures = 2;
  // The account's first wait outlasts the test, so that the last login below finds it still
  // waiting however slowly the machine runs.
  options.logins.accounts.step = std::chrono::minutes(1);
  Served s(options, GetParam());
  SHENBAO_REQUIRE_SERVED(s);
  auto login = [&](const std::string& from, const std::string& password, const std::string& device) {
    HttpHeaders headers{{"X-Forwarded-For", from}};
    if (!device.empty()) headers.emplace("Cookie", device);
    return s.request("POST", "/api/login", json{{"username", "clerk001"}, {"password", password}}.dump(), headers);
  };
  const Reply first = login("10.1.1.1", "clerk001pass", "");
  ASSERT_EQ(first.status, 200);
  const std::string device = first.cookie("shenbao_device");
  ASSERT_FALSE(device.empty());

  std::atomic<bool> stop{false};
  std::atomic<int> checked{0}, slowed{0};
  std::thread attacker([&] {
    for (int i = 0; !stop; ++i) {
      const Reply r = login("10.0.0." + std::to_string(1 + i % 20), "guess" + std::to_string(i), "");
      if (r.status == 401) ++checked;
      if (r.status == 429) ++slowed;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  // Once the account waits, the clerk logs in from his own browser.
  for (int i = 0; i < 500 && slowed == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_GT(slowed, 0);
  for (int i = 0; i < 8; ++i) {
    const auto before = std::chrono::steady_clock::now();
    const Reply r = login("10.1.1.1", "clerk001pass", device);
    EXPECT_EQ(r.status, 200) << "login " << i << ": " << r.body;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // His mistyped password is checked at once too.
  EXPECT_EQ(login("10.1.1.1", "clerk001pas", device).status, 401);
  stop = true;
  attacker.join();
  EXPECT_LE(checked, 12) << "most guesses are never checked";
  EXPECT_GT(slowed, 20);
  // From a browser not known for him he waits as the guesser does: his logins did not clear
  // the count.
  const Reply unknown = login("10.1.1.2", "clerk001pass", "");
  EXPECT_EQ(unknown.status, 429) << unknown.body;
}

// Twenty clerks behind one address (an office's NAT), one of whom mistypes five times: all
// of them log in.
TEST_P(ServerGuardTest, OneClerkMistypingDoesNotKeepHisOfficeOut) {
  Served s({}, GetParam(), office_fixture(20));
  SHENBAO_REQUIRE_SERVED(s);
  auto login = [&](const std::string& user, const std::string& password) {
    return s.request("POST", "/api/login", json{{"username", user}, {"password", password}}.dump());
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(login("clerk101", "officepass2").status, 401);
  for (int i = 1; i <= 20; ++i) {
    const std::string user = "clerk" + std::to_string(100 + i);
    const Reply r = login(user, "officepass1");
    EXPECT_EQ(r.status, 200) << user << ": " << r.body;
  }
}

// A user holds at most three seats; a share is kept for the authority; once full, a user
// who has none takes back a second seat of another.
TEST_P(ServerGuardTest, SeatsCannotBeHoarded) {
  WebServer::Options options;
  options.sessions.max_sessions = 10;  // one of them the authority's
  Served s(options, GetParam(), office_fixture(9));
  SHENBAO_REQUIRE_SERVED(s);
  auto login = [&](const std::string& user) {
    const std::string password = user.rfind("clerk1", 0) == 0 ? "officepass1" : user + "pass";
    return s.request("POST", "/api/login", json{{"username", user}, {"password", password}}.dump());
  };
  auto live = [&](const Reply& r) {
    return s.request("GET", "/api/state", {}, {{"Cookie", r.cookie("shenbao_session")}}).status == 200;
  };
  std::vector<Reply> logins;
  for (int i = 0; i < 12; ++i) {
    logins.push_back(login("clerk001"));
    ASSERT_EQ(logins.back().status, 200) << i;
  }
  EXPECT_EQ(s.server().session_count(), 3u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(live(logins[i]), i >= 9) << "login " << i << ": each new one ends the oldest";
  for (const char* user : {"clerk002", "clerk101"})
    for (int i = 0; i < 3; ++i) ASSERT_EQ(login(user).status, 200);
  EXPECT_EQ(s.server().session_count(), 9u) << "every seat a clerk may have";
  EXPECT_EQ(login("authority").status, 200) << "the authority's seat was kept";
  for (int i = 2; i <= 7; ++i) {
    const std::string user = "clerk" + std::to_string(100 + i);
    EXPECT_EQ(login(user).status, 200) << user << " takes back a further seat of another";
  }
  EXPECT_EQ(s.server().session_count(), 10u);
  const Reply full = login("clerk108");
  EXPECT_EQ(full.status, 503) << "everyone holds one seat";
  EXPECT_EQ(full.data().value("error", ""), "当前登录人数已满，请稍后再试");
  EXPECT_EQ(login("clerk001").status, 200) << "a user with a seat logs in again in place of it";
}

// Ten seconds of refused requests of every kind leave the log under 1 MB, and its counts
// add up to what was sent; the logins are all there.
TEST_P(ServerGuardTest, AFloodOfRefusalsDoesNotFloodTheLog) {
  const std::string path = ::testing::TempDir() + "/shenbao-flood-" + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  std::map<std::string, long> sent;
  {
    WebServer::Options options;
    options.log_path = path;
    Served s(options, GetParam());
    SHENBAO_REQUIRE_SERVED(s);
    const auto clerk = s.login("clerk002", "clerk002pass");
    ASSERT_EQ(s.event(clerk, {{"kind", "open"}, {"target", "w_vorant_zw"}}).status, 200);
    std::mutex mutex;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto flood = [&](const std::string& event, int status, std::function<int()> send) {
      return std::thread([&, event, status, send] {
        long n = 0;
        while (std::chrono::steady_clock::now() < until) n += send() == status;
        std::lock_guard lock(mutex);
        sent[event] += n;
      });
    };
    const HttpHeaders session{{"Cookie", clerk.first}, {"X-CSRF-Token", clerk.second}};
    std::vector<std::thread> threads;
    threads.push_back(flood("bad-request", 400, [&] { return s.request("POST", "/api/event", "{\"kind\": ", session).status; }));
    threads.push_back(flood("event-refused", 409, [&] {
      return s.request("POST", "/api/event", R"({"kind": "click", "target": "pb_nope"})", session).status;
    }));
    threads.push_back(flood("login-slowed", 429, [&] {
      return s.request("POST", "/api/login", R"({"username": "clerk001", "password": "guessing"})").status;
    }));
    threads.push_back(flood("bad-head", 400, [&] {
      RawConnection raw(s.server().port());
      raw.send("GET /index.html HTTP/1.1\r\nHost : 127.0.0.1\r\n\r\n");
      bool closed = false;
      const std::string answer = raw.read_all(std::chrono::seconds(5), closed);
      return answer.rfind("HTTP/1.1 400", 0) == 0 ? 400 : 0;
    }));
    for (auto& t : threads) t.join();
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  std::remove(path.c_str());
  EXPECT_LT(log.size(), 1024u * 1024u);
  std::map<std::string, long> logged;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string when, user, unit, address, event;
    fields >> when >> user >> unit >> address >> event;
    long count = 1;
    const size_t repeated = line.find("(repeated ");
    if (repeated != std::string::npos) {
      std::string digits;
      for (size_t i = repeated + 10; i < line.size() && line[i] != ' '; ++i)
        if (line[i] != ',') digits += line[i];
      count = std::stol(digits);
    }
    logged[event] += count;
  }
  for (const auto& [event, n] : sent) {
    SCOPED_TRACE(event);
    EXPECT_GT(n, 20);
    EXPECT_EQ(logged[event], n);
  }
  EXPECT_NE(log.find(" clerk002 002 127.0.0.1 login ok"), std::string::npos);
}

// Refusals of a text are the clerk's own words, at the field: the long columns take their
// full length, one character more is refused with the column's limit, and bytes that are no
// UTF-8 are named as such.
TEST_P(ServerGuardTest, RefusalsOfATextAreInWordsTheClerkReads) {
  Served s({}, GetParam());
  SHENBAO_REQUIRE_SERVED(s);
  const auto clerk = s.login("clerk001", "clerk001pass");
  ASSERT_EQ(s.event(clerk, {{"kind", "open"}, {"target", "w_vorant_zw"}}).status, 200);
  ASSERT_EQ(s.event(clerk, {{"kind", "click"}, {"target", "pb_16"}}).status, 200);
  std::string longest;
  for (int i = 0; i < 32766; ++i) longest += "说";
  auto type = [&](const std::string& column, const std::string& text) {
    return s.request("POST", "/api/event",
                     "{\"kind\":\"type\",\"target\":\"dw_3\",\"row\":1,\"column\":\"" + column + "\",\"text\":\"" + text + "\"}",
                     {{"Cookie", clerk.first}, {"X-CSRF-Token", clerk.second}});
  };
  const Reply taken = type("sbsm", longest);
  ASSERT_EQ(taken.status, 200);
  EXPECT_NE(taken.data()["result"]["accepted"], false) << taken.data()["result"].dump();
  struct Case {
    const char* name;
    std::string column;
    std::string text;
    std::string refusal;
  };
  const Case cases[] = {
      {"one character more", "sbsm", longest + "说", "输入的内容太长，最多32766个字"},
      {"a short column", "sbr", "十一个字的申报人名字啊", "输入的内容太长，最多10个字"},
      {"bytes that are no UTF-8", "sbsm", "申报\xff\xfe说明", "输入的内容含有无法识别的字符"},
      {"half a surrogate pair", "sbsm", "申报\\ud800说明", "输入的内容含有无法识别的字符"},
      {"beyond every column", "sbsm", std::string(4 * 32766 + 10, 'x'), "输入的内容太长，最多32766个字"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Reply r = type(c.column, c.text);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.data()["result"]["accepted"], false);
    EXPECT_EQ(r.data()["result"]["refusal"]["text"], c.refusal);
  }
  const Reply huge = type("sbsm", std::string(200 * 1024, 'x'));
  EXPECT_EQ(huge.status, 413);
  EXPECT_EQ(huge.data().value("error", ""), "提交的内容太多，无法处理，请减少输入的内容后重试");
}

INSTANTIATE_TEST_SUITE_P(Databases, ServerGuardTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         testing::backend_name);

}  // namespace
}  // namespace shenbao
