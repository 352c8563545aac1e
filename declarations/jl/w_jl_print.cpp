#include "declarations/jl/w_jl_print.h"

#include <utility>

#include "framework/host/messages.h"

namespace shenbao {

w_jl_print::w_jl_print(Session& session, const PrintSheet& sheet) : w_print_sheet(session, sheet) {
  control("pb_1")->text = "打印(&P)";
  control("pb_2")->text = "退出(&C)";
}

void w_jl_print::open() {
  w_print_sheet::open();
  // The composite's one row holds the key; without it the retrieval failed.
  if (dw_1().store().rowcount() < 1) return;
  if (DataStore* opinions = dw_1().store().getchild("dw_2")) opinions->insertrow(0);
}

void w_jl_print::resize(int new_width, int new_height) {
  w_print_sheet::resize(new_width, new_height);
  // Print first, then exit, at the bottom right.
  std::swap(control("pb_1")->x, control("pb_2")->x);
}

void w_jl_print::pb_1_clicked() {
  DataStore& report = dw_1().store();
  if (report.rowcount() < 1) return;
  PrintJobs& jobs = session().print_jobs();
  const int job = jobs.open(title);
  if (jobs.print(job, report) < 0 || jobs.close(job) < 0)
    say(session(), HostMessage::PrintFailed, jobs.last_error());
}

void w_jl_print::pb_2_clicked() { close_window(); }

}  // namespace shenbao
