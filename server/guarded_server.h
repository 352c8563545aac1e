#pragma once

#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace shenbao {

// cpp-httplib's server with a connection loop of its own, which holds against clients that
// send slowly or send more than one request's worth:
//
// - One request in, at most one answer out: when an answer leaves part of its request unread
//   (a refusal made before the body was read, a head that could not be parsed, a body of no
//   stated length), the connection closes after that answer, so that nothing sent as the
//   body is ever read as a request of its own.
// - The whole request head must arrive within `head_deadline` of its first byte (a new
//   connection's within `head_deadline` of its opening), its body within `body_deadline`.
// - A connection waiting for its request holds a worker; so that slow clients cannot hold
//   them all, at most `max_waiting` connections wait at once, and at most
//   `max_waiting_per_address` of one client address (except `trusted_address`, a proxy that
//   speaks for many). A connection beyond either limit ends the one of them that has waited
//   longest: a real client sends its request as soon as it has connected, and is served.
//   The limits hold only while every one of the `workers` holds a connection: before that,
//   no connection waits for a worker, and ending a kept-alive one would only make its client
//   connect again.
// - The head is kept as it came and checked (request_head_fault) before the request is
//   handled: the handlers answer a faulty one 400, and its connection closes after that.
class GuardedServer : public httplib::Server {
 public:
  struct Limits {
    std::chrono::milliseconds head_deadline{5000};
    std::chrono::milliseconds body_deadline{10000};
    size_t max_waiting = 32;
    size_t max_waiting_per_address = 8;
    std::string trusted_address;
    size_t workers = 0;  // 0: the limits always hold
  };
  explicit GuardedServer(Limits limits) : limits_(std::move(limits)) {}

  // Whether the connection of the request answered on this thread closes after the answer
  // (for the answer's Connection header); false outside a request.
  static bool answer_closes_connection();
  // Why the head of the request answered on this thread is refused (see request_head.h); ""
  // when it is sound or outside a request. Such a request's connection closes after the answer.
  static std::string head_fault();
  // Ends every open connection (at stop, after httplib::Server::stop()).
  void close_connections();
  // Connections now waiting for (the rest of) a request.
  size_t waiting() const;

 class DeadlineStream;

 private:
  struct Entry {
    std::string address;
    bool waiting = true;
    std::chrono::steady_clock::time_point since;
  };
  bool process_and_close_socket(socket_t sock) override;
  void track(socket_t sock, const std::string& address);
  void set_waiting(socket_t sock, bool waiting);
  void forget(socket_t sock);

  Limits limits_;
  mutable std::mutex mutex_;
  std::map<socket_t, Entry> connections_;
  bool closing_ = false;
};

}  // namespace shenbao
