#pragma once

#include "framework/declaration/sb1.h"

namespace shenbao {

// Personnel plan declaration ("增人计划"): how many people the unit plans to take on by intake
// category, its staffing figures, and the planned persons, who are not yet in the register:
// they are numbered "9" and six digits per unit, listed from the declaration itself in dw_2,
// and created in rs_main on acceptance. What it shares with every category is in its
// descriptor; this class holds the twins of the planned counts, the person list, the
// acceptance and its three buttons.
class w_vorant_rsjh : public sb1 {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_rsjh(Session& session);

  int wf_rystate() override;
  int wf_retrieve() override;
  int save_worker() override;
  void pb_del_clicked() override;
  int uf_approve(int ai_state) override;
  int dw_3_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) override;
  void dw_4_constructor() override;

  virtual void pb_6_clicked();  // 增加人员: a new planned person with the next number
  virtual void pb_8_clicked();  // 编制情况申报: the staffing numbers of the declaration

  // The code lists of dw_4, once it is built.
  DataStore* idwc_sex = nullptr;
  DataStore* idwc_dwxz = nullptr;
  DataStore* idwc_grsf = nullptr;
  DataStore* idwc_xueli = nullptr;
  DataStore* idwc_title = nullptr;
  DataStore* idwc_xuewei = nullptr;
  DataStore* idwc_zbxz = nullptr;

 private:
  // Lists the declaration's people in dw_2: 0, or -1 after "取人员申报信息失败！". The list
  // is read again after a person is saved or deleted without moving to another person, so
  // that entries still unsaved in the unit form are neither asked about nor lost.
  int list_people();
};

}  // namespace shenbao
