#include "declarations/departure/w_vorant_cz.h"

namespace shenbao {
namespace {

constexpr DepartureMarks kResignation{"cz_date", "04", "86"};

}  // namespace

const CategoryDescriptor& w_vorant_cz::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_vorant_cz",
      .caption = "公务员辞职",
      .unit_table = "rs_w00043_com",
      .worker_table = "rs_w00043",
      .unit_form = "d_cz_company_form",
      .worker_form = "d_cz_worker_form",
      .worker_list = "d_worker_list_out",
      .worker_copies = {{"sex", "sex"}, {"card_no", "card_no"}, {"post_1", "post"}},
      .required = {{"cz_date", "辞职时间不能为空！"}},
      .functions = {"wf_getcompanyinfo", "uf_getworkerinfo", "uf_all", "pfc_save", "uf_approve", "wf_rystate"},
  };
  return kDescriptor;
}

w_vorant_cz::w_vorant_cz(Session& session) : w_vorant_departure(session, descriptor(), kResignation) {}

}  // namespace shenbao
