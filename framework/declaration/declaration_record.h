#pragma once

#include <functional>
#include <optional>
#include <string>

#include "framework/declaration/category.h"
#include "framework/declaration/declaration_gate.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/values/refusal.h"

namespace shenbao {

// Who writes, and when: the audit columns createby/lastupdateby and createdate/lastupdate.
struct Author {
  std::string username;
  DateTime now;
};

// The stored declarations of one category: the save, delete and accept transactions of its
// declarations, each whole or not at all, and each through the declaration gate, which
// refuses (and says why) what the session's user may not do to the declaration in the state
// it is in. Every write here commits on success and rolls back on failure, so nothing is left
// pending when the caller then talks to the user. Runs on the session's connection; one per
// window.
class DeclarationRecord {
 public:
  DeclarationRecord(Session& session, const CategoryDescriptor& category);

  const CategoryDescriptor& category() const { return *category_; }
  DeclarationGate& gate() { return gate_; }
  // The declaration of this category with that key.
  DeclarationKey key(const std::string& pkid, const std::string& company_num) const;

  // Saves the unit form's row 1, giving a new declaration its id first (written into the row's
  // pkid and into `pkid`). The audit columns are filled. Nothing on success; the refusal, with
  // the database's reason, when nothing was written.
  std::optional<Refusal> save_unit(DataStore& unit, std::string& pkid, const Author& author);
  // Saves the worker form's row 1, a row of the declaration (pkid, company_num), with its
  // audit columns; a new row takes the declaration's key. A new person of a category that
  // numbers its persons (numbers_new_persons) is numbered here, in the saving transaction:
  // the refusal says so when the unit's numbers are used up (RefusalCode::InvalidEntry, with
  // the limit's text).
  std::optional<Refusal> save_worker(DataStore& worker, const std::string& pkid, const std::string& company_num,
                                     const Author& author);
  // Deletes the declaration's unit row and all its worker rows in one transaction.
  std::optional<Refusal> remove(const std::string& pkid, const std::string& company_num);
  // Deletes the worker form's row 1.
  std::optional<Refusal> remove_worker(DataStore& worker);

  // Whether the declaration has been accepted (rs_sb_approval holds it).
  bool is_accepted(const std::string& pkid, const std::string& company_num);

  enum class Acceptance { Accepted, Refused, Failed };
  struct AcceptOutcome {
    Acceptance result = Acceptance::Failed;
    std::string reason;  // why it failed: the database's text
  };
  // Accepts the declaration: under the declaration's lock, records it in rs_sb_approval, then
  // runs `approve` (the category's statements, uncommitted; 0 or -1), and commits both or
  // neither. Refused (and said) when the user may not accept or it is accepted already. `note`
  // is recorded with the step in the history.
  AcceptOutcome accept(const std::string& pkid, const std::string& company_num, const Author& author,
                       const std::function<int()>& approve, const std::string& note = {});
  // Runs the acceptance as accept() does, hands `read` the step's history id while the journal
  // holds what it wrote, and rolls it all back.
  AcceptOutcome rehearse_acceptance(const std::string& pkid, const std::string& company_num, const Author& author,
                                    const std::function<int()>& approve, const DeclarationGate::Reader& read);

 private:
  void fill_audit(DataStore& store, bool is_new, const Author& author);
  DeclarationGate::Work acceptance(const std::string& pkid, const std::string& company_num, const Author& author,
                                   const std::function<int()>& approve);
  static AcceptOutcome outcome(const std::optional<Refusal>& refused);

  Transaction* sqlca_;
  const CategoryDescriptor* category_;
  DeclarationGate gate_;
};

// A new declaration id of ten characters, unique among every declaration whose workers live
// in the category's worker table, even when several sessions ask at once: taken from the
// worker table's counter row in the caller's transaction (its row lock holds the others
// back until commit). Numbers someone stored by other means are skipped. Empty, with
// sqlca's error, on failure.
std::string next_declaration_id(Transaction& sqlca, const CategoryDescriptor& category);

// The number for a new person of the unit: "9" and a six-digit sequence one above the
// highest code of the unit in the worker table (last six characters of the trimmed code).
// With `reserve`, the worker table's counter row is locked first, so that two sessions
// numbering persons of one table at once take turns until the first commits: call it in
// the transaction that stores the person. Empty at the limit (six digits used up); a
// refusal when the database cannot be read.
Result<std::string> next_person_code(Transaction& sqlca, const CategoryDescriptor& category,
                                     const std::string& company_num, bool reserve);

// The sequence number that follows the highest person number of a declaration table: the
// number formed by the last six characters of the trimmed code, plus 1; 1 for no code (null
// or blank). Above 999999 the six digits are used up.
long next_person_sequence(const Value& highest_code);

}  // namespace shenbao
