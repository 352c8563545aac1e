#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {

// The host's shared functions, used by every declaration window.

// A register date text ("yyyymmdd", also "yyyy-mm-dd") as a date; nothing for a text that
// is not a date.
std::optional<DateTime> getdate(std::string_view text);

// Narrows a code list to the entries whose code starts with `data` or whose name contains
// it; an empty `data` shows the whole list again. Answers 1, or -1 when the list lacks one
// of the columns.
int of_filter_dddw(DataStore* list, std::string_view data, std::string_view code_column,
                   std::string_view name_column);

// 0 when `data` is a code of the list (shown or narrowed away) or empty, so that a cell can be
// emptied again; -1 when it is not.
int of_check_in_dddw(DataStore* list, std::string_view data, std::string_view code_column);

// "9" followed by the unit's first free register number, "000000"-formatted: one more than
// the greatest six-digit sequence among the unit's seven-character rs_main codes starting
// with "9", or 1 when there is none. Empty when the database cannot be read or the six digits
// are used up.
std::string uf_getworkercode(Transaction& sqlca, std::string_view company_num);

// Recounts the unit's actual head count (`now_mans`) from the register: the workers in
// service. `n` is the change the caller made (departures pass -1); the count is taken from
// the register, so that one call after any number of changes leaves it right. Runs in the
// caller's transaction; answers sqlcode.
long uf_syrs_add_del(Transaction& sqlca, std::string_view company_num, int n);

// The seven-character number of a person not yet in the register: "9" and the sequence as six
// digits. Empty when the sequence has more than six digits.
std::string provisional_worker_code(long sequence);

// `number` in at least `width` digits, with leading zeros.
std::string zero_padded(long number, size_t width);

}  // namespace shenbao
