// The SQLite store behind the record-file library (an internal header of src/recfiles): one
// connection to recfiles.sqlite, the record files it has looked up, the handles and their
// positions, and the transaction and savepoint statements. CBtrvKafImport.cc keeps the one
// store of the process and serialises calls into it; the store itself takes no lock.
// record_store.h describes the stored layout, durability and sharing.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"
#include "recfiles/store_faults.h"

// The store's own types, apart from the rest of the library.
namespace quillmere::sqlite {

// The table that lists the record files with their record and key lengths.
inline constexpr char kCatalogue[] = "recfile_catalogue";

// Status of a failed SQLite call; `rc` may be an extended result code.
int16_t StatusFromSqlite(int rc);
// `name` as an SQL identifier in double quotes: any file name can be a table name.
std::string QuoteIdentifier(std::string_view name);

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

// A record file the store has looked up in the catalogue, with its prepared statements.
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

// What one handle of CBtrvOapi() holds: its open file and its position in it.
struct Handle {
  RecordFile* file = nullptr;  // null: not open
  std::string position;        // key of the record last read or written
  bool has_position = false;   // position set: btrGetNext may continue from it
  bool has_current = false;    // position names a record that btrUpdate/btrDelete may use
};

// The store of one data directory. Each method does what the btr* call of the same name in
// CBtrvKafImport.h (or record_store.h) describes, and returns its status; the caller holds the
// lock. CreateFile, ListFiles and Check are in store_admin.cc.
class Store {
 public:
  ~Store() { Close(); }

  int16_t Open(const std::string& data_dir, const std::string& host_settings_path, bool create);
  void Close();
  bool is_open() const { return db_ != nullptr; }
  // Why the last Open or OpenFile failed, in words ("" after one that succeeded).
  const std::string& error() const { return error_; }
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
  // A read transaction shared by the reads until EndReads (BeginRecordReads).
  int16_t BeginReads();
  void EndReads();
  int16_t EndTransaction();
  int16_t AbortTransaction();

  int16_t CreateFile(const char* file_name, uint32_t record_length, uint32_t key_length);
  int16_t ListFiles(std::vector<RecordFileInfo>* files);
  int16_t Check(std::string* report);

  // Asked before each write from now on, in place of QUILLMERE_STORE_FAULT; nullptr: none.
  void SetFaults(StoreFaults* faults) { faults_ = faults; }

  // SetRecordCapture and TakeRecordChanges of record_store.h. Capture survives Open and Close;
  // the kept changes do not.
  void SetCapture(bool on) { capture_ = on; }
  std::vector<RecordChange> TakeChanges() { return std::exchange(changes_, {}); }
  // The connection, nullptr when not open.
  sqlite3* connection() const { return db_; }
  // ReadRecordImage and WriteRecordImage of record_store.h.
  int16_t ReadImage(const std::string& file_name, std::string_view key,
                    std::optional<std::string>* image);
  int16_t WriteImage(const std::string& file_name, std::string_view key,
                     const std::optional<std::string>& image);

