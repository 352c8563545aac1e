#include "framework/declaration/w_rs_worker_changes.h"

#include "framework/declaration/declaration_history.h"
#include "framework/declaration/list_window.h"
#include "framework/declaration/register_changes.h"
#include "framework/host/host_session.h"
#include "framework/host/messages.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {

w_rs_worker_changes::w_rs_worker_changes(Session& session, std::vector<const CategoryDescriptor*> categories)
    : Window(session, kClassName), categories_(std::move(categories)) {
  title = kCaption;
  width = 1000;
  height = 600;
  add_control(ControlKind::StaticText, "st_worker", "人员编号：", 8, 12, 72, 20);
  add_control(ControlKind::SingleLineEdit, "sle_worker", "", 84, 8, 140, 26).limit = 20;
  Control& query = add_control(ControlKind::Button, "pb_query", "查询(&Q)", 232, 7, 86, 28);
  query.clicked = [this] { pb_query_clicked(); };
  query.role.accent = true;
  add_control(ControlKind::StaticText, "st_count", "", 330, 12, 640, 20);
  FormControl& list = add_form("dw_1", 8, 44, 0, 0);
  list.read_only = true;
  add_control(ControlKind::Button, "pb_close", "关闭(&C)", 0, 0, 96, 28).clicked = [this] { pb_close_clicked(); };
}

void w_rs_worker_changes::open() {
  form("dw_1")->set_dataobject("d_rs_worker_changes");
  resize(width, height);
}

void w_rs_worker_changes::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  // The count beside the query takes the rest of its line.
  Control& count = *control("st_count");
  count.width = std::max(0, width - count.x - 8);
  lay_out_list_window(*this, {"pb_close"});
}

std::string w_rs_worker_changes::declaration_words(const std::string& unit_table, const std::string& pkid) const {
  for (const CategoryDescriptor* category : categories_)
    if (unit_table == category->unit_table) return std::string(category->caption) + " " + pkid;
  return unit_table + " " + pkid;
}

void w_rs_worker_changes::pb_query_clicked() {
  const std::string worker = control("sle_worker")->text;
  DataStore& rows = form("dw_1")->store();
  rows.reset();
  if (worker.empty()) {
    control("st_count")->text = "";
    session().message_box("提示", "请输入人员编号！", Icon::Information);
    return;
  }
  // A clerk sees what his own unit's declarations did.
  const SessionUser& user = session().user();
  const std::string unit = user.has_right(kAcceptRight) ? std::string() : user.company_num;
  const std::vector<WorkerChange> changes = worker_changes(session().sqlca(), worker, unit);
  for (const WorkerChange& one : changes) {
    const long row = rows.insertrow(0);
    rows.setitem(row, "changed_at", Value(one.at));
    rows.setitem(row, "declaration", Value(declaration_words(one.declaration.unit_table, one.declaration.pkid)));
    rows.setitem(row, "step", Value(one.step == step_code(DeclarationStep::Reversed) ? "撤销入库" : "数据入库"));
    rows.setitem(row, "register_table", Value(one.change.table));
    rows.setitem(row, "item", Value(one.change.item));
    rows.setitem(row, "value_before", Value(one.change.before));
    rows.setitem(row, "value_after", Value(one.change.after));
    rows.setitem(row, "mark", Value(one.change.mark));
  }
  rows.reset_update_flags();
  const std::string name = changes.empty() ? std::string() : changes.front().change.worker_name;
  control("st_count")->text = changes.empty() ? "人员 " + worker + " 没有入库变动记录"
                                              : "人员 " + worker + " " + name + "：" + std::to_string(changes.size()) +
                                                    " 项变动，最近的在前";
}

void w_rs_worker_changes::pb_close_clicked() { close_window(); }

}  // namespace shenbao
