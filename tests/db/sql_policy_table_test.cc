// The Policy table over Qt SQL against the private MariaDB.
#include "db/sql_policy_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "context/client_files.h"
#include "db/connection.h"
#include "support/test_database.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::TestDatabase;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const QString kConnection = QStringLiteral("policy");

PolicyRow Row(std::string agency, std::string pol_num) {
  PolicyRow row;
  row.AgyCode = std::move(agency);
  row.PolNum = std::move(pol_num);
  row.CltNum = "  C001";
  row.CmpCode = "CMP";
  row.TrnCode = "NEW";
  row.ClsCode = "  1";
  row.DptCode = "AB";
  row.InvNum = "500001";
  row.EntryDate = DateTime{{2025, 1, 2}, 9, 5, 7};
  row.PolicyDate = Date{2024, 12, 31};
  return row;
}

class SqlPolicyTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    db_.emplace();
    db_->Connect(kConnection);
    table_.emplace(kConnection);
    ASSERT_TRUE(table_->Open(&error_)) << error_;
  }

  std::vector<std::string> Rows(const std::string& columns) {
    return db_->Rows("SELECT " + columns + " FROM Policy ORDER BY PolicyID");
  }

  std::optional<TestDatabase> db_;
  std::optional<SqlPolicyTable> table_;
  std::string error_;
};

TEST_F(SqlPolicyTableTest, InsertsEveryColumnThePostingWrites) {
  ASSERT_TRUE(table_->Post(Row("01", "BF-241231-500001    "), &error_)) << error_;
  EXPECT_THAT(
      Rows("CONCAT('[', AgyCode, '][', PolNum, ']'), PolSeq, CltNum, CmpCode, TrnCode, ClsCode, "
           "DptCode, InvNum, DATE_FORMAT(EntryDate, '%Y-%m-%d %H:%i:%s'), "
           "DATE_FORMAT(EffectiveDate, '%Y-%m-%d %H:%i:%s'), ExpirationDate = EffectiveDate, "
           "BinderEffectDate = EffectiveDate, BinderExpireDate = EffectiveDate, "
           "PolicyTermExpDate = EffectiveDate, PolicyTermEffDate = EffectiveDate"),
      ElementsAre("[01][BF-241231-500001    ]|99|  C001|CMP|NEW|  1|AB|500001|"
                  "2025-01-02 09:05:07|2024-12-31 00:00:00|1|1|1|1|1"));
  EXPECT_THAT(Rows("Status, PQBFlag, CmpStatus, CurrentPremium, CurrentNonPremium, TotalPremium, "
                   "TotalNonPremium, CONCAT('[', NameInsuredCode, ']'), PolicyTermMonths, "
                   "CancelMethod, MinEarnedPrem, UnearnedFactor, ReturnPremium, WrittenAmt, "
                   "CmpName, StartRiskSeq, CurRiskSeq, `Prd Code`, `Opr Code`, D_filler1, "
                   "D_filler2, D_filler3, EndorseNumber, ActiveSeq, TagDesc, "
                   "OverrideAnnualized, HostNotes, HostRenewalFlag"),
              ElementsAre("0|0|3|0|0|0|0|[]|1|0|0|0|0|0|Balance Forward|1|1|KRV|KRV|0|8|2|-1|1|"
                          "Beginning Balance|N|host default|7"));
}

TEST_F(SqlPolicyTableTest, TimesAreStoredAsGivenWhateverTheLocalZone) {
  // 02:30 on 2024-03-10 does not exist in New York (clocks jump from 02:00 to 03:00).
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz == nullptr ? "" : old_tz;
  setenv("TZ", "America/New_York", 1);
  tzset();
  PolicyRow row = Row("01", "BF-A");
  row.EntryDate = DateTime{{2024, 3, 10}, 2, 30, 0};
  row.PolicyDate = Date{2024, 3, 10};
  const bool posted = table_->Post(row, &error_);
  if (old_tz == nullptr) {
    unsetenv("TZ");
  } else {
    setenv("TZ", saved.c_str(), 1);
  }
  tzset();
  ASSERT_TRUE(posted) << error_;
  EXPECT_THAT(Rows("DATE_FORMAT(EntryDate, '%Y-%m-%d %H:%i:%s'), "
                   "DATE_FORMAT(EffectiveDate, '%Y-%m-%d %H:%i:%s')"),
              ElementsAre("2024-03-10 02:30:00|2024-03-10 00:00:00"));
}

