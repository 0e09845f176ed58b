// The SQLite store: opening and closing, record-level reads and writes, transactions and the
// savepoints that make one replace-by-key write all or nothing.
#include "recfiles/sqlite_store.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "recfiles/encodings.h"
#include "recfiles/record_store.h"
#include "recfiles/wal_write_buffer.h"

namespace quillmere::sqlite {
namespace {

constexpr int kDefaultBusyMs = 10000;

int BusyTimeoutMs() {
  const char* value = std::getenv("QUILLMERE_RECFILE_BUSY_MS");
  if (value == nullptr || *value == '\0') return kDefaultBusyMs;
  char* end = nullptr;
  const long ms = std::strtol(value, &end, 10);
  if (*end != '\0' || ms < 0 || ms > 3600 * 1000) return kDefaultBusyMs;
  return static_cast<int>(ms);
}

// The stop flag the program set with SetStoreStopFlag; null: none.
std::atomic<const volatile std::sig_atomic_t*> g_stop_flag{nullptr};

bool StopRequested() {
  const volatile std::sig_atomic_t* flag = g_stop_flag.load(std::memory_order_relaxed);
  return flag != nullptr && *flag != 0;
}

}  // namespace

int Store::BusyWait(void* store, int count) {
  Store& self = *static_cast<Store*>(store);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) self.busy_since_ = now;
  if (StopRequested()) return 0;
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - self.busy_since_).count();
  if (waited >= self.busy_timeout_ms_) return 0;
  // Short steps, so a stop is seen soon; a signal also ends the sleep early.
  const long step_ms = std::min<long>(
      {1L << std::min(count, 5), 25L, static_cast<long>(self.busy_timeout_ms_ - waited)});
  const timespec step{0, step_ms * 1000000L};
  (void)nanosleep(&step, nullptr);
  return 1;
}

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

