#pragma once

#include "framework/declaration/sb1.h"

namespace shenbao {

// Post and rank declaration ("职位职数上报"): the unit's post counts by post class, with the
// adjusted counts following each entry, and the proposed post and rank of each declared
// worker, written into the register on acceptance. What it shares with every category is in
// its descriptor; this class holds only the counts and the acceptance.
class w_vorant_zw : public sb1 {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_zw(Session& session);

  void wf_getcompanyinfo() override;
  int uf_approve(int ai_state) override;
  int dw_3_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) override;
  void dw_4_constructor() override;

  DataStore* idwc_6 = nullptr;   // code list of ndzw
  DataStore* idwc_jb = nullptr;  // code list of ndjb
};

}  // namespace shenbao
