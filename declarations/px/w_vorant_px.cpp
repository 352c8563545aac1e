#include "declarations/px/w_vorant_px.h"

#include <unordered_map>

#include "framework/declaration/declaration.h"
#include "declarations/px/captions.h"
#include "framework/host/messages.h"
#include "framework/host/structures.h"

namespace shenbao {
namespace {

constexpr const char* kOverwriteQuestion = "人员培训信息已存在，如果重新提取将覆盖该批数据，\r\n您确定要重新提取人员培训信息吗？";
constexpr const char* kExtractionFailed = "提取人员培训信息失败！";

std::string two_digits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

void hide(std::string& s, const std::string& z) {
  s += " " + z + "_t.visible = 0 " + z + ".visible = 0 t_" + z + ".visible = 0";
}

}  // namespace

const CategoryDescriptor& w_vorant_px::descriptor() {
  static const CategoryDescriptor kDescriptor{
      .class_name = "w_vorant_px",
      .caption = "公务员培训",
      .unit_table = "rs_w00028_com",
      .worker_table = "rs_w00028",
      .unit_form = "d_px_company_form",
      .worker_form = "d_px_worker_form",
      .worker_copies = {{"sex", "sex"}, {"card_no", "card_no"}},
      .drop_downs = {{"sex", "sex_code", "sex_name", "sex_code"}, {"over_pxrw", "code", "name", "code"}},
      .print = PrintButton{"pb_7", "打印预览(&P)", "w_px_print"},
      .functions = {"wf_getcompanyinfo", "uf_getworkerinfo", "uf_all", "pfc_save", "wf_rystate"},
  };
  return kDescriptor;
}

w_vorant_px::w_vorant_px(Session& session) : sb1(session, descriptor()) {
  add_write_button("pb_6", "提取人员信息(&A)", 120, DeclarationChange::Edit, [this] { pb_6_clicked(); });
  add_write_button("pb_8", "培训科目维护(&D)", 120, DeclarationChange::Edit, [this] { pb_8_clicked(); });
  // The extraction stands with the declaration buttons; the print and the subjects left of
  // "保存人员(&S)".
  arrange_buttons({"pb_6"}, {"pb_7", "pb_8"});
  dw_1().rowfocuschanged = [this](long row) { dw_1_rowfocuschanged(row); };
  define_function("uf_modify", [this](const std::vector<std::string>&) -> Result<Value> { return Value(uf_modify()); });
  define_function("uf_getdata", [this](const std::vector<std::string>&) -> Result<Value> { return Value(uf_getdata()); });
}

void w_vorant_px::allow_worker_entry(bool allowed) {
  dw_4().store().modify(allowed ? "datawindow.readonly=no" : "datawindow.readonly=yes");
}

void w_vorant_px::pb_16_clicked() {
  if (company_num.empty()) {
    say(session(), HostMessage::UnitMissing);
    return;
  }
  DataStore& unit = dw_3().store();
  unit.accepttext();
  // A worker still being entered is offered for saving too, rather than dropped unasked.
  const bool unit_changed = unit.modifiedcount() > 0;
  const bool worker_changed = dw_4().store().modifiedcount() > 0;
  if ((unit_changed || worker_changed) &&
      session().message_box("提示", "您的申报数据已修改，是否要保存？", Icon::Question, Buttons::YesNo) == 1) {
    if (unit_changed) pb_5_clicked();
    if (worker_changed && !pkid.empty()) save_worker();
  }
  pkid.clear();
  unit.reset();
  dw_4().store().reset();
  allow_worker_entry(false);
  const long row = unit.insertrow(0);
  unit.setitem(row, "company_num", Value(company_num));
  unit.setitem(row, "sb_date", Value(session().today()));
  std::vector<Value> name;
  if (session().sqlca().select_into("select company_name from rs_info_company where company_num = :com",
                                    {Value(company_num)}, name) == 0 &&
      !name[0].is_null())
    unit.setitem(row, "company_name", name[0]);
  // A new declaration is a draft: ticking 上报数据 is what submits it to the authority.
  unit.setitem(row, "state", Value(0));
  wf_getcompanyinfo();
  lock_forms();
  wf_rystate();
  uf_modify();
  dw_3().setfocus();
}

void w_vorant_px::pb_5_clicked() {
  sb1::pb_5_clicked();
  if (!pkid.empty()) allow_worker_entry(true);
}

void w_vorant_px::pb_1_clicked() {
  sb1::pb_1_clicked();
  if (!pkid.empty()) allow_worker_entry(true);
}

void w_vorant_px::dw_1_rowfocuschanged(long currentrow) {
  if (currentrow <= 0 || currentrow > dw_1().store().rowcount()) return;
  load_declaration(dw_1().store().getitemstring(currentrow, "pkid"));
  allow_worker_entry(!pkid.empty());
  uf_modify();
}

std::string w_vorant_px::subject_layout(const std::vector<std::pair<std::string, std::string>>& subjects) {
  std::string s;
  int n = 0;
  if (subjects.empty()) {
    for (int i = 1; i <= 5; ++i) hide(s, "xf" + two_digits(i + 5));
  } else {
    for (const auto& [code, name] : subjects) {
      const std::string z = "xf" + code;
      if (name == "其他") {
        hide(s, z);
        continue;
      }
      ++n;
      const bool left = n % 2 == 1;
      const std::string y = std::to_string(400 + 76 * ((n - 1) / 2));
      s += " " + z + "_t.visible = 1 " + z + ".visible = 1 t_" + z + ".visible = 1";
      s += " " + z + "_t.text = " + quoted_caption(name);
      s += left ? " " + z + "_t.x = 0 " + z + ".x = 471 t_" + z + ".x = 823"
                : " " + z + "_t.x = 960 " + z + ".x = 1431 t_" + z + ".x = 1783";
      s += " " + z + "_t.y = " + y + " " + z + ".y = " + y + " t_" + z + ".y = " + y;
    }
  }
  ++n;
  const std::string y = std::to_string(400 + 76 * ((n - 1) / 2));
  s += n % 2 == 1 ? " over_pxrw_t.x = 0 over_pxrw.x = 471 " : " over_pxrw_t.x = 960 over_pxrw.x = 1431 ";
  s += " over_pxrw_t.y = " + y + " over_pxrw.y = " + y;
  return s;
}

int w_vorant_px::uf_modify() {
  DataStore lds_kemu;
  lds_kemu.set_dataobject("d_px_kemu_xlist");
  lds_kemu.settransobject(&session().sqlca());
  if (lds_kemu.retrieve({Value(pkid), Value(company_num)}) < 0) return -1;
  std::vector<std::pair<std::string, std::string>> subjects;
  for (long r = 1; r <= lds_kemu.rowcount(); ++r)
    subjects.emplace_back(lds_kemu.getitemstring(r, "code"), lds_kemu.getitemstring(r, "name"));
  // A code outside 06..10 names no slot of the form; it is left out rather than refusing
  // the whole layout.
  std::erase_if(subjects, [](const auto& s) { return s.first.size() != 2 || s.first < "06" || s.first > "10"; });
  const std::string error = dw_4().store().modify(subject_layout(subjects));
  return error.empty() ? 0 : -1;
}

long w_vorant_px::extract_rows() {
  Transaction& sqlca = session().sqlca();
  DataStore lds_list;
  lds_list.set_dataobject(dw_2().store().dataobject());
  lds_list.settransobject(&sqlca);
  if (lds_list.retrieve({Value(company_num)}) < 0) return -1;
  // The personal data of all the unit's workers in one query (as d_rs_worker_vorant reads
  // them one by one): sex and card number by worker code.
  std::unordered_map<std::string, std::pair<Value, Value>> personal;
  if (sqlca.query("select worker_code, sex, card_no from rs_main where company_num = :com", {Value(company_num)},
                  [&](const ResultRow& row) {
                    personal.emplace(row.get(0).to_string(), std::make_pair(row.get(1), row.get(2)));
                    return true;
                  }) < 0)
    return -1;
  DataStore lds_rows;
  lds_rows.set_dataobject(category().worker_form);
  lds_rows.settransobject(&sqlca);
  const Value id(pkid), unit(company_num), done("1");
  for (long j = 1; j <= lds_list.rowcount(); ++j) {
    const long t = lds_rows.insertrow(0);
    const Value worker_code = lds_list.getitem(j, "worker_code");
    lds_rows.setitem(t, "worker_code", worker_code);
    lds_rows.setitem(t, "worker_name", lds_list.getitem(j, "worker_name"));
    lds_rows.setitem(t, "company_num", unit);
    lds_rows.setitem(t, "pkid", id);
    if (const auto found = personal.find(worker_code.to_string()); found != personal.end()) {
      lds_rows.setitem(t, "sex", found->second.first);
      lds_rows.setitem(t, "card_no", found->second.second);
    }
    lds_rows.setitem(t, "over_pxrw", done);
  }
  if (lds_rows.update() != 1) {
    sqlca.sqlerrtext = lds_rows.last_error();
    return -1;
  }
  return lds_rows.rowcount();
}

void w_vorant_px::pb_6_clicked() {
  session().set_pointer_hourglass(true);
  const ExtractionOutcome extracted = run_extraction(
      *this, Extraction{kOverwriteQuestion, kExtractionFailed, [this](const ExtractionPeriod&) { return extract_rows(); }});
  session().set_pointer_hourglass(false);
  if (extracted.result != ExtractionOutcome::Result::Extracted) return;
  // As a click on the declaration does: the unit form again, the layout and the list marks,
  // also when the unit has no workers and the old rows are simply gone.
  const long current = dw_1().store().getrow();
  if (current > 0) {
    dw_1_rowfocuschanged(current);
  } else {
    dw_4().store().reset();
    uf_modify();
    wf_rystate();
  }
}

int w_vorant_px::uf_getdata() {
  Extraction extraction{kOverwriteQuestion, kExtractionFailed,
                        [this](const ExtractionPeriod&) { return extract_rows(); }};
  extraction.asks_period = false;
  const ExtractionOutcome extracted = run_extraction(*this, extraction);
  if (extracted.result == ExtractionOutcome::Result::Failed) return -1;
  if (extracted.result == ExtractionOutcome::Result::Extracted) pb_8_clicked();
  return 0;
}

void w_vorant_px::pb_8_clicked() {
  if (lacks_declaration()) return;
  session().message.powerobjectparm = u_stru_com{pkid, company_num, ""};
  session().open_modal("w_px_type");
  uf_modify();
}

}  // namespace shenbao
