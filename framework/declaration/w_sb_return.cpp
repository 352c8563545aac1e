#include "framework/declaration/w_sb_return.h"

#include "framework/host/messages.h"

namespace shenbao {

w_sb_return::w_sb_return(Session& session) : w_response(session, kClassName) {
  title = "退回申报";
  width = 480;
  height = 260;
  add_control(ControlKind::StaticText, "st_1", "退回原因（将告知申报单位）：", 12, 10, 400, 20);
  Control& reason = add_control(ControlKind::MultiLineEdit, "mle_reason", "", 12, 34, 456, 170);
  reason.limit = kReasonLimit;
  Control& ok = add_control(ControlKind::Button, "pb_1", "确定(&O)", 268, 218, 96, 28);
  ok.clicked = [this] { pb_1_clicked(); };
  ok.role.accent = true;
  add_control(ControlKind::Button, "pb_2", "取消(&C)", 372, 218, 96, 28).clicked = [this] { pb_2_clicked(); };
}

void w_sb_return::open() {
  w_response::open();
  if (const ReasonRequest* request = parameter<ReasonRequest>()) {
    title = request->title;
    control("st_1")->text = request->prompt;
  }
}

void w_sb_return::pb_1_clicked() {
  Control& reason = *control("mle_reason");
  const size_t first = reason.text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    say(session(), HostMessage::ReturnReasonMissing);
    return;
  }
  close_with_return(reason.text.substr(first, reason.text.find_last_not_of(" \t\r\n") - first + 1));
}

void w_sb_return::pb_2_clicked() { close_window(); }

}  // namespace shenbao
