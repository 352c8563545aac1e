#pragma once

#include "framework/declaration/declaration_gate.h"
#include "framework/host/w_rs_sheet.h"

namespace shenbao {

// "编制情况申报": the establishment and head count of the five kinds of establishment of one
// personnel plan declaration, with their totals. Opened modally from the declaration window
// with an s_com (worker_code = pkid, company); saves and commits on "保存(&S)", and "退出(&C)"
// closes it, dropping what was not saved. The figures are the declaration's: saved only through
// the declaration gate, and read-only for the authority and on an accepted declaration.
class w_zrjh_edit : public w_rs_sheet {
 public:
  explicit w_zrjh_edit(Session& session);

  void open() override;
  virtual void pb_2_clicked();  // 保存
  virtual void pb_1_clicked();  // 退出

  FormControl& dw_1() const { return *form("dw_1"); }

 private:
  DeclarationDialogForm staffing_;
};

}  // namespace shenbao
