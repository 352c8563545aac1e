// A clerk's session at work: open the post and rank window, create a declaration, then add
// 500 workers one by one (add, three entries, save). Prints the time per event, median and
// 99th percentile, as the browser would wait for it (post to quiet state).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"
#include "bench/bench_session.h"

namespace shenbao {
namespace {

constexpr int kWorkers = 500;

void BM_AddWorkersOneByOne(benchmark::State& state) {
  const std::string path = "/tmp/shenbao_session_bench_" + std::to_string(getpid()) + ".db";
  std::string error;
  {
    auto sqlca = Transaction::open(path, error);
    DemoOptions demo;
    demo.units = 1;
    demo.workers_per_unit = kWorkers + 100;
    if (!sqlca || !create_database(*sqlca, true, "", error) || !generate_demo_data(*sqlca, demo, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  WindowRegistry registry;
  register_windows(registry);
  std::vector<double> event_ms;
  for (auto _ : state) {
    auto session = bench::start_session(path, registry, "clerk003", "003", Role::Clerk, error);
    if (!session) {
      state.SkipWithError(error.c_str());
      return;
    }
    auto timed = [&](Event event) {
      const auto start = std::chrono::steady_clock::now();
      const EventResult result = session->post(std::move(event));
      event_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      return result;
    };
    timed({"open", "w_vorant_zw"});
    timed({"click", "pb_16"});
    timed({"click", "pb_5"});
    const auto workers = session->state()["sheets"][0]["controls"];
    std::vector<std::string> codes;
    for (const auto& control : workers) {
      if (control["name"] != "dw_2") continue;
      for (const auto& row : control["form"]["rows"]) codes.push_back(row["codes"][0].get<std::string>());
    }
    if (codes.size() < kWorkers) {
      state.SkipWithError("not enough workers in service");
      return;
    }
    for (int i = 0; i < kWorkers; ++i) {
      timed({"gesture", "add", 0, {}, {}, {codes[static_cast<size_t>(i)]}});
      timed({"type", "dw_4", 1, "yrzsj", "2005-03-01"});
      timed({"type", "dw_4", 1, "ndzw", "0141"});
      timed({"type", "dw_4", 1, "ndjb", "14"});
      const EventResult saved = timed({"click", "pb_2"});
      if (!saved.ok()) state.SkipWithError(saved.error().c_str());
    }
  }
  std::sort(event_ms.begin(), event_ms.end());
  state.counters["events"] = static_cast<double>(event_ms.size());
  state.counters["median_ms"] = event_ms[event_ms.size() / 2];
  state.counters["p99_ms"] = event_ms[event_ms.size() * 99 / 100];
  std::printf("events %zu, median %.2f ms, p99 %.2f ms, max %.2f ms\n", event_ms.size(), event_ms[event_ms.size() / 2],
              event_ms[event_ms.size() * 99 / 100], event_ms.back());
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

BENCHMARK(BM_AddWorkersOneByOne)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace shenbao

BENCHMARK_MAIN();
