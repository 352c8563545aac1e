#include "server/guarded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "server/request_head.h"

namespace shenbao {
namespace {

using Clock = std::chrono::steady_clock;

std::string peer_address(socket_t sock) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
  }
  std::string out = text;
  if (out.rfind("::ffff:", 0) == 0 && out.find('.') != std::string::npos) out = out.substr(7);
  return out;
}

// Waits until `sock` is ready for `events` or `until` has passed; false then.
bool wait_for(socket_t sock, short events, Clock::time_point until) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{sock, events, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return false;
  }
}

Clock::duration seconds(time_t sec, time_t usec) { return std::chrono::seconds(sec) + std::chrono::microseconds(usec); }

}  // namespace

// The connection's socket, read through a buffer, every read bounded by the request's
// deadline as well as by the read timeout. It counts what it hands out, so that the loop
// knows whether the request was read to its end.
class GuardedServer::DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(GuardedServer& server, socket_t sock)
      : server_(server),
        sock_(sock),
        read_timeout_(seconds(server.read_timeout_sec_, server.read_timeout_usec_)),
        write_timeout_(seconds(server.write_timeout_sec_, server.write_timeout_usec_)) {}

  bool is_readable() const override { return begin_ < end_ || wait_for(sock_, POLLIN, read_limit()); }
  bool is_writable() const override { return wait_for(sock_, POLLOUT, Clock::now() + write_timeout_); }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      if (!wait_for(sock_, POLLIN, read_limit())) return -1;
      const ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      if (n <= 0) return n < 0 ? -1 : 0;
      begin_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    if (!head_seen_) head_.append(buffer_ + begin_, std::min(n, kMaxHead - std::min(kMaxHead, head_.size())));
    begin_ += n;
    consumed_ += n;
    if (head_seen_ && waiting_ && consumed_ - head_end_ >= body_expected_) received();
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!wait_for(sock_, POLLOUT, Clock::now() + write_timeout_)) return -1;
    return ::send(sock_, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = peer_address(sock_);
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    port = 0;
    if (getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      port = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ip.clear();
    port = 0;
    if (getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
      port = ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    } else if (addr.ss_family == AF_INET6) {
      inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
      port = ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    }
    ip = text;
  }
  socket_t socket() const override { return sock_; }

  // Waits for the first byte of the next request until `until`.
  bool next_request(Clock::time_point until, Clock::time_point head_deadline) {
    if (begin_ == end_ && !wait_for(sock_, POLLIN, until)) return false;
    deadline_ = std::min(head_deadline, Clock::now() + server_.limits_.head_deadline);
    head_seen_ = false;
    clean_end_ = true;
    waiting_ = true;
    body_expected_ = 0;
    head_.clear();
    head_fault_.clear();
    return true;
  }

  // The head has been parsed: what the body is to be.
  void head_read(const httplib::Request& req, size_t max_body) {
    head_seen_ = true;
    head_end_ = consumed_;
    deadline_ = Clock::now() + server_.limits_.body_deadline;
    body_expected_ = 0;
    // What the library made of the head is only as good as the head: one it might read
    // otherwise than another reader would is refused, and its connection ends.
    head_fault_ = head_.size() >= kMaxHead ? std::string("a head too long") : request_head_fault(head_);
    if (!head_fault_.empty()) clean_end_ = false;
    if (req.has_header("Transfer-Encoding")) clean_end_ = false;
    if (req.get_header_value_count("Content-Length") > 1) clean_end_ = false;
    if (req.has_header("Content-Length")) {
      const std::string text = req.get_header_value("Content-Length");
      const bool digits = !text.empty() && text.size() <= 18 &&
                          std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (digits && std::stoull(text) <= max_body) {
        body_expected_ = std::stoull(text);
      } else {
        clean_end_ = false;
      }
    }
    if (consumed_ - head_end_ >= body_expected_) received();
  }

  // Why the request's head is refused; "" when it is sound.
  const std::string& head_fault() const { return head_fault_; }

  // The request was read to its end and no further: the next bytes are the next request.
  bool read_whole() const { return head_seen_ && clean_end_ && consumed_ - head_end_ == body_expected_; }

  // Reads and drops what the client still sends for a moment, so that closing does not reset
  // the connection before the client has read the answer.
  void drain() {
    ::shutdown(sock_, SHUT_WR);
    const auto until = Clock::now() + std::chrono::milliseconds(200);
    size_t dropped = 0;
    while (dropped < 256 * 1024 && wait_for(sock_, POLLIN, until)) {
      const ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      if (n <= 0) break;
      dropped += static_cast<size_t>(n);
    }
  }

 private:
  Clock::time_point read_limit() const { return std::min(deadline_, Clock::now() + read_timeout_); }
  void received() {
    waiting_ = false;
    server_.set_waiting(sock_, false);
  }

  GuardedServer& server_;
  socket_t sock_;
  Clock::duration read_timeout_, write_timeout_;
  Clock::time_point deadline_ = Clock::time_point::max();
  static constexpr size_t kMaxHead = 64 * 1024;
  char buffer_[4096];
  std::string head_;  // the bytes of the request's head as they came, at most kMaxHead
  std::string head_fault_;
  size_t begin_ = 0, end_ = 0;
  size_t consumed_ = 0, head_end_ = 0, body_expected_ = 0;
  bool head_seen_ = false, clean_end_ = true, waiting_ = true;
};

