// The record-file library over SQLite: see CBtrvKafImport.h for the API and record_store.h for
// the store's layout, durability and sharing rules.
#include "recfiles/CBtrvKafImport.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "recfiles/encodings.h"
#include "recfiles/record_store.h"

namespace quillmere {
namespace {

constexpr char kCatalogue[] = "recfile_catalogue";
constexpr int kDefaultBusyMs = 10000;

// Status of a failed SQLite call; `rc` may be an extended result code.
int16_t StatusFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kStatusOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kStatusLocked;
    case SQLITE_FULL:
      return kStatusDiskFull;
    case SQLITE_CONSTRAINT:
      return kStatusDuplicateKey;
    default:
      return kStatusIoError;
  }
}

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

int BusyTimeoutMs() {
  const char* value = std::getenv("QUILLMERE_RECFILE_BUSY_MS");
  if (value == nullptr || *value == '\0') return kDefaultBusyMs;
  char* end = nullptr;
  const long ms = std::strtol(value, &end, 10);
  if (*end != '\0' || ms < 0 || ms > 3600 * 1000) return kDefaultBusyMs;
  return static_cast<int>(ms);
}

// One prepared statement, finalised by the destructor unless abandoned.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  void Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  sqlite3_stmt* get() const { return stmt_; }
  // Forgets the statement without finalising it (a connection inherited across fork()).
  void Abandon() { stmt_ = nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when the scope ends, so no read transaction stays open after a read and
// the next read sees what other connections committed meanwhile.
class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~ResetOnExit() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

struct RecordFile {
  std::string name;
  uint32_t record_length = 0;
  uint32_t key_length = 0;
  Statement get_equal;    // ?1 key -> record
  Statement get_greater;  // ?1 key -> key, record of the next greater key
  Statement insert;       // ?1 key, ?2 record
  Statement update;       // ?1 new key, ?2 record, ?3 old key
  Statement erase;        // ?1 key
};

struct Handle {
  RecordFile* file = nullptr;  // null: not open
  std::string position;        // key of the record last read or written
  bool has_position = false;   // position set: btrGetNext may continue from it
  bool has_current = false;    // position names a record that btrUpdate/btrDelete may use
};

class Store {
 public:
  ~Store() { Close(); }

  int16_t Open(const std::string& data_dir, const std::string& host_settings_path, bool create);
  void Close();
  bool is_open() const { return db_ != nullptr; }
  const std::string& data_dir() const { return data_dir_; }
  const std::string& host_settings_path() const { return host_settings_path_; }

  int32_t NewHandle() {
    const int32_t handle = next_handle_++;
    handles_[handle];
    return handle;
  }
  int16_t OpenFile(int32_t handle, const char* file_name);
  int16_t CloseFile(int32_t handle);
  int16_t GetEqual(int32_t handle, void* record, uint32_t* record_length, const void* key);
  int16_t GetGreater(int32_t handle, void* record, uint32_t* record_length, const void* key);
  int16_t GetNext(int32_t handle, void* record, uint32_t* record_length);
  int16_t Insert(int32_t handle, const void* record, const uint32_t* record_length);
  int16_t Update(int32_t handle, const void* record, const uint32_t* record_length);
  int16_t Delete(int32_t handle);
  int16_t ReplaceByKey(int32_t handle, const void* record, const uint32_t* record_length);

  int16_t BeginTransaction();
  int16_t EndTransaction();
  int16_t AbortTransaction();

  int16_t CreateFile(const char* file_name, uint32_t record_length, uint32_t key_length);
  int16_t ListFiles(std::vector<RecordFileInfo>* files);
  int16_t Check(std::string* report);

  void SetFaultHook(std::function<int16_t(const char*)> fault) { fault_ = std::move(fault); }

 private:
  // The open handle `handle`, or null (status 3).
  Handle* OpenHandle(int32_t handle) {
    auto it = handles_.find(handle);
    return it == handles_.end() || it->second.file == nullptr ? nullptr : &it->second;
  }
  RecordFile* FindFile(const std::string& name, int16_t* status);
  int16_t Fault(const char* operation) { return fault_ ? fault_(operation) : kStatusOk; }
  // Status of a failed write; notes when SQLite rolled back the whole open transaction.
  int16_t WriteFailed(int rc);
  int16_t StepWrite(sqlite3_stmt* stmt);
  int16_t ReadRow(Handle* h, sqlite3_stmt* stmt, std::string_view key, void* record,
                  uint32_t* record_length, int16_t not_found);
  int16_t InsertRow(Handle* h, const char* record);
  int16_t UpdateRow(Handle* h, const char* record);
  int16_t DeleteRow(Handle* h);
  // Runs `body` all or nothing: in its own immediate transaction outside a transaction, in a
  // savepoint inside one. `commit_fault`: ask the fault hook before an own commit.
  template <typename Body>
  int16_t AllOrNothing(Body body);
  int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

  sqlite3* db_ = nullptr;
  pid_t owner_pid_ = 0;
  std::string data_dir_;
  std::string host_settings_path_;
  std::map<std::string, std::unique_ptr<RecordFile>> files_;  // by lower-case name
  std::map<int32_t, Handle> handles_;
  int32_t next_handle_ = 1;
  bool in_transaction_ = false;
  int16_t lost_transaction_status_ = 0;  // SQLite rolled back the open transaction
  Statement begin_, commit_, rollback_, savepoint_, release_, rollback_to_;
  std::function<int16_t(const char*)> fault_;
};

int16_t Store::Open(const std::string& data_dir, const std::string& host_settings_path,
                    bool create) {
  Close();
  host_settings_path_ = host_settings_path;
  std::error_code error;
  if (!std::filesystem::is_directory(data_dir, error)) return kStatusFileNotFound;
  const std::string path = (std::filesystem::path(data_dir) / kRecordStoreFileName).string();
  if (!create && !std::filesystem::exists(path, error)) return kStatusFileNotFound;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return kStatusIoError;
  }
  db_ = db;
  owner_pid_ = getpid();
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, BusyTimeoutMs());
  const std::string create_catalogue =
      std::string("CREATE TABLE IF NOT EXISTS ") + kCatalogue +
      " (name TEXT PRIMARY KEY COLLATE NOCASE, record_length INTEGER NOT NULL,"
      " key_length INTEGER NOT NULL)";
  if ((rc = Exec("PRAGMA journal_mode=WAL")) != SQLITE_OK ||
      (rc = Exec("PRAGMA synchronous=NORMAL")) != SQLITE_OK ||
      (rc = Exec(create_catalogue.c_str())) != SQLITE_OK ||
      (rc = begin_.Prepare(db_, "BEGIN IMMEDIATE")) != SQLITE_OK ||
      (rc = commit_.Prepare(db_, "COMMIT")) != SQLITE_OK ||
      (rc = rollback_.Prepare(db_, "ROLLBACK")) != SQLITE_OK ||
      (rc = savepoint_.Prepare(db_, "SAVEPOINT replace_by_key")) != SQLITE_OK ||
      (rc = release_.Prepare(db_, "RELEASE replace_by_key")) != SQLITE_OK ||
      (rc = rollback_to_.Prepare(db_, "ROLLBACK TO replace_by_key")) != SQLITE_OK) {
    Close();
    return StatusFromSqlite(rc) == kStatusLocked ? kStatusLocked : kStatusIoError;
  }
  data_dir_ = data_dir;
  return kStatusOk;
}

