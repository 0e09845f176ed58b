// The agency lookup against the private MariaDB.
#include "db/agency.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_database.h"

namespace quillmere {
namespace {

using ::quillmere::testing::TestDatabase;

TEST(LookupAgencyName, PadsTheTypedCodeAndBindsIt) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  TestDatabase db;
  db.Exec(
      "INSERT INTO Agency (AgyCode, AgencyName) VALUES (' 5', 'Blank Five'), "
      "('005', 'Triple Five'), ('  ', 'Two Blanks'), ('''1', 'Quoted'), "
      "('07', 'Caf\xe9 Agency')");
  const QSqlDatabase conn = db.Connect(QStringLiteral("agency"));
  const struct {
    std::string typed, want;
  } kCases[] = {
      {"5", "Blank Five"},     // right-aligned in 2: " 5"
      {"005", "Triple Five"},  // longer codes are not cut
      {"", "Two Blanks"},      // two blanks
      {"'1", "Quoted"},        // a quote is part of the value, not of the statement
      {"' OR '1'='1", " Not Found"},
      {"07", "Caf\xe9 Agency"},  // Latin-1 bytes come back as they are stored
      {"99", " Not Found"},
  };
  for (const auto& c : kCases) {
    std::string error;
    EXPECT_EQ(LookupAgencyName(conn, c.typed, &error), c.want) << "[" << c.typed << "] " << error;
  }
}

TEST(LookupAgencyName, ReturnsTheDatabaseError) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  TestDatabase db;
  db.Exec("DROP TABLE Agency");
  const QSqlDatabase conn = db.Connect(QStringLiteral("agency"));
  std::string error;
  EXPECT_EQ(LookupAgencyName(conn, "01", &error), std::nullopt);
  EXPECT_THAT(error, ::testing::HasSubstr("Agency"));
}

}  // namespace
}  // namespace quillmere
