#include "declarations/jl/w_vorant_jl_gwy.h"

#include <string_view>
#include <unordered_map>

#include "framework/declaration/declaration.h"
#include "framework/host/host_functions.h"

namespace shenbao {
namespace {

constexpr const char* kOverwriteQuestion =
    "人员奖励信息已存在，如果重新提取将覆盖该批数据，\r\n您确定要重新提取人员奖励信息吗？";
constexpr const char* kExtractionFailed = "提取人员奖励信息失败！";
constexpr const char* kStatusFailed = "取人员申报信息失败！";

bool is_blank(const Value& v) {
  return v.is_null() || v.to_string().find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

const CategoryDescriptor& w_vorant_jl_gwy::descriptor() {
  static const CategoryDescriptor kDescriptor = reward_descriptor({
      .class_name = "w_vorant_jl_gwy",
      .caption = "公务员奖励申报",
      .unit_table = "rs_w00033_com",
      .unit_form = "d_gwyjl_company_form",
      .worker_list = "d_worker_list_jl1",
      .worker_copies = {{"sex", "sex"}, {"card_no", "card_no"}},
      .functions = {"uf_getworkerinfo", "uf_approve", "wf_rystate"},
  });
  return kDescriptor;
}

w_vorant_jl_gwy::w_vorant_jl_gwy(Session& session) : sb1(session, descriptor()) {
  add_write_button("pb_6", "提取人员信息(&A)", 120, DeclarationChange::Edit, [this] { pb_6_clicked(); });
  define_function("uf_getdata", [this](const std::vector<std::string>&) -> Result<Value> { return Value(uf_getdata()); });
}

int w_vorant_jl_gwy::wf_rystate() {
  // The list itself answers each worker's status in the open declaration, with the
  // declaration's key bound as values.
  if (dw_2().store().retrieve({Value(company_num), Value(pkid)}) < 0) {
    session().message_box("提示", kStatusFailed);
    return -1;
  }
  return 0;
}

long w_vorant_jl_gwy::pb_6_clicked() {
  const ExtractionOutcome extracted = run_extraction(
      *this, Extraction{kOverwriteQuestion, kExtractionFailed,
                        [this](const ExtractionPeriod& period) { return extract_rewards(period); }});
  if (extracted.result == ExtractionOutcome::Result::Failed) return -1;
  if (extracted.result == ExtractionOutcome::Result::Extracted) {
    // The declaration shown again, with its new rows and the workers' marks.
    dw_4().store().reset();
    wf_rystate();
  }
  return 0;
}

long w_vorant_jl_gwy::extract_rewards(const ExtractionPeriod& period) {
  Transaction& sqlca = session().sqlca();
  DataStore workers;
  workers.set_dataobject("d_worker_list");
  workers.settransobject(&sqlca);
  if (workers.retrieve({Value(company_num)}) < 0) return -1;

  // What the register holds of each worker, and the earliest reward of the period per worker,
  // each read once for the whole unit.
  struct Person {
    Value sex, card_no, post;
  };
  std::unordered_map<std::string, Person> persons;
  if (sqlca.query("select worker_code, sex, card_no, post from rs_main where company_num = :com", {Value(company_num)},
                  [&](const ResultRow& row) {
                    persons.try_emplace(row.get(0).to_string(), Person{row.get(1), row.get(2), row.get(3)});
                    return true;
                  }) < 0)
    return -1;
  struct Reward {
    Value jl_name, jl_date, ry_jb;
  };
  std::unordered_map<std::string, Reward> earliest;
  if (sqlca.query("select worker_code, jl_name, jl_date, ry_jb from rs_sub_jl_2 "
                  "where company_num = :com and jl_date >= :s and jl_date <= :e order by worker_code, jl_date, pk_id",
                  {Value(company_num), Value(period.start), Value(period.end)},
                  [&](const ResultRow& row) {
                    earliest.try_emplace(row.get(0).to_string(), Reward{row.get(1), row.get(2), row.get(3)});
                    return true;
                  }) < 0)
    return -1;

  DataStore rows;
  rows.set_dataobject(category().worker_form);
  rows.settransobject(&sqlca);
  for (long r = 1; r <= workers.rowcount(); ++r) {
    const std::string code = workers.getitemstring(r, "worker_code");
    const auto person = persons.find(code);
    const auto reward = earliest.find(code);
    if (person == persons.end() || reward == earliest.end()) continue;
    const long n = rows.insertrow(0);
    rows.setitem(n, "worker_code", Value(code));
    rows.setitem(n, "worker_name", workers.getitem(r, "worker_name"));
    rows.setitem(n, "company_num", Value(company_num));
    rows.setitem(n, "pkid", Value(pkid));
    rows.setitem(n, "sex", person->second.sex);
    rows.setitem(n, "card_no", person->second.card_no);
    rows.setitem(n, "post", person->second.post);
    rows.setitem(n, "jl_name", reward->second.jl_name);
    const auto date = getdate(reward->second.jl_date.is_null() ? std::string() : reward->second.jl_date.to_string());
    rows.setitem(n, "jl_date", date ? Value(*date) : Value());
    rows.setitem(n, "jl_gg", reward->second.ry_jb);
  }
  if (rows.update() != 1) {
    if (sqlca.sqlerrtext.empty()) sqlca.sqlerrtext = rows.last_error();
    return -1;
  }
  return rows.rowcount();
}

int w_vorant_jl_gwy::uf_approve(int ai_state) {
  sb1::uf_approve(ai_state);
  Transaction& sqlca = session().sqlca();
  DataStore declared;
  declared.set_dataobject("d_w00033_list");
  declared.settransobject(&sqlca);
  if (declared.retrieve({Value(pkid), Value(company_num)}) < 0) return -1;
  DataStore records;
  records.set_dataobject("d_sub_jl_edit_1");
  records.settransobject(&sqlca);
  for (long r = 1; r <= declared.rowcount(); ++r) {
    const Value reward = declared.getitem(r, "jl_name");
    if (is_blank(reward)) continue;
    const long n = records.insertrow(0);
    records.setitem(n, "worker_code", declared.getitem(r, "worker_code"));
    records.setitem(n, "company_num", declared.getitem(r, "company_num"));
    records.setitem(n, "jl_name", reward);
    if (const Value date = declared.getitem(r, "jl_date"); !date.is_null()) {
      records.setitem(n, "jl_date", Value(date.as_datetime().format("yyyymmdd")));
      records.setitem(n, "jlsj", date);
    }
    records.setitem(n, "ry_jb", declared.getitem(r, "jl_gg"));
  }
  if (records.update() != 1) {
    if (sqlca.sqlerrtext.empty()) sqlca.sqlerrtext = records.last_error();
    return -1;
  }
  return 0;
}

}  // namespace shenbao