void Store::Close() {
  for (auto& [number, handle] : handles_) handle = Handle{};
  in_transaction_ = false;
  lost_transaction_status_ = 0;
  data_dir_.clear();
  if (db_ == nullptr) {
    files_.clear();
    return;
  }
  if (owner_pid_ != getpid()) {
    // Inherited across fork(): closing would disturb the parent's locks; abandon it.
    for (auto& [name, file] : files_) {
      for (Statement* s :
           {&file->get_equal, &file->get_greater, &file->insert, &file->update, &file->erase}) {
        s->Abandon();
      }
    }
    for (Statement* s : {&begin_, &commit_, &rollback_, &savepoint_, &release_, &rollback_to_}) {
      s->Abandon();
    }
    files_.clear();
    db_ = nullptr;
    return;
  }
  if (!sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
  files_.clear();
  for (Statement* s : {&begin_, &commit_, &rollback_, &savepoint_, &release_, &rollback_to_}) {
    s->Finalize();
  }
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

RecordFile* Store::FindFile(const std::string& name, int16_t* status) {
  const std::string lower = AsciiLower(name);
  if (auto it = files_.find(lower); it != files_.end()) return it->second.get();
  // Not known yet: the catalogue may have gained it, also from another process.
  Statement lookup;
  int rc = lookup.Prepare(db_, std::string("SELECT name, record_length, key_length FROM ") +
                                   kCatalogue + " WHERE name = ?1");
  if (rc != SQLITE_OK) {
    *status = StatusFromSqlite(rc) == kStatusLocked ? kStatusLocked : kStatusIoError;
    return nullptr;
  }
  sqlite3_bind_text(lookup.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  rc = sqlite3_step(lookup.get());
  if (rc != SQLITE_ROW) {
    *status = rc == SQLITE_DONE ? kStatusFileNotFound : StatusFromSqlite(rc);
    return nullptr;
  }
  auto file = std::make_unique<RecordFile>();
  file->name = reinterpret_cast<const char*>(sqlite3_column_text(lookup.get(), 0));
  const int64_t record_length = sqlite3_column_int64(lookup.get(), 1);
  const int64_t key_length = sqlite3_column_int64(lookup.get(), 2);
  sqlite3_reset(lookup.get());
  if (record_length <= 0 || key_length <= 0 || key_length > record_length ||
      record_length > 1 << 20) {
    *status = kStatusIoError;  // a damaged catalogue row; btrCheck names it
    return nullptr;
  }
  file->record_length = static_cast<uint32_t>(record_length);
  file->key_length = static_cast<uint32_t>(key_length);
  const std::string table = QuoteIdentifier(file->name);
  if ((rc = file->get_equal.Prepare(db_, "SELECT record FROM " + table + " WHERE key = ?1")) !=
          SQLITE_OK ||
      (rc = file->get_greater.Prepare(
           db_, "SELECT key, record FROM " + table + " WHERE key > ?1 ORDER BY key LIMIT 1")) !=
          SQLITE_OK ||
      (rc = file->insert.Prepare(db_, "INSERT INTO " + table + " (key, record) VALUES (?1, ?2)")) !=
          SQLITE_OK ||
      (rc = file->update.Prepare(
           db_, "UPDATE " + table + " SET key = ?1, record = ?2 WHERE key = ?3")) != SQLITE_OK ||
      (rc = file->erase.Prepare(db_, "DELETE FROM " + table + " WHERE key = ?1")) != SQLITE_OK) {
    // A catalogued file whose table is missing counts as not found; btrCheck names it.
    *status = (rc & 0xff) == SQLITE_ERROR ? kStatusFileNotFound : StatusFromSqlite(rc);
    return nullptr;
  }
  RecordFile* result = file.get();
  files_[lower] = std::move(file);
  return result;
}

int16_t Store::OpenFile(int32_t handle, const char* file_name) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return kStatusNotOpen;
  it->second = Handle{};
  if (db_ == nullptr || file_name == nullptr) return kStatusFileNotFound;
  int16_t status = kStatusOk;
  RecordFile* file = FindFile(file_name, &status);
  if (file == nullptr) return status;
  it->second.file = file;
  return kStatusOk;
}

int16_t Store::CloseFile(int32_t handle) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  *h = Handle{};
  return kStatusOk;
}

int16_t Store::ReadRow(Handle* h, sqlite3_stmt* stmt, std::string_view key, void* record,
                       uint32_t* record_length, int16_t not_found) {
  ResetOnExit reset(stmt);
  sqlite3_bind_blob(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) {
    if (not_found == kStatusKeyNotFound) {
      h->has_position = h->has_current = false;
    }
    return not_found;
  }
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
  const int record_column = sqlite3_column_count(stmt) - 1;
  const uint32_t length = h->file->record_length;
  if (static_cast<uint32_t>(sqlite3_column_bytes(stmt, record_column)) != length) {
    return kStatusIoError;  // a damaged row; btrCheck names it
  }
  std::memcpy(record, sqlite3_column_blob(stmt, record_column), length);
  *record_length = length;
  if (record_column == 0) {
    h->position.assign(key);
  } else {
    h->position.assign(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                       sqlite3_column_bytes(stmt, 0));
  }
  h->has_position = h->has_current = true;
  return kStatusOk;
}

int16_t Store::GetEqual(int32_t handle, void* record, uint32_t* record_length, const void* key) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || key == nullptr || record_length == nullptr ||
      *record_length < h->file->record_length) {
    return kStatusBufferTooShort;
  }
  return ReadRow(h, h->file->get_equal.get(),
                 std::string_view(static_cast<const char*>(key), h->file->key_length), record,
                 record_length, kStatusKeyNotFound);
}

