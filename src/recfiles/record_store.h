// Maintenance entry points of the record-file store, beside the Btrieve-style API of
// CBtrvKafImport.h: for quillmere-recfile and the tests.
//
// The store is one SQLite database, recfiles.sqlite, in the data directory:
//   recfile_catalogue(name TEXT PRIMARY KEY COLLATE NOCASE, record_length, key_length)
//   "<name>"(key BLOB PRIMARY KEY, record BLOB NOT NULL) WITHOUT ROWID, one per record file
// The key is the record's leading key_length bytes; the record is stored whole. File names are
// matched without regard to ASCII letter case, as the host's file system does.
//
// Durability and sharing: WAL journal, synchronous=NORMAL. A committed transaction survives a
// crash or kill of the process; a crash of the machine may lose the last transactions committed
// before it, never part of one (the store stays consistent, each transaction whole or absent).
// The WAL is synced at each checkpoint, not at each commit: one sync per posted row made an
// import ten times slower than the work itself. Several processes may share one store; a write
// waits for another process's write lock at most QUILLMERE_RECFILE_BUSY_MS milliseconds
// (environment variable, read when the store opens; default 10000), then fails with status 85.
// A wait gives up at once, also with 85, when the program's stop flag is set (SetStoreStopFlag).
//
// Update of a record with a different key: btrUpdate moves the current record to the new key,
// or returns 5 when a record with the new key exists (the old record stays).
//
// btrCreateFile: 22 for a record length of 0, or a key length of 0 or above the record length;
// 12 for an empty name; 5 for a name in use (the catalogue's own name, and names beginning
// "sqlite_" or "journal_" in any letter case, count as in use: SQLite keeps the first, the run
// journal's tables journal_runs and journal_rows take the second).
// Tables outside the catalogue, such as the journal's, are no record files: btrListFiles and
// btrCheck pass them by (the integrity check still covers the whole database).
//
// Processes: a store connection never crosses fork(). Call CloseRecordStore() before forking a
// child that will use the store; a child that inherits an open store abandons it (without
// closing it) when it opens the store again.
#pragma once

#include <sqlite3.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

inline constexpr char kRecordStoreFileName[] = "recfiles.sqlite";

// Transaction statuses besides those of CBtrvKafImport.h:
// btrBeginTransaction while one is active; end or abort without one.
inline constexpr int16_t kStatusTransactionActive = 37;
inline constexpr int16_t kStatusNoTransaction = 39;

// The data directory a data-directory settings file names: key `datapath` of section
// `VelfilesNdx`, read by the rules of settings_file.h (names in any letter case, one pair of
// quotes around the value removed), relative to the settings file's folder; absent or empty, or
// no readable file: that folder. "\" counts as a path separator, so settings copied from
// Windows work. Defined in settings_file.cc.
//   "/site/VELFILES.ini" with datapath=ndx     -> "/site/ndx"
//   "/site/VELFILES.ini" with datapath="ndx"   -> "/site/ndx"
//   "/site/VELFILES.ini" without datapath      -> "/site"
std::string DataDirectoryFromSettings(const std::string& settings_path);

// Opens the store of `data_dir`, closing an earlier one with all its handles.
// QrtInitializeFauxBtrieve opens with `create` false; only the maintenance tool passes true.
// `create`: make recfiles.sqlite (or fill an empty file) when missing. Without it the store must be
// there and be one: nothing is written to a file that is not a store. A missing directory or store
// gives 12; a store locked past the busy wait 85; a damaged store, an empty file, a database
// without the catalogue or a store of a newer format (kStoreFormat) 2. The cause is kept for
// RecordStoreError().
int16_t OpenRecordStore(const std::string& data_dir, const std::string& host_settings_path,
                        bool create);

// Why the last OpenRecordStore (QrtInitializeFauxBtrieve) or btrOpen failed, in words for a
// message beside its status; "" after one that succeeded. btrOpen on a store that did not open
// gives the store's cause.
//   "the folder does not exist"                                            12
//   "no recfiles.sqlite there (quillmere-recfile init creates the store)"  12
//   "recfiles.sqlite is empty"                                             2
//   "recfiles.sqlite: file is not a database"                              2
//   "recfiles.sqlite holds no record-file catalogue"                       2
//   "recfiles.sqlite is locked by another program"                         85
//   "recfiles.sqlite has store format 3; this program reads format 2 at most: use a newer
//    Quillmere"                                                            2
//   "the store has no file of that name"                                   12 (btrOpen)
std::string RecordStoreError();