int16_t Store::Open(const std::string& data_dir, const std::string& host_settings_path,
                    bool create) {
  Close();
  error_.clear();
  open_error_.clear();
  const char* fault = std::getenv(kStoreFaultVariable);
  environment_fault_ = fault == nullptr ? std::nullopt : ParseStoreFault(fault);
  host_settings_path_ = host_settings_path;
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status folder = fs::status(data_dir, error);
  if (!fs::exists(folder)) return OpenFailed(kStatusFileNotFound, "the folder does not exist");
  if (!fs::is_directory(folder)) return OpenFailed(kStatusFileNotFound, "it is not a folder");
  const std::string path = (fs::path(data_dir) / kRecordStoreFileName).string();
  if (!create) {
    // Only the maintenance tool creates a store: a program pointed at the wrong folder must not
    // leave an empty store there and then report every row as unknown.
    const fs::file_status store = fs::status(path, error);
    if (!fs::exists(store)) {
      return OpenFailed(kStatusFileNotFound,
                        std::string("no ") + kRecordStoreFileName +
                            " there (quillmere-recfile init creates the store)");
    }
    // SQLite would take an empty file for a new database and write a catalogue into it.
    if (fs::is_regular_file(store) && fs::file_size(path, error) == 0 && !error) {
      return OpenFailed(kStatusIoError, std::string(kRecordStoreFileName) + " is empty");
    }
  }
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, WalWriteBufferVfs());
  db_ = db;  // closed by OpenFailed on any failure below
  owner_pid_ = getpid();
  if (rc != SQLITE_OK) return OpenFailed(kStatusIoError, SqliteCause(rc));
  sqlite3_extended_result_codes(db_, 1);
  busy_timeout_ms_ = BusyTimeoutMs();
  sqlite3_busy_handler(db_, &Store::BusyWait, this);
  if (!create) {
    // Reads the file's header before anything is written: a damaged or locked store fails
    // here, and a database that is no store of ours is refused untouched.
    Statement catalogue;
    rc = catalogue.Prepare(db_, std::string("SELECT 1 FROM sqlite_master WHERE type = 'table' "
                                            "AND name = '") +
                                    kCatalogue + "'");
    if (rc == SQLITE_OK) rc = sqlite3_step(catalogue.get());
    if (rc == SQLITE_DONE) {
      return OpenFailed(kStatusIoError,
                        std::string(kRecordStoreFileName) + " holds no record-file catalogue");
    }
    if (rc != SQLITE_ROW) {
      return OpenFailed(StatusFromSqlite(rc) == kStatusLocked ? kStatusLocked : kStatusIoError,
                        SqliteCause(rc));
    }
  }
  // A newer program may keep tables of its own beside the record files; this one must not write
  // beside what it does not know.
  Statement format_query;
  rc = format_query.Prepare(db_, "PRAGMA user_version");
  if (rc == SQLITE_OK) rc = sqlite3_step(format_query.get());
  if (rc != SQLITE_ROW) {
    return OpenFailed(StatusFromSqlite(rc) == kStatusLocked ? kStatusLocked : kStatusIoError,
                      SqliteCause(rc));
  }
  const int64_t format = sqlite3_column_int64(format_query.get(), 0);
  format_query.Finalize();
  if (format > kStoreFormat) {
    return OpenFailed(kStatusIoError, std::string(kRecordStoreFileName) + " has store format " +
                                          std::to_string(format) + "; this program reads format " +
                                          std::to_string(kStoreFormat) +
                                          " at most: use a newer Quillmere");
  }
  if (format < 0) {
    return OpenFailed(kStatusIoError, std::string(kRecordStoreFileName) + " has store format " +
                                          std::to_string(format) + ", which no Quillmere writes");
  }
  const std::string create_catalogue =
      std::string("CREATE TABLE IF NOT EXISTS ") + kCatalogue +
      " (name TEXT PRIMARY KEY COLLATE NOCASE, record_length INTEGER NOT NULL,"
      " key_length INTEGER NOT NULL)";
  // The log is copied back into the database every 10,000 pages (about 40 MiB) rather than
  // SQLite's 1,000: a posting rewrites the same pages row after row, and each copy writes them
  // once and syncs twice. The log goes when the last connection closes.
  if ((rc = Exec("PRAGMA journal_mode=WAL")) != SQLITE_OK ||
      (rc = Exec("PRAGMA synchronous=NORMAL")) != SQLITE_OK ||
      (rc = Exec("PRAGMA wal_autocheckpoint=10000")) != SQLITE_OK ||
      (create && (rc = Exec(create_catalogue.c_str())) != SQLITE_OK) ||
      (rc = begin_.Prepare(db_, "BEGIN IMMEDIATE")) != SQLITE_OK ||
      (rc = commit_.Prepare(db_, "COMMIT")) != SQLITE_OK ||
      (rc = rollback_.Prepare(db_, "ROLLBACK")) != SQLITE_OK ||
      (rc = savepoint_.Prepare(db_, "SAVEPOINT replace_by_key")) != SQLITE_OK ||
      (rc = release_.Prepare(db_, "RELEASE replace_by_key")) != SQLITE_OK ||
      (rc = rollback_to_.Prepare(db_, "ROLLBACK TO replace_by_key")) != SQLITE_OK) {
    return OpenFailed(StatusFromSqlite(rc) == kStatusLocked ? kStatusLocked : kStatusIoError,
                      SqliteCause(rc));
  }
  data_dir_ = data_dir;
  return kStatusOk;
}

int16_t Store::OpenFailed(int16_t status, std::string cause) {
  Close();
  error_ = std::move(cause);
  open_error_ = error_;
  return status;
}

std::string Store::SqliteCause(int rc) const {
  if (StatusFromSqlite(rc) == kStatusLocked) {
    return std::string(kRecordStoreFileName) + " is locked by another program";
  }
  std::string cause = std::string(kRecordStoreFileName) + ": " +
                      (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
  // Only a failed file operation has an operating-system cause worth naming.
  const int primary = rc & 0xff;
  const int system_error = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
  if (system_error != 0 && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR ||
                            primary == SQLITE_PERM || primary == SQLITE_READONLY)) {
    cause += std::string(" (") + std::strerror(system_error) + ")";
  }
  return cause;
}

void Store::Close() {
  DropChanges();
  for (auto& [number, handle] : handles_) handle = Handle{};
  in_transaction_ = reads_ = false;
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
    error_ = SqliteCause(rc);
    return nullptr;
  }
  sqlite3_bind_text(lookup.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  rc = sqlite3_step(lookup.get());
  if (rc != SQLITE_ROW) {
    *status = rc == SQLITE_DONE ? kStatusFileNotFound : StatusFromSqlite(rc);
    error_ = rc == SQLITE_DONE ? "the store has no file of that name" : SqliteCause(rc);
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
    error_ = "its entry in the store's catalogue is damaged";
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
    const bool missing = (rc & 0xff) == SQLITE_ERROR;
    *status = missing ? kStatusFileNotFound : StatusFromSqlite(rc);
    error_ = missing ? "the store's catalogue lists it, but its table is missing" : SqliteCause(rc);
    return nullptr;
  }
  RecordFile* result = file.get();
  files_[lower] = std::move(file);
  return result;
}