int16_t Store::GetGreater(int32_t handle, void* record, uint32_t* record_length, const void* key) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || key == nullptr || record_length == nullptr ||
      *record_length < h->file->record_length) {
    return kStatusBufferTooShort;
  }
  const int16_t status =
      ReadRow(h, h->file->get_greater.get(),
              std::string_view(static_cast<const char*>(key), h->file->key_length), record,
              record_length, kStatusEndOfFile);
  if (status == kStatusEndOfFile) h->has_position = h->has_current = false;
  return status;
}

int16_t Store::GetNext(int32_t handle, void* record, uint32_t* record_length) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length < h->file->record_length) {
    return kStatusBufferTooShort;
  }
  if (!h->has_position) return kStatusNoCurrentRecord;
  const std::string position = h->position;  // ReadRow overwrites it
  return ReadRow(h, h->file->get_greater.get(), position, record, record_length, kStatusEndOfFile);
}

int16_t Store::WriteFailed(int rc) {
  const int16_t status = StatusFromSqlite(rc);
  if (in_transaction_ && sqlite3_get_autocommit(db_)) lost_transaction_status_ = status;
  return status;
}

int16_t Store::StepWrite(sqlite3_stmt* stmt) {
  ResetOnExit reset(stmt);
  const int rc = sqlite3_step(stmt);
  return rc == SQLITE_DONE ? kStatusOk : WriteFailed(rc);
}

