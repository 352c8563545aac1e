#include "declarations/jl/w_sb_jlry.h"

namespace shenbao {
namespace {

constexpr CandidateKind kPersons{
    .name_column = "worker_name",
    .new_button = "新增人员(&N)",
    .changed_question = "该奖励人员信息已修改！",
    .list_failed = "提取奖励人员信息失败！",
    .resets_code_lists = true,
};

}  // namespace

const CategoryDescriptor& w_sb_jlry::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_sb_jlry",
      .caption = "奖励人员申报",
      .unit_table = "rs_w00046_com",
      .worker_table = "rs_w00046",
      .unit_form = "d_sb_jl",
      .worker_form = "d_sb_jlry",
      .drop_downs = {{"sex", "sex_code", "sex_name", "sex_code"},
                     {"post", "zhiwu_code", "zhiwu_name", "zhiwu_code"},
                     {"jl_name", "jl_code", "jl_name", "jl_code"}},
      .adds_register_workers = false,
      .numbers_new_persons = true,
      .functions = {"wf_rystate", "uf_getworkercode"},
  };
  return kDescriptor;
}

w_sb_jlry::w_sb_jlry(Session& session) : w_sb_candidate(session, descriptor(), kPersons) {}

}  // namespace shenbao
