// The record-file library on the real SQLite store in a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"
#include "recfiles/store_faults.h"
#include "support/process.h"
#include "support/test_support.h"

namespace quillmere {

// Shows a change with its bytes escaped when an expectation fails.
void PrintTo(const RecordChange& change, std::ostream* os) {
  auto record = [](const std::optional<std::string>& r) {
    return r ? ::testing::PrintToString(*r) : std::string("none");
  };
  *os << "{" << change.file << " " << ::testing::PrintToString(change.key) << ": "
      << record(change.before) << " -> " << record(change.after) << "}";
}

namespace {

using ::quillmere::testing::DumpRecords;
using ::quillmere::testing::InitStore;
using ::quillmere::testing::ReadFile;
using ::quillmere::testing::TempDir;
using ::quillmere::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr uint32_t kDescLen = 64;  // "desc": 64-byte records, 11-byte key

// A desc record: `key` then `fill` up to 64 bytes. Keys shorter than 11 bytes are NUL-filled.
std::string Desc(std::string_view key, char fill = '.') {
  std::string record(key);
  record.resize(11, '\0');
  record.resize(kDescLen, fill);
  return record;
}

// The key `prefix` followed by `n`: "K" + std::to_string(n) inlined at -O3 makes GCC 12 warn of an
// overlapping copy that cannot happen (-Wrestrict).
std::string NumberedKey(std::string_view prefix, int n) {
  return std::string(prefix).append(std::to_string(n));
}

// Fails every write whose operation is named in `failing` ("insert update") with `status`.
class FailOperations : public StoreFaults {
 public:
  FailOperations(std::string_view failing, int16_t status) : failing_(failing), status_(status) {}
  int16_t BeforeWrite(std::string_view operation) override {
    return failing_.find(operation) != std::string_view::npos ? status_ : 0;
  }

 private:
  std::string_view failing_;
  int16_t status_;
};

// A raw SQLite connection to the store, as another program would hold it.
class RawConnection {
 public:
  explicit RawConnection(const std::filesystem::path& dir) {
    const std::string path = (dir / kRecordStoreFileName).string();
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
    sqlite3_busy_timeout(db_, 5000);
  }
  ~RawConnection() { sqlite3_close(db_); }
  int Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // The first column of the first row of `sql`; -999 when there is none.
  int64_t QueryInt(const std::string& sql) { return QueryIntOn(db_, sql); }
  static int64_t QueryIntOn(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
    const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -999;
    sqlite3_finalize(stmt);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
};

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { settings_ = InitStore(dir_.path()); }
  void TearDown() override {
    SetStoreFaults(nullptr);
    SetStoreStopFlag(nullptr);
    CloseRecordStore();
  }

  int32_t Open(const char* name = "desc") {
    const int32_t handle = CBtrvOapi();
    EXPECT_EQ(btrOpen(handle, "", name, 1, 1, 0), 0) << name;
    return handle;
  }
  int16_t Insert(int32_t handle, const std::string& record) {
    uint32_t length = static_cast<uint32_t>(record.size());
    return btrInsert(handle, record.data(), &length, 0);
  }
  int16_t Replace(int32_t handle, const std::string& record) {
    uint32_t length = static_cast<uint32_t>(record.size());
    return ReplaceByKey(handle, record.data(), &length);
  }
  // Get-equal on `key` (NUL-filled to the key length); the record read goes to `*out`.
  int16_t GetEqual(int32_t handle, std::string_view key, std::string* out = nullptr) {
    std::string buffer(kDescLen, '\0');
    std::string key_buffer(key);
    key_buffer.resize(26, '\0');
    uint32_t length = kDescLen;
    const int16_t status = btrGetEqual(handle, buffer.data(), &length, key_buffer.data(), 0, 0);
    if (out != nullptr) *out = buffer;
    return status;
  }
  // The keys (first 11 bytes, trailing NULs dropped) of every desc record, in key order.
  std::vector<std::string> DescKeys() {
    std::vector<std::string> keys;
    for (std::string record : DumpRecords("desc")) {
      record.resize(11);
      record.erase(record.find_last_not_of('\0') + 1);
      keys.push_back(record);
    }
    return keys;
  }
  std::string Check() {
    std::string report;
    const int16_t status = btrCheck(&report);
    return std::to_string(status) + " " + report;
  }

  TempDir dir_;
  std::string settings_;
};

TEST_F(StoreTest, EachOperationReportsItsStatus) {
  const int32_t h = Open();
  std::string read(kDescLen, '\0');
  uint32_t length = kDescLen;
  const std::string a = Desc("A", 'a');
  std::string short_record = a.substr(0, 63);
  const struct {
    const char* what;
    std::function<int16_t()> op;
    int16_t want;
  } kSteps[] = {
      {"insert A", [&] { return Insert(h, a); }, 0},
      {"insert A again", [&] { return Insert(h, Desc("A", 'z')); }, kStatusDuplicateKey},
      {"insert 63 bytes", [&] { return Insert(h, short_record); }, kStatusBufferTooShort},
      {"get-equal missing B", [&] { return GetEqual(h, "B"); }, kStatusKeyNotFound},
      // the failed get leaves no current record
      {"update after a failed get", [&] { return btrUpdate(h, a.data(), &(length = kDescLen)); },
       kStatusNoCurrentRecord},
      {"delete after a failed get", [&] { return btrDelete(h); }, kStatusNoCurrentRecord},
      {"get-equal A", [&] { return GetEqual(h, "A", &read); }, 0},
      {"get-equal A into 63 bytes",
       [&] {
         std::string buffer(64, '\0');
         uint32_t small = 63;
         return btrGetEqual(h, buffer.data(), &small, a.data(), 0, 0);
       },
       kStatusBufferTooShort},
      {"update A", [&] { return btrUpdate(h, Desc("A", 'u').data(), &(length = kDescLen)); }, 0},
      {"update A with 63 bytes", [&] { return btrUpdate(h, a.data(), &(length = 63)); },
       kStatusBufferTooShort},
      {"delete A", [&] { return btrDelete(h); }, 0},
      {"delete A twice", [&] { return btrDelete(h); }, kStatusNoCurrentRecord},
      {"get-equal deleted A", [&] { return GetEqual(h, "A"); }, kStatusKeyNotFound},
      {"get-next with no position",
       [&] { return btrGetNext(h, read.data(), &(length = kDescLen), 0); }, kStatusNoCurrentRecord},
      {"get-greater on an empty file",
       [&] { return btrGetGreater(h, read.data(), &(length = kDescLen), a.data(), 0, 0); },
       kStatusEndOfFile},
      {"close", [&] { return btrClose(h); }, 0},
      {"get-equal on a closed handle", [&] { return GetEqual(h, "A"); }, kStatusNotOpen},
      {"close twice", [&] { return btrClose(h); }, kStatusNotOpen},
      {"insert on an unknown handle", [&] { return Insert(999999, a); }, kStatusNotOpen},
  };
  for (const auto& step : kSteps) EXPECT_EQ(step.op(), step.want) << step.what;
}

TEST_F(StoreTest, GetEqualReadsTheRecordAndUpdateStoresIt) {
  const int32_t h = Open();
  ASSERT_EQ(Insert(h, Desc("K1", 'x')), 0);
  std::string read;
  ASSERT_EQ(GetEqual(h, "K1", &read), 0);
  EXPECT_EQ(read, Desc("K1", 'x'));
  uint32_t length = kDescLen;
  ASSERT_EQ(btrUpdate(h, Desc("K1", 'y').data(), &length), 0);
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("K1", 'y')));
}

