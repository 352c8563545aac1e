#include "declarations/departure/departure.h"

#include "framework/declaration/declaration.h"
#include "framework/host/host_functions.h"

namespace shenbao {

w_vorant_departure::w_vorant_departure(Session& session, const CategoryDescriptor& category,
                                       const DepartureMarks& marks)
    : sb1(session, category), marks_(&marks) {}

int w_vorant_departure::uf_getworkerinfo(const std::string& worker_code) {
  const int found = sb1::uf_getworkerinfo(worker_code);
  if (found == 0) dw_4().store().setitem(1, marks_->date_column, Value(session().today()));
  return found;
}

int w_vorant_departure::uf_approve(int ai_state) {
  sb1::uf_approve(ai_state);
  Transaction& sqlca = session().sqlca();
  const std::string date = std::string("b.") + marks_->date_column;
  sqlca.execute("update rs_main as a set stuff_status = :status, a_vc1 = :code, a_vc2 = " +
                    sql_register_date(sqlca, date) + ", a_date1 = " + sql_day(sqlca, date) + " from " +
                    worker_table() +
                    " as b where b.pkid = :id and b.company_num = :com and a.company_num = b.company_num "
                    "and a.worker_code = b.worker_code",
                {Value(marks_->stuff_status), Value(marks_->a_vc1), Value(pkid), Value(company_num)});
  if (sqlca.sqlcode < 0) return -1;
  // The head count is taken from the register again: one call for the whole declaration.
  if (uf_syrs_add_del(sqlca, company_num, -1) < 0) return -1;
  return 0;
}

}  // namespace shenbao
