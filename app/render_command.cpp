// `shenbao render DB FORM [ARG...] (--pdf FILE | --png DIR) [--scale S]`: retrieves a form
// with its arguments and prints it to a PDF, or to one PNG per page (DIR/page-N.png).
// FORM is a definition name of the forms library, or the path of a .form file (its folder
// is then the library its nested reports come from).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {
namespace {

constexpr const char* kUsage = "usage: shenbao render DB FORM [ARG...] (--pdf FILE | --png DIR) [--scale S]\n";

struct RenderRequest {
  std::string db;
  std::string form;
  std::vector<std::string> arguments;
  std::string pdf;
  std::string png_dir;
  double scale = 1.5;
};

std::optional<RenderRequest> parse_request(const std::vector<std::string>& args, std::string& error) {
  RenderRequest request;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* option) -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        error = std::string(option) + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (a == "--pdf") {
      auto v = value("--pdf");
      if (!v) return std::nullopt;
      request.pdf = *v;
    } else if (a == "--png") {
      auto v = value("--png");
      if (!v) return std::nullopt;
      request.png_dir = *v;
    } else if (a == "--scale") {
      auto v = value("--scale");
      if (!v) return std::nullopt;
      char* end = nullptr;
      request.scale = std::strtod(v->c_str(), &end);
      if (end == v->c_str() || *end != '\0' || !(request.scale > 0) || request.scale > 8) {
        error = "--scale must be a number above 0 and at most 8";
        return std::nullopt;
      }
    } else if (a == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() < 2) {
    error = "DB and FORM are needed";
    return std::nullopt;
  }
  if (request.pdf.empty() == request.png_dir.empty()) {
    error = "give one of --pdf FILE and --png DIR";
    return std::nullopt;
  }
  request.db = positional[0];
  request.form = positional[1];
  request.arguments.assign(positional.begin() + 2, positional.end());
  return request;
}

bool is_form_file(const std::string& form) {
  return form.find('/') != std::string::npos || (form.size() > 5 && form.ends_with(".form"));
}

int render(const RenderRequest& request) {
  std::string error;
  std::unique_ptr<Transaction> sqlca = Transaction::open(request.db, error);
  if (!sqlca) {
    std::fprintf(stderr, "render: %s: %s\n", request.db.c_str(), error.c_str());
    return 1;
  }

  // A definition file brings its folder along as the library of its nested reports.
  std::unique_ptr<FormLibrary> file_library;
  std::string name = request.form;
  if (is_form_file(request.form)) {
    const std::filesystem::path path(request.form);
    file_library = std::make_unique<FormLibrary>(path.parent_path().empty() ? "." : path.parent_path().string());
    name = path.stem().string();
  }
  const FormLibrary& library = file_library ? *file_library : default_form_library();

  DataStore store(library);
  if (store.set_dataobject(name) < 0) {
    std::fprintf(stderr, "render: %s\n", store.last_error().c_str());
    return 1;
  }
  store.settransobject(sqlca.get());

  const auto& expected = store.def().arguments;
  if (request.arguments.size() != expected.size()) {
    std::fprintf(stderr, "render: %s takes %zu arguments, %zu given\n", name.c_str(), expected.size(),
                 request.arguments.size());
    return 2;
  }
  std::vector<Value> arguments;
  for (size_t i = 0; i < expected.size(); ++i) {
    auto value = parse_entry(expected[i].type, request.arguments[i]);
    if (!value) {
      std::fprintf(stderr, "render: argument %s: %s\n", expected[i].name.c_str(),
                   value.refusal().describe().c_str());
      return 2;
    }
    arguments.push_back(std::move(*value));
  }
  if (store.retrieve(arguments) < 0) {
    // A composite without a statement of its own has nothing to retrieve: its nested
    // reports are retrieved as it is laid out.
    const bool composite_only = store.def().style == Style::Composite && store.def().retrieve_sql.empty();
    std::fprintf(stderr, "render: %s%s\n", composite_only ? "warning: " : "", store.last_error().c_str());
    if (!composite_only) return 1;
  }

  LayoutOptions options;
  options.library = &library;
  const ReportPages pages = layout_report(store, options);
  for (const std::string& warning : pages.warnings) std::fprintf(stderr, "render: warning: %s\n", warning.c_str());

  if (!request.pdf.empty()) {
    if (!write_pdf(pages, request.pdf, error)) {
      std::fprintf(stderr, "render: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s: %zu rows, %zu pages\n", request.pdf.c_str(), static_cast<size_t>(store.rowcount()),
                pages.pages.size());
    return 0;
  }
  std::error_code ec;
  std::filesystem::create_directories(request.png_dir, ec);
  if (ec) {
    std::fprintf(stderr, "render: %s: %s\n", request.png_dir.c_str(), ec.message().c_str());
    return 1;
  }
  for (int page = 1; page <= static_cast<int>(pages.pages.size()); ++page) {
    const std::string path = request.png_dir + "/page-" + std::to_string(page) + ".png";
    if (!write_png(pages, page, path, request.scale, error)) {
      std::fprintf(stderr, "render: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}

}  // namespace

int render_command(const std::vector<std::string>& args) {
  std::string error;
  const auto request = parse_request(args, error);
  if (!request) {
    std::fprintf(stderr, "render: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  return render(*request);
}

}  // namespace shenbao
