#include "framework/declaration/declaration_gate.h"

#include <stdexcept>

#include "framework/declaration/declaration_history.h"
#include "framework/declaration/register_changes.h"
#include "framework/host/host_session.h"
#include "framework/runtime/sql/journal.h"

namespace shenbao {
namespace {

bool is_blank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

// A refused reversal names at most this many rows that stand in the way, and counts the rest.
constexpr int kMaxRowsNamed = 10;

const char* change_name(DeclarationChange change) {
  switch (change) {
    case DeclarationChange::Create: return "create";
    case DeclarationChange::Edit: return "edit";
    case DeclarationChange::Delete: return "delete";
    case DeclarationChange::Accept: return "accept";
    case DeclarationChange::Return: return "return";
    case DeclarationChange::Reverse: return "reverse";
  }
  return "";
}

bool is_review(DeclarationChange change) {
  return change == DeclarationChange::Accept || change == DeclarationChange::Return ||
         change == DeclarationChange::Reverse;
}

// Who may make a change at all: the authority reviews (accepts, returns), the unit files.
std::optional<HostMessage> right_refusal(const SessionUser& user, DeclarationChange change) {
  if (change == DeclarationChange::Accept)
    return user.has_right(kAcceptRight) ? std::nullopt : std::optional(HostMessage::AcceptRightMissing);
  if (change == DeclarationChange::Return)
    return user.has_right(kAcceptRight) ? std::nullopt : std::optional(HostMessage::ReturnRightMissing);
  if (change == DeclarationChange::Reverse)
    return user.has_right(kAcceptRight) ? std::nullopt : std::optional(HostMessage::ReverseRightMissing);
  return user.has_right(kFileRight) ? std::nullopt : std::optional(HostMessage::AuthorityCannotChange);
}

}  // namespace

std::string declaration_text(const DeclarationKey& key) {
  return key.unit_table + " pkid=" + key.pkid + " unit=" + key.company_num;
}

std::optional<HostMessage> state_refusal(DeclarationChange change, const DeclarationState& state) {
  switch (change) {
    case DeclarationChange::Create: return std::nullopt;
    case DeclarationChange::Edit:
      return state.accepted ? std::optional(HostMessage::AcceptedNoChange) : std::nullopt;
    case DeclarationChange::Delete:
      return state.accepted ? std::optional(HostMessage::AcceptedNoDelete) : std::nullopt;
    case DeclarationChange::Accept:
      if (state.accepted) return HostMessage::AlreadyAccepted;
      return state.submitted ? std::nullopt : std::optional(HostMessage::NotSubmitted);
    case DeclarationChange::Return:
      if (state.accepted) return HostMessage::AcceptedNoReturn;
      return state.submitted ? std::nullopt : std::optional(HostMessage::NotSubmittedNoReturn);
    case DeclarationChange::Reverse:
      return state.accepted ? std::nullopt : std::optional(HostMessage::NotAcceptedNoReverse);
  }
  return std::nullopt;
}

DeclarationState DeclarationGate::state(const DeclarationKey& key) {
  DeclarationState state;
  if (is_blank(key.pkid)) return state;
  std::vector<Value> row;
  const long found = session_->sqlca().select_into(
      "select t.state, (select count(*) from rs_sb_approval a where a.table_name = :t and a.pkid = t.pkid and "
      "a.company_num = t.company_num) from " + key.unit_table + " t where t.pkid = :id and t.company_num = :com",
      {Value(key.unit_table), Value(key.pkid), Value(key.company_num)}, row);
  if (found != 0) {
    // A declaration whose unit row is gone may still be recorded as accepted.
    state.accepted = is_accepted(key);
    return state;
  }
  state.stored = true;
  state.submitted = !row[0].is_null() && row[0].as_long() == 1;
  state.accepted = row[1].as_long() > 0;
  return state;
}

bool DeclarationGate::is_accepted(const DeclarationKey& key) {
  if (is_blank(key.pkid)) return false;
  std::vector<Value> found;
  return session_->sqlca().select_into(
             "select pkid from rs_sb_approval where table_name = :t and pkid = :id and company_num = :com",
             {Value(key.unit_table), Value(key.pkid), Value(key.company_num)}, found) == 0;
}

std::optional<HostMessage> DeclarationGate::refusal(const DeclarationKey& key, DeclarationChange change) {
  return refusal(key, change, state(key));
}

std::optional<HostMessage> DeclarationGate::refusal(const DeclarationKey& key, DeclarationChange change,
                                                    const DeclarationState& now) {
  if (auto refused = right_refusal(session_->user(), change)) return refused;
  // No declaration yet: the window asks for one ("请先维护单位申报信息！").
  if (change == DeclarationChange::Create || is_blank(key.pkid)) return std::nullopt;
  return state_refusal(change, now);
}

bool DeclarationGate::refuses(const DeclarationKey& key, DeclarationChange change) {
  const auto refused = refusal(key, change);
  if (refused) tell(key, change, *refused);
  return refused.has_value();
}

void DeclarationGate::tell(const DeclarationKey& key, DeclarationChange change, HostMessage refused) {
  if (refused == HostMessage::AcceptedNoChange || refused == HostMessage::AcceptedNoDelete ||
      refused == HostMessage::AcceptedNoReturn)
    session_->audit("refused-change-accepted", std::string(change_name(change)) + " " + declaration_text(key));
  say(*session_, refused);
}

bool DeclarationGate::lock(const DeclarationKey& key) {
  Transaction& sqlca = session_->sqlca();
  // On SQLite the transaction begins with the database's write lock: nobody else writes, an
  // acceptance included, until this one ends.
  if (!sqlca.begin()) return false;
  if (sqlca.dialect() == Dialect::SQLite || is_blank(key.pkid)) return true;
  std::vector<Value> row;
  return sqlca.select_into("select pkid from " + key.unit_table + " where pkid = :id and company_num = :com for update",
                           {Value(key.pkid), Value(key.company_num)}, row) >= 0;
}

std::optional<Refusal> DeclarationGate::write(const DeclarationKey& key, DeclarationChange change, const Work& work,
                                              const std::string& note) {
  if (change == DeclarationChange::Return || change == DeclarationChange::Reverse)
    throw std::logic_error("a return or a reversal is made by give_back or reverse, with its reason");
  return write_step(key, change, work, note);
}

std::optional<Refusal> DeclarationGate::rehearse(const DeclarationKey& key, DeclarationChange change,
                                                 const Work& work, const Reader& read) {
  return write_step(key, change, work, {}, &read);
}

std::optional<Refusal> DeclarationGate::reverse(const DeclarationKey& key, const std::string& reason) {
  Transaction& sqlca = session_->sqlca();
  return write_step(key, DeclarationChange::Reverse, [&](DeclarationKey&) -> std::optional<Refusal> {
    const long long accepted = latest_acceptance(sqlca, key);
    std::vector<JournalRow> changes = journal_rows(sqlca, accepted);
    // Nothing is undone over a later change: the rows that stand in the way are named first.
    std::string blocking;
    int named = 0;
    for (const JournalRow& change : changes) {
      const bool changed = !still_as_written(sqlca, change);
      // A person the acceptance added stays when anything names him by now.
      if (!changed && !added_person_referenced(sqlca, change, key)) continue;
      if (++named <= kMaxRowsNamed)
        blocking += "\n" + changed_row_text(sqlca, change) + (changed ? "" : "（已被其他登记信息引用）");
    }
    if (named > kMaxRowsNamed) blocking += "\n……（共 " + std::to_string(named) + " 行）";
    if (named > 0) {
      const std::string text = host_message_text(HostMessage::RegisterChangedSince) + blocking;
      return Refusal::for_user(RefusalCode::Conflict, text, "reversal blocked: " + declaration_text(key));
    }
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
      if (!undo(sqlca, *change)) return write_failure(sqlca);
    }
    return std::nullopt;
  }, reason);
}

