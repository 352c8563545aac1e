#include "declarations/departure/w_vorant_ct.h"

#include "framework/declaration/declaration.h"
#include "framework/host/host_functions.h"

namespace shenbao {
namespace {

constexpr DepartureMarks kDismissal{"ct_date", "05", "85"};

}  // namespace

const CategoryDescriptor& w_vorant_ct::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_vorant_ct",
      .caption = "公务员辞退",
      .unit_table = "rs_w00044_com",
      .worker_table = "rs_w00044",
      .unit_form = "d_ct_company_form",
      .worker_form = "d_ct_worker_form",
      .worker_list = "d_worker_list_out",
      .worker_copies = {{"sex", "sex"}, {"card_no", "card_no"}, {"post_1", "post"}},
      .required = {{"ct_date", "辞退时间不能为空！"}},
      .functions = {"wf_getcompanyinfo", "uf_getworkerinfo", "uf_all", "pfc_save", "uf_approve", "wf_rystate"},
  };
  return kDescriptor;
}

w_vorant_ct::w_vorant_ct(Session& session) : w_vorant_departure(session, descriptor(), kDismissal) {}

void w_vorant_ct::dw_4_constructor() {
  w_vorant_departure::dw_4_constructor();
  // The reason is checked against its list when entered; the list is not narrowed by typing.
  idw_ctyy = bind_drop_down(dw_4(), "ct_reason");
}

int w_vorant_ct::dw_4_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) {
  const int ancestor = w_vorant_departure::dw_4_itemchanged(row, column, data, value);
  if (column == "ct_reason" && of_check_in_dddw(idw_ctyy, data, "ctyy") == -1) return 1;
  return ancestor;
}

}  // namespace shenbao
