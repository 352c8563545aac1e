#pragma once

namespace shenbao {

// The command line: `shenbao init|serve|play|render ...`. Answers the process exit code.
int run_command_line(int argc, char** argv);

}  // namespace shenbao
