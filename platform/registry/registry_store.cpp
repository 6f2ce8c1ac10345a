#include "registry_store.h"

#include <sqlite3.h>

#include <cassert>
#include <chrono>
#include <cstring>
#include <thread>

#include "wstring.h"

namespace cehost {

namespace {

// The store's SQL texts. Statements are cached by the address of their text, so each text is
// one named constant.
constexpr char kSqlFindChild[] = "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2";
constexpr char kSqlKeyExists[] = "SELECT 1 FROM keys WHERE id = ?1";
constexpr char kSqlInsertKey[] =
    "INSERT INTO keys(parent, name, fold, written) VALUES (?1, ?2, ?3, ?4)";
constexpr char kSqlTouch[] = "UPDATE keys SET written = ?2 WHERE id = ?1";
constexpr char kSqlDeleteTreeValues[] =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    "DELETE FROM vals WHERE key IN sub";
constexpr char kSqlDeleteTreeKeys[] =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    "DELETE FROM keys WHERE id IN sub";
constexpr char kSqlQueryValue[] = "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2";
constexpr char kSqlSetValue[] =
    "INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
constexpr char kSqlDeleteValue[] = "DELETE FROM vals WHERE key = ?1 AND fold = ?2";
constexpr char kSqlEnumKey[] =
    "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2";
constexpr char kSqlEnumValue[] =
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2";
constexpr char kSqlKeyStats[] =
    "SELECT count(*), ifnull(max(length(name)), 0) FROM keys WHERE parent = ?1";
constexpr char kSqlValueStats[] =
    "SELECT count(*), ifnull(max(length(name)), 0), ifnull(max(length(data)), 0) "
    "FROM vals WHERE key = ?1";
constexpr char kSqlWritten[] = "SELECT written FROM keys WHERE id = ?1";

constexpr char kSchema[] =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name BLOB NOT NULL, fold BLOB NOT NULL, written INTEGER NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " name BLOB NOT NULL, fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " UNIQUE(key, fold));"
    "PRAGMA user_version = 1;";
constexpr int kSchemaVersion = 1;

const char16_t* const kRootNames[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                      u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"};

std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = towlower(c);
  return folded;
}

int64_t Now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME ToFileTime(int64_t t) {
  const uint64_t u = static_cast<uint64_t>(t);
  return FILETIME{static_cast<DWORD>(u), static_cast<DWORD>(u >> 32)};
}

}  // namespace

LONG ErrorFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_BUSY;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_CANTOPEN: return ERROR_CANTOPEN;
    case SQLITE_NOTADB: return ERROR_BADDB;
    case SQLITE_CORRUPT: return ERROR_REGISTRY_CORRUPT;
    case SQLITE_READONLY:
    case SQLITE_PERM: return ERROR_CANTWRITE;
    default: return ERROR_REGISTRY_IO_FAILED;
  }
}

// One use of a cached prepared statement: binds, steps, reads columns; resets on scope exit.
class RegistryStore::Statement {
 public:
  Statement(RegistryStore& store, const char* sql) : stmt_(store.Prepare(sql)), db_(store.db_) {}
  ~Statement() {
    if (stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Int(int index, int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, v);
    return *this;
  }
  // Binds bytes; an empty span is bound as an empty blob, never as NULL.
  Statement& Blob(int index, const void* data, size_t size) {
    static const char kEmpty = 0;
    if (stmt_) sqlite3_bind_blob64(stmt_, index, size ? data : &kEmpty, size, SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Text(int index, std::u16string_view text) {
    return Blob(index, text.data(), text.size() * sizeof(char16_t));
  }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  [[nodiscard]] int Step() {
    if (stmt_) return sqlite3_step(stmt_);
    const int rc = sqlite3_errcode(db_);  // why the statement could not be prepared
    return rc != SQLITE_OK ? rc : SQLITE_ERROR;
  }

  int64_t ColumnInt(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::vector<BYTE> ColumnBytes(int col) const {
    const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, col));
    const int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
  }
  std::u16string ColumnText(int col) const {
    const void* p = sqlite3_column_blob(stmt_, col);
    const size_t n = static_cast<size_t>(sqlite3_column_bytes(stmt_, col)) / sizeof(char16_t);
    std::u16string s(n, u'\0');
    if (p && n) std::memcpy(s.data(), p, n * sizeof(char16_t));
    return s;
  }

 private:
  sqlite3_stmt* stmt_;
  sqlite3* db_;
};

// One transaction: BEGIN IMMEDIATE for writers (they wait for the write lock at the start,
// so two writers never deadlock upgrading read locks), BEGIN for readers (a consistent view).
// Rolled back unless committed.
class RegistryStore::Transaction {
 public:
  Transaction(RegistryStore& store, bool write) : db_(store.db_) {
    status_ = ErrorFromSqlite(sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr,
                                           nullptr, nullptr));
    open_ = status_ == ERROR_SUCCESS;
  }
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  LONG status() const { return status_; }
  // Ends the transaction with `result`: commits on success, else rolls back. Returns the
  // result, or the commit's error.
  LONG Finish(LONG result) {
    if (result != ERROR_SUCCESS || !open_) return result;
    open_ = false;
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return ErrorFromSqlite(rc);
    }
    return ERROR_SUCCESS;
  }

