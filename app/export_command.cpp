// `shenbao export DB FORM [ARG...] --xlsx FILE [--unit COMPANY_NUM]`: retrieves a form with
// its arguments, as `render` does, and writes its rows as a spreadsheet, as the export of a
// list in the browser writes them. With --unit only the rows of that unit (its `company_num`
// column) are written, as a clerk of the unit sees the list.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_table.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/sheet_export.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {
namespace {

constexpr const char* kUsage = "usage: shenbao export DB FORM [ARG...] --xlsx FILE [--unit COMPANY_NUM]\n";

struct ExportRequest {
  std::string db;
  std::string form;
  std::vector<std::string> arguments;
  std::string xlsx;
  std::optional<std::string> unit;
};

std::optional<ExportRequest> parse_request(const std::vector<std::string>& args, std::string& error) {
  ExportRequest request;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--xlsx" || a == "--unit") {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return std::nullopt;
      }
      (a == "--xlsx" ? request.xlsx : request.unit.emplace()) = args[++i];
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
  if (request.xlsx.empty()) {
    error = "give --xlsx FILE";
    return std::nullopt;
  }
  request.db = positional[0];
  request.form = positional[1];
  request.arguments.assign(positional.begin() + 2, positional.end());
  return request;
}

int export_list(const ExportRequest& request) {
  std::string error;
  std::unique_ptr<Transaction> sqlca = Transaction::open(request.db, error);
  if (!sqlca) {
    std::fprintf(stderr, "export: %s: %s\n", request.db.c_str(), error.c_str());
    return 1;
  }
  DataStore store;
  if (store.set_dataobject(request.form) < 0) {
    std::fprintf(stderr, "export: %s\n", store.last_error().c_str());
    return 1;
  }
  store.settransobject(sqlca.get());
  // Codes show their names, from the code lists that take no arguments, as in a window.
  for (const auto& object : store.def().objects) {
    if (object.kind != ObjectKind::Column || object.get("dddw.name").empty()) continue;
    DataStore* list = store.getchild(store.def().columns[static_cast<size_t>(object.column)].name);
    if (list && list->def().arguments.empty() && !list->def().retrieve_sql.empty()) {
      list->settransobject(sqlca.get());
      list->retrieve();
    }
  }

  const auto& expected = store.def().arguments;
  if (request.arguments.size() != expected.size()) {
    std::fprintf(stderr, "export: %s takes %zu arguments, %zu given\n", request.form.c_str(), expected.size(),
                 request.arguments.size());
    return 2;
  }
  std::vector<Value> arguments;
  for (size_t i = 0; i < expected.size(); ++i) {
    auto value = parse_entry(expected[i].type, request.arguments[i]);
    if (!value) {
      std::fprintf(stderr, "export: argument %s: %s\n", expected[i].name.c_str(), value.refusal().describe().c_str());
      return 2;
    }
    arguments.push_back(std::move(*value));
  }
  if (store.retrieve(arguments) < 0) {
    std::fprintf(stderr, "export: %s\n", store.last_error().c_str());
    return 1;
  }
  if (request.unit) {
    const int unit_column = store.def().column_index("company_num");
    if (unit_column < 0) {
      std::fprintf(stderr, "export: %s has no company_num column to choose the unit's rows by\n", request.form.c_str());
      return 2;
    }
    const Value unit(*request.unit);
    store.filter_by([&](const DataStore& s, long row) { return same_code(s.getitem(row, unit_column + 1), unit); });
  }

  const std::string title = store.def().form_property("title", request.form);
  const Result<long> written = export_sheet(store, title, request.xlsx);
  if (!written) {
    std::fprintf(stderr, "export: %s\n", written.refusal().describe().c_str());
    return 1;
  }
  std::printf("%s: %ld rows\n", request.xlsx.c_str(), *written);
  return 0;
}

}  // namespace

int export_command(const std::vector<std::string>& args) {
  std::string error;
  const auto request = parse_request(args, error);
  if (!request) {
    std::fprintf(stderr, "export: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  return export_list(*request);
}

}  // namespace shenbao
