#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

#include "framework/runtime/sql/transaction.h"

namespace shenbao {
namespace {

// PostgreSQL type OIDs that the driver reads.
enum Oid : unsigned {
  kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kFloat4 = 700, kFloat8 = 701,
  kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700,
};

ColumnType type_from_oid(unsigned oid, int modifier) {
  switch (oid) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kBool: return {TypeKind::Long, 0};
    case kFloat4:
    case kFloat8: return {TypeKind::Number, 0};
    case kNumeric: return {TypeKind::Decimal, modifier >= 4 ? ((modifier - 4) & 0xffff) : 2};
    case kDate: return {TypeKind::Date, 0};
    case kTimestamp:
    case kTimestampTz: return {TypeKind::DateTime, 0};
    case kBpchar:
    case kVarchar: return {TypeKind::Char, modifier >= 4 ? modifier - 4 : 255};
    case kText: return {TypeKind::Char, 32766};
    default: return {TypeKind::Char, 255};
  }
}

class PgRow final : public ResultRow {
 public:
  PgRow(const PGresult* result, int row) : result_(result), row_(row) {}
  int column_count() const override { return PQnfields(result_); }
  std::string column_name(int column) const override { return PQfname(result_, column); }

  Value get(int column, const ColumnType* type) const override {
    if (PQgetisnull(result_, row_, column)) return {};
    const std::string_view text(PQgetvalue(result_, row_, column),
                                static_cast<size_t>(PQgetlength(result_, row_, column)));
    const unsigned oid = PQftype(result_, column);
    if (oid == kBool) return Value(text == "t" ? 1 : 0);
    if (type) return type->from_db_text(text);
    return type_from_oid(oid, PQfmod(result_, column)).from_db_text(text);
  }

 private:
  const PGresult* result_;
  int row_;
};

struct ResultGuard {
  PGresult* result;
  ~ResultGuard() { PQclear(result); }
};

// PostgreSQL through libpq: parameters go as text with their types (int8, float8, timestamp;
// texts and nulls untyped, so the server takes the column's type).
class PostgresDriver final : public Driver {
 public:
  explicit PostgresDriver(PGconn* conn) : conn_(conn) {}
  ~PostgresDriver() override { PQfinish(conn_); }

  Dialect dialect() const override { return Dialect::PostgreSQL; }

  Outcome run(const std::string& sql, const std::vector<Value>& params,
              const std::function<bool(const ResultRow&)>* on_row) override {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size());
    std::vector<unsigned> types(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      const Value& v = params[i];
      switch (v.kind()) {
        case ValueKind::Null: values[i] = nullptr; types[i] = 0; continue;
        case ValueKind::Long: types[i] = kInt8; break;
        case ValueKind::Number: types[i] = kFloat8; break;
        case ValueKind::Text: types[i] = 0; break;
        case ValueKind::DateTime: types[i] = kTimestamp; break;
      }
      texts[i] = v.kind() == ValueKind::DateTime ? v.as_datetime().to_sql_text() : v.to_string();
      // Parameters go as C strings: a NUL would silently cut the text there, and the server
      // could compare or store what was never sent. PostgreSQL's texts cannot hold it anyway.
      if (texts[i].find('\0') != std::string::npos)
        return {false, 0, "parameter " + std::to_string(i + 1) + " holds a NUL character", -1};
      values[i] = texts[i].c_str();
    }
    ResultGuard guard{params.empty() && !on_row
                          ? PQexec(conn_, sql.c_str())
                          : PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), types.data(),
                                         values.data(), nullptr, nullptr, 0)};
    const ExecStatusType status = PQresultStatus(guard.result);
    if (status == PGRES_TUPLES_OK) {
      if (on_row) {
        const int rows = PQntuples(guard.result);
        for (int r = 0; r < rows; ++r) {
          if (!(*on_row)(PgRow(guard.result, r))) break;
        }
      }
      return {};
    }
    if (status == PGRES_COMMAND_OK) return {true, std::atol(PQcmdTuples(guard.result)), {}, 0};
    return error(guard.result);
  }

  Outcome describe(const std::string& sql, std::vector<ResultColumn>& columns) override {
    ResultGuard prepared{PQprepare(conn_, "", sql.c_str(), 0, nullptr)};
    if (PQresultStatus(prepared.result) != PGRES_COMMAND_OK) return error(prepared.result);
    ResultGuard described{PQdescribePrepared(conn_, "")};
    if (PQresultStatus(described.result) != PGRES_COMMAND_OK) return error(described.result);
    columns.clear();
    for (int c = 0; c < PQnfields(described.result); ++c)
      columns.push_back({PQfname(described.result, c),
                         type_from_oid(PQftype(described.result, c), PQfmod(described.result, c))});
    return {};
  }

 private:
  Outcome error(const PGresult* result) const {
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    std::string text = primary ? primary : PQerrorMessage(conn_);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // SQLSTATE is five characters of 0-9A-Z: read it as a base-36 number for sqldbcode.
    const long code = state ? std::strtol(state, nullptr, 36) : -1;
    return {false, 0, text, code};
  }

  PGconn* conn_;
};

void ignore_notice(void*, const PGresult*) {}

}  // namespace

std::unique_ptr<Driver> open_postgres_driver(const std::string& url, std::string& error) {
  PGconn* conn = PQconnectdb(url.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    error = PQerrorMessage(conn);
    while (!error.empty() && error.back() == '\n') error.pop_back();
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeReceiver(conn, ignore_notice, nullptr);
  return std::make_unique<PostgresDriver>(conn);
}

}  // namespace shenbao
