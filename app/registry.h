#pragma once

#include <map>
#include <string>
#include <vector>

#include "framework/declaration/category.h"
#include "framework/runtime/windows/session.h"
#include "server/session_table.h"

namespace shenbao {

// Every window the application can open, by class name; the category windows also appear in
// the frame's menu. The only place that lists them all.
void register_windows(WindowRegistry& registry);

// The descriptors of every category window, in menu order.
std::vector<const CategoryDescriptor*> category_descriptors();

// The notes of the authority's menu: per category window the declarations waiting for
// acceptance there ("3 件待审核"), and their sum beside the inbox; nothing where none waits.
std::map<std::string, std::string> waiting_notes(Session& session);

// The host's part of a web login's session: its frame, and the rights of the user's role
// (a clerk files for his unit, the authority accepts).
void prepare_web_session(Session::Options& options, const WebUser& user);

}  // namespace shenbao