int16_t Store::InsertRow(Handle* h, const char* record) {
  if (lost_transaction_status_ != 0) return lost_transaction_status_;
  if (const int16_t fault = Fault("insert"); fault != 0) return fault;
  sqlite3_stmt* stmt = h->file->insert.get();
  sqlite3_bind_blob(stmt, 1, record, static_cast<int>(h->file->key_length), SQLITE_STATIC);
  sqlite3_bind_blob(stmt, 2, record, static_cast<int>(h->file->record_length), SQLITE_STATIC);
  const int16_t status = StepWrite(stmt);
  if (status != kStatusOk) return status;
  h->position.assign(record, h->file->key_length);
  h->has_position = h->has_current = true;
  return kStatusOk;
}

int16_t Store::UpdateRow(Handle* h, const char* record) {
  if (!h->has_current) return kStatusNoCurrentRecord;
  if (lost_transaction_status_ != 0) return lost_transaction_status_;
  if (const int16_t fault = Fault("update"); fault != 0) return fault;
  sqlite3_stmt* stmt = h->file->update.get();
  sqlite3_bind_blob(stmt, 1, record, static_cast<int>(h->file->key_length), SQLITE_STATIC);
  sqlite3_bind_blob(stmt, 2, record, static_cast<int>(h->file->record_length), SQLITE_STATIC);
  sqlite3_bind_blob(stmt, 3, h->position.data(), static_cast<int>(h->position.size()),
                    SQLITE_STATIC);
  const int16_t status = StepWrite(stmt);
  if (status != kStatusOk) return status;
  if (sqlite3_changes(db_) == 0) {  // removed meanwhile through another handle or process
    h->has_current = false;
    return kStatusNoCurrentRecord;
  }
  h->position.assign(record, h->file->key_length);
  return kStatusOk;
}

int16_t Store::DeleteRow(Handle* h) {
  if (!h->has_current) return kStatusNoCurrentRecord;
  if (lost_transaction_status_ != 0) return lost_transaction_status_;
  if (const int16_t fault = Fault("delete"); fault != 0) return fault;
  sqlite3_stmt* stmt = h->file->erase.get();
  sqlite3_bind_blob(stmt, 1, h->position.data(), static_cast<int>(h->position.size()),
                    SQLITE_STATIC);
  const int16_t status = StepWrite(stmt);
  if (status != kStatusOk) return status;
  const bool removed = sqlite3_changes(db_) != 0;
  h->has_current = false;  // the position stays: btrGetNext continues after the removed key
  return removed ? kStatusOk : kStatusNoCurrentRecord;
}

int16_t Store::Insert(int32_t handle, const void* record, const uint32_t* record_length) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length != h->file->record_length) {
    return kStatusBufferTooShort;
  }
  return InsertRow(h, static_cast<const char*>(record));
}

