#pragma once

#include <string>
#include <vector>

#include "framework/runtime/report.h"

namespace shenbao {

class DataStore;

// A finished print job: one PDF of the forms printed into it, in order.
struct PrintJobInfo {
  int id = 0;
  std::string name;
  int forms = 0;
  int pages = 0;
  std::string pdf_path;
};

// The print jobs of one session, kept as PDF files in the session's print folder.
//
//   int job = jobs.open("培训报表");
//   jobs.print(job, dw_1.store());
//   jobs.close(job);            // writes 培训报表.pdf; finished() lists it
//
// A form printed on its own (print_alone) is a job of its own. Answers -1 with an error
// text where a job cannot be opened, printed into or written. Used on one session's thread.
class PrintJobs {
 public:
  explicit PrintJobs(std::string folder);
  int open(const std::string& name);
  int print(int job, const DataStore& store);
  int close(int job);
  int print_alone(const DataStore& store, const std::string& name);
  const std::vector<PrintJobInfo>& finished() const { return finished_; }
  const std::string& last_error() const { return last_error_; }

 private:
  struct OpenJob {
    int id;
    std::string name;
    int forms = 0;
    ReportPages pages;
  };
  std::string folder_;
  int next_id_ = 1;
  std::vector<OpenJob> open_;
  std::vector<PrintJobInfo> finished_;
  std::string last_error_;
};

}  // namespace shenbao
