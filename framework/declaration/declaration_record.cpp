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

}  // namespace

DeclarationRecord::DeclarationRecord(Session& session, const CategoryDescriptor& category)
    : sqlca_(&session.sqlca()), category_(&category), gate_(session) {}

DeclarationKey DeclarationRecord::key(const std::string& pkid, const std::string& company_num) const {
  return {category_->unit_table, pkid, company_num};
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
  const DeclarationChange change = is_new ? DeclarationChange::Create : DeclarationChange::Edit;
  const DeclarationKey declaration = key(pkid, unit.getitemstring(1, "company_num"));
  auto refused = gate_.write(declaration, change, [&](DeclarationKey& written) -> std::optional<Refusal> {
    if (is_new) {
      id = next_declaration_id(*sqlca_, *category_);
      if (id.empty()) return write_failure(*sqlca_);
      unit.setitem(1, "pkid", Value(id));
      written.pkid = id;
    }
    fill_audit(unit, is_new, author);
    // Written only over the row as it was read: another session's save in between wins, and
    // this one is told so rather than overwriting it.
    unit.set_update_check({"lastupdate"});
    if (unit.update(false) != 1) return write_failure(*sqlca_, &unit);
    return std::nullopt;
  });
  if (refused) {
    if (is_new) unit.setitem(1, "pkid", Value());
    return refused;
  }
  unit.reset_update_flags();
  pkid = id;
  return std::nullopt;
}

std::optional<Refusal> DeclarationRecord::save_worker(DataStore& worker, const std::string& pkid,
                                                      const std::string& company_num, const Author& author) {
  if (worker.rowcount() == 0) return std::nullopt;
  const bool is_new = is_new_row(worker);
  const Value shown_code = worker.getitem(1, "worker_code");
  const DeclarationKey declaration = key(pkid, company_num);
  if (is_new) {
    worker.setitem(1, "pkid", Value(pkid));
    worker.setitem(1, "company_num", Value(company_num));
  }
  auto refused = gate_.write(declaration, DeclarationChange::Edit, [&](DeclarationKey&) -> std::optional<Refusal> {
    if (is_new && category_->numbers_new_persons) {
      // The number shown since the person was added may have been taken meanwhile by another
      // session: the person is numbered again here, with the counter row locked until commit.
      Result<std::string> code = next_person_code(*sqlca_, *category_, declaration.company_num, true);
      if (!code) return code.refusal();
      if (code->empty()) {
        const std::string limit = host_message_text(HostMessage::NumberLimit);
        return Refusal::for_user(RefusalCode::InvalidEntry, limit, limit);
      }
      worker.setitem(1, "worker_code", Value(*code));
    }
    fill_audit(worker, is_new, author);
    worker.set_update_check({"lastupdate"});
    if (worker.update(false) != 1) return write_failure(*sqlca_, &worker);
    return std::nullopt;
  });
  if (refused) {
    if (is_new) worker.setitem(1, "worker_code", shown_code);
    return refused;
  }
  worker.reset_update_flags();
  return std::nullopt;
}

std::optional<Refusal> DeclarationRecord::remove(const std::string& pkid, const std::string& company_num) {
  return gate_.write(key(pkid, company_num), DeclarationChange::Delete, [&](DeclarationKey&) -> std::optional<Refusal> {
    const std::vector<Value> declaration{Value(pkid), Value(company_num)};
    const std::string where = " where pkid = :id and company_num = :com";
    if (sqlca_->execute("delete from " + std::string(category_->worker_table) + where, declaration) < 0 ||
        sqlca_->execute("delete from " + std::string(category_->unit_table) + where, declaration) < 0)
      return write_failure(*sqlca_);
    return std::nullopt;
  });
}

std::optional<Refusal> DeclarationRecord::remove_worker(DataStore& worker) {
  if (worker.rowcount() == 0) return std::nullopt;
  const DeclarationKey declaration = key(worker.getitemstring(1, "pkid"), worker.getitemstring(1, "company_num"));
  auto refused = gate_.write(declaration, DeclarationChange::Delete, [&](DeclarationKey&) -> std::optional<Refusal> {
    worker.deleterow(1);
    if (worker.update(false) != 1) return write_failure(*sqlca_, &worker);
    return std::nullopt;
  });
  if (refused) {
    worker.retrieve(worker.retrieval_arguments());
    return refused;
  }
  worker.reset_update_flags();
  return std::nullopt;
}

