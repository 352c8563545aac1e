#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/declaration/register_changes.h"
#include "framework/declaration/sb1.h"
#include "framework/host/period.h"

namespace shenbao {

// The behaviour several categories share, written once. sb1 uses it for what a descriptor
// states; a category's hooks call it with what is particular to them.

// Copies the named columns of the unit's master data (d_rs_company_info, row 1) into row 1 of
// dw_3 under the same names. False, copying nothing, when the unit has no master data.
bool copy_company_info(sb1& window, const std::vector<const char*>& columns);

// Reads the worker from the register and copies `copies` into row 1 of dw_4, in order; when
// `department_name_to` is given, the name of the worker's department goes there (empty when
// the department is unknown). 0 when the worker was found; -1, copying nothing, when not. A
// register value that does not fit the column it is copied into is left out and the user is
// told which, with the reason.
int copy_worker_info(sb1& window, const std::string& worker_code, const std::vector<WorkerCopy>& copies,
                     const char* department_name_to = nullptr);

// The name of a department of the unit (gg_bumen_bm); empty when there is none.
std::string department_name(sb1& window, const std::string& department_code);

// The open declaration's workers whose register record no longer holds what was copied from it
// when they were added (the category's worker copies): one change per column, marked
// "登记信息已变更", with the value the clerk saw (before) and the register's now (after).
std::vector<RegisterChange> register_drift(sb1& window);

// Fetches a drop-down column's code list (getchild), binds it to the session's transaction
// and retrieves it; nullptr when the column has no list.
DataStore* bind_drop_down(FormControl& form, const char* column);

// Tests row 1 of dw_4: for the first column that is null (or, for text, blank), shows its
// message under `title`, puts the focus on dw_4 and that column, and answers -1; else 0.
int check_required(sb1& window, const std::vector<RequiredColumn>& required, const char* title = "提示");

// A print button: without a saved declaration says "请先维护单位申报信息！" and answers -1;
// otherwise opens `print_window` as a sheet with an s_com of the declaration and answers 0.
int open_print_window(sb1& window, const char* print_window);

// Before a category opens a further window from its unit form: the declaration must be
// saved; when the unit form holds changes, `question` is asked and Yes saves them (pb_5).
// False when there is no declaration, or when the save the user asked for failed: then the
// caller stays where it is, with the user's entries on screen.
bool leave_unit_form(sb1& window, const char* question);

// An extraction that fills the declaration's worker rows from the register for a period:
// the question whether to overwrite the rows already there (asked only when there are some,
// with No as the default; No keeps them), then the period dialog (closed without an answer
// keeps them), then, through the declaration gate in one transaction, the old rows deleted
// and `fill` run for the period; committed when `fill` answers 0 or more, else rolled back
// and `failure` said with the reason. Every question comes before the first write, so no
// transaction is held while the user reads; a user who may not change the declaration is
// told so before any of them.
struct Extraction {
  const char* overwrite_question;  // asked under "提示" with Yes/No, No the default
  const char* failure;             // said under "提示" when the writes fail
  // Writes the new rows for the period, uncommitted: how many, or -1 when a statement failed.
  std::function<long(const ExtractionPeriod& period)> fill;
  // Whether the period dialog is asked; without it `fill` gets an empty period.
  bool asks_period = true;
};
struct ExtractionOutcome {
  enum class Result { Extracted, Declined, Failed } result = Result::Failed;
  long rows = 0;  // the rows written, when extracted
};
// Declined: the user gave up (nothing written); Failed: no declaration, refused or failed,
// each said.
ExtractionOutcome run_extraction(sb1& window, const Extraction& extraction);

// SQL expressions over a date-time column, for set-based statements that write the register
// in one pass on either database: the register's date text "yyyymmdd" of the column, and
// the column's day (its date at 00:00:00). Both are null where the column is null.
std::string sql_register_date(const Transaction& sqlca, std::string_view column);
std::string sql_day(const Transaction& sqlca, std::string_view column);

}  // namespace shenbao
