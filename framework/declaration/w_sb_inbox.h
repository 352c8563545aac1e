#pragma once

#include <map>
#include <string>
#include <vector>

#include "framework/declaration/category.h"
#include "framework/runtime/values/value.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {

class Transaction;

// The authority's inbox ("待审核申报"), his work list: every submitted declaration that is not
// yet accepted, of every unit and every category, the longest waiting first (dw_1, d_sb_inbox:
// unit, category, when it was submitted, days waiting, times returned before, declarant,
// number of workers). The filters above it (dw_filter, d_sb_inbox_filter: category, unit,
// least days waiting) narrow the whole list on the server; "重置(&C)" clears them. Opening a
// declaration ("打开申报(&O)", or a double-click on its row) opens its category window on it;
// "刷新(&R)" lists again, and so does the inbox whenever it comes to the front (and once a
// minute while it is in front, as the browser asks).
//
// The unit filter matches the start of a unit's number or any part of its name. The server
// knows no pinyin: the browser, which has every unit's name, finds the units whose names'
// pinyin initials hold the typed text and hands them over with it (the gesture `units` TEXT
// COMPANY_NUM..., which dw_filter's role names with the column it serves; the host and tests
// call it as uf_filter_unit).
class w_sb_inbox : public Window {
 public:
  static constexpr const char* kClassName = "w_sb_inbox";
  static constexpr const char* kCaption = "待审核申报";
  static constexpr const char* kAllCategories = "all";
  w_sb_inbox(Session& session, std::vector<const CategoryDescriptor*> categories);

  void open() override;
  void resize(int new_width, int new_height) override;
  // Lists again, so that what was submitted since shows without 刷新; the declaration the
  // authority stands on stays the current row.
  void activate() override;
  std::optional<Refusal> gesture(std::string_view name, const std::vector<std::string>& args) override;

  virtual void pb_refresh_clicked();
  virtual void pb_open_clicked();
  virtual void pb_reset_clicked();

  // How many declarations wait for acceptance in each category, by its window class (every
  // category is there, also with 0); -1 for each when the database could not count.
  static std::map<std::string, long> waiting_counts(Transaction& sqlca, const std::vector<const CategoryDescriptor*>& categories);

 private:
  void list();
  void open_declaration(const std::string& inbox_key);
  int dw_filter_itemchanged(const std::string& column, const Value& value);
  // Sets the unit filter: the text, and the units the browser found by their names' initials.
  // False when the text does not fit the filter.
  bool filter_unit(const std::string& text, std::vector<std::string> initials_units);

  std::vector<const CategoryDescriptor*> categories_;
  std::vector<std::string> initials_units_;
};

}  // namespace shenbao
