#pragma once

#include "framework/host/w_rs_sheet.h"

namespace shenbao {

// The approval form "公务员和参照管理人员职务职数调整审批表" of a post and rank declaration, in
// print preview, with its print and exit buttons.
class w_zwzs_print : public w_rs_sheet {
 public:
  explicit w_zwzs_print(Session& session);
  void open() override;
  void resize(int new_width, int new_height) override;
  virtual void dw_1_constructor();
  virtual void pb_2_clicked();
  virtual void pb_1_clicked();
};

}  // namespace shenbao
