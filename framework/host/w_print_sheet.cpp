#include "framework/host/w_print_sheet.h"

#include "framework/host/messages.h"
#include "framework/host/structures.h"

namespace shenbao {

w_print_sheet::w_print_sheet(Session& session, const PrintSheet& sheet) : w_rs_sheet(session, sheet.class_name) {
  title = sheet.title;
  width = 1000;
  height = 760;
  add_control(ControlKind::Button, "pb_2", "打印(&P)", 0, 0, 96, 28).clicked = [this] { pb_2_clicked(); };
  add_control(ControlKind::Button, "pb_1", "退出(&C)", 0, 0, 96, 28).clicked = [this] { pb_1_clicked(); };
  FormControl& report = add_form("dw_1", 16, 16, 0, 0);
  report.constructor = [this] { dw_1_constructor(); };
  report.set_dataobject(sheet.report);
}

void w_print_sheet::open() {
  w_rs_sheet::open();
  if (const s_com* declaration = parameter<s_com>())
    dw_1().store().retrieve({Value(declaration->worker_code), Value(declaration->company)});
  resize(width, height);
}

void w_print_sheet::dw_1_constructor() { dw_1().store().modify("datawindow.print.preview=yes"); }

void w_print_sheet::pb_2_clicked() {
  DataStore& report = dw_1().store();
  if (report.rowcount() < 1) return;
  if (session().print_jobs().print_alone(report, title) < 0)
    say(session(), HostMessage::PrintFailed, session().print_jobs().last_error());
}

void w_print_sheet::pb_1_clicked() { close_window(); }

void w_print_sheet::resize(int new_width, int new_height) {
  setredraw(false);
  FormControl& report = dw_1();
  Control& exit = *control("pb_1");
  Control& print = *control("pb_2");
  report.width = workspace_width() - 2 * report.x;
  exit.x = workspace_width() - exit.width - report.x;
  print.x = exit.x - print.width - 20;
  exit.y = workspace_height() - exit.height - 20;
  print.y = exit.y;
  report.height = exit.y - report.y - 20;
  setredraw(true);
}

}  // namespace shenbao
