// The registry store in one SQLite file.
//
// Every key is a row of `keys` holding its own name (as created and folded)
// and its whole folded path, so that finding a key, or a value of a key, is
// one indexed lookup and one statement, which SQLite runs on one snapshot.
// The unique path index also keeps (parent, folded name) unique. A subtree is
// the range of paths that begin with the key's path and a backslash, and is
// deleted with one statement however deep it goes; values go with their key
// through ON DELETE CASCADE. Values keep creation order in `seq`, the rowid:
// a new row always gets a rowid above every row present.
//
// Threads: each operation borrows a connection from a small pool, so readers
// run side by side (WAL) and one writer at a time holds the write lock, taken
// at BEGIN IMMEDIATE. Processes: the same lock, waited for up to the busy
// timeout.
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/registry/registry_store.h"
#include "platform/registry/sqlite_db_linux.h"

namespace quarrin {
namespace {

// Marks a file as this store ("QREG"); a database without it that already
// holds tables belongs to something else and is refused.
constexpr int64_t kApplicationId = 0x51524547;
constexpr int64_t kSchemaVersion = 1;

constexpr char kSchema[] = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY,
  parent_id INTEGER REFERENCES keys(id),
  root INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_folded TEXT NOT NULL,
  path_folded TEXT NOT NULL);
CREATE UNIQUE INDEX keys_by_path ON keys(root, path_folded);
CREATE UNIQUE INDEX keys_by_parent ON keys(parent_id, name_folded);
CREATE TABLE key_values(
  seq INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  name_folded TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX key_values_by_name ON key_values(key_id, name_folded);
INSERT INTO keys(id, parent_id, root, name, name_folded, path_folded)
  VALUES (1, NULL, 0, '', '', ''), (2, NULL, 1, '', '', ''), (3, NULL, 2, '', '', '');
)sql";

int64_t RootCode(RootKey root) { return static_cast<int64_t>(root); }

// The names of a path, or nothing when one of them is empty.
std::optional<std::vector<std::string_view>> SplitPath(std::string_view path) {
  std::vector<std::string_view> names;
  if (path.empty()) return names;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (name.empty()) return std::nullopt;
    names.push_back(name);
    if (end == std::string_view::npos) return names;
    start = end + 1;
  }
}

// The operations proper, on a connection the caller holds. Writes expect the
// caller to have begun the transaction.

std::optional<int64_t> FindKey(SqliteDb& db, RootKey root, std::string_view folded_path) {
  auto q = db.Prepared("SELECT id FROM keys WHERE root = ?1 AND path_folded = ?2");
  q->Bind(1, RootCode(root)).Bind(2, folded_path);
  if (!q->Step()) return std::nullopt;
  return q->ColumnInt(0);
}

bool DoKeyExists(SqliteDb& db, RootKey root, std::string_view path) {
  return FindKey(db, root, FoldName(path)).has_value();
}

bool DoCreateKey(SqliteDb& db, RootKey root, std::string_view path) {
  if (KeyPathProblem(path)) return false;
  auto names = SplitPath(path);
  if (!names) return false;
  int64_t parent = RootCode(root) + 1;  // the root's own row
  std::string folded_path;
  for (std::string_view name : *names) {
    std::string folded = FoldName(name);
    if (!folded_path.empty()) folded_path += '\\';
    folded_path += folded;
    if (auto id = FindKey(db, root, folded_path)) {
      parent = *id;
      continue;
    }
    auto insert = db.Prepared(
        "INSERT INTO keys(parent_id, root, name, name_folded, path_folded)"
        " VALUES (?1, ?2, ?3, ?4, ?5)");
    insert->Bind(1, parent)
        .Bind(2, RootCode(root))
        .Bind(3, name)
        .Bind(4, folded)
        .Bind(5, folded_path);
    insert->Run();
    parent = db.LastInsertRowid();
  }
  return true;
}

