#pragma once

#include <string>
#include <vector>

#include "framework/declaration/declaration_gate.h"
#include "framework/runtime/sql/journal.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {

// One change a declaration's acceptance makes (or made) in the register, as the authority
// reads it: whose, what in words (the column's caption), before and after. A row inserted or
// deleted whole is one change, its values summed up, and marked.
struct RegisterChange {
  std::string worker_code;
  std::string worker_name;
  std::string table;   // the table's caption ("人员登记")
  std::string item;    // the column's caption, or for a whole row "新增记录" / "删除记录"
  std::string before;
  std::string after;
  std::string mark;    // "新增人员", "新增", "删除", or empty for a changed value
};

// The register changes the journal holds for one step (its history id), in the order they
// were made; the declaration tables and the acceptance record are not the register's.
std::vector<RegisterChange> register_changes(Transaction& sqlca, long long step);

// A change that an acceptance, or its reversal, made to one worker's register records.
struct WorkerChange {
  std::string at;  // when: "yyyy-mm-dd hh:mm"
  DeclarationKey declaration;
  std::string step;  // accepted or reversed
  RegisterChange change;
};

// Every change any declaration's acceptance or reversal made to the worker's register records,
// newest first; with `company_num`, only those of that unit's declarations.
std::vector<WorkerChange> worker_changes(Transaction& sqlca, const std::string& worker_code,
                                         const std::string& company_num = {});

// One line naming a journalled row in the register's words, for the user to find it:
// "人员登记 001 0010007 杨丽华：级别、职务".
std::string changed_row_text(Transaction& sqlca, const JournalRow& change);

// Whether the change added a person to the register (a row inserted into rs_main) whom a row
// of another table names by now: a reward or punishment record, another declaration. The rows
// of `declaration` itself (its unit table's worker table) do not count.
bool added_person_referenced(Transaction& sqlca, const JournalRow& change, const DeclarationKey& declaration);

// The history id of the declaration's latest acceptance; 0 when it has none.
long long latest_acceptance(Transaction& sqlca, const DeclarationKey& declaration);

}  // namespace shenbao