TEST_F(SqlPolicyTableTest, SecondPostUpdatesAndKeepsHostColumns) {
  ASSERT_TRUE(table_->Post(Row("01", "BF-A"), &error_)) << error_;
  db_->Exec("UPDATE Policy SET HostNotes = 'kept', HostRenewalFlag = 3");
  PolicyRow again = Row("01", "BF-A");
  again.InvNum = "500002";
  again.EntryDate = DateTime{{2025, 2, 3}, 14, 0, 0};
  again.CmpName = "Changed";
  ASSERT_TRUE(table_->Post(again, &error_)) << error_;
  EXPECT_THAT(Rows("AgyCode, PolNum, PolSeq, InvNum, DATE_FORMAT(EntryDate, '%Y-%m-%d %H:%i'), "
                   "CmpName, HostNotes, HostRenewalFlag"),
              ElementsAre("01|BF-A|99|500002|2025-02-03 14:00|Changed|kept|3"));
}

TEST_F(SqlPolicyTableTest, PostingTheSameRowTwiceInOneSecondStillUpdates) {
  // An update that changes nothing reports no changed rows; the row must not be inserted again.
  ASSERT_TRUE(table_->Post(Row("01", "BF-A"), &error_)) << error_;
  ASSERT_TRUE(table_->Post(Row("01", "BF-A"), &error_)) << error_;
  EXPECT_THAT(Rows("PolNum"), ElementsAre("BF-A"));
}