bool DoDeleteKey(SqliteDb& db, RootKey root, std::string_view path) {
  if (path.empty()) return false;  // a root stays
  // '[' .. ']' brackets '\\' in byte order: the range holds exactly the
  // paths that continue the key's path with a backslash.
  auto del = db.Prepared(
      "DELETE FROM keys WHERE root = ?1 AND (path_folded = ?2 OR"
      " (path_folded >= ?2 || '\\' AND path_folded < ?2 || ']'))");
  del->Bind(1, RootCode(root)).Bind(2, FoldName(path));
  del->Run();
  return db.Changes() > 0;
}

std::vector<std::string> DoSubkeyNames(SqliteDb& db, RootKey root, std::string_view path) {
  auto q = db.Prepared(
      "SELECT c.name FROM keys p JOIN keys c ON c.parent_id = p.id"
      " WHERE p.root = ?1 AND p.path_folded = ?2 ORDER BY c.id");
  q->Bind(1, RootCode(root)).Bind(2, FoldName(path));
  std::vector<std::string> names;
  while (q->Step()) names.push_back(q->ColumnText(0));
  return names;
}

std::optional<RegValue> DoGetValue(SqliteDb& db, RootKey root, std::string_view path,
                                   std::string_view name) {
  auto q = db.Prepared(
      "SELECT v.type, v.data FROM keys k JOIN key_values v ON v.key_id = k.id"
      " WHERE k.root = ?1 AND k.path_folded = ?2 AND v.name_folded = ?3");
  q->Bind(1, RootCode(root)).Bind(2, FoldName(path)).Bind(3, FoldName(name));
  if (!q->Step()) return std::nullopt;
  return RegValue{static_cast<ValueType>(q->ColumnInt(0)), q->ColumnBlob(1)};
}

bool DoSetValue(SqliteDb& db, RootKey root, std::string_view path, std::string_view name,
                const RegValue& value) {
  if (ValueNameProblem(name)) return false;
  auto key = FindKey(db, root, FoldName(path));
  if (!key) return false;
  // An existing value keeps its row, hence its place and the case of its name.
  auto upsert = db.Prepared(
      "INSERT INTO key_values(key_id, name, name_folded, type, data)"
      " VALUES (?1, ?2, ?3, ?4, ?5)"
      " ON CONFLICT(key_id, name_folded) DO UPDATE SET type = excluded.type, data = excluded.data");
  upsert->Bind(1, *key)
      .Bind(2, name)
      .Bind(3, FoldName(name))
      .Bind(4, static_cast<int64_t>(value.type))
      .BindBlob(5, value.data);
  upsert->Run();
  return true;
}

bool DoDeleteValue(SqliteDb& db, RootKey root, std::string_view path, std::string_view name) {
  auto del = db.Prepared(
      "DELETE FROM key_values WHERE name_folded = ?3 AND key_id ="
      " (SELECT id FROM keys WHERE root = ?1 AND path_folded = ?2)");
  del->Bind(1, RootCode(root)).Bind(2, FoldName(path)).Bind(3, FoldName(name));
  del->Run();
  return db.Changes() > 0;
}

std::vector<std::string> DoValueNames(SqliteDb& db, RootKey root, std::string_view path) {
  auto q = db.Prepared(
      "SELECT v.name FROM keys k JOIN key_values v ON v.key_id = k.id"
      " WHERE k.root = ?1 AND k.path_folded = ?2 ORDER BY v.seq");
  q->Bind(1, RootCode(root)).Bind(2, FoldName(path));
  std::vector<std::string> names;
  while (q->Step()) names.push_back(q->ColumnText(0));
  return names;
}

std::vector<NamedValue> DoValues(SqliteDb& db, RootKey root, std::string_view path) {
  auto q = db.Prepared(
      "SELECT v.name, v.type, v.data FROM keys k JOIN key_values v ON v.key_id = k.id"
      " WHERE k.root = ?1 AND k.path_folded = ?2 ORDER BY v.seq");
  q->Bind(1, RootCode(root)).Bind(2, FoldName(path));
  std::vector<NamedValue> values;
  while (q->Step()) {
    values.push_back(
        {q->ColumnText(0), RegValue{static_cast<ValueType>(q->ColumnInt(1)), q->ColumnBlob(2)}});
  }
  return values;
}

