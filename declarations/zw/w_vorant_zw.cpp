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

// The typed text read as the count column will store it (blanks around it ignored), or null
// when it is empty or not a whole number.
Value as_integer(const std::string& data) {
  std::string not_a_number;
  return parse_entry(ColumnType{TypeKind::Long}, data, not_a_number).value_or(Value());
}

}  // namespace

w_vorant_zw::w_vorant_zw(Session& session)
    : sb1(session, {"w_vorant_zw", "职位职数上报", "w00031", "rs_w00031_com", "d_zw_company_form",
                    "d_zw_worker_form"}) {
  add_control(ControlKind::Button, "pb_6", "打印预览(&P)", 0, 0, 96, 28).clicked = [this] { pb_6_clicked(); };
}

void w_vorant_zw::wf_getcompanyinfo() {
  sb1::wf_getcompanyinfo();
  if (!copy_company_info(*this, {"now_mans", "xzbz_mans", "fsbz_mans"})) return;
  DataStore lds_jb;
  lds_jb.set_dataobject("d_ry_jb_list");
  lds_jb.settransobject(&session().sqlca());
  lds_jb.retrieve({Value(company_num)});
  DataStore& unit = dw_3().store();
  for (long r = 1; r <= lds_jb.rowcount(); ++r) {
    const std::string rank = lds_jb.getitemstring(r, "jb");
    for (const PostClass& post_class : kPostClasses) {
      if (rank != post_class.rank) continue;
      unit.setitem(1, post_class.current, lds_jb.getitem(r, "l_count"));
      unit.setitem(1, post_class.adjusted, lds_jb.getitem(r, "l_count"));
    }
  }
}

int w_vorant_zw::dw_3_itemchanged(long row, const std::string& column, const std::string& data) {
  const int ancestor = sb1::dw_3_itemchanged(row, column, data);
  DataStore& unit = dw_3().store();
  for (const PostClass& post_class : kPostClasses) {
    const bool increase = column == post_class.increase;
    if (!increase && column != post_class.decrease) continue;
    const Value add = increase ? as_integer(data) : unit.getitem(row, post_class.increase);
    const Value dec = increase ? unit.getitem(row, post_class.decrease) : as_integer(data);
    const Value cur = unit.getitem(row, post_class.current);
    if (add.is_null() || dec.is_null() || cur.is_null()) {
      unit.setitem(row, post_class.adjusted, Value());
      return 0;
    }
    long long result = 0;
    if (__builtin_add_overflow(cur.as_long(), add.as_long(), &result) ||
        __builtin_sub_overflow(result, dec.as_long(), &result) || result < 0)
      return 1;  // below zero, or beyond any count
    unit.setitem(row, post_class.adjusted, Value(result));
    return 0;
  }
  return ancestor;
}

int w_vorant_zw::uf_getworkerinfo(const std::string& worker_code) {
  sb1::uf_getworkerinfo(worker_code);
  return copy_worker_info(*this, worker_code,
                          {{"sex", "sex"},
                           {"card_no", "card_no"},
                           {"birthday", "birthday"},
                           {"people_standing", "people_standing"},
                           {"post_1", "yzw"},
                           {"jb", "yjb"}},
                          "ybm");
}

void w_vorant_zw::dw_4_constructor() {
  sb1::dw_4_constructor();
  drop_downs_ = {{"ndzw", "zhiwu_code", "zhiwu_name", "zhiwu_code"}, {"ndjb", "jb", "jb_name", "jb"}};
  bind_drop_downs(dw_4(), drop_downs_);
  idwc_6 = drop_downs_[0].list;
  idwc_jb = drop_downs_[1].list;
}

void w_vorant_zw::dw_4_editchanged(long row, const std::string& column, const std::string& data) {
  sb1::dw_4_editchanged(row, column, data);
  narrow_drop_down(drop_downs_, column, data);
}

int w_vorant_zw::dw_4_itemchanged(long row, const std::string& column, const std::string& data) {
  const int ancestor = sb1::dw_4_itemchanged(row, column, data);
  if (check_drop_down(drop_downs_, column, data) == 1) return 1;
  return ancestor;
}

void w_vorant_zw::uf_all(const std::string& data) {
  sb1::uf_all(data);
  narrow_all(drop_downs_, data);
}

int w_vorant_zw::pfc_save() {
  if (sb1::pfc_save() < 0) return -1;
  return check_required(*this, {{"yrzsj", "原任职时间不能为空！"},
                                {"ndzw", "拟定职务不能为空！"},
                                {"ndjb", "拟定级别不能为空！"}});
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

void w_vorant_zw::pb_6_clicked() { open_print_window(*this, "w_zwzs_print"); }

void w_vorant_zw::resize(int new_width, int new_height) {
  sb1::resize(new_width, new_height);
  Control& print = *control("pb_6");
  const Control& save_worker = *control("pb_2");
  print.y = save_worker.y;
  print.x = save_worker.x - print.width - 20;
}

}  // namespace shenbao
