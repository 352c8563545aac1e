#include "server/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "server/request_head.h"

namespace shenbao {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kReadChunk = 16 * 1024;
constexpr size_t kMaxQueued = 256;

// Runs the handlers: they may block for as long as a session's event takes.
class WorkerPool {
 public:
  void start(size_t threads) {
    for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  void run(std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
  }
  size_t queued() {
    std::lock_guard lock(mutex_);
    return jobs_.size();
  }
  // Runs what is queued, then ends the threads.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
  }

 private:
  void work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> workers_;
  bool stopping_ = false;
};

const char* reason_phrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Server Error";
  }
}

const char* content_type_of(const fs::path& file) {
  static const std::map<std::string, const char*> types = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json; charset=utf-8"}, {".svg", "image/svg+xml"}, {".png", "image/png"},
      {".jpg", "image/jpeg"}, {".gif", "image/gif"}, {".ico", "image/x-icon"}, {".woff2", "font/woff2"},
      {".woff", "font/woff"}, {".ttf", "font/ttf"}, {".txt", "text/plain; charset=utf-8"},
      {".map", "application/json; charset=utf-8"}, {".pdf", "application/pdf"}};
  auto it = types.find(file.extension().string());
  return it == types.end() ? "application/octet-stream" : it->second;
}

// Where the head of a request ends (after its empty line), npos while it has not come whole.
// A line end of LF alone ends it too, so that such a head is refused rather than waited for.
size_t head_end(const std::string& in) {
  const size_t lf = in.find("\n\n");
  const size_t crlf = in.find("\n\r\n");
  const size_t end = std::min(lf == std::string::npos ? lf : lf + 2, crlf == std::string::npos ? crlf : crlf + 3);
  return end;
}

std::string peer_address(const tcp::socket& socket) {
  error_code ec;
  auto address = socket.remote_endpoint(ec).address();
  if (ec) return {};
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
  return address.to_string();
}

// The parts of a sound head that the handlers read; `fault` says why there are none.
void parse_head(const std::string& head, HttpRequest& req, bool& keep_alive) {
  http::request_parser<http::empty_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(kMaxHead));
  // The body's length is judged by the screen, which answers a long one in words.
  parser.body_limit(boost::none);
  parser.eager(false);
  error_code ec;
  parser.put(asio::buffer(head), ec);
  if (ec || !parser.is_header_done()) {
    req.head_fault = "an unreadable head: " + (ec ? ec.message() : std::string("incomplete"));
    return;
  }
  const auto& message = parser.get();
  req.method.assign(message.method_string().data(), message.method_string().size());
  const std::string_view target(message.target().data(), message.target().size());
  if (target.empty() || target[0] != '/') {
    req.head_fault = "a target that is no path";
    return;
  }
  const size_t query = target.find('?');
  req.path = percent_decoded(target.substr(0, query), false);
  if (query != std::string_view::npos) {
    std::string_view rest = target.substr(query + 1);
    while (!rest.empty()) {
      const size_t amp = rest.find('&');
      const std::string_view pair = rest.substr(0, amp);
      const size_t eq = pair.find('=');
      if (!pair.empty())
        req.params.emplace(percent_decoded(pair.substr(0, eq), true),
                           eq == std::string_view::npos ? std::string() : percent_decoded(pair.substr(eq + 1), true));
      rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
  }
  for (const auto& field : message)
    req.headers.emplace(std::string(field.name_string().data(), field.name_string().size()),
                        std::string(field.value().data(), field.value().size()));
  keep_alive = message.keep_alive();
}

// A header value that cannot end its line early.
std::string one_line(const std::string& value) {
  std::string out = value;
  out.erase(std::remove_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }), out.end());
  return out;
}

}  // namespace

class Connection;

class HttpServer::Impl {
 public:
  explicit Impl(Limits l) : limits(std::move(l)) {}

  struct Route {
    std::string method;
    std::regex pattern;
    Handler handler;
  };
  struct Entry {
    std::string address;
    bool waiting = true;  // no whole request yet
    bool idle = false;    // kept alive, waiting for its next request
    Clock::time_point since;  // of the waiting, or of the idleness
    std::weak_ptr<Connection> connection;
  };

  Limits limits;
  Screen screen;
  Handler finish;
  Failure failure;
  std::vector<Route> routes;
  std::vector<std::pair<std::string, std::string>> mounts;