 private:
  sqlite3* db_;
  LONG status_;
  bool open_ = false;
};

std::unique_ptr<RegistryStore> RegistryStore::Open(const std::string& path, LONG* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    *error = ERROR_CANTOPEN;
    sqlite3_close_v2(db);
    return nullptr;
  }
  std::unique_ptr<RegistryStore> store(new RegistryStore(db));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Switching a new file to WAL and creating the schema report SQLITE_BUSY at once, without
  // waiting, while another process does the same; so the set-up is retried here for as long
  // as any other lock would be waited for.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  LONG r;
  while ((r = store->SetUp()) == ERROR_BUSY && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  *error = r;
  if (r != ERROR_SUCCESS) return nullptr;
  return store;
}

LONG RegistryStore::SetUp() {
  // WAL: readers never block the writer or each other, so processes that only read settings
  // do not stall a writer. synchronous=FULL syncs the log at every commit, so a write that
  // returned success survives a killed process and a power loss alike.
  const int rc = sqlite3_exec(db_, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;",
                              nullptr, nullptr, nullptr);
  return rc != SQLITE_OK ? ErrorFromSqlite(rc) : CreateSchema();
}

RegistryStore::RegistryStore(sqlite3* db) : db_(db) {}

RegistryStore::~RegistryStore() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

LONG RegistryStore::CreateSchema() {
  Transaction tx(*this, true);
  if (tx.status() != ERROR_SUCCESS) return tx.status();
  sqlite3_stmt* version = nullptr;
  int rc = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version, nullptr);
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  rc = sqlite3_step(version);
  const int current = rc == SQLITE_ROW ? sqlite3_column_int(version, 0) : -1;
  sqlite3_finalize(version);
  if (current == kSchemaVersion) return tx.Finish(ERROR_SUCCESS);
  if (current != 0) return current < 0 ? ErrorFromSqlite(rc) : ERROR_BADDB;
  rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  for (int i = 0; i < 4; ++i) {
    const std::u16string_view name = kRootNames[i];
    sqlite3_stmt* insert = nullptr;
    rc = sqlite3_prepare_v2(db_, "INSERT INTO keys(id, parent, name, fold, written) "
                            "VALUES (?1, 0, ?2, ?3, ?4)", -1, &insert, nullptr);
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
    const std::u16string folded = Fold(name);
    sqlite3_bind_int64(insert, 1, i + 1);
    sqlite3_bind_blob(insert, 2, name.data(), static_cast<int>(name.size() * 2), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, folded.data(), static_cast<int>(folded.size() * 2), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 4, Now());
    rc = sqlite3_step(insert);
    sqlite3_finalize(insert);
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  }
  return tx.Finish(ERROR_SUCCESS);
}

sqlite3_stmt* RegistryStore::Prepare(const char* sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
    return nullptr;
  statements_.emplace(sql, stmt);
  return stmt;
}

LONG RegistryStore::CheckKey(KeyId key) {
  Statement s(*this, kSqlKeyExists);
  const int rc = s.Int(1, key).Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : ErrorFromSqlite(rc);
}

LONG RegistryStore::FindChild(KeyId parent, std::u16string_view name, KeyId* child) {
  Statement s(*this, kSqlFindChild);
  const int rc = s.Int(1, parent).Text(2, Fold(name)).Step();
  *child = rc == SQLITE_ROW ? s.ColumnInt(0) : 0;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

LONG RegistryStore::Resolve(KeyId key, const std::vector<std::u16string_view>& path,
                            KeyId* result) {
  for (std::u16string_view part : path) {
    KeyId child;
    const LONG r = FindChild(key, part, &child);
    if (r != ERROR_SUCCESS) return r;
    if (child == 0) return ERROR_FILE_NOT_FOUND;
    key = child;
  }
  *result = key;
  return ERROR_SUCCESS;
}

LONG RegistryStore::Touch(KeyId key) {
  Statement s(*this, kSqlTouch);
  return ErrorFromSqlite(s.Int(1, key).Int(2, Now()).Step());
}

LONG RegistryStore::CreateKey(KeyId key, const std::vector<std::u16string_view>& path,
                              KeyId* result, bool* created) {
  Transaction tx(*this, true);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  *created = false;
  for (size_t i = 0; r == ERROR_SUCCESS && i < path.size(); ++i) {
    KeyId child;
    r = FindChild(key, path[i], &child);
    if (r != ERROR_SUCCESS) break;
    if (child == 0) {
      Statement s(*this, kSqlInsertKey);
      const int rc = s.Int(1, key).Text(2, path[i]).Text(3, Fold(path[i])).Int(4, Now()).Step();
      if (rc != SQLITE_DONE) {
        r = ErrorFromSqlite(rc);
        break;
      }
      child = sqlite3_last_insert_rowid(db_);
      r = Touch(key);
      *created = true;
    }
    key = child;
  }
  r = tx.Finish(r);
  if (r == ERROR_SUCCESS) *result = key;
  return r;
}

LONG RegistryStore::OpenKey(KeyId key, const std::vector<std::u16string_view>& path,
                            KeyId* result) {
  Transaction tx(*this, false);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) r = Resolve(key, path, result);
  return tx.Finish(r);
}

