#include "framework/host/host_session.h"

#include "framework/host/structures.h"

namespace shenbao {

SessionUser host_user(std::string username, std::string company_num, Role role) {
  SessionUser user{std::move(username), std::move(company_num), {}};
  if (role != Role::Authority) user.rights.emplace_back(kFileRight);
  if (role != Role::Clerk) user.rights.emplace_back(kAcceptRight);
  if (role == Role::Authority) user.company_num.clear();
  return user;
}

void apply_host(Session::Options& options) {
  options.frame_class = "w_rslz_frame";
  options.frame_title = "人事管理 — 申报";
  options.open_parameter = [](const std::vector<std::string>& args) -> std::any {
    if (args.size() < 2) return {};
    return s_com{args[1], args[0]};
  };
}

}  // namespace shenbao