std::optional<Refusal> DeclarationGate::give_back(const DeclarationKey& key, const std::string& reason) {
  Transaction& sqlca = session_->sqlca();
  return write_step(key, DeclarationChange::Return, [&](DeclarationKey&) -> std::optional<Refusal> {
    if (sqlca.execute("update " + key.unit_table + " set state = 0 where pkid = :id and company_num = :com",
                      {Value(key.pkid), Value(key.company_num)}) < 0)
      return write_failure(sqlca);
    return std::nullopt;
  }, reason);
}

std::optional<Refusal> DeclarationGate::write_step(const DeclarationKey& key, DeclarationChange change,
                                                   const Work& work, const std::string& reason,
                                                   const Reader* rehearsal) {
  Transaction& sqlca = session_->sqlca();
  // The gate's transaction is its own: writes pending from elsewhere would be committed with it.
  if (sqlca.in_transaction()) {
    sqlca.rollback();
    throw std::logic_error("writes were pending when a declaration write began; they were rolled back");
  }
  if (!lock(key)) {
    Refusal failed = write_failure(sqlca);
    sqlca.rollback();
    return failed;
  }
  // The state as the lock holds it: the rules are asked of it, and the step made is told from it.
  const DeclarationState before = state(key);
  if (const auto refused = refusal(key, change, before)) {
    sqlca.rollback();
    tell(key, change, *refused);
    return Refusal::for_user(RefusalCode::Forbidden, host_message_text(*refused),
                             std::string(change_name(change)) + " refused: " + declaration_text(key));
  }
  DeclarationKey written = key;
  std::optional<Refusal> failed;
  {
    Transaction::WritePermit permit(sqlca);
    const long long step = open_step(key, change, reason);
    if (step == 0) {
      failed = write_failure(sqlca);
    } else {
      {
        // What the work writes, in any table and by whatever statement, is journalled with its step.
        JournalScope journal(sqlca, step);
        failed = journal.ok() ? work(written) : write_failure(sqlca);
      }
      if (!failed) failed = close_step(step, written, change, before);
      if (!failed && rehearsal) {
        (*rehearsal)(step);
        sqlca.rollback();
        return std::nullopt;
      }
    }
  }
  if (!failed && sqlca.commit() != 0) failed = write_failure(sqlca);
  if (failed) sqlca.rollback();
  return failed;
}

