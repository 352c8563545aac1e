#pragma once

#include "framework/host/w_rs_sheet.h"

namespace shenbao {

// What a print window states about itself: its class, its title (which also names its print
// job) and the report it shows.
struct PrintSheet {
  const char* class_name;
  const char* title;
  const char* report;
};

// Ancestor of the print windows that show one report of a declaration: "打印(&P)" (pb_2) and
// "退出(&C)" (pb_1) at the bottom right and the report in print preview (dw_1) above them.
// Opened with an s_com, it retrieves the report with (worker_code = pkid, company); without
// one, or for a declaration that does not exist, the preview is empty and printing does
// nothing. A descendant states its PrintSheet and adds only what is its own.
class w_print_sheet : public w_rs_sheet {
 public:
  w_print_sheet(Session& session, const PrintSheet& sheet);

  void open() override;
  void resize(int new_width, int new_height) override;
  virtual void dw_1_constructor();
  virtual void pb_2_clicked();
  virtual void pb_1_clicked();

  FormControl& dw_1() const { return *form("dw_1"); }
};

}  // namespace shenbao