TEST_F(StoreTest, GetGreaterThenGetNextScansInByteOrder) {
  const int32_t h = Open();
  // Inserted out of order; bytes above 127 sort after ASCII, as unsigned bytes.
  for (const char* key : {"\xff", "B", "\x80", "A", "a", "\x7f", "A\x01"}) {
    ASSERT_EQ(Insert(h, Desc(key)), 0) << key;
  }
  std::string record(kDescLen, '\0');
  uint32_t length = kDescLen;
  std::vector<std::string> keys;
  std::string start = Desc("A");  // the key buffer: "A" and NULs
  int16_t status = btrGetGreater(h, record.data(), &length, start.data(), 0, 0);
  while (status == 0) {
    keys.push_back(record.substr(0, record.find('\0')));
    status = btrGetNext(h, record.data(), &length, 0);
  }
  EXPECT_EQ(status, kStatusEndOfFile);
  EXPECT_THAT(keys, ElementsAre("A\x01", "B", "a", "\x7f", "\x80", "\xff"));
  // At the end the position stays: get-next keeps answering 9.
  EXPECT_EQ(btrGetNext(h, record.data(), &length, 0), kStatusEndOfFile);
}

TEST_F(StoreTest, GetNextContinuesAfterADeletedRecord) {
  const int32_t h = Open();
  for (const char* key : {"A", "B", "C"}) ASSERT_EQ(Insert(h, Desc(key)), 0);
  std::string record;
  ASSERT_EQ(GetEqual(h, "B", &record), 0);
  ASSERT_EQ(btrDelete(h), 0);
  uint32_t length = kDescLen;
  ASSERT_EQ(btrGetNext(h, record.data(), &length, 0), 0);
  EXPECT_EQ(record, Desc("C"));
}

TEST_F(StoreTest, KeyIsReadAsExactlyTheKeyLength) {
  const int32_t h = Open();
  std::string with_tail = Desc("AB");
  with_tail[5] = 'X';  // a byte after the text's NUL, still inside the 11-byte key
  ASSERT_EQ(Insert(h, Desc("AB")), 0);
  ASSERT_EQ(Insert(h, with_tail), 0);
  std::string key(26, '\0');
  key.replace(0, 11, with_tail.substr(0, 11));
  key[11] = 'Z';  // past the key length: ignored
  std::string record(kDescLen, '\0');
  uint32_t length = kDescLen;
  ASSERT_EQ(btrGetEqual(h, record.data(), &length, key.data(), 0, 0), 0);
  EXPECT_EQ(record, with_tail);
  EXPECT_EQ(GetEqual(h, "AB", &record), 0);
  EXPECT_EQ(record, Desc("AB"));
  std::string garbage_key = "AB";
  garbage_key += '\0';
  garbage_key += "junk";  // an unzeroed buffer finds nothing
  EXPECT_EQ(GetEqual(h, garbage_key), kStatusKeyNotFound);
}

TEST_F(StoreTest, ReplaceByKeyLeavesTheNewRecordOnce) {
  const int32_t h = Open();
  ASSERT_EQ(Replace(h, Desc("K", '1')), 0);  // new key: inserted
  ASSERT_EQ(Replace(h, Desc("K", '2')), 0);  // existing key: replaced
  ASSERT_EQ(Replace(h, Desc("L", '3')), 0);
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("K", '2'), Desc("L", '3')));
  uint32_t length = 63;
  EXPECT_EQ(ReplaceByKey(h, Desc("K").data(), &length), kStatusBufferTooShort);
}

TEST_F(StoreTest, FailedReplaceLeavesTheOldRecord) {
  const int32_t h = Open();
  ASSERT_EQ(Replace(h, Desc("K", 'o')), 0);
  const struct {
    const char* failing;  // operations the fault seam fails
    int16_t want;
  } kCases[] = {
      {"insert update", kStatusDiskFull},  // deleted, then neither insert nor update stored it
      {"delete", kStatusDiskFull},
      {"commit", kStatusDiskFull},  // its own commit, outside a transaction
  };
  for (const auto& c : kCases) {
    FailOperations faults(c.failing, kStatusDiskFull);
    SetStoreFaults(&faults);
    EXPECT_EQ(Replace(h, Desc("K", 'n')), c.want) << c.failing;
    SetStoreFaults(nullptr);
    EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("K", 'o'))) << c.failing;
  }
}

TEST_F(StoreTest, FailedReplaceInsideATransactionKeepsTheTransactionsOtherWrites) {
  const int32_t h = Open();
  ASSERT_EQ(Replace(h, Desc("K", 'o')), 0);
  ASSERT_EQ(btrBeginTransaction(), 0);
  ASSERT_EQ(Replace(h, Desc("A")), 0);
  FailOperations faults("insert", kStatusDiskFull);
  SetStoreFaults(&faults);
  EXPECT_EQ(Replace(h, Desc("K", 'n')), kStatusDiskFull);
  SetStoreFaults(nullptr);
  ASSERT_EQ(btrEndTransaction(), 0);
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("A"), Desc("K", 'o')));
}

TEST_F(StoreTest, UpdateToAnotherKeyMovesTheRecordUnlessTheKeyIsTaken) {
  const int32_t h = Open();
  ASSERT_EQ(Insert(h, Desc("A")), 0);
  ASSERT_EQ(Insert(h, Desc("B")), 0);
  ASSERT_EQ(GetEqual(h, "A"), 0);
  uint32_t length = kDescLen;
  EXPECT_EQ(btrUpdate(h, Desc("B", 'x').data(), &length), kStatusDuplicateKey);
  EXPECT_EQ(btrUpdate(h, Desc("C", 'x').data(), &length), 0);
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("B"), Desc("C", 'x')));
}

TEST_F(StoreTest, MissingRecordFileGives12AndOthersStillOpen) {
  const int32_t missing = CBtrvOapi();
  EXPECT_EQ(btrOpen(missing, "", "nosuch", 1, 1, 0), kStatusFileNotFound);
  EXPECT_EQ(GetEqual(missing, "A"), kStatusNotOpen);
  for (const char* name : {"ap", "extap", "jcki", "desc", "trans.ndx", "pol", "DESC"}) {
    const int32_t h = CBtrvOapi();
    EXPECT_EQ(btrOpen(h, "", name, 1, 1, 0), 0) << name;  // file names ignore letter case
  }
}