int16_t Store::OpenFile(int32_t handle, const char* file_name) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    error_ = "no such handle";
    return kStatusNotOpen;
  }
  it->second = Handle{};
  if (db_ == nullptr || file_name == nullptr) {
    error_ = db_ != nullptr        ? "no file name"
             : open_error_.empty() ? "the record-file store is not open"
                                   : open_error_;
    return kStatusFileNotFound;
  }
  int16_t status = kStatusOk;
  RecordFile* file = FindFile(file_name, &status);
  if (file == nullptr) return status;
  it->second.file = file;
  error_.clear();
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
  if (in_transaction_ && sqlite3_get_autocommit(db_)) {
    lost_transaction_status_ = status;
    DropChanges();
  }
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

int16_t Store::ReadRecord(RecordFile& file, std::string_view key,
                          std::optional<std::string>* record) {
  sqlite3_stmt* stmt = file.get_equal.get();
  ResetOnExit reset(stmt);
  sqlite3_bind_blob(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) {
    record->reset();
    return kStatusOk;
  }
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
  record->emplace(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                  static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
  return kStatusOk;
}

int16_t Store::ReadImage(const std::string& file_name, std::string_view key,
                         std::optional<std::string>* image) {
  if (db_ == nullptr) return kStatusNotOpen;
  int16_t status = kStatusOk;
  RecordFile* file = FindFile(file_name, &status);
  if (file == nullptr) return status;
  if (key.size() != file->key_length) return kStatusBufferTooShort;
  return ReadRecord(*file, key, image);
}

int16_t Store::WriteImage(const std::string& file_name, std::string_view key,
                          const std::optional<std::string>& image) {
  EndReads();
  if (db_ == nullptr) return kStatusNotOpen;
  int16_t status = kStatusOk;
  RecordFile* file = FindFile(file_name, &status);
  if (file == nullptr) return status;
  if (key.size() != file->key_length ||
      (image && (image->size() != file->record_length ||
                 std::string_view(*image).substr(0, key.size()) != key))) {
    return kStatusBufferTooShort;
  }
  return AllOrNothing([&]() -> int16_t {
    sqlite3_stmt* erase = file->erase.get();
    sqlite3_bind_blob(erase, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (const int16_t erased = StepWrite(erase); erased != kStatusOk) return erased;
    if (!image) return kStatusOk;
    sqlite3_stmt* insert = file->insert.get();
    sqlite3_bind_blob(insert, 1, image->data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert, 2, image->data(), static_cast<int>(image->size()), SQLITE_STATIC);
    return StepWrite(insert);
  });
}

void Store::Keep(const RecordFile& file, std::string_view key, std::optional<std::string> before,
                 std::optional<std::string> after) {
  for (RecordChange& change : changes_) {
    if (change.key == key && change.file == file.name) {
      change.after = std::move(after);
      return;
    }
  }
  changes_.push_back(
      RecordChange{file.name, std::string(key), std::move(before), std::move(after)});
}

int16_t Store::Insert(int32_t handle, const void* record, const uint32_t* record_length) {
  EndReads();
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length != h->file->record_length) {
    return kStatusBufferTooShort;
  }
  const char* bytes = static_cast<const char*>(record);
  const int16_t status = InsertRow(h, bytes);
  // An insert succeeds only where no record was, so there is nothing before it to read.
  if (status == kStatusOk && capture_) {
    Keep(*h->file, std::string_view(bytes, h->file->key_length), std::nullopt,
         std::string(bytes, h->file->record_length));
  }
  return status;
}

int16_t Store::Update(int32_t handle, const void* record, const uint32_t* record_length) {
  EndReads();
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length != h->file->record_length) {
    return kStatusBufferTooShort;
  }
  const char* bytes = static_cast<const char*>(record);
  if (!capture_) return UpdateRow(h, bytes);
  if (!h->has_current) return kStatusNoCurrentRecord;
  const Handle old = *h;
  std::optional<std::string> before;
  const int16_t status = ReadThenWrite(h, &before, [&] { return UpdateRow(h, bytes); });
  if (status != kStatusOk) return status;
  const std::string_view new_key(bytes, h->file->key_length);
  std::string after(bytes, h->file->record_length);
  if (new_key == old.position) {
    Keep(*h->file, new_key, std::move(before), std::move(after));
  } else {  // moved: the old key lost its record, the new key gained one
    Keep(*h->file, old.position, std::move(before), std::nullopt);
    Keep(*h->file, new_key, std::nullopt, std::move(after));
  }
  return kStatusOk;
}

