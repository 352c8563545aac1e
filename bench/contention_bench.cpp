// Write contention on one SQLite file: 8 clerk sessions of one unit each saving 1,000 new post
// and rank declarations at once (pb_16 then pb_5; the save takes the next id and inserts the
// unit form in one transaction). Counts saves that fail, and those whose failure says the
// database is locked or busy (there must be none), and prints the time per save under
// contention: mean, median, 99th percentile and the longest wait. Beside it, the same
// inserts hand-written (begin immediate; next id; insert; commit) on 8 plain connections.
//
//   contention_bench [--sessions 8] [--saves 1000]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"
#include "bench/bench_session.h"
#include "bench/bench_table.h"

namespace shenbao {
namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  std::vector<double> ms;
  int failed = 0;
  int locked = 0;
};

double mean(const Figures& f) {
  double sum = 0;
  for (double v : f.ms) sum += v;
  return f.ms.empty() ? 0 : sum / static_cast<double>(f.ms.size());
}

void print(const char* what, Figures& f, double wall_s) {
  std::sort(f.ms.begin(), f.ms.end());
  double sum = 0;
  for (double v : f.ms) sum += v;
  const size_t n = f.ms.size();
  std::printf("%-34s saves %6zu  failed %d  locked/busy %d  wall %.1f s  %.0f saves/s\n", what, n, f.failed,
              f.locked, wall_s, n / wall_s);
  if (n)
    std::printf("%-34s per save: mean %.2f ms  median %.2f ms  p99 %.2f ms  max %.1f ms\n", "", sum / n, f.ms[n / 2],
                f.ms[std::min(n - 1, n * 99 / 100)], f.ms.back());
}

bool says_locked(const std::string& text) {
  return text.find("locked") != std::string::npos || text.find("busy") != std::string::npos;
}

}  // namespace
}  // namespace shenbao

int main(int argc, char** argv) {
  using namespace shenbao;
  int sessions = 8, saves = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--sessions")) sessions = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--saves")) saves = std::atoi(argv[i + 1]);
  }
  const std::string path = "/tmp/shenbao_contention_bench_" + std::to_string(getpid()) + ".db";
  std::string error;
  {
    auto sqlca = Transaction::open(path, error);
    if (!sqlca || !create_database(*sqlca, true, "", error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  WindowRegistry registry;
  register_windows(registry);

  // Through the windows.
  std::vector<std::unique_ptr<Session>> clerks;
  for (int s = 0; s < sessions; ++s) {
    auto session = bench::start_session(path, registry, "clerk" + std::to_string(s), "001", Role::Clerk, error);
    if (!session || !session->post({"open", "w_vorant_zw"}).ok()) {
      std::fprintf(stderr, "cannot start a session: %s\n", error.c_str());
      return 1;
    }
    clerks.push_back(std::move(session));
  }
  std::vector<Figures> per(sessions);
  std::latch start(sessions + 1);
  std::vector<std::thread> threads;
  for (int s = 0; s < sessions; ++s) {
    threads.emplace_back([&, s] {
      Session& session = *clerks[s];
      start.arrive_and_wait();
      for (int i = 0; i < saves; ++i) {
        session.post({"click", "pb_16"});
        const auto t0 = Clock::now();
        const EventResult r = session.post({"click", "pb_5"});
        per[s].ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        const std::string state = session.state_text();
        if (!r.ok() || state.find("保存失败") != std::string::npos) {
          ++per[s].failed;
          if (says_locked(r.error()) || says_locked(state)) ++per[s].locked;
          session.post({"answer", "ok"});
        }
      }
    });
  }
  start.arrive_and_wait();
  auto t0 = Clock::now();
  for (auto& t : threads) t.join();
  double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  Figures windows;
  for (auto& f : per) {
    windows.ms.insert(windows.ms.end(), f.ms.begin(), f.ms.end());
    windows.failed += f.failed;
    windows.locked += f.locked;
  }
  clerks.clear();
  std::printf("%d sessions x %d saves on one SQLite file\n", sessions, saves);
  print("through the windows (pb_5)", windows, wall);

  // Hand-written: the same insert with the next id, on plain connections.
  std::vector<Figures> hand(sessions);
  std::latch go(sessions + 1);
  threads.clear();
  for (int s = 0; s < sessions; ++s) {
    threads.emplace_back([&, s] {
      std::string e;
      auto sqlca = Transaction::open(path, e);
      go.arrive_and_wait();
      for (int i = 0; i < saves && sqlca; ++i) {
        const auto t = Clock::now();
        long rc = sqlca->execute(
            "insert into rs_w00031_com (pkid, company_num) "
            "select substr('0000000000' || (coalesce(max(cast(pkid as integer)), 0) + 1), -10), '001' from rs_w00031_com");
        const bool ok = rc == 0 && sqlca->commit() == 0;
        if (!ok) {
          ++hand[s].failed;
          if (says_locked(sqlca->sqlerrtext)) ++hand[s].locked;
          sqlca->rollback();
        }
        hand[s].ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
      }
    });
  }
  go.arrive_and_wait();
  t0 = Clock::now();
  for (auto& t : threads) t.join();
  wall = std::chrono::duration<double>(Clock::now() - t0).count();
  Figures by_hand;
  for (auto& f : hand) {
    by_hand.ms.insert(by_hand.ms.end(), f.ms.begin(), f.ms.end());
    by_hand.failed += f.failed;
    by_hand.locked += f.locked;
  }
  print("hand-written (next id + insert)", by_hand, wall);
  const std::string figure = std::to_string(sessions) + " sessions saving " + std::to_string(saves) +
                             " declarations each on one SQLite file: ";
  bench::table_line(figure + "mean per save, windows / hand-written", bench::ms(mean(windows)), bench::ms(mean(by_hand)),
                    mean(windows) / mean(by_hand));
  if (!windows.ms.empty() && !by_hand.ms.empty()) {
    const double median = windows.ms[windows.ms.size() / 2], hand_median = by_hand.ms[by_hand.ms.size() / 2];
    bench::table_line(figure + "median per save", bench::ms(median), bench::ms(hand_median), median / hand_median);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  return windows.locked == 0 ? 0 : 1;
}