TEST_F(StoreTest, TwoHandlesOnOneFileKeepTheirOwnPositions) {
  const int32_t first = Open();
  const int32_t second = Open();
  for (const char* key : {"A", "B", "C", "D"}) ASSERT_EQ(Insert(first, Desc(key)), 0);
  ASSERT_EQ(GetEqual(first, "A"), 0);
  ASSERT_EQ(GetEqual(second, "C"), 0);
  std::string record(kDescLen, '\0');
  uint32_t length = kDescLen;
  ASSERT_EQ(btrGetNext(first, record.data(), &length, 0), 0);
  EXPECT_EQ(record, Desc("B"));
  ASSERT_EQ(btrGetNext(second, record.data(), &length, 0), 0);
  EXPECT_EQ(record, Desc("D"));
  ASSERT_EQ(btrDelete(second), 0);  // D; the first handle's current record B is untouched
  ASSERT_EQ(btrUpdate(first, Desc("B", 'b').data(), &length), 0);
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("A"), Desc("B", 'b'), Desc("C")));
}

TEST_F(StoreTest, TransactionsCommitOrDiscardTheirWrites) {
  const int32_t h = Open();
  EXPECT_EQ(btrEndTransaction(), kStatusNoTransaction);
  EXPECT_EQ(btrAbortTransaction(), kStatusNoTransaction);
  ASSERT_EQ(btrBeginTransaction(), 0);
  EXPECT_EQ(btrBeginTransaction(), kStatusTransactionActive);
  ASSERT_EQ(Replace(h, Desc("kept")), 0);
  ASSERT_EQ(btrEndTransaction(), 0);
  ASSERT_EQ(btrBeginTransaction(), 0);
  ASSERT_EQ(Replace(h, Desc("dropped")), 0);
  ASSERT_EQ(Replace(h, Desc("kept", 'x')), 0);
  ASSERT_EQ(btrAbortTransaction(), 0);
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("kept")));
}

TEST_F(StoreTest, FailedCommitLeavesTheTransactionToAbort) {
  const int32_t h = Open();
  ASSERT_EQ(btrBeginTransaction(), 0);
  ASSERT_EQ(Replace(h, Desc("A")), 0);
  FailOperations faults("commit", kStatusIoError);
  SetStoreFaults(&faults);
  EXPECT_EQ(btrEndTransaction(), kStatusIoError);
  SetStoreFaults(nullptr);
  EXPECT_EQ(btrAbortTransaction(), 0);
  EXPECT_THAT(DumpRecords("desc"), IsEmpty());
}

TEST_F(StoreTest, EnvironmentFaultFailsOnlyTheNthCallOfItsOperation) {
  setenv(kStoreFaultVariable, "insert:18:2", 1);
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);  // reads the fault
  unsetenv(kStoreFaultVariable);
  const int32_t h = Open();
  EXPECT_EQ(Insert(h, Desc("A")), 0);
  EXPECT_EQ(Insert(h, Desc("B")), kStatusDiskFull);
  EXPECT_EQ(Insert(h, Desc("C")), 0);
  EXPECT_THAT(DescKeys(), ElementsAre("A", "C"));
}

TEST(ParseStoreFault, FailsTheNthCallOfTheOperationOnly) {
  std::optional<FailNthWrite> fault = ParseStoreFault("commit:18:2");
  ASSERT_TRUE(fault.has_value());
  std::vector<int16_t> answers;
  for (std::string_view operation : {"commit", "insert", "commit", "commit", "delete"}) {
    answers.push_back(fault->BeforeWrite(operation));
  }
  EXPECT_THAT(answers, ElementsAre(0, 0, 18, 0, 0));
}

TEST(ParseStoreFault, IgnoresAValueOfAnotherForm) {
  const std::string_view kCases[] = {
      "",           "commit",       "commit:18",      "commit:18:",   "commit:18:0",
      "commit:0:1", "commit:-18:1", "commit:40000:1", "commit: 18:1", "commit:18:1:2",
      "write:18:1", "COMMIT:18:1",  "commit:18:x",    ":18:1",
  };
  for (std::string_view text : kCases) {
    EXPECT_FALSE(ParseStoreFault(text).has_value()) << '"' << text << '"';
  }
}

TEST_F(StoreTest, WriteLockHeldElsewhereGives85AfterABoundedWait) {
  setenv("QUILLMERE_RECFILE_BUSY_MS", "200", 1);
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);  // reads the wait
  unsetenv("QUILLMERE_RECFILE_BUSY_MS");
  const int32_t h = Open();
  ASSERT_EQ(Insert(h, Desc("A")), 0);
  RawConnection other(dir_.path());
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  EXPECT_EQ(btrBeginTransaction(), kStatusLocked);
  EXPECT_EQ(Insert(h, Desc("B")), kStatusLocked);
  EXPECT_EQ(Replace(h, Desc("A", 'x')), kStatusLocked);
  EXPECT_EQ(GetEqual(h, "A"), 0);  // readers are not blocked by a writer
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  ASSERT_EQ(btrBeginTransaction(), 0);
  ASSERT_EQ(btrEndTransaction(), 0);
}

// A program that is asked to stop (a signal handler sets its flag) must not sit out the whole
// wait for another process's lock: the wait gives up as soon as the flag is set.
TEST_F(StoreTest, StopFlagEndsTheWaitForALock) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  const struct {
    const char* busy_ms;
    int set_after_ms;  // -1: never; 0: before the call
    int want_at_least_ms, want_under_ms;
  } kCases[] = {
      {"60000", 0, 0, 500},
      {"60000", 300, 300, 1000},  // set in the middle of the wait, as by a signal
      {"300", -1, 300, 5000},     // without a stop the bounded wait still ends it
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("busy ") + c.busy_ms + " ms, stop after " +
                 std::to_string(c.set_after_ms) + " ms");
    volatile std::sig_atomic_t stop = c.set_after_ms == 0 ? 1 : 0;
    SetStoreStopFlag(&stop);
    setenv("QUILLMERE_RECFILE_BUSY_MS", c.busy_ms, 1);
    ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);  // reads the wait
    unsetenv("QUILLMERE_RECFILE_BUSY_MS");
    RawConnection other(dir_.path());
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
    std::thread setter([&] {
      if (c.set_after_ms <= 0) return;
      std::this_thread::sleep_for(milliseconds(c.set_after_ms));
      stop = 1;
    });
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(btrBeginTransaction(), kStatusLocked);
    const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    setter.join();
    EXPECT_GE(waited, c.want_at_least_ms);
    EXPECT_LT(waited, c.want_under_ms);
    ASSERT_EQ(other.Exec("ROLLBACK"), SQLITE_OK);
    // The flag cleared again, the store works as before.
    stop = 0;
    ASSERT_EQ(btrBeginTransaction(), 0);
    ASSERT_EQ(btrEndTransaction(), 0);
    SetStoreStopFlag(nullptr);  // `stop` ends with this turn of the loop
  }
}