TEST_F(SqlPolicyTableTest, ARowChangedByOthersSinceThisTablePostedItIsMatchedAfresh) {
  // The table remembers which keys it posted only to choose which statement runs first; the
  // row found in the table decides.
  struct Case {
    const char* name;
    const char* change;  // run between the two posts
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"untouched", "UPDATE Policy SET InvNum = 'host'", {"BF-A|second"}},
      {"removed", "DELETE FROM Policy", {"BF-A|second"}},
      {"case changed", "UPDATE Policy SET PolNum = 'bf-a'", {"bf-a|first", "BF-A|second"}},
      {"blanks added", "UPDATE Policy SET PolNum = 'BF-A  '", {"BF-A  |first", "BF-A|second"}},
      {"sequence changed", "UPDATE Policy SET PolSeq = 98", {"BF-A|first", "BF-A|second"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db_->Exec("DELETE FROM Policy");
    PolicyRow row = Row("01", "BF-A");
    row.InvNum = "first";
    ASSERT_TRUE(table_->Post(row, &error_)) << error_;
    db_->Exec(c.change);
    row.InvNum = "second";
    ASSERT_TRUE(table_->Post(row, &error_)) << error_;
    EXPECT_EQ(Rows("PolNum, InvNum"), c.rows);
  }
}

TEST_F(SqlPolicyTableTest, ARowPostedByAnotherProcessIsUpdated) {
  SqlPolicyTable other(kConnection);
  ASSERT_TRUE(other.Open(&error_)) << error_;
  PolicyRow row = Row("01", "BF-A");
  row.InvNum = "other";
  ASSERT_TRUE(other.Post(row, &error_)) << error_;
  row.InvNum = "this";
  ASSERT_TRUE(table_->Post(row, &error_)) << error_;
  EXPECT_THAT(Rows("PolNum, InvNum"), ElementsAre("BF-A|this"));
}

TEST_F(SqlPolicyTableTest, MatchesIdentifyingColumnsExactly) {
  // The columns' collation is case-insensitive and ignores trailing blanks; the match is not.
  db_->Exec(
      "INSERT INTO Policy (AgyCode, PolNum, PolSeq, InvNum) VALUES "
      "('01', 'bf-a', 99, 'case'), ('01', 'BF-A  ', 99, 'blanks'), "
      "('01 ', 'BF-A', 99, 'agency'), ('01', 'BF-A', 98, 'seq'), "
      "('01', 'BF-\xc9', 99, 'latin1')");
  ASSERT_TRUE(table_->Post(Row("01", "BF-A"), &error_)) << error_;
  PolicyRow latin1 = Row("01", "BF-\xc9");
  latin1.InvNum = "updated";
  ASSERT_TRUE(table_->Post(latin1, &error_)) << error_;
  EXPECT_THAT(Rows("CONCAT('[', AgyCode, '|', PolNum, '|', PolSeq, '] ', InvNum)"),
              ElementsAre("[01|bf-a|99] case", "[01|BF-A  |99] blanks", "[01 |BF-A|99] agency",
                          "[01|BF-A|98] seq", "[01|BF-\xc9|99] updated", "[01|BF-A|99] 500001"));
}

TEST_F(SqlPolicyTableTest, OpenFailsWithoutTheTable) {
  db_->Exec("DROP TABLE Policy");
  SqlPolicyTable table(kConnection);
  EXPECT_FALSE(table.Open(&error_));
  EXPECT_THAT(error_, HasSubstr("Policy"));
}

TEST_F(SqlPolicyTableTest, OpenFailsWhenAWrittenColumnIsMissing) {
  db_->Exec("ALTER TABLE Policy DROP COLUMN `Opr Code`");
  SqlPolicyTable table(kConnection);
  EXPECT_FALSE(table.Open(&error_));
  EXPECT_THAT(error_, HasSubstr("Opr Code"));
}

TEST_F(SqlPolicyTableTest, OpenFailsWithoutConnection) {
  SqlPolicyTable table(QStringLiteral("never-opened"));
  EXPECT_FALSE(table.Open(&error_));
  EXPECT_THAT(error_, HasSubstr("connection"));
}

TEST_F(SqlPolicyTableTest, PostReportsALostTable) {
  db_->Exec("DROP TABLE Policy");
  EXPECT_FALSE(table_->Post(Row("01", "BF-A"), &error_));
  EXPECT_THAT(error_, HasSubstr("Policy"));
}

// Another connection (the admin one) sees the rows of a transaction only once it commits.
TEST_F(SqlPolicyTableTest, RowsOfATransactionAreStoredTogetherOrNotAtAll) {
  const struct {
    const char* name;
    bool begin;
    int posts;    // rows BF-1, BF-2 ...
    bool commit;  // else Rollback
    std::vector<std::string> before_the_end, after;
  } kCases[] = {
      {"committed", true, 2, true, {}, {"BF-1", "BF-2"}},
      {"rolled back", true, 2, false, {}, {}},
      {"nothing posted", true, 0, true, {}, {}},
      // Without Begin each Post stands alone, and Rollback has nothing to undo.
      {"no transaction, commit", false, 2, true, {"BF-1", "BF-2"}, {"BF-1", "BF-2"}},
      {"no transaction, rollback", false, 1, false, {"BF-1"}, {"BF-1"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    db_->Exec("DELETE FROM Policy");
    if (c.begin) {
      ASSERT_TRUE(table_->Begin(&error_)) << error_;
    }
    for (int i = 1; i <= c.posts; ++i) {
      ASSERT_TRUE(table_->Post(Row("01", "BF-" + std::to_string(i)), &error_)) << error_;
    }
    EXPECT_EQ(Rows("PolNum"), c.before_the_end);
    if (c.commit) {
      EXPECT_TRUE(table_->Commit(&error_)) << error_;
    } else {
      table_->Rollback();
    }
    EXPECT_EQ(Rows("PolNum"), c.after);
  }
}

TEST_F(SqlPolicyTableTest, BeginWhileATransactionIsOpenIsRefused) {
  ASSERT_TRUE(table_->Begin(&error_)) << error_;
  ASSERT_TRUE(table_->Post(Row("01", "BF-A"), &error_)) << error_;
  EXPECT_FALSE(table_->Begin(&error_));
  EXPECT_EQ(error_, "a transaction of the Policy table is open already");
  EXPECT_TRUE(table_->Commit(&error_)) << error_;  // the open one goes on unharmed
  EXPECT_THAT(Rows("PolNum"), ElementsAre("BF-A"));
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

// A row that another transaction holds: the statement ends with the server's lock wait error
// after half the time-out, while the client still waits for its answer, so the message names
// the lock instead of a lost connection.
TEST(PolicyTableLockWait, ALockedRowEndsInTheServersErrorBeforeTheReadTimeOut) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  TestDatabase db;
  const QString connection = QStringLiteral("lock-wait");
  db.ForgetAtEnd(connection);
  ConnectionParams params;
  params.server = TestDatabase::Host();
  params.port = TestDatabase::Port();
  params.user_name = TestDatabase::User();
  params.password = TestDatabase::Password();
  params.database = db.name();
  params.timeout_seconds = 4;  // the lock wait: 2 seconds
  std::string error;
  ASSERT_TRUE(OpenConnection(connection, params, &error)) << error;
  db.Exec("START TRANSACTION");
  db.Exec("INSERT INTO Policy (AgyCode, PolNum, PolSeq) VALUES ('01', 'BF-A', 99)");
  SqlPolicyTable table(connection);
  ASSERT_TRUE(table.Begin(&error)) << error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(table.Post(Row("01", "BF-A"), &error));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  table.Rollback();
  db.Exec("ROLLBACK");
  EXPECT_THAT(error, HasSubstr("Lock wait timeout exceeded"));
  EXPECT_GE(seconds, 1.5);
  EXPECT_LT(seconds, 3.5);
}

TEST(ClientFileSetWithPolicyTable, MissingPolicyTableEndsTheOpen) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  TestDatabase db;
  db.Exec("DROP TABLE Policy");
  db.Connect(kConnection);
  testing::TempDir dir;
  testing::InitStore(dir.path());
  SqlPolicyTable table(kConnection);
  ClientFileSet files(
      &table, [] { return std::string("stamp"); }, dir.path().string());
  testing::RecordingOperator op;
  std::string error;
  EXPECT_FALSE(files.OpenClientFiles(op, kImportFiles, &error));
  EXPECT_THAT(error, HasSubstr("Policy"));
  EXPECT_THAT(op.errors, ::testing::IsEmpty());  // the record files opened
}

}  // namespace
}  // namespace quillmere
