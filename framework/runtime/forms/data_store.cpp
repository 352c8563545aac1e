#include "framework/runtime/forms/data_store.h"

#include <atomic>
#include <cmath>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace shenbao {

FormLibrary::FormLibrary(std::string folder) : folder_(std::move(folder)) {}

std::shared_ptr<const FormDef> FormLibrary::load(std::string_view name, std::string& error) const {
  for (char c : name) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      error = "not a form name: " + std::string(name);
      return nullptr;
    }
  }
  std::lock_guard lock(mutex_);
  if (auto found = cache_.find(std::string(name)); found != cache_.end()) return found->second;
  const std::string path = folder_ + "/" + std::string(name) + ".form";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "no form definition " + std::string(name);
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  auto def = FormDef::parse(text.str(), error);
  if (!def) {
    error = std::string(name) + ": " + error;
    return nullptr;
  }
  if (def->name.empty()) def->name = std::string(name);
  auto shared = std::make_shared<const FormDef>(std::move(*def));
  cache_.emplace(std::string(name), shared);
  return shared;
}

const FormLibrary& default_form_library() {
  static const FormLibrary library([] {
    const char* configured = std::getenv("SHENBAO_FORMS");
    return std::string(configured && *configured ? configured : SHENBAO_SOURCE_DIR "/forms");
  }());
  return library;
}

namespace {

// Evaluates expressions over one data store's primary buffer.
class StoreContext final : public ExpressionContext {
 public:
  StoreContext(const DataStore& store, const ExpressionContext* page) : store_(store), page_(page) {}
  Value slot_value(int slot, long row) const override { return store_.slot_value(slot, row); }
  long row_count() const override { return store_.rowcount(); }
  long current_row() const override { return store_.getrow(); }
  long page() const override { return page_ ? page_->page() : 1; }
  long page_count() const override { return page_ ? page_->page_count() : 1; }
  DateTime today() const override { return store_.today(); }

 private:
  const DataStore& store_;
  const ExpressionContext* page_;
};

bool is_blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

Result<Value> parse_entry(const ColumnType& type, std::string_view text) {
  auto refuse = [&](std::string text_for_user, std::string detail) {
    return Refusal::for_user(RefusalCode::InvalidEntry, std::move(text_for_user), std::move(detail));
  };
  if (type.kind != TypeKind::Char && is_blank(text)) return Value();
  if (type.kind == TypeKind::Char) {
    if (text.empty()) return Value();
    // Control characters have no place in an entry; a long text (remarks and the like) may
    // hold tabs and line breaks.
    for (unsigned char c : text) {
      const bool line = c == '\t' || c == '\n' || c == '\r';
      if ((c < 0x20 || c == 0x7F) && !(line && type.size >= kLongText))
        return refuse(line ? "此处只能输入一行文字" : "输入的内容含有不允许的控制字符",
                      "control character " + std::to_string(c) + " in an entry");
    }
    Value v(text);
    if (auto refused = type.coerce(v))
      return refuse("输入的内容太长，最多" + std::to_string(type.size) + "个字", *refused);
    return v;
  }
  const size_t first = text.find_first_not_of(' ');
  const size_t last = text.find_last_not_of(' ');
  const std::string_view trimmed = text.substr(first, last - first + 1);
  const std::string quoted = "“" + std::string(trimmed) + "”";
  if (type.is_date()) {
    if (auto dt = DateTime::parse(trimmed)) return Value(type.kind == TypeKind::Date ? dt->date() : *dt);
    return refuse(quoted + "不是日期（yyyy-mm-dd）", "\"" + std::string(trimmed) + "\" is not a date (yyyy-mm-dd)");
  }
  if (type.kind == TypeKind::Long) {
    long long v = 0;
    auto [p, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), v);
    if (ec == std::errc() && p == trimmed.data() + trimmed.size()) return Value(v);
    double d = 0;
    auto [q, dec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), d);
    const bool a_number = dec == std::errc() && q == trimmed.data() + trimmed.size();
    return refuse(quoted + (a_number ? "不是整数" : "不是数字"),
                  "\"" + std::string(trimmed) + "\" is not a whole number");
  }
  double d = 0;
  auto [p, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), d);
  if (ec == std::errc() && p == trimmed.data() + trimmed.size()) {
    Value v(d);
    if (auto refused = type.coerce(v)) return refuse(quoted + "不是数字", *refused);
    return v;
  }
  return refuse(quoted + "不是数字", "\"" + std::string(trimmed) + "\" is not a number");
}

DataStore::DataStore(const FormLibrary& library) : library_(&library) { touch(Touched::Definition); }