TEST_F(StoreTest, ReadsSeeWhatOtherConnectionsCommitted) {
  const int32_t h = Open();
  ASSERT_EQ(GetEqual(h, "A"), kStatusKeyNotFound);
  RawConnection other(dir_.path());
  ASSERT_EQ(other.Exec("INSERT INTO desc VALUES (x'4100000000000000000000', "
                       "x'4100000000000000000000' || zeroblob(53))"),
            SQLITE_OK);
  std::string read;
  EXPECT_EQ(GetEqual(h, "A", &read), 0);
  EXPECT_EQ(read, Desc("A", '\0'));
  // A file created by another program is found by name.
  ASSERT_EQ(other.Exec("INSERT INTO recfile_catalogue VALUES ('late', 10, 2);"
                       "CREATE TABLE late (key BLOB PRIMARY KEY, record BLOB NOT NULL) WITHOUT "
                       "ROWID"),
            SQLITE_OK);
  EXPECT_EQ(btrOpen(CBtrvOapi(), "", "late", 1, 1, 0), 0);
}

// The store writes a transaction's log frames as one block at its commit: a transaction of any
// size must be whole for another program as soon as the commit returns, and not before.
TEST_F(StoreTest, CommittedTransactionsOfEverySizeAreWholeForOtherPrograms) {
  const int32_t h = Open();
  RawConnection other(dir_.path());
  int64_t total = 0;
  int next_key = 0;
  for (const int records : {1, 3000, 40000}) {  // 64 bytes each: one page, ~200 KiB, ~2.5 MiB
    SCOPED_TRACE(records);
    ASSERT_EQ(btrBeginTransaction(), 0);
    for (int i = 0; i < records; ++i) {
      ASSERT_EQ(Insert(h, Desc(NumberedKey("K", next_key++))), 0);
    }
    EXPECT_EQ(other.QueryInt("SELECT count(*) FROM desc"), total);
    ASSERT_EQ(btrEndTransaction(), 0);
    total += records;
    EXPECT_EQ(other.QueryInt("SELECT count(*) FROM desc"), total);
  }
  EXPECT_EQ(Check().substr(0, 2), "0 ");
  CloseRecordStore();
  RawConnection fresh(dir_.path());  // reads the log from the file, not from a cache
  EXPECT_EQ(fresh.QueryInt("SELECT count(*) FROM desc"), total);
}

// A full disk met while the log is written fails the commit; the store stays as before it.
TEST_F(StoreTest, CommitWhoseLogCannotBeWrittenFailsAndKeepsTheStoreAsBefore) {
  const int32_t h = Open();
  ASSERT_EQ(Insert(h, Desc("before")), 0);
  const std::filesystem::path wal = dir_.path() / (std::string(kRecordStoreFileName) + "-wal");
  ASSERT_TRUE(std::filesystem::exists(wal));
  // The process may not make files longer than the log is now plus a little: as a disk that
  // fills up part-way through the commit.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(btrBeginTransaction(), 0);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Insert(h, Desc(NumberedKey("K", i))), 0);
  rlimit small = saved;
  small.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(wal)) + 6000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int16_t status = btrEndTransaction();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_NE(status, 0);
  (void)btrAbortTransaction();
  EXPECT_THAT(DescKeys(), ElementsAre("before"));
  RawConnection other(dir_.path());
  EXPECT_EQ(other.QueryInt("SELECT count(*) FROM desc"), 1);
  // With room again, the store goes on.
  ASSERT_EQ(Insert(h, Desc("after")), 0);
  EXPECT_THAT(DescKeys(), ElementsAre("after", "before"));
  EXPECT_EQ(Check().substr(0, 2), "0 ");
}

// Shared reads see the store as at their first read, take no lock that stops a writer, and end
// at the store's own first write, which then commits as it always does.
TEST_F(StoreTest, SharedReadsSeeOneStateAndEndAtTheFirstWrite) {
  const int32_t h = Open();
  ASSERT_EQ(Insert(h, Desc("A")), 0);
  RawConnection other(dir_.path());
  // Another program's record for a one-letter key, written as the store writes it.
  const auto other_inserts = [&](char key) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(key));
    const std::string key_bytes = std::string("x'") + hex + std::string(20, '0') + "'";
    return other.Exec("INSERT INTO desc VALUES (" + key_bytes + ", " + key_bytes +
                      " || zeroblob(53))");
  };

  ASSERT_EQ(BeginRecordReads(), 0);
  EXPECT_EQ(GetEqual(h, "A"), 0);
  ASSERT_EQ(other_inserts('B'), SQLITE_OK);  // a writer is not held up
  EXPECT_EQ(GetEqual(h, "B"), kStatusKeyNotFound);
  EndRecordReads();
  EXPECT_EQ(GetEqual(h, "B"), 0);

  ASSERT_EQ(BeginRecordReads(), 0);
  EXPECT_EQ(GetEqual(h, "A"), 0);
  ASSERT_EQ(Insert(h, Desc("C")), 0);
  EXPECT_EQ(other.QueryInt("SELECT count(*) FROM desc"), 3);

  ASSERT_EQ(BeginRecordReads(), 0);
  EXPECT_EQ(GetEqual(h, "A"), 0);
  ASSERT_EQ(btrBeginTransaction(), 0);
  ASSERT_EQ(Insert(h, Desc("D")), 0);
  ASSERT_EQ(btrEndTransaction(), 0);
  EXPECT_EQ(other.QueryInt("SELECT count(*) FROM desc"), 4);
  EndRecordReads();  // nothing left to end

  ASSERT_EQ(btrBeginTransaction(), 0);  // inside a transaction they change nothing
  ASSERT_EQ(BeginRecordReads(), 0);
  ASSERT_EQ(Insert(h, Desc("E")), 0);
  EndRecordReads();
  ASSERT_EQ(btrAbortTransaction(), 0);
  EXPECT_THAT(DescKeys(), ElementsAre("A", "B", "C", "D"));
}

TEST_F(StoreTest, CheckNamesDamagedFiles) {
  EXPECT_EQ(Check(), "0 ok");
  RawConnection other(dir_.path());
  ASSERT_EQ(other.Exec("INSERT INTO jcki VALUES (x'00', x'00')"), SQLITE_OK);
  ASSERT_EQ(other.Exec("INSERT INTO recfile_catalogue VALUES ('gone', 10, 2)"), SQLITE_OK);
  const std::string report = Check();
  EXPECT_THAT(report, HasSubstr("2 "));
  EXPECT_THAT(report, HasSubstr("jcki: 1 record(s) of the wrong length"));
  EXPECT_THAT(report, HasSubstr("gone: catalogued but its table is missing"));
  EXPECT_EQ(btrOpen(CBtrvOapi(), "", "gone", 1, 1, 0), kStatusFileNotFound);
}

