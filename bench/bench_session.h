#pragma once
// What the in-process benchmarks share: an application session as the web server would start
// one, and the median of timings.

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"

namespace shenbao::bench {

// A session on `url` as `username` of unit `unit` with the rights of `role`; print jobs in
// /tmp; the real date unless `today` is given; without the journal of its writes when
// `journal` is false (SQLite). nullptr, with the reason in `error`, when it cannot start.
inline std::unique_ptr<Session> start_session(const std::string& url, const WindowRegistry& registry,
                                              const std::string& username, const std::string& unit, Role role,
                                              std::string& error, std::optional<DateTime> today = std::nullopt,
                                              bool journal = true) {
  Session::Options options;
  options.database_url = url;
  options.user = host_user(username, unit, role);
  apply_host(options);
  if (!journal) options.journaled_tables = nullptr;
  options.registry = &registry;
  options.print_folder = "/tmp";
  options.today = today;
  return Session::start(options, error);
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace shenbao::bench
