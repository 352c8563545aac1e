// The web server under load, on loopback: requests per second and latency of events posted
// by 50 logged-in clerks at once (wrk with bench/server_bench.lua) while 1,000 idle browsers
// hold a kept-alive connection each, then by 200 clerks on 200 connections; the server's
// resident memory per idle connection, and per session with a category window open.
//
//   server_bench [--shenbao BIN] [--seconds 20] [--connections 50] [--idle 1000] [--sessions 200]
//   server_bench --url http://127.0.0.1:8080 [--pid PID] ...   (a server already running on a
//                                                              database made with init --demo)
//
// Without --url it makes a demo database (`shenbao init --demo`) in a temporary folder and
// starts `shenbao serve` on it, once for the load and once, fresh, for the memory. The memory
// figure is (VmRSS with N sessions − VmRSS before them) / N, read from /proc/PID/status.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_table.h"
#include "bench/served_process.h"
#include "tests/http_client.h"

namespace {

using shenbao::bench::rss_kib;
using shenbao::bench::Server;

namespace fs = std::filesystem;
using nlohmann::json;

struct Options {
  std::string shenbao = std::string(SHENBAO_SOURCE_DIR) + "/build/shenbao";
  std::string url;
  int pid = 0;
  int seconds = 20;
  int connections = 50;
  int sessions = 200;
  int idle = 1000;
};

// The clerks of the standard fixture and of the demo units.
std::string clerk(int i) {
  static const char* kNames[] = {"clerk001", "clerk002", "clerk003", "clerk004", "clerk005", "clerk006", "clerk007"};
  return kNames[i % 7];
}

std::string run_output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    if (pclose(p) != 0) out += "\n(exit status not 0)";
  }
  return out;
}


// Browsers that have loaded a page and then keep their connection open, sending nothing.
class IdleBrowsers {
 public:
  bool open(const std::string& host, int port, int count) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    const std::string request = "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    for (int i = 0; i < count; ++i) {
      // Close-on-exec: wrk, started meanwhile, must not inherit them (it takes only descriptors
      // below a bound of its own).
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        std::fprintf(stderr, "idle connection %d: %s\n", i, std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
      }
      fds_.push_back(fd);
      // The answer (401: no session) is read whole, as a browser would.
      std::string answer;
      char buffer[4096];
      while (answer.find("\r\n\r\n") == std::string::npos || answer.size() < answer.find("\r\n\r\n") + 4 + body_length(answer)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
          std::fprintf(stderr, "idle connection %d: no answer\n", i);
          return false;
        }
        answer.append(buffer, static_cast<size_t>(n));
      }
    }
    return true;
  }
  // How many the server has not closed.
  int still_open() const {
    int open = 0;
    for (int fd : fds_) {
      pollfd p{fd, POLLIN, 0};
      open += ::poll(&p, 1, 0) == 0;
    }
    return open;
  }
  ~IdleBrowsers() {
    for (int fd : fds_) ::close(fd);
  }

 private:
  static size_t body_length(const std::string& answer) {
    const size_t at = answer.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(answer.substr(at + 16));
  }
  std::vector<int> fds_;
};

struct Load {
  int connections = 0;
  int idle = 0;
  std::string output;
  double rps = -1, p50 = -1, p99 = -1;
  bool errors = false;
  int idle_open = 0;
  double idle_kib = -1;
};

struct Login {
  std::string cookie;
  std::string csrf;
};

// Logs in and posts the set-up events; nullopt when any of it fails.
std::optional<Login> log_in(const std::string& host, int port, const std::string& user, const std::vector<json>& events) {
  shenbao::HttpClient client(host, port);
  client.set_read_timeout(60, 0);
  auto r = client.Post("/api/login", json{{"username", user}, {"password", user + "pass"}}.dump(), "application/json");
  if (!r || r->status != 200) {
    std::fprintf(stderr, "login of %s failed: %d\n", user.c_str(), r ? r->status : -1);
    return std::nullopt;
  }
  const std::string set_cookie = r->get_header_value("Set-Cookie");
  Login login{set_cookie.substr(0, set_cookie.find(';')), json::parse(r->body).value("csrf", "")};
  const shenbao::HttpHeaders headers{{"Cookie", login.cookie}, {"X-CSRF-Token", login.csrf}};
  json state;
  for (json event : events) {
    // An add without a worker takes the first worker of the unit's list.
    if (event.value("target", "") == "add" && event["args"].empty()) {
      for (const auto& control : state["sheets"][0]["controls"]) {
        if (control["name"] == "dw_2" && !control["form"]["rows"].empty())
          event["args"] = {control["form"]["rows"][0]["codes"][0]};
      }
    }
    auto e = client.Post("/api/event", headers, event.dump(), "application/json");
    if (!e || e->status != 200) {
      std::fprintf(stderr, "%s: %s answered %d\n", user.c_str(), event.dump().c_str(), e ? e->status : -1);
      return std::nullopt;
    }
    state = json::parse(e->body)["state"];
  }
  return login;
}

