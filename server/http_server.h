#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "server/http_message.h"

namespace shenbao {

// The HTTP/1.1 server under the web front end: connections are held by an event loop
// (Boost.Asio), so that an idle kept-alive connection costs a few KB and no thread; a pool of
// workers runs the handlers, which may block (Session::post waits for the session's UI thread).
//
//   HttpServer server(limits);
//   server.screen(...);  server.get("/api/state", ...);  server.mount("/", "web");
//   const int port = server.listen("127.0.0.1", 0, error);   // serving from here on
//   server.stop(std::chrono::seconds(30));                    // also in the destructor
//
// What it promises, whatever the client sends:
// - One request in, at most one answer out, and no request is read from a body: a request
//   answered before its body was read (the screen refused it, its head is faulty, its length
//   is unreadable, it is chunked) ends its connection after the answer.
// - A refused body is never asked for: "100 Continue" goes out only once the screen has let
//   the head through. A connection that closes with input unread closes its write side first
//   and reads and drops what still comes for `drain`, so that the answer is not lost to a reset.
// - The head must arrive within `head_deadline` of its first byte (a new connection's within
//   `head_deadline` of its opening), the body within `body_deadline`, an answer must be taken
//   within `write_deadline`; a kept-alive connection that sends nothing for `idle` is closed.
// - Connections that have not yet sent a whole request: at most `max_waiting`, at most
//   `max_waiting_per_address` of one address (except `trusted_address`, a proxy that speaks
//   for many). Beyond either, the one of them that has waited longest is closed: a real client
//   sends its request as soon as it has connected. Beyond `max_connections`, the kept-alive
//   connection idle longest is closed.
// - stop() takes no new connection, closes the idle ones, lets every request already begun be
//   read, run and answered (each answer then closes its connection), and waits for that at
//   most `grace` before closing the rest.
//
// Thread safety: routes, mounts and hooks are set before listen(); stop() from any thread.
class HttpServer {
 public:
  struct Limits {
    std::chrono::milliseconds head_deadline{5000};
    std::chrono::milliseconds body_deadline{10000};
    std::chrono::milliseconds write_deadline{10000};
    std::chrono::milliseconds idle{75000};
    std::chrono::milliseconds drain{1000};
    // Open connections; beyond it the one idle longest is closed. 0: what the open-file
    // limit leaves room for.
    size_t max_connections = 0;
    size_t max_waiting = 256;
    size_t max_waiting_per_address = 16;
    std::string trusted_address;
    size_t max_body = 1 << 20;  // a longer stated body is never read: the screen answers it
    size_t workers = 16;
  };
  using Handler = std::function<void(const HttpRequest&, HttpAnswer&)>;
  // Looks at a request whose body has not been read: answers it and says true to refuse it.
  using Screen = std::function<bool(const HttpRequest&, HttpAnswer&)>;
  // A handler's exception, as text, to be answered.
  using Failure = std::function<void(const HttpRequest&, HttpAnswer&, const std::string& what)>;

  explicit HttpServer(Limits limits);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Every request passes the screen first, with its head only; a faulty head
  // (HttpRequest::head_fault) must be refused there.
  void screen(Screen screen);
  // Runs on every answer before it leaves (routed, refused or not found).
  void finish(Handler finish);
  void on_failure(Failure failure);
  // Routes: the whole path matches `pattern` (ECMAScript); the first route that matches runs.
  // A GET route answers HEAD too.
  void get(const std::string& pattern, Handler handler);
  void post(const std::string& pattern, Handler handler);
  // GET and HEAD of paths under `prefix` not routed: the files of `folder` ("/" -> index.html).
  void mount(const std::string& prefix, const std::string& folder);

  // Binds, listens and serves; the port (the one given, or a free one for 0), or -1 with
  // `error`.
  int listen(const std::string& host, int port, std::string& error);
  void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(30000));
  // Whether stop() has begun.
  bool stopping() const;
  // Open connections.
  size_t connections() const;

  class Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace shenbao
