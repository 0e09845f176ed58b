// Store administration, for quillmere-recfile and the tests: creating a record file, listing
// the files, and the integrity check.
#include <algorithm>
#include <string>
#include <vector>

#include "recfiles/btrv_layout.h"
#include "recfiles/encodings.h"
#include "recfiles/sqlite_store.h"

namespace quillmere::sqlite {

int16_t Store::CreateFile(const char* file_name, uint32_t record_length, uint32_t key_length) {
  EndReads();
  if (db_ == nullptr) return kStatusNotOpen;
  if (file_name == nullptr || *file_name == '\0') return kStatusFileNotFound;
  if (record_length == 0 || key_length == 0 || key_length > record_length ||
      record_length > 1 << 20) {
    return kStatusBufferTooShort;
  }
  const std::string name = file_name;
  const std::string lower = AsciiLower(name);
  // SQLite's own names, and the run journal's tables beside the record files.
  if (lower == kCatalogue || lower.starts_with("sqlite_") || lower.starts_with("journal_")) {
    return kStatusDuplicateKey;
  }
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
  for (const StandardFile& standard : kStandardFiles) {
    const auto it = std::find_if(files.begin(), files.end(), [&](const RecordFileInfo& info) {
      return AsciiLower(info.name) == standard.name;
    });
    if (it == files.end()) {
      problems += std::string(standard.name) +
                  ": missing (a standard record file; quillmere-recfile init creates it)\n";
    } else if (it->record_length != standard.record_length ||
               it->key_length != standard.key_length) {
      problems += it->name + ": record length " + std::to_string(it->record_length) +
                  " and key length " + std::to_string(it->key_length) + ", the host's file has " +
                  std::to_string(standard.record_length) + " and " +
                  std::to_string(standard.key_length) + "\n";
    }
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

}  // namespace quillmere::sqlite
