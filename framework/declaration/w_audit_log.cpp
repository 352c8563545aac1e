#include "framework/declaration/w_audit_log.h"

#include "framework/declaration/list_window.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {
namespace {

constexpr int kOpenDays = 7;

}  // namespace

w_audit_log::w_audit_log(Session& session) : Window(session, kClassName) {
  title = kCaption;
  width = 1000;
  height = 640;
  FormControl& filter = add_form("dw_filter", 8, 8, 0, 32);
  filter.entries_only = true;
  filter.itemchanged = [this](long, const std::string& column, const std::string&, const Value& value) {
    // The list follows the new value at once (the form then stores it as well).
    form("dw_filter")->store().setitem_as_retrieved(1, column, value);
    list();
    return 0;
  };
  add_control(ControlKind::Button, "pb_reset", "重置(&C)", 0, 8, 86, 28).clicked = [this] { pb_reset_clicked(); };
  FormControl& rows = add_form("dw_1", 8, 48, 0, 0);
  rows.read_only = true;
  add_control(ControlKind::Button, "pb_refresh", "刷新(&R)", 0, 0, 96, 28).clicked = [this] { pb_refresh_clicked(); };
  add_control(ControlKind::Button, "pb_close", "关闭(&X)", 0, 0, 96, 28).clicked = [this] { pb_close_clicked(); };
}

void w_audit_log::open() {
  FormControl& filter = *form("dw_filter");
  filter.set_dataobject("d_audit_log_filter");
  filter.store().insertrow(0);
  filter.store().reset_update_flags();
  form("dw_1")->set_dataobject("d_audit_log");
  resize(width, height);
  pb_reset_clicked();
}

void w_audit_log::list() {
  DataStore& filter = form("dw_filter")->store();
  const Value from = filter.getitem(1, "date_from");
  const Value to = filter.getitem(1, "date_to");
  const std::string user = trimmed(filter.getitemstring(1, "username"));
  const std::string unit = trimmed(filter.getitemstring(1, "company_num"));
  const std::string event = trimmed(filter.getitemstring(1, "event"));
  auto all = [](bool empty) { return Value(int64_t{empty ? 1 : 0}); };
  // The days are whole: "to" takes the whole of its day.
  const DateTime some_day = session().today().date();
  DataStore& store = form("dw_1")->store();
  const long rows = store.retrieve({
      all(from.is_null()),
      Value(from.is_null() ? some_day : from.as_datetime().date()),
      all(to.is_null()),
      Value(to.is_null() ? some_day : to.as_datetime().date().plus_days(1)),
      all(user.empty()),
      Value(user),
      all(unit.empty()),
      Value(unit),
      all(event.empty()),
      Value(like_escaped(event) + "%"),
      Value(int64_t{kMostRows}),
  });
  if (rows < 0) {
    session().message_box("提示", "读取审计日志失败！\n" + store.last_error(), Icon::StopSign);
    return;
  }
  if (rows >= kMostRows) {
    session().set_status("审计日志：最近的 " + std::to_string(kMostRows) + " 条，更早的请缩小时间范围");
  } else {
    session().set_status("审计日志 " + std::to_string(rows) + " 条");
  }
}

void w_audit_log::pb_refresh_clicked() { list(); }

void w_audit_log::pb_reset_clicked() {
  DataStore& filter = form("dw_filter")->store();
  const DateTime today = session().today().date();
  filter.setitem_as_retrieved(1, "date_from", Value(today.plus_days(1 - kOpenDays)));
  filter.setitem_as_retrieved(1, "date_to", Value(today));
  filter.setitem_as_retrieved(1, "username", Value());
  filter.setitem_as_retrieved(1, "company_num", Value());
  filter.setitem_as_retrieved(1, "event", Value());
  list();
}

void w_audit_log::pb_close_clicked() { close_window(); }

void w_audit_log::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  Control& reset = *control("pb_reset");
  reset.x = width - reset.width - 8;
  FormControl& filter = *form("dw_filter");
  filter.width = reset.x - filter.x - 8;
  lay_out_list_window(*this, {"pb_refresh", "pb_close"});
}

}  // namespace shenbao
