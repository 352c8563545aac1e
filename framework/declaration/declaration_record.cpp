#include "framework/declaration/declaration_record.h"

#include <string_view>

#include "framework/host/host_functions.h"
#include "framework/host/messages.h"

namespace shenbao {
namespace {

bool is_new_row(const DataStore& store) {
  const RowStatus status = store.getitemstatus(1);
  return status == RowStatus::New || status == RowStatus::NewModified;
}

constexpr const char* kAcceptedQuery =
    "select pkid from rs_sb_approval where table_name = :t and pkid = :id and company_num = :com";

}  // namespace

DeclarationRecord::DeclarationRecord(Transaction& sqlca, const CategoryDescriptor& category)
    : sqlca_(&sqlca), category_(&category) {}

std::optional<Refusal> DeclarationRecord::fail(const DataStore* store) {
  std::string reason = sqlca_->sqlerrtext;
  if (reason.empty() && store) reason = store->last_error();
  sqlca_->rollback();
  if (store && store->update_conflict()) return Refusal::for_user(RefusalCode::Conflict, "", reason);
  return Refusal::for_user(RefusalCode::Failed, reason, reason);
}

void DeclarationRecord::fill_audit(DataStore& store, bool is_new, const Author& author) {
  if (is_new) {
    store.setitem(1, "createdate", Value(author.now));
    store.setitem(1, "createby", Value(author.username));
  }
  store.setitem(1, "lastupdate", Value(author.now));
  store.setitem(1, "lastupdateby", Value(author.username));
}

std::optional<Refusal> DeclarationRecord::save_unit(DataStore& unit, std::string& pkid, const Author& author) {
  if (unit.rowcount() == 0) return std::nullopt;
  const bool is_new = is_new_row(unit);
  std::string id = pkid;
  if (is_new) {
    id = next_id();
    if (id.empty()) return fail(nullptr);
    unit.setitem(1, "pkid", Value(id));
  }
  fill_audit(unit, is_new, author);
  // Written only over the row as it was read: another session's save in between wins, and
  // this one is told so rather than overwriting it.
  unit.set_update_check({"lastupdate"});
  if (unit.update_and_commit() != 1) {
    if (is_new) unit.setitem(1, "pkid", Value());
    return fail(&unit);
  }
  pkid = id;
  return std::nullopt;
}

std::optional<Refusal> DeclarationRecord::save_worker(DataStore& worker, const Author& author) {
  if (worker.rowcount() == 0) return std::nullopt;
  const bool is_new = is_new_row(worker);
  const Value shown_code = worker.getitem(1, "worker_code");
  if (is_new && category_->numbers_new_persons) {
    // The number shown since the person was added may have been taken meanwhile by another
    // session: the person is numbered again here, with the counter row locked until commit.
    Result<std::string> code = next_person_code(worker.getitemstring(1, "company_num"), true);
    if (!code) {
      sqlca_->rollback();
      return code.refusal();
    }
    if (code->empty()) {
      sqlca_->rollback();
      const std::string limit = host_message_text(HostMessage::NumberLimit);
      return Refusal::for_user(RefusalCode::Failed, limit, limit);
    }
    worker.setitem(1, "worker_code", Value(*code));
  }
  fill_audit(worker, is_new, author);
  worker.set_update_check({"lastupdate"});
  if (worker.update_and_commit() != 1) {
    if (is_new) worker.setitem(1, "worker_code", shown_code);
    return fail(&worker);
  }
  return std::nullopt;
}

std::optional<Refusal> DeclarationRecord::remove(const std::string& pkid, const std::string& company_num) {
  const std::vector<Value> key{Value(pkid), Value(company_num)};
  const std::string where = " where pkid = :id and company_num = :com";
  const bool ok = sqlca_->execute("delete from " + std::string(category_->worker_table) + where, key) >= 0 &&
                  sqlca_->execute("delete from " + std::string(category_->unit_table) + where, key) >= 0;
  if (!ok || sqlca_->commit() != 0) return fail(nullptr);
  return std::nullopt;
}

std::optional<Refusal> DeclarationRecord::remove_worker(DataStore& worker) {
  if (worker.rowcount() == 0) return std::nullopt;
  worker.deleterow(1);
  if (worker.update() != 1 || sqlca_->commit() != 0) {
    auto refused = fail(&worker);
    worker.retrieve(worker.retrieval_arguments());
    return refused;
  }
  return std::nullopt;
}

bool DeclarationRecord::is_accepted(const std::string& pkid, const std::string& company_num) {
  std::vector<Value> found;
  return sqlca_->select_into(kAcceptedQuery, {Value(category_->unit_table), Value(pkid), Value(company_num)}, found) == 0;
}

DeclarationRecord::AcceptOutcome DeclarationRecord::accept(const std::string& pkid, const std::string& company_num,
                                                           const Author& author, const std::function<int()>& approve) {
  sqlca_->execute(
      "insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) "
      "values (:t, :id, :com, :at, :by)",
      {Value(category_->unit_table), Value(pkid), Value(company_num), Value(author.now), Value(author.username)});
  if (sqlca_->sqlcode < 0) {
    const std::string reason = sqlca_->sqlerrtext;
    sqlca_->rollback();
    if (is_accepted(pkid, company_num)) return {Acceptance::AlreadyAccepted, {}};
    return {Acceptance::Failed, reason};
  }
  if (approve() == 0 && sqlca_->commit() == 0) return {Acceptance::Accepted, {}};
  const std::string reason = sqlca_->sqlerrtext;
  sqlca_->rollback();
  return {Acceptance::Failed, reason};
}

std::string DeclarationRecord::next_id() {
  const Value table(category_->worker_table);
  // Every worker table has its counter row from the schema on; a table added later gets one
  // here.
  if (sqlca_->execute("update sb_key_counter set next_value = next_value + 1 where table_name = :t", {table}) == 100)
    sqlca_->execute("insert into sb_key_counter (table_name, next_value) values (:t, 2)", {table});
  if (sqlca_->sqlcode < 0) return {};
  std::vector<Value> taken;
  if (sqlca_->select_into("select next_value - 1 from sb_key_counter where table_name = :t", {table}, taken) != 0)
    return {};
  const auto in_use = [&](std::string_view table_name, const std::string& id) {
    std::vector<Value> found;
    return sqlca_->select_into("select pkid from " + std::string(table_name) + " where pkid = :id limit 1", {Value(id)},
                               found);
  };
  for (long candidate = taken[0].as_long();; ++candidate) {
    const std::string id = zero_padded(candidate, 10);
    long code = in_use(category_->worker_table, id);
    if (code == 100) code = in_use(category_->unit_table, id);
    for (const char* sharing : category_->unit_tables_sharing_workers)
      if (code == 100) code = in_use(sharing, id);
    if (code < 0) return {};
    if (code == 100) {
      sqlca_->execute("update sb_key_counter set next_value = :n where table_name = :t", {Value(candidate + 1), table});
      return sqlca_->sqlcode < 0 ? std::string() : id;
    }
  }
}

Result<std::string> DeclarationRecord::next_person_code(const std::string& company_num, bool reserve) {
  if (reserve) {
    const Value table(category_->worker_table);
    if (sqlca_->execute("update sb_key_counter set next_value = next_value where table_name = :t", {table}) == 100)
      sqlca_->execute("insert into sb_key_counter (table_name, next_value) values (:t, 1)", {table});
    if (sqlca_->sqlcode < 0) return Refusal::for_user(RefusalCode::Failed, sqlca_->sqlerrtext, sqlca_->sqlerrtext);
  }
  std::vector<Value> highest{Value()};
  if (sqlca_->select_into("select worker_code from " + std::string(category_->worker_table) +
                              " where company_num = :com order by worker_code desc limit 1",
                          {Value(company_num)}, highest) < 0)
    return Refusal::for_user(RefusalCode::Failed, sqlca_->sqlerrtext, sqlca_->sqlerrtext);
  return provisional_worker_code(next_person_sequence(highest[0]));
}

long next_person_sequence(const Value& highest_code) {
  if (highest_code.is_null()) return 1;
  std::string code = highest_code.to_string();
  const size_t first = code.find_first_not_of(' ');
  if (first == std::string::npos) return 1;
  code = code.substr(first, code.find_last_not_of(' ') - first + 1);
  const std::string last_six = code.size() > 6 ? code.substr(code.size() - 6) : code;
  long number = 0;
  for (char c : last_six) {
    if (c < '0' || c > '9') break;
    number = number * 10 + (c - '0');
  }
  return number + 1;
}

}  // namespace shenbao
