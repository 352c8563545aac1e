#pragma once
// What the server benchmarks share: a `shenbao serve` child on a free port, and the resident
// memory of a process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

namespace shenbao::bench {

// A `shenbao serve` child on a free port. SQLite has no connection limit of its own, so the
// server takes as many sessions as a benchmark logs in, many of them for one clerk.
struct Server {
  pid_t pid = 0;
  std::string host = "127.0.0.1";
  int port = 0;

  bool start(const std::string& shenbao, const std::string& db, const std::string& log) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execl(shenbao.c_str(), shenbao.c_str(), "serve", db.c_str(), "--port", "0", "--log", log.c_str(),
            "--max-sessions", "10000", "--sessions-per-user", "100", nullptr);
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    std::smatch m;
    if (!std::regex_search(line, m, std::regex(R"(http://([0-9.]+):([0-9]+)/)"))) return false;
    host = m[1];
    port = std::stoi(m[2]);
    return true;
  }
  void stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = 0;
  }
  ~Server() { stop(); }
};

// VmRSS of process `pid` in KiB; -1 when it cannot be read.
inline long rss_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace shenbao::bench
