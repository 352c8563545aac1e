#pragma once

#include <string>
#include <string_view>

#include "framework/runtime/windows/session.h"

namespace shenbao {

// What the host gives every session: its frame, its rights and the parameter of windows that
// are opened with a declaration.

// A unit's clerk files his unit's declarations; the personnel authority accepts them.
inline constexpr std::string_view kFileRight = "file";
inline constexpr std::string_view kAcceptRight = "accept";

enum class Role { Clerk, Authority, Both };
// The user of a role: a clerk and "both" act for `company_num`, the authority for every unit.
SessionUser host_user(std::string username, std::string company_num, Role role);

// Whether a table holds declarations' own data: the category tables rs_w000NN (workers) and
// rs_w000NN_com (units), the training subjects of a declaration (rs_px_type), the record
// of acceptances (rs_sb_approval) and the history of every declaration's steps
// (sb_history). A session's connection writes them only through the declaration gate
// (framework/declaration/declaration_gate.h).
bool is_declaration_table(std::string_view table);

// Whether the journal records the rows a declaration's step writes in a table
// (framework/runtime/sql/journal.h): every table but the history, the journal itself, the
// key counters, the users and what the servers share (audit log, login waits, keys, seats).
bool is_journaled_table(std::string_view table);

// The frame w_rslz_frame with its title, `open CLASS PKID COMPANY_NUM` handing the window an
// s_com of that declaration, as a print button does, and the declaration tables protected.
void apply_host(Session::Options& options);

}  // namespace shenbao