  mutable std::mutex mutex;
  std::condition_variable all_closed;
  std::map<uint64_t, Entry> entries;
  uint64_t next_id = 0;
  std::atomic<bool> stopping{false};
  bool listening = false;
  size_t max_connections = 0;  // limits.max_connections, or what the open-file limit leaves room for

  WorkerPool pool;
  asio::io_context io;
  tcp::acceptor acceptor{io};
  asio::steady_timer accept_pause{io};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  std::vector<std::thread> io_threads;

  int listen(const std::string& host, int port, std::string& error);
  void accept();
  void stop(std::chrono::milliseconds grace);
  // Registers a new connection and holds the limits on those waiting for their request.
  void track(uint64_t id, const std::string& address, const std::shared_ptr<Connection>& connection);
  void served(uint64_t id);
  void set_idle(uint64_t id, bool idle);
  void forget(uint64_t id);
  // Runs the route (or the file) of a request read whole, on a worker.
  void handle(HttpRequest& req, HttpAnswer& answer);
  bool serve_file(const std::string& prefix, const std::string& folder, const HttpRequest& req, HttpAnswer& answer);
};

// One connection, driven on a strand of its own: wait for a request, read its head, screen
// it, read its body, run it on a worker, write the answer, and again.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(HttpServer::Impl& server, tcp::socket socket, uint64_t id, std::string address)
      : server_(server),
        socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        id_(id),
        address_(std::move(address)),
        opened_(Clock::now()) {}
  ~Connection() { server_.forget(id_); }

  asio::any_io_executor executor() { return socket_.get_executor(); }
  void start() { next_request(); }
  // The server stops: a connection waiting for its next request closes now.
  void leave() {
    if (state_ == State::Idle) close();
  }
  void close() {
    state_ = State::Closed;
    ++phase_;
    error_code ec;
    timer_.cancel();
    socket_.close(ec);
  }

 private:
  enum class State { Idle, Head, Body, Handling, Writing, Draining, Closed };

  // Closes the connection at `until` unless the phase has moved on by then.
  void arm(Clock::time_point until) {
    const unsigned phase = ++phase_;
    timer_.expires_at(until);
    timer_.async_wait([self = shared_from_this(), phase](error_code ec) {
      if (!ec && phase == self->phase_) self->close();
    });
  }

  // Reads more input to the end of `in_`, then calls `next`; closes on an error or end.
  template <class Next>
  void read_more(size_t most, Next next) {
    const size_t had = in_.size();
    in_.resize(had + most);
    socket_.async_read_some(asio::buffer(in_.data() + had, most),
                            [self = shared_from_this(), had, next](error_code ec, size_t n) {
                              self->in_.resize(had + n);
                              if (ec || self->state_ == State::Closed) return self->close();
                              next();
                            });
  }

  void next_request() {
    if (server_.stopping) return close();
    state_ = State::Idle;
    if (!in_.empty()) return begin_head();
    in_.shrink_to_fit();
    if (!first_) server_.set_idle(id_, true);
    arm(first_ ? opened_ + server_.limits.head_deadline : Clock::now() + server_.limits.idle);
    socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) {
      if (ec || self->state_ == State::Closed) return self->close();
      self->begin_head();
    });
  }

  void begin_head() {
    if (!first_ && state_ == State::Idle) server_.set_idle(id_, false);
    state_ = State::Head;
    arm(first_ ? opened_ + server_.limits.head_deadline : Clock::now() + server_.limits.head_deadline);
    read_head();
  }

  void read_head() {
    const size_t end = head_end(in_);
    if (end != std::string::npos && end <= kMaxHead) return got_head(end);
    if (in_.size() >= kMaxHead) return got_head(std::string::npos);
    read_more(4096, [self = shared_from_this()] { self->read_head(); });
  }

  void got_head(size_t end) {
    auto req = std::make_shared<HttpRequest>();
    req->remote_addr = address_;
    keep_alive_ = false;
    if (end == std::string::npos) {
      req->head_fault = "a head too long";
    } else {
      const std::string head = in_.substr(0, end);
      in_.erase(0, end);
      req->head_fault = request_head_fault(head);
      if (req->head_fault.empty()) parse_head(head, *req, keep_alive_);
    }
    // What the body is to be: a body of no readable length is never read.
    body_length_ = 0;
    bool readable = req->head_fault.empty() && !req->has_header("Transfer-Encoding") &&
                    req->get_header_value_count("Content-Length") <= 1;
    bool too_long = false;
    if (readable && req->has_header("Content-Length")) {
      const std::string text = req->get_header_value("Content-Length");
      const bool digits = !text.empty() && text.size() <= 18 &&
                          std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      too_long = digits && std::stoull(text) > server_.limits.max_body;
      readable = digits && !too_long;
      if (readable) body_length_ = std::stoull(text);
    }
    HttpAnswer answer;
    const bool refused = server_.screen && server_.screen(*req, answer);
    if (refused || !readable) {
      if (!refused) answer.status = !req->head_fault.empty() ? 400 : too_long ? 413 : 411;
      // The body, if any, stays unread: the connection ends after the answer, and nothing
      // sent behind the head is read as a request.
      close_after_ = !readable || body_length_ > 0;
      if (close_after_) in_.clear();
      return respond(*req, std::move(answer));
    }
    close_after_ = false;
    const std::string expect = req->get_header_value("Expect");
    const bool continue_first = body_length_ > in_.size() && expect.size() == 12 &&
                                std::equal(expect.begin(), expect.end(), "100-continue", [](char a, char b) {
                                  return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
                                });
    state_ = State::Body;
    arm(Clock::now() + server_.limits.body_deadline);
    if (!continue_first) return read_body(req);
    static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    asio::async_write(socket_, asio::buffer(kContinue), [self = shared_from_this(), req](error_code ec, size_t) {
      if (ec || self->state_ == State::Closed) return self->close();
      self->read_body(req);
    });
  }

  void read_body(const std::shared_ptr<HttpRequest>& req) {
    if (in_.size() < body_length_)
      return read_more(std::min(kReadChunk * 4, body_length_ - in_.size()),
                       [self = shared_from_this(), req] { self->read_body(req); });
    req->body = in_.substr(0, body_length_);
    in_.erase(0, body_length_);
    run(req);
  }

  void run(const std::shared_ptr<HttpRequest>& req) {
    state_ = State::Handling;
    ++phase_;
    timer_.cancel();
    if (first_) {
      first_ = false;
      server_.served(id_);
    }
    server_.pool.run([self = shared_from_this(), req] {
      HttpAnswer answer;
      self->server_.handle(*req, answer);
      asio::post(self->executor(), [self, req, answer = std::move(answer)]() mutable {
        if (self->state_ != State::Closed) self->respond(*req, std::move(answer));
      });
    });
  }

  void respond(const HttpRequest& req, HttpAnswer answer) {
    if (server_.finish) server_.finish(req, answer);
    if (server_.stopping || !keep_alive_) close_after_ = true;
    answer_ = std::move(answer);
    std::string& head = answer_head_;
    head = "HTTP/1.1 " + std::to_string(answer_.status) + " " + reason_phrase(answer_.status) + "\r\n";
    for (const auto& [name, value] : answer_.headers) {
      if (!HeaderNameLess{}(name, "Content-Length") && !HeaderNameLess{}("Content-Length", name)) continue;
      head += name + ": " + one_line(value) + "\r\n";
    }
    const bool bodyless = answer_.status == 204 || answer_.status == 304;
    if (!bodyless) head += "Content-Length: " + std::to_string(answer_.body.size()) + "\r\n";
    if (close_after_ && !answer_.has_header("Connection")) head += "Connection: close\r\n";
    head += "\r\n";
    if (req.method == "HEAD" || bodyless) answer_.body.clear();
    state_ = State::Writing;
    arm(Clock::now() + server_.limits.write_deadline);
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(answer_head_), asio::buffer(answer_.body)};
    asio::async_write(socket_, buffers, [self = shared_from_this()](error_code ec, size_t) {
      self->answer_ = HttpAnswer();
      self->answer_head_ = std::string();
      if (ec || self->state_ == State::Closed) return self->close();
      if (self->close_after_) return self->drain();
      self->next_request();
    });
  }

  // Ends the connection without losing the answer: the write side first, then what the
  // client still sends is read and dropped until it closes or `drain` has passed.
  void drain() {
    state_ = State::Draining;
    error_code ec;
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    arm(Clock::now() + server_.limits.drain);
    drop_input();
  }
  void drop_input() {
    in_.clear();
    read_more(kReadChunk, [self = shared_from_this()] { self->drop_input(); });
  }

  HttpServer::Impl& server_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  uint64_t id_;
  std::string address_;
  Clock::time_point opened_;
  State state_ = State::Idle;
  unsigned phase_ = 0;
  bool first_ = true;
  bool keep_alive_ = false;
  bool close_after_ = false;
  size_t body_length_ = 0;
  std::string in_;  // read and not yet used
  HttpAnswer answer_;  // being written
  std::string answer_head_;
};

