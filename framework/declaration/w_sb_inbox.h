#pragma once

#include <vector>

#include "framework/declaration/category.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {

// The authority's inbox ("待审核申报"): every submitted declaration that is not yet accepted,
// of every unit and every category, newest first (dw_1, d_sb_inbox: category, unit, number,
// date, declarant, number of workers). Opening one ("打开申报(&O)", or a double-click on its
// row) opens its category window on that declaration; "刷新(&R)" lists again.
class w_sb_inbox : public Window {
 public:
  static constexpr const char* kClassName = "w_sb_inbox";
  static constexpr const char* kCaption = "待审核申报";
  w_sb_inbox(Session& session, std::vector<const CategoryDescriptor*> categories);

  void open() override;
  void resize(int new_width, int new_height) override;
  std::optional<Refusal> gesture(std::string_view name, const std::vector<std::string>& args) override;

  virtual void pb_refresh_clicked();
  virtual void pb_open_clicked();

 private:
  void list();
  void open_declaration(const std::string& inbox_key);

  std::vector<const CategoryDescriptor*> categories_;
};

}  // namespace shenbao
