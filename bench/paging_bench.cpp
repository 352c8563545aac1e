// What a clerk's events cost as his unit grows: the answer's size and time of each step of a
// post and rank declaration, for a unit of 60 workers and one of 9,999 (the most a unit's
// four-digit worker numbers allow), generated as the demo's units are; and the server's
// resident memory per logged-in session with the window open.
//
//   paging_bench [--shenbao BIN] [--workers 60,9999] [--sessions 20]
//
// Each unit gets a database of its own (the fixture and one demo unit, 003) with, besides,
// a declaration of every worker of the unit; `shenbao serve` runs on it. The browser's
// protocol is followed: the whole state on the first load, then each answer carries the
// changes since the version the client holds. Steps: opening the window, a new declaration,
// typing a count, saving, adding a worker, selecting the declaration of every worker, and
// scrolling the worker list to its end; five rounds, each a fresh login, and the median round
// of each step is printed. Memory: (VmRSS with N sessions − before) / N.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/database_setup.h"
#include "bench/bench_table.h"
#include "bench/served_process.h"
#include "tests/http_client.h"
#include "framework/runtime/windows/state_diff.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

using shenbao::bench::rss_kib;
using shenbao::bench::Server;

std::string today_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d 00:00:00", &local);
  return text;
}

// The fixture, one demo unit (003) of `workers` workers, and a declaration of all of them.
bool make_database(const std::string& file, int workers, std::string& error) {
  auto sqlca = shenbao::Transaction::open("sqlite:" + file, error);
  if (!sqlca) return false;
  if (!shenbao::create_database(*sqlca, true, "", error)) return false;
  shenbao::DemoOptions demo;
  demo.units = 1;
  demo.workers_per_unit = workers;
  if (!shenbao::generate_demo_data(*sqlca, demo, error)) return false;
  const std::string day = today_text();
  const bool ok =
      sqlca->execute("insert into rs_w00031_com (pkid, company_num, state, company_name, sb_date, createby, createdate) "
                     "select '9000000001', company_num, 0, company_name, :d1, 'clerk003', :d2 "
                     "from rs_info_company where company_num = '003'",
                     {shenbao::Value(day), shenbao::Value(day)}) >= 0 &&
      sqlca->execute("insert into rs_w00031 (pkid, company_num, worker_code, state, worker_name, sex, birthday, "
                     "people_standing, yzw, yjb, card_no, createby, createdate) "
                     "select '9000000001', company_num, worker_code, 0, worker_name, sex, birthday, people_standing, "
                     "post, jb, card_no, 'clerk003', :day from rs_main where company_num = '003'",
                     {shenbao::Value(day)}) >= 0;
  if (!ok) {
    error = sqlca->sqlerrtext;
    sqlca->rollback();
    return false;
  }
  return sqlca->commit() == 0;
}

// One browser: its session, and the state as the answers' changes leave it.
struct Browser {
  shenbao::HttpClient client;
  std::string cookie, csrf;
  json state;
  long version = -1;
  explicit Browser(const Server& s) : client(s.host, s.port) { client.set_read_timeout(120, 0); }