void DataStore::touch(Touched what) {
  static std::atomic<uint64_t> counter{0};
  revision_ = ++counter;
  if (what == Touched::Definition) definition_revision_ = revision_;
}

uint64_t DataStore::lists_revision() const {
  uint64_t newest = 0;
  for (const auto& [column, child] : children_) newest = std::max({newest, child->revision(), child->lists_revision()});
  for (const auto& [name, nested] : nested_) newest = std::max({newest, nested->revision(), nested->lists_revision()});
  return newest;
}

int DataStore::fail(std::string text) const {
  last_error_ = std::move(text);
  return -1;
}

int DataStore::set_dataobject(std::string_view name) {
  std::string error;
  auto def = library_->load(name, error);
  if (!def) return fail(error);
  take_definition(std::make_shared<FormDef>(*def), std::string(name));
  return 1;
}

void DataStore::take_definition(std::shared_ptr<FormDef> def, std::string name) {
  def_ = std::move(def);
  dataobject_ = std::move(name);
  touch(Touched::Definition);
  primary_.clear();
  deleted_.clear();
  filtered_.clear();
  children_.clear();
  nested_.clear();
  filter_text_.clear();
  current_row_ = 0;
  current_column_ = def_->columns.empty() ? 0 : 1;
}

std::string DataStore::create(std::string_view syntax) {
  std::string error;
  auto def = FormDef::parse(syntax, error);
  if (!def) return error.empty() ? "malformed form syntax" : error;
  std::string name = def->name;
  take_definition(std::make_shared<FormDef>(std::move(*def)), std::move(name));
  return {};
}

int DataStore::setsqlselect(std::string sql) {
  if (!def_) return fail("no form definition");
  touch(Touched::Definition);
  def_->retrieve_sql = std::move(sql);
  return 1;
}

std::vector<DataStore::Row>& DataStore::buffer(Buffer b) {
  return b == Buffer::Primary ? primary_ : b == Buffer::Delete ? deleted_ : filtered_;
}

const std::vector<DataStore::Row>& DataStore::buffer(Buffer b) const {
  return b == Buffer::Primary ? primary_ : b == Buffer::Delete ? deleted_ : filtered_;
}

const DataStore::Row* DataStore::row_at(long row, Buffer b) const {
  const auto& rows = buffer(b);
  if (row < 1 || row > static_cast<long>(rows.size())) return nullptr;
  return &rows[static_cast<size_t>(row - 1)];
}

long DataStore::retrieve(const std::vector<Value>& arguments) {
  if (!def_) return fail("no form definition");
  if (!sqlca_) return fail("no transaction: call settransobject first");
  const bool composite = def_->style == Style::Composite && def_->retrieve_sql.empty();
  if (def_->retrieve_sql.empty() && !composite) return fail(dataobject_ + " has no retrieval statement");
  if (arguments.size() != def_->arguments.size())
    return fail(dataobject_ + " takes " + std::to_string(def_->arguments.size()) + " arguments, " +
                std::to_string(arguments.size()) + " given");
  touch();
  std::vector<Value> args = arguments;
  for (size_t i = 0; i < args.size(); ++i) {
    if (auto refused = def_->arguments[i].type.coerce(args[i]))
      return fail("argument " + def_->arguments[i].name + ": " + *refused);
  }
  if (composite) {
    // A composite of nested reports has no rows of its own: it keeps the arguments its
    // reports are retrieved with, and one row that stands for the whole.
    arguments_ = std::move(args);
    reset();
    Row row;
    std::string nulls;
    for (size_t c = 0; c < column_count(); ++c) PackedRow::append(nulls, Value());
    row.values = PackedRow(nulls);
    row.order = next_order_++;
    primary_.push_back(std::move(row));
    current_row_ = 1;
    return 1;
  }
  std::vector<Row> rows;
  rows.reserve(primary_.size() + filtered_.size());  // retrieved again, most lists keep their length
  const auto& columns = def_->columns;
  std::string mismatch;
  std::string packed;
  const long code = sqlca_->query(def_->retrieve_sql, args, [&](const ResultRow& result) {
    if (result.column_count() < static_cast<int>(columns.size())) {
      mismatch = "the retrieval statement gives " + std::to_string(result.column_count()) + " columns, the form has " +
                 std::to_string(columns.size());
      return false;
    }
    Row row;
    row.order = static_cast<uint32_t>(rows.size());
    packed.clear();
    for (size_t c = 0; c < columns.size(); ++c) result.append_packed(static_cast<int>(c), columns[c].type, packed);
    row.values = PackedRow(packed);
    rows.push_back(std::move(row));
    return true;
  });
  if (code < 0) return fail(sqlca_->sqlerrtext);
  if (!mismatch.empty()) return fail(mismatch);
  arguments_ = std::move(args);
  next_order_ = static_cast<uint32_t>(rows.size());
  rows.shrink_to_fit();
  primary_ = std::move(rows);
  deleted_.clear();
  filtered_.clear();
  current_row_ = primary_.empty() ? 0 : 1;
  if (!filter_text_.empty()) filter();
  return rowcount();
}

