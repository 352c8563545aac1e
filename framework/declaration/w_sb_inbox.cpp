#include "framework/declaration/w_sb_inbox.h"

#include "framework/host/structures.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {
namespace {

// One category's part of the inbox. Table names and captions come from the descriptors, never
// from a user.
std::string category_select(const CategoryDescriptor& c) {
  const std::string unit = c.unit_table;
  const std::string worker = c.worker_table;
  const std::string class_name = c.class_name;
  return "select '" + class_name + "|' || t.company_num || '|' || t.pkid as inbox_key, '" + class_name +
         "' as class_name, '" + c.caption + "' as category, t.company_num, u.company_name, t.pkid, t.sb_date, t.sbr, " +
         "(select count(*) from " + worker + " w where w.pkid = t.pkid and w.company_num = t.company_num) as workers " +
         "from " + unit + " t left join rs_info_company u on u.company_num = t.company_num " +
         "where t.state = 1 and not exists (select 1 from rs_sb_approval a where a.table_name = '" + unit +
         "' and a.pkid = t.pkid and a.company_num = t.company_num)";
}

}  // namespace

w_sb_inbox::w_sb_inbox(Session& session, std::vector<const CategoryDescriptor*> categories)
    : Window(session, kClassName), categories_(std::move(categories)) {
  title = kCaption;
  width = 1000;
  height = 640;
  FormControl& list = add_form("dw_1", 8, 8, 0, 0);
  list.role.gesture = "open";
  list.role.gesture_column = "inbox_key";
  add_control(ControlKind::Button, "pb_refresh", "刷新(&R)", 0, 0, 96, 28).clicked = [this] { pb_refresh_clicked(); };
  Control& open = add_control(ControlKind::Button, "pb_open", "打开申报(&O)", 0, 0, 110, 28);
  open.clicked = [this] { pb_open_clicked(); };
  open.role.accent = true;
}

void w_sb_inbox::open() {
  FormControl& list = *form("dw_1");
  list.set_dataobject("d_sb_inbox");
  std::string sql;
  for (const CategoryDescriptor* category : categories_) sql += (sql.empty() ? "" : " union all ") + category_select(*category);
  list.store().setsqlselect(sql + " order by sb_date desc, pkid desc");
  this->list();
  resize(width, height);
}

void w_sb_inbox::list() {
  DataStore& store = form("dw_1")->store();
  if (store.retrieve() < 0) session().message_box("提示", "读取待审核申报失败！\n" + store.last_error(), Icon::StopSign);
  session().set_status("待审核申报 " + std::to_string(store.rowcount()) + " 件");
}

void w_sb_inbox::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  FormControl& list = *form("dw_1");
  Control& open = *control("pb_open");
  Control& refresh = *control("pb_refresh");
  open.x = width - open.width - 8;
  open.y = height - open.height - 8;
  refresh.x = open.x - refresh.width - 8;
  refresh.y = open.y;
  list.width = width - 16;
  list.height = open.y - list.y - 8;
}

void w_sb_inbox::pb_refresh_clicked() { list(); }

void w_sb_inbox::pb_open_clicked() {
  DataStore& store = form("dw_1")->store();
  const long row = store.getrow();
  if (row < 1 || row > store.rowcount()) {
    session().message_box("提示", "请先选择一件申报！", Icon::Information);
    return;
  }
  open_declaration(store.getitemstring(row, "inbox_key"));
}

std::optional<Refusal> w_sb_inbox::gesture(std::string_view name, const std::vector<std::string>& args) {
  if (name != "open" || args.size() != 1) return Window::gesture(name, args);
  open_declaration(args[0]);
  return std::nullopt;
}

void w_sb_inbox::open_declaration(const std::string& inbox_key) {
  // Only a declaration the list holds is opened: the key is looked up, not trusted.
  DataStore& store = form("dw_1")->store();
  const long row = store.find_value("inbox_key", Value(inbox_key));
  if (row < 1) {
    session().message_box("提示", "该申报已不在待审核之列，请刷新！", Icon::Information);
    return;
  }
  store.setrow(row);
  session().message.powerobjectparm = s_com{store.getitemstring(row, "company_num"), store.getitemstring(row, "pkid")};
  session().open_sheet(store.getitemstring(row, "class_name"));
}

}  // namespace shenbao
