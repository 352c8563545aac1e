#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/declaration/declaration_history.h"
#include "framework/host/messages.h"
#include "framework/runtime/values/refusal.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {

// What a write does to a declaration; each is refused with its own text.
enum class DeclarationChange {
  Create,  // a new declaration of the unit
  Edit,    // its unit row, worker rows, subjects, staffing figures, candidates, tallies
  Delete,  // the declaration or one of its rows
  Accept,  // the authority's acceptance into the register
  Return,  // the authority sends a submitted declaration back to its unit, with a reason
  Reverse, // the authority undoes an acceptance, with a reason
};

// A declaration as the database holds it now.
struct DeclarationState {
  bool stored = false;     // its unit row exists
  bool submitted = false;  // its unit row's state is 1 (the check box "上报数据" ticked)
  bool accepted = false;   // rs_sb_approval records its acceptance
};

// Why nobody may make `change` to a declaration in that state, whoever he is: an accepted
// declaration is locked, only a submitted one is accepted or returned, and only an accepted
// one reversed.
std::optional<HostMessage> state_refusal(DeclarationChange change, const DeclarationState& state);

// A declaration as its unit table holds it. `pkid` is empty for one not yet stored.
struct DeclarationKey {
  std::string unit_table;
  std::string pkid;
  std::string company_num;
};

// "rs_w00031_com pkid=… unit=…", as the audit log names a declaration.
std::string declaration_text(const DeclarationKey& key);

// The one door to a declaration's own data (host_session.h: is_declaration_table). Every
// write of a declaration's rows runs inside write(), which in the writing transaction takes
// the declaration's lock and asks again who writes and what state the declaration is in; the
// session's connection refuses such writes made anywhere else (Transaction::protect_tables).
//
//   DeclarationGate gate(session);
//   if (gate.refuses(key, DeclarationChange::Edit)) return;          // before any question
//   if (session.message_box(...) != 1) return;
//   auto refused = gate.write(key, DeclarationChange::Edit, [&] { ... uncommitted writes ... });
//
// The rules: the authority never creates, changes or deletes a unit's declaration; only the
// authority accepts or returns, and only a submitted declaration; an accepted declaration is
// locked for everyone. Every step is recorded in the declaration's history (sb_history) in the
// transaction that makes it, so the history holds a step exactly when it happened. The lock is the
// declaration's unit row (on SQLite the database's write lock), taken by saves and by the
// acceptance alike, so a save lands before an acceptance and is part of what is accepted, or
// comes after it and is refused.
class DeclarationGate {
 public:
  explicit DeclarationGate(Session& session) : session_(&session) {}

  // Why the session's user may not make `change` to the declaration as it stands now (read
  // without the lock, to refuse before anything is asked): nothing when he may.
  std::optional<HostMessage> refusal(const DeclarationKey& key, DeclarationChange change);
  // The same, said to the user (and a refusal over an accepted declaration logged): true when
  // refused.
  bool refuses(const DeclarationKey& key, DeclarationChange change);

  // The writes of one change, uncommitted: nothing when they succeeded, else why not (the
  // database's reason; Conflict when a row changed since it was read). `written` is the
  // declaration the gate was given; the work of a Create puts the new declaration's pkid in it.
  using Work = std::function<std::optional<Refusal>(DeclarationKey& written)>;
  // Runs `work` in a transaction of its own, after taking the declaration's lock and checking
  // the rules under it, and records the step it makes in the declaration's history (created,
  // saved, submitted, resubmitted, withdrawn, deleted, accepted; what the work did to the unit
  // row's state decides which); commits when the work and the record succeeded, rolls back
  // otherwise. Nothing when committed; a Forbidden refusal when the rules refuse, already said
  // to the user (nothing ran); the work's refusal, or the commit's, when it failed (nothing
  // written), for the caller to say (report_write_refusal). `note` goes into the step's
  // history row as its reason (what the authority confirmed, for instance).
  std::optional<Refusal> write(const DeclarationKey& key, DeclarationChange change, const Work& work,
                               const std::string& note = {});

  // Runs the change as write() does, reads what it changed (`read` gets the step's history id,
  // inside the transaction, while the journal holds the step's rows), then rolls everything
  // back: nothing is written. Refused like write(); the work's refusal when it failed.
  using Reader = std::function<void(long long step)>;
  std::optional<Refusal> rehearse(const DeclarationKey& key, DeclarationChange change, const Work& work,
                                  const Reader& read);

