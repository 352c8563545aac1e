#include "declarations/jl/w_vorant_jl_szf.h"

namespace shenbao {

const CategoryDescriptor& w_vorant_jl_szf::descriptor() {
  static const CategoryDescriptor kDescriptor = reward_descriptor({
      .class_name = "w_vorant_jl_szf",
      .caption = "省政府奖励申报",
      .unit_table = "rs_w00042_com",
      .unit_form = "d_jl_company_szf_form",
      .print = PrintButton{"pb_6", "打印预览(&P)", "w_jl_szf_print"},
  });
  return kDescriptor;
}

}  // namespace shenbao