TEST_F(StoreTest, CreateFileRefusesTakenNamesAndBadLengths) {
  const struct {
    const char* name;
    uint32_t record_length, key_length;
    int16_t want;
  } kCases[] = {
      {"new \"quoted\" name", 10, 2, 0},  // any name: identifiers are quoted
      {"desc", 64, 11, kStatusDuplicateKey},
      {"DESC", 64, 11, kStatusDuplicateKey},
      {"recfile_catalogue", 10, 2, kStatusDuplicateKey},
      {"sqlite_master", 10, 2, kStatusDuplicateKey},
      // the run journal's tables sit beside the record files
      {"journal_runs", 10, 2, kStatusDuplicateKey},
      {"Journal_Anything", 10, 2, kStatusDuplicateKey},
      {"journal", 10, 2, 0},  // only the prefix with its underscore is taken
      {"", 10, 2, kStatusFileNotFound},
      {"zero", 0, 0, kStatusBufferTooShort},
      {"longkey", 10, 11, kStatusBufferTooShort},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(btrCreateFile(c.name, c.record_length, c.key_length), c.want) << c.name;
  }
  std::vector<RecordFileInfo> files;
  ASSERT_EQ(btrListFiles(&files), 0);
  EXPECT_EQ(files.size(), 8u);
  EXPECT_EQ(Check(), "0 ok");
}

TEST_F(StoreTest, DataDirectoryComesFromTheSettingsFile) {
  std::filesystem::create_directories(dir_.path() / "ndx");
  const std::string root = dir_.path().string();
  const struct {
    std::string settings;
    std::string want;
  } kCases[] = {
      {"[VelfilesNdx]\ndatapath=ndx\n", root + "/ndx"},
      {"[VELFILESNDX]\r\nDataPath = ndx\r\n", root + "/ndx"},  // names in any letter case
      {"[VelfilesNdx]\ndatapath=.\\ndx\n", root + "/ndx"},     // a Windows separator
      {"[VelfilesNdx]\ndatapath=\"ndx\"\n", root + "/ndx"},    // quotes around the value go
      {"[VelfilesNdx]\n  datapath = '.\\ndx'\r\n", root + "/ndx"},
      // A line that is not a setting does not hide the keys after it.
      {"[VelfilesNdx]\ndatapath: elsewhere\ndatapath=ndx\n", root + "/ndx"},
      {"[VelfilesNdx]\ndatapath=" + root + "/ndx\n", root + "/ndx"},
      {"[VelfilesNdx]\nmdbserv=x\n", root},  // no datapath: the file's own folder
      {"[Other]\ndatapath=ndx\n", root},
      {"[VelfilesNdx]\ndatapath=\n", root},  // empty: the file's own folder
      {"[VelfilesNdx]\ndatapath=\"\"\n", root},
  };
  const std::string settings = dir_.File("site.ini");
  for (const auto& c : kCases) {
    WriteFile(settings, c.settings);
    EXPECT_EQ(DataDirectoryFromSettings(settings), c.want) << c.settings;
  }
  EXPECT_EQ(DataDirectoryFromSettings(dir_.File("missing.ini")), root);
  WriteFile(settings, "[VelfilesNdx]\ndatapath=ndx\n");
  // The initialisation opens the store that is there; only the maintenance tool makes one.
  EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), "/host/zel.ini"), kStatusFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "ndx" / kRecordStoreFileName));
  ASSERT_EQ(OpenRecordStore(root + "/ndx", "", /*create=*/true), 0);
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), "/host/zel.ini"), 0);
  EXPECT_EQ(btrDataDirectory(), root + "/ndx");
  EXPECT_EQ(btrHostSettingsPath(), "/host/zel.ini");
  WriteFile(settings, "[VelfilesNdx]\ndatapath=missing\n");
  EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), kStatusFileNotFound);
}

// What the folder holds in place of a store; the initialisation refuses it with a cause and
// leaves it exactly as it was.
TEST(StoreOpen, InitialisationOpensOnlyAStoreThatIsThere) {
  const std::string kGarbage(5000, 'x');
  const struct {
    const char* what;
    std::function<void(const std::filesystem::path& store)> make;  // "" leaves nothing there
    int16_t want_status;
    std::string want_cause;
  } kCases[] = {
      {"nothing", [](const std::filesystem::path&) {}, kStatusFileNotFound,
       "no recfiles.sqlite there (quillmere-recfile init creates the store)"},
      {"an empty file", [](const std::filesystem::path& p) { WriteFile(p.string(), ""); },
       kStatusIoError, "recfiles.sqlite is empty"},
      {"garbage", [&](const std::filesystem::path& p) { WriteFile(p.string(), kGarbage); },
       kStatusIoError, "recfiles.sqlite: file is not a database"},
      // A database, but not one of ours: nothing is written into it.
      {"another database",
       [](const std::filesystem::path& p) {
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(p.string().c_str(), &db), SQLITE_OK);
         EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t (a)", nullptr, nullptr, nullptr), SQLITE_OK);
         sqlite3_close(db);
       },
       kStatusIoError, "recfiles.sqlite holds no record-file catalogue"},
      {"a folder", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); },
       kStatusIoError, "recfiles.sqlite: unable to open database file (Is a directory)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::filesystem::path store = dir.path() / kRecordStoreFileName;
    c.make(store);
    const bool existed = std::filesystem::exists(store);
    const std::string before = std::filesystem::is_regular_file(store) ? ReadFile(store) : "";
    const std::string settings = dir.File("VELFILES.ini");
    WriteFile(settings, "[VelfilesNdx]\n");
    EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), c.want_status);
    EXPECT_EQ(RecordStoreError(), c.want_cause);
    // Every record file then fails with the store's cause.
    EXPECT_EQ(btrOpen(CBtrvOapi(), "", "ap", 1, 1, 0), kStatusFileNotFound);
    EXPECT_EQ(RecordStoreError(), c.want_cause);
    EXPECT_EQ(std::filesystem::exists(store), existed);
    if (std::filesystem::is_regular_file(store)) {
      EXPECT_EQ(ReadFile(store), before);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "recfiles.sqlite-wal"));
  }
  TempDir dir;
  const std::string settings = dir.File("VELFILES.ini");
  WriteFile(dir.File("plain"), "");
  for (const auto& [datapath, cause] : {std::pair{"missing", "the folder does not exist"},
                                        std::pair{"plain", "it is not a folder"}}) {
    WriteFile(settings, std::string("[VelfilesNdx]\ndatapath=") + datapath + "\n");
    EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), kStatusFileNotFound) << datapath;
    EXPECT_EQ(RecordStoreError(), cause) << datapath;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