  struct Step {
    size_t bytes = 0;
    double ms = 0;
    int status = 0;
  };
  Step take(const std::optional<shenbao::HttpClientAnswer>& r, Clock::time_point start) {
    Step step{r ? r->body.size() : 0, std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
              r ? r->status : -1};
    if (!r) return step;
    const json body = json::parse(r->body, nullptr, false);
    if (body.is_object() && body.contains("version")) {
      if (body.contains("state")) state = body["state"];
      else shenbao::apply_state_changes(state, body["changes"]);
      version = body["version"];
    }
    return step;
  }
  shenbao::HttpHeaders headers() const {
    shenbao::HttpHeaders h{{"Cookie", cookie}, {"X-CSRF-Token", csrf}};
    if (version >= 0) h.emplace("X-State-Version", std::to_string(version));
    return h;
  }
  bool login(const std::string& user) {
    auto r = client.Post("/api/login", json{{"username", user}, {"password", user + "pass"}}.dump(), "application/json");
    if (!r || r->status != 200) return false;
    const std::string set_cookie = r->get_header_value("Set-Cookie");
    cookie = set_cookie.substr(0, set_cookie.find(';'));
    csrf = json::parse(r->body).value("csrf", "");
    return take(client.Get("/api/state", headers()), Clock::now()).status == 200;
  }
  Step event(const json& e) {
    const auto start = Clock::now();
    return take(client.Post("/api/event", headers(), e.dump(), "application/json"), start);
  }
  Step get(const std::string& path) {
    const auto start = Clock::now();
    return take(client.Get(path, headers()), start);
  }
  const json* form(const std::string& name) const {
    if (state["sheets"].empty()) return nullptr;
    for (const auto& c : state["sheets"][state["active_sheet"].get<size_t>()]["controls"])
      if (c["name"] == name) return &c["form"];
    return nullptr;
  }
};

constexpr int kRounds = 5;

void run_steps(Browser& b, int workers, std::vector<std::pair<std::string, Browser::Step>>& steps);

struct Figures {
  std::vector<std::pair<std::string, Browser::Step>> steps;
  double kib_per_session = -1;
  int sessions = 0;
};

Figures measure(const std::string& shenbao, int workers, int sessions, const fs::path& dir) {
  Figures out;
  const std::string db = (dir / ("unit" + std::to_string(workers) + ".db")).string();
  std::string error;
  if (!make_database(db, workers, error)) {
    std::fprintf(stderr, "cannot make the database: %s\n", error.c_str());
    return out;
  }
  Server server;
  if (!server.start(shenbao, db, (dir / "serve.log").string())) {
    std::fprintf(stderr, "shenbao serve did not start\n");
    return out;
  }
  // Each round a fresh login goes through the steps; a step's figure is its median round.
  std::vector<std::vector<std::pair<std::string, Browser::Step>>> rounds(static_cast<size_t>(kRounds));
  for (auto& round : rounds) {
    Browser b(server);
    if (!b.login("clerk003")) {
      std::fprintf(stderr, "login failed\n");
      return out;
    }
    run_steps(b, workers, round);
  }
  for (size_t s = 0; s < rounds[0].size(); ++s) {
    std::vector<Browser::Step> each;
    for (const auto& round : rounds) {
      if (s < round.size()) each.push_back(round[s].second);
    }
    std::sort(each.begin(), each.end(), [](const auto& a, const auto& b) { return a.ms < b.ms; });
    out.steps.emplace_back(rounds[0][s].first, each[each.size() / 2]);
  }

  // Memory: sessions with the window open.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long before = rss_kib(server.pid);
  std::vector<std::unique_ptr<Browser>> open;
  for (int i = 0; i < sessions; ++i) {
    auto other = std::make_unique<Browser>(server);
    if (!other->login("clerk003")) break;
    if (other->event({{"kind", "open"}, {"target", "w_vorant_zw"}}).status != 200) break;
    open.push_back(std::move(other));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long after = rss_kib(server.pid);
  out.sessions = static_cast<int>(open.size());
  if (before > 0 && after > 0 && !open.empty()) out.kib_per_session = static_cast<double>(after - before) / open.size();
  return out;
}

void run_steps(Browser& b, int workers, std::vector<std::pair<std::string, Browser::Step>>& steps) {
  auto step = [&](const std::string& what, Browser::Step s) {
    if (s.status != 200) std::fprintf(stderr, "%s answered %d\n", what.c_str(), s.status);
    steps.emplace_back(what, s);
  };
  step("open the window", b.event({{"kind", "open"}, {"target", "w_vorant_zw"}}));
  step("new declaration", b.event({{"kind", "click"}, {"target", "pb_16"}}));
  step("type a count", b.event({{"kind", "type"}, {"target", "dw_3"}, {"row", 1}, {"column", "zs_xcz_add"}, {"text", "1"}}));
  step("save", b.event({{"kind", "click"}, {"target", "pb_5"}}));
  std::string code;
  if (const json* list = b.form("dw_2"); list && !(*list)["rows"].empty()) code = (*list)["rows"][0]["codes"][0];
  step("add a worker", b.event({{"kind", "gesture"}, {"target", "add"}, {"args", {code}}}));
  long big = 0;
  if (const json* list = b.form("dw_1")) {
    const auto& rows = (*list)["rows"];
    for (size_t r = 0; r < rows.size(); ++r)
      if (rows[r]["codes"][0] == "9000000001") big = (*list)["rows_from"].get<long>() + static_cast<long>(r);
  }
  if (big == 0) std::fprintf(stderr, "the declaration of every worker is not in the list\n");
  Browser::Step selected = b.event({{"kind", "select"}, {"target", "dw_1"}, {"row", big}});
  if (!b.state["message"].is_null()) {
    // A question about unsaved work: its answer finishes the selection.
    const Browser::Step answered = b.event({{"kind", "answer"}, {"target", "no"}});
    selected.bytes += answered.bytes;
    selected.ms += answered.ms;
  }
  step("select the declaration of every worker", selected);
  step("scroll to the end of the list",
       b.get("/api/rows/dw_2.json?from=" + std::to_string(std::max(1, workers - 60)) + "&count=80"));
  step("find a worker by name (王)", b.get("/api/find/dw_2.json?column=worker_name&text=%E7%8E%8B&from=1"));
}

}  // namespace

