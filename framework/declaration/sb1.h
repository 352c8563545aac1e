#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "framework/declaration/category.h"
#include "framework/declaration/declaration_record.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {

// The declaration ancestor: the sheet every category window descends from, built from the
// category's descriptor.
//
// It lists the unit's declarations (dw_1, d_sb_list) for the date range em_1..em_2, the
// unit's workers (dw_2), and shows the open declaration's unit form (dw_3, one row) and one
// worker's form (dw_4, one row). Its buttons create, save and delete declarations and
// workers, open the declaration letter, move on to the workers, print (the category's print
// button), show a declaration's history (pb_history), and for the authority accept a submitted
// declaration into the register (pb_approve) or return it to its unit with a reason
// (pb_return). From the descriptor it fills new unit and worker forms, binds, narrows and checks
// the worker form's drop-downs, and checks the required columns before a worker is saved.
// At fixed moments it calls the hooks below, which a category overrides; every override calls
// the ancestor's first. The records themselves (ids, saves, deletes, acceptance) are the
// DeclarationRecord's, which commits or rolls back each of them whole.
class sb1 : public Window {
 public:
  sb1(Session& session, const CategoryDescriptor& category);

  // Window variables.
  std::string pkid;         // the open declaration; empty when none is saved yet
  std::string company_num;  // the unit
  std::string is_index;     // "rs_" + is_index is the category's worker table

  const CategoryDescriptor& category() const { return *category_; }
  std::string worker_table() const { return category_->worker_table; }
  DeclarationRecord& record() { return record_; }

  FormControl& dw_1() const { return *form("dw_1"); }
  FormControl& dw_2() const { return *form("dw_2"); }
  FormControl& dw_3() const { return *form("dw_3"); }
  FormControl& dw_4() const { return *form("dw_4"); }

  // Hooks. The ancestor's versions do what the descriptor says, or nothing.
  // Fills row 1 of dw_3 of a new declaration: the descriptor's columns of the unit's master
  // data (see unit_master_data_found()).
  virtual void wf_getcompanyinfo();
  // Fills row 1 of dw_4 for a worker just added with the descriptor's copies: 0 when found and
  // copied, -1 when not found.
  virtual int uf_getworkerinfo(const std::string& worker_code);
  // Re-filters the drop-downs of dw_4 with `data`.
  virtual void uf_all(const std::string& data);
  // Checks before the worker form is saved: the descriptor's required columns in order; 0, or
  // -1 after a message with the focus on the first empty one.
  virtual int pfc_save();
  // Writes the accepted declaration into the register without committing: 0, or -1 when a
  // statement failed.
  virtual int uf_approve(int ai_state) { return 0; }
  // Marks the workers of dw_2 that are in the open declaration with the status "申报";
  // answers how many.
  virtual int wf_rystate();
  // Lists the declaration's people in dw_2, for categories whose worker list is the
  // declaration's own; called whenever the worker list is shown for another declaration.
  virtual int wf_retrieve() { return 0; }
  // The next number for a person not yet in the register: "9" and a six-digit sequence after
  // the unit's highest code in the worker table; empty, after the limit message, when the six
  // digits are used up.
  virtual std::string uf_getworkercode();

  // Window events.
  void open() override;
  bool close_query() override;
  void resize(int new_width, int new_height) override;
  std::optional<Value> variable(std::string_view name) const override;
  std::optional<Refusal> gesture(std::string_view name, const std::vector<std::string>& args) override;

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
  virtual void pb_return_clicked();  // 退回: the authority sends a submitted declaration back
  virtual void pb_history_clicked(); // 申报记录: the steps of the open declaration
  virtual void pb_preview_accept_clicked();  // 入库预览: what the acceptance changes, or changed
  virtual void pb_reverse_clicked();  // 撤销入库: the authority undoes an acceptance, with a reason
  virtual void print_clicked();      // the category's print button: its print window