TEST_F(StoreTest, StoreLockedByAnotherProgramIsReportedAsLocked) {
  CloseRecordStore();
  RawConnection other(dir_.path());
  // Another program that keeps the store to itself: not even a reader gets in.
  ASSERT_EQ(other.Exec("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; "
                       "INSERT INTO desc VALUES (x'41', x'41')"),
            SQLITE_OK);
  setenv("QUILLMERE_RECFILE_BUSY_MS", "200", 1);
  EXPECT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), kStatusLocked);
  unsetenv("QUILLMERE_RECFILE_BUSY_MS");
  EXPECT_EQ(RecordStoreError(), "recfiles.sqlite is locked by another program");
  ASSERT_EQ(other.Exec("ROLLBACK; PRAGMA locking_mode=NORMAL; SELECT 1 FROM desc"), SQLITE_OK);
}

TEST_F(StoreTest, FileThatDoesNotOpenHasItsCause) {
  RawConnection other(dir_.path());
  ASSERT_EQ(other.Exec("INSERT INTO recfile_catalogue VALUES ('gone', 10, 2);"
                       "INSERT INTO recfile_catalogue VALUES ('bent', 0, 2)"),
            SQLITE_OK);
  const struct {
    const char* name;
    int16_t want_status;
    std::string want_cause;
  } kCases[] = {
      {"desc", 0, ""},
      {"nosuch", kStatusFileNotFound, "the store has no file of that name"},
      {"gone", kStatusFileNotFound, "the store's catalogue lists it, but its table is missing"},
      {"bent", kStatusIoError, "its entry in the store's catalogue is damaged"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(btrOpen(CBtrvOapi(), "", c.name, 1, 1, 0), c.want_status) << c.name;
    EXPECT_EQ(RecordStoreError(), c.want_cause) << c.name;
  }
}

TEST_F(StoreTest, ReinitialisingClosesEarlierHandles) {
  const int32_t h = Open();
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);
  EXPECT_EQ(GetEqual(h, "A"), kStatusNotOpen);
  EXPECT_EQ(btrOpen(h, "", "desc", 1, 1, 0), 0);  // the handle itself can be opened again
}

TEST_F(StoreTest, ProcessKilledMidTransactionLeavesOnlyCommittedRecords) {
  const int32_t h = Open();
  std::vector<std::string> committed;
  for (int i = 0; i < 50; ++i) {
    committed.push_back(Desc(NumberedKey("P", 1000 + i)));
    ASSERT_EQ(Replace(h, committed.back()), 0);
  }
  for (int i = 0; i < 100; ++i) committed.push_back(Desc(NumberedKey("C", 1000 + i)));
  CloseRecordStore();  // no connection crosses the fork
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = testing::ForkChild([&] {
    close(ready[0]);
    if (QrtInitializeFauxBtrieve(settings_.c_str(), "") != 0) return 10;
    const int32_t child_handle = CBtrvOapi();
    if (btrOpen(child_handle, "", "desc", 1, 1, 0) != 0) return 11;
    if (btrBeginTransaction() != 0) return 12;
    for (int i = 50; i < 150; ++i) {
      if (Replace(child_handle, committed[i]) != 0) return 13;
    }
    if (btrEndTransaction() != 0) return 14;
    if (btrBeginTransaction() != 0) return 15;
    for (int i = 0;; ++i) {  // more than the page cache holds: pages spill into the WAL
      if (Replace(child_handle, Desc(NumberedKey("T", 100000 + i), 't')) != 0) return 16;
      if (i == 40000 && write(ready[1], "x", 1) != 1) return 17;
    }
  });
  close(ready[1]);
  char byte = 0;
  const bool signalled = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  kill(pid, SIGKILL);
  ASSERT_EQ(testing::WaitFor(pid), 128 + SIGKILL);
  ASSERT_TRUE(signalled);
  // The killed transaction had reached the disk: far more WAL than the committed records need.
  EXPECT_GT(std::filesystem::file_size(dir_.path() / "recfiles.sqlite-wal"), 1u << 20);

  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);
  EXPECT_EQ(Check(), "0 ok");
  std::sort(committed.begin(), committed.end());
  EXPECT_EQ(DumpRecords("desc"), committed);
}

TEST_F(StoreTest, TwoProcessesWritingAtOnceLoseNoRecord) {
  CloseRecordStore();
  auto writer = [&](char prefix) {
    return [this, prefix] {
      if (QrtInitializeFauxBtrieve(settings_.c_str(), "") != 0) return 10;
      const int32_t handle = CBtrvOapi();
      if (btrOpen(handle, "", "desc", 1, 1, 0) != 0) return 11;
      for (int row = 0; row < 40; ++row) {
        const bool grouped = row % 2 == 0;  // alternate: a posted row, and single writes
        if (grouped && btrBeginTransaction() != 0) return 12;
        for (int i = 0; i < 13; ++i) {
          std::string key = std::string(1, prefix) + std::to_string(1000 + row * 13 + i);
          if (Replace(handle, Desc(key)) != 0) return 13;
        }
        if (grouped && btrEndTransaction() != 0) return 14;
      }
      return 0;
    };
  };
  const pid_t first = testing::ForkChild(writer('X'));
  const pid_t second = testing::ForkChild(writer('Y'));
  EXPECT_EQ(testing::WaitFor(first), 0);
  EXPECT_EQ(testing::WaitFor(second), 0);

  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);
  const std::vector<std::string> keys = DescKeys();
  EXPECT_EQ(keys.size(), 2u * 40 * 13);
  for (char prefix : {'X', 'Y'}) {
    for (int n = 1000; n < 1000 + 40 * 13; ++n) {
      const std::string key = prefix + std::to_string(n);
      EXPECT_TRUE(std::binary_search(keys.begin(), keys.end(), key)) << key;
    }
  }
  EXPECT_EQ(Check(), "0 ok");
}

// ---- Change capture for the run journal ----

// Key `k` of a desc record as the store keeps it: 11 bytes, NUL-filled.
std::string DescKey(std::string_view k) { return Desc(k).substr(0, 11); }

RecordChange Change(std::string file, std::string_view key, std::optional<std::string> before,
                    std::optional<std::string> after) {
  return RecordChange{std::move(file), DescKey(key), std::move(before), std::move(after)};
}

class CaptureTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    ASSERT_EQ(btrCreateFile("desc2", kDescLen, 11), 0);  // desc's lengths: keys of equal bytes
    h_ = Open();
    h2_ = Open("desc2");
    ASSERT_EQ(Insert(h_, Desc("A", 'a')), 0);
    ASSERT_EQ(Insert(h_, Desc("B", 'b')), 0);
    SetRecordCapture(true);
  }
  void TearDown() override {
    SetRecordCapture(false);
    StoreTest::TearDown();
  }
  int16_t Update(int32_t handle, const std::string& record) {
    uint32_t length = static_cast<uint32_t>(record.size());
    return btrUpdate(handle, record.data(), &length);
  }

  int32_t h_ = 0, h2_ = 0;
};