int16_t Store::Delete(int32_t handle) {
  EndReads();
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (!capture_) return DeleteRow(h);
  if (!h->has_current) return kStatusNoCurrentRecord;
  const std::string key = h->position;
  std::optional<std::string> before;
  const int16_t status = ReadThenWrite(h, &before, [&] { return DeleteRow(h); });
  if (status != kStatusOk) return status;
  Keep(*h->file, key, std::move(before), std::nullopt);
  return kStatusOk;
}

int16_t Store::ReplaceByKey(int32_t handle, const void* record, const uint32_t* record_length) {
  EndReads();
  Handle* h = OpenHandle(handle);
  if (h == nullptr) return kStatusNotOpen;
  if (record == nullptr || record_length == nullptr || *record_length != h->file->record_length) {
    return kStatusBufferTooShort;
  }
  const char* bytes = static_cast<const char*>(record);
  const std::string_view key(bytes, h->file->key_length);
  const Handle before = *h;
  // The record the replace finds is the record before it, kept when capture is on.
  std::string scratch(h->file->record_length, '\0');
  int16_t found = kStatusKeyNotFound;
  const int16_t status = AllOrNothing([&]() -> int16_t {
    uint32_t scratch_length = h->file->record_length;
    found = ReadRow(h, h->file->get_equal.get(), key, scratch.data(), &scratch_length,
                    kStatusKeyNotFound);
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
  if (status != kStatusOk) {
    *h = before;
    return status;  // the savepoint undid every part, so nothing is kept
  }
  if (capture_) {
    Keep(*h->file, key,
         found == kStatusOk ? std::optional<std::string>(std::move(scratch)) : std::nullopt,
         std::string(bytes, h->file->record_length));
  }
  return kStatusOk;
}

int16_t Store::BeginReads() {
  if (db_ == nullptr) return kStatusNotOpen;
  if (in_transaction_ || reads_ || !sqlite3_get_autocommit(db_)) return kStatusOk;
  // Deferred: the first read takes the snapshot; nothing is locked for writers.
  const int rc = Exec("BEGIN");
  if (rc != SQLITE_OK) return StatusFromSqlite(rc);
  reads_ = true;
  return kStatusOk;
}

void Store::EndReads() {
  if (!reads_) return;
  reads_ = false;
  if (db_ != nullptr && !sqlite3_get_autocommit(db_) && Exec("COMMIT") != SQLITE_OK) {
    (void)Exec("ROLLBACK");
  }
}

int16_t Store::BeginTransaction() {
  EndReads();
  if (db_ == nullptr) return kStatusNotOpen;
  if (in_transaction_) return kStatusTransactionActive;
  DropChanges();
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
    DropChanges();
    in_transaction_ = false;
    lost_transaction_status_ = 0;
    return status;
  }
  if (const int16_t fault = Fault("commit"); fault != 0) return fault;
  ResetOnExit reset(commit_.get());
  const int rc = sqlite3_step(commit_.get());
  if (rc != SQLITE_DONE) {
    // Still open unless SQLite gave it up; the caller aborts.
    if (sqlite3_get_autocommit(db_)) {
      in_transaction_ = false;
      DropChanges();
    }
    return StatusFromSqlite(rc);
  }
  in_transaction_ = false;
  return kStatusOk;
}

int16_t Store::AbortTransaction() {
  DropChanges();
  if (db_ == nullptr) return kStatusNotOpen;
  if (!in_transaction_) return kStatusNoTransaction;
  in_transaction_ = false;
  lost_transaction_status_ = 0;
  if (sqlite3_get_autocommit(db_)) return kStatusOk;
  ResetOnExit reset(rollback_.get());
  const int rc = sqlite3_step(rollback_.get());
  return rc == SQLITE_DONE ? kStatusOk : StatusFromSqlite(rc);
}

}  // namespace quillmere::sqlite

namespace quillmere {

void SetStoreStopFlag(const volatile std::sig_atomic_t* flag) {
  sqlite::g_stop_flag.store(flag, std::memory_order_relaxed);
}

}  // namespace quillmere
