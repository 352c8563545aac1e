#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "framework/runtime/windows/session.h"
#include "server/session_table.h"

namespace shenbao {

// The events the browser may post, checked before they reach the user's Session.
//
//   std::string error;
//   auto event = parse_event(body, error);          // nullopt: 400 with error
//   EventVerdict verdict = check_event(*event, user); // 403 when the user may not do it
//
// The body is {"kind", "target", "row", "column", "text", "args"}. Kinds are those a person
// can cause: open, click, text, type, filter, select, gesture, answer, close, resize,
// activate. Calls of window functions and inspections are the host's and the tests' and are
// refused here. Names are at most 64 ASCII letters, digits and "_"; text at most what the
// longest column takes (kMaxTextChars characters; each column then holds it to its own
// length); at most 8 arguments of at most 200 bytes; rows from 0 to 10,000,000.
//
// `for_user` is set, besides `error`, when the refusal is one the user can act on (a text too
// long, characters that are no UTF-8), in words for him.

// The length of the longest text column, in characters.
constexpr size_t kMaxTextChars = 32766;
// The largest event body: the longest text in UTF-8 (up to 4 bytes a character), with room
// for the rest of the event.
constexpr size_t kMaxEventBody = 4 * kMaxTextChars + 16 * 1024;

std::optional<Event> parse_event(std::string_view body, std::string& error, std::string& for_user);

struct EventVerdict {
  int status = 200;    // 200 may go on; 403 refused
  std::string reason;  // shown to the user when refused
};

// What a user may do besides what the windows themselves allow:
// - acceptance ("数据入库", a click on pb_approve) is the authority's alone;
// - a clerk acts for his own unit only: he cannot choose a unit in uo_1, open a window with a
//   declaration of another unit (the s_com arguments PKID COMPANY_NUM), or type another
//   unit's number into a company_num cell.
EventVerdict check_event(const Event& event, const WebUser& user);

}  // namespace shenbao
