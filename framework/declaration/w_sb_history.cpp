#include "framework/declaration/w_sb_history.h"

#include "framework/declaration/declaration_history.h"
#include "framework/declaration/list_window.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {

w_sb_history::w_sb_history(Session& session) : w_response(session, kClassName) {
  title = "申报记录";
  width = 860;
  height = 420;
  FormControl& list = add_form("dw_1", 8, 8, 0, 0);
  list.read_only = true;
  add_control(ControlKind::Button, "pb_close", "关闭(&C)", 0, 0, 96, 28).clicked = [this] { pb_close_clicked(); };
}

void w_sb_history::open() {
  w_response::open();
  const DeclarationKey* declaration = parameter<DeclarationKey>();
  if (!declaration) {
    close_window();
    return;
  }
  FormControl& list = *form("dw_1");
  list.set_dataobject("d_sb_history");
  DataStore& steps = list.store();
  std::string sql = steps.def().retrieve_sql;
  const std::string placeholder = "{step_words}";
  if (const size_t at = sql.find(placeholder); at != std::string::npos)
    sql.replace(at, placeholder.size(), step_words_sql("h.step"));
  steps.setsqlselect(sql);
  steps.retrieve({Value(declaration->unit_table), Value(declaration->pkid), Value(declaration->company_num)});
  title = "申报记录 — " + declaration->pkid;
  resize(width, height);
}

void w_sb_history::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  lay_out_list_window(*this, {"pb_close"});
}

void w_sb_history::pb_close_clicked() { close_window(); }

}  // namespace shenbao
