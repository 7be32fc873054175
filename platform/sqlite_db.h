// A thin RAII layer over SQLite: every statement binds its parameters and
// every return code is checked; failures become StoreError naming the file.
#ifndef QUARRIN_PLATFORM_SQLITE_DB_H_
#define QUARRIN_PLATFORM_SQLITE_DB_H_

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry_store.h"

namespace quarrin {

class SqliteDb;

// One prepared statement. Bind indexes start at 1, column indexes at 0.
class SqliteStatement {
 public:
  SqliteStatement(SqliteDb& db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  SqliteStatement& Bind(int index, int64_t value);
  SqliteStatement& Bind(int index, std::string_view text);
  SqliteStatement& BindBlob(int index, std::string_view bytes);
  SqliteStatement& BindNull(int index);

  // Steps once: true when a row is ready, false when done.
  bool Step();
  // Steps to the end, for statements without rows.
  void Run();
  void Reset();

  int64_t ColumnInt(int col) const;
  std::string ColumnText(int col) const;
  std::string ColumnBlob(int col) const;
  bool ColumnIsNull(int col) const;

 private:
  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  // Opens (creating when missing) the database file in WAL mode with a busy
  // timeout, so a lock held by another process is waited for a short while.
  explicit SqliteDb(const std::string& path, int busy_timeout_ms = 5000);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  void Exec(std::string_view sql);
  int64_t LastInsertRowid() const;
  int Changes() const;
  sqlite3* handle() { return db_; }
  const std::string& path() const { return path_; }

  // Throws StoreError("<path>: <what>: <sqlite message>").
  [[noreturn]] void Fail(std::string_view what, int rc) const;

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back unless Commit() was called.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void Commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SQLITE_DB_H_
