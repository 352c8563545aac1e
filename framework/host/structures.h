#pragma once

#include <string>

namespace shenbao {

// The host's structure that carries a declaration to a print window: `worker_code` holds the
// declaration's pkid, `company` its company_num. Opened windows read it back with
// parameter<s_com>(), which answers nullptr for any other structure.
struct s_com {
  std::string company;
  std::string worker_code;
};

// The module's own structure of the same use, with the declaration id in a field of its own.
struct u_stru_com {
  std::string id;
  std::string company;
  std::string worker_code;
};

}  // namespace shenbao