int64_t PragmaInt(SqliteDb& db, std::string_view pragma) {
  SqliteStatement q(db, pragma);
  return q.Step() ? q.ColumnInt(0) : 0;
}

// Refuses, before anything is written to it, a database that is not this
// store: one marked for something else, or unmarked but holding tables.
void VetDatabase(SqliteDb& db) {
  // One statement, so both are read from one snapshot: another process may
  // be creating the tables and marking the file at this moment.
  SqliteStatement q(db,
                    "SELECT application_id, (SELECT count(*) FROM sqlite_schema)"
                    " FROM pragma_application_id");
  if (!q.Step()) throw StoreError(db.path() + ": cannot read the application id");
  const int64_t id = q.ColumnInt(0);
  if (id == kApplicationId) return;
  if (id != 0 || q.ColumnInt(1) != 0) {
    throw StoreError(db.path() + ": not a registry store (a database of something else)");
  }
}

// Creates the tables in a new file; checks the layout of an existing one.
void PrepareSchema(SqliteDb& db) {
  if (PragmaInt(db, "PRAGMA application_id") != kApplicationId) {
    SqliteTransaction txn(db);  // another process may be creating it right now
    if (PragmaInt(db, "PRAGMA application_id") != kApplicationId) {
      VetDatabase(db);
      db.Exec(kSchema);
      db.Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
      db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    }
    txn.Commit();
  }
  const int64_t version = PragmaInt(db, "PRAGMA user_version");
  if (version != kSchemaVersion) {
    throw StoreError(db.path() + ": registry store of an unknown layout (version " +
                     std::to_string(version) + ")");
  }
}

// What one connection has read, kept while nothing has been committed since.
// Reads that hit it cost one PRAGMA data_version instead of their queries.
class ReadCache {
 public:
  // Forgets everything when another connection, of this process or another,
  // has committed since the last check. Writes through this connection, which
  // data_version does not count, clear the cache themselves.
  void Revalidate(SqliteDb& db) {
    auto q = db.Prepared("PRAGMA data_version");
    const int64_t version = q->Step() ? q->ColumnInt(0) : -1;
    if (version != version_ || version == -1) {
      Clear();
      version_ = version;
    }
  }

  void Clear() {
    keys_.clear();
    entries_ = 0;
  }

  std::optional<bool> Exists(RootKey root, std::string_view folded_path) const {
    const KeyEntry* key = Find(root, folded_path);
    return key ? key->exists : std::nullopt;
  }
  void SetExists(RootKey root, std::string_view folded_path, bool exists) {
    Entry(root, folded_path).exists = exists;
  }

  // The cached answer for a value: nullptr when not cached; a nullopt inside
  // when cached as missing.
  const std::optional<RegValue>* FindValue(RootKey root, std::string_view folded_path,
                                           const std::string& folded_name) const {
    const KeyEntry* key = Find(root, folded_path);
    if (!key) return nullptr;
    auto it = key->values.find(folded_name);
    return it == key->values.end() ? nullptr : &it->second;
  }
  void PutValue(RootKey root, std::string_view folded_path, std::string folded_name,
                std::optional<RegValue> value) {
    KeyEntry& key = Entry(root, folded_path);
    ++entries_;
    key.values.insert_or_assign(std::move(folded_name), std::move(value));
  }

 private:
  struct KeyEntry {
    std::optional<bool> exists;
    std::unordered_map<std::string, std::optional<RegValue>> values;  // by folded name
  };

  static std::string Id(RootKey root, std::string_view folded_path) {
    std::string id(1, static_cast<char>('0' + RootCode(root)));
    id += folded_path;
    return id;
  }

  const KeyEntry* Find(RootKey root, std::string_view folded_path) const {
    auto it = keys_.find(Id(root, folded_path));
    return it == keys_.end() ? nullptr : &it->second;
  }

