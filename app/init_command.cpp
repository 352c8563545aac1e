// `shenbao init DB [--demo] [--fixture FILE]`: creates the schema in an empty database and
// loads the standard fixture (or FILE); with --demo, generated demo units on top of it.

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "app/database_setup.h"

namespace shenbao {

namespace {
constexpr const char* kUsage =
    "usage: shenbao init DB [--demo [--units N] [--workers N]] [--fixture FILE]\n"
    "  DB: a SQLite file, sqlite:PATH, or postgresql://...\n"
    "  --demo: five more units (003-007) with generated workers, records and clerks\n"
    "  --units N: N demo units from 003 on (5 when not given)\n"
    "  --workers N: N workers in each demo unit (1 to 9999; 60 when not given)\n";
}  // namespace

int init_command(const std::vector<std::string>& args) {
  std::string url, fixture;
  bool demo = false;
  DemoOptions demo_options;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--demo") {
      demo = true;
    } else if ((args[i] == "--workers" || args[i] == "--units") && i + 1 < args.size()) {
      const std::string& n = args[i + 1];
      const int value = n.size() <= 4 && n.find_first_not_of("0123456789") == std::string::npos && !n.empty()
                            ? std::stoi(n)
                            : 0;
      if (value < 1) {
        std::fprintf(stderr, "%s must be a number from 1 to 9999\n%s", args[i].c_str(), kUsage);
        return 2;
      }
      (args[i] == "--workers" ? demo_options.workers_per_unit : demo_options.units) = value;
      ++i;
    } else if (args[i] == "--fixture" && i + 1 < args.size()) {
      fixture = args[++i];
    } else if (args[i].rfind("--", 0) == 0 || !url.empty()) {
      std::fprintf(stderr, "unexpected %s\n%s", args[i].c_str(), kUsage);
      return 2;
    } else {
      url = args[i];
    }
  }
  if (url.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::string error;
  auto sqlca = Transaction::open(url, error);
  if (!sqlca) {
    std::fprintf(stderr, "cannot open %s: %s\n", url.c_str(), error.c_str());
    return 1;
  }
  bool has_tables = false;
  if (!database_has_tables(*sqlca, has_tables, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (has_tables) {
    std::fprintf(stderr, "%s already holds tables; init only fills an empty database\n", url.c_str());
    return 1;
  }
  // The demo needs the fixture's code tables, so the fixture is loaded either way.
  if (!create_database(*sqlca, true, fixture, error)) {
    std::fprintf(stderr, "cannot create the database: %s\n", error.c_str());
    return 1;
  }
  if (demo && !generate_demo_data(*sqlca, demo_options, error)) {
    std::fprintf(stderr, "cannot generate the demo data: %s\n", error.c_str());
    return 1;
  }
  char units[64];
  std::snprintf(units, sizeof units, ", demo units 003-%03d of %d workers", 2 + demo_options.units,
                demo_options.workers_per_unit);
  std::printf("%s: schema and %s%s\n", url.c_str(), fixture.empty() ? "standard fixture" : fixture.c_str(),
              demo ? units : "");
  return 0;
}

}  // namespace shenbao
