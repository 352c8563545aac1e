#pragma once

#include "declarations/jl/candidate.h"

namespace shenbao {

// Candidate persons for a reward ("奖励人员申报", rs_w00046): "新增人员(&N)" starts a new
// person, saved with "保存人员(&S)".
class w_sb_jlry : public w_sb_candidate {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_sb_jlry(Session& session);
};

}  // namespace shenbao
