#pragma once

#include <optional>
#include <vector>

namespace shenbao {

// A drop-down column of the worker form with its code list: narrowed by (filter_code,
// filter_name) while the user types, checked against check_code when a value is accepted.
// A list without filter columns (nullptr) is never narrowed, only checked.
struct DropDownColumn {
  const char* column;
  const char* filter_code;
  const char* filter_name;
  const char* check_code;
};

// A column of the worker form that must be filled before it is saved, and the message for it.
struct RequiredColumn {
  const char* column;
  const char* message;
};

// A copy from the register's worker (d_rs_worker_vorant) into the worker form: `from` names
// the register column, `to` the worker form's. `birthday` is read as a register date text.
struct WorkerCopy {
  const char* from;
  const char* to;
};

// The category's print button and the print window it opens with the declaration.
struct PrintButton {
  const char* name;     // pb_6
  const char* caption;  // 打印预览(&P)
  const char* window;   // w_zwzs_print
};

// Everything the declaration ancestor sb1 needs to know of a category, stated once beside its
// window. sb1 builds the window, wires its lists, drop-downs, checks and buttons from it, and
// the window registry learns the category's class and caption from it. A category's own code
// keeps only its hooks with real behaviour.
struct CategoryDescriptor {
  const char* class_name;  // w_vorant_zw
  const char* caption;     // the window's title and its menu entry
  const char* unit_table;  // rs_w00031_com
  const char* worker_table;  // rs_w00031; "rs_" + is_index
  // The other unit tables whose declarations keep their workers in worker_table too (the
  // reward kinds share rs_w00033 and tell their workers apart by pkid); ids are unique
  // across all of them.
  std::vector<const char*> unit_tables_sharing_workers = {};
  const char* unit_form;    // dw_3
  const char* worker_form;  // dw_4
  const char* worker_list = "d_worker_list";  // dw_2
  // Columns of the unit's master data (d_rs_company_info) copied into a new unit form.
  std::vector<const char*> company_copies = {};
  // What a worker added to the declaration takes from the register, in order, and where the
  // name of his department goes (nullptr: nowhere).
  std::vector<WorkerCopy> worker_copies = {};
  const char* department_name_to = nullptr;
  std::vector<DropDownColumn> drop_downs = {};
  std::vector<RequiredColumn> required = {};
  const char* required_title = "提示";
  std::optional<PrintButton> print = std::nullopt;
  // Whether the worker list offers the register's workers to add by a double-click (the
  // host's `add` gesture); categories of persons not yet in the register do not.
  bool adds_register_workers = true;
  // Whether the worker table holds persons not yet in the register, numbered "9" and six
  // digits per unit: a new worker row then takes its number when it is first saved, in the
  // saving transaction, so that two sessions adding persons of one unit at once never give
  // the same number twice (the number shown before the save is provisional).
  bool numbers_new_persons = false;
  // The unit's limits that an acceptance must keep (approved posts, establishment): a query of
  // the arguments :id and :com (the declaration) answering one row per limit: what is limited
  // (its words), the approved number (null: no limit) and the number after the acceptance,
  // counted from the register as it is and the declaration as stored. nullptr: none.
  const char* limits = nullptr;
  // The window functions the host may call by name, from sb1's hooks (wf_rystate,
  // uf_approve, ...); a category adds functions of its own with define_function.
  std::vector<const char*> functions = {};
};

}  // namespace shenbao
