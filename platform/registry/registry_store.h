// RegistryStore: the registry's keys and values in one SQLite database file. The Reg* API
// (registry_api.cpp) resolves handles to key ids and calls one method per API call; every
// method is one transaction, so each API call is atomic and, once it has returned success,
// durable (the connection runs with synchronous=FULL).
//
// Threads: a store is not thread-safe; the API layer serialises every call on its own lock.
// Several processes may use the same file at once: writers take the write lock up front
// (BEGIN IMMEDIATE) and every connection waits up to kBusyTimeoutMs for a lock.
//
// Database layout (schema version 1, PRAGMA user_version):
//
//   keys(id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused, so a stale id is detected
//        parent INTEGER NOT NULL,                -- 0 for the four roots
//        name BLOB NOT NULL,                     -- UTF-16 code units as created (host order)
//        fold BLOB NOT NULL,                     -- the same, each unit lower-cased (lookups)
//        written INTEGER NOT NULL,               -- FILETIME of the last change to the key
//        UNIQUE(parent, fold))
//   vals(id INTEGER PRIMARY KEY AUTOINCREMENT,
//        key INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,
//        type INTEGER NOT NULL, data BLOB NOT NULL,
//        UNIQUE(key, fold))
//
// The roots have fixed ids: 1 HKEY_CLASSES_ROOT, 2 HKEY_CURRENT_USER, 3 HKEY_LOCAL_MACHINE,
// 4 HKEY_USERS. Subkeys and values enumerate in creation order (ascending id); rewriting a
// value keeps its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "winbase.h"

struct sqlite3;
struct sqlite3_stmt;

namespace cehost {

using KeyId = int64_t;

// Key names are at most this many characters (per path component), value names likewise.
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

struct RegistryValue {
  std::u16string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct RegistryKeyInfo {
  DWORD subkeys = 0;
  DWORD max_subkey_chars = 0;  // longest subkey name, characters, no terminator
  DWORD values = 0;
  DWORD max_value_name_chars = 0;
  DWORD max_value_bytes = 0;
  FILETIME written = {};
};

class RegistryStore {
 public:
  static constexpr int kBusyTimeoutMs = 30000;

  // Opens the database at `path`, creating file and schema when missing. Null with *error set
  // (ERROR_CANTOPEN, ERROR_BADDB, ...) when it cannot be used.
  static std::unique_ptr<RegistryStore> Open(const std::string& path, LONG* error);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Every method returns a Win32 error number. `key` must name a live key, else
  // ERROR_KEY_DELETED. Paths are already split into components (none empty).

  // Opens or creates `path` under `key` with every missing intermediate key; *created tells
  // whether the final key is new.
  LONG CreateKey(KeyId key, const std::vector<std::u16string_view>& path, KeyId* result,
                 bool* created);
  LONG OpenKey(KeyId key, const std::vector<std::u16string_view>& path, KeyId* result);
  // Deletes the key at `path` (non-empty) under `key` with everything beneath it.
  LONG DeleteKey(KeyId key, const std::vector<std::u16string_view>& path);
  LONG QueryValue(KeyId key, std::u16string_view name, RegistryValue* value);
  LONG SetValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(KeyId key, std::u16string_view name);
  // The index-th subkey or value in enumeration order; ERROR_NO_MORE_ITEMS past the end.
  LONG EnumKey(KeyId key, DWORD index, std::u16string* name, FILETIME* written);
  LONG EnumValue(KeyId key, DWORD index, RegistryValue* value);
  LONG QueryInfo(KeyId key, RegistryKeyInfo* info);
  // ERROR_SUCCESS when the key exists, else ERROR_KEY_DELETED.
  LONG CheckKey(KeyId key);

 private:
  class Statement;
  class Transaction;

  explicit RegistryStore(sqlite3* db);
  // Journal mode, durability and schema; ERROR_BUSY while another process sets up the file.
  LONG SetUp();
  LONG CreateSchema();
  // A prepared statement for one of the store's SQL texts, kept for the connection's life.
  sqlite3_stmt* Prepare(const char* sql);
  // The child of `parent` named `name` (folded comparison); 0 when there is none.
  LONG FindChild(KeyId parent, std::u16string_view name, KeyId* child);
  LONG Resolve(KeyId key, const std::vector<std::u16string_view>& path, KeyId* result);
  LONG Touch(KeyId key);

  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;  // keyed by SQL text address
};

// Win32 error number for an SQLite result code.
LONG ErrorFromSqlite(int rc);

}  // namespace cehost