namespace {
thread_local const GuardedServer::DeadlineStream* current_stream = nullptr;
}  // namespace

bool GuardedServer::answer_closes_connection() { return current_stream && !current_stream->read_whole(); }

std::string GuardedServer::head_fault() { return current_stream ? current_stream->head_fault() : std::string(); }

bool GuardedServer::process_and_close_socket(socket_t sock) {
  track(sock, peer_address(sock));
  DeadlineStream stream(*this, sock);
  const auto opened = Clock::now();
  const auto keep_alive = std::chrono::seconds(keep_alive_timeout_sec_);
  bool ok = false;
  bool clean = true;
  for (size_t count = std::max<size_t>(1, keep_alive_max_count_); count > 0 && svr_sock_ != INVALID_SOCKET;
       --count) {
    const bool first = count == std::max<size_t>(1, keep_alive_max_count_);
    const auto now = Clock::now();
    const auto head_deadline = first ? opened + limits_.head_deadline : Clock::time_point::max();
    if (!stream.next_request(first ? head_deadline : now + keep_alive, head_deadline)) break;
    bool connection_closed = false;
    current_stream = &stream;
    ok = process_request(stream, count == 1, connection_closed,
                         [&](httplib::Request& req) { stream.head_read(req, payload_max_length_); });
    current_stream = nullptr;
    clean = stream.read_whole();
    if (!ok || connection_closed || !clean) break;
    set_waiting(sock, true);
  }
  forget(sock);
  if (!clean) stream.drain();
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

void GuardedServer::track(socket_t sock, const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  if (closing_) {
    ::shutdown(sock, SHUT_RDWR);
    return;
  }
  connections_[sock] = Entry{address, true, now};
  if (limits_.workers > 0 && connections_.size() < limits_.workers) return;
  // Ends the connection that has waited longest among those `counts`, when more than `limit`.
  auto limit = [&](size_t max, auto&& counts) {
    size_t n = 0;
    for (const auto& [fd, e] : connections_) n += e.waiting && counts(e);
    while (n > max) {
      auto oldest = connections_.end();
      for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->first == sock || !it->second.waiting || !counts(it->second)) continue;
        if (oldest == connections_.end() || it->second.since < oldest->second.since) oldest = it;
      }
      if (oldest == connections_.end()) return;
      // The worker waiting on it sees the end of its input and lets it go.
      ::shutdown(oldest->first, SHUT_RDWR);
      oldest->second.waiting = false;
      --n;
    }
  };
  if (address != limits_.trusted_address)
    limit(limits_.max_waiting_per_address, [&](const Entry& e) { return e.address == address; });
  limit(limits_.max_waiting, [](const Entry&) { return true; });
}

void GuardedServer::set_waiting(socket_t sock, bool waiting) {
  std::lock_guard lock(mutex_);
  auto it = connections_.find(sock);
  if (it == connections_.end()) return;
  it->second.waiting = waiting;
  if (waiting) it->second.since = Clock::now();
}

void GuardedServer::forget(socket_t sock) {
  std::lock_guard lock(mutex_);
  connections_.erase(sock);
}

void GuardedServer::close_connections() {
  std::lock_guard lock(mutex_);
  closing_ = true;
  for (const auto& [fd, e] : connections_) ::shutdown(fd, SHUT_RDWR);
}

size_t GuardedServer::waiting() const {
  std::lock_guard lock(mutex_);
  return std::count_if(connections_.begin(), connections_.end(), [](const auto& c) { return c.second.waiting; });
}

}  // namespace shenbao
