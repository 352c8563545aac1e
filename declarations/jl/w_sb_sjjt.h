#pragma once

#include "declarations/jl/candidate.h"

namespace shenbao {

// Candidate units for a reward ("候选单位申报", rs_w00047): "新增候选单位(&N)" starts a new
// candidate unit; "保存候选单位(&S)" stores it, says so, and shows it in the list.
class w_sb_sjjt : public w_sb_candidate {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_sb_sjjt(Session& session);

  // 0 when there was nothing to save, -1 when refused or failed, 1 when stored.
  virtual long pb_22_clicked();
};

}  // namespace shenbao
