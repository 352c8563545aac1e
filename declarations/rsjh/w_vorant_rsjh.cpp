#include "declarations/rsjh/w_vorant_rsjh.h"

#include "framework/declaration/declaration.h"
#include "framework/host/host_functions.h"
#include "framework/host/messages.h"
#include "framework/host/structures.h"

namespace shenbao {
namespace {

// Each planned count of the unit form and its issued twin, which follows the entry.
struct PlannedCount {
  const char* planned;
  const char* issued;
};

constexpr PlannedCount kPlannedCounts[] = {
    {"az_jzgb", "az_xd_jzgb"},   {"az_tysb", "az_xd_tysb"}, {"az_ydy", "az_xd_ydy"},   {"az_cjr", "az_xd_cjr"},
    {"zl_gwy", "zl_xd_gwy"},     {"zl_xzfs", "zl_xd_xzfs"}, {"zl_sygb", "zl_xd_sygb"}, {"zl_sygr", "zl_xd_sygr"},
    {"tp_tr_zr", "tp_xd_tr_zr"}, {"tp_sygb", "tp_xd_sygb"}, {"tp_sygr", "tp_xd_sygr"},
};

constexpr const char* kStaffingQuestion = "单位申报信息已改变，您是否要保存？";

// The establishment (编制总人数) against the unit's workers in service and the persons the plan
// adds; and where the staffing figures (编制情况申报) give a kind's head count, that kind's
// establishment against its head count and the planned persons of its kind (占编性质).
constexpr const char* kEstablishmentLimits =
    "select '编制总人数', c.bz_mans, (select count(*) from rs_main m where m.company_num = :com and "
    "m.stuff_status = '01') + (select count(*) from rs_w00034 w where w.pkid = :id and w.company_num = :com), 0 "
    "from rs_w00034_com c where c.pkid = :id and c.company_num = :com "
    "union all select k.what, case when k.head_count is null then null else k.approved end, "
    "k.head_count + (select count(*) from rs_w00034 w where w.pkid = :id and w.company_num = :com and w.zbxz = k.code), "
    "k.ord from ("
    "select '行政编制' as what, '1' as code, xzbz_mans as approved, ry_xz_num as head_count, 1 as ord from rs_w00034_com "
    "where pkid = :id and company_num = :com "
    "union all select '行政附属编制', '2', fsbz_mans, ry_fs_num, 2 from rs_w00034_com where pkid = :id and company_num = :com "
    "union all select '全额拨款事业编制', '3', bz_qe_num, ry_qe_num, 3 from rs_w00034_com "
    "where pkid = :id and company_num = :com "
    "union all select '差额拨款事业编制', '4', bz_ce_num, ry_ce_num, 4 from rs_w00034_com "
    "where pkid = :id and company_num = :com "
    "union all select '自收自支事业编制', '5', bz_zz_num, ry_zz_num, 5 from rs_w00034_com "
    "where pkid = :id and company_num = :com) k "
    "order by 4";

}  // namespace

const CategoryDescriptor& w_vorant_rsjh::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_vorant_rsjh",
      .caption = "增人计划",
      .unit_table = "rs_w00034_com",
      .worker_table = "rs_w00034",
      .unit_form = "d_rsjh_company_form",
      .worker_form = "d_rsjh_worker_form",
      .company_copies = {"company_property", "now_mans", "bz_mans", "xzbz_mans", "fsbz_mans"},
      // Typing narrows the title and education lists; every list checks what is accepted.
      .drop_downs = {{"sex", nullptr, nullptr, "sex_code"},
                     {"nj_dwxz", nullptr, nullptr, "dwxz"},
                     {"nj_rysf", nullptr, nullptr, "grsf"},
                     {"first_degree", "wenhua_code", "wenhua_name", "wenhua_code"},
                     {"title", "title_code", "title_name", "title_code"},
                     {"xuewei", nullptr, nullptr, "xuewei"},
                     {"zbxz", nullptr, nullptr, "code"}},
      .required = {{"worker_name", "姓名不能为空！"}, {"sex", "性别必须指定！"}, {"birthday", "出生年月必须指定！"}},
      .required_title = "系统提示",
      .print = PrintButton{"pb_7", "打印预览(&P)", "w_zrjh_print"},
      .adds_register_workers = false,
      .numbers_new_persons = true,
      .limits = kEstablishmentLimits,
      .functions = {"wf_getcompanyinfo", "wf_retrieve", "uf_all", "pfc_save", "uf_approve", "wf_rystate",
                    "uf_getworkercode"},
  };
  return kDescriptor;
}

