#include "declarations/jl/reward_kind.h"

#include <string_view>

namespace shenbao {

CategoryDescriptor reward_descriptor(const RewardKind& kind) {
  static constexpr const char* kUnitTables[] = {"rs_w00041_com", "rs_w00042_com", "rs_w00033_com"};
  CategoryDescriptor descriptor{
      .class_name = kind.class_name,
      .caption = kind.caption,
      .unit_table = kind.unit_table,
      .worker_table = "rs_w00033",
      .unit_form = kind.unit_form,
      .worker_form = "d_jl_worker_form",
      .worker_list = kind.worker_list,
      .worker_copies = kind.worker_copies,
      .drop_downs = {{"sex", "sex_code", "sex_name", "sex_code"},
                     {"post", "zhiwu_code", "zhiwu_name", "zhiwu_code"},
                     {"jl_name", "jl_code", "jl_name", "jl_code"},
                     {"jl_gg", "dictvalue", "description", "dictvalue"}},
      .print = kind.print,
      .functions = kind.functions,
  };
  for (const char* table : kUnitTables) {
    if (std::string_view(table) != kind.unit_table) descriptor.unit_tables_sharing_workers.push_back(table);
  }
  return descriptor;
}

int w_vorant_reward::wf_rystate() { return 0; }

}  // namespace shenbao
