#include "settings/w_account_set.h"

#include "framework/host/host_functions.h"

namespace shenbao {

w_account_set::w_account_set(Session& session) : w_rs_sheet(session, "w_account_set") {
  title = "设置提取时间";
  width = 420;
  height = 150;
  add_control(ControlKind::StaticText, "st_2", "开始时间从", 20, 30, 80, 22);
  add_control(ControlKind::EditMask, "em_1", "", 104, 26, 110, 26).mask = "yyyy-mm-dd";
  add_control(ControlKind::StaticText, "st_3", "至", 222, 30, 24, 22);
  add_control(ControlKind::EditMask, "em_2", "", 250, 26, 110, 26).mask = "yyyy-mm-dd";
  add_control(ControlKind::Button, "pb_1", "确定", 160, 80, 96, 28).clicked = [this] { pb_1_clicked(); };
}

void w_account_set::open() {
  w_rs_sheet::open();
  const DateTime ldt_date = session().today();
  const std::string ls_year = std::to_string(ldt_date.year());
  control("em_1")->text = ls_year + "-01-01";
  control("em_2")->text = ls_year + "-12-31";
}

void w_account_set::pb_1_clicked() {
  // A field left empty keeps the dialog open at that field: closing would drop the extraction.
  for (const char* field : {"em_1", "em_2"}) {
    if (!getdate(control(field)->text)) {
      session().message_box("提示", "请输入日期（yyyy-mm-dd）！", Icon::Exclamation);
      set_focus(control(field));
      return;
    }
  }
  close_with_return(control("em_1")->text + "/" + control("em_2")->text);
}

}  // namespace shenbao
