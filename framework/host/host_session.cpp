#include "framework/host/host_session.h"

#include <algorithm>
#include <iterator>

#include "framework/host/structures.h"

namespace shenbao {

SessionUser host_user(std::string username, std::string company_num, Role role) {
  SessionUser user{std::move(username), std::move(company_num), {}};
  if (role != Role::Authority) user.rights.emplace_back(kFileRight);
  if (role != Role::Clerk) user.rights.emplace_back(kAcceptRight);
  if (role == Role::Authority) user.company_num.clear();
  return user;
}

bool is_declaration_table(std::string_view table) {
  if (table == "rs_px_type" || table == "rs_sb_approval" || table == "sb_history") return true;
  if (!table.starts_with("rs_w")) return false;
  std::string_view rest = table.substr(4);
  if (rest.ends_with("_com")) rest.remove_suffix(4);
  return !rest.empty() && rest.find_first_not_of("0123456789") == std::string_view::npos;
}

bool is_journaled_table(std::string_view table) {
  static constexpr std::string_view kNotJournaled[] = {"sb_history",    "sb_journal", "sb_key_counter", "sys_user",
                                                        "sb_audit_log",  "sb_login_wait", "sb_server_key",
                                                        "sb_server",     "sb_seat"};
  return std::find(std::begin(kNotJournaled), std::end(kNotJournaled), table) == std::end(kNotJournaled);
}

void apply_host(Session::Options& options) {
  options.frame_class = "w_rslz_frame";
  options.frame_title = "人事管理 — 申报";
  options.open_parameter = [](const std::vector<std::string>& args) -> std::any {
    if (args.size() < 2) return {};
    return s_com{args[1], args[0]};
  };
  options.protected_tables = is_declaration_table;
  options.journaled_tables = is_journaled_table;
}

}  // namespace shenbao
