#include "framework/runtime/reports/print_job.h"

#include <algorithm>
#include <filesystem>

#include "framework/runtime/forms/data_store.h"

namespace shenbao {

namespace {

constexpr size_t kMaxFileNameBytes = 120;

bool refused_in_file_names(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
         c == '<' || c == '>' || c == '|';
}

}  // namespace

std::string job_file_name(std::string_view name) {
  std::string out;
  for (char c : name) out += refused_in_file_names(static_cast<unsigned char>(c)) ? '_' : c;
  auto trimmed = [](char c) { return c == ' ' || c == '.'; };
  while (!out.empty() && trimmed(out.back())) out.pop_back();
  size_t start = 0;
  while (start < out.size() && trimmed(out[start])) ++start;
  out.erase(0, start);
  if (out.size() > kMaxFileNameBytes) {
    size_t cut = kMaxFileNameBytes;
    // Back up to the start of a UTF-8 character.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out.empty() ? "print" : out;
}

PrintJobs::PrintJobs(std::string folder, const FormLibrary* library)
    : folder_(std::move(folder)), library_(library) {}

int PrintJobs::fail(std::string text) {
  last_error_ = std::move(text);
  return -1;
}

PrintJobs::OpenJob* PrintJobs::find_open(int job) {
  auto it = std::find_if(open_.begin(), open_.end(), [&](const OpenJob& j) { return j.id == job; });
  return it == open_.end() ? nullptr : &*it;
}

const PrintJobInfo* PrintJobs::find(int id) const {
  auto it = std::find_if(finished_.begin(), finished_.end(), [&](const PrintJobInfo& j) { return j.id == id; });
  return it == finished_.end() ? nullptr : &*it;
}

int PrintJobs::open(const std::string& name) {
  open_.push_back({next_id_++, name, 0, {}});
  return open_.back().id;
}

int PrintJobs::print(int job, const DataStore& store) {
  OpenJob* open = find_open(job);
  if (!open) return fail("no open print job " + std::to_string(job));
  if (!store.has_definition()) return fail("the form to print has no definition");
  LayoutOptions options;
  options.library = library_;
  ReportPages pages = layout_report(store, options);
  if (open->forms == 0) {
    open->pages = std::move(pages);
  } else {
    // A form on other paper than the job's first keeps its own page size.
    for (ReportPage& page : pages.pages) {
      if (page.width == 0 && (pages.width != open->pages.width || pages.height != open->pages.height)) {
        page.width = pages.width;
        page.height = pages.height;
      }
      open->pages.pages.push_back(std::move(page));
    }
    for (std::string& w : pages.warnings) open->pages.warnings.push_back(std::move(w));
  }
  ++open->forms;
  return 1;
}

int PrintJobs::close(int job) {
  OpenJob* open = find_open(job);
  if (!open) return fail("no open print job " + std::to_string(job));
  OpenJob closing = std::move(*open);
  open_.erase(open_.begin() + (open - open_.data()));
  if (closing.forms == 0) return 1;

  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  if (ec) return fail(folder_ + ": " + ec.message());
  // Named after the job; a number in brackets keeps two jobs of one name apart.
  const std::string base = job_file_name(closing.name);
  std::string path = folder_ + "/" + base + ".pdf";
  for (int n = 2; std::filesystem::exists(path, ec); ++n) path = folder_ + "/" + base + " (" + std::to_string(n) + ").pdf";

  closing.pages.title = closing.name;
  std::string error;
  if (!write_pdf(closing.pages, path, error)) return fail(error);
  finished_.push_back({closing.id, closing.name, closing.forms, static_cast<int>(closing.pages.pages.size()), path});
  return 1;
}

int PrintJobs::print_alone(const DataStore& store, const std::string& name) {
  const int job = open(name);
  if (print(job, store) < 0) {
    const std::string error = last_error_;
    close(job);
    return fail(error);
  }
  if (close(job) < 0) return -1;
  return job;
}

}  // namespace shenbao
