#pragma once

#include "framework/declaration/sb1.h"

namespace shenbao {

// What tells one kind of departure from another: the worker table's date column and the marks
// acceptance writes into the register.
struct DepartureMarks {
  const char* date_column;   // cz_date, ct_date
  const char* stuff_status;  // 04 resigned, 05 left by dismissal
  const char* a_vc1;         // the departure code: 86 resignation, 85 dismissal
};

// A departure declaration (resignation, dismissal): each declared worker leaves on his own
// date, preset to today when he is added. Acceptance marks exactly the declaration's workers
// in the register as having left, each with his own date (a_vc2 as the text "yyyymmdd",
// a_date1 as the day), in one statement, and then recounts the unit's head count once.
class w_vorant_departure : public sb1 {
 public:
  w_vorant_departure(Session& session, const CategoryDescriptor& category, const DepartureMarks& marks);

  int uf_getworkerinfo(const std::string& worker_code) override;
  int uf_approve(int ai_state) override;

 private:
  const DepartureMarks* marks_;
};

}  // namespace shenbao