int HttpServer::Impl::listen(const std::string& host, int port, std::string& error) {
  error_code ec;
  const auto address = asio::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
  if (ec) {
    error = "not an address: " + host;
    return -1;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
    acceptor.close(ec);
    return -1;
  }
  const int bound = acceptor.local_endpoint(ec).port();
  listening = true;
  max_connections = limits.max_connections;
  rlimit files{};
  if (max_connections == 0 && getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    // A quarter of the descriptors (at least 256) stay for the database, the log and the files.
    const size_t all = static_cast<size_t>(files.rlim_cur);
    max_connections = all > 512 ? all - std::max<size_t>(256, all / 4) : all / 2;
  }
  if (max_connections == 0) max_connections = 1 << 20;
  pool.start(std::max<size_t>(1, limits.workers));
  work.emplace(io.get_executor());
  accept();
  const unsigned cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
  for (unsigned i = 0; i < cores; ++i) io_threads.emplace_back([this] { io.run(); });
  return bound;
}

void HttpServer::Impl::accept() {
  // While many requests already wait for a worker, new connections wait in the kernel's listen
  // queue rather than bring more bodies into memory.
  if (pool.queued() >= kMaxQueued) {
    accept_pause.expires_after(std::chrono::milliseconds(10));
    accept_pause.async_wait([this](error_code e) {
      if (!e && !stopping) accept();
    });
    return;
  }
  acceptor.async_accept(asio::make_strand(io), [this](error_code ec, tcp::socket socket) {
    if (stopping || !acceptor.is_open()) return;
    if (ec) {
      // Out of file descriptors, say: try again in a moment instead of spinning.
      accept_pause.expires_after(std::chrono::milliseconds(50));
      accept_pause.async_wait([this](error_code e) {
        if (!e && !stopping) accept();
      });
      return;
    }
    error_code ignored;
    // Without it an answer written in two pieces waits for the client's delayed ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    const std::string address = peer_address(socket);
    uint64_t id;
    {
      std::lock_guard lock(mutex);
      id = ++next_id;
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket), id, address);
    track(id, address, connection);
    asio::dispatch(connection->executor(), [connection] { connection->start(); });
    accept();
  });
}

