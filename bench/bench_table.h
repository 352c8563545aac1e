#pragma once
// One line of the benchmark table that tools/bench.sh gathers from every benchmark's output:
//   TABLE|figure|measured|baseline|ratio
// the baseline measured in the same run, or empty with no ratio when the figure has none.

#include <cstdio>
#include <string>

namespace shenbao::bench {

inline void table_line(const std::string& figure, const std::string& measured, const std::string& baseline = {},
                       double ratio = 0) {
  if (baseline.empty()) {
    std::printf("TABLE|%s|%s||\n", figure.c_str(), measured.c_str());
  } else {
    std::printf("TABLE|%s|%s|%s|%.2f\n", figure.c_str(), measured.c_str(), baseline.c_str(), ratio);
  }
}

// "12.3 ms"
inline std::string ms(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, milliseconds < 10 ? "%.2f ms" : "%.1f ms", milliseconds);
  return text;
}

}  // namespace shenbao::bench
