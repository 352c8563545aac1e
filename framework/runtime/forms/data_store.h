#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/runtime/forms/form_def.h"
#include "framework/runtime/values/packed_row.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/values/refusal.h"

namespace shenbao {

// The form definitions of a folder (forms/NAME.form), parsed once and shared. Thread-safe.
class FormLibrary {
 public:
  explicit FormLibrary(std::string folder);
  // The definition named `name`; nullptr and an error text when it is missing or malformed.
  std::shared_ptr<const FormDef> load(std::string_view name, std::string& error) const;
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  mutable std::mutex mutex_;
  mutable std::unordered_map<std::string, std::shared_ptr<const FormDef>> cache_;
};

// The forms/ folder of the source tree, or of $SHENBAO_FORMS when that is set.
const FormLibrary& default_form_library();

enum class RowStatus : uint8_t { NotModified, DataModified, New, NewModified };
enum class Buffer { Primary, Delete, Filter };

// Rows of a form definition in memory, as form controls and data stores hold them: a primary
// buffer (the rows shown), a delete buffer (rows deleted since the last update, still to be
// deleted in the database) and a filter buffer (rows hidden by a filter).
//
//   DataStore ds(library);
//   ds.set_dataobject("d_rs_company_info");
//   ds.settransobject(sqlca);
//   if (ds.retrieve({company_num}) > 0) now = ds.getitem(1, "now_mans");
//
// Rows and columns count from 1 as window scripts count them; a column is named, or given by
// its number. Operations answer 1 (or a row number or count) on success and -1 on failure,
// with the reason in last_error(). update() writes INSERT, UPDATE and DELETE statements by the
// definition's key in one savepoint: on failure it answers -1, the database keeps nothing of
// it and the row flags stay as they were, so that a retry writes the same rows. Not
// thread-safe: a data store belongs to one session.
class DataStore {
 public:
  explicit DataStore(const FormLibrary& library = default_form_library());
  DataStore(const DataStore&) = delete;
  DataStore& operator=(const DataStore&) = delete;

  // Loads a definition by name; no rows. -1 when it cannot be loaded.
  int set_dataobject(std::string_view name);
  const std::string& dataobject() const { return dataobject_; }
  // Builds the definition from a syntax text (create). "" on success, else the error text.
  std::string create(std::string_view syntax);
  bool has_definition() const { return def_ != nullptr; }
  const FormDef& def() const { return *def_; }

  // Replaces the retrieval statement (the host fills in a category's table name).
  int setsqlselect(std::string sql);
  void settransobject(Transaction* sqlca) { sqlca_ = sqlca; }
  Transaction* transobject() const { return sqlca_; }

  long retrieve(const std::vector<Value>& arguments = {});
  const std::vector<Value>& retrieval_arguments() const { return arguments_; }
  // Reads again, through the retrieval statement and the arguments of the last retrieve, the
  // one row whose column `column` holds `key`, in place of the primary buffer's rows that hold
  // it: only that row is read, however many the statement gives. The statement must give the
  // column under the column's name. With `in_order` (whether row a belongs before row b, as
  // the statement sorts) the row goes where that order puts it, else where it was (appended
  // when it was not there). Answers its row number; 0 when the statement no longer gives it
  // (the row is gone from the buffer); -1 on failure, the rows as they were.
  using RowOrder = std::function<bool(const DataStore&, long a, long b)>;
  long reselect(std::string_view column, const Value& key, const RowOrder& in_order = nullptr);
  long rowcount() const { return static_cast<long>(primary_.size()); }
  long deletedcount() const { return static_cast<long>(deleted_.size()); }
  long filteredcount() const { return static_cast<long>(filtered_.size()); }
  // Inserts an empty row (the columns' initial values) before `before`, or appends for 0.
  long insertrow(long before);
  long deleterow(long row);
  long reset();