void HttpServer::Impl::track(uint64_t id, const std::string& address, const std::shared_ptr<Connection>& connection) {
  // Closed after the lock is let go: the last hold of a connection may be ours, and its end
  // takes the lock.
  std::vector<std::shared_ptr<Connection>> closing, leaving;
  std::unique_lock lock(mutex);
  entries[id] = Entry{address, true, false, Clock::now(), connection};
  // Closes the connection that has waited longest among those `counts`, while more than `most`.
  auto limit = [&](size_t most, auto&& counts) {
    size_t n = 0;
    for (const auto& [key, e] : entries) n += e.waiting && counts(e);
    while (n > most) {
      auto oldest = entries.end();
      for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->first == id || !it->second.waiting || !counts(it->second)) continue;
        if (oldest == entries.end() || it->second.since < oldest->second.since) oldest = it;
      }
      if (oldest == entries.end()) return;
      oldest->second.waiting = false;
      if (auto c = oldest->second.connection.lock()) closing.push_back(std::move(c));
      --n;
    }
  };
  if (address != limits.trusted_address)
    limit(limits.max_waiting_per_address, [&](const Entry& e) { return e.address == address; });
  limit(limits.max_waiting, [](const Entry&) { return true; });
  // Near the limit of open files, the connection idle longest gives way to the new one.
  if (entries.size() > max_connections) {
    auto oldest = entries.end();
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (it->second.idle && (oldest == entries.end() || it->second.since < oldest->second.since)) oldest = it;
    if (oldest != entries.end()) {
      oldest->second.idle = false;
      if (auto c = oldest->second.connection.lock()) leaving.push_back(std::move(c));
    }
  }
  lock.unlock();
  for (auto& c : closing) asio::post(c->executor(), [c] { c->close(); });
  for (auto& c : leaving) asio::post(c->executor(), [c] { c->leave(); });
}

void HttpServer::Impl::set_idle(uint64_t id, bool idle) {
  std::lock_guard lock(mutex);
  if (auto it = entries.find(id); it != entries.end()) {
    it->second.idle = idle;
    it->second.since = Clock::now();
  }
}

