#pragma once

#include "framework/host/w_print_sheet.h"

namespace shenbao {

// A reward application in print preview: the composite of the declaration's unit form
// (page 1, nested report dw_1) and the authorities' opinion boxes (page 2, nested report
// dw_2, given one empty row so that both boxes show empty). "打印(&P)" (pb_1) prints it as a
// job named after the window's title; "退出(&C)" (pb_2) closes the window. Nothing but the
// declaration's unit row is read; without it page 1 shows no data.
class w_jl_print : public w_print_sheet {
 public:
  w_jl_print(Session& session, const PrintSheet& sheet);

  void open() override;
  void resize(int new_width, int new_height) override;
  void pb_1_clicked() override;
  void pb_2_clicked() override;
};

// "省级系统奖励申报表", opened by the provincial-system reward declaration.
class w_jl_sjxt_print : public w_jl_print {
 public:
  static constexpr PrintSheet kSheet{"w_jl_sjxt_print", "省级系统奖励申报表", "d_sjxtjl_print"};
  explicit w_jl_sjxt_print(Session& session) : w_jl_print(session, kSheet) {}
};

// "省政府奖励申报表", opened by the provincial-government reward declaration.
class w_jl_szf_print : public w_jl_print {
 public:
  static constexpr PrintSheet kSheet{"w_jl_szf_print", "省政府奖励申报表", "d_szfjl_print"};
  explicit w_jl_szf_print(Session& session) : w_jl_print(session, kSheet) {}
};

}  // namespace shenbao