long DataStore::reselect(std::string_view column, const Value& key, const RowOrder& in_order) {
  if (!def_) return fail("no form definition");
  if (!sqlca_) return fail("no transaction: call settransobject first");
  if (def_->retrieve_sql.empty()) return fail(dataobject_ + " has no retrieval statement");
  const int index = def_->column_index(column);
  if (index < 0) return fail("no column " + std::string(column) + " in " + dataobject_);
  const auto& columns = def_->columns;
  std::vector<Value> args = arguments_;
  args.push_back(key);
  // The key's host variable is the statement's last new name, so it takes the last argument.
  const std::string sql = "select * from (" + def_->retrieve_sql + ") reselected where reselected." +
                          std::string(column) + " = :reselected_key";
  std::string packed;
  bool found = false;
  const long code = sqlca_->query(sql, args, [&](const ResultRow& result) {
    if (result.column_count() < static_cast<int>(columns.size())) return false;
    for (size_t c = 0; c < columns.size(); ++c) result.append_packed(static_cast<int>(c), columns[c].type, packed);
    found = true;
    return false;
  });
  if (code < 0) return fail(sqlca_->sqlerrtext);
  touch();
  const auto holds_key = [&](const Row& row) { return row.values.get(static_cast<size_t>(index)) == key; };
  const auto was = std::find_if(primary_.begin(), primary_.end(), holds_key);
  long place = was == primary_.end() ? rowcount() + 1 : static_cast<long>(was - primary_.begin()) + 1;
  Row row;
  row.order = was == primary_.end() ? next_order_++ : was->order;
  std::erase_if(primary_, holds_key);
  if (!found) {
    current_row_ = std::min(current_row_, rowcount());
    return 0;
  }
  row.values = PackedRow(packed);
  primary_.push_back(std::move(row));
  const long self = rowcount();
  if (in_order) {
    place = self;
    for (long r = 1; r < self; ++r) {
      if (in_order(*this, self, r)) {
        place = r;
        break;
      }
    }
  }
  place = std::min(place, self);
  std::rotate(primary_.begin() + (place - 1), primary_.end() - 1, primary_.end());
  if (current_row_ == 0) current_row_ = 1;
  return place;
}

DataStore::Row DataStore::new_row() const {
  Row row;
  row.status = RowStatus::New;
  std::string packed;
  for (size_t c = 0; c < column_count(); ++c) PackedRow::append(packed, def_->columns[c].initial.value_or(Value()));
  row.values = PackedRow(packed);
  return row;
}

long DataStore::insertrow(long before) {
  if (!def_) return fail("no form definition");
  if (before < 0 || before > rowcount()) return fail("no row " + std::to_string(before));
  const size_t at = before == 0 ? primary_.size() : static_cast<size_t>(before - 1);
  touch();
  Row row = new_row();
  row.order = next_order_++;
  primary_.insert(primary_.begin() + static_cast<long>(at), std::move(row));
  if (current_row_ == 0) current_row_ = 1;
  return static_cast<long>(at + 1);
}

long DataStore::deleterow(long row) {
  if (row == 0) row = current_row_;
  if (!row_at(row, Buffer::Primary)) return fail("no row " + std::to_string(row));
  touch();
  Row removed = std::move(primary_[static_cast<size_t>(row - 1)]);
  primary_.erase(primary_.begin() + (row - 1));
  if (removed.status != RowStatus::New && removed.status != RowStatus::NewModified) deleted_.push_back(std::move(removed));
  if (current_row_ > rowcount()) current_row_ = rowcount();
  return 1;
}

long DataStore::reset() {
  touch();
  primary_.clear();
  deleted_.clear();
  filtered_.clear();
  current_row_ = 0;
  return 1;
}

int DataStore::column_number(std::string_view column) const {
  if (!def_) {
    fail("no form definition");
    return 0;
  }
  const int index = def_->column_index(column);
  if (index < 0) {
    fail("no column " + std::string(column) + " in " + dataobject_);
    return 0;
  }
  return index + 1;
}

