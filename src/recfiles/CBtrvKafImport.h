// The record-file library: keyed files of fixed-length 8-bit records, reached through a
// Btrieve-style interface that returns status numbers. One SQLite database per data directory
// (recfiles.sqlite, WAL) holds every record file as a table of its own.
//
// Status numbers:
//   0  success                       2  I/O error
//   3  file not open                 4  key not found
//   5  duplicate key                 8  no current record (update or delete without a get)
//   9  end of file                   12 file not found
//   18 disk full                     22 record buffer too short / wrong record length
//   85 file locked by another process (after a bounded wait)
// Keys are key 0, the record's leading bytes: a lookup reads exactly the file's key length from
// the key buffer, so callers zero the buffer past their text. Keys compare bytewise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmere {

inline constexpr int16_t kStatusOk = 0;
inline constexpr int16_t kStatusIoError = 2;
inline constexpr int16_t kStatusNotOpen = 3;
inline constexpr int16_t kStatusKeyNotFound = 4;
inline constexpr int16_t kStatusDuplicateKey = 5;
inline constexpr int16_t kStatusNoCurrentRecord = 8;
inline constexpr int16_t kStatusEndOfFile = 9;
inline constexpr int16_t kStatusFileNotFound = 12;
inline constexpr int16_t kStatusDiskFull = 18;
inline constexpr int16_t kStatusBufferTooShort = 22;
inline constexpr int16_t kStatusLocked = 85;

// Prepares the library: the data directory is key `datapath` of section `VelfilesNdx` in the
// data-directory settings file (relative to that file's folder; absent: the file's own folder).
// The host settings file's path is only kept. Closes every handle of an earlier initialisation.
// Opens the store that is there and never creates one (quillmere-recfile init does). Returns 0,
// or a status when the store cannot be opened, its cause kept (RecordStoreError in
// record_store.h): 12 no folder or no store in it; 2 a damaged store, an empty file, a database
// without the store's catalogue; 85 locked by another program past the busy wait.
int16_t QrtInitializeFauxBtrieve(const char* settings_path, const char* host_settings_path);

// A new handle; one per open file. Two handles on one file keep their own positions.
int32_t CBtrvOapi();

// Opens record file `file_name` of the data directory on `handle`. `owner` and the three modes
// are accepted as the host passes them ("", 1, 1, 0). 12 when the store has no such file or is
// not open; the cause of a failure is kept (RecordStoreError in record_store.h).
int16_t btrOpen(int32_t handle, const char* owner, const char* file_name, int16_t mode,
                int16_t share, int16_t flags);
int16_t btrClose(int32_t handle);

// Reads the record whose key equals `key` (exactly the file's key length) into `record`;
// `*record_length` must be at least the file's record length (else 22) and receives it.
int16_t btrGetEqual(int32_t handle, void* record, uint32_t* record_length, const void* key,
                    int16_t key_number, int16_t lock);
// Reads the first record whose key is greater than `key`.
int16_t btrGetGreater(int32_t handle, void* record, uint32_t* record_length, const void* key,
                      int16_t key_number, int16_t lock);
// Reads the record after the handle's current one in key order; 9 at the end.
int16_t btrGetNext(int32_t handle, void* record, uint32_t* record_length, int16_t lock);
// Adds a record of exactly the file's length (else 22); 5 when its key exists.
int16_t btrInsert(int32_t handle, const void* record, uint32_t* record_length, int16_t lock);
// Stores `record` over the handle's current record (8 without one).
int16_t btrUpdate(int32_t handle, const void* record, uint32_t* record_length);
// Removes the handle's current record (8 without one).
int16_t btrDelete(int32_t handle);

// Group every write until the end or abort into one store transaction. Begin takes the store's
// write lock at once (85 after a bounded wait), so reads inside see every committed record and
// two processes posting at once are serialised.
int16_t btrBeginTransaction();
int16_t btrEndTransaction();
int16_t btrAbortTransaction();

// The replace-by-key write every writer uses: get-equal into a scratch buffer, delete when
// found, insert, update when the insert fails. A replace that fails leaves the old record in
// place. Returns 0 or the failing status.
int16_t ReplaceByKey(int32_t handle, const void* record, uint32_t* record_length);

// Maintenance, for quillmere-recfile and tests.
struct RecordFileInfo {
  std::string name;
  uint32_t record_length = 0;
  uint32_t key_length = 0;
  int64_t record_count = 0;
};
// Creates an empty record file; 5 when one of that name exists.
int16_t btrCreateFile(const char* file_name, uint32_t record_length, uint32_t key_length);
int16_t btrListFiles(std::vector<RecordFileInfo>* files);
// The store's integrity check; 0 and "ok", or 2 and what is wrong.
int16_t btrCheck(std::string* report);
// The data directory in use ("" before initialisation) and the host settings path kept.
std::string btrDataDirectory();
std::string btrHostSettingsPath();

}  // namespace quillmere
