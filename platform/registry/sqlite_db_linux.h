// A thin RAII layer over SQLite: every statement binds its parameters and
// every return code is checked; failures become StoreError naming the file.
//
// A connection is used by one thread at a time (it is opened without SQLite's
// own mutex); sharing one between threads needs a lock around it.
#ifndef QUARRIN_PLATFORM_REGISTRY_SQLITE_DB_LINUX_H_
#define QUARRIN_PLATFORM_REGISTRY_SQLITE_DB_LINUX_H_

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/registry/registry_store.h"

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
  // Makes the statement ready to run again and clears its bindings.
  void Reset();

  int64_t ColumnInt(int col) const;
  std::string ColumnText(int col) const;
  std::string ColumnBlob(int col) const;
  bool ColumnIsNull(int col) const;

 private:
  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A statement from a connection's cache, reset when it goes out of scope so
// that it never holds a read transaction open between uses. REQUIRES: the
// same SQL text is not in use twice at once on one connection.
class SqliteCachedStatement {
 public:
  explicit SqliteCachedStatement(SqliteStatement& stmt) : stmt_(stmt) {}
  ~SqliteCachedStatement() { stmt_.Reset(); }
  SqliteCachedStatement(const SqliteCachedStatement&) = delete;
  SqliteCachedStatement& operator=(const SqliteCachedStatement&) = delete;
  SqliteStatement* operator->() const { return &stmt_; }
  SqliteStatement& operator*() const { return stmt_; }

 private:
  SqliteStatement& stmt_;
};

class SqliteDb {
 public:
  // Opens (creating when missing) the database file in WAL mode with a busy
  // timeout, so a lock held by another process is waited for a short while.
  // `vet`, when given, runs first and may only read: it throws StoreError to
  // refuse a database that belongs to something else. Throws StoreError
  // naming the file when it cannot be opened, is not a database or is
  // refused; such a file is left as it was.
  explicit SqliteDb(const std::string& path, int busy_timeout_ms = 5000,
                    const std::function<void(SqliteDb&)>& vet = nullptr);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Runs every statement of `sql`, ignoring any rows.
  void Exec(std::string_view sql);
  // The statement for `sql`, prepared on first use and kept for the life of
  // the connection.
  SqliteCachedStatement Prepared(std::string_view sql);
  int64_t LastInsertRowid() const;
  int Changes() const;
  // True while an explicit transaction is open.
  bool InTransaction() const;
  sqlite3* handle() { return db_; }
  const std::string& path() const { return path_; }

  // Throws StoreError: "<path>: locked by another process" when the lock
  // wait ran out, "<path>: not a database", else "<path>: <what>: <message>".
  [[noreturn]] void Fail(std::string_view what, int rc) const;

 private:
  void UseWriteAheadLog(int busy_timeout_ms);

  sqlite3* db_ = nullptr;
  std::string path_;
  struct SqlHash {
    using is_transparent = void;
    size_t operator()(std::string_view sql) const { return std::hash<std::string_view>{}(sql); }
  };
  std::unordered_map<std::string, std::unique_ptr<SqliteStatement>, SqlHash, std::equal_to<>>
      cache_;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back unless Commit() was called. Taking
// the write lock at BEGIN means the busy timeout covers the whole wait for
// another writer.
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

#endif  // QUARRIN_PLATFORM_REGISTRY_SQLITE_DB_LINUX_H_