  // Typed cell access. setitem refuses (-1) a value of the wrong type or a text longer than
  // the column, and an unknown row or column.
  int setitem(long row, std::string_view column, Value value);
  int setitem(long row, int column, Value value);
  // Sets a value as though it had been retrieved so: the row's flags, and whether it counts
  // as modified, stay as they were (a marker column that no update writes).
  int setitem_as_retrieved(long row, std::string_view column, Value value);
  int setitem_as_retrieved(long row, int column, Value value);
  Value getitem(long row, std::string_view column, Buffer buffer = Buffer::Primary) const;
  Value getitem(long row, int column, Buffer buffer = Buffer::Primary) const;
  std::string getitemstring(long row, std::string_view column) const;
  // The value of a column or computed field by name (computed fields are evaluated).
  Value getitem_any(long row, std::string_view name) const;
  RowStatus getitemstatus(long row, Buffer buffer = Buffer::Primary) const;
  bool item_modified(long row, int column) const;

  // Writes the changes; see the class comment. With `reset_flags` false the rows keep their
  // change flags until reset_update_flags(): a caller that commits after update() drops them
  // only once the commit has succeeded, so that a commit that fails (a full disk) leaves the
  // changes to be written again.
  int update(bool reset_flags = true);
  // Writes the changes and commits the transaction: 1, the change flags dropped once the
  // commit has succeeded; -1 with last_error() after rolling back, the changes kept to be
  // written again.
  int update_and_commit();
  // Takes the entry in progress. Entries reach a store when the user leaves the cell (the
  // browser sends each one before the next action), so none is ever pending: answers 1.
  int accepttext() const { return 1; }
  // Number of new-and-changed or changed rows in the primary and filter buffers.
  long modifiedcount() const;
  // Drops all change flags: the rows become as retrieved.
  void reset_update_flags();

  // Copies rows start..end of `from_buffer` into `target` before `before` (0 appends).
  // The copies are new rows of the target.
  int rowscopy(long start, long end, Buffer from_buffer, DataStore& target, long before, Buffer to_buffer) const;
  // The first row in start..end (end may be below start, then searching backwards; an end
  // past the last row means the last row) for which the expression holds; 0 when none; -1
  // for a malformed expression.
  long find(std::string_view expression, long start, long end) const;
  // The first row of the primary buffer whose column holds `value`; 0 when none.
  long find_value(std::string_view column, const Value& value) const;
  // Moves rows that do not satisfy the filter into the filter buffer and back. An empty
  // filter shows every row.
  int setfilter(std::string_view expression);
  int filter();
  int filter_by(const std::function<bool(const DataStore&, long row)>& keep);

  int setrow(long row);
  long getrow() const { return current_row_; }
  int scrolltorow(long row) { return setrow(row); }
  int setcolumn(std::string_view column);
  int getcolumn() const { return current_column_; }
  std::string getcolumnname() const;

  // The code list of a drop-down column, created (without rows) on first use; nullptr when
  // the column has no code list. For a composite, also the rows of a nested report object
  // by its name (created without rows from its definition): rows put there are what the
  // report shows and prints in place of retrieving the nested definition.
  DataStore* getchild(std::string_view column);
  // The nested report's rows that getchild created, or nullptr.
  const DataStore* nested_report(std::string_view name) const;
  // The name shown for a drop-down column's value; the value's text when the list lacks it.
  std::string display_value(long row, int column) const;

  std::string modify(std::string_view text);
  std::string describe(std::string_view paths) const;

  // Evaluates an object property for a row: an "=expr" property's value, else its text.
  Value property_value(const FormObject& object, std::string_view property, long row,
                       const ExpressionContext* page_context = nullptr) const;
  // Computed field (by slot) or column value of a row, as expressions read them.
  Value slot_value(int slot, long row) const;
  void set_today(DateTime today) {
    today_ = today;
    touch();
  }
  DateTime today() const { return today_; }

  // Changes whenever anything a form shows of this data store may have changed: its
  // definition, rows, values, row flags, filter, current row or column, or the date its
  // expressions read. Revisions come from one counter for all data stores, so that no two
  // data stores ever show the same one, and a change anywhere makes a revision newer than
  // every earlier one.
  uint64_t revision() const { return revision_; }
  // Changes with the definition alone (set_dataobject, create, modify, setsqlselect).
  uint64_t definition_revision() const { return definition_revision_; }
  // The newest revision of its drop-down lists and nested reports, whose rows its lists and
  // display values show; 0 when it has none.
  uint64_t lists_revision() const;

