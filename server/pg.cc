#include "server/pg.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>

namespace quarrin {

namespace {

// The server is no longer the primary: after a fail-over the old one comes
// back as a read-only standby. The session is of no more use, and nothing
// of the transaction was written.
bool OnStandby(const std::string& sqlstate) { return sqlstate == "25006"; }

// The connection is gone: libpq says so, or the server ended the session
// (class 08, or an administrator's or a crash's shutdown), or it is on a
// standby.
bool LostConnection(pg_conn* connection, const std::string& sqlstate) {
  return PQstatus(connection) == CONNECTION_BAD || sqlstate.rfind("08", 0) == 0 ||
         sqlstate == "57P01" || sqlstate == "57P02" || sqlstate == "57P03" || OnStandby(sqlstate);
}

std::string FirstLine(const char* text) {
  std::string line = text == nullptr ? "" : text;
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

// The statement's first words, to say which failed without quoting values
// (there are none in the text) at length.
std::string StatementHead(std::string_view sql) {
  std::string head;
  bool blank = false;
  for (char c : sql) {
    if (head.size() >= 60) {
      head += "...";
      break;
    }
    if (c == ' ' || c == '\n' || c == '\t') {
      blank = !head.empty();
      continue;
    }
    if (blank) head += ' ';
    blank = false;
    head += c;
  }
  return head;
}

// The parameters as libpq takes them; they point into `params`.
struct ParamArrays {
  explicit ParamArrays(const PgParams& params) {
    values.reserve(params.size());
    lengths.reserve(params.size());
    for (const std::optional<std::string>& p : params) {
      values.push_back(p ? p->c_str() : nullptr);
      lengths.push_back(p ? static_cast<int>(p->size()) : 0);
    }
  }
  std::vector<const char*> values;
  std::vector<int> lengths;
};

}  // namespace

PgResult::PgResult(pg_result* result) : result_(result) {}

void PgResult::Free::operator()(pg_result* r) const { PQclear(r); }

int PgResult::rows() const { return result_ ? PQntuples(result_.get()) : 0; }
int PgResult::columns() const { return result_ ? PQnfields(result_.get()) : 0; }

uint64_t PgResult::affected() const {
  if (!result_) return 0;
  const std::string_view text = PQcmdTuples(result_.get());
  uint64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

bool PgResult::IsNull(int row, int column) const {
  return PQgetisnull(result_.get(), row, column) != 0;
}

std::string PgResult::Text(int row, int column) const {
  return std::string(PQgetvalue(result_.get(), row, column),
                     static_cast<size_t>(PQgetlength(result_.get(), row, column)));
}

std::optional<std::string> PgResult::Optional(int row, int column) const {
  if (IsNull(row, column)) return std::nullopt;
  return Text(row, column);
}

int64_t PgResult::Int64(int row, int column) const {
  const std::string text = Text(row, column);
  int64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw PgError("column " + std::to_string(column) + ": '" + text + "' is not a whole number",
                  "", false);
  }
  return n;
}

bool PgResult::Bool(int row, int column) const { return Text(row, column) == "t"; }

int PgResult::Column(std::string_view name) const {
  const int n = PQfnumber(result_.get(), std::string(name).c_str());
  if (n < 0) throw PgError("no column " + std::string(name) + " in the result", "", false);
  return n;
}

std::unique_ptr<PgConnection> PgConnection::Open(const PgConnectOptions& options) {
  const std::string timeout = std::to_string(options.connect_timeout.count());
  // The statement time-out bounds the server's work; on TCP, keepalives and
  // the user time-out bound a wait on a peer or network that went away.
  const std::string user_timeout =
      std::to_string(std::max<int64_t>(options.statement_timeout.count(), 0) + 10000);
  const char* keywords[] = {"dbname",          "connect_timeout",     "application_name",
                            "keepalives",      "keepalives_idle",     "keepalives_interval",
                            "keepalives_count", "tcp_user_timeout",   nullptr};
  const char* values[] = {options.conninfo.c_str(), timeout.c_str(),
                          options.application_name.c_str(), "1", "10", "5", "3",
                          user_timeout.c_str(), nullptr};
  pg_conn* raw = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  if (raw == nullptr) throw PgError("connect to the database: out of memory", "", true);
  std::unique_ptr<PgConnection> connection(new PgConnection(raw));
  connection->prepared_statements_ = options.prepared_statements;
  if (PQstatus(raw) != CONNECTION_OK) {
    throw PgError("connect to the database: " + FirstLine(PQerrorMessage(raw)), "", true);
  }
  // Notices ("relation already exists, skipping") would go to standard error.
  connection->Exec("SELECT set_config('client_min_messages', 'warning', false)");
  // Every statement of the session is bounded; a session left inside a
  // transaction by a stuck client is ended by the server.
  const std::string statement_timeout = std::to_string(options.statement_timeout.count());
  connection->Exec("SELECT set_config('statement_timeout', $1, false)", {statement_timeout});
  connection->Exec(
      "SELECT set_config('idle_in_transaction_session_timeout', $1, false)",
      {std::to_string(std::max<int64_t>(options.statement_timeout.count() * 4, 60000))});
  return connection;
}

PgConnection::~PgConnection() { PQfinish(connection_); }

PgResult PgConnection::Exec(std::string_view sql, const PgParams& params) {
  const ParamArrays values(params);
  const std::string text(sql);
  return Checked(PQexecParams(connection_, text.c_str(), static_cast<int>(params.size()), nullptr,
                              values.values.data(), values.lengths.data(), nullptr, 0),
                 sql);
}

PgResult PgConnection::ExecPrepared(const std::string& sql, const PgParams& params) {
  if (!prepared_statements_) return Exec(sql, params);
  auto known = prepared_.find(sql);
  if (known == prepared_.end()) {
    const std::string name = "q" + std::to_string(prepared_.size() + 1);
    Checked(PQprepare(connection_, name.c_str(), sql.c_str(), static_cast<int>(params.size()),
                      nullptr),
            sql);
    known = prepared_.emplace(sql, name).first;
  }
  const ParamArrays values(params);
  return Checked(PQexecPrepared(connection_, known->second.c_str(), static_cast<int>(params.size()),
                                values.values.data(), values.lengths.data(), nullptr, 0),
                 sql);
}

void PgConnection::ExecScript(const std::string& sql) {
  // The result is the last statement's; a failing one ends the text there.
  Checked(PQexec(connection_, sql.c_str()), sql);
}

PgResult PgConnection::Checked(pg_result* raw, std::string_view sql) {
  PgResult result(raw);
  const ExecStatusType status = raw == nullptr ? PGRES_FATAL_ERROR : PQresultStatus(raw);
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  const char* state = raw == nullptr ? nullptr : PQresultErrorField(raw, PG_DIAG_SQLSTATE);
  const std::string sqlstate = state == nullptr ? "" : state;
  const char* message = raw == nullptr ? "" : PQresultErrorMessage(raw);
  const std::string reason = FirstLine(message[0] != '\0' ? message : PQerrorMessage(connection_));
  if (OnStandby(sqlstate)) on_standby_ = true;
  throw PgError(StatementHead(sql) + ": " + reason, sqlstate, LostConnection(connection_, sqlstate));
}

std::string PgTextArray(const std::vector<std::optional<std::string>>& items) {
  std::string out = "{";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    if (!items[i]) {
      out += "NULL";
      continue;
    }
    out += '"';
    for (char c : *items[i]) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "}";
}

bool PgConnection::broken() const { return on_standby_ || PQstatus(connection_) != CONNECTION_OK; }

bool PgConnection::idle() const { return PQtransactionStatus(connection_) == PQTRANS_IDLE; }

}  // namespace quarrin