TEST_F(CaptureTest, KeepsOneChangePerKeyInTheOrderOfFirstWrites) {
  const struct {
    const char* what;
    std::function<void()> writes;  // on desc holding A 'a' and B 'b', inside a transaction
    std::vector<RecordChange> want;
  } kCases[] = {
      {"insert",
       [&] { EXPECT_EQ(Insert(h_, Desc("C", 'c')), 0); },
       {Change("desc", "C", std::nullopt, Desc("C", 'c'))}},
      {"update",
       [&] {
         ASSERT_EQ(GetEqual(h_, "A"), 0);
         EXPECT_EQ(Update(h_, Desc("A", 'u')), 0);
       },
       {Change("desc", "A", Desc("A", 'a'), Desc("A", 'u'))}},
      {"delete",
       [&] {
         ASSERT_EQ(GetEqual(h_, "A"), 0);
         EXPECT_EQ(btrDelete(h_), 0);
       },
       {Change("desc", "A", Desc("A", 'a'), std::nullopt)}},
      {"replace of an existing key",
       [&] { EXPECT_EQ(Replace(h_, Desc("A", 'r')), 0); },
       {Change("desc", "A", Desc("A", 'a'), Desc("A", 'r'))}},
      {"replace of a new key",
       [&] { EXPECT_EQ(Replace(h_, Desc("C", 'r')), 0); },
       {Change("desc", "C", std::nullopt, Desc("C", 'r'))}},
      {"same key written twice: first before, last after",
       [&] {
         EXPECT_EQ(Replace(h_, Desc("A", 'x')), 0);
         EXPECT_EQ(Replace(h_, Desc("A", 'y')), 0);
       },
       {Change("desc", "A", Desc("A", 'a'), Desc("A", 'y'))}},
      {"order of the keys' first writes",
       [&] {
         EXPECT_EQ(Replace(h_, Desc("B", '1')), 0);
         EXPECT_EQ(Replace(h_, Desc("A", '2')), 0);
         EXPECT_EQ(Replace(h_, Desc("B", '3')), 0);
       },
       {Change("desc", "B", Desc("B", 'b'), Desc("B", '3')),
        Change("desc", "A", Desc("A", 'a'), Desc("A", '2'))}},
      {"update that moves the record to another key",
       [&] {
         ASSERT_EQ(GetEqual(h_, "A"), 0);
         EXPECT_EQ(Update(h_, Desc("C", 'm')), 0);
       },
       {Change("desc", "A", Desc("A", 'a'), std::nullopt),
        Change("desc", "C", std::nullopt, Desc("C", 'm'))}},
      {"moved onto a key deleted before: that key keeps its first before",
       [&] {
         ASSERT_EQ(GetEqual(h_, "B"), 0);
         ASSERT_EQ(btrDelete(h_), 0);
         ASSERT_EQ(GetEqual(h_, "A"), 0);
         EXPECT_EQ(Update(h_, Desc("B", 'm')), 0);
       },
       {Change("desc", "B", Desc("B", 'b'), Desc("B", 'm')),
        Change("desc", "A", Desc("A", 'a'), std::nullopt)}},
      {"inserted then deleted: the key was written, and is as it was",
       [&] {
         ASSERT_EQ(Insert(h_, Desc("C")), 0);
         ASSERT_EQ(GetEqual(h_, "C"), 0);
         EXPECT_EQ(btrDelete(h_), 0);
       },
       {Change("desc", "C", std::nullopt, std::nullopt)}},
      {"the same key bytes in two files are two changes",
       [&] {
         EXPECT_EQ(Replace(h_, Desc("A", '1')), 0);
         EXPECT_EQ(Replace(h2_, Desc("A", '2')), 0);
       },
       {Change("desc", "A", Desc("A", 'a'), Desc("A", '1')),
        Change("desc2", "A", std::nullopt, Desc("A", '2'))}},
      {"writes that fail keep nothing",
       [&] {
         EXPECT_EQ(Insert(h_, Desc("A", 'd')), kStatusDuplicateKey);
         ASSERT_EQ(GetEqual(h_, "A"), 0);
         EXPECT_EQ(Update(h_, Desc("B", 'd')), kStatusDuplicateKey);  // B is taken
         EXPECT_EQ(Update(h_, Desc("B", 'd').substr(1)), kStatusBufferTooShort);
         ASSERT_EQ(GetEqual(h_, "C"), kStatusKeyNotFound);
         EXPECT_EQ(btrDelete(h_), kStatusNoCurrentRecord);
       },
       {}},
      // Inside the replace's savepoint the delete went through; the failed insert undid it.
      {"replace whose insert fails after its delete",
       [&] {
         EXPECT_EQ(Replace(h_, Desc("B", 'k')), 0);
         FailOperations faults("insert update", kStatusDiskFull);
         SetStoreFaults(&faults);
         EXPECT_EQ(Replace(h_, Desc("A", 'f')), kStatusDiskFull);
         SetStoreFaults(nullptr);
       },
       {Change("desc", "B", Desc("B", 'b'), Desc("B", 'k'))}},
      {"replace whose delete fails",
       [&] {
         FailOperations faults("delete", kStatusDiskFull);
         SetStoreFaults(&faults);
         EXPECT_EQ(Replace(h_, Desc("A", 'f')), kStatusDiskFull);
         SetStoreFaults(nullptr);
       },
       {}},
      {"update and delete the fault seam fails",
       [&] {
         FailOperations faults("update delete", kStatusDiskFull);
         SetStoreFaults(&faults);
         ASSERT_EQ(GetEqual(h_, "A"), 0);
         EXPECT_EQ(Update(h_, Desc("A", 'f')), kStatusDiskFull);
         EXPECT_EQ(btrDelete(h_), kStatusDiskFull);
         SetStoreFaults(nullptr);
       },
       {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(btrBeginTransaction(), 0);
    c.writes();
    EXPECT_EQ(TakeRecordChanges(), c.want);
    EXPECT_THAT(TakeRecordChanges(), IsEmpty());  // taking drops them
    ASSERT_EQ(btrAbortTransaction(), 0);
    ASSERT_THAT(DumpRecords("desc"), ElementsAre(Desc("A", 'a'), Desc("B", 'b')));
  }
}

TEST_F(CaptureTest, KeptChangesDescribeOnlyTheCurrentTransaction) {
  const struct {
    const char* what;
    std::function<void()> drop;  // after a kept write of A
    bool in_transaction_after;
    const char* next_key;  // of a write after it: some cases commit it, so one per case
  } kCases[] = {
      {"abort", [] { ASSERT_EQ(btrAbortTransaction(), 0); }, false, "C1"},
      {"begin of the next transaction",
       [] {
         ASSERT_EQ(btrEndTransaction(), 0);
         ASSERT_EQ(btrBeginTransaction(), 0);
       },
       true, "C2"},
      {"store closed and opened again",
       [&] {
         CloseRecordStore();
         ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);
         h_ = Open();
       },
       false, "C3"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(btrBeginTransaction(), 0);
    ASSERT_EQ(Replace(h_, Desc("A", 'w')), 0);
    c.drop();
    EXPECT_THAT(TakeRecordChanges(), IsEmpty());
    // Capture is still on: the next write is kept.
    ASSERT_EQ(Insert(h_, Desc(c.next_key)), 0);
    EXPECT_THAT(TakeRecordChanges(),
                ElementsAre(Change("desc", c.next_key, std::nullopt, Desc(c.next_key))));
    if (c.in_transaction_after) {
      ASSERT_EQ(btrAbortTransaction(), 0);
    }
  }
}

TEST_F(CaptureTest, CaptureOffKeepsNothing) {
  SetRecordCapture(false);
  ASSERT_EQ(btrBeginTransaction(), 0);
  ASSERT_EQ(Insert(h_, Desc("C")), 0);
  ASSERT_EQ(Replace(h_, Desc("A", 'x')), 0);
  ASSERT_EQ(GetEqual(h_, "B"), 0);
  ASSERT_EQ(Update(h_, Desc("D", 'x')), 0);
  ASSERT_EQ(btrDelete(h_), 0);  // D, where the update left the handle
  EXPECT_THAT(TakeRecordChanges(), IsEmpty());
  ASSERT_EQ(btrEndTransaction(), 0);
  EXPECT_THAT(DescKeys(), ElementsAre("A", "C"));
}

// Outside a transaction an update or delete reads its record and writes in one transaction of
// its own; when that commit fails, the record is as it was and nothing is kept.
TEST_F(CaptureTest, WriteOutsideATransactionWhoseCommitFailsKeepsNothing) {
  FailOperations faults("commit", kStatusDiskFull);
  SetStoreFaults(&faults);
  ASSERT_EQ(GetEqual(h_, "A"), 0);
  EXPECT_EQ(Update(h_, Desc("C", 'u')), kStatusDiskFull);
  EXPECT_EQ(btrDelete(h_), kStatusDiskFull);
  EXPECT_EQ(Replace(h_, Desc("B", 'r')), kStatusDiskFull);
  SetStoreFaults(nullptr);
  EXPECT_THAT(TakeRecordChanges(), IsEmpty());
  EXPECT_THAT(DumpRecords("desc"), ElementsAre(Desc("A", 'a'), Desc("B", 'b')));
  // The handle still stands on A: the failed move did not carry it to C.
  EXPECT_EQ(Update(h_, Desc("A", 'u')), 0);
  EXPECT_THAT(TakeRecordChanges(),
              ElementsAre(Change("desc", "A", Desc("A", 'a'), Desc("A", 'u'))));
}

// The run journal writes its own tables on the store's connection inside the records'
// transaction: they commit and roll back together.
TEST_F(CaptureTest, ConnectionWritesCommitAndRollBackWithTheRecords) {
  sqlite3* db = RecordStoreConnection();
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE journal_runs (n INTEGER)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "abort");
    ASSERT_EQ(btrBeginTransaction(), 0);
    ASSERT_EQ(Replace(h_, Desc("C")), 0);
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO journal_runs VALUES (1)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_EQ(commit ? btrEndTransaction() : btrAbortTransaction(), 0);
    EXPECT_EQ(RawConnection::QueryIntOn(db, "SELECT count(*) FROM journal_runs"), commit ? 1 : 0);
    EXPECT_EQ(GetEqual(h_, "C"), commit ? 0 : kStatusKeyNotFound);
  }
  CloseRecordStore();
  EXPECT_EQ(RecordStoreConnection(), nullptr);
}