long long DeclarationGate::open_step(const DeclarationKey& key, DeclarationChange change, const std::string& reason) {
  // Recorded before the work, so that the journal can name it; what the step was is known
  // after the work (close_step).
  const DeclarationStep provisional = change == DeclarationChange::Accept    ? DeclarationStep::Accepted
                                      : change == DeclarationChange::Return  ? DeclarationStep::Returned
                                      : change == DeclarationChange::Reverse ? DeclarationStep::Reversed
                                                                             : DeclarationStep::Saved;
  std::vector<Value> id;
  if (session_->sqlca().select_into(
          "insert into sb_history (table_name, pkid, company_num, step, username, at, address, reason) "
          "values (:t, :id, :com, :step, :who, :at, :address, :reason) returning pk_id",
          {Value(key.unit_table), Value(key.pkid), Value(key.company_num), Value(std::string(step_code(provisional))),
           Value(session_->user().username), Value(session_->now()),
           session_->client_address().empty() ? Value() : Value(session_->client_address()),
           reason.empty() ? Value() : Value(reason)},
          id) != 0)
    return 0;
  return id[0].as_long();
}

std::optional<Refusal> DeclarationGate::close_step(long long step, const DeclarationKey& key, DeclarationChange change,
                                                   const DeclarationState& before) {
  Transaction& sqlca = session_->sqlca();
  const std::vector<DeclarationStep> steps = steps_made(key, change, before);
  if (sqlca.execute("update sb_history set pkid = :id, step = :step where pk_id = :h",
                    {Value(key.pkid), Value(std::string(step_code(steps.front()))), Value(step)}) != 0)
    return write_failure(sqlca);
  // A declaration created already submitted has made two steps.
  for (size_t i = 1; i < steps.size(); ++i) {
    if (sqlca.execute("insert into sb_history (table_name, pkid, company_num, step, username, at, address) "
                      "select table_name, pkid, company_num, :step, username, at, address from sb_history "
                      "where pk_id = :h",
                      {Value(std::string(step_code(steps[i]))), Value(step)}) != 0)
      return write_failure(sqlca);
  }
  return std::nullopt;
}