DataStore::Row* DataStore::settable_row(long row, int column, Value& value) {
  if (!def_) {
    fail("no form definition");
    return nullptr;
  }
  if (column < 1 || column > static_cast<int>(def_->columns.size())) {
    fail("no column " + std::to_string(column) + " in " + dataobject_);
    return nullptr;
  }
  if (!row_at(row, Buffer::Primary)) {
    fail("no row " + std::to_string(row) + " in " + dataobject_);
    return nullptr;
  }
  const ColumnDef& def = def_->columns[static_cast<size_t>(column - 1)];
  if (auto refused = def.type.coerce(value)) {
    fail(def.name + ": " + *refused);
    return nullptr;
  }
  return &primary_[static_cast<size_t>(row - 1)];
}

int DataStore::setitem(long row, std::string_view column, Value value) {
  const int number = column_number(column);
  return number > 0 ? setitem(row, number, std::move(value)) : -1;
}

int DataStore::setitem(long row, int column, Value value) {
  Row* target = settable_row(row, column, value);
  if (!target) return -1;
  touch();
  if (target->status == RowStatus::NotModified || target->status == RowStatus::DataModified) {
    if (!target->original) target->original = target->values;
    target->status = RowStatus::DataModified;
  } else {
    target->status = RowStatus::NewModified;
  }
  target->values.set(static_cast<size_t>(column - 1), value);
  return 1;
}

int DataStore::setitem_as_retrieved(long row, std::string_view column, Value value) {
  const int number = column_number(column);
  return number > 0 ? setitem_as_retrieved(row, number, std::move(value)) : -1;
}

int DataStore::setitem_as_retrieved(long row, int column, Value value) {
  Row* target = settable_row(row, column, value);
  if (!target) return -1;
  const size_t c = static_cast<size_t>(column - 1);
  if (target->values.get(c) == value) return 1;
  touch();
  if (target->original) target->original.set(c, value);
  target->values.set(c, value);
  return 1;
}

Value DataStore::getitem(long row, std::string_view column, Buffer buffer) const {
  if (!def_) return {};
  const int index = def_->column_index(column);
  if (index < 0) {
    fail("no column " + std::string(column) + " in " + dataobject_);
    return {};
  }
  return getitem(row, index + 1, buffer);
}

Value DataStore::getitem(long row, int column, Buffer buffer) const {
  const Row* r = row_at(row, buffer);
  if (!r || column < 1 || column > static_cast<int>(column_count())) return {};
  return r->values.get(static_cast<size_t>(column - 1));
}

std::string DataStore::getitemstring(long row, std::string_view column) const {
  const Value v = getitem(row, column);
  return v.is_null() ? std::string() : v.to_string();
}

Value DataStore::getitem_any(long row, std::string_view name) const {
  if (!def_) return {};
  const int slot = def_->resolve_slot(name);
  return slot < 0 ? Value() : slot_value(slot, row);
}

RowStatus DataStore::getitemstatus(long row, Buffer buffer) const {
  const Row* r = row_at(row, buffer);
  return r ? r->status : RowStatus::NotModified;
}

bool DataStore::item_modified(long row, int column) const {
  const Row* r = row_at(row, Buffer::Primary);
  if (!r || column < 1 || column > static_cast<int>(column_count())) return false;
  const size_t c = static_cast<size_t>(column - 1);
  if (r->status == RowStatus::NewModified) return !r->values.get(c).is_null();
  return r->original && !(r->values.get(c) == r->original.get(c));
}

long DataStore::modifiedcount() const {
  long n = 0;
  for (const auto* rows : {&primary_, &filtered_}) {
    for (const Row& r : *rows) n += r.status == RowStatus::DataModified || r.status == RowStatus::NewModified;
  }
  return n;
}

int DataStore::update_and_commit() {
  if (!sqlca_) return fail("no transaction: call settransobject first");
  if (update(false) != 1) {
    sqlca_->rollback();
    return -1;
  }
  if (sqlca_->commit() != 0) {
    const std::string reason = sqlca_->sqlerrtext;
    sqlca_->rollback();
    return fail(reason);
  }
  reset_update_flags();
  return 1;
}

void DataStore::reset_update_flags() {
  touch();
  deleted_.clear();
  for (auto* rows : {&primary_, &filtered_}) {
    for (Row& r : *rows) {
      r.original = PackedRow();
      r.status = RowStatus::NotModified;
    }
  }
}

bool DataStore::delete_row(const Row& row) {
  std::string where;
  std::vector<Value> params;
  const std::vector<Value> keys = (row.original ? row.original : row.values).unpack();
  for (size_t c = 0; c < def_->columns.size(); ++c) {
    const ColumnDef& column = def_->columns[c];
    if (!column.key) continue;
    where += (where.empty() ? "" : " and ") + column.dbname + " = :k" + std::to_string(c);
    params.push_back(keys[c]);
  }
  sqlca_->execute("delete from " + def_->update_table + " where " + where, params);
  if (sqlca_->sqlcode < 0) return false;
  return true;
}

