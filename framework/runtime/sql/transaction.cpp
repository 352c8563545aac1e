#include "framework/runtime/sql/transaction.h"

#include <cctype>
#include <stdexcept>

namespace shenbao {
namespace {

// The statement's first word, lower case: "select", "update", ...
std::string leading_verb(std::string_view sql) {
  std::string verb;
  size_t i = sql.find_first_not_of(" \t\r\n(");
  for (; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
    verb += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i])));
  return verb;
}

bool is_name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }

// Splits a script at ";" that ends a line, outside quotes.
std::vector<std::string> split_script(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  bool in_quote = false;
  for (size_t i = 0; i < script.size(); ++i) {
    const char c = script[i];
    if (!in_quote && c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
      while (i < script.size() && script[i] != '\n') ++i;
      current += '\n';
      continue;
    }
    if (c == '\'') in_quote = !in_quote;
    if (c == ';' && !in_quote) {
      size_t j = i + 1;
      while (j < script.size() && (script[j] == ' ' || script[j] == '\t' || script[j] == '\r')) ++j;
      if (j == script.size() || script[j] == '\n' || script[j] == '-') {
        statements.push_back(current);
        current.clear();
        continue;
      }
    }
    current += c;
  }
  statements.push_back(current);
  std::vector<std::string> nonblank;
  for (auto& s : statements)
    if (s.find_first_not_of(" \t\r\n") != std::string::npos) nonblank.push_back(std::move(s));
  return nonblank;
}

}  // namespace

std::unique_ptr<Transaction> Transaction::open(const std::string& url, std::string& error) {
  std::unique_ptr<Driver> driver;
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
    driver = open_postgres_driver(url, error);
  } else {
    driver = open_sqlite_driver(url.rfind("sqlite:", 0) == 0 ? url.substr(7) : url, error);
  }
  if (!driver) return nullptr;
  return std::unique_ptr<Transaction>(new Transaction(std::move(driver)));
}

Transaction::Transaction(std::unique_ptr<Driver> driver) : driver_(std::move(driver)) {}

Transaction::~Transaction() {
  if (in_transaction_) rollback();
}

const Transaction::Numbered& Transaction::number_host_variables(std::string_view sql) {
  auto found = numbered_.find(std::string(sql));
  if (found != numbered_.end()) return found->second;
  Numbered out;
  std::vector<std::string> names;
  const char marker = dialect() == Dialect::SQLite ? '?' : '$';
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {  // copy quoted text and identifiers as they are
      const size_t end = sql.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
      out.sql.append(sql.substr(i, stop - i));
      i = stop - 1;
      continue;
    }
    if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {  // a PostgreSQL cast
      out.sql += "::";
      ++i;
      continue;
    }
    if (c == ':' && i + 1 < sql.size() && is_name_char(sql[i + 1]) &&
        !std::isdigit(static_cast<unsigned char>(sql[i + 1]))) {
      size_t j = i + 1;
      while (j < sql.size() && is_name_char(sql[j])) ++j;
      std::string name(sql.substr(i + 1, j - i - 1));
      size_t index = 0;
      while (index < names.size() && names[index] != name) ++index;
      if (index == names.size()) names.push_back(name);
      out.sql += marker;
      out.sql += std::to_string(index + 1);
      i = j - 1;
      continue;
    }
    out.sql += c;
  }
  out.names = names.size();
  if (numbered_.size() > 512) numbered_.clear();
  return numbered_.emplace(std::string(sql), std::move(out)).first->second;
}

std::string written_table(std::string_view sql) {
  size_t at = 0;
  const auto next_word = [&] {
    at = sql.find_first_not_of(" \t\r\n(", at);
    std::string word;
    for (; at < sql.size() && (is_name_char(sql[at]) || sql[at] == '.' || sql[at] == '"'); ++at) {
      if (sql[at] != '"') word += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[at])));
    }
    return word;
  };
  const std::string verb = next_word();
  std::string table;
  if (verb == "insert" || verb == "delete") {
    const std::string into = next_word();
    if (into == (verb == "insert" ? "into" : "from")) table = next_word();
  } else if (verb == "update") {
    table = next_word();
    if (table == "only") table = next_word();
  }
  // A schema-qualified name is the table's name.
  if (const size_t dot = table.rfind('.'); dot != std::string::npos) table.erase(0, dot + 1);
  return table;
}

void Transaction::protect_tables(std::function<bool(std::string_view table)> is_protected) {
  is_protected_ = std::move(is_protected);
}

bool Transaction::begin() { return begin_if_needed(); }

long Transaction::fail(const Driver::Outcome& outcome) {
  sqlcode = -1;
  sqlerrtext = outcome.error;
  sqldbcode = outcome.dbcode;
  sqlnrows = 0;
  return sqlcode;
}

bool Transaction::control(const char* sql) { return driver_->run(sql, {}, nullptr).ok; }

bool Transaction::begin_if_needed() {
  if (in_transaction_) return true;
  const auto outcome =
      driver_->run(dialect() == Dialect::SQLite ? "begin immediate" : "begin", {}, nullptr);
  if (!outcome.ok) {
    fail(outcome);
    return false;
  }
  in_transaction_ = true;
  return true;
}

