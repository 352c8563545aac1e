#include "framework/declaration/declaration.h"

#include "framework/host/host_functions.h"
#include "framework/host/register_captions.h"
#include "framework/host/messages.h"
#include "framework/host/period.h"
#include "framework/host/structures.h"

namespace shenbao {
namespace {

bool is_empty(const Value& v) {
  if (v.is_null()) return true;
  if (v.kind() != ValueKind::Text) return false;
  return v.as_text().find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

bool copy_company_info(sb1& window, const std::vector<const char*>& columns) {
  DataStore lds_company;
  lds_company.set_dataobject("d_rs_company_info");
  lds_company.settransobject(&window.session().sqlca());
  if (lds_company.retrieve({Value(window.company_num)}) < 1) return false;
  DataStore& unit = window.dw_3().store();
  for (const char* column : columns) unit.setitem(1, column, lds_company.getitem(1, column));
  return true;
}

namespace {

// What a worker's form takes from his register record (d_rs_worker_vorant) for one copy: the
// value as it is, a 'yyyymmdd' birthday as a date.
Value copied_value(const DataStore& register_record, const WorkerCopy& c) {
  Value value = register_record.getitem(1, c.from);
  if (std::string_view(c.from) != "birthday") return value;
  const auto date = getdate(value.is_null() ? std::string() : value.to_string());
  return date ? Value(*date) : Value();
}

std::string trimmed(const Value& value) {
  if (value.is_null()) return {};
  std::string text = value.to_string();
  const size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

std::vector<RegisterChange> register_drift(sb1& window) {
  std::vector<RegisterChange> drift;
  const std::vector<WorkerCopy>& copies = window.category().worker_copies;
  if (copies.empty()) return drift;
  Transaction& sqlca = window.session().sqlca();
  DataStore register_record;
  register_record.set_dataobject("d_rs_worker_vorant");
  register_record.settransobject(&sqlca);
  std::string columns = "worker_code, worker_name";
  for (const WorkerCopy& c : copies) columns += std::string(", ") + c.to;
  std::vector<std::vector<Value>> workers;
  sqlca.query("select " + columns + " from " + window.worker_table() + " where pkid = :id and company_num = :com",
              {Value(window.pkid), Value(window.company_num)}, [&](const ResultRow& row) {
                std::vector<Value>& values = workers.emplace_back();
                for (int c = 0; c < row.column_count(); ++c) values.push_back(row.get(c));
                return true;
              });
  for (const std::vector<Value>& worker : workers) {
    if (register_record.retrieve({Value(window.company_num), worker[0]}) < 1) continue;
    for (size_t i = 0; i < copies.size(); ++i) {
      const std::string seen = trimmed(worker[i + 2]);
      const std::string now = trimmed(copied_value(register_record, copies[i]));
      if (seen == now) continue;
      // d_rs_worker_vorant names the register's post post_1.
      const std::string column = std::string_view(copies[i].from) == "post_1" ? "post" : copies[i].from;
      const std::string_view caption = register_column_caption("rs_main", column);
      drift.push_back({trimmed(worker[0]), trimmed(worker[1]), std::string(register_table_caption("rs_main")),
                       caption.empty() ? column : std::string(caption), seen, now, "登记信息已变更"});
    }
  }
  return drift;
}

int copy_worker_info(sb1& window, const std::string& worker_code, const std::vector<WorkerCopy>& copies,
                     const char* department_name_to) {
  DataStore lds_worker;
  lds_worker.set_dataobject("d_rs_worker_vorant");
  lds_worker.settransobject(&window.session().sqlca());
  if (lds_worker.retrieve({Value(window.company_num), Value(worker_code)}) < 1) return -1;
  DataStore& worker = window.dw_4().store();
  std::string left_out;
  auto copy = [&](const char* column, Value value) {
    if (worker.setitem(1, column, std::move(value)) < 0) left_out += "\n" + worker.last_error();
  };
  for (const WorkerCopy& c : copies) copy(c.to, copied_value(lds_worker, c));
  // A department the unit does not know gives an empty name.
  if (department_name_to) copy(department_name_to, Value(department_name(window, lds_worker.getitemstring(1, "department"))));
  if (!left_out.empty()) say(window.session(), HostMessage::WorkerDataIncomplete, left_out);
  return 0;
}

std::string department_name(sb1& window, const std::string& department_code) {
  std::vector<Value> name;
  if (window.session().sqlca().select_into(
          "select gg_bm_mc from gg_bumen_bm where book_code = :com and gg_bm_id = :dept",
          {Value(window.company_num), Value(department_code)}, name) != 0 ||
      name[0].is_null())
    return {};
  return name[0].to_string();
}

DataStore* bind_drop_down(FormControl& form, const char* column) {
  DataStore* list = form.store().getchild(column);
  if (!list) return nullptr;
  list->settransobject(&form.window().session().sqlca());
  list->retrieve();
  return list;
}

int check_required(sb1& window, const std::vector<RequiredColumn>& required, const char* title) {
  DataStore& worker = window.dw_4().store();
  for (const RequiredColumn& r : required) {
    if (!is_empty(worker.getitem(1, r.column))) continue;
    window.session().message_box(title, r.message, Icon::Exclamation);
    window.dw_4().setfocus();
    window.dw_4().setcolumn(r.column);
    return -1;
  }
  return 0;
}

int open_print_window(sb1& window, const char* print_window) {
  if (window.lacks_declaration()) return -1;
  window.session().message.powerobjectparm = s_com{window.company_num, window.pkid};
  window.session().open_sheet(print_window);
  return 0;
}

bool leave_unit_form(sb1& window, const char* question) {
  if (window.lacks_declaration()) return false;
  DataStore& unit = window.dw_3().store();
  unit.accepttext();
  if (unit.modifiedcount() > 0 &&
      window.session().message_box("提示", question, Icon::Question, Buttons::YesNo) == 1) {
    window.pb_5_clicked();
    if (unit.modifiedcount() > 0) return false;  // the save failed and said why
  }
  return true;
}

ExtractionOutcome run_extraction(sb1& window, const Extraction& extraction) {
  using Result = ExtractionOutcome::Result;
  if (window.lacks_declaration() || window.refuses_change(DeclarationChange::Edit)) return {Result::Failed};
  Session& session = window.session();
  Transaction& sqlca = session.sqlca();
  const std::vector<Value> key{Value(window.pkid), Value(window.company_num)};
  const std::string worker_table = window.worker_table();
  std::vector<Value> found;
  const bool has_rows = sqlca.select_into("select worker_code from " + worker_table +
                                              " where pkid = :id and company_num = :com limit 1",
                                          key, found) == 0;
  // No is the default: Enter must not throw away the rows and what was entered in them.
  if (has_rows &&
      session.message_box("提示", extraction.overwrite_question, Icon::Question, Buttons::YesNo, 2) != 1)
    return {Result::Declined};
  ExtractionPeriod period;
  if (extraction.asks_period) {
    const auto asked = ask_extraction_period(session);
    if (!asked) return {Result::Declined};
    period = *asked;
  }
  long written = 0;
  DeclarationRecord& record = window.record();
  const auto refused = record.gate().write(
      record.key(window.pkid, window.company_num), DeclarationChange::Edit, [&](DeclarationKey&) -> std::optional<Refusal> {
        if (sqlca.execute("delete from " + worker_table + " where pkid = :id and company_num = :com", key) < 0)
          return write_failure(sqlca);
        written = extraction.fill(period);
        if (written < 0) return write_failure(sqlca);
        return std::nullopt;
      });
  if (refused) {
    report_write_refusal(session, *refused, extraction.failure);
    return {Result::Failed};
  }
  session.set_status(kExtractedStatusBefore + std::to_string(written) + kExtractedStatusAfter);
  return {Result::Extracted, written};
}

std::string sql_register_date(const Transaction& sqlca, std::string_view column) {
  const std::string c(column);
  // SQLite holds a date-time as the text "yyyy-mm-dd hh:mm:ss".
  if (sqlca.dialect() == Dialect::SQLite) return "(substr(" + c + ", 1, 4) || substr(" + c + ", 6, 2) || substr(" + c + ", 9, 2))";
  return "to_char(" + c + ", 'YYYYMMDD')";
}

std::string sql_day(const Transaction& sqlca, std::string_view column) {
  const std::string c(column);
  if (sqlca.dialect() == Dialect::SQLite) return "(substr(" + c + ", 1, 10) || ' 00:00:00')";
  return "date_trunc('day', " + c + ")";
}

}  // namespace shenbao
