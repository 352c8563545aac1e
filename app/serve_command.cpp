// `shenbao serve DB [--port N] [--host ADDR] [--log FILE] [--web DIR] [--threads N]
// [--secure-cookie] [--session-hours N] [--trusted-proxy ADDR]
// [--max-sessions N] [--sessions-per-user N] [--log-size MB] [--log-files N]`: serves
// the web front end of a database made by `shenbao init` until SIGINT or SIGTERM; then it takes
// no new connection or login, answers the requests already begun, ends the sessions, writes
// its log and exits 0.
// `--port 0` takes any free port; the first line on stdout says where it listens:
// "serving http://127.0.0.1:8080/".

#include <arpa/inet.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/registry.h"
#include "framework/runtime/windows/session.h"
#include "server/web_server.h"

namespace shenbao {
namespace {

constexpr const char* kUsage =
    "usage: shenbao serve DB [--port N] [--host ADDR] [--log FILE] [--web DIR] [--threads N] [--secure-cookie]\n"
    "                        [--session-hours N] [--trusted-proxy ADDR] [--max-sessions N]\n"
    "                        [--sessions-per-user N] [--log-size MB] [--log-files N]\n"
    "  --secure-cookie: the session cookie only travels over HTTPS (behind a TLS proxy)\n"
    "  --session-hours: every session ends this many hours after its login, however used (12)\n"
    "  --trusted-proxy: the address of a proxy in front of the server; for its connections the\n"
    "                   client's address is the last entry of X-Forwarded-For\n"
    "  --max-sessions: logins at once over every server of the database, each holding a database\n"
    "                  connection (80; keep it under the database's own limit, PostgreSQL's\n"
    "                  max_connections); a tenth of them is kept for the authority\n"
    "  --sessions-per-user: sessions of one user at once, on any server; his next login ends his\n"
    "                       oldest (3)\n"
    "  --log-size: the log file is renamed FILE.1 and begun anew past this many MB (20)\n"
    "  --log-files: how many renamed log files are kept (9)\n";

bool parse_number(const std::string& text, int low, int high, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int serve_command(const std::vector<std::string>& args) {
  WebServer::Options options;
  options.prepare_session = prepare_web_session;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--port" && has_value) {
      if (!parse_number(args[++i], 0, 65535, options.port)) {
        std::fprintf(stderr, "--port must be a number from 0 to 65535\n");
        return 2;
      }
    } else if (a == "--threads" && has_value) {
      if (!parse_number(args[++i], 16, 1024, options.threads)) {
        std::fprintf(stderr, "--threads must be a number from 16 to 1024\n");
        return 2;
      }
    } else if (a == "--session-hours" && has_value) {
      int hours = 0;
      if (!parse_number(args[++i], 1, 24 * 31, hours)) {
        std::fprintf(stderr, "--session-hours must be a number from 1 to 744\n");
        return 2;
      }
      options.sessions.lifetime = std::chrono::hours(hours);
    } else if (a == "--max-sessions" && has_value) {
      int sessions = 0;
      if (!parse_number(args[++i], 1, 10000, sessions)) {
        std::fprintf(stderr, "--max-sessions must be a number from 1 to 10000\n");
        return 2;
      }
      options.sessions.max_sessions = static_cast<size_t>(sessions);
    } else if (a == "--sessions-per-user" && has_value) {
      int sessions = 0;
      if (!parse_number(args[++i], 1, 100, sessions)) {
        std::fprintf(stderr, "--sessions-per-user must be a number from 1 to 100\n");
        return 2;
      }
      options.sessions.max_per_user = static_cast<size_t>(sessions);
    } else if (a == "--log-size" && has_value) {
      int megabytes = 0;
      if (!parse_number(args[++i], 1, 100000, megabytes)) {
        std::fprintf(stderr, "--log-size must be a number of MB from 1 to 100000\n");
        return 2;
      }
      options.log.max_bytes = static_cast<size_t>(megabytes) * 1024 * 1024;
    } else if (a == "--log-files" && has_value) {
      if (!parse_number(args[++i], 0, 1000, options.log.keep_files)) {
        std::fprintf(stderr, "--log-files must be a number from 0 to 1000\n");
        return 2;
      }
    } else if (a == "--trusted-proxy" && has_value) {
      unsigned char buffer[sizeof(in6_addr)];
      const std::string& address = args[++i];
      if (inet_pton(AF_INET, address.c_str(), buffer) != 1 && inet_pton(AF_INET6, address.c_str(), buffer) != 1) {
        std::fprintf(stderr, "--trusted-proxy must be an IPv4 or IPv6 address\n");
        return 2;
      }
      options.connections.trusted_address = address;
    } else if (a == "--secure-cookie") {
      options.secure_cookie = true;
    } else if (a == "--host" && has_value) {
      options.host = args[++i];
    } else if (a == "--log" && has_value) {
      options.log_path = args[++i];
    } else if (a == "--web" && has_value) {
      options.web_root = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  options.database_url = positional[0];
  WindowRegistry registry;
  register_windows(registry);
  options.registry = &registry;

  // The signals are taken by sigwait below, on this thread only: block them before any thread
  // starts so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Every browser holds a connection or two, each a file descriptor: take all the system allows.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  WebServer server(options);
  std::string error;
  if (!server.start(error)) {
    std::fprintf(stderr, "shenbao serve: %s\n", error.c_str());
    return 1;
  }
  std::printf("serving http://%s:%d/\n", options.host.c_str(), server.port());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  server.stop();
  return 0;
}

}  // namespace shenbao