 private:
  // The open handle `handle`, or null (status 3).
  Handle* OpenHandle(int32_t handle) {
    auto it = handles_.find(handle);
    return it == handles_.end() || it->second.file == nullptr ? nullptr : &it->second;
  }
  // The catalogued file `name` with its statements, or null with `*status` and error_ set.
  RecordFile* FindFile(const std::string& name, int16_t* status);
  // Open's failure: remembers `cause` (error_, and open_error_ for later btrOpen calls), closes
  // what was opened and returns `status`.
  int16_t OpenFailed(int16_t status, std::string cause);
  // The cause of SQLite's `rc` on the store in words: "recfiles.sqlite: file is not a database".
  std::string SqliteCause(int rc) const;
  // What the fault seam answers before a write of `operation` (0: go ahead).
  int16_t Fault(std::string_view operation) {
    if (faults_ != nullptr) return faults_->BeforeWrite(operation);
    return environment_fault_ ? environment_fault_->BeforeWrite(operation) : kStatusOk;
  }
  // Status of a failed write; notes when SQLite rolled back the whole open transaction.
  int16_t WriteFailed(int rc);
  int16_t StepWrite(sqlite3_stmt* stmt);
  int16_t ReadRow(Handle* h, sqlite3_stmt* stmt, std::string_view key, void* record,
                  uint32_t* record_length, int16_t not_found);
  int16_t InsertRow(Handle* h, const char* record);
  int16_t UpdateRow(Handle* h, const char* record);
  int16_t DeleteRow(Handle* h);
  // The stored record of `key` in `file` into `*record`, nullopt when there is none; 0 or the
  // status of a failed read. Leaves every handle's position alone.
  int16_t ReadRecord(RecordFile& file, std::string_view key, std::optional<std::string>* record);
  // Keeps a write of `key` in `file` for TakeChanges: merged into the change of that file and
  // key when there is one (its first `before` stays, `after` is replaced), else appended.
  void Keep(const RecordFile& file, std::string_view key, std::optional<std::string> before,
            std::optional<std::string> after);
  // Drops the kept changes: their writes were undone, or another transaction begins.
  void DropChanges() { changes_.clear(); }
  // Runs `body` all or nothing: in its own immediate transaction outside a transaction, in a
  // savepoint inside one. An own commit asks the fault seam first.
  template <typename Body>
  int16_t AllOrNothing(Body body);
  // Runs `body` holding the write lock: as it is inside a transaction (begin takes the lock),
  // else all or nothing in its own transaction. A captured write reads the record before it
  // here, so no other program's write comes between the read and the write.
  template <typename Body>
  int16_t UnderWriteLock(Body body) {
    return in_transaction_ ? body() : AllOrNothing(body);
  }
  // A captured update or delete: reads the current record of `h` into `*before`, then runs
  // `write`, both under the write lock. On a failure the handle is as it was (a write whose own
  // commit failed moved nothing).
  template <typename Write>
  int16_t ReadThenWrite(Handle* h, std::optional<std::string>* before, Write write) {
    const Handle old = *h;
    bool wrote = false;
    const int16_t status = UnderWriteLock([&]() -> int16_t {
      if (const int16_t read = ReadRecord(*h->file, h->position, before); read != kStatusOk) {
        return read;
      }
      const int16_t written = write();
      wrote = written == kStatusOk;
      return written;
    });
    if (status != kStatusOk && wrote) *h = old;
    return status;
  }
  int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
  // SQLite's busy handler: waits for another connection's lock in short sleeps, at most
  // busy_timeout_ms_ per lock, and gives up at once when a stop was requested
  // (SetStoreStopFlag). Returns 1 to try again, 0 to give up (the call fails with 85).
  static int BusyWait(void* store, int count);

  sqlite3* db_ = nullptr;
  int busy_timeout_ms_ = 0;
  std::chrono::steady_clock::time_point busy_since_;
  pid_t owner_pid_ = 0;
  std::string data_dir_;
  std::string host_settings_path_;
  std::string error_;       // why the last Open or OpenFile failed
  std::string open_error_;  // why the store is not open ("" when open or never tried)
  std::map<std::string, std::unique_ptr<RecordFile>> files_;  // by lower-case name
  std::map<int32_t, Handle> handles_;
  int32_t next_handle_ = 1;
  bool in_transaction_ = false;
  bool reads_ = false;                   // BeginReads holds a read transaction
  int16_t lost_transaction_status_ = 0;  // SQLite rolled back the open transaction
  Statement begin_, commit_, rollback_, savepoint_, release_, rollback_to_;
  StoreFaults* faults_ = nullptr;  // SetFaults; survives Open and Close
  bool capture_ = false;           // SetCapture; survives Open and Close
  // Kept writes, one per file and key, in the order of their keys' first write. A posted row
  // writes a handful of records, so a linear scan finds a key sooner than a map would.
  std::vector<RecordChange> changes_;
  std::optional<FailNthWrite> environment_fault_;  // QUILLMERE_STORE_FAULT, read by Open
};

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
    DropChanges();
  }
  return status;
}

}  // namespace quillmere::sqlite
