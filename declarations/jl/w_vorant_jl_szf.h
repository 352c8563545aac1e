#pragma once

#include "declarations/jl/reward_kind.h"

namespace shenbao {

// Provincial-government reward declaration ("省政府奖励申报表"): the provincial-system kind
// with the reward's name (jl_mc) on its unit form and its own application print.
class w_vorant_jl_szf : public w_vorant_reward {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_jl_szf(Session& session) : w_vorant_reward(session, descriptor()) {}
};

}  // namespace shenbao
