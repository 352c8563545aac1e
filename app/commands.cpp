#include "app/commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_table.h"

namespace shenbao {

int run_command_line(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty()) {
    for (const Command& command : commands()) {
      if (args[0] == command.name) return command.run({args.begin() + 1, args.end()});
    }
  }
  std::fprintf(stderr, "usage:\n");
  for (const Command& command : commands()) std::fprintf(stderr, "  shenbao %s\n", command.usage);
  return 2;
}

}  // namespace shenbao
