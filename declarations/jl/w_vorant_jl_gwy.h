#pragma once

#include "declarations/jl/reward_kind.h"
#include "framework/host/period.h"

namespace shenbao {

// Civil-servant reward declaration ("公务员奖励"): the declaration's rewarded workers are
// extracted from the register's reward records for a period ("提取人员信息(&A)": the earliest
// reward of the period per worker of the unit), or added by hand with their sex and identity
// card number; the worker list marks every worker of the unit "申报" or "未申报"; acceptance
// writes the named rewards into the workers' reward records (rs_sub_jl_2).
class w_vorant_jl_gwy : public sb1 {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_jl_gwy(Session& session);

  int uf_approve(int ai_state) override;
  int wf_rystate() override;

  // "提取人员信息(&A)": replaces the declaration's worker rows by those extracted for a period,
  // in one transaction. -1 when refused or failed, else 0 (also when the user gave up).
  virtual long pb_6_clicked();
  long uf_getdata() { return pb_6_clicked(); }

  // The new worker rows for the period, written uncommitted: one per worker of the unit who
  // is in the register and has a reward in the period, from his earliest reward there.
  // How many, or -1 when the workers cannot be read or the rows cannot be written.
  long extract_rewards(const ExtractionPeriod& period);
};

}  // namespace shenbao