// ---- Store format ----

TEST_F(StoreTest, NewStoreHasFormatZeroAndJournalTablesAreNoRecordFiles) {
  RawConnection other(dir_.path());
  EXPECT_EQ(other.QueryInt("PRAGMA user_version"), 0);
  ASSERT_EQ(other.Exec("CREATE TABLE journal_runs (id INTEGER PRIMARY KEY, csv TEXT);"
                       "CREATE TABLE journal_records (run INTEGER, file TEXT, key BLOB);"
                       "INSERT INTO journal_runs VALUES (1, 'balances.csv');"
                       "INSERT INTO journal_records VALUES (1, 'desc', x'00');"
                       "PRAGMA user_version = 2"),
            SQLITE_OK);
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);
  EXPECT_EQ(Check(), "0 ok");
  std::vector<RecordFileInfo> files;
  ASSERT_EQ(btrListFiles(&files), 0);
  std::vector<std::string> names;
  for (const RecordFileInfo& f : files) names.push_back(f.name);
  EXPECT_THAT(names, ElementsAre("ap", "desc", "extap", "jcki", "pol", "trans.ndx"));
  EXPECT_EQ(btrOpen(CBtrvOapi(), "", "journal_runs", 1, 1, 0), kStatusFileNotFound);
}

TEST_F(StoreTest, StoreOfANewerFormatIsRefusedUntouched) {
  CloseRecordStore();
  const struct {
    int64_t format;
    int16_t want_status;
    std::string want_cause;
  } kCases[] = {
      {0, 0, ""},
      {2, 0, ""},  // with the run journal's tables
      {3, kStatusIoError,
       "recfiles.sqlite has store format 3; this program reads format 2 at most: use a newer "
       "Quillmere"},
      {2147483647, kStatusIoError,
       "recfiles.sqlite has store format 2147483647; this program reads format 2 at most: use a "
       "newer Quillmere"},
      {-1, kStatusIoError, "recfiles.sqlite has store format -1, which no Quillmere writes"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.format);
    {
      RawConnection other(dir_.path());
      ASSERT_EQ(other.Exec("PRAGMA user_version = " + std::to_string(c.format)), SQLITE_OK);
    }
    EXPECT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), c.want_status);
    EXPECT_EQ(RecordStoreError(), c.want_cause);
    // The maintenance tool's way in refuses it too.
    EXPECT_EQ(OpenRecordStore(dir_.path().string(), "", /*create=*/true), c.want_status);
    EXPECT_EQ(RecordStoreError(), c.want_cause);
    if (c.want_status == 0) {
      EXPECT_EQ(Replace(Open(), Desc("A")), 0);
    } else {
      EXPECT_EQ(RecordStoreConnection(), nullptr);
    }
    CloseRecordStore();
    RawConnection other(dir_.path());
    EXPECT_EQ(other.QueryInt("PRAGMA user_version"), c.format);
  }
}

}  // namespace
}  // namespace quillmere