LONG RegistryStore::DeleteKey(KeyId key, const std::vector<std::u16string_view>& path) {
  assert(!path.empty());
  Transaction tx(*this, true);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  KeyId parent = 0, target = 0;
  if (r == ERROR_SUCCESS)
    r = Resolve(key, std::vector<std::u16string_view>(path.begin(), path.end() - 1), &parent);
  if (r == ERROR_SUCCESS) r = FindChild(parent, path.back(), &target);
  if (r == ERROR_SUCCESS && target == 0) r = ERROR_FILE_NOT_FOUND;
  if (r == ERROR_SUCCESS) {
    Statement values(*this, kSqlDeleteTreeValues);
    r = ErrorFromSqlite(values.Int(1, target).Step());
  }
  if (r == ERROR_SUCCESS) {
    Statement keys(*this, kSqlDeleteTreeKeys);
    r = ErrorFromSqlite(keys.Int(1, target).Step());
  }
  if (r == ERROR_SUCCESS) r = Touch(parent);
  return tx.Finish(r);
}

LONG RegistryStore::QueryValue(KeyId key, std::u16string_view name, RegistryValue* value) {
  Transaction tx(*this, false);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlQueryValue);
    const int rc = s.Int(1, key).Text(2, Fold(name)).Step();
    if (rc == SQLITE_ROW) {
      value->name = s.ColumnText(0);
      value->type = static_cast<DWORD>(s.ColumnInt(1));
      value->data = s.ColumnBytes(2);
    } else {
      r = rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ErrorFromSqlite(rc);
    }
  }
  return tx.Finish(r);
}

LONG RegistryStore::SetValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data,
                             DWORD size) {
  Transaction tx(*this, true);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlSetValue);
    r = ErrorFromSqlite(
        s.Int(1, key).Text(2, name).Text(3, Fold(name)).Int(4, type).Blob(5, data, size).Step());
  }
  if (r == ERROR_SUCCESS) r = Touch(key);
  return tx.Finish(r);
}

LONG RegistryStore::DeleteValue(KeyId key, std::u16string_view name) {
  Transaction tx(*this, true);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlDeleteValue);
    r = ErrorFromSqlite(s.Int(1, key).Text(2, Fold(name)).Step());
    if (r == ERROR_SUCCESS && sqlite3_changes(db_) == 0) r = ERROR_FILE_NOT_FOUND;
  }
  if (r == ERROR_SUCCESS) r = Touch(key);
  return tx.Finish(r);
}

LONG RegistryStore::EnumKey(KeyId key, DWORD index, std::u16string* name, FILETIME* written) {
  Transaction tx(*this, false);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlEnumKey);
    const int rc = s.Int(1, key).Int(2, index).Step();
    if (rc == SQLITE_ROW) {
      *name = s.ColumnText(0);
      *written = ToFileTime(s.ColumnInt(1));
    } else {
      r = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : ErrorFromSqlite(rc);
    }
  }
  return tx.Finish(r);
}

LONG RegistryStore::EnumValue(KeyId key, DWORD index, RegistryValue* value) {
  Transaction tx(*this, false);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlEnumValue);
    const int rc = s.Int(1, key).Int(2, index).Step();
    if (rc == SQLITE_ROW) {
      value->name = s.ColumnText(0);
      value->type = static_cast<DWORD>(s.ColumnInt(1));
      value->data = s.ColumnBytes(2);
    } else {
      r = rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : ErrorFromSqlite(rc);
    }
  }
  return tx.Finish(r);
}

LONG RegistryStore::QueryInfo(KeyId key, RegistryKeyInfo* info) {
  Transaction tx(*this, false);
  LONG r = tx.status();
  if (r == ERROR_SUCCESS) r = CheckKey(key);
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlKeyStats);
    const int rc = s.Int(1, key).Step();
    if (rc == SQLITE_ROW) {
      info->subkeys = static_cast<DWORD>(s.ColumnInt(0));
      info->max_subkey_chars = static_cast<DWORD>(s.ColumnInt(1) / 2);
    } else {
      r = ErrorFromSqlite(rc);
    }
  }
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlValueStats);
    const int rc = s.Int(1, key).Step();
    if (rc == SQLITE_ROW) {
      info->values = static_cast<DWORD>(s.ColumnInt(0));
      info->max_value_name_chars = static_cast<DWORD>(s.ColumnInt(1) / 2);
      info->max_value_bytes = static_cast<DWORD>(s.ColumnInt(2));
    } else {
      r = ErrorFromSqlite(rc);
    }
  }
  if (r == ERROR_SUCCESS) {
    Statement s(*this, kSqlWritten);
    const int rc = s.Int(1, key).Step();
    if (rc == SQLITE_ROW)
      info->written = ToFileTime(s.ColumnInt(0));
    else
      r = ErrorFromSqlite(rc);
  }
  return tx.Finish(r);
}

}  // namespace cehost