int16_t Store::Update(int32_t handle, const void* record, const uint32_t* record_length) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length != h->file->record_length) {
    return kStatusBufferTooShort;
  }
  return UpdateRow(h, static_cast<const char*>(record));
}

int16_t Store::Delete(int32_t handle) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  return DeleteRow(h);
}

template <typename Body>
int16_t Store::AllOrNothing(Body body) {
  if (lost_transaction_status_ != 0) return lost_transaction_status_;
  const bool own = !in_transaction_;
  sqlite3_stmt* open = own ? begin_.get() : savepoint_.get();
  if (const int16_t status = StepWrite(open); status != kStatusOk) return status;
  int16_t status = body();
  if (status == kStatusOk) {
    if (own && (status = Fault("commit")) == kStatusOk) status = StepWrite(commit_.get());
    if (!own) status = StepWrite(release_.get());
    if (status == kStatusOk) return kStatusOk;
  }
  if (own) {
    if (!sqlite3_get_autocommit(db_)) StepWrite(rollback_.get());
  } else if (!sqlite3_get_autocommit(db_)) {
    StepWrite(rollback_to_.get());
    StepWrite(release_.get());
  } else {
    lost_transaction_status_ = status;  // SQLite gave up the whole transaction
  }
  return status;
}

int16_t Store::ReplaceByKey(int32_t handle, const void* record, const uint32_t* record_length) {
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length != h->file->record_length) {
    return kStatusBufferTooShort;
  }
  const char* bytes = static_cast<const char*>(record);
  const Handle before = *h;
  const int16_t status = AllOrNothing([&]() -> int16_t {
    std::string scratch(h->file->record_length, '\0');
    uint32_t scratch_length = h->file->record_length;
    int16_t found =
        ReadRow(h, h->file->get_equal.get(), std::string_view(bytes, h->file->key_length),
                scratch.data(), &scratch_length, kStatusKeyNotFound);
    if (found == kStatusOk) {
      if (const int16_t deleted = DeleteRow(h); deleted != kStatusOk) return deleted;
    } else if (found != kStatusKeyNotFound) {
      return found;
    }
    const int16_t inserted = InsertRow(h, bytes);
    if (inserted == kStatusOk) return kStatusOk;
    const int16_t updated = UpdateRow(h, bytes);
    // With no current record the update cannot help; the insert's status says what failed.
    return updated == kStatusNoCurrentRecord ? inserted : updated;
  });
  if (status != kStatusOk) *h = before;
  return status;
}

int16_t Store::BeginTransaction() {
  if (db_ == nullptr) return kStatusNotOpen;
  if (in_transaction_) return kStatusTransactionActive;
  ResetOnExit reset(begin_.get());
  const int rc = sqlite3_step(begin_.get());
  if (rc != SQLITE_DONE) return StatusFromSqlite(rc);
  in_transaction_ = true;
  lost_transaction_status_ = 0;
  return kStatusOk;
}

int16_t Store::EndTransaction() {
  if (db_ == nullptr) return kStatusNotOpen;
  if (!in_transaction_) return kStatusNoTransaction;
  if (lost_transaction_status_ != 0) {
    const int16_t status = lost_transaction_status_;
    in_transaction_ = false;
    lost_transaction_status_ = 0;
    return status;
  }
  if (const int16_t fault = Fault("commit"); fault != 0) return fault;
  ResetOnExit reset(commit_.get());
  const int rc = sqlite3_step(commit_.get());
  if (rc != SQLITE_DONE) {
    // Still open unless SQLite gave it up; the caller aborts.
    if (sqlite3_get_autocommit(db_)) in_transaction_ = false;
    return StatusFromSqlite(rc);
  }
  in_transaction_ = false;
  return kStatusOk;
}

int16_t Store::AbortTransaction() {
  if (db_ == nullptr) return kStatusNotOpen;
  if (!in_transaction_) return kStatusNoTransaction;
  in_transaction_ = false;
  lost_transaction_status_ = 0;
  if (sqlite3_get_autocommit(db_)) return kStatusOk;
  ResetOnExit reset(rollback_.get());
  const int rc = sqlite3_step(rollback_.get());
  return rc == SQLITE_DONE ? kStatusOk : StatusFromSqlite(rc);
}