// Closes every handle and the store (a transaction still open is rolled back). Later calls
// give 3 (or 12 for btrOpen) until the store is opened again.
void CloseRecordStore();

// Makes every wait for another process's lock give up (status 85) while `*flag` is non-zero,
// so a program stops promptly when a signal handler sets its flag. The flag must outlive the
// store's use; nullptr: waits run their course. Safe to call at any time.
void SetStoreStopFlag(const volatile std::sig_atomic_t* flag);

// The store's format, kept as SQLite's user_version: 0 for a store of record files only (a new
// store stays at 0), 2 once the run journal's tables were added to it. OpenRecordStore, also
// with `create`, refuses a store of a newer format (status 2, cause "recfiles.sqlite has store
// format N; this program reads format 2 at most: use a newer Quillmere"), so an older program
// never writes beside tables it does not know; a negative format, which nothing writes, is
// refused too ("recfiles.sqlite has store format -1, which no Quillmere writes").
inline constexpr int kStoreFormat = 2;

// One record write kept for the run journal.
struct RecordChange {
  std::string file;                   // the record file's catalogued name
  std::string key;                    // key 0: the file's key_length bytes
  std::optional<std::string> before;  // the record before the first kept write; nullopt: none
  std::optional<std::string> after;   // the record after the last kept write; nullopt: deleted
  friend bool operator==(const RecordChange&, const RecordChange&) = default;
};

// While on, every successful record write (insert, update, delete, replace by key) is kept as
// a change, one per file and key: a key written twice keeps its first `before` and its last
// `after`; an update that moves a record to another key is a delete of the old key and a write
// of the new one. A key whose writes cancel out keeps its change: inserted then deleted gives
// {nullopt, nullopt}, written back as it was gives before == after.
// btrBeginTransaction and btrAbortTransaction drop the kept changes, as do CloseRecordStore
// and a failure after which SQLite rolled the whole transaction back; a write that fails keeps
// nothing (a replace by key whose delete went through but whose insert failed keeps nothing
// either). Update and delete read the record before them only while capture is on; outside a
// transaction, they then take the write lock for the read and the write together.
// Off by default; the setting survives closing and opening the store. Meant for the writes of
// one transaction at a time: the changes are searched one by one.
//   capture on; begin; replace K (was r0) with r1; replace K with r2; insert L as s1; end
//   TakeRecordChanges() == {{file, K, r0, r2}, {file, L, nullopt, s1}}
void SetRecordCapture(bool on);
// The kept changes, in the order their keys were first written; drops them. Take them before
// btrEndTransaction to write them in the same transaction.
std::vector<RecordChange> TakeRecordChanges();

// The record at `key` (exactly the file's key length) of record file `file`, as stored, for an
// undo that puts records back: *image is nullopt when there is none. 0, or 12 for an unknown
// file, 22 for a key of another length, 3 when no store is open, or the status of the read.
// Moves no handle's position.
int16_t ReadRecordImage(const std::string& file, std::string_view key,
                        std::optional<std::string>* image);
// Makes `image` (nullopt: no record) the record at `key` of `file`, all or nothing, whatever was
// there; no handle's position moves and nothing is captured. 22 for a key or image of another
// length, or an image whose leading bytes are not the key; otherwise as ReadRecordImage.
int16_t WriteRecordImage(const std::string& file, std::string_view key,
                         const std::optional<std::string>& image);

// Between BeginRecordReads and EndRecordReads the store's reads share one read transaction,
// so a long run of lookups (the check of every row against the master files) takes the store's
// locks once, not once per lookup; they all see the store as it was at the first of them. Meant
// for reads only: btrBeginTransaction and every record write end it first, as does closing the
// store. 0, or 3 when no store is open; inside a transaction it does nothing.
int16_t BeginRecordReads();
void EndRecordReads();

// The open store's SQLite connection, for the run journal's own tables beside the record files:
// statements run on it between btrBeginTransaction and btrEndTransaction commit with the
// records. nullptr when no store is open; valid until the store closes or opens again. Use it
// from the thread that calls the btr* functions, never while another thread does.
sqlite3* RecordStoreConnection();

}  // namespace quillmere
