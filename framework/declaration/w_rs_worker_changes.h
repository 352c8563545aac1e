#pragma once

#include <vector>

#include "framework/declaration/category.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {

// "人员变动记录": for one worker, every change that any declaration's acceptance made to his
// register records, and every reversal of one, newest first (dw_1, d_rs_worker_changes: when,
// which declaration, 数据入库 or 撤销入库, the record, what in words, before, after). The worker is
// named by his number in sle_worker; "查询(&Q)" lists. The authority sees every unit's
// declarations, a clerk his own unit's only.
class w_rs_worker_changes : public Window {
 public:
  static constexpr const char* kClassName = "w_rs_worker_changes";
  static constexpr const char* kCaption = "人员变动记录";
  w_rs_worker_changes(Session& session, std::vector<const CategoryDescriptor*> categories);

  void open() override;
  void resize(int new_width, int new_height) override;

  virtual void pb_query_clicked();
  virtual void pb_close_clicked();

 private:
  std::string declaration_words(const std::string& unit_table, const std::string& pkid) const;

  std::vector<const CategoryDescriptor*> categories_;
};

}  // namespace shenbao
