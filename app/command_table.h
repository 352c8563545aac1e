#pragma once

#include <string>
#include <vector>

namespace shenbao {

// One subcommand of the command line. Each lives in app/<name>_command.cpp.
struct Command {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>& args);
};

const std::vector<Command>& commands();

int export_command(const std::vector<std::string>& args);
int init_command(const std::vector<std::string>& args);
int play_command(const std::vector<std::string>& args);
int render_command(const std::vector<std::string>& args);
int serve_command(const std::vector<std::string>& args);

}  // namespace shenbao