  const std::string& last_error() const { return last_error_; }
  // Bytes held for rows, for the memory benchmarks.
  size_t memory_used() const;

 private:
 public:
  // Columns whose values as read must still be in the database for an update of a changed row
  // to write it (lastupdate, say), with every column the update writes (so that two changes
  // within one second of lastupdate are told apart): they join the key in the statement's
  // WHERE. An update that then finds its row changed or gone writes nothing at all and fails,
  // and update_conflict() says so until the next update.
  void set_update_check(std::vector<std::string> columns) { update_check_ = std::move(columns); }
  bool update_conflict() const { return update_conflict_; }

 private:
  std::vector<std::string> update_check_;
  bool update_conflict_ = false;
  // One row: its values packed in one allocation (rows are many), the values as read beside
  // them once a value has changed.
  struct Row {
    PackedRow values;
    PackedRow original;  // as retrieved; kept from the first change until update
    uint32_t order = 0;  // place among all rows, kept so that a filter gives rows back in place
    RowStatus status = RowStatus::NotModified;
  };
  size_t column_count() const { return def_ ? def_->columns.size() : 0; }
  std::vector<Row>& buffer(Buffer b);
  const std::vector<Row>& buffer(Buffer b) const;
  const Row* row_at(long row, Buffer b) const;
  Row new_row() const;
  int fail(std::string text) const;
  // Column `column` by name, counted from 1; 0, with the reason in last_error(), when none.
  int column_number(std::string_view column) const;
  // The row whose column `column` may take `value` (coerced to the column's type); nullptr,
  // with the reason in last_error(), when there is no such cell or the value does not fit.
  Row* settable_row(long row, int column, Value& value);
  // Uses `def` from now on, without rows.
  void take_definition(std::shared_ptr<FormDef> def, std::string name);
  // Writes a changed row's changed columns, where it still is as it was read.
  bool update_row(const Row& row);
  // The columns an insert of `row` writes, and one INSERT of `rows` (which write the same).
  std::vector<size_t> inserted_columns(const Row& row) const;
  bool insert_rows(const std::vector<const Row*>& rows, const std::vector<size_t>& columns);
  bool delete_row(const Row& row);
  std::shared_ptr<const Expression> compile(std::string_view expression, std::string& error) const;

  const FormLibrary* library_;
  std::shared_ptr<FormDef> def_;
  std::string dataobject_;
  Transaction* sqlca_ = nullptr;
  std::vector<Value> arguments_;
  std::vector<Row> primary_, deleted_, filtered_;
  std::string filter_text_;
  long current_row_ = 0;
  int current_column_ = 0;
  uint32_t next_order_ = 0;
  std::map<int, std::unique_ptr<DataStore>> children_;
  std::map<std::string, std::unique_ptr<DataStore>, std::less<>> nested_;
  DateTime today_;
  uint64_t revision_ = 0;
  uint64_t definition_revision_ = 0;
  enum class Touched { Rows, Definition };
  void touch(Touched what = Touched::Rows);
  mutable std::string last_error_;
};

// Turns what a user typed into a value of the column's type: "" is null, dates are read as
// "yyyy-mm-dd", numbers as decimals, and a text is held to the column's length. A refusal
// that says why in the user's words (not a number, not a whole number, too long, not a date)
// when it does not read.
Result<Value> parse_entry(const ColumnType& type, std::string_view text);
// Text columns of at least this many characters are long texts: they take tabs and line
// breaks; no entry takes other control characters.
inline constexpr int kLongText = 100;

// True when a code list entry `a` stands for the stored code `b`: equal values, or the same
// text when one is a number and the other a text (a whole-number column over a list of
// text codes).
bool same_code(const Value& a, const Value& b);

// Builds a definition text from a SELECT: its columns in grid or tabular style, with header
// texts. "" and an error text when the statement cannot be described.
std::string syntax_from_sql(Transaction& sqlca, std::string_view sql, std::string_view style, std::string& error);

}  // namespace shenbao
