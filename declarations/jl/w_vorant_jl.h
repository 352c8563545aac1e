#pragma once

#include "declarations/jl/reward_kind.h"

namespace shenbao {

// Provincial-system reward declaration ("省级系统奖励申报表"): the selection scope, reward methods,
// participants, ratios and quotas of a unit's commendation, its rewarded workers, and the
// two-page application print.
class w_vorant_jl : public w_vorant_reward {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_jl(Session& session) : w_vorant_reward(session, descriptor()) {}
};

}  // namespace shenbao