void HttpServer::Impl::served(uint64_t id) {
  std::lock_guard lock(mutex);
  if (auto it = entries.find(id); it != entries.end()) it->second.waiting = false;
}

void HttpServer::Impl::forget(uint64_t id) {
  std::lock_guard lock(mutex);
  entries.erase(id);
  if (entries.empty()) all_closed.notify_all();
}

void HttpServer::Impl::stop(std::chrono::milliseconds grace) {
  if (stopping.exchange(true) || !listening) return;
  asio::post(io, [this] {
    error_code ec;
    acceptor.close(ec);
    accept_pause.cancel();
  });
  // Each connection closes as soon as it waits for a request: at once when idle, else once its
  // answer is out.
  auto each = [&](auto&& what) {
    std::vector<std::shared_ptr<Connection>> live;
    {
      std::lock_guard lock(mutex);
      for (const auto& [id, e] : entries)
        if (auto c = e.connection.lock()) live.push_back(std::move(c));
    }
    for (auto& c : live) asio::post(c->executor(), [c, what] { what(*c); });
  };
  each([](Connection& c) { c.leave(); });
  auto wait = [&](std::chrono::milliseconds most) {
    std::unique_lock lock(mutex);
    all_closed.wait_for(lock, most, [&] { return entries.empty(); });
  };
  wait(grace);
  each([](Connection& c) { c.close(); });
  wait(std::chrono::milliseconds(1000));
  work.reset();
  io.stop();
  for (auto& t : io_threads) t.join();
  io_threads.clear();
  pool.stop();
}

void HttpServer::Impl::handle(HttpRequest& req, HttpAnswer& answer) {
  const std::string method = req.method == "HEAD" ? "GET" : req.method;
  for (const Route& route : routes) {
    std::smatch match;
    if (route.method != method || !std::regex_match(req.path, match, route.pattern)) continue;
    req.matches.assign(match.begin(), match.end());
    try {
      route.handler(req, answer);
    } catch (const std::exception& e) {
      answer = HttpAnswer();
      if (failure) failure(req, answer, e.what());
    } catch (...) {
      answer = HttpAnswer();
      if (failure) failure(req, answer, "unknown");
    }
    return;
  }
  if (method == "GET")
    for (const auto& [prefix, folder] : mounts)
      if (serve_file(prefix, folder, req, answer)) return;
  answer.status = method == "GET" || method == "POST" ? 404 : 405;
}

bool HttpServer::Impl::serve_file(const std::string& prefix, const std::string& folder, const HttpRequest& req,
                                  HttpAnswer& answer) {
  if (req.path.compare(0, prefix.size(), prefix) != 0) return false;
  if (prefix.back() != '/' && req.path.size() > prefix.size() && req.path[prefix.size()] != '/') return false;
  std::string relative = req.path.substr(prefix.size());
  if (relative.empty() || relative.back() == '/') relative += "index.html";
  // Nothing outside the folder: no step up, no NUL.
  std::istringstream steps(relative);
  for (std::string step; std::getline(steps, step, '/');)
    if (step == ".." || step.find('\0') != std::string::npos || step.find('\\') != std::string::npos) return false;
  while (!relative.empty() && relative.front() == '/') relative.erase(relative.begin());
  const fs::path file = fs::path(folder) / relative;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in.good() && !in.eof()) return false;
  answer.set_content(bytes.str(), content_type_of(file));
  return true;
}

HttpServer::HttpServer(Limits limits) : impl_(std::make_shared<Impl>(std::move(limits))) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::screen(Screen screen) { impl_->screen = std::move(screen); }
void HttpServer::finish(Handler finish) { impl_->finish = std::move(finish); }
void HttpServer::on_failure(Failure failure) { impl_->failure = std::move(failure); }

void HttpServer::get(const std::string& pattern, Handler handler) {
  impl_->routes.push_back({"GET", std::regex(pattern), std::move(handler)});
}
void HttpServer::post(const std::string& pattern, Handler handler) {
  impl_->routes.push_back({"POST", std::regex(pattern), std::move(handler)});
}
void HttpServer::mount(const std::string& prefix, const std::string& folder) {
  impl_->mounts.emplace_back(prefix, folder);
}

int HttpServer::listen(const std::string& host, int port, std::string& error) {
  return impl_->listen(host, port, error);
}
void HttpServer::stop(std::chrono::milliseconds grace) { impl_->stop(grace); }
bool HttpServer::stopping() const { return impl_->stopping; }
size_t HttpServer::connections() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->entries.size();
}

}  // namespace shenbao
