// Speed of the record-file store: the replace-by-key write (alone, and 13 at a time in one
// transaction, the shape of one posted CSV row; with and without the run journal's change
// capture) and get-equal lookups, each beside the same work done with SQLite directly, so the
// library's own cost shows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"

namespace quillmere {
namespace {

// A store in a fresh temporary folder with jcki (99/14), desc (64/11) and pol (120/25).
class BenchStore {
 public:
  BenchStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "recbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    if (OpenRecordStore(dir_.string(), "", true) != 0) std::abort();
    for (const File& f : kFiles) {
      if (btrCreateFile(f.name, f.record_length, f.key_length) != 0) std::abort();
    }
  }
  ~BenchStore() {
    CloseRecordStore();
    std::filesystem::remove_all(dir_);
  }
  std::string path() const { return (dir_ / kRecordStoreFileName).string(); }

  struct File {
    const char* name;
    uint32_t record_length, key_length;
  };
  // One posted row: journal lines, descriptions and policy records, 13 records in all.
  static constexpr File kFiles[] = {{"jcki", 99, 14}, {"desc", 64, 11}, {"pol", 120, 25}};
  static constexpr int kRowShape[13] = {0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 2, 2};

 private:
  std::filesystem::path dir_;
};

// Record `n` of file `f`: a key of digits cycling over `keys` distinct values, then blanks.
std::string Record(const BenchStore::File& f, int64_t n, int64_t keys) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%010lld", static_cast<long long>(n % keys));
  std::string record(f.record_length, ' ');
  record.replace(0, 10, digits);
  return record;
}

constexpr int64_t kKeys = 20000;  // after the first pass, replaces find a record to remove