std::vector<size_t> DataStore::inserted_columns(const Row& row) const {
  std::vector<size_t> columns;
  for (size_t c = 0; c < def_->columns.size(); ++c) {
    const ColumnDef& column = def_->columns[c];
    // A key the form does not write and the row leaves empty is the table's own to give
    // (a generated pk_id).
    if (column.updatable || (column.key && !row.values.get(c).is_null())) columns.push_back(c);
  }
  return columns;
}

bool DataStore::insert_rows(const std::vector<const Row*>& rows, const std::vector<size_t>& columns) {
  std::string names;
  for (size_t c : columns) names += (names.empty() ? "" : ", ") + def_->columns[c].dbname;
  std::string sql = "insert into " + def_->update_table + " (" + names + ") values ";
  std::vector<Value> params;
  params.reserve(rows.size() * columns.size());
  std::vector<Value> values;
  for (size_t r = 0; r < rows.size(); ++r) {
    sql += r == 0 ? "(" : ", (";
    values = rows[r]->values.unpack();
    for (size_t i = 0; i < columns.size(); ++i) {
      sql += (i == 0 ? ":v" : ", :v") + std::to_string(columns[i]) + '_' + std::to_string(r);
      params.push_back(std::move(values[columns[i]]));
    }
    sql += ')';
  }
  sqlca_->execute(sql, params);
  return sqlca_->sqlcode >= 0;
}

bool DataStore::update_row(const Row& row) {
  const std::vector<Value> values = row.values.unpack();
  const std::vector<Value> original = row.original.unpack();
  std::vector<Value> params;
  std::string sets, where;
  for (size_t c = 0; c < def_->columns.size(); ++c) {
    const ColumnDef& column = def_->columns[c];
    if (!column.updatable || values[c] == original[c]) continue;
    sets += (sets.empty() ? "" : ", ") + column.dbname + " = :v" + std::to_string(c);
    params.push_back(values[c]);
  }
  if (sets.empty()) return true;
  for (size_t c = 0; c < def_->columns.size(); ++c) {
    if (!def_->columns[c].key) continue;
    where += (where.empty() ? "" : " and ") + def_->columns[c].dbname + " = :k" + std::to_string(c);
    params.push_back(original[c]);
  }
  std::vector<bool> checked(def_->columns.size(), false);
  if (!update_check_.empty()) {
    for (const std::string& name : update_check_) {
      const int c = def_->column_index(name);
      if (c >= 0) checked[static_cast<size_t>(c)] = true;
    }
    for (size_t c = 0; c < def_->columns.size(); ++c) {
      const ColumnDef& column = def_->columns[c];
      if (column.updatable && !(values[c] == original[c])) checked[c] = true;
    }
  }
  for (size_t c = 0; c < def_->columns.size(); ++c) {
    if (!checked[c] || def_->columns[c].key) continue;
    const ColumnDef& column = def_->columns[c];
    const Value& read = original[c];
    if (read.is_null()) {
      where += " and " + column.dbname + " is null";
    } else if (read.kind() != ValueKind::Number) {  // a float read back need not compare equal
      where += " and " + column.dbname + " = :o" + std::to_string(c);
      params.push_back(read);
    }
  }
  const std::string sql = "update " + def_->update_table + " set " + sets + " where " + where;
  sqlca_->execute(sql, params);
  if (sqlca_->sqlcode < 0) return false;
  if (sqlca_->sqlnrows == 0) {
    // The row is gone or changed since it was retrieved: nothing was written.
    update_conflict_ = true;
    sqlca_->sqlcode = -1;
    sqlca_->sqlerrtext = "the row changed between retrieve and update";
    return false;
  }
  return true;
}

