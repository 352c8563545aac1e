#include "framework/declaration/declaration.h"

#include <algorithm>

#include "framework/host/host_functions.h"

namespace shenbao {
namespace {

bool is_empty(const Value& v) {
  if (v.is_null()) return true;
  if (v.kind() != ValueKind::Text) return false;
  return v.as_text().find_first_not_of(" \t") == std::string_view::npos;
}

DropDown* find_drop_down(std::vector<DropDown>& drop_downs, const std::string& column) {
  auto it = std::find_if(drop_downs.begin(), drop_downs.end(), [&](const DropDown& d) { return d.column == column; });
  return it == drop_downs.end() ? nullptr : &*it;
}

}  // namespace

bool copy_company_info(sb1& window, std::initializer_list<const char*> columns) {
  DataStore lds_company;
  lds_company.set_dataobject("d_rs_company_info");
  lds_company.settransobject(&window.session().sqlca());
  if (lds_company.retrieve({Value(window.company_num)}) < 1) return false;
  DataStore& unit = window.dw_3().store();
  for (const char* column : columns) unit.setitem(1, column, lds_company.getitem(1, column));
  return true;
}

int copy_worker_info(sb1& window, const std::string& worker_code, std::initializer_list<WorkerCopy> copies,
                     const char* department_name_to) {
  DataStore lds_worker;
  lds_worker.set_dataobject("d_rs_worker_vorant");
  lds_worker.settransobject(&window.session().sqlca());
  if (lds_worker.retrieve({Value(window.company_num), Value(worker_code)}) < 1) return -1;
  DataStore& worker = window.dw_4().store();
  for (const WorkerCopy& copy : copies) {
    Value value = lds_worker.getitem(1, copy.from);
    if (std::string_view(copy.from) == "birthday") {
      const auto date = getdate(value.is_null() ? std::string() : value.to_string());
      value = date ? Value(*date) : Value();
    }
    worker.setitem(1, copy.to, std::move(value));
  }
  if (department_name_to) {
    const std::string name = department_name(window, lds_worker.getitemstring(1, "department"));
    worker.setitem(1, department_name_to, Value(name));  // empty for a department the unit does not know
  }
  return 0;
}

std::string department_name(sb1& window, const std::string& department_code) {
  std::vector<Value> name;
  if (window.session().sqlca().select_into(
          "select gg_bm_mc from gg_bumen_bm where book_code = :com and gg_bm_id = :dept",
          {Value(window.company_num), Value(department_code)}, name) != 0 ||
      name[0].is_null())
    return {};
  return name[0].to_string();
}

void bind_drop_downs(FormControl& form, std::vector<DropDown>& drop_downs) {
  for (DropDown& drop_down : drop_downs) {
    drop_down.list = form.store().getchild(drop_down.column);
    if (!drop_down.list) continue;
    drop_down.list->settransobject(&form.window().session().sqlca());
    drop_down.list->retrieve();
  }
}

void narrow_drop_down(std::vector<DropDown>& drop_downs, const std::string& column, const std::string& data) {
  if (DropDown* d = find_drop_down(drop_downs, column)) of_filter_dddw(d->list, data, d->filter_code, d->filter_name);
}

int check_drop_down(std::vector<DropDown>& drop_downs, const std::string& column, const std::string& data) {
  DropDown* d = find_drop_down(drop_downs, column);
  if (!d) return 0;
  return of_check_in_dddw(d->list, data, d->check_code) == -1 ? 1 : 0;
}

void narrow_all(std::vector<DropDown>& drop_downs, const std::string& data) {
  for (DropDown& d : drop_downs) of_filter_dddw(d.list, data, d.filter_code, d.filter_name);
}

int check_required(sb1& window, std::initializer_list<Required> required, const char* title) {
  DataStore& worker = window.dw_4().store();
  for (const Required& r : required) {
    if (!is_empty(worker.getitem(1, r.column))) continue;
    window.session().message_box(title, r.message, Icon::Exclamation);
    window.dw_4().setfocus();
    window.dw_4().setcolumn(r.column);
    return -1;
  }
  return 0;
}

int open_print_window(sb1& window, const char* print_window) {
  if (window.lacks_declaration()) return -1;
  window.session().message.powerobjectparm = std::make_shared<s_com>(s_com{window.company_num, window.pkid});
  window.session().open_sheet(print_window);
  return 0;
}

bool leave_unit_form(sb1& window, const char* question) {
  if (window.lacks_declaration()) return false;
  DataStore& unit = window.dw_3().store();
  unit.accepttext();
  if (unit.modifiedcount() > 0 &&
      window.session().message_box("提示", question, Icon::Question, Buttons::YesNo) == 1) {
    window.pb_5_clicked();
  }
  return true;
}

}  // namespace shenbao
