#include "declarations/zw/w_zwzs_print.h"

namespace shenbao {

w_zwzs_print::w_zwzs_print(Session& session) : w_rs_sheet(session, "w_zwzs_print") {
  title = "职务职数调整审批表";
  width = 1000;
  height = 760;
  add_control(ControlKind::Button, "pb_2", "打印(&P)", 0, 0, 96, 28).clicked = [this] { pb_2_clicked(); };
  add_control(ControlKind::Button, "pb_1", "退出(&C)", 0, 0, 96, 28).clicked = [this] { pb_1_clicked(); };
  FormControl& dw_1 = add_form("dw_1", 16, 16, 0, 0);
  dw_1.constructor = [this] { dw_1_constructor(); };
  dw_1.set_dataobject("d_zw_company_form_print");
}

void w_zwzs_print::open() {
  w_rs_sheet::open();
  const auto declaration = parameter<s_com>();
  FormControl& dw_1 = *form("dw_1");
  if (declaration) dw_1.store().retrieve({Value(declaration->worker_code), Value(declaration->company)});
  resize(width, height);
}

void w_zwzs_print::dw_1_constructor() { form("dw_1")->store().modify("datawindow.print.preview=yes"); }

void w_zwzs_print::pb_2_clicked() {
  DataStore& store = form("dw_1")->store();
  if (store.rowcount() < 1) return;
  if (session().print_jobs().print_alone(store, title) < 0)
    session().message_box("提示", "打印失败！\n" + session().print_jobs().last_error(), Icon::StopSign);
}

void w_zwzs_print::pb_1_clicked() { close_window(); }

void w_zwzs_print::resize(int new_width, int new_height) {
  setredraw(false);
  FormControl& dw_1 = *form("dw_1");
  Control& pb_1 = *control("pb_1");
  Control& pb_2 = *control("pb_2");
  dw_1.width = workspace_width() - 2 * dw_1.x;
  pb_1.x = workspace_width() - pb_1.width - dw_1.x;
  pb_2.x = pb_1.x - pb_2.width - 20;
  pb_1.y = workspace_height() - pb_1.height - 20;
  pb_2.y = pb_1.y;
  dw_1.height = pb_1.y - dw_1.y - 20;
  setredraw(true);
}

}  // namespace shenbao
