#pragma once

#include <string>

#include "framework/runtime/session.h"
#include "framework/runtime/window.h"

namespace shenbao {

// What a category tells the declaration ancestor about itself.
struct DeclarationCategory {
  std::string class_name;   // w_vorant_zw
  std::string title;        // the window's title
  std::string index;        // is_index: "w00031"; "rs_" + index is the worker table
  std::string unit_table;   // rs_w00031_com
  std::string unit_form;    // d_zw_company_form
  std::string worker_form;  // d_zw_worker_form
  std::string worker_list = "d_worker_list";
};

// The declaration ancestor: the sheet every category window descends from.
//
// It lists the unit's declarations (dw_1, d_sb_list) for the date range em_1..em_2, the
// unit's workers (dw_2), and shows the open declaration's unit form (dw_3, one row) and one
// worker's form (dw_4, one row). Its buttons create, save and delete declarations and
// workers, open the declaration letter, move on to the workers, and accept a declaration
// into the register (pb_approve, the authority only). At fixed moments it calls the hooks
// below, which a category overrides; every override calls the ancestor's first. It fills keys
// and audit columns, commits or rolls back its own saves and deletes, and commits or rolls
// back after uf_approve by its result, recording each acceptance in rs_sb_approval in the
// same transaction so that a declaration is never written into the register twice.
class sb1 : public Window {
 public:
  sb1(Session& session, DeclarationCategory category);

  // Window variables.
  std::string pkid;         // the open declaration; empty when none is saved yet
  std::string company_num;  // the unit
  std::string is_index;     // "rs_" + is_index is the category's worker table

  const DeclarationCategory& category() const { return category_; }
  std::string worker_table() const { return "rs_" + is_index; }

  FormControl& dw_1() const { return *form("dw_1"); }
  FormControl& dw_2() const { return *form("dw_2"); }
  FormControl& dw_3() const { return *form("dw_3"); }
  FormControl& dw_4() const { return *form("dw_4"); }

  // Hooks. The ancestor's versions do nothing but what their comments say.
  // Fills row 1 of dw_3 of a new declaration from the unit's master data.
  virtual void wf_getcompanyinfo() {}
  // Fills row 1 of dw_4 for a worker just added: 0 when found and copied, -1 when not found.
  virtual int uf_getworkerinfo(const std::string& worker_code) { return 0; }
  // Re-filters the code lists of dw_4 with `data`.
  virtual void uf_all(const std::string& data) {}
  // Checks before the worker form is saved: 0, or -1 after a message.
  virtual int pfc_save() { return 0; }
  // Writes the accepted declaration into the register without committing: 0, or -1 when a
  // statement failed.
  virtual int uf_approve(int ai_state) { return 0; }
  // Marks the workers of dw_2 that are in the open declaration with the status "申报";
  // answers how many.
  virtual int wf_rystate();
  // Lists the declaration's people (categories that need it).
  virtual int wf_retrieve() { return 0; }
  // The next number for a person not yet in the register: "9" and a six-digit sequence after
  // the unit's highest code in the worker table; empty, after the limit message, when the six
  // digits are used up.
  virtual std::string uf_getworkercode();

  // Window events.
  void open() override;
  bool close_query() override;
  void resize(int new_width, int new_height) override;
  std::optional<Value> call(std::string_view function, const std::vector<std::string>& args) override;
  std::optional<Value> variable(std::string_view name) const override;
  bool gesture(std::string_view name, const std::vector<std::string>& args, std::string& error) override;

  // Button scripts, overridable like every event.
  virtual void pb_3_clicked();       // 查询: list the declarations of the date range
  virtual void pb_16_clicked();      // 新增申报
  virtual void pb_5_clicked();       // 保存申报
  virtual void pb_d_clicked();       // 删除申报
  virtual void pb_2_clicked();       // 保存人员
  virtual void pb_del_clicked();     // 删除人员
  virtual void pb_1_clicked();       // 下一步: save the unit form, then on to the workers
  virtual void pb_4_clicked();       // 申报函件: the declaration letter
  virtual void pb_approve_clicked(); // 数据入库

  // Form events of dw_3 and dw_4. itemchanged answers 1 to refuse the value.
  virtual void dw_3_constructor() {}
  virtual int dw_3_itemchanged(long row, const std::string& column, const std::string& data) { return 0; }
  virtual void dw_4_constructor() {}
  virtual void dw_4_editchanged(long row, const std::string& column, const std::string& data) {}
  virtual int dw_4_itemchanged(long row, const std::string& column, const std::string& data) { return 0; }

  // Takes a worker of the unit into the open declaration: a new dw_4 row with key and name,
  // then uf_getworkerinfo. False, after a message, when it cannot.
  bool add_worker(const std::string& worker_code);
  // True when there is no saved declaration; then it has said "请先维护单位申报信息！".
  bool lacks_declaration();
  // Saves dw_3 (and gives a new declaration its pkid); answers 1 or -1 after a message.
  int save_declaration();
  // Saves dw_4 after pfc_save; answers 1, 0 when there is nothing to save, or -1.
  int save_worker();

 protected:
  // Asks "申报数据已修改，是否保存？" when dw_3 or dw_4 hold unsaved changes, saving on Yes
  // and discarding them on No. False when saving failed: the caller stays where it is.
  bool offer_to_save();
  // Puts the changed forms back to what the database holds.
  void discard_changes();
  void list_declarations();
  void list_workers();
  void load_declaration(const std::string& id);
  void load_worker(const std::string& worker_code);
  void fill_audit(DataStore& store, long row, bool is_new);
  // Rolls the transaction back and says "<action>失败！" with the reason: the database's, else
  // the store's.
  void roll_back_and_report(const std::string& action, const DataStore* store);

 private:
  void build_controls();
  DeclarationCategory category_;
};

}  // namespace shenbao
