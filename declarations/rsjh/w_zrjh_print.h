#pragma once

#include "framework/host/w_print_sheet.h"

namespace shenbao {

// "增人计划申报表" of a personnel plan declaration, in print preview, with its print and exit
// buttons.
class w_zrjh_print : public w_print_sheet {
 public:
  static constexpr PrintSheet kSheet{"w_zrjh_print", "增人计划申报打印", "d_rsjh_company_print"};
  explicit w_zrjh_print(Session& session) : w_print_sheet(session, kSheet) {}
};

}  // namespace shenbao
