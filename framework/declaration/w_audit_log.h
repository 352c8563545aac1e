#pragma once

#include "framework/runtime/windows/window.h"

namespace shenbao {

// "审计日志", the authority's: the audit log every server of the database writes
// (sb_audit_log: logins, failed logins, refusals, acceptances, deletions, exports), newest
// first (dw_1, d_audit_log: time, user, unit, address, event, detail, server). The filters
// above it (dw_filter, d_audit_log_filter: days from and to, user, unit, the start of the
// event) narrow the list on the server as they change; it opens on the last seven days.
// "重置(&C)" clears the filters, "刷新(&R)" lists again. At most the newest kMostRows rows are
// listed; the status line then says to narrow the days.
class w_audit_log : public Window {
 public:
  static constexpr const char* kClassName = "w_audit_log";
  static constexpr const char* kCaption = "审计日志";
  static constexpr long kMostRows = 5000;
  explicit w_audit_log(Session& session);

  void open() override;
  void resize(int new_width, int new_height) override;

  virtual void pb_refresh_clicked();
  virtual void pb_reset_clicked();
  virtual void pb_close_clicked();

 private:
  void list();
};

}  // namespace shenbao
