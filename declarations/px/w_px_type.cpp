#include "declarations/px/w_px_type.h"

#include "declarations/px/w_vorant_px.h"
#include "framework/host/messages.h"

namespace shenbao {
namespace {

constexpr const char* kFixedSubjects[] = {"公共服务", "公共政策", "公共经济", "依法行政", "创新能力"};

}  // namespace

w_px_type::w_px_type(Session& session) : w_response(session, "w_px_type"), subjects_(session) {
  title = "培训科目设置";
  width = 820;
  height = 380;
  add_form("dw_1", 10, 10, 800, 300).set_dataobject("d_px_type_list");
  add_control(ControlKind::Button, "pb_2", "保存(&S)", 600, 330, 96, 28).clicked = [this] { pb_2_clicked(); };
  add_control(ControlKind::Button, "pb_1", "退出(&C)", 710, 330, 96, 28).clicked = [this] { pb_1_clicked(); };
  subjects_.attach(dw_1(), *control("pb_2"));
}

void w_px_type::open() {
  w_response::open();
  const u_stru_com* declaration = parameter<u_stru_com>();
  if (!declaration) {
    close_window();
    return;
  }
  DataStore& list = dw_1().store();
  list.settransobject(&session().sqlca());
  const bool may_change =
      subjects_.open({w_vorant_px::descriptor().unit_table, declaration->id, declaration->company});
  if (list.retrieve({Value(declaration->id), Value(declaration->company)}) == 0 && may_change)
    initialise_subjects(*declaration);
}

void w_px_type::initialise_subjects(const u_stru_com& declaration) {
  DataStore& list = dw_1().store();
  for (int i = 1; i <= 10; ++i) {
    const long row = list.insertrow(0);
    list.setitem(row, "code", Value((i < 10 ? "0" : "") + std::to_string(i)));
    list.setitem(row, "name", Value("其他"));
    list.setitem(row, "pkid", Value(declaration.id));
    list.setitem(row, "company_num", Value(declaration.company));
  }
  for (int i = 0; i < 5; ++i) list.setitem(i + 1, "name", Value(kFixedSubjects[i]));
  // Saved at once; when that fails the rows stay on screen and "保存(&S)" inserts them.
  subjects_.save();
}

void w_px_type::pb_2_clicked() {
  if (auto refused = subjects_.save()) report_write_refusal(session(), *refused);
}

void w_px_type::pb_1_clicked() { close_window(); }

}  // namespace shenbao