void BM_ReplaceByKey(benchmark::State& state) {
  const bool row_transactions = state.range(0) != 0;
  const bool capture = state.range(1) != 0;
  BenchStore store;
  SetRecordCapture(capture);
  int32_t handles[3];
  for (int i = 0; i < 3; ++i) {
    handles[i] = CBtrvOapi();
    btrOpen(handles[i], "", BenchStore::kFiles[i].name, 1, 1, 0);
  }
  int64_t n = 0;
  for (auto _ : state) {
    if (row_transactions && btrBeginTransaction() != 0) state.SkipWithError("begin");
    for (int which : BenchStore::kRowShape) {
      const BenchStore::File& f = BenchStore::kFiles[which];
      std::string record = Record(f, n++, kKeys);
      uint32_t length = f.record_length;
      if (ReplaceByKey(handles[which], record.data(), &length) != 0) state.SkipWithError("replace");
    }
    if (capture) benchmark::DoNotOptimize(TakeRecordChanges());
    if (row_transactions && btrEndTransaction() != 0) state.SkipWithError("end");
  }
  SetRecordCapture(false);
  state.SetItemsProcessed(state.iterations() * 13);
}
BENCHMARK(BM_ReplaceByKey)
    ->ArgNames({"row_transaction", "capture"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->UseRealTime();

// The same rows with SQLite alone: the select, delete and insert replace-by-key does.
void BM_RawSqliteReplace(benchmark::State& state) {
  const bool row_transactions = state.range(0) != 0;
  BenchStore store;
  CloseRecordStore();
  sqlite3* db = nullptr;
  sqlite3_open(store.path().c_str(), &db);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  sqlite3_stmt *get[3], *del[3], *ins[3];
  for (int i = 0; i < 3; ++i) {
    const std::string t = BenchStore::kFiles[i].name;
    sqlite3_prepare_v2(db, ("SELECT record FROM " + t + " WHERE key = ?1").c_str(), -1, &get[i],
                       nullptr);
    sqlite3_prepare_v2(db, ("DELETE FROM " + t + " WHERE key = ?1").c_str(), -1, &del[i], nullptr);
    sqlite3_prepare_v2(db, ("INSERT INTO " + t + " VALUES (?1, ?2)").c_str(), -1, &ins[i], nullptr);
  }
  int64_t n = 0;
  for (auto _ : state) {
    if (row_transactions) sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int which : BenchStore::kRowShape) {
      const BenchStore::File& f = BenchStore::kFiles[which];
      std::string record = Record(f, n++, kKeys);
      if (!row_transactions) sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      sqlite3_bind_blob(get[which], 1, record.data(), f.key_length, SQLITE_STATIC);
      if (sqlite3_step(get[which]) == SQLITE_ROW) {
        sqlite3_bind_blob(del[which], 1, record.data(), f.key_length, SQLITE_STATIC);
        sqlite3_step(del[which]);
        sqlite3_reset(del[which]);
      }
      sqlite3_reset(get[which]);
      sqlite3_bind_blob(ins[which], 1, record.data(), f.key_length, SQLITE_STATIC);
      sqlite3_bind_blob(ins[which], 2, record.data(), f.record_length, SQLITE_STATIC);
      if (sqlite3_step(ins[which]) != SQLITE_DONE) state.SkipWithError("insert");
      sqlite3_reset(ins[which]);
      if (!row_transactions) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    if (row_transactions) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  for (int i = 0; i < 3; ++i) {
    sqlite3_finalize(get[i]);
    sqlite3_finalize(del[i]);
    sqlite3_finalize(ins[i]);
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * 13);
}
BENCHMARK(BM_RawSqliteReplace)->ArgName("row_transaction")->Arg(0)->Arg(1)->UseRealTime();

// Get-equal over a file of 20000 jcki records, as the lookups and number probes do.
void BM_GetEqual(benchmark::State& state) {
  BenchStore store;
  const BenchStore::File& f = BenchStore::kFiles[0];
  const int32_t handle = CBtrvOapi();
  btrOpen(handle, "", f.name, 1, 1, 0);
  btrBeginTransaction();
  for (int64_t n = 0; n < kKeys; ++n) {
    std::string record = Record(f, n, kKeys);
    uint32_t length = f.record_length;
    btrInsert(handle, record.data(), &length, 0);
  }
  btrEndTransaction();
  std::string buffer(f.record_length, '\0');
  int64_t n = 0;
  for (auto _ : state) {
    std::string key = Record(f, n * 7919, kKeys);  // spread over the file
    n++;
    uint32_t length = f.record_length;
    if (btrGetEqual(handle, buffer.data(), &length, key.data(), 0, 0) != 0) {
      state.SkipWithError("get-equal");
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetEqual);

void BM_RawSqliteGetEqual(benchmark::State& state) {
  BenchStore store;
  const BenchStore::File& f = BenchStore::kFiles[0];
  CloseRecordStore();
  sqlite3* db = nullptr;
  sqlite3_open(store.path().c_str(), &db);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO jcki VALUES (?1, ?2)", -1, &ins, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int64_t n = 0; n < kKeys; ++n) {
    std::string record = Record(f, n, kKeys);
    sqlite3_bind_blob(ins, 1, record.data(), f.key_length, SQLITE_TRANSIENT);
    sqlite3_bind_blob(ins, 2, record.data(), f.record_length, SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(ins);
  sqlite3_stmt* get = nullptr;
  sqlite3_prepare_v2(db, "SELECT record FROM jcki WHERE key = ?1", -1, &get, nullptr);
  std::string buffer(f.record_length, '\0');
  int64_t n = 0;
  for (auto _ : state) {
    std::string key = Record(f, n * 7919, kKeys);
    n++;
    sqlite3_bind_blob(get, 1, key.data(), f.key_length, SQLITE_STATIC);
    if (sqlite3_step(get) != SQLITE_ROW) state.SkipWithError("get");
    std::memcpy(buffer.data(), sqlite3_column_blob(get, 0), f.record_length);
    sqlite3_reset(get);
  }
  sqlite3_finalize(get);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawSqliteGetEqual);

}  // namespace
}  // namespace quillmere

BENCHMARK_MAIN();
