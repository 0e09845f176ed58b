// The pass-1 errors as the operator fixes them: grouped by line, numbered, and as a CSV file
// read back with Python's csv module (a reader that is not ours), field by field.
#include "import/error_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Errors as the check reports them: two on line 3, a quote in a reason and a comma in a quoted
// Name on line 4, a control byte (shown as \x0D) and the Latin-1 byte of "é" on line 6, a line
// of two fields, and a whole-file error.
const std::vector<Pass1Error> kErrors = {
    {3, "GL not found [9999]", "9999,Cash,NONE,Debit,ZZ,10.00"},
    {3, "Dpt not found [ZZ]", "9999,Cash,NONE,Debit,ZZ,10.00"},
    {4, "Amount without its closing quote (\"500.00)",
     "1000,\"Smith, John\",NONE,Debit,GA,\"500.00"},
    {6, "Control character in SubType [C\\x0D1]", "1120,Caf\xE9,C\\x0D1,Debit,GA,5"},
    {7, "Unable to convert (Cash) to floating point", "9999,Cash"},
    {0, "Starting JE Number [999990] leaves 9 numbers below 1000000 for 12 journal entries", ""},
};

// The JSON text parsed back; fails the test when it is not valid JSON.
QJsonDocument ParsedJson(const std::string& json) {
  QJsonParseError error;
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError)
      << error.errorString().toStdString() << " in " << json;
  return doc;
}

TEST(GroupErrors, OneEntryPerLineInTheOrderOfItsFirstError) {
  const std::vector<Pass1Error> errors = {
      {3, "a", "line 3"}, {0, "whole 1", ""}, {5, "b", "line 5"},
      {3, "c", "line 3"}, {0, "whole 2", ""},
  };
  EXPECT_THAT(GroupErrors(errors),
              ElementsAre(ErrorLine{3, {"a", "c"}, "line 3"}, ErrorLine{0, {"whole 1"}, ""},
                          ErrorLine{5, {"b"}, "line 5"}, ErrorLine{0, {"whole 2"}, ""}));
  EXPECT_THAT(GroupErrors({}), IsEmpty());
}

TEST(NumberedErrorLine, LineNumberInFrontOfTheRunLogLine) {
  const struct {
    Pass1Error error;
    std::string want;
  } kCases[] = {
      {kErrors[0], "line 3: GL not found [9999] in line [9999,Cash,NONE,Debit,ZZ,10.00]"},
      {{1, "Semicolon-separated file: save it with commas", "GL;Name"},
       "line 1: Semicolon-separated file: save it with commas in line [GL;Name]"},
      {kErrors[5], kErrors[5].reason},  // about the whole file: no line to name
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(NumberedErrorLine(c.error), c.want) << c.error.reason;
    EXPECT_TRUE(NumberedErrorLine(c.error).ends_with(c.error.RunLogLine())) << c.want;
  }
}

TEST(ErrorsCsv, ReadsBackFieldByFieldWithAStandardCsvReader) {
  testing::TempDir dir;
  const std::string path = dir.File("errors.csv");
  testing::WriteFile(path, ErrorsCsv(kErrors));
  const std::vector<std::vector<std::string>> want = {
      {"Line", "Reasons", "GL", "Name", "SubType", "Normal", "Dept", "Value"},
      {"3", "GL not found [9999]; Dpt not found [ZZ]", "9999", "Cash", "NONE", "Debit", "ZZ",
       "10.00"},
      // The unclosed quote reads as an empty amount, as the import reads it.
      {"4", "Amount without its closing quote (\"500.00)", "1000", "Smith, John", "NONE", "Debit",
       "GA", ""},
      {"6", "Control character in SubType [C\\x0D1]", "1120", "Caf\xE9", "C\\x0D1", "Debit", "GA",
       "5"},
      // A short line: the fields it lacks are empty, not its last field again.
      {"7", "Unable to convert (Cash) to floating point", "9999", "Cash", "", "", "", ""},
      {"", kErrors[5].reason, "", "", "", "", "", ""},
  };
  const auto rows = testing::PythonCsvRows(path);
  ASSERT_EQ(rows.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r) {
    ASSERT_EQ(rows[r].size(), want[r].size()) << "row " << r;
    for (size_t f = 0; f < want[r].size(); ++f) {
      EXPECT_EQ(rows[r][f], want[r][f]) << "row " << r << " field " << want[0][f];
    }
  }
}

