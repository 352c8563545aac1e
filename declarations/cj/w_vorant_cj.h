#pragma once

#include "framework/declaration/sb1.h"

namespace shenbao {

// Discipline declaration ("公务员惩戒"): per punished person the punishment (a code of
// d_select_punish_sb, its category shown beside it), reason and dates; the unit form carries
// the number of people punished of each kind, which "统计(&T)" (pb_6) counts and saves.
// Acceptance writes every punishment into the register's punishment records and marks each
// person expelled from public service (code 66) as having left; any failing statement fails
// the whole acceptance.
class w_vorant_cj : public sb1 {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_cj(Session& session);

  int uf_approve(int ai_state) override;
  void dw_4_constructor() override;
  int dw_4_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) override;
  // 统计(&T): counts the declaration's stored punishments by kind into the unit form and
  // saves it; the user is told when the counts could not be saved.
  virtual void pb_6_clicked();

  DataStore* idwc_name = nullptr;    // code list of punish_name
  DataStore* idwc_reason = nullptr;  // code list of punish_reason

 private:
  // Refuses (1) a punishment date after the rescission date of the row, or a rescission date
  // before its punishment date, with the reason at the field; else 0.
  int check_rescission(long row, const std::string& column, const Value& value);
};

}  // namespace shenbao
