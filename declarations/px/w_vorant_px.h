#pragma once

#include <string>

#include "framework/declaration/sb1.h"

namespace shenbao {

// Training declaration ("公务员培训"): per worker the credits of up to ten subjects (five
// fixed, five the unit names in w_px_type) and whether the training task is done. The unit's
// own subjects get slots in the worker form at run time (uf_modify); "提取人员信息(&A)"
// rebuilds the worker rows from the unit's worker list in one transaction.
class w_vorant_px : public sb1 {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_px(Session& session);

  void pb_16_clicked() override;
  void pb_5_clicked() override;
  void pb_1_clicked() override;

  // Lays the unit's own subjects out in dw_4 with one modify: 0, or -1 when the subject list
  // cannot be read (the layout stays as it was).
  int uf_modify();
  virtual void pb_6_clicked();  // 提取人员信息
  virtual void pb_8_clicked();  // 培训科目维护
  // The extraction without the period question, followed by the subject maintenance.
  int uf_getdata();
  void dw_1_rowfocuschanged(long currentrow);

  // The property text uf_modify applies for a subject list of (code, name) rows.
  static std::string subject_layout(const std::vector<std::pair<std::string, std::string>>& subjects);

 private:
  // The worker rows of the declaration for every worker of the unit's list, written without
  // committing: how many, or -1 when a statement failed.
  long extract_rows();
  void allow_worker_entry(bool allowed);
};

}  // namespace shenbao
