#include "framework/declaration/declaration_gate.h"

#include <stdexcept>

#include "framework/host/host_session.h"

namespace shenbao {
namespace {

bool is_blank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

const char* change_name(DeclarationChange change) {
  switch (change) {
    case DeclarationChange::Create: return "create";
    case DeclarationChange::Edit: return "edit";
    case DeclarationChange::Delete: return "delete";
    case DeclarationChange::Accept: return "accept";
  }
  return "";
}

}  // namespace

std::string declaration_text(const DeclarationKey& key) {
  return key.unit_table + " pkid=" + key.pkid + " unit=" + key.company_num;
}

bool DeclarationGate::is_accepted(const DeclarationKey& key) {
  if (is_blank(key.pkid)) return false;
  std::vector<Value> found;
  return session_->sqlca().select_into(
             "select pkid from rs_sb_approval where table_name = :t and pkid = :id and company_num = :com",
             {Value(key.unit_table), Value(key.pkid), Value(key.company_num)}, found) == 0;
}

std::optional<HostMessage> DeclarationGate::refusal(const DeclarationKey& key, DeclarationChange change) {
  const SessionUser& user = session_->user();
  if (change == DeclarationChange::Accept) {
    if (!user.has_right(kAcceptRight)) return HostMessage::AcceptRightMissing;
    if (is_accepted(key)) return HostMessage::AlreadyAccepted;
    return std::nullopt;
  }
  if (!user.has_right(kFileRight)) return HostMessage::AuthorityCannotChange;
  if (change == DeclarationChange::Create || !is_accepted(key)) return std::nullopt;
  return change == DeclarationChange::Delete ? HostMessage::AcceptedNoDelete : HostMessage::AcceptedNoChange;
}

bool DeclarationGate::refuses(const DeclarationKey& key, DeclarationChange change) {
  const auto refused = refusal(key, change);
  if (refused) tell(key, change, *refused);
  return refused.has_value();
}

void DeclarationGate::tell(const DeclarationKey& key, DeclarationChange change, HostMessage refused) {
  if (refused == HostMessage::AcceptedNoChange || refused == HostMessage::AcceptedNoDelete)
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

std::optional<Refusal> DeclarationGate::write(const DeclarationKey& key, DeclarationChange change, const Work& work) {
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
  if (const auto refused = refusal(key, change)) {
    sqlca.rollback();
    tell(key, change, *refused);
    return Refusal::for_user(RefusalCode::Forbidden, host_message_text(*refused),
                             std::string(change_name(change)) + " refused: " + declaration_text(key));
  }
  std::optional<Refusal> failed;
  {
    Transaction::WritePermit permit(sqlca);
    failed = work();
  }
  if (!failed && sqlca.commit() != 0) failed = write_failure(sqlca);
  if (failed) sqlca.rollback();
  return failed;
}

void guard_write_button(Control& button, DeclarationGate& gate, std::function<DeclarationKey()> declaration,
                        DeclarationChange change) {
  const bool accepts = change == DeclarationChange::Accept;
  button.role.right = accepts ? kAcceptRight : kFileRight;
  button.role.refusal =
      host_message_text(accepts ? HostMessage::AcceptRightMissing : HostMessage::AuthorityCannotChange);
  button.clicked = [&gate, declaration = std::move(declaration), change, script = std::move(button.clicked)] {
    if (!gate.refuses(declaration(), change) && script) script();
  };
}

void show_locked(Control& button, DeclarationChange change, bool accepted) {
  button.role.locked.clear();
  if (!accepted || change == DeclarationChange::Create) return;
  const HostMessage why = change == DeclarationChange::Delete ? HostMessage::AcceptedNoDelete
                          : change == DeclarationChange::Accept ? HostMessage::AlreadyAccepted
                                                                : HostMessage::AcceptedNoChange;
  button.role.locked = host_message_text(why);
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
  show_locked(*save_, DeclarationChange::Edit, gate_.is_accepted(declaration_));
  return may_change;
}

std::optional<Refusal> DeclarationDialogForm::save() {
  DataStore& store = form_->store();
  store.accepttext();
  auto refused = gate_.write(declaration_, DeclarationChange::Edit, [&]() -> std::optional<Refusal> {
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
