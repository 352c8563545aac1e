#include "declarations/cj/w_vorant_cj.h"

#include <array>

#include "framework/declaration/declaration.h"
#include "framework/host/messages.h"

namespace shenbao {
namespace {

// The kinds the unit form counts: the punishment code and the column of its count. A code
// not listed is counted nowhere.
struct PunishmentKind {
  const char* code;
  const char* column;
};

constexpr std::array<PunishmentKind, 12> kKinds{{
    {"50", "djcf_jg"},
    {"51", "djcf_yzjg"},
    {"57", "djcf_cxzw"},
    {"58", "djcf_ldck"},
    {"59", "djcf_kcdj"},
    {"61", "gwycf_jg"},
    {"62", "gwycf_jig"},
    {"63", "gwycf_jdg"},
    {"64", "gwycf_jj"},
    {"65", "gwycf_cz"},
    {"66", "gwycf_kc"},
    {"90", "qtcf"},
}};

// Expulsion from public service: the person leaves the register's service.
constexpr const char* kExpulsion = "66";

// The row of a code list holding `code`, shown or narrowed away; 0 when none.
std::pair<long, Buffer> find_code(const DataStore& list, const char* column, const std::string& code) {
  if (const long row = list.find_value(column, Value(code)); row > 0) return {row, Buffer::Primary};
  for (long row = 1; row <= list.filteredcount(); ++row) {
    if (list.getitem(row, column, Buffer::Filter).to_string() == code) return {row, Buffer::Filter};
  }
  return {0, Buffer::Primary};
}

}  // namespace

const CategoryDescriptor& w_vorant_cj::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_vorant_cj",
      .caption = "公务员惩戒",
      .unit_table = "rs_w00029_com",
      .worker_table = "rs_w00029",
      .unit_form = "d_cj_company_form",
      .worker_form = "d_cj_worker_form",
      .worker_list = "d_worker_list_cj",
      .company_copies = {"now_mans"},
      .worker_copies = {{"sex", "sex"}, {"card_no", "card_no"}},
      .drop_downs = {{"punish_name", "punish_code", "punish_name", "punish_code"},
                     {"punish_reason", "punishreason_code", "punishreason_name", "punishreason_code"}},
      .required = {{"punish_date", "请输入处分时间!"}, {"punish_name", "请输入处分名称!"}},
      .functions = {"wf_getcompanyinfo", "uf_getworkerinfo", "uf_all", "pfc_save", "uf_approve", "wf_rystate"},
  };
  return kDescriptor;
}

w_vorant_cj::w_vorant_cj(Session& session) : sb1(session, descriptor()) {
  add_write_button("pb_6", "统计(&T)", 96, DeclarationChange::Edit, [this] { pb_6_clicked(); });
}

void w_vorant_cj::dw_4_constructor() {
  sb1::dw_4_constructor();
  idwc_name = drop_down_list("punish_name");
  idwc_reason = drop_down_list("punish_reason");
}

int w_vorant_cj::dw_4_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) {
  const int ancestor = sb1::dw_4_itemchanged(row, column, data, value);
  if (ancestor == 1) return ancestor;
  if (column == "punish_date" || column == "rescind_date") return check_rescission(row, column, value);
  if (column != "punish_name") return ancestor;
  // The punishment's category goes beside it.
  std::string category;
  if (!data.empty() && idwc_name) {
    const auto [found, buffer] = find_code(*idwc_name, "punish_code", data);
    if (found > 0) category = idwc_name->getitem(found, "class1_name", buffer).to_string();
  }
  dw_4().store().setitem(row, "cf_type", Value(category));
  return ancestor;
}

int w_vorant_cj::check_rescission(long row, const std::string& column, const Value& value) {
  // A punishment is rescinded on or after the day it was given.
  const Value other = dw_4().store().getitem(row, column == "punish_date" ? "rescind_date" : "punish_date");
  if (value.is_null() || other.is_null()) return 0;
  const Value& punished = column == "punish_date" ? value : other;
  const Value& rescinded = column == "punish_date" ? other : value;
  if (!(rescinded.as_datetime() < punished.as_datetime())) return 0;
  dw_4().refuse_entry("解除处分时间不能早于处分时间！");
  return 1;
}

void w_vorant_cj::pb_6_clicked() {
  if (pkid.find_first_not_of(" \t") == std::string::npos) return;
  DataStore& unit = dw_3().store();
  if (unit.rowcount() == 0) return;
  session().set_pointer_hourglass(true);
  DataStore lds_workers;
  lds_workers.set_dataobject("d_cj_worker_list");
  lds_workers.settransobject(&session().sqlca());
  if (lds_workers.retrieve({Value(pkid), Value(company_num)}) < 0) {
    session().set_pointer_hourglass(false);
    return;
  }
  std::array<long, kKinds.size()> counts{};
  for (long r = 1; r <= lds_workers.rowcount(); ++r) {
    const std::string code = lds_workers.getitemstring(r, "punish_name");
    for (size_t k = 0; k < kKinds.size(); ++k) {
      if (code == kKinds[k].code) {
        ++counts[k];
        break;
      }
    }
  }
  for (size_t k = 0; k < kKinds.size(); ++k) unit.setitem(1, kKinds[k].column, Value(counts[k]));
  const auto refused = record().save_unit(unit, pkid, author());
  session().set_pointer_hourglass(false);
  if (refused) {
    // Rolled back: the counts stay on screen as unsaved changes, and the user is told so.
    report_save_refusal(*refused);
    return;
  }
  session().set_status(kSavedStatus);
}

int w_vorant_cj::uf_approve(int ai_state) {
  sb1::uf_approve(ai_state);
  Transaction& sqlca = session().sqlca();
  const std::vector<Value> declaration{Value(pkid), Value(company_num)};
  // Every punishment into the register's punishment records: dates as register texts, and
  // unchanged beside them.
  sqlca.execute("insert into rs_sub_punish (company_num, worker_code, book_code, punish_name, punish_reason, "
                "punish_date, cfsj, rescind_date, jccfsj) select company_num, worker_code, company_num, punish_name, "
                "punish_reason, " +
                    sql_register_date(sqlca, "punish_date") + ", punish_date, " +
                    sql_register_date(sqlca, "rescind_date") +
                    ", rescind_date from rs_w00029 where pkid = :id and company_num = :com",
                declaration);
  if (sqlca.sqlcode < 0) return -1;
  // Whoever is expelled from public service has left, on the day of the punishment.
  sqlca.execute("update rs_main as a set a_vc1 = '84', a_vc2 = " + sql_register_date(sqlca, "b.punish_date") +
                    ", a_date1 = " + sql_day(sqlca, "b.punish_date") +
                    ", stuff_status = '05' from rs_w00029 as b where b.pkid = :id and b.company_num = :com "
                    "and b.punish_name = :code and a.company_num = b.company_num and a.worker_code = b.worker_code",
                {Value(pkid), Value(company_num), Value(kExpulsion)});
  if (sqlca.sqlcode < 0) return -1;
  return 0;
}

}  // namespace shenbao