long Transaction::run(std::string_view sql, const std::vector<Value>& params,
                      const std::function<bool(const ResultRow&)>* on_row) {
  const Numbered& numbered = number_host_variables(sql);
  if (numbered.names != params.size()) {
    return fail({false, 0,
                 "the statement has " + std::to_string(numbered.names) + " host variables but " +
                     std::to_string(params.size()) + " values were given",
                 0});
  }
  // Reads outside a transaction see what others committed; a write begins the transaction
  // that lasts until commit or rollback.
  const std::string verb = leading_verb(sql);
  const bool reads = verb == "select" || verb == "with";
  if (!reads && is_protected_ && permits_ == 0) {
    if (const std::string table = written_table(sql); !table.empty() && is_protected_(table)) {
      rollback();
      throw std::logic_error("a write to " + table + " went around its one writer; the transaction was rolled back");
    }
  }
  if (!reads && !begin_if_needed()) return sqlcode;
  const auto outcome = guarded([&] { return driver_->run(numbered.sql, params, on_row); });
  if (!outcome.ok) return fail(outcome);
  sqlcode = 0;
  sqlerrtext.clear();
  sqldbcode = 0;
  sqlnrows = outcome.rows_affected;
  return sqlcode;
}

long Transaction::execute(std::string_view sql, const std::vector<Value>& params) {
  if (run(sql, params, nullptr) == 0) {
    // An UPDATE or DELETE that touched nothing answers "no row", as embedded SQL does.
    const std::string verb = leading_verb(sql);
    if (sqlnrows == 0 && (verb == "update" || verb == "delete")) sqlcode = 100;
  }
  return sqlcode;
}

long Transaction::select_into(std::string_view sql, const std::vector<Value>& params, std::vector<Value>& into) {
  bool found = false;
  std::function<bool(const ResultRow&)> take_first = [&](const ResultRow& row) {
    into.clear();
    for (int c = 0; c < row.column_count(); ++c) into.push_back(row.get(c));
    found = true;
    return false;
  };
  if (run(sql, params, &take_first) == 0 && !found) sqlcode = 100;
  sqlnrows = found ? 1 : 0;
  return sqlcode;
}

long Transaction::query(std::string_view sql, const std::vector<Value>& params,
                        const std::function<bool(const ResultRow&)>& on_row) {
  long rows = 0;
  std::function<bool(const ResultRow&)> counting = [&](const ResultRow& row) {
    ++rows;
    return on_row(row);
  };
  if (run(sql, params, &counting) == 0) sqlnrows = rows;
  return sqlcode;
}

Driver::Outcome Transaction::guarded(const std::function<Driver::Outcome()>& statement) {
  // PostgreSQL aborts the whole transaction on a failed statement; a savepoint keeps the
  // failure to the statement, as SQLite does.
  const bool guard = in_transaction_ && dialect() == Dialect::PostgreSQL;
  if (guard && !control("savepoint sb_statement")) return {false, 0, "cannot set a savepoint", 0};
  auto outcome = statement();
  if (guard) control(outcome.ok ? "release savepoint sb_statement" : "rollback to savepoint sb_statement");
  return outcome;
}

long Transaction::describe(std::string_view sql, std::vector<ResultColumn>& columns) {
  const Numbered& numbered = number_host_variables(sql);
  const auto outcome = guarded([&] { return driver_->describe(numbered.sql, columns); });
  if (!outcome.ok) return fail(outcome);
  sqlcode = 0;
  sqlerrtext.clear();
  return sqlcode;
}

long Transaction::commit() { return end_transaction("commit"); }

long Transaction::rollback() { return end_transaction("rollback"); }

long Transaction::end_transaction(const char* verb) {
  if (in_transaction_) {
    const auto outcome = driver_->run(verb, {}, nullptr);
    in_transaction_ = false;
    savepoint_depth_ = 0;
    if (!outcome.ok) return fail(outcome);
  }
  sqlcode = 0;
  sqlerrtext.clear();
  return sqlcode;
}

bool Transaction::atomically(const std::function<bool()>& work) {
  if (!begin_if_needed()) return false;
  const std::string name = "sb_atomic" + std::to_string(savepoint_depth_++);
  if (!control(("savepoint " + name).c_str())) {
    --savepoint_depth_;
    return false;
  }
  const bool ok = work();
  // Keep the failed statement's status: the caller reports it.
  const long code = sqlcode;
  const std::string text = sqlerrtext;
  const long dbcode = sqldbcode;
  if (!ok) control(("rollback to savepoint " + name).c_str());
  control(("release savepoint " + name).c_str());
  --savepoint_depth_;
  sqlcode = code;
  sqlerrtext = text;
  sqldbcode = dbcode;
  return ok;
}

long Transaction::execute_script(std::string_view script) {
  // Generated keys are the one thing the two dialects spell differently.
  static constexpr std::string_view kIdentity = "@IDENTITY@";
  const std::string identity = dialect() == Dialect::SQLite ? "integer primary key autoincrement"
                                                            : "bigint generated by default as identity primary key";
  std::string text(script);
  for (size_t at = text.find(kIdentity); at != std::string::npos; at = text.find(kIdentity, at))
    text.replace(at, kIdentity.size(), identity);
  for (const auto& statement : split_script(text)) {
    if (run(statement, {}, nullptr) != 0) return sqlcode;
  }
  return sqlcode = 0;
}

}  // namespace shenbao