int DataStore::update(bool reset_flags) {
  if (!def_) return fail("no form definition");
  if (!sqlca_) return fail("no transaction: call settransobject first");
  if (def_->update_table.empty()) return fail(dataobject_ + " has no update table");
  bool has_key = false;
  for (const auto& column : def_->columns) has_key |= column.key;
  if (!has_key) return fail(dataobject_ + " has no key columns");
  update_conflict_ = false;
  touch();
  const bool ok = sqlca_->atomically([&] {
    for (const Row& row : deleted_) {
      if (!delete_row(row)) return false;
    }
    // New rows go many to a statement while they write the same columns (at most 64, and
    // about a thousand values); a batch cut short goes row by row, so that a form has no
    // more than two insert statements to prepare.
    std::vector<const Row*> batch;
    std::vector<size_t> batch_columns;
    auto full = [&] { return std::clamp<size_t>(1000 / std::max<size_t>(1, batch_columns.size()), 1, 64); };
    auto flush = [&] {
      bool written = batch.size() == full() ? insert_rows(batch, batch_columns) : true;
      for (size_t r = 0; written && batch.size() < full() && r < batch.size(); ++r)
        written = insert_rows({batch[r]}, batch_columns);
      batch.clear();
      return written;
    };
    for (const auto* rows : {&primary_, &filtered_}) {
      for (const Row& row : *rows) {
        if (row.status == RowStatus::NewModified) {
          std::vector<size_t> columns = inserted_columns(row);
          if (!batch.empty() && columns != batch_columns && !flush()) return false;
          batch_columns = std::move(columns);
          batch.push_back(&row);
          if (batch.size() == full() && !flush()) return false;
        } else if (row.status == RowStatus::DataModified) {
          if (!flush() || !update_row(row)) return false;
        }
      }
    }
    return flush();
  });
  if (!ok) return fail(sqlca_->sqlerrtext);
  if (reset_flags) reset_update_flags();
  return 1;
}

int DataStore::rowscopy(long start, long end, Buffer from_buffer, DataStore& target, long before,
                        Buffer to_buffer) const {
  const auto& source = buffer(from_buffer);
  if (!def_ || !target.def_) return fail("no form definition");
  if (start < 1 || end < start || end > static_cast<long>(source.size())) return fail("no such rows");
  auto& destination = target.buffer(to_buffer);
  // Row `before` may be one past the last: the copies are added at the end (as into an
  // empty form at row 1).
  if (before < 0 || before > static_cast<long>(destination.size()) + 1)
    return fail("no row " + std::to_string(before));
  const size_t at = before == 0 ? destination.size() : static_cast<size_t>(before - 1);
  std::vector<Row> copies;
  for (long r = start; r <= end; ++r) {
    Row copy;
    const std::vector<Value> values = source[static_cast<size_t>(r - 1)].values.unpack();
    std::string packed;
    for (size_t c = 0; c < target.column_count(); ++c) {
      Value v = c < values.size() ? values[c] : Value();
      // A value the target's column cannot hold stops the copy: nothing is lost silently.
      if (auto refused = target.def_->columns[c].type.coerce(v))
        return fail("row " + std::to_string(r) + ", column " + target.def_->columns[c].name + ": " + *refused);
      PackedRow::append(packed, v);
    }
    copy.values = PackedRow(packed);
    copy.status = RowStatus::NewModified;
    copy.order = target.next_order_++;
    copies.push_back(std::move(copy));
  }
  target.touch();
  destination.insert(destination.begin() + static_cast<long>(at), std::make_move_iterator(copies.begin()),
                     std::make_move_iterator(copies.end()));
  if (target.current_row_ == 0 && !target.primary_.empty()) target.current_row_ = 1;
  return 1;
}

std::shared_ptr<const Expression> DataStore::compile(std::string_view expression, std::string& error) const {
  const FormDef* def = def_.get();
  return Expression::parse(expression, [def](std::string_view name) { return def->resolve_slot(name); }, error);
}

long DataStore::find(std::string_view expression, long start, long end) const {
  if (!def_) return fail("no form definition");
  std::string error;
  auto compiled = compile(expression, error);
  if (!compiled) return fail(error);
  const long n = rowcount();
  if (n == 0) return 0;
  // The direction comes from the rows as asked (an end past the last row searches forward),
  // then both ends are kept within the rows.
  const long step = end >= start ? 1 : -1;
  if (step > 0 && start > n) return 0;
  if (step < 0 && start < 1) return 0;
  start = std::clamp(start, 1L, n);
  end = std::clamp(end, 1L, n);
  StoreContext context(*this, nullptr);
  for (long r = start;; r += step) {
    if (Expression::truthy(compiled->evaluate(context, r))) return r;
    if (r == end) break;
  }
  return 0;
}

long DataStore::find_value(std::string_view column, const Value& value) const {
  if (!def_) return 0;
  const int index = def_->column_index(column);
  if (index < 0) return 0;
  for (size_t r = 0; r < primary_.size(); ++r) {
    if (primary_[r].values.get(static_cast<size_t>(index)) == value) return static_cast<long>(r + 1);
  }
  return 0;
}

int DataStore::setfilter(std::string_view expression) {
  if (!def_) return fail("no form definition");
  if (!is_blank(expression)) {
    std::string error;
    if (!compile(expression, error)) return fail(error);
  }
  filter_text_ = std::string(expression);
  touch();
  return 1;
}