  // The entry of the key, made when missing. Room is made first, so that
  // the reference returned stays good until the next call.
  KeyEntry& Entry(RootKey root, std::string_view folded_path) {
    if (entries_ + 1 > kMaxEntries) Clear();  // a bound, not an eviction policy
    std::string id = Id(root, folded_path);
    auto it = keys_.find(id);
    if (it != keys_.end()) return it->second;
    ++entries_;
    return keys_[std::move(id)];
  }

  static constexpr size_t kMaxEntries = 65536;
  int64_t version_ = -1;
  size_t entries_ = 0;
  std::unordered_map<std::string, KeyEntry> keys_;
};

struct Connection {
  Connection(const std::string& path, int busy_timeout_ms)
      : db(path, busy_timeout_ms, VetDatabase) {}
  SqliteDb db;
  ReadCache cache;
};

// Connections not in use, each with its prepared statements and read cache.
class ConnectionPool {
 public:
  ConnectionPool(std::string path, int busy_timeout_ms)
      : path_(std::move(path)), busy_timeout_ms_(busy_timeout_ms) {}

  class Lease {
   public:
    Lease(ConnectionPool& pool, std::unique_ptr<Connection> c) : pool_(pool), c_(std::move(c)) {}
    ~Lease() { pool_.Return(std::move(c_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Connection* operator->() const { return c_.get(); }

   private:
    ConnectionPool& pool_;
    std::unique_ptr<Connection> c_;
  };

  Lease Acquire() {
    {
      std::lock_guard lock(mu_);
      if (!idle_.empty()) {
        auto c = std::move(idle_.back());
        idle_.pop_back();
        return Lease(*this, std::move(c));
      }
    }
    return Lease(*this, Open());
  }

  std::unique_ptr<Connection> Open() const {
    return std::make_unique<Connection>(path_, busy_timeout_ms_);
  }

  void Return(std::unique_ptr<Connection> c) {
    // A connection left inside a transaction (its rollback failed) is not
    // trusted again; closing it ends the transaction.
    if (!c || c->db.InTransaction()) return;
    std::lock_guard lock(mu_);
    if (idle_.size() < kMaxIdle) idle_.push_back(std::move(c));
  }

 private:
  static constexpr size_t kMaxIdle = 8;
  const std::string path_;
  const int busy_timeout_ms_;
  std::mutex mu_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

// The store seen from inside one transaction on one connection.
class TransactionView final : public RegistryStore {
 public:
  explicit TransactionView(SqliteDb& db) : db_(db) {}

  bool KeyExists(RootKey root, std::string_view path) override {
    return DoKeyExists(db_, root, path);
  }
  bool CreateKey(RootKey root, std::string_view path) override {
    return DoCreateKey(db_, root, path);
  }
  bool DeleteKey(RootKey root, std::string_view path) override {
    return DoDeleteKey(db_, root, path);
  }
  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) override {
    return DoSubkeyNames(db_, root, path);
  }
  std::optional<RegValue> GetValue(RootKey root, std::string_view path,
                                   std::string_view name) override {
    return DoGetValue(db_, root, path, name);
  }
  bool SetValue(RootKey root, std::string_view path, std::string_view name,
                const RegValue& value) override {
    return DoSetValue(db_, root, path, name, value);
  }
  bool DeleteValue(RootKey root, std::string_view path, std::string_view name) override {
    return DoDeleteValue(db_, root, path, name);
  }
  std::vector<std::string> ValueNames(RootKey root, std::string_view path) override {
    return DoValueNames(db_, root, path);
  }
  std::vector<NamedValue> Values(RootKey root, std::string_view path) override {
    return DoValues(db_, root, path);
  }
  void Atomically(const std::function<void(RegistryStore&)>& changes) override {
    changes(*this);  // already inside the transaction
  }

 private:
  SqliteDb& db_;
};

class SqliteRegistryStore final : public RegistryStore {
 private:
  template <typename F>
  auto Read(F&& f) {
    auto c = pool_.Acquire();
    return f(c->db);
  }

  // Writers of this process take turns on a mutex: waiting there hands over
  // at once, while SQLite's own wait for a lock sleeps in steps of
  // milliseconds. The file lock still orders them against other processes.
  template <typename F>
  auto Write(F&& f) {
    if (writer_ == std::this_thread::get_id()) {
      throw StoreError("registry store: a write inside Atomically must use the view it is given");
    }
    std::lock_guard lock(write_mu_);
    writer_ = std::this_thread::get_id();
    auto c = pool_.Acquire();
    struct Done {
      std::atomic<std::thread::id>& writer;
      ReadCache& cache;
      ~Done() {
        cache.Clear();
        writer = std::thread::id();
      }
    } done{writer_, c->cache};
    SqliteTransaction txn(c->db);
    auto result = f(c->db);
    txn.Commit();
    return result;
  }

 public:
  SqliteRegistryStore(const std::string& path, int busy_timeout_ms) : pool_(path, busy_timeout_ms) {
    auto c = pool_.Open();
    PrepareSchema(c->db);
    pool_.Return(std::move(c));
  }

  bool KeyExists(RootKey root, std::string_view path) override {
    auto c = pool_.Acquire();
    c->cache.Revalidate(c->db);
    const std::string folded = FoldName(path);
    if (std::optional<bool> cached = c->cache.Exists(root, folded)) return *cached;
    const bool exists = FindKey(c->db, root, folded).has_value();
    c->cache.SetExists(root, folded, exists);
    return exists;
  }
  bool CreateKey(RootKey root, std::string_view path) override {
    if (!SplitPath(path)) return false;
    return Write([&](SqliteDb& db) { return DoCreateKey(db, root, path); });
  }
  bool DeleteKey(RootKey root, std::string_view path) override {
    return Write([&](SqliteDb& db) { return DoDeleteKey(db, root, path); });
  }
  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) override {
    return Read([&](SqliteDb& db) { return DoSubkeyNames(db, root, path); });
  }
  std::optional<RegValue> GetValue(RootKey root, std::string_view path,
                                   std::string_view name) override {
    auto c = pool_.Acquire();
    c->cache.Revalidate(c->db);
    const std::string folded_path = FoldName(path);
    std::string folded_name = FoldName(name);
    if (const std::optional<RegValue>* cached =
            c->cache.FindValue(root, folded_path, folded_name)) {
      return *cached;
    }
    std::optional<RegValue> value = DoGetValue(c->db, root, path, name);
    c->cache.PutValue(root, folded_path, std::move(folded_name), value);
    return value;
  }
  bool SetValue(RootKey root, std::string_view path, std::string_view name,
                const RegValue& value) override {
    return Write([&](SqliteDb& db) { return DoSetValue(db, root, path, name, value); });
  }
  bool DeleteValue(RootKey root, std::string_view path, std::string_view name) override {
    return Write([&](SqliteDb& db) { return DoDeleteValue(db, root, path, name); });
  }
  std::vector<std::string> ValueNames(RootKey root, std::string_view path) override {
    return Read([&](SqliteDb& db) { return DoValueNames(db, root, path); });
  }
  std::vector<NamedValue> Values(RootKey root, std::string_view path) override {
    return Read([&](SqliteDb& db) { return DoValues(db, root, path); });
  }
  void Atomically(const std::function<void(RegistryStore&)>& changes) override {
    Write([&](SqliteDb& db) {
      TransactionView view(db);
      changes(view);
      return true;
    });
  }

 private:
  ConnectionPool pool_;
  std::mutex write_mu_;
  std::atomic<std::thread::id> writer_;  // the thread holding write_mu_
};

}  // namespace

std::unique_ptr<RegistryStore> OpenSqliteRegistryStore(const std::string& db_path,
                                                       int busy_timeout_ms) {
  return std::make_unique<SqliteRegistryStore>(db_path, busy_timeout_ms);
}

}  // namespace quarrin