w_vorant_rsjh::w_vorant_rsjh(Session& session) : sb1(session, descriptor()) {
  add_write_button("pb_6", "增加人员(&A)", 96, DeclarationChange::Edit, [this] { pb_6_clicked(); });
  // Beside the date range, above the unit form it belongs to.
  Control& staffing =
      add_write_button("pb_8", "编制情况申报(&B)", 120, DeclarationChange::Edit, [this] { pb_8_clicked(); });
  staffing.x = 640;
  staffing.y = 6;
  arrange_buttons({}, {"pb_6", "pb_7"});
  // As the host calls it: 0 when the unit's figures were copied, -1 when the unit is unknown.
  define_function("wf_getcompanyinfo", [this](const std::vector<std::string>&) -> Result<Value> {
    wf_getcompanyinfo();
    return Value(unit_master_data_found() ? 0 : -1);
  });
}

int w_vorant_rsjh::dw_3_itemchanged(long row, const std::string& column, const std::string& data,
                                    const Value& value) {
  const int ancestor = sb1::dw_3_itemchanged(row, column, data, value);
  for (const PlannedCount& count : kPlannedCounts) {
    if (column != count.planned) continue;
    dw_3().store().setitem(row, count.issued, value);
    return ancestor;
  }
  return ancestor;
}

void w_vorant_rsjh::dw_4_constructor() {
  sb1::dw_4_constructor();
  idwc_sex = drop_down_list("sex");
  idwc_dwxz = drop_down_list("nj_dwxz");
  idwc_grsf = drop_down_list("nj_rysf");
  idwc_xueli = drop_down_list("first_degree");
  idwc_title = drop_down_list("title");
  idwc_xuewei = drop_down_list("xuewei");
  idwc_zbxz = drop_down_list("zbxz");
}

int w_vorant_rsjh::wf_rystate() {
  const int marked = sb1::wf_rystate();
  // The person-status list is read again for the unit's nature; the list takes no argument,
  // so it holds every status.
  std::vector<Value> nature;
  session().sqlca().select_into("select company_property from rs_info_company where company_num = :com",
                                {Value(company_num)}, nature);
  if (idwc_grsf) idwc_grsf->retrieve();
  return marked;
}

int w_vorant_rsjh::wf_retrieve() {
  sb1::wf_retrieve();
  // The worker list of this category is the declaration's own people; the first is shown.
  if (list_people() < 0) return -1;
  if (dw_2().store().rowcount() > 0) dw_2().select_row(1);
  return 0;
}

int w_vorant_rsjh::list_people() {
  Transaction& sqlca = session().sqlca();
  const std::string sql = "select worker_code, worker_name, '申报' as status from rs_" + is_index +
                          " where pkid = :id and company_num = :com order by worker_code";
  std::string error;
  std::string syntax = syntax_from_sql(sqlca, sql, "style(type=grid)", error);
  DataStore people;
  if (error.empty()) {
    // The statement's host variables are the grid's retrieval arguments.
    const size_t table_end = syntax.find('\n', syntax.find("table("));
    syntax.insert(table_end + 1, "argument(name=id type=char(10))\nargument(name=com type=char(20))\n");
    error = people.create(syntax);
  }
  if (error.empty()) {
    people.settransobject(&sqlca);
    if (people.retrieve({Value(pkid), Value(company_num)}) < 0) error = people.last_error();
  }
  if (!error.empty()) {
    session().message_box("提示", "取人员申报信息失败！", Icon::StopSign);
    return -1;
  }
  DataStore& list = dw_2().store();
  list.reset();
  if (people.rowcount() > 0) people.rowscopy(1, people.rowcount(), Buffer::Primary, list, 1, Buffer::Primary);
  list.reset_update_flags();
  return 0;
}

