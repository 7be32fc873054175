#include "platform/sqlite_db.h"

#include <string>

namespace quarrin {

SqliteDb::SqliteDb(const std::string& path, int busy_timeout_ms) : path_(path) {
  int rc = sqlite3_open_v2(path.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError(path_ + ": cannot open: " + msg);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busy_timeout_ms);
  try {
    // Setting the journal mode is the first access that tells a database
    // from any other file. WAL lets readers and one writer work at once;
    // NORMAL sync in WAL mode keeps every committed write through a crash of
    // the process (kill -9), only a power loss may take the last ones back.
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

SqliteDb::~SqliteDb() {
  if (db_) sqlite3_close(db_);
}

void SqliteDb::Exec(std::string_view sql) {
  SqliteStatement stmt(*this, sql);
  while (stmt.Step()) {
  }
}

int64_t SqliteDb::LastInsertRowid() const { return sqlite3_last_insert_rowid(db_); }

int SqliteDb::Changes() const { return sqlite3_changes(db_); }

void SqliteDb::Fail(std::string_view what, int rc) const {
  std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
    detail = "locked by another process (" + detail + ")";
  }
  throw StoreError(path_ + ": " + std::string(what) + ": " + detail);
}

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(db) {
  int rc = sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_,
                              nullptr);
  if (rc != SQLITE_OK) db.Fail("prepare", rc);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
  int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_.Fail("bind", rc);
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  int rc = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.Fail("bind", rc);
  return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int index, std::string_view bytes) {
  // A zero-length blob must stay a blob, not NULL.
  int rc = bytes.empty() ? sqlite3_bind_zeroblob(stmt_, index, 0)
                         : sqlite3_bind_blob(stmt_, index, bytes.data(),
                                             static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.Fail("bind", rc);
  return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
  int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) db_.Fail("bind", rc);
  return *this;
}

bool SqliteStatement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  db_.Fail("step", rc);
}

void SqliteStatement::Run() {
  while (Step()) {
  }
}

void SqliteStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t SqliteStatement::ColumnInt(int col) const { return sqlite3_column_int64(stmt_, col); }

std::string SqliteStatement::ColumnText(int col) const {
  const unsigned char* p = sqlite3_column_text(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::string SqliteStatement::ColumnBlob(int col) const {
  const void* p = sqlite3_column_blob(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

bool SqliteStatement::ColumnIsNull(int col) const {
  return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
  if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteTransaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace quarrin