std::vector<DeclarationStep> DeclarationGate::steps_made(const DeclarationKey& key, DeclarationChange change,
                                                         const DeclarationState& before) {
  const DeclarationState after = state(key);
  const auto submitted_step = [&] {
    // Submitted again after the authority returned it.
    std::vector<Value> found;
    const bool returned_before =
        session_->sqlca().select_into(
            "select pk_id from sb_history where table_name = :t and pkid = :id and company_num = :com "
            "and step = :step limit 1",
            {Value(key.unit_table), Value(key.pkid), Value(key.company_num),
             Value(std::string(step_code(DeclarationStep::Returned)))},
            found) == 0;
    return returned_before ? DeclarationStep::Resubmitted : DeclarationStep::Submitted;
  };
  switch (change) {
    case DeclarationChange::Create:
      if (after.submitted) return {DeclarationStep::Created, DeclarationStep::Submitted};
      return {DeclarationStep::Created};
    case DeclarationChange::Edit:
    case DeclarationChange::Delete:
      if (!after.stored) return {DeclarationStep::Deleted};
      if (after.submitted && !before.submitted) return {submitted_step()};
      if (before.submitted && !after.submitted) return {DeclarationStep::Withdrawn};
      return {DeclarationStep::Saved};
    case DeclarationChange::Accept: return {DeclarationStep::Accepted};
    case DeclarationChange::Return: return {DeclarationStep::Returned};
    case DeclarationChange::Reverse: return {DeclarationStep::Reversed};
  }
  return {DeclarationStep::Saved};
}

void guard_write_button(Control& button, DeclarationGate& gate, std::function<DeclarationKey()> declaration,
                        DeclarationChange change) {
  button.role.right = is_review(change) ? kAcceptRight : kFileRight;
  SessionUser without_right;
  button.role.refusal = host_message_text(*right_refusal(without_right, change));
  button.clicked = [&gate, declaration = std::move(declaration), change, script = std::move(button.clicked)] {
    if (!gate.refuses(declaration(), change) && script) script();
  };
}

void show_locked(Control& button, DeclarationChange change, const DeclarationState& state) {
  const auto refused = state_refusal(change, state);
  button.role.locked = refused ? host_message_text(*refused) : std::string();
}

void DeclarationDialogForm::attach(FormControl& form, Control& save) {
  form_ = &form;
  save_ = &save;
  guard_write_button(save, gate_, [this] { return declaration_; }, DeclarationChange::Edit);
}

bool DeclarationDialogForm::open(DeclarationKey declaration) {
  declaration_ = std::move(declaration);
  const bool may_change = !gate_.refusal(declaration_, DeclarationChange::Edit);
  form_->read_only = !may_change;
  show_locked(*save_, DeclarationChange::Edit, gate_.state(declaration_));
  return may_change;
}

std::optional<Refusal> DeclarationDialogForm::save() {
  DataStore& store = form_->store();
  store.accepttext();
  auto refused = gate_.write(declaration_, DeclarationChange::Edit, [&](DeclarationKey&) -> std::optional<Refusal> {
    if (store.update(false) != 1) return write_failure(form_->window().session().sqlca(), &store);
    return std::nullopt;
  });
  if (!refused) store.reset_update_flags();
  return refused;
}

void report_write_refusal(Session& session, const Refusal& refused, std::string_view failure) {
  switch (refused.code) {
    case RefusalCode::Forbidden: return;  // the gate has said why
    case RefusalCode::Conflict: say(session, HostMessage::ChangedByOthers); return;
    // An entry the database cannot take as it is (the unit's person numbers are used up):
    // its text is the whole message.
    case RefusalCode::InvalidEntry: session.message_box("系统提示", refused.text, Icon::Exclamation); return;
    default:
      session.message_box("提示", std::string(failure) + (refused.text.empty() ? "" : "\n" + refused.text),
                          Icon::StopSign);
  }
}

Refusal write_failure(const Transaction& sqlca, const DataStore* store) {
  std::string reason = sqlca.sqlerrtext;
  if (reason.empty() && store) reason = store->last_error();
  if (store && store->update_conflict()) return Refusal::for_user(RefusalCode::Conflict, "", reason);
  return Refusal::for_user(RefusalCode::Failed, reason, reason);
}

}  // namespace shenbao
