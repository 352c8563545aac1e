#include "framework/declaration/w_sb_accept_preview.h"

#include <algorithm>

#include "framework/declaration/declaration_limits.h"
#include "framework/declaration/list_window.h"
#include "framework/host/messages.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {

w_sb_accept_preview::w_sb_accept_preview(Session& session) : w_response(session, kClassName) {
  title = "入库预览";
  width = 980;
  height = 560;
  add_control(ControlKind::StaticText, "st_count", "", 8, 8, 900, 20);
  FormControl& list = add_form("dw_1", 8, 34, 0, 0);
  list.read_only = true;
  add_control(ControlKind::Button, "pb_print", "打印(&P)", 0, 0, 96, 28).clicked = [this] { pb_print_clicked(); };
  add_control(ControlKind::Button, "pb_close", "关闭(&C)", 0, 0, 96, 28).clicked = [this] { pb_close_clicked(); };
}

void w_sb_accept_preview::open() {
  w_response::open();
  const AcceptPreview* preview = parameter<AcceptPreview>();
  if (!preview) {
    close_window();
    return;
  }
  FormControl& list = *form("dw_1");
  list.set_dataobject("d_sb_accept_preview");
  DataStore& rows = list.store();
  for (const RegisterChange& change : preview->changes) {
    const long row = rows.insertrow(0);
    rows.setitem(row, "worker_code", Value(change.worker_code));
    rows.setitem(row, "worker_name", Value(change.worker_name));
    rows.setitem(row, "register_table", Value(change.table));
    rows.setitem(row, "item", Value(change.item));
    rows.setitem(row, "value_before", Value(change.before));
    rows.setitem(row, "value_after", Value(change.after));
    rows.setitem(row, "mark", Value(change.mark));
  }
  rows.reset_update_flags();
  constexpr std::string_view kDrift = "登记信息已变更";
  const auto marked = [&](std::string_view mark) {
    return std::count_if(preview->changes.begin(), preview->changes.end(),
                         [&](const RegisterChange& c) { return c.mark == mark; });
  };
  const auto drifted = marked(kDrift);
  const auto exceeded = marked(kLimitMark);
  const std::string count = std::to_string(preview->changes.size() - static_cast<size_t>(drifted + exceeded));
  title = (preview->accepted ? "入库变动 — " : "入库预览 — ") + preview->declaration.pkid;
  std::string heading = preview->accepted ? "本次入库变动了 " + count + " 项登记信息"
                                          : "数据入库将变动 " + count + " 项登记信息（预览，尚未入库）";
  if (drifted > 0) heading += "；另有 " + std::to_string(drifted) + " 项登记信息在人员加入申报后已变更";
  if (exceeded > 0) heading += "；" + std::to_string(exceeded) + " 项将超出核定职数或编制";
  // Above the list, and above the captions of every printed page.
  control("st_count")->text = heading;
  rows.modify("title_t.text='" + title + "：" + heading + "'");
  resize(width, height);
}

void w_sb_accept_preview::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  lay_out_list_window(*this, {"pb_print", "pb_close"});
}

void w_sb_accept_preview::pb_print_clicked() {
  if (session().print_jobs().print_alone(form("dw_1")->store(), title) < 0)
    say(session(), HostMessage::PrintFailed, session().print_jobs().last_error());
}

void w_sb_accept_preview::pb_close_clicked() { close_window(); }

}  // namespace shenbao