int16_t Store::CreateFile(const char* file_name, uint32_t record_length, uint32_t key_length) {
  if (db_ == nullptr) return kStatusNotOpen;
  if (file_name == nullptr || *file_name == '\0') return kStatusFileNotFound;
  if (record_length == 0 || key_length == 0 || key_length > record_length ||
      record_length > 1 << 20) {
    return kStatusBufferTooShort;
  }
  const std::string name = file_name;
  const std::string lower = AsciiLower(name);
  if (lower == kCatalogue || lower.starts_with("sqlite_")) return kStatusDuplicateKey;
  return AllOrNothing([&]() -> int16_t {
    Statement add;
    int rc = add.Prepare(db_, std::string("INSERT INTO ") + kCatalogue +
                                  " (name, record_length, key_length) VALUES (?1, ?2, ?3)");
    if (rc != SQLITE_OK) return StatusFromSqlite(rc);
    sqlite3_bind_text(add.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_int64(add.get(), 2, record_length);
    sqlite3_bind_int64(add.get(), 3, key_length);
    if (const int16_t status = StepWrite(add.get()); status != kStatusOk) return status;
    rc = Exec(("CREATE TABLE " + QuoteIdentifier(name) +
               " (key BLOB PRIMARY KEY, record BLOB NOT NULL) WITHOUT ROWID")
                  .c_str());
    // A table of that name outside the catalogue: the name is in use.
    if ((rc & 0xff) == SQLITE_ERROR) return kStatusDuplicateKey;
    return rc == SQLITE_OK ? kStatusOk : WriteFailed(rc);
  });
}

int16_t Store::ListFiles(std::vector<RecordFileInfo>* files) {
  files->clear();
  if (db_ == nullptr) return kStatusNotOpen;
  Statement list;
  int rc = list.Prepare(db_, std::string("SELECT name, record_length, key_length FROM ") +
                                 kCatalogue + " ORDER BY name");
  if (rc != SQLITE_OK) return StatusFromSqlite(rc);
  while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
    RecordFileInfo info;
    info.name = reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0));
    info.record_length = static_cast<uint32_t>(sqlite3_column_int64(list.get(), 1));
    info.key_length = static_cast<uint32_t>(sqlite3_column_int64(list.get(), 2));
    files->push_back(std::move(info));
  }
  if (rc != SQLITE_DONE) return StatusFromSqlite(rc);
  sqlite3_reset(list.get());
  for (RecordFileInfo& info : *files) {
    Statement count;
    rc = count.Prepare(db_, "SELECT count(*) FROM " + QuoteIdentifier(info.name));
    if (rc != SQLITE_OK) {
      info.record_count = -1;  // the table is missing; btrCheck names it
      continue;
    }
    if ((rc = sqlite3_step(count.get())) != SQLITE_ROW) return StatusFromSqlite(rc);
    info.record_count = sqlite3_column_int64(count.get(), 0);
  }
  return kStatusOk;
}

int16_t Store::Check(std::string* report) {
  report->clear();
  if (db_ == nullptr) {
    *report = "the store is not open";
    return kStatusNotOpen;
  }
  std::string problems;
  Statement integrity;
  int rc = integrity.Prepare(db_, "PRAGMA integrity_check");
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(integrity.get())) == SQLITE_ROW) {
      const std::string line =
          reinterpret_cast<const char*>(sqlite3_column_text(integrity.get(), 0));
      if (line != "ok") problems += "sqlite: " + line + "\n";
    }
  }
  if (rc != SQLITE_DONE) {
    *report = std::string("integrity check failed: ") + sqlite3_errmsg(db_);
    return StatusFromSqlite(rc) == kStatusLocked ? kStatusLocked : kStatusIoError;
  }
  std::vector<RecordFileInfo> files;
  if (const int16_t status = ListFiles(&files); status != kStatusOk) {
    *report = "cannot read the catalogue";
    return status;
  }
  for (const RecordFileInfo& info : files) {
    if (info.record_length == 0 || info.key_length == 0 || info.key_length > info.record_length) {
      problems += info.name + ": record length " + std::to_string(info.record_length) +
                  " and key length " + std::to_string(info.key_length) + " do not fit\n";
      continue;
    }
    if (info.record_count < 0) {
      problems += info.name + ": catalogued but its table is missing\n";
      continue;
    }
    Statement bad;
    rc = bad.Prepare(db_, "SELECT count(*) FROM " + QuoteIdentifier(info.name) +
                              " WHERE typeof(key) != 'blob' OR typeof(record) != 'blob'"
                              " OR length(record) != ?1 OR length(key) != ?2"
                              " OR substr(record, 1, ?2) != key");
    if (rc != SQLITE_OK) return StatusFromSqlite(rc);
    sqlite3_bind_int64(bad.get(), 1, info.record_length);
    sqlite3_bind_int64(bad.get(), 2, info.key_length);
    if ((rc = sqlite3_step(bad.get())) != SQLITE_ROW) return StatusFromSqlite(rc);
    if (const int64_t n = sqlite3_column_int64(bad.get(), 0); n != 0) {
      problems += info.name + ": " + std::to_string(n) +
                  " record(s) of the wrong length or with a key that is not the record's leading "
                  "bytes\n";
    }
  }
  if (problems.empty()) {
    *report = "ok";
    return kStatusOk;
  }
  problems.pop_back();
  *report = problems;
  return kStatusIoError;
}

