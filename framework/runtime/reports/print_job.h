#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/reports/report.h"

namespace shenbao {

class DataStore;
class FormLibrary;

// A finished print job: one PDF of the forms printed into it, in order.
struct PrintJobInfo {
  int id = 0;
  std::string name;      // the job's name as opened; also the PDF's title
  int forms = 0;         // forms printed into it
  int pages = 0;         // pages of the PDF
  std::string pdf_path;  // <folder>/<name>.pdf, with " (2)", " (3)"... when that file exists
};

// The print jobs of one session, kept as PDF files in the session's print folder.
//
//   PrintJobs jobs(session_folder + "/print");
//   int job = jobs.open("培训情况打印");
//   jobs.print(job, dw_1);        // lays the form out now, as it is now
//   jobs.print(job, dw_3);
//   jobs.close(job);              // writes 培训情况打印.pdf; finished() lists it
//
// Each form keeps its own page numbers (page() of pagecount()). A form printed on its own
// (print_alone) is a job of its own. open answers the job's id (from 1); print, close and
// print_alone answer 1, or -1 with last_error() for an unknown job, a store without a
// definition or a file that cannot be written. A job closed with nothing printed into it
// writes no file and is not listed. Used on one session's thread.
class PrintJobs {
 public:
  // `library` is where nested reports of composite forms are loaded from
  // (default_form_library() when null).
  explicit PrintJobs(std::string folder, const FormLibrary* library = nullptr);

  int open(const std::string& name);
  int print(int job, const DataStore& store);
  int close(int job);
  // Opens a job named `name`, prints the store into it and closes it; answers the job's id.
  int print_alone(const DataStore& store, const std::string& name);

  const std::vector<PrintJobInfo>& finished() const { return finished_; }
  // The finished job `id`, or nullptr.
  const PrintJobInfo* find(int id) const;
  const std::string& folder() const { return folder_; }
  const std::string& last_error() const { return last_error_; }

 private:
  struct OpenJob {
    int id;
    std::string name;
    int forms = 0;
    ReportPages pages;
  };
  OpenJob* find_open(int job);
  int fail(std::string text);

  std::string folder_;
  const FormLibrary* library_;
  int next_id_ = 1;
  std::vector<OpenJob> open_;
  std::vector<PrintJobInfo> finished_;
  std::string last_error_;
};

// A job name made fit to be a file name: no path separators, control characters or the
// characters Windows refuses (\ / : * ? " < > |), no leading or trailing blanks and dots,
// at most 120 bytes (whole UTF-8 characters); "print" when nothing is left.
std::string job_file_name(std::string_view name);

}  // namespace shenbao
