#pragma once

#include "framework/host/w_print_sheet.h"

namespace shenbao {

// The approval form "公务员和参照管理人员职务职数调整审批表" of a post and rank declaration, in
// print preview, with its print and exit buttons.
class w_zwzs_print : public w_print_sheet {
 public:
  static constexpr PrintSheet kSheet{"w_zwzs_print", "职务职数调整审批表", "d_zw_company_form_print"};
  explicit w_zwzs_print(Session& session) : w_print_sheet(session, kSheet) {}
};

}  // namespace shenbao
