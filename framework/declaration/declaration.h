#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "framework/host/sb1.h"

namespace shenbao {

// The behaviour every declaration category shares, written once. A category's hooks call
// these with what is particular to it (which columns, which messages, which window).

// Copies the named columns of the unit's master data (d_rs_company_info, row 1) into row 1 of
// dw_3 under the same names. False, copying nothing, when the unit has no master data.
bool copy_company_info(sb1& window, std::initializer_list<const char*> columns);

// A copy from the register's worker (d_rs_worker_vorant) into the worker form: `from` names
// the register column, `to` the worker form's. `birthday` is read as a register date text.
struct WorkerCopy {
  const char* from;
  const char* to;
};

// Reads the worker from the register and copies `copies` into row 1 of dw_4, in order.
// 0 when the worker was found and copied; -1, copying nothing, when not found. When
// `department_name_to` is given, the name of the worker's department goes there (empty when
// the department is unknown).
int copy_worker_info(sb1& window, const std::string& worker_code, std::initializer_list<WorkerCopy> copies,
                     const char* department_name_to = nullptr);

// The name of a department of the unit (gg_bumen_bm); empty when there is none.
std::string department_name(sb1& window, const std::string& department_code);

// A drop-down column of the worker form with its code list: narrowed by (filter_code,
// filter_name) while the user types, checked against check_code when a value is accepted.
struct DropDown {
  std::string column;
  std::string filter_code;
  std::string filter_name;
  std::string check_code;
  DataStore* list = nullptr;  // the column's code list, once bound
};

// Fetches each column's code list (getchild), binds it to the session's transaction and
// retrieves it. Answers the lists in the same order, for the window's idwc_ variables.
void bind_drop_downs(FormControl& form, std::vector<DropDown>& drop_downs);
// editchanged: narrows the list of `column` with the typed text.
void narrow_drop_down(std::vector<DropDown>& drop_downs, const std::string& column, const std::string& data);
// itemchanged: 1 (refuse) when `data` is not a code of the column's list, else 0.
int check_drop_down(std::vector<DropDown>& drop_downs, const std::string& column, const std::string& data);
// uf_all: narrows every list with `data`.
void narrow_all(std::vector<DropDown>& drop_downs, const std::string& data);

// A required column of the worker form and the message for it when it is empty.
struct Required {
  const char* column;
  const char* message;
};

// Tests row 1 of dw_4: for the first column that is null (or, for text, blank), shows its
// message under `title`, puts the focus on dw_4 and that column, and answers -1; else 0.
int check_required(sb1& window, std::initializer_list<Required> required, const char* title = "提示");

// The print button: without a saved declaration says "请先维护单位申报信息！" and answers -1;
// otherwise opens `print_window` as a sheet with an s_com of the declaration and answers 0.
int open_print_window(sb1& window, const char* print_window);

// Before a category opens a further window from its unit form: the declaration must be
// saved; when the unit form holds changes, `question` is asked and Yes saves them (pb_5).
// False when there is no declaration.
bool leave_unit_form(sb1& window, const char* question);

}  // namespace shenbao
