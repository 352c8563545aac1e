#include "declarations/zw/w_vorant_zw.h"

namespace shenbao {
namespace {

// The four post classes and the columns of their counts in the unit form.
struct PostClass {
  const char* rank;  // the rank code whose holders the class counts
  const char* increase;
  const char* decrease;
  const char* current;
  const char* adjusted;
};

constexpr PostClass kPostClasses[] = {
    {"9", "zs_xcz_add", "zs_xcz_js", "zs_xy_xcz", "zs_tz_xcz"},
    {"11", "zs_xcf_add", "zs_xcf_js", "zs_xy_xcf", "zs_tz_xcf"},
    {"10", "zs_dy_add", "zs_dy_js", "zs_xy_dy", "zs_tz_dy"},
    {"12", "zs_fdy_add", "zs_fdy_js", "zs_xy_fdy", "zs_tz_fdy"},
};

// Each post class's approved number (核定职数) against the unit's workers in service holding its
// rank after the acceptance, counted as the unit form counts them: the register's count by rank
// (people_standing 5), with the declaration's workers moved from their rank to the proposed one
// (one pass over them, whatever the number of classes).
constexpr const char* kPostLimits =
    "with moved as (select "
    "sum(case when w.ndjb = '9' then 1 else 0 end) - sum(case when m.jb = '9' then 1 else 0 end) as xcz, "
    "sum(case when w.ndjb = '11' then 1 else 0 end) - sum(case when m.jb = '11' then 1 else 0 end) as xcf, "
    "sum(case when w.ndjb = '10' then 1 else 0 end) - sum(case when m.jb = '10' then 1 else 0 end) as dy, "
    "sum(case when w.ndjb = '12' then 1 else 0 end) - sum(case when m.jb = '12' then 1 else 0 end) as fdy "
    "from rs_w00031 w join rs_main m on m.company_num = w.company_num and m.worker_code = w.worker_code "
    "where w.pkid = :id and w.company_num = :com and m.stuff_status = '01' and m.people_standing = '5'), "
    "held as (select jb, count(*) as n from rs_main where company_num = :com and stuff_status = '01' "
    "and people_standing = '5' and jb in ('9', '10', '11', '12') group by jb) "
    "select '县处级正职', u.zs_hd_xcz, coalesce((select n from held where jb = '9'), 0) + coalesce(d.xcz, 0), 1 "
    "from rs_w00031_com u, moved d where u.pkid = :id and u.company_num = :com "
    "union all select '县处级副职', u.zs_hd_xcf, coalesce((select n from held where jb = '11'), 0) + coalesce(d.xcf, 0), 2 "
    "from rs_w00031_com u, moved d where u.pkid = :id and u.company_num = :com "
    "union all select '调研员', u.zs_hd_dy, coalesce((select n from held where jb = '10'), 0) + coalesce(d.dy, 0), 3 "
    "from rs_w00031_com u, moved d where u.pkid = :id and u.company_num = :com "
    "union all select '副调研员', u.zs_hd_fdy, coalesce((select n from held where jb = '12'), 0) + coalesce(d.fdy, 0), 4 "
    "from rs_w00031_com u, moved d where u.pkid = :id and u.company_num = :com "
    "order by 4";

}  // namespace

const CategoryDescriptor& w_vorant_zw::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_vorant_zw",
      .caption = "职位职数上报",
      .unit_table = "rs_w00031_com",
      .worker_table = "rs_w00031",
      .unit_form = "d_zw_company_form",
      .worker_form = "d_zw_worker_form",
      .company_copies = {"now_mans", "xzbz_mans", "fsbz_mans"},
      .worker_copies = {{"sex", "sex"},
                        {"card_no", "card_no"},
                        {"birthday", "birthday"},
                        {"people_standing", "people_standing"},
                        {"post_1", "yzw"},
                        {"jb", "yjb"}},
      .department_name_to = "ybm",
      .drop_downs = {{"ndzw", "zhiwu_code", "zhiwu_name", "zhiwu_code"}, {"ndjb", "jb", "jb_name", "jb"}},
      .required = {{"yrzsj", "原任职时间不能为空！"}, {"ndzw", "拟定职务不能为空！"}, {"ndjb", "拟定级别不能为空！"}},
      .print = PrintButton{"pb_6", "打印预览(&P)", "w_zwzs_print"},
      .limits = kPostLimits,
      .functions = {"wf_getcompanyinfo", "uf_getworkerinfo", "uf_all", "pfc_save", "uf_approve", "wf_rystate",
                     "uf_getworkercode"},
  };
  return kDescriptor;
}

w_vorant_zw::w_vorant_zw(Session& session) : sb1(session, descriptor()) {}

void w_vorant_zw::wf_getcompanyinfo() {
  sb1::wf_getcompanyinfo();
  // The increase and decrease start at 0, so that each adjusted count shows at once.
  DataStore& unit = dw_3().store();
  for (const PostClass& post_class : kPostClasses) {
    unit.setitem(1, post_class.increase, Value(0));
    unit.setitem(1, post_class.decrease, Value(0));
  }
  if (!unit_master_data_found()) return;
  DataStore lds_jb;
  lds_jb.set_dataobject("d_ry_jb_list");
  lds_jb.settransobject(&session().sqlca());
  lds_jb.retrieve({Value(company_num)});
  for (long r = 1; r <= lds_jb.rowcount(); ++r) {
    const std::string rank = lds_jb.getitemstring(r, "jb");
    for (const PostClass& post_class : kPostClasses) {
      if (rank != post_class.rank) continue;
      unit.setitem(1, post_class.current, lds_jb.getitem(r, "l_count"));
      unit.setitem(1, post_class.adjusted, lds_jb.getitem(r, "l_count"));
    }
  }
}

int w_vorant_zw::dw_3_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) {
  const int ancestor = sb1::dw_3_itemchanged(row, column, data, value);
  DataStore& unit = dw_3().store();
  for (const PostClass& post_class : kPostClasses) {
    // The adjusted count follows its class's increase, decrease and current count; the new
    // value stands in for the column being changed.
    auto operand = [&](const char* name) { return column == name ? value : unit.getitem(row, name); };
    if (column != post_class.increase && column != post_class.decrease && column != post_class.current) continue;
    const Value add = operand(post_class.increase);
    const Value dec = operand(post_class.decrease);
    const Value cur = operand(post_class.current);
    if (add.is_null() || dec.is_null() || cur.is_null()) {
      unit.setitem(row, post_class.adjusted, Value());
      return 0;
    }
    long long result = 0;
    if (__builtin_add_overflow(cur.as_long(), add.as_long(), &result) ||
        __builtin_sub_overflow(result, dec.as_long(), &result) || result < 0) {
      dw_3().refuse_entry("调整后实有数不能小于0");  // below zero, or beyond any count
      return 1;
    }
    unit.setitem(row, post_class.adjusted, Value(result));
    return 0;
  }
  return ancestor;
}

void w_vorant_zw::dw_4_constructor() {
  sb1::dw_4_constructor();
  idwc_6 = drop_down_list("ndzw");
  idwc_jb = drop_down_list("ndjb");
}

int w_vorant_zw::uf_approve(int ai_state) {
  sb1::uf_approve(ai_state);
  session().sqlca().execute(
      "update rs_main as a set post = b.ndzw, jb = b.ndjb from rs_w00031 as b "
      "where b.pkid = :id and b.company_num = :com and a.company_num = b.company_num "
      "and a.worker_code = b.worker_code",
      {Value(pkid), Value(company_num)});
  return session().sqlca().sqlcode < 0 ? -1 : 0;
}

}  // namespace shenbao