TEST(ErrorsCsv, EveryLineEndsWithCrLfAndEveryFieldIsQuoted) {
  const std::string csv = ErrorsCsv(kErrors);
  for (size_t at = csv.find('\n'); at != std::string::npos; at = csv.find('\n', at + 1)) {
    ASSERT_GT(at, 0u);
    EXPECT_EQ(csv[at - 1], '\r') << "at " << at;
  }
  EXPECT_TRUE(csv.starts_with("\"Line\",\"Reasons\",")) << csv;
  EXPECT_THAT(csv, HasSubstr("\r\n\"\",\"Starting JE Number"));
  EXPECT_THAT(csv, HasSubstr("\"Amount without its closing quote (\"\"500.00)\""));
}

TEST(ErrorsCsv, NoErrorsGiveTheHeaderOnly) {
  EXPECT_EQ(ErrorsCsv({}),
            "\"Line\",\"Reasons\",\"GL\",\"Name\",\"SubType\",\"Normal\",\"Dept\","
            "\"Value\"\r\n");
}

// What a folder holds, by name.
std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteErrorsCsv, WritesTheReportAndReplacesAnOlderOne) {
  testing::TempDir dir;
  const std::string path = dir.File("errors.csv");
  testing::WriteFile(path, "an older report\r\n");
  std::string error;
  ASSERT_TRUE(WriteErrorsCsv(path, kErrors, &error)) << error;
  EXPECT_EQ(testing::ReadFile(path), ErrorsCsv(kErrors));
  EXPECT_THAT(Names(dir.path()), ElementsAre("errors.csv"));  // no temporary file left
}

TEST(WriteErrorsCsv, FailureSaysWhyAndLeavesNothing) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.path() / "a folder");
  const struct {
    std::string name;
    int want_errno;
    std::vector<std::string> want_left;
  } kCases[] = {
      {"missing/errors.csv", ENOENT, {"a folder"}},
      {"a folder", EISDIR, {"a folder"}},  // a folder in the file's place stays as it was
  };
  for (const auto& c : kCases) {
    const std::string path = dir.File(c.name);
    std::string error;
    EXPECT_FALSE(WriteErrorsCsv(path, kErrors, &error)) << c.name;
    EXPECT_THAT(error, HasSubstr(path)) << c.name;
    EXPECT_THAT(error, HasSubstr(std::strerror(c.want_errno))) << c.name;
    EXPECT_EQ(Names(dir.path()), c.want_left) << c.name;
    EXPECT_THAT(Names(dir.path() / "a folder"), IsEmpty()) << c.name;
  }
}

TEST(ErrorsJson, ReadsBackLineByLine) {
  const QJsonObject o = ParsedJson(ErrorsJson(kErrors)).object();
  EXPECT_EQ(o.keys(), QStringList{QStringLiteral("errors")});
  const QJsonArray errors = o[QStringLiteral("errors")].toArray();
  const struct {
    double line;
    std::vector<QString> reasons;
    QString text;
  } kWant[] = {
      {3,
       {QStringLiteral("GL not found [9999]"), QStringLiteral("Dpt not found [ZZ]")},
       QStringLiteral("9999,Cash,NONE,Debit,ZZ,10.00")},
      {4,
       {QStringLiteral("Amount without its closing quote (\"500.00)")},
       QStringLiteral("1000,\"Smith, John\",NONE,Debit,GA,\"500.00")},
      {6,
       {QStringLiteral("Control character in SubType [C\\x0D1]")},
       QStringLiteral("1120,Caf\u00E9,C\\x0D1,Debit,GA,5")},
      {7,
       {QStringLiteral("Unable to convert (Cash) to floating point")},
       QStringLiteral("9999,Cash")},
      {0, {QString::fromLatin1(kErrors[5].reason)}, QString()},
  };
  ASSERT_EQ(errors.size(), static_cast<qsizetype>(std::size(kWant)));
  for (qsizetype i = 0; i < errors.size(); ++i) {
    const QJsonObject e = errors[i].toObject();
    const auto& want = kWant[i];
    EXPECT_EQ(e[QStringLiteral("line")].toDouble(-1), want.line) << i;
    const QJsonArray reasons = e[QStringLiteral("reasons")].toArray();
    ASSERT_EQ(reasons.size(), static_cast<qsizetype>(want.reasons.size())) << i;
    for (qsizetype r = 0; r < reasons.size(); ++r) {
      EXPECT_EQ(reasons[r].toString(), want.reasons[r]) << i;
    }
    EXPECT_EQ(e[QStringLiteral("text")].toString(), want.text) << i;
  }
}

}  // namespace
}  // namespace quillmere
