#pragma once

#include "declarations/departure/departure.h"

namespace shenbao {

// Dismissal declaration ("公务员辞退"): the reason (a code of d_select_cz_ctyy) and the
// dismissal date of each worker; acceptance marks them dismissed (stuff_status 05, a_vc1 85).
class w_vorant_ct : public w_vorant_departure {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_ct(Session& session);

  void dw_4_constructor() override;
  int dw_4_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) override;

  DataStore* idw_ctyy = nullptr;  // code list of ct_reason
};

}  // namespace shenbao