int DataStore::filter() {
  if (!def_) return fail("no form definition");
  if (is_blank(filter_text_)) return filter_by([](const DataStore&, long) { return true; });
  std::string error;
  auto compiled = compile(filter_text_, error);
  if (!compiled) return fail(error);
  return filter_by([&](const DataStore& store, long row) {
    StoreContext context(store, nullptr);
    return Expression::truthy(compiled->evaluate(context, row));
  });
}

int DataStore::filter_by(const std::function<bool(const DataStore&, long row)>& keep) {
  touch();
  // Bring every row back in its place, then hide those that fail.
  std::vector<Row> all = std::move(primary_);
  all.insert(all.end(), std::make_move_iterator(filtered_.begin()), std::make_move_iterator(filtered_.end()));
  std::stable_sort(all.begin(), all.end(), [](const Row& a, const Row& b) { return a.order < b.order; });
  primary_ = std::move(all);
  filtered_.clear();
  // Every row is judged before any moves, as a condition may read other rows (sum(), count()).
  std::vector<bool> kept(primary_.size());
  for (long r = 1; r <= rowcount(); ++r) kept[static_cast<size_t>(r - 1)] = keep(*this, r);
  std::vector<Row> shown;
  for (size_t i = 0; i < primary_.size(); ++i) (kept[i] ? shown : filtered_).push_back(std::move(primary_[i]));
  primary_ = std::move(shown);
  current_row_ = primary_.empty() ? 0 : std::min(std::max(current_row_, 1L), rowcount());
  return 1;
}

int DataStore::setrow(long row) {
  if (row < 1 || row > rowcount()) return fail("no row " + std::to_string(row));
  if (current_row_ != row) touch();
  current_row_ = row;
  return 1;
}

int DataStore::setcolumn(std::string_view column) {
  if (!def_) return fail("no form definition");
  const int index = def_->column_index(column);
  if (index < 0) return fail("no column " + std::string(column));
  if (current_column_ != index + 1) touch();
  current_column_ = index + 1;
  return 1;
}

std::string DataStore::getcolumnname() const {
  if (!def_ || current_column_ < 1 || current_column_ > static_cast<int>(def_->columns.size())) return {};
  return def_->columns[static_cast<size_t>(current_column_ - 1)].name;
}

DataStore* DataStore::getchild(std::string_view column) {
  if (!def_) return nullptr;
  const int index = def_->column_index(column);
  if (index < 0) {
    if (auto found = nested_.find(column); found != nested_.end()) return found->second.get();
    for (const auto& object : def_->objects) {
      if (object.kind != ObjectKind::Report || object.name != column) continue;
      auto nested = std::make_unique<DataStore>(*library_);
      if (nested->set_dataobject(object.get("form")) < 0) {
        fail(nested->last_error());
        return nullptr;
      }
      nested->settransobject(sqlca_);
      return nested_.emplace(std::string(column), std::move(nested)).first->second.get();
    }
    return nullptr;
  }
  if (auto found = children_.find(index); found != children_.end()) return found->second.get();
  const FormObject* shown = nullptr;
  for (const auto& object : def_->objects) {
    if (object.kind == ObjectKind::Column && object.column == index) shown = &object;
  }
  if (!shown) return nullptr;
  const std::string list = shown->get("dddw.name");
  if (list.empty()) return nullptr;
  auto child = std::make_unique<DataStore>(*library_);
  if (child->set_dataobject(list) < 0) {
    fail(child->last_error());
    return nullptr;
  }
  child->settransobject(sqlca_);
  return children_.emplace(index, std::move(child)).first->second.get();
}

const DataStore* DataStore::nested_report(std::string_view name) const {
  const auto found = nested_.find(name);
  return found == nested_.end() ? nullptr : found->second.get();
}

bool same_code(const Value& a, const Value& b) {
  if (a == b) return true;
  if (a.is_null() || b.is_null() || a.kind() == b.kind()) return false;
  return a.to_string() == b.to_string();
}

std::string DataStore::display_value(long row, int column) const {
  const Value v = getitem(row, column);
  if (v.is_null()) return {};
  if (auto found = children_.find(column - 1); found != children_.end()) {
    const FormObject* shown = nullptr;
    for (const auto& object : def_->objects) {
      if (object.kind == ObjectKind::Column && object.column == column - 1) shown = &object;
    }
    const DataStore& list = *found->second;
    if (shown && list.def_) {
      const int data = list.def_->column_index(shown->get("dddw.data"));
      const int display = list.def_->column_index(shown->get("dddw.display"));
      if (data >= 0 && display >= 0) {
        // Hidden (filtered) entries still name their codes.
        for (const auto* rows : {&list.primary_, &list.filtered_}) {
          for (const Row& r : *rows) {
            if (same_code(r.values.get(static_cast<size_t>(data)), v))
              return r.values.get(static_cast<size_t>(display)).to_string();
          }
        }
      }
    }
  }
  return v.to_string();
}

