// A small RAII layer over libpq: a connection, a result, and statements
// whose values travel only as parameters ($1, $2, ...), never in the text.
//
// Values go and come as text; a null value is nullopt. Every failure throws
// PgError with the server's SQLSTATE (empty when the failure is the
// connection's), and says what was being done.
#ifndef QUARRIN_SERVER_PG_H_
#define QUARRIN_SERVER_PG_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct pg_conn;
struct pg_result;

namespace quarrin {

class PgError : public std::runtime_error {
 public:
  PgError(const std::string& message, std::string sqlstate, bool connection_lost)
      : std::runtime_error(message), sqlstate_(std::move(sqlstate)),
        connection_lost_(connection_lost) {}
  // Five characters from the server ("23505"); empty when it sent none.
  const std::string& sqlstate() const { return sqlstate_; }
  // True iff the connection is gone (or never came): the statement may not
  // have reached the server.
  bool connection_lost() const { return connection_lost_; }
  // True for a serialization failure or a deadlock: the transaction may
  // simply be run again.
  bool retryable_conflict() const { return sqlstate_ == "40001" || sqlstate_ == "40P01"; }

 private:
  std::string sqlstate_;
  bool connection_lost_;
};

using PgParams = std::vector<std::optional<std::string>>;

// The rows of a statement. Movable, not copyable.
class PgResult {
 public:
  PgResult() = default;
  explicit PgResult(pg_result* result);
  PgResult(PgResult&&) noexcept = default;
  PgResult& operator=(PgResult&&) noexcept = default;

  int rows() const;
  int columns() const;
  // The number of rows the statement changed (UPDATE, INSERT, DELETE).
  uint64_t affected() const;
  bool IsNull(int row, int column) const;
  // The text of a value; empty for null.
  std::string Text(int row, int column) const;
  std::optional<std::string> Optional(int row, int column) const;
  // REQUIRES: the value is a whole number that fits; throws PgError otherwise.
  int64_t Int64(int row, int column) const;
  // REQUIRES: the value is a boolean ("t" or "f").
  bool Bool(int row, int column) const;
  // The column's number by name; throws PgError when there is none.
  int Column(std::string_view name) const;

 private:
  struct Free {
    void operator()(pg_result* r) const;
  };
  std::unique_ptr<pg_result, Free> result_;
};

struct PgConnectOptions {
  // A postgresql:// URI or a keyword string.
  std::string conninfo;
  std::chrono::seconds connect_timeout{5};
  // Set on every session; 0: none.
  std::chrono::milliseconds statement_timeout{5000};
  std::string application_name = "quarrin-server";
  // ExecPrepared prepares a statement once per session; off, it sends the
  // text each time (a pooler in transaction mode keeps no prepared ones).
  bool prepared_statements = true;
};

// One session. Used by one thread at a time.
class PgConnection {
 public:
  // Connects; throws PgError (connection_lost) with libpq's reason. The
  // connection's password, if any, is not repeated in the message.
  static std::unique_ptr<PgConnection> Open(const PgConnectOptions& options);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs one statement with its parameters. Throws PgError.
  PgResult Exec(std::string_view sql, const PgParams& params = {});
  // The same for a statement run on every call: prepared on the session at
  // its first use and only executed after that, which spares the server
  // parsing and planning it each time.
  PgResult ExecPrepared(const std::string& sql, const PgParams& params = {});
  // Runs a text of several statements, without parameters: only for the
  // program's own texts (the schema's migrations). Throws PgError.
  void ExecScript(const std::string& sql);
  // True iff the session can no longer be used: lost, or on a server that
  // has become a read-only standby (a new connection finds the primary
  // when the connection string names every host with
  // target_session_attrs=read-write).
  bool broken() const;
  // True iff no transaction is open (nor failed) on the session.
  bool idle() const;

 private:
  explicit PgConnection(pg_conn* connection) : connection_(connection) {}
  // The result, or PgError when it is a failure.
  PgResult Checked(pg_result* raw, std::string_view sql);
  pg_conn* connection_;
  bool on_standby_ = false;
  bool prepared_statements_ = true;
  std::unordered_map<std::string, std::string> prepared_;  // text: name on the session
};

// Text of a value for a parameter.
inline std::optional<std::string> PgValue(int64_t n) { return std::to_string(n); }
inline std::optional<std::string> PgValue(std::string_view text) { return std::string(text); }
inline std::optional<std::string> PgValue(const char* text) { return std::string(text); }
inline std::optional<std::string> PgValue(bool b) { return std::string(b ? "t" : "f"); }

// A PostgreSQL array literal of texts (nullopt: NULL), for an array that
// travels as one parameter ($1::text[]).
std::string PgTextArray(const std::vector<std::optional<std::string>>& items);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_PG_H_