  // Undoes the declaration's latest acceptance: every row it wrote, in any table, goes back to
  // what it was (from the journal), the acceptance record included, so that the declaration is
  // submitted again; the history records the reversal with `reason`. Refused like write(), and
  // with RefusalCode::Conflict, its text naming the rows (one per line), when a row the
  // acceptance wrote has been changed since: then nothing is undone.
  std::optional<Refusal> reverse(const DeclarationKey& key, const std::string& reason);

  // Sends a submitted declaration back to its unit: its state becomes a draft's again (0) and
  // the history records the return with `reason`. Refused like write().
  std::optional<Refusal> give_back(const DeclarationKey& key, const std::string& reason);

  // The declaration as the database holds it now.
  DeclarationState state(const DeclarationKey& key);
  // Whether the declaration has been accepted (rs_sb_approval holds it), as the database says
  // now.
  bool is_accepted(const DeclarationKey& key);

 private:
  bool lock(const DeclarationKey& key);
  std::optional<HostMessage> refusal(const DeclarationKey& key, DeclarationChange change,
                                     const DeclarationState& now);
  void tell(const DeclarationKey& key, DeclarationChange change, HostMessage refused);
  std::optional<Refusal> write_step(const DeclarationKey& key, DeclarationChange change, const Work& work,
                                    const std::string& reason, const Reader* rehearsal = nullptr);
  // The history row of the step about to be made (its id), or 0 when it cannot be written.
  long long open_step(const DeclarationKey& key, DeclarationChange change, const std::string& reason);
  // Says in the history which step the work made (and the new declaration's pkid).
  std::optional<Refusal> close_step(long long step, const DeclarationKey& key, DeclarationChange change,
                                    const DeclarationState& before);
  std::vector<DeclarationStep> steps_made(const DeclarationKey& key, DeclarationChange change,
                                          const DeclarationState& before);

  Session* session_;
};

// Makes `button` one whose script changes the declaration that `declaration` names when it is
// clicked: the click is refused, with the gate's message and before the script runs, when the
// user may not make `change` to it; and the button's role says whose action it is, so that
// the browser greys it for a user without the right (see also show_locked).
void guard_write_button(Control& button, DeclarationGate& gate, std::function<DeclarationKey()> declaration,
                        DeclarationChange change);
// Sets the role's note that nobody may press the button now, for a declaration in a state
// that refuses `change` (state_refusal), or clears it: the browser greys the button and says
// why.
void show_locked(Control& button, DeclarationChange change, const DeclarationState& state);

// The form of a dialog that edits one declaration's data beside its rows (the training
// subjects, the staffing figures), with its save button: read-only, and the button greyed,
// for a user who may not change the declaration; saved only through the gate.
//
//   subjects_.attach(dw_1(), *control("pb_2"));      // in the dialog's constructor
//   if (subjects_.open({"rs_w00028_com", id, unit})) ...  // may change it
//   if (auto refused = subjects_.save()) report_write_refusal(session(), *refused);
class DeclarationDialogForm {
 public:
  explicit DeclarationDialogForm(Session& session) : gate_(session) {}
  // The form and its save button (whose click script is already set).
  void attach(FormControl& form, Control& save);
  // Shows the declaration's data as this user may: false, with the form read-only, when he
  // may not change it.
  bool open(DeclarationKey declaration);
  // Writes the form's changes through the gate and commits them: nothing when saved; else
  // why not (a refusal of the gate has been said), the entries kept on screen as changes.
  std::optional<Refusal> save();

 private:
  DeclarationGate gate_;
  FormControl* form_ = nullptr;
  Control* save_ = nullptr;
  DeclarationKey declaration_;
};

// Says why a write was not made, the one way every save says it: nothing more for a refusal
// of the gate (said already); "数据已被他人修改，请重新打开后再保存！" when a row changed
// since it was read; else `failure` ("保存失败！") and the database's reason on a new line.
void report_write_refusal(Session& session, const Refusal& refused, std::string_view failure = "保存失败！");

// The refusal of a failed statement or data store update: Conflict when the store's row was
// changed by someone else since it was read, else Failed with the database's reason.
Refusal write_failure(const Transaction& sqlca, const DataStore* store = nullptr);

}  // namespace shenbao