int main(int argc, char** argv) {
  std::string shenbao = std::string(SHENBAO_SOURCE_DIR) + "/build/shenbao";
  std::vector<int> sizes = {60, 9999};
  int sessions = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--shenbao") {
      shenbao = value();
    } else if (a == "--workers") {
      sizes.clear();
      std::stringstream list(value());
      for (std::string n; std::getline(list, n, ',');) sizes.push_back(std::clamp(std::atoi(n.c_str()), 1, 9999));
    } else if (a == "--sessions") {
      sessions = std::clamp(std::atoi(value().c_str()), 1, 200);
    } else {
      std::fprintf(stderr, "usage: paging_bench [--shenbao BIN] [--workers 60,9999] [--sessions N]\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  const fs::path dir = fs::temp_directory_path() / ("shenbao-paging-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<std::pair<int, Figures>> all;
  for (int workers : sizes) {
    std::printf("unit of %d workers...\n", workers);
    std::fflush(stdout);
    all.emplace_back(workers, measure(shenbao, workers, sessions, dir));
  }
  std::printf("\n== paging_bench (loopback, %u cores): answer size and time per step\n",
              std::thread::hardware_concurrency());
  std::printf("%-42s", "step");
  for (const auto& [workers, f] : all) std::printf(" | %5d workers: bytes, ms", workers);
  std::printf("\n");
  for (size_t s = 0; !all.empty() && s < all[0].second.steps.size(); ++s) {
    std::printf("%-42s", all[0].second.steps[s].first.c_str());
    for (const auto& [workers, f] : all) {
      if (s < f.steps.size()) std::printf(" | %12zu B %8.1f ms", f.steps[s].second.bytes, f.steps[s].second.ms);
    }
    std::printf("\n");
  }
  for (const auto& [workers, f] : all)
    std::printf("memory: unit of %d workers, %d sessions with 职位职数上报 open: %.0f KiB per session\n", workers,
                f.sessions, f.kib_per_session);
  for (const auto& [workers, f] : all) {
    const std::string unit = "unit of " + std::to_string(workers) + " workers: ";
    for (const auto& [what, step] : f.steps) {
      char answer[64];
      std::snprintf(answer, sizeof answer, "%.1f KB, ", static_cast<double>(step.bytes) / 1000);
      shenbao::bench::table_line(unit + what + " (answer, time)", answer + shenbao::bench::ms(step.ms));
    }
    shenbao::bench::table_line(unit + "memory per session with the post and rank window open",
                      std::to_string(std::lround(f.kib_per_session)) + " KiB");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
