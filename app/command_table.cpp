#include "app/command_table.h"

namespace shenbao {

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {"export", "export DB FORM [ARG...] --xlsx FILE [--unit COMPANY_NUM]", export_command},
      {"init", "init DB [--demo] [--fixture FILE]", init_command},
      {"play", "play [--db URL] [--fixture FILE] FILE...", play_command},
      {"render", "render DB FORM [ARG...] (--pdf FILE | --png DIR)", render_command},
      {"serve",
       "serve DB [--port N] [--host ADDR] [--log FILE] [--web DIR] [--threads N] [--secure-cookie] [--session-hours N] "
       "[--trusted-proxy ADDR] [--max-sessions N]",
       serve_command},
  };
  return table;
}

}  // namespace shenbao
