#include "declarations/jl/candidate.h"


namespace shenbao {
namespace {

bool is_blank(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

w_sb_candidate::w_sb_candidate(Session& session, const CategoryDescriptor& category, const CandidateKind& kind)
    : sb1(session, category), kind_(&kind) {
  add_write_button("pb_n", kind.new_button, 120, DeclarationChange::Edit, [this] { pb_n_clicked(); });
}

int w_sb_candidate::wf_rystate() {
  DataStore& list = dw_2().store();
  struct Candidate {
    Value code, name;
  };
  std::vector<Candidate> candidates;
  if (!pkid.empty() &&
      session().sqlca().query("select worker_code, " + std::string(kind_->name_column) + " from " + worker_table() +
                                  " where pkid = :id and company_num = :com order by worker_code",
                              {Value(pkid), Value(company_num)}, [&](const ResultRow& row) {
                                candidates.push_back({row.get(0), row.get(1)});
                                return true;
                              }) < 0) {
    session().message_box("提示", kind_->list_failed);
    return -1;
  }
  list.reset();
  for (const Candidate& c : candidates) {
    const long r = list.insertrow(0);
    list.setitem(r, "worker_code", c.code);
    list.setitem(r, kind_->name_column, c.name);
    list.setitem(r, "status", Value("申报"));
  }
  list.reset_update_flags();
  if (list.rowcount() > 0) dw_2().select_row(1);
  return 0;
}

void w_sb_candidate::pb_n_clicked() {
  if (lacks_declaration()) return;
  DataStore& candidate = dw_4().store();
  candidate.accepttext();
  if (kind_->resets_code_lists) uf_all("");
  if (candidate.modifiedcount() > 0 &&
      session().message_box("提示", kind_->changed_question, Icon::Question, Buttons::YesNo) == 1 &&
      save_worker() < 0)
    return;
  candidate.reset();
  const long row = candidate.insertrow(0);
  const std::string code = uf_getworkercode();
  if (is_blank(code)) return;
  candidate.setitem(row, "company_num", Value(company_num));
  candidate.setitem(row, "worker_code", Value(code));
  candidate.setitem(row, "pkid", Value(pkid));
  candidate.setitem(row, "state", Value(0));
  dw_4().setfocus();
}

}  // namespace shenbao
