#pragma once

#include "framework/declaration/declaration_gate.h"
#include "framework/host/structures.h"
#include "framework/host/w_response.h"

namespace shenbao {

// "培训科目设置": the ten subjects of one training declaration with the unit's figures per
// subject. Opened modally with a u_stru_com (id = pkid, company); without one it closes at
// once. The first opening for a declaration creates and commits the ten rows (01 to 05 the
// fixed subjects, 06 to 10 "其他"); "保存(&S)" commits the edits, "退出(&C)" drops them.
// Every write goes through the declaration gate: for the authority and on an accepted
// declaration the subjects are shown read-only.
class w_px_type : public w_response {
 public:
  explicit w_px_type(Session& session);

  void open() override;
  virtual void pb_2_clicked();  // 保存
  virtual void pb_1_clicked();  // 退出

  FormControl& dw_1() const { return *form("dw_1"); }

 private:
  void initialise_subjects(const u_stru_com& declaration);

  DeclarationDialogForm subjects_;
};

}  // namespace shenbao
