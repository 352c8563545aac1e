#include "declarations/jl/w_vorant_jl.h"

namespace shenbao {

const CategoryDescriptor& w_vorant_jl::descriptor() {
  static const CategoryDescriptor kDescriptor = reward_descriptor({
      .class_name = "w_vorant_jl",
      .caption = "省级系统奖励申报",
      .unit_table = "rs_w00041_com",
      .unit_form = "d_jl_company_form",
      .print = PrintButton{"pb_6", "打印预览(&P)", "w_jl_sjxt_print"},
  });
  return kDescriptor;
}

}  // namespace shenbao