std::string DataStore::modify(std::string_view text) {
  if (!def_) return "no form definition";
  touch(Touched::Definition);
  return def_->modify(text);
}

std::string DataStore::describe(std::string_view paths) const {
  if (!def_) return "!";
  return def_->describe(paths);
}

Value DataStore::slot_value(int slot, long row) const {
  if (!def_) return {};
  if (slot >= 0 && slot < static_cast<int>(def_->columns.size())) return getitem(row, slot + 1);
  const FormObject* compute = def_->compute_for_slot(slot);
  if (!compute) return {};
  const ObjectProperty* expression = compute->find("expression");
  if (!expression || !expression->expression) return {};
  StoreContext context(*this, nullptr);
  return expression->expression->evaluate(context, row);
}

Value DataStore::property_value(const FormObject& object, std::string_view property, long row,
                                const ExpressionContext* page_context) const {
  const ObjectProperty* p = object.find(property);
  if (!p) return {};
  if (!p->expression) return Value(p->text);
  StoreContext context(*this, page_context);
  return p->expression->evaluate(context, row);
}

size_t DataStore::memory_used() const {
  size_t bytes = 0;
  for (const auto* rows : {&primary_, &deleted_, &filtered_}) {
    bytes += rows->capacity() * sizeof(Row);
    for (const Row& r : *rows) bytes += r.values.memory_used() + r.original.memory_used();
  }
  return bytes;
}

std::string syntax_from_sql(Transaction& sqlca, std::string_view sql, std::string_view style, std::string& error) {
  std::vector<ResultColumn> columns;
  if (sqlca.describe(sql, columns) < 0) {
    error = sqlca.sqlerrtext;
    return {};
  }
  const bool tabular = style.find("tabular") != std::string_view::npos;
  // "units=fine" in the style asks for the definition in the finer units (see unit_scale).
  const bool fine = style.find("units=fine") != std::string_view::npos;
  const double sx = fine ? 32.0 / 7.0 : 1, sy = fine ? 4 : 1;
  auto across = [&](int px) { return std::to_string(static_cast<int>(std::lround(px * sx))); };
  auto down = [&](int px) { return std::to_string(static_cast<int>(std::lround(px * sy))); };
  std::vector<Statement> out;
  out.push_back({"form", {{"style", tabular ? "tabular" : "grid", false}}});
  if (fine) out.back().properties.push_back({"units", "fine", false});
  out.push_back({"header", {{"height", down(24), false}}});
  out.push_back({"detail", {{"height", down(24), false}}});
  out.push_back({"table", {{"retrieve", std::string(sql), true}}});
  int x = 4;
  std::vector<Statement> headers;
  int unnamed = 0;
  for (auto column : columns) {
    // A result column without a name of its own (an unaliased expression such as count(*))
    // is named compute_0001, compute_0002, ...
    const bool is_name = !column.name.empty() && !std::isdigit(static_cast<unsigned char>(column.name[0])) &&
                         std::all_of(column.name.begin(), column.name.end(), [](char c) {
                           const auto b = static_cast<unsigned char>(c);
                           return std::isalnum(b) || c == '_' || b >= 0x80;  // 姓名 is a name too
                         });
    if (!is_name) {
      const std::string n = std::to_string(++unnamed);
      column.name = "compute_" + std::string(4 - std::min<size_t>(4, n.size()), '0') + n;
    }
    const int width = column.type.is_text() ? std::min(240, std::max(60, column.type.size * 8)) : 90;
    out.push_back({"column",
                   {{"name", column.name, false},
                    {"type", column.type.to_string(), false},
                    {"band", "detail", false},
                    {"x", across(x), false},
                    {"y", down(2), false},
                    {"width", across(width), false},
                    {"height", down(20), false}}});
    headers.push_back({"text",
                       {{"name", column.name + "_t", false},
                        {"band", "header", false},
                        {"x", across(x), false},
                        {"y", down(2), false},
                        {"width", across(width), false},
                        {"height", down(20), false},
                        {"text", column.name, true}}});
    x += width + 4;
  }
  out.insert(out.end(), headers.begin(), headers.end());
  return print_statements(out);
}

}  // namespace shenbao