// The one store of the process, and the lock that serialises calls into it.
std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}
Store& TheStore() {
  static Store store;
  return store;
}

}  // namespace

int16_t OpenRecordStore(const std::string& data_dir, const std::string& host_settings_path,
                        bool create) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Open(data_dir, host_settings_path, create);
}

void CloseRecordStore() {
  std::lock_guard lock(StoreMutex());
  TheStore().Close();
}

int16_t QrtInitializeFauxBtrieve(const char* settings_path, const char* host_settings_path) {
  if (settings_path == nullptr) return kStatusFileNotFound;
  return OpenRecordStore(DataDirectoryFromSettings(settings_path),
                         host_settings_path == nullptr ? "" : host_settings_path,
                         /*create=*/true);
}

int32_t CBtrvOapi() {
  std::lock_guard lock(StoreMutex());
  return TheStore().NewHandle();
}

int16_t btrOpen(int32_t handle, const char* /*owner*/, const char* file_name, int16_t /*mode*/,
                int16_t /*share*/, int16_t /*flags*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().OpenFile(handle, file_name);
}

int16_t btrClose(int32_t handle) {
  std::lock_guard lock(StoreMutex());
  return TheStore().CloseFile(handle);
}

int16_t btrGetEqual(int32_t handle, void* record, uint32_t* record_length, const void* key,
                    int16_t /*key_number*/, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().GetEqual(handle, record, record_length, key);
}

int16_t btrGetGreater(int32_t handle, void* record, uint32_t* record_length, const void* key,
                      int16_t /*key_number*/, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().GetGreater(handle, record, record_length, key);
}

int16_t btrGetNext(int32_t handle, void* record, uint32_t* record_length, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().GetNext(handle, record, record_length);
}

int16_t btrInsert(int32_t handle, const void* record, uint32_t* record_length, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Insert(handle, record, record_length);
}

int16_t btrUpdate(int32_t handle, const void* record, uint32_t* record_length) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Update(handle, record, record_length);
}

int16_t btrDelete(int32_t handle) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Delete(handle);
}

int16_t btrBeginTransaction() {
  std::lock_guard lock(StoreMutex());
  return TheStore().BeginTransaction();
}

int16_t btrEndTransaction() {
  std::lock_guard lock(StoreMutex());
  return TheStore().EndTransaction();
}

int16_t btrAbortTransaction() {
  std::lock_guard lock(StoreMutex());
  return TheStore().AbortTransaction();
}

int16_t ReplaceByKey(int32_t handle, const void* record, uint32_t* record_length) {
  std::lock_guard lock(StoreMutex());
  return TheStore().ReplaceByKey(handle, record, record_length);
}

int16_t btrCreateFile(const char* file_name, uint32_t record_length, uint32_t key_length) {
  std::lock_guard lock(StoreMutex());
  return TheStore().CreateFile(file_name, record_length, key_length);
}

int16_t btrListFiles(std::vector<RecordFileInfo>* files) {
  std::lock_guard lock(StoreMutex());
  return TheStore().ListFiles(files);
}

int16_t btrCheck(std::string* report) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Check(report);
}

std::string btrDataDirectory() {
  std::lock_guard lock(StoreMutex());
  return TheStore().data_dir();
}

std::string btrHostSettingsPath() {
  std::lock_guard lock(StoreMutex());
  return TheStore().host_settings_path();
}

void btrSetFaultHook(std::function<int16_t(const char* operation)> fault) {
  std::lock_guard lock(StoreMutex());
  TheStore().SetFaultHook(std::move(fault));
}

}  // namespace quillmere