  // Form events of dw_3 and dw_4, after the column's type has accepted the entry (`value`
  // is the typed text read as the column's type). itemchanged answers 1 to refuse it.
  virtual void dw_3_constructor() {}
  virtual int dw_3_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) {
    return 0;
  }
  virtual void dw_4_constructor();
  virtual void dw_4_editchanged(long row, const std::string& column, const std::string& data);
  virtual int dw_4_itemchanged(long row, const std::string& column, const std::string& data, const Value& value);

  // Takes a worker of the unit into the open declaration: a new dw_4 row with key and name,
  // then uf_getworkerinfo. False, after a message, when it cannot.
  bool add_worker(const std::string& worker_code);
  // True when there is no saved declaration; then it has said "请先维护单位申报信息！".
  bool lacks_declaration();
  // True, after its message and before any question, when this user may not make the change
  // to the open declaration: the authority never files, and an accepted declaration is
  // locked for everyone (the refused attempt goes to the audit log). The gate asks again
  // when the change is written.
  bool refuses_change(DeclarationChange change);
  // Saves dw_3 (and gives a new declaration its pkid); answers 1 or -1 after a message.
  int save_declaration();
  void show_saved();
  // Saves dw_4 after pfc_save; answers 1, 0 when there is nothing to save, or -1. Every save
  // of the worker form comes here ("保存人员(&S)", the question on leaving), so a category
  // whose persons are numbered when stored overrides it.
  virtual int save_worker();
  // The code list of a drop-down column of dw_4, once dw_4 is built; nullptr for another.
  DataStore* drop_down_list(std::string_view column) const;

 protected:
  // Whether the last wf_getcompanyinfo found the unit's master data.
  bool unit_master_data_found() const { return unit_master_data_found_; }
  // Asks "申报数据已修改，是否保存？" when dw_3 or dw_4 hold unsaved changes, saving on Yes
  // and discarding them on No. False when saving failed: the caller stays where it is.
  bool offer_to_save();
  // Puts the changed forms back to what the database holds.
  void discard_changes();
  void list_declarations();
  // Reads the open declaration's row of the list again, alone, after it was saved.
  void list_saved_declaration();
  // The arguments of d_sb_list for the unit and the range from..to.
  std::vector<Value> list_arguments(DateTime from, DateTime to) const;
  void list_workers();
  void load_declaration(const std::string& id);
  void load_worker(const std::string& worker_code);
  // Puts the reason of a return in the status line when the open declaration was returned.
  void show_return_reason();
  Author author() const;
  // The SQL of a host definition with {unit_table} and {worker_table} put in.
  std::string with_tables(std::string sql) const;
  // Whether the open declaration has been accepted (asked of the database each time, so that
  // an acceptance in another session counts at once).
  bool is_accepted();
  // Makes dw_3 and dw_4 read-only for a user who does not file (the authority) and for an
  // accepted declaration.
  void lock_forms();
  // Adds a button whose script changes the declaration. A click is refused, with the gate's
  // message and before the script runs, when this user may not make `change` to the open
  // declaration; its role says so, so that the browser greys it for the authority and on an
  // accepted declaration. Every button that writes a declaration's data is made this way.
  Control& add_write_button(std::string name, std::string caption, int width, DeclarationChange change,
                            std::function<void()> script);
  // Where the category's buttons stand: `beside_declaration_buttons` after 删除申报, and
  // `left_of_pb_2` from right to left before "保存人员(&S)", 20 units apart. Without it the
  // print button and then every button the category added without a place of its own stand
  // left of "保存人员(&S)", in the order they were added.
  void arrange_buttons(std::vector<std::string> beside_declaration_buttons, std::vector<std::string> left_of_pb_2);
  // "rs_w00031_com pkid=… unit=…", as the audit log names the open declaration.
  std::string declaration_text() const;
  // Says why a save was refused: someone else changed the row meanwhile, or the reason
  // (report_write_refusal).
  void report_save_refusal(const Refusal& refused);

 private:
  // The lists and the forms between the query line (`top`) and the buttons, right up to `right`.
  void lay_out_lists_and_forms(int top, int buttons_top, int right);
  void build_controls();
  void define_hook_functions();

  const CategoryDescriptor* category_;
  DeclarationRecord record_;
  std::vector<std::pair<const DropDownColumn*, DataStore*>> drop_downs_;
  std::vector<std::pair<Control*, DeclarationChange>> write_buttons_;
  bool unit_master_data_found_ = false;
  size_t ancestor_controls_ = 0;          // the controls the ancestor made; the category's follow
  std::vector<std::string> row_buttons_;  // lined up left of pb_2, right to left
  std::vector<std::string> beside_declaration_buttons_;
  bool row_buttons_known_ = false;
  void widen_range_to(const Value& date);
  bool arranged_ = false;
};

}  // namespace shenbao
