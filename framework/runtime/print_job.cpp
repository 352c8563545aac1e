#include "framework/runtime/print_job.h"

#include <algorithm>
#include <filesystem>

#include "framework/runtime/data_store.h"

namespace shenbao {

PrintJobs::PrintJobs(std::string folder) : folder_(std::move(folder)) {}

int PrintJobs::open(const std::string& name) {
  open_.push_back({next_id_++, name, 0, {}});
  return open_.back().id;
}

int PrintJobs::print(int job, const DataStore& store) {
  auto it = std::find_if(open_.begin(), open_.end(), [&](const OpenJob& j) { return j.id == job; });
  if (it == open_.end()) {
    last_error_ = "no open print job " + std::to_string(job);
    return -1;
  }
  ReportPages pages = layout_report(store);
  if (it->forms == 0) {
    it->pages = std::move(pages);
  } else {
    for (auto& page : pages.pages) it->pages.pages.push_back(std::move(page));
  }
  ++it->forms;
  return 1;
}

int PrintJobs::close(int job) {
  auto it = std::find_if(open_.begin(), open_.end(), [&](const OpenJob& j) { return j.id == job; });
  if (it == open_.end()) {
    last_error_ = "no open print job " + std::to_string(job);
    return -1;
  }
  // The file is named after the job; the number keeps two jobs of one name apart.
  std::string file;
  for (char c : it->name) file += (c == '/' || c == '\\' || c == '\0' || c == ':') ? '_' : c;
  if (file.empty()) file = "print";
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  const std::string path = folder_ + "/" + std::to_string(it->id) + "-" + file + ".pdf";
  it->pages.title = it->name;
  std::string error;
  if (!write_pdf(it->pages, path, error)) {
    last_error_ = error;
    open_.erase(it);
    return -1;
  }
  finished_.push_back({it->id, it->name, it->forms, static_cast<int>(it->pages.pages.size()), path});
  open_.erase(it);
  return 1;
}

int PrintJobs::print_alone(const DataStore& store, const std::string& name) {
  const int job = open(name);
  if (print(job, store) < 0) return -1;
  return close(job);
}

}  // namespace shenbao
