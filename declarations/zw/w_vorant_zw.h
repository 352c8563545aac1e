#pragma once

#include <vector>

#include "framework/declaration/declaration.h"

namespace shenbao {

// Post and rank declaration ("职位职数上报"): the unit's post counts by post class, with the
// adjusted counts following each entry, and the proposed post and rank of each declared
// worker, written into the register on acceptance.
class w_vorant_zw : public sb1 {
 public:
  explicit w_vorant_zw(Session& session);

  void wf_getcompanyinfo() override;
  int uf_getworkerinfo(const std::string& worker_code) override;
  void uf_all(const std::string& data) override;
  int pfc_save() override;
  int uf_approve(int ai_state) override;

  void resize(int new_width, int new_height) override;
  int dw_3_itemchanged(long row, const std::string& column, const std::string& data) override;
  void dw_4_constructor() override;
  void dw_4_editchanged(long row, const std::string& column, const std::string& data) override;
  int dw_4_itemchanged(long row, const std::string& column, const std::string& data) override;
  virtual void pb_6_clicked();

  DataStore* idwc_6 = nullptr;   // code list of ndzw
  DataStore* idwc_jb = nullptr;  // code list of ndjb

 private:
  std::vector<DropDown> drop_downs_;
};

}  // namespace shenbao
