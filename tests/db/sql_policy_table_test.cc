// The Policy table over Qt SQL against the private MariaDB.
#include "db/sql_policy_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// A commit opens the next transaction with it: each one must still hold only its own rows, and
// what runs outside Begin/Commit afterwards must commit on its own, as another connection sees.
TEST_F(SqlPolicyTableTest, TransactionsInARowEachHoldTheirOwnRowsAndWhatFollowsStandsAlone) {
  const struct {
    const char* step;
    std::function<void()> run;
    std::vector<std::string> seen;  // by another connection after the step
  } kSteps[] = {
      {"commit BF-1",
       [&] {
         ASSERT_TRUE(table_->Begin(&error_));
         ASSERT_TRUE(table_->Post(Row("01", "BF-1"), &error_)) << error_;
         ASSERT_TRUE(table_->Commit(&error_)) << error_;
       },
       {"BF-1"}},
      {"roll BF-2 back",
       [&] {
         ASSERT_TRUE(table_->Begin(&error_));
         ASSERT_TRUE(table_->Post(Row("01", "BF-2"), &error_)) << error_;
         table_->Rollback();
       },
       {"BF-1"}},
      {"commit BF-3",
       [&] {
         ASSERT_TRUE(table_->Begin(&error_));
         ASSERT_TRUE(table_->Post(Row("01", "BF-3"), &error_)) << error_;
         ASSERT_TRUE(table_->Commit(&error_)) << error_;
       },
       {"BF-1", "BF-3"}},
      {"commit nothing",
       [&] {
         ASSERT_TRUE(table_->Begin(&error_));
         ASSERT_TRUE(table_->Commit(&error_)) << error_;
       },
       {"BF-1", "BF-3"}},
      {"post BF-4 alone",
       [&] { ASSERT_TRUE(table_->Post(Row("01", "BF-4"), &error_)) << error_; },
       {"BF-1", "BF-3", "BF-4"}},
      {"commit BF-5, then take it back alone",
       [&] {
         PolicyWrite write;
         ASSERT_TRUE(table_->Begin(&error_));
         ASSERT_TRUE(table_->Post(Row("01", "BF-5"), &write, &error_)) << error_;
         ASSERT_TRUE(table_->Commit(&error_)) << error_;
         ASSERT_TRUE(table_->Restore(write.policy_id, write.inserted, write.earlier, &error_))
             << error_;
       },
       {"BF-1", "BF-3", "BF-4"}},
      {"commit BF-1 again, then close",
       [&] {
         ASSERT_TRUE(table_->Begin(&error_));
         ASSERT_TRUE(table_->Post(Row("01", "BF-1"), &error_)) << error_;
         ASSERT_TRUE(table_->Commit(&error_)) << error_;
         table_->Close();
       },
       {"BF-1", "BF-3", "BF-4"}},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.step);
    step.run();
    EXPECT_EQ(Rows("PolNum"), step.seen);
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

// The written columns in the order of PolicyWrite::earlier, and how each compares. Journals
// kept on disk depend on this order: it must not change.
enum Kind { kText, kInt, kDouble, kTime };
const struct {
  const char* name;
  Kind kind;
} kWritten[] = {
    {"CltNum", kText},
    {"CmpCode", kText},
    {"TrnCode", kText},
    {"ClsCode", kText},
    {"DptCode", kText},
    {"InvNum", kText},
    {"EntryDate", kTime},
    {"EffectiveDate", kTime},
    {"ExpirationDate", kTime},
    {"Status", kInt},
    {"PQBFlag", kInt},
    {"CmpStatus", kInt},
    {"CurrentPremium", kDouble},
    {"CurrentNonPremium", kDouble},
    {"TotalPremium", kDouble},
    {"TotalNonPremium", kDouble},
    {"NameInsuredCode", kText},
    {"PolicyTermMonths", kInt},
    {"CancelMethod", kInt},
    {"MinEarnedPrem", kDouble},
    {"UnearnedFactor", kDouble},
    {"ReturnPremium", kDouble},
    {"WrittenAmt", kDouble},
    {"BinderEffectDate", kTime},
    {"BinderExpireDate", kTime},
    {"CmpName", kText},
    {"StartRiskSeq", kInt},
    {"CurRiskSeq", kInt},
    {"Prd Code", kText},
    {"Opr Code", kText},
    {"PolicyTermExpDate", kTime},
    {"PolicyTermEffDate", kTime},
    {"D_filler1", kDouble},
    {"D_filler2", kDouble},
    {"D_filler3", kDouble},
    {"EndorseNumber", kInt},
    {"ActiveSeq", kInt},
    {"TagDesc", kText},
    {"OverrideAnnualized", kText},
};

using Values = std::map<std::string, std::optional<std::string>>;

// PolicyWrite::earlier for the written columns' values (absent ones NULL): "<count>:" then
// "-" for NULL or "<length>=<bytes>".
std::string Earlier(const Values& values) {
  std::string out = std::to_string(std::size(kWritten)) + ":";
  for (const auto& column : kWritten) {
    const auto it = values.find(column.name);
    if (it == values.end() || !it->second) {
      out += "-";
    } else {
      out += std::to_string(it->second->size()) + "=" + *it->second;
    }
  }
  return out;
}

// The written columns of Row("01", ...) with `inv_num`, as the server writes them as text.
Values Posted(const std::string& inv_num) {
  const std::string day = "2024-12-31 00:00:00";
  return {{"CltNum", "  C001"},
          {"CmpCode", "CMP"},
          {"TrnCode", "NEW"},
          {"ClsCode", "  1"},
          {"DptCode", "AB"},
          {"InvNum", inv_num},
          {"EntryDate", "2025-01-02 09:05:07"},
          {"EffectiveDate", day},
          {"ExpirationDate", day},
          {"Status", "0"},
          {"PQBFlag", "0"},
          {"CmpStatus", "3"},
          {"CurrentPremium", "0"},
          {"CurrentNonPremium", "0"},
          {"TotalPremium", "0"},
          {"TotalNonPremium", "0"},
          {"NameInsuredCode", ""},
          {"PolicyTermMonths", "1"},
          {"CancelMethod", "0"},
          {"MinEarnedPrem", "0"},
          {"UnearnedFactor", "0"},
          {"ReturnPremium", "0"},
          {"WrittenAmt", "0"},
          {"BinderEffectDate", day},
          {"BinderExpireDate", day},
          {"CmpName", "Balance Forward"},
          {"StartRiskSeq", "1"},
          {"CurRiskSeq", "1"},
          {"Prd Code", "KRV"},
          {"Opr Code", "KRV"},
          {"PolicyTermExpDate", day},
          {"PolicyTermEffDate", day},
          {"D_filler1", "0"},
          {"D_filler2", "8"},
          {"D_filler3", "2"},
          {"EndorseNumber", "-1"},
          {"ActiveSeq", "1"},
          {"TagDesc", "Beginning Balance"},
          {"OverrideAnnualized", "N"}};
}

// A row made by raw SQL: NULLs beside '' and 0, blanks and 8-bit bytes (0x80 is the euro sign
// in the server's latin1), doubles at the ends of their range, a zero date.
const char kRawRow[] =
    "INSERT INTO Policy (AgyCode, PolNum, PolSeq, CltNum, CmpCode, TrnCode, InvNum, EntryDate, "
    "EffectiveDate, Status, PQBFlag, CurrentPremium, CurrentNonPremium, TotalPremium, "
    "TotalNonPremium, MinEarnedPrem, NameInsuredCode, HostNotes) VALUES ('01', 'BF-A', 99, '', "
    "'c  ', CONVERT(X'80E9FF' USING latin1), 'raw', '2023-04-05 06:07:08', "
    "'0000-00-00 00:00:00', 0, NULL, -2.2250738585072014e-308, 5e-324, "
    "-1.7976931348623157e308, 0.1e0 + 0.2e0, -0.5, NULL, 'raw')";

class PolicyWriteTest : public SqlPolicyTableTest {
 protected:
  int64_t IdWhere(const std::string& condition) {
    const auto ids = db_->Rows("SELECT PolicyID FROM Policy WHERE " + condition);
    EXPECT_EQ(ids.size(), 1u) << condition;
    return ids.empty() ? -1 : std::stoll(ids.front());
  }

  PolicyWrite Post(const PolicyRow& row) {
    PolicyWrite write;
    EXPECT_TRUE(table_->Post(row, &write, &error_)) << error_;
    return write;
  }

  // Copies the Policy table aside, for Changes.
  void Snapshot() {
    db_->Exec("DROP TABLE IF EXISTS PolicyBefore");
    db_->Exec("CREATE TABLE PolicyBefore AS SELECT * FROM Policy");
  }

  // What differs from the snapshot: "added", "gone", or the name of a column that changed in a
  // row, compared exactly (text as bytes, doubles as doubles, NULL apart from '' and 0).
  std::set<std::string> Changes() {
    std::set<std::string> changes;
    if (!db_->Rows("SELECT 1 FROM Policy p LEFT JOIN PolicyBefore b USING (PolicyID) "
                   "WHERE b.PolicyID IS NULL")
             .empty()) {
      changes.insert("added");
    }
    if (!db_->Rows("SELECT 1 FROM PolicyBefore b LEFT JOIN Policy p USING (PolicyID) "
                   "WHERE p.PolicyID IS NULL")
             .empty()) {
      changes.insert("gone");
    }
    for (const std::string& name :
         db_->Rows("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = "
                   "DATABASE() AND TABLE_NAME = 'Policy'")) {
      const std::string p = "p.`" + name + "`", b = "b.`" + name + "`";
      if (!db_->Rows("SELECT 1 FROM Policy p JOIN PolicyBefore b USING (PolicyID) WHERE NOT (" + p +
                     " <=> " + b + " AND BINARY " + p + " <=> BINARY " + b + ")")
               .empty()) {
        changes.insert(name);
      }
    }
    return changes;
  }
};

TEST_F(PolicyWriteTest, PostSaysWhichRowItWroteAndWhatItHeld) {
  Values raw;  // kRawRow's written columns; the others are NULL
  raw["CltNum"] = "";
  raw["CmpCode"] = "c  ";
  raw["TrnCode"] = "\x80\xe9\xff";
  raw["InvNum"] = "raw";
  raw["EntryDate"] = "2023-04-05 06:07:08";
  raw["EffectiveDate"] = "0000-00-00 00:00:00";
  raw["Status"] = "0";
  raw["CurrentPremium"] = "-2.2250738585072014e-308";
  raw["CurrentNonPremium"] = "5e-324";
  raw["TotalPremium"] = "-1.7976931348623157e308";
  raw["TotalNonPremium"] = "0.30000000000000004";
  raw["MinEarnedPrem"] = "-0.5";
  const struct {
    const char* name;
    std::vector<std::string> setup;  // raw SQL first
    const char* other;               // InvNum another table posts first ("" none)
    bool begin;                      // this table's posts in one transaction
    std::vector<std::string> posts;  // InvNums this table posts; the last write is checked
    bool inserted;
    std::string earlier;
    std::vector<std::string> rows;  // InvNum by PolicyID; the checked write's row says "this"
  } kCases[] = {
      {"new row", {}, "", false, {"this"}, true, "", {"this"}},
      {"row posted before by another program",
       {},
       "other",
       false,
       {"this"},
       false,
       Earlier(Posted("other")),
       {"this"}},
      // The second post reads what the first wrote, uncommitted, in the same transaction.
      {"same key twice in one transaction",
       {},
       "",
       true,
       {"first", "this"},
       false,
       Earlier(Posted("first")),
       {"this"}},
      {"same key posted before by this table",
       {},
       "",
       false,
       {"first", "this"},
       false,
       Earlier(Posted("first")),
       {"this"}},
      {"row with NULL columns made by raw SQL",
       {kRawRow},
       "",
       false,
       {"this"},
       false,
       Earlier(raw),
       {"this"}},
      // The key is not unique: the first row that matches is the one written.
      {"two matching rows",
       {"INSERT INTO Policy (AgyCode, PolNum, PolSeq, InvNum) VALUES ('01', 'BF-A', 99, 'one'), "
        "('01', 'BF-A', 99, 'two')"},
       "",
       false,
       {"this"},
       false,
       Earlier({{"InvNum", "one"}}),
       {"this", "two"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    db_->Exec("DELETE FROM Policy");
    for (const std::string& sql : c.setup) db_->Exec(sql);
    if (*c.other != '\0') {
      SqlPolicyTable other(kConnection);
      PolicyRow row = Row("01", "BF-A");
      row.InvNum = c.other;
      ASSERT_TRUE(other.Post(row, &error_)) << error_;
    }
    table_.emplace(kConnection);  // knows no key yet
    if (c.begin) {
      ASSERT_TRUE(table_->Begin(&error_)) << error_;
    }
    PolicyWrite write;
    for (const std::string& inv_num : c.posts) {
      PolicyRow row = Row("01", "BF-A");
      row.InvNum = inv_num;
      write = Post(row);
    }
    if (c.begin) {
      ASSERT_TRUE(table_->Commit(&error_)) << error_;
    }
    EXPECT_EQ(write.inserted, c.inserted);
    EXPECT_EQ(write.policy_id, IdWhere("InvNum = 'this'"));
    EXPECT_EQ(write.earlier, c.earlier);
    EXPECT_EQ(Rows("InvNum"), c.rows);
  }
}

TEST_F(PolicyWriteTest, RestoreTakesAPostBack) {
  PolicyRow row = Row("01", "BF-A");
  row.InvNum = "this";
  const struct {
    const char* name;
    std::vector<std::string> setup;  // raw SQL before the snapshot
    std::function<void()> act;
    std::set<std::string> changes;  // since the snapshot
  } kCases[] = {
      {"inserted row is deleted, the others stay",
       {"INSERT INTO Policy (AgyCode, PolNum, PolSeq, InvNum) VALUES ('01', 'BF-B', 99, 'x')"},
       [&] {
         const PolicyWrite write = Post(row);
         EXPECT_TRUE(table_->Restore(write.policy_id, true, write.earlier, &error_)) << error_;
       },
       {}},
      {"earlier values back exactly, NULLs included",
       {kRawRow},
       [&] {
         const PolicyWrite write = Post(row);
         EXPECT_EQ(Rows("InvNum"), std::vector<std::string>{"this"});  // it did change
         EXPECT_TRUE(table_->Restore(write.policy_id, false, write.earlier, &error_)) << error_;
       },
       {}},
      {"host columns changed since keep their values",
       {kRawRow},
       [&] {
         const PolicyWrite write = Post(row);
         db_->Exec("UPDATE Policy SET HostNotes = 'later', HostRenewalFlag = 5");
         EXPECT_TRUE(table_->Restore(write.policy_id, false, write.earlier, &error_)) << error_;
       },
       {"HostNotes", "HostRenewalFlag"}},
      {"restored twice",
       {kRawRow},
       [&] {
         const PolicyWrite write = Post(row);
         EXPECT_TRUE(table_->Restore(write.policy_id, false, write.earlier, &error_)) << error_;
         EXPECT_TRUE(table_->Restore(write.policy_id, false, write.earlier, &error_)) << error_;
       },
       {}},
      {"inserted row restored twice",
       {},
       [&] {
         const PolicyWrite write = Post(row);
         EXPECT_TRUE(table_->Restore(write.policy_id, true, write.earlier, &error_)) << error_;
         EXPECT_TRUE(table_->Restore(write.policy_id, true, write.earlier, &error_)) << error_;
       },
       {}},
      {"updated row that is gone stays gone",
       {kRawRow},
       [&] {
         const PolicyWrite write = Post(row);
         db_->Exec("DELETE FROM Policy");
         EXPECT_TRUE(table_->Restore(write.policy_id, false, write.earlier, &error_)) << error_;
       },
       {"gone"}},
      {"inserted row that is gone",
       {},
       [&] {
         const PolicyWrite write = Post(row);
         db_->Exec("DELETE FROM Policy");
         EXPECT_TRUE(table_->Restore(write.policy_id, true, write.earlier, &error_)) << error_;
       },
       {}},
      // Taken back in the reverse order, two posts of one key leave the row as it was.
      {"two posts in one transaction, taken back in it",
       {kRawRow},
       [&] {
         ASSERT_TRUE(table_->Begin(&error_)) << error_;
         const PolicyWrite first = Post(row);
         PolicyRow second_row = row;
         second_row.CurrentPremium = -12.34;
         const PolicyWrite second = Post(second_row);
         EXPECT_TRUE(table_->Restore(second.policy_id, false, second.earlier, &error_)) << error_;
         EXPECT_TRUE(table_->Restore(first.policy_id, false, first.earlier, &error_)) << error_;
         EXPECT_TRUE(table_->Commit(&error_)) << error_;
       },
       {}},
      {"a restore rolled back with its transaction",
       {kRawRow},
       [&] {
         const PolicyWrite write = Post(row);
         ASSERT_TRUE(table_->Begin(&error_)) << error_;
         EXPECT_TRUE(table_->Restore(write.policy_id, false, write.earlier, &error_)) << error_;
         table_->Rollback();
       },
       {"CltNum",
        "CmpCode",
        "TrnCode",
        "ClsCode",
        "DptCode",
        "InvNum",
        "EntryDate",
        "EffectiveDate",
        "ExpirationDate",
        "PQBFlag",
        "CmpStatus",
        "CurrentPremium",
        "CurrentNonPremium",
        "TotalPremium",
        "TotalNonPremium",
        "NameInsuredCode",
        "PolicyTermMonths",
        "CancelMethod",
        "MinEarnedPrem",
        "UnearnedFactor",
        "ReturnPremium",
        "WrittenAmt",
        "BinderEffectDate",
        "BinderExpireDate",
        "CmpName",
        "StartRiskSeq",
        "CurRiskSeq",
        "Prd Code",
        "Opr Code",
        "PolicyTermExpDate",
        "PolicyTermEffDate",
        "D_filler1",
        "D_filler2",
        "D_filler3",
        "EndorseNumber",
        "ActiveSeq",
        "TagDesc",
        "OverrideAnnualized"}},  // all but Status, 0 before and after
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    db_->Exec("DELETE FROM Policy");
    for (const std::string& sql : c.setup) db_->Exec(sql);
    Snapshot();
    table_.emplace(kConnection);
    c.act();
    EXPECT_EQ(Changes(), c.changes);
  }
}

// A later row of the same party names the earlier row's write: the table updates the row in one
// statement only while it holds exactly those values, and Restore then puts exactly those back.
TEST_F(PolicyWriteTest, WriteNamedAsBeforeIsUpdatedOnlyWhileTheRowHoldsIt) {
  PolicyRow first = Row("01", "BF-A");
  first.CltNum = "\xe9t\xe9 ";  // 8-bit text and a trailing blank
  first.CurrentPremium = 0.1 + 0.2;
  first.TotalPremium = -1.7976931348623157e308;
  first.WrittenAmt = 5e-324;
  first.PolicyDate = Date{};                            // NULL dates
  first.EntryDate = DateTime{{2024, 3, 10}, 2, 30, 0};  // a daylight-saving gap in many zones
  PolicyRow second = Row("01", "BF-A");
  second.InvNum = "second";
  second.CurrentPremium = -12.34;
  PolicyRow other_key = Row("01", "BF-B");
  const struct {
    const char* name;
    std::vector<std::string> meanwhile;  // raw SQL between the two posts
    const PolicyRow* next;
    bool one_statement;  // earlier is "=" and the values of `first`
    bool inserted;
  } kCases[] = {
      {"the row still holds the first write", {}, &second, true, false},
      {"another program changed it",
       {"UPDATE Policy SET CmpName = 'theirs'"},
       &second,
       false,
       false},
      {"another program removed it", {"DELETE FROM Policy"}, &second, false, true},
      {"the same values again", {}, &first, false, false},
      {"a write of another key", {}, &other_key, false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    db_->Exec("DELETE FROM Policy");
    ASSERT_TRUE(table_->Begin(&error_)) << error_;
    const PolicyWrite written = Post(first);
    ASSERT_TRUE(table_->Commit(&error_)) << error_;
    for (const std::string& sql : c.meanwhile) db_->Exec(sql);
    Snapshot();
    const PostedBefore before{written.policy_id, first};
    PolicyWrite write;
    ASSERT_TRUE(table_->Begin(&error_)) << error_;
    ASSERT_TRUE(table_->Post(*c.next, &before, &write, &error_)) << error_;
    ASSERT_TRUE(table_->Commit(&error_)) << error_;
    EXPECT_EQ(write.inserted, c.inserted);
    EXPECT_EQ(!write.earlier.empty() && write.earlier.front() == '=', c.one_statement)
        << write.earlier;
    if (!c.inserted) {
      EXPECT_EQ(write.policy_id, written.policy_id);
    }
    bool holds = false;
    ASSERT_TRUE(table_->Holds(write.policy_id, *c.next, &holds, &error_)) << error_;
    EXPECT_TRUE(holds);
    // Taking the second write back gives the table exactly as it was before it.
    ASSERT_TRUE(table_->Restore(write.policy_id, write.inserted, write.earlier, &error_)) << error_;
    EXPECT_THAT(Changes(), ::testing::IsEmpty());
  }
}

TEST_F(PolicyWriteTest, RestoreRefusesEarlierValuesItCannotRead) {
  db_->Exec(kRawRow);
  const PolicyWrite write = Post(Row("01", "BF-A"));
  ASSERT_FALSE(write.inserted);
  const std::string n = std::to_string(std::size(kWritten)) + ":";
  const std::string kCases[] = {
      "",
      n,                                                // no values
      n + std::string(std::size(kWritten), '-') + "-",  // one value too many
      std::to_string(std::size(kWritten) - 1) + ":" + std::string(std::size(kWritten) - 1, '-'),
      write.earlier.substr(0, write.earlier.size() - 1),  // cut inside the last value
      write.earlier + "x",
      n + "99=" + std::string(std::size(kWritten) - 1, '-'),  // longer than what follows
      n + "x=" + std::string(std::size(kWritten) - 1, '-'),
  };
  Snapshot();
  for (const std::string& earlier : kCases) {
    SCOPED_TRACE(earlier);
    EXPECT_FALSE(table_->Restore(write.policy_id, false, earlier, &error_));
    EXPECT_EQ(error_, "the earlier values of Policy row " + std::to_string(write.policy_id) +
                          " are damaged or not this table's");
  }
  EXPECT_THAT(Changes(), ::testing::IsEmpty());
}

// Rows as an import writes them, and a few that test the comparison.
std::vector<std::pair<std::string, PolicyRow>> RowsToHold() {
  std::vector<std::pair<std::string, PolicyRow>> rows;
  rows.emplace_back("plain", Row("01", "BF-A"));
  PolicyRow blanks = Row("01", "BF-A  ");
  blanks.CltNum = "C1    ";
  blanks.InvNum = "  ";
  rows.emplace_back("trailing blanks", blanks);
  PolicyRow latin1 = Row("01", "BF-\xc9");
  latin1.CltNum = "\xe9t\xe9";
  latin1.CmpName = "Caf\xe9 \xff\xa0";
  rows.emplace_back("8-bit characters", latin1);
  PolicyRow amounts = Row("01", "BF-A");
  amounts.CurrentPremium = -1234.56;
  amounts.TotalPremium = 0.1 + 0.2;
  amounts.WrittenAmt = -5e-324;
  amounts.ReturnPremium = 1.7976931348623157e308;
  rows.emplace_back("negative and fractional amounts", amounts);
  PolicyRow no_date = Row("01", "BF-A");
  no_date.PolicyDate = Date{2024, 2, 30};  // not a date: NULL
  rows.emplace_back("NULL dates", no_date);
  return rows;
}

TEST_F(PolicyWriteTest, HoldsWhatPostWrote) {
  for (const auto& [name, row] : RowsToHold()) {
    for (const bool existing : {false, true}) {
      for (const bool begin : {false, true}) {
        SCOPED_TRACE(name + (existing ? ", updated" : ", inserted") +
                     (begin ? ", in a transaction" : ""));
        db_->Exec("DELETE FROM Policy");
        if (existing) db_->Exec(kRawRow);
        table_.emplace(kConnection);
        PolicyRow posted = row;
        posted.PolNum = existing ? "BF-A" : row.PolNum;
        if (begin) {
          ASSERT_TRUE(table_->Begin(&error_)) << error_;
        }
        const PolicyWrite write = Post(posted);
        bool holds = false;
        EXPECT_TRUE(table_->Holds(write.policy_id, posted, &holds, &error_)) << error_;
        EXPECT_TRUE(holds);
        if (begin) {
          ASSERT_TRUE(table_->Commit(&error_)) << error_;
        }
        EXPECT_TRUE(table_->Holds(write.policy_id, posted, &holds, &error_)) << error_;
        EXPECT_TRUE(holds);
        EXPECT_EQ(write.inserted, !existing);
      }
    }
  }
}

std::string ShortestText(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

TEST_F(PolicyWriteTest, DoesNotHoldOnceAnyColumnChanged) {
  PolicyRow row = Row("01", "BF-A");
  row.CurrentPremium = -1234.56;
  row.TotalPremium = 0.1 + 0.2;
  row.CmpName = "Caf\xe9";
  // Each change is the smallest that counts: a trailing blank, one second, one, the next
  // double; and NULL.
  std::vector<std::pair<std::string, std::string>> changes;  // column, new value (SQL)
  const auto double_of = [&](const std::string& column) {
    return std::stod(db_->Rows("SELECT `" + column + "` FROM Policy").at(0));
  };
  for (const auto& column : kWritten) {
    const std::string name = std::string("`") + column.name + "`";
    changes.emplace_back(column.name, "NULL");
    switch (column.kind) {
      case kText:
        // A VARCHAR(1) has no room for the blank: 'N' becomes 'n'.
        changes.emplace_back(column.name, std::string_view(column.name) == "OverrideAnnualized"
                                              ? "LOWER(" + name + ")"
                                              : "CONCAT(" + name + ", ' ')");
        break;
      case kInt:
        changes.emplace_back(column.name, name + " + 1");
        break;
      case kTime:
        changes.emplace_back(column.name, name + " + INTERVAL 1 SECOND");
        break;
      case kDouble:
        changes.emplace_back(column.name, "");  // the next double, worked out below
        break;
    }
  }
  changes.emplace_back("CmpName", "UPPER(CmpName)");
  changes.emplace_back("CmpName", "'Caf\xc9'");  // equal in the column's collation
  changes.emplace_back("PolNum", "'bf-a'");
  changes.emplace_back("PolNum", "'BF-A '");
  changes.emplace_back("AgyCode", "'01 '");
  changes.emplace_back("PolSeq", "98");
  for (auto [column, value] : changes) {
    SCOPED_TRACE(column + " = " + (value.empty() ? "next double" : value));
    db_->Exec("DELETE FROM Policy");
    table_.emplace(kConnection);
    const PolicyWrite write = Post(row);
    if (value.empty()) value = ShortestText(std::nextafter(double_of(column), 1e300));
    db_->Exec("UPDATE Policy SET `" + column + "` = " + value);
    bool holds = true;
    EXPECT_TRUE(table_->Holds(write.policy_id, row, &holds, &error_)) << error_;
    EXPECT_FALSE(holds);
  }
}

TEST_F(PolicyWriteTest, DoesNotHoldARowThatIsGone) {
  const PolicyWrite write = Post(Row("01", "BF-A"));
  db_->Exec("DELETE FROM Policy");
  bool holds = true;
  EXPECT_TRUE(table_->Holds(write.policy_id, Row("01", "BF-A"), &holds, &error_)) << error_;
  EXPECT_FALSE(holds);
}

// What a transaction read to write or to check, nobody else changes before it ends: the other
// connection waits for the lock and gives up.
TEST_F(PolicyWriteTest, ARowReadInATransactionStaysLockedUntilItEnds) {
  const struct {
    const char* name;
    std::function<void(int64_t id)> read;
  } kCases[] = {
      {"Post of an existing row", [&](int64_t) { Post(Row("01", "BF-A")); }},
      {"Holds",
       [&](int64_t id) {
         bool holds = false;
         EXPECT_TRUE(table_->Holds(id, Row("01", "BF-A"), &holds, &error_)) << error_;
         EXPECT_TRUE(holds);
       }},
  };
  db_->Exec("SET SESSION innodb_lock_wait_timeout = 1");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    db_->Exec("DELETE FROM Policy");
    const PolicyWrite write = Post(Row("01", "BF-A"));
    table_.emplace(kConnection);
    ASSERT_TRUE(table_->Begin(&error_)) << error_;
    c.read(write.policy_id);
    EXPECT_THROW(db_->Exec("UPDATE Policy SET InvNum = 'other'"), std::runtime_error);
    ASSERT_TRUE(table_->Commit(&error_)) << error_;
    db_->Exec("UPDATE Policy SET InvNum = 'other'");  // free again
  }
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
