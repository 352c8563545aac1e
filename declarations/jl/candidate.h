#pragma once

#include <string>

#include "framework/declaration/sb1.h"

namespace shenbao {

// What sets the two candidate windows apart.
struct CandidateKind {
  const char* name_column;        // the list's second column: worker_name / hx_company
  const char* new_button;         // caption of pb_n
  const char* changed_question;   // asked by pb_n when the form holds changes
  const char* list_failed;        // said when the candidate list cannot be read
  bool resets_code_lists;         // pb_n calls uf_all("")
};

// The candidates for a reward, persons (w_sb_jlry) or units (w_sb_sjjt), proposed by a unit:
// not necessarily in the register, each numbered "9" + six digits per unit over the
// window's own table. The worker list shows the open declaration's stored candidates, each
// "申报"; pb_n starts a new candidate with the next number. The number is taken again when
// the candidate is first stored (the category numbers new persons), inside the storing
// transaction and with the table's counter row locked, so that two sessions adding
// candidates of one unit at once never store the same number.
class w_sb_candidate : public sb1 {
 public:
  w_sb_candidate(Session& session, const CategoryDescriptor& category, const CandidateKind& kind);

  int wf_rystate() override;
  virtual void pb_n_clicked();

 private:
  const CandidateKind* kind_;
};

}  // namespace shenbao
