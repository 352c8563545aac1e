#include "declarations/rsjh/w_zrjh_edit.h"

#include "declarations/rsjh/w_vorant_rsjh.h"
#include "framework/host/structures.h"

namespace shenbao {

w_zrjh_edit::w_zrjh_edit(Session& session) : w_rs_sheet(session, "w_zrjh_edit"), staffing_(session) {
  title = "编制情况申报";
  width = 520;
  height = 400;
  add_form("dw_1", 20, 16, 480, 300).set_dataobject("d_rsjh_company_edit");
  add_control(ControlKind::Button, "pb_2", "保存(&S)", 300, 340, 96, 28).clicked = [this] { pb_2_clicked(); };
  add_control(ControlKind::Button, "pb_1", "退出(&C)", 404, 340, 96, 28).clicked = [this] { pb_1_clicked(); };
  staffing_.attach(dw_1(), *control("pb_2"));
}

void w_zrjh_edit::open() {
  w_rs_sheet::open();
  if (const s_com* declaration = parameter<s_com>()) {
    staffing_.open({w_vorant_rsjh::descriptor().unit_table, declaration->worker_code, declaration->company});
    dw_1().store().retrieve({Value(declaration->worker_code), Value(declaration->company)});
  }
}

void w_zrjh_edit::pb_2_clicked() {
  DataStore& staffing = dw_1().store();
  staffing.accepttext();
  if (staffing.modifiedcount() == 0) return;
  // The entries stay on screen, still marked as changed, when they are not saved, so that
  // they can be corrected and saved again.
  if (auto refused = staffing_.save()) {
    report_write_refusal(session(), *refused, "维护编制数失败！");
    return;
  }
  session().message_box("提示", "维护编制数成功！");
}

void w_zrjh_edit::pb_1_clicked() { close_window(); }

}  // namespace shenbao