int w_vorant_rsjh::save_worker() {
  const int saved = sb1::save_worker();
  if (saved <= 0) return saved;
  // The person saved stands in the list, current, and stays on screen.
  const Value code = dw_4().store().getitem(1, "worker_code");
  if (list_people() == 0) {
    if (const long row = dw_2().store().find_value("worker_code", code); row > 0) dw_2().store().setrow(row);
  }
  return saved;
}

void w_vorant_rsjh::pb_del_clicked() {
  sb1::pb_del_clicked();
  list_people();
}

void w_vorant_rsjh::pb_6_clicked() {
  if (lacks_declaration()) return;
  DataStore& worker = dw_4().store();
  worker.accepttext();
  if (worker.modifiedcount() > 0 &&
      session().message_box("提示", "该人员人事计划信息已修改！", Icon::Question, Buttons::YesNo) == 1) {
    if (save_worker() < 0) return;
  }
  worker.reset();
  const long row = worker.insertrow(0);
  // The number shown is provisional: the person is numbered for good when first saved.
  const std::string code = uf_getworkercode();
  if (code.empty()) return;
  worker.setitem(row, "pkid", Value(pkid));
  worker.setitem(row, "company_num", Value(company_num));
  worker.setitem(row, "worker_code", Value(code));
  worker.setitem(row, "state", Value(0));
  uf_all("");
  dw_4().setfocus();
  dw_4().setcolumn("worker_name");
}

void w_vorant_rsjh::pb_8_clicked() {
  // A save the user asked for that fails keeps him here, with his entries on screen.
  if (!leave_unit_form(*this, kStaffingQuestion)) return;
  session().message.powerobjectparm = s_com{company_num, pkid};
  session().open_modal("w_zrjh_edit");
  // The figures maintained there show in the unit form.
  dw_3().store().retrieve({Value(pkid), Value(company_num)});
}

int w_vorant_rsjh::uf_approve(int ai_state) {
  if (sb1::uf_approve(ai_state) < 0) return -1;
  Transaction& sqlca = session().sqlca();
  // Two acceptances for one unit take turns from here to their commit: the unit's register
  // row is locked before its highest register number is read.
  if (sqlca.execute("update rs_info_company set company_num = company_num where company_num = :com",
                    {Value(company_num)}) < 0)
    return -1;
  std::vector<Value> planned;
  if (sqlca.select_into("select count(*) from rs_w00034 where pkid = :id and company_num = :com",
                        {Value(pkid), Value(company_num)}, planned) != 0)
    return -1;
  const long persons = planned[0].as_long();
  const std::string first = shenbao::uf_getworkercode(sqlca, company_num);
  if (first.size() < 6) {
    if (sqlca.sqlerrtext.empty()) sqlca.sqlerrtext = host_message_text(HostMessage::NumberLimit);
    return -1;
  }
  const long n = std::stol(first.substr(first.size() - 6));
  if (persons == 0) return 0;
  // Every person gets a number or none does.
  if (provisional_worker_code(n + persons - 1).empty()) {
    sqlca.sqlerrtext = host_message_text(HostMessage::NumberLimit);
    return -1;
  }
  // One statement creates them all, numbered from n in the order of their provisional numbers
  // (the order the authority's list shows): "9" and six digits, the digits cut from 1000000 + the
  // sequence so that both databases pad them alike.
  const std::string register_birthday = sql_register_date(sqlca, "birthday");
  if (sqlca.execute("insert into rs_main (company_num, book_code, worker_code, worker_name, card_no, sex, "
                    "first_degree, birthday, csny) "
                    "select company_num, company_num, "
                    "'9' || substr(cast(:base + row_number() over (order by worker_code) as text), 2), "
                    "worker_name, card_no, sex, first_degree, " +
                        register_birthday +
                        ", birthday from rs_w00034 where pkid = :id and company_num = :com",
                    {Value(1000000 + n - 1), Value(pkid), Value(company_num)}) < 0)
    return -1;
  return 0;
}

}  // namespace shenbao