// Logs in `count` sessions, four at a time (the server hashes two passwords at once).
std::vector<Login> log_in_many(const std::string& host, int port, int count, const std::vector<json>& events) {
  std::vector<Login> logins;
  std::mutex mutex;
  std::atomic<int> next{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = next++; i < count; i = next++) {
        if (auto login = log_in(host, port, clerk(i), events)) {
          std::lock_guard lock(mutex);
          logins.push_back(*login);
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  return logins;
}

// A saved declaration with one worker, so that the worker form has a row whose drop-downs
// can be narrowed.
const std::vector<json> kWorkingSession = {
    {{"kind", "open"}, {"target", "w_vorant_zw"}},
    {{"kind", "click"}, {"target", "pb_16"}},
    {{"kind", "click"}, {"target", "pb_5"}},
    {{"kind", "gesture"}, {"target", "add"}, {"args", json::array()}},
};
const std::vector<json> kIdleSession = {{{"kind", "open"}, {"target", "w_vorant_zw"}}};

double wrk_figure(const std::string& output, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(output, m, std::regex(pattern))) return -1;
  double value = std::stod(m[1]);
  const std::string unit = m.size() > 2 ? std::string(m[2]) : "";
  if (unit == "us") value /= 1000;
  if (unit == "s") value *= 1000;
  return value;
}

int run(const Options& options) {
  const fs::path dir = fs::temp_directory_path() / ("shenbao-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string db = (dir / "demo.db").string();
  std::string host = "127.0.0.1";
  int port = 0;
  Server load_server;
  if (options.url.empty()) {
    std::printf("making the demo database...\n");
    std::fflush(stdout);
    const std::string init = run_output(options.shenbao + " init " + db + " --demo 2>&1");
    if (!fs::exists(db)) {
      std::fprintf(stderr, "shenbao init failed: %s\n", init.c_str());
      return 1;
    }
    if (!load_server.start(options.shenbao, db, (dir / "load.log").string())) {
      std::fprintf(stderr, "shenbao serve did not start\n");
      return 1;
    }
    host = load_server.host;
    port = load_server.port;
  } else {
    std::smatch m;
    if (!std::regex_search(options.url, m, std::regex(R"(http://([0-9.]+):([0-9]+))"))) {
      std::fprintf(stderr, "--url must be http://ADDRESS:PORT\n");
      return 2;
    }
    host = m[1];
    port = std::stoi(m[2]);
  }

  // Load: each connection a session of its own, posting events for `seconds`, first while
  // `idle` browsers hold a kept-alive connection each and send nothing, then with 200.
  const std::string sessions_file = (dir / "sessions.txt").string();
  std::vector<Load> loads;
  for (const auto& [connections, idle] : {std::pair{options.connections, options.idle}, std::pair{200, 0}}) {
    std::printf("logging in %d sessions...\n", connections);
    std::fflush(stdout);
    const auto working = log_in_many(host, port, connections, kWorkingSession);
    if (static_cast<int>(working.size()) != connections) return 1;
    {
      std::ofstream out(sessions_file);
      for (const auto& login : working) out << login.cookie << ' ' << login.csrf << '\n';
    }
    Load load{connections, idle};
    const long before_idle = load_server.pid > 0 ? rss_kib(load_server.pid) : options.pid > 0 ? rss_kib(options.pid) : -1;
    IdleBrowsers browsers;
    if (!browsers.open(host, port, idle)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long with_idle = load_server.pid > 0 ? rss_kib(load_server.pid) : options.pid > 0 ? rss_kib(options.pid) : -1;
    if (idle > 0 && before_idle > 0 && with_idle > 0) load.idle_kib = static_cast<double>(with_idle - before_idle) / idle;
    const std::string script = std::string(SHENBAO_SOURCE_DIR) + "/bench/server_bench.lua";
    const std::string wrk = "SHENBAO_SESSIONS=" + sessions_file + " wrk --latency -t" + std::to_string(connections) +
                            " -c" + std::to_string(connections) + " -d" + std::to_string(options.seconds) +
                            "s --timeout 10s -s " + script + " http://" + host + ":" + std::to_string(port) + "/ 2>&1";
    std::printf("running wrk for %d s with %d idle connections open...\n", options.seconds, idle);
    std::fflush(stdout);
    load.output = run_output(wrk);
    load.rps = wrk_figure(load.output, R"(Requests/sec:\s+([0-9.]+))");
    load.p50 = wrk_figure(load.output, R"(50%\s+([0-9.]+)(us|ms|s))");
    load.p99 = wrk_figure(load.output, R"(99%\s+([0-9.]+)(us|ms|s))");
    load.errors = load.output.find("Non-2xx") != std::string::npos || load.output.find("Socket errors") != std::string::npos;
    load.idle_open = browsers.still_open();
    loads.push_back(load);
  }
  load_server.stop();

  // Memory: a fresh server, sessions with the category window open and nothing else.
  long before = -1, after = -1;
  int measured = 0;
  Server memory_server;
  int pid = options.pid;
  if (options.url.empty()) {
    if (memory_server.start(options.shenbao, db, (dir / "memory.log").string())) {
      host = memory_server.host;
      port = memory_server.port;
      pid = memory_server.pid;
    }
  }
  if (pid > 0) {
    std::printf("logging in %d sessions with a window open...\n", options.sessions);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    before = rss_kib(pid);
    measured = static_cast<int>(log_in_many(host, port, options.sessions, kIdleSession).size());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    after = rss_kib(pid);
  }
  memory_server.stop();

  bool errors = false;
  for (const Load& load : loads) std::printf("\n%s\n", load.output.c_str());
  std::printf("== server_bench (loopback, %u cores)\n", std::thread::hardware_concurrency());
  for (const Load& load : loads) {
    std::printf("events: %d sessions on %d connections, %d idle connections open, %d s: %.0f requests/s, p50 %.2f ms, "
                "p99 %.2f ms%s\n",
                load.connections, load.connections, load.idle, options.seconds, load.rps, load.p50, load.p99,
                load.errors ? " (with errors, see wrk's output above)" : "");
    if (load.idle > 0)
      std::printf("idle connections: %d of %d still open after the run, %.1f KiB resident each\n", load.idle_open,
                  load.idle, load.idle_kib);
    errors = errors || load.errors || load.idle_open != load.idle;
    char served[96];
    std::snprintf(served, sizeof served, "%.0f requests/s, p50 %.1f ms, p99 %.1f ms", load.rps, load.p50, load.p99);
    shenbao::bench::table_line("web server: " + std::to_string(load.connections) + " sessions posting events on " +
                                   std::to_string(load.connections) + " connections, " + std::to_string(load.idle) +
                                   " idle connections open, " + std::to_string(options.seconds) + " s",
                               served);
  }
  if (measured > 0 && before > 0 && after > 0) {
    std::printf("memory: %d sessions with 职位职数上报 open: VmRSS %.1f MiB -> %.1f MiB, %.0f KiB per session\n",
                measured, before / 1024.0, after / 1024.0, static_cast<double>(after - before) / measured);
  } else {
    std::printf("memory: not measured (give --pid for a server started elsewhere)\n");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return errors ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--shenbao") options.shenbao = value();
    else if (a == "--url") options.url = value();
    else if (a == "--pid") options.pid = std::atoi(value().c_str());
    else if (a == "--seconds") options.seconds = std::max(1, std::min(120, std::atoi(value().c_str())));
    else if (a == "--connections") options.connections = std::max(1, std::min(200, std::atoi(value().c_str())));
    else if (a == "--idle") options.idle = std::max(0, std::min(10000, std::atoi(value().c_str())));
    else if (a == "--sessions") options.sessions = std::max(1, std::min(1000, std::atoi(value().c_str())));
    else {
      std::fprintf(stderr,
                   "usage: server_bench [--shenbao BIN] [--url http://HOST:PORT [--pid PID]] [--seconds N] "
                   "[--connections N] [--idle N] [--sessions N]\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  // The idle connections need a descriptor each.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  return run(options);
}
