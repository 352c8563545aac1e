#include "declarations/jl/w_sb_sjjt.h"

#include "framework/host/messages.h"

namespace shenbao {
namespace {

constexpr CandidateKind kUnits{
    .name_column = "hx_company",
    .new_button = "新增候选单位(&N)",
    .changed_question = "该候选单位信息已修改！",
    .list_failed = "取候选单位信息失败！",
    .resets_code_lists = false,
};

}  // namespace

const CategoryDescriptor& w_sb_sjjt::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_sb_sjjt",
      .caption = "候选单位申报",
      .unit_table = "rs_w00047_com",
      .worker_table = "rs_w00047",
      .unit_form = "d_sb_sjjt",
      .worker_form = "d_sb_sjjtry",
      .worker_list = "d_worker_list_1",
      .drop_downs = {{"jl_name", "jl_code", "jl_name", "jl_code"}},
      .required = {{"hx_company", "请输入候选单位名称！"}},
      .adds_register_workers = false,
      .numbers_new_persons = true,
      .functions = {"wf_rystate", "uf_getworkercode"},
  };
  return kDescriptor;
}

w_sb_sjjt::w_sb_sjjt(Session& session) : w_sb_candidate(session, descriptor(), kUnits) {
  add_write_button("pb_22", "保存候选单位(&S)", 120, DeclarationChange::Edit, [this] { pb_22_clicked(); });
}

long w_sb_sjjt::pb_22_clicked() {
  if (lacks_declaration()) return -1;
  DataStore& candidate = dw_4().store();
  candidate.accepttext();
  if (candidate.rowcount() == 0 || candidate.modifiedcount() == 0) return 0;
  if (pfc_save() < 0) return -1;
  if (auto refused = record().save_worker(candidate, pkid, company_num, author())) {
    report_write_refusal(session(), *refused, "保存候选单位信息失败！");
    return -1;
  }
  // The number it was stored under, which another session may have taken meanwhile.
  const Value code = candidate.getitem(1, "worker_code");
  session().message_box("提示", "保存候选单位信息成功！");
  if (wf_rystate() == 0) {
    if (const long row = dw_2().store().find_value("worker_code", code); row > 0) dw_2().select_row(row);
  }
  return 1;
}

}  // namespace shenbao