bool DeclarationRecord::is_accepted(const std::string& pkid, const std::string& company_num) {
  return gate_.is_accepted(key(pkid, company_num));
}

DeclarationGate::Work DeclarationRecord::acceptance(const std::string& pkid, const std::string& company_num,
                                                   const Author& author, const std::function<int()>& approve) {
  return [=, this](DeclarationKey&) -> std::optional<Refusal> {
    // The record goes first: a second acceptance of the same declaration fails on its key
    // before it writes anything.
    if (sqlca_->execute("insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) "
                        "values (:t, :id, :com, :at, :by)",
                        {Value(category_->unit_table), Value(pkid), Value(company_num), Value(author.now),
                         Value(author.username)}) < 0 ||
        approve() != 0)
      return write_failure(*sqlca_);
    return std::nullopt;
  };
}

DeclarationRecord::AcceptOutcome DeclarationRecord::outcome(const std::optional<Refusal>& refused) {
  if (!refused) return {Acceptance::Accepted, {}};
  if (refused->code == RefusalCode::Forbidden) return {Acceptance::Refused, {}};
  return {Acceptance::Failed, refused->text};
}

DeclarationRecord::AcceptOutcome DeclarationRecord::accept(const std::string& pkid, const std::string& company_num,
                                                           const Author& author, const std::function<int()>& approve,
                                                           const std::string& note) {
  return outcome(gate_.write(key(pkid, company_num), DeclarationChange::Accept,
                             acceptance(pkid, company_num, author, approve), note));
}

DeclarationRecord::AcceptOutcome DeclarationRecord::rehearse_acceptance(const std::string& pkid,
                                                                        const std::string& company_num,
                                                                        const Author& author,
                                                                        const std::function<int()>& approve,
                                                                        const DeclarationGate::Reader& read) {
  return outcome(gate_.rehearse(key(pkid, company_num), DeclarationChange::Accept,
                                acceptance(pkid, company_num, author, approve), read));
}

std::string next_declaration_id(Transaction& sqlca, const CategoryDescriptor& category) {
  const Value table(category.worker_table);
  // Every worker table has its counter row from the schema on; a table added later gets one
  // here.
  if (sqlca.execute("update sb_key_counter set next_value = next_value + 1 where table_name = :t", {table}) == 100)
    sqlca.execute("insert into sb_key_counter (table_name, next_value) values (:t, 2)", {table});
  if (sqlca.sqlcode < 0) return {};
  std::vector<Value> taken;
  if (sqlca.select_into("select next_value - 1 from sb_key_counter where table_name = :t", {table}, taken) != 0)
    return {};
  const auto in_use = [&](std::string_view table_name, const std::string& id) {
    std::vector<Value> found;
    return sqlca.select_into("select pkid from " + std::string(table_name) + " where pkid = :id limit 1", {Value(id)},
                               found);
  };
  for (long candidate = taken[0].as_long();; ++candidate) {
    const std::string id = zero_padded(candidate, 10);
    long code = in_use(category.worker_table, id);
    if (code == 100) code = in_use(category.unit_table, id);
    for (const char* sharing : category.unit_tables_sharing_workers)
      if (code == 100) code = in_use(sharing, id);
    if (code < 0) return {};
    if (code == 100) {
      sqlca.execute("update sb_key_counter set next_value = :n where table_name = :t", {Value(candidate + 1), table});
      return sqlca.sqlcode < 0 ? std::string() : id;
    }
  }
}

Result<std::string> next_person_code(Transaction& sqlca, const CategoryDescriptor& category,
                                     const std::string& company_num, bool reserve) {
  if (reserve) {
    const Value table(category.worker_table);
    if (sqlca.execute("update sb_key_counter set next_value = next_value where table_name = :t", {table}) == 100)
      sqlca.execute("insert into sb_key_counter (table_name, next_value) values (:t, 1)", {table});
    if (sqlca.sqlcode < 0) return Refusal::for_user(RefusalCode::Failed, sqlca.sqlerrtext, sqlca.sqlerrtext);
  }
  std::vector<Value> highest{Value()};
  if (sqlca.select_into("select worker_code from " + std::string(category.worker_table) +
                              " where company_num = :com order by worker_code desc limit 1",
                          {Value(company_num)}, highest) < 0)
    return Refusal::for_user(RefusalCode::Failed, sqlca.sqlerrtext, sqlca.sqlerrtext);
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
