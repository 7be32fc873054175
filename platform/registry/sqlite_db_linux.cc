#include "platform/registry/sqlite_db_linux.h"

#include <chrono>
#include <string>
#include <thread>

namespace quarrin {

SqliteDb::SqliteDb(const std::string& path, int busy_timeout_ms,
                   const std::function<void(SqliteDb&)>& vet)
    : path_(path) {
  int rc =
      sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError(path_ + ": cannot open: " + msg);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busy_timeout_ms);
  try {
    // Reads only, so a file that is refused here is left as it was.
    if (vet) vet(*this);
    UseWriteAheadLog(busy_timeout_ms);
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
  } catch (...) {
    cache_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

void SqliteDb::UseWriteAheadLog(int busy_timeout_ms) {
  // Setting the journal mode is the first access that tells a database from
  // any other file, and it writes nothing to a file that is not one. WAL
  // lets readers and one writer work at once; NORMAL sync in WAL mode keeps
  // every committed write through a crash of the process (kill -9), only a
  // power loss may take the last ones back.
  //
  // Turning a new file to WAL needs it to itself, and SQLite answers BUSY
  // at once, without its busy handler, while another process is opening the
  // same new file: that wait is done here.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_timeout_ms);
  for (;;) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
    std::string mode;
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        mode = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        rc = SQLITE_OK;
      }
      sqlite3_finalize(stmt);
    }
    if (rc == SQLITE_OK) {
      if (mode != "wal") {
        throw StoreError(path_ + ": cannot use write-ahead logging (journal mode " + mode + ")");
      }
      return;
    }
    if ((rc & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
      Fail("journal mode", rc);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

SqliteDb::~SqliteDb() {
  // Statements first: a connection with live statements does not close.
  cache_.clear();
  if (db_) sqlite3_close(db_);
}

void SqliteDb::Exec(std::string_view sql) {
  // Runs every statement of the text in turn.
  while (!sql.empty()) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail);
    if (rc != SQLITE_OK) Fail("prepare", rc);
    sql.remove_prefix(static_cast<size_t>(tail - sql.data()));
    if (stmt == nullptr) continue;  // only white space or a comment was left
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail("step", rc);
  }
}

SqliteCachedStatement SqliteDb::Prepared(std::string_view sql) {
  auto it = cache_.find(sql);
  if (it == cache_.end()) {
    it = cache_.emplace(std::string(sql), std::make_unique<SqliteStatement>(*this, sql)).first;
  }
  return SqliteCachedStatement(*it->second);
}

int64_t SqliteDb::LastInsertRowid() const { return sqlite3_last_insert_rowid(db_); }

int SqliteDb::Changes() const { return sqlite3_changes(db_); }

bool SqliteDb::InTransaction() const { return db_ && sqlite3_get_autocommit(db_) == 0; }

void SqliteDb::Fail(std::string_view what, int rc) const {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw StoreError(path_ + ": locked by another process");
    case SQLITE_NOTADB:
      throw StoreError(path_ + ": not a database");
    default:
      break;
  }
  std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  throw StoreError(path_ + ": " + std::string(what) + ": " + detail);
}

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(db) {
  int rc =
      sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Fail("prepare", rc);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
  int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_.Fail("bind", rc);
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  int rc =
      sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
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

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) {
  db_.Prepared("BEGIN IMMEDIATE")->Run();
}

SqliteTransaction::~SqliteTransaction() {
  if (!done_ && db_.InTransaction()) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void SqliteTransaction::Commit() {
  db_.Prepared("COMMIT")->Run();
  done_ = true;
}

}  // namespace quarrin
