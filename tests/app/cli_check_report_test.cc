// What quillmere-cli tells about a balance sheet: the error report an operator fixes the file
// from (--errors-csv, read back with Python's csv module), the JSON a script reads (--json), the
// preview of a clean check and the reminder after an import. Runs the built program against the
// fixture agency and the private MariaDB (QUILLMERE_TEST_DB_*); skipped without it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "recfiles/record_store.h"
#include "support/fixture_agency.h"
#include "support/process.h"
#include "support/test_database.h"
#include "support/test_support.h"

namespace quillmere::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kHeader = "GL,Name,SubType,Normal,Dept,Value";

// A balanced file: cash, a client on two rows, commission; and one zero row.
const std::vector<std::string> kCleanLines = {
    kHeader,
    "1000,Cash,NONE,Debit,GA,250.00",
    "1120,\"Smith, John\",C001,Debit,GA,100.00",
    "1120,\"Smith, John\",C001,Debit,01,10.00",
    "4000,Commission,NONE,Credit,GA,-360.00",
    "5000,Office,NONE,Debit,GA,0",
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The JSON text parsed back; fails the test when it is not one valid JSON document.
QJsonDocument ParsedJson(const std::string& json) {
  QJsonParseError error;
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError)
      << error.errorString().toStdString() << " at " << error.offset << " in [" << json << "]";
  return doc;
}

// A member of a JSON object, by a key in ASCII.
QJsonValue At(const QJsonObject& object, const char* key) {
  return object[QString::fromLatin1(key)];
}
std::string Text(const QJsonValue& value) { return value.toString().toStdString(); }

// A CSV line of `fields`, quoting those that hold a comma.
std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += fields[i].find(',') == std::string::npos ? fields[i] : "\"" + fields[i] + "\"";
  }
  return line;
}

class CliReport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    db_ = std::make_unique<TestDatabase>();
    db_->Exec("INSERT INTO Agency (AgyCode, AgencyName) VALUES ('01', 'First Agency')");
    settings_ = MakeFixtureAgency(dir_.path());
    CloseRecordStore();  // the program opens the store itself
    WriteFile(settings_, db_->SettingsText() + "datapath=.\n");
  }

  // Runs quillmere-cli `command` on `csv` with `extra` options; standard error apart.
  ProcessResult Cli(const std::string& command, const std::string& csv,
                    const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {QUILLMERE_BINARY_DIR "/quillmere-cli",
                                     command,
                                     "--settings",
                                     settings_,
                                     "--agency",
                                     "01",
                                     "--date",
                                     "12/31/2024",
                                     "--csv",
                                     csv,
                                     "--log-dir",
                                     dir_.path().string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ProcessOptions options;
    options.error_path = dir_.File("stderr.txt");
    ProcessResult result = RunProgram(argv, options);
    stderr_ = ReadFile(options.error_path);
    return result;
  }

  std::string Csv(const std::string& name, const std::vector<std::string>& lines) {
    WriteFile(dir_.File(name), Joined(lines));
    return dir_.File(name);
  }

  TempDir dir_;
  std::unique_ptr<TestDatabase> db_;
  std::string settings_;
  std::string stderr_;  // of the last Cli run
};

TEST_F(CliReport, ErrorsCsvPointsAtTheLinesToFix) {
  std::vector<std::string> lines = {
      kHeader,
      "1000,Cash,NONE,Debit,GA,250.00",
      "9999,\"Smith, John\",NONE,Debit,ZZ,10.00",  // two errors on one line
      "4000,Commission,NONE,Credit,GA,-360.00",
      "1120,Clients,NOBODY,Debit,GA,100.00",
  };
  const std::string csv = Csv("balances.csv", lines);
  const std::string report = dir_.File("errors.csv");
  const ProcessResult checked = Cli("check", csv, {"--errors-csv", report});
  ASSERT_EQ(checked.exit_code, 1) << checked.output << stderr_;
  EXPECT_THAT(checked.output,
              AllOf(HasSubstr("\nline 3: GL not found [9999] in line [" + lines[2] + "]\n"),
                    HasSubstr("\nline 3: Dpt not found [ZZ] in line [" + lines[2] + "]\n"),
                    HasSubstr("\nline 5: Client not found [NOBODY] in line [" + lines[4] + "]\n"),
                    HasSubstr("Errors written to " + report + "\n")));

  // The operator's fix, driven by the report alone: each reported line is rebuilt from the
  // report's fields with the reported code replaced.
  const auto rows = testing::PythonCsvRows(report);
  ASSERT_EQ(rows.size(), 3u);  // the header and one row per failing line
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Line", "Reasons", "GL", "Name", "SubType", "Normal",
                                               "Dept", "Value"}));
  EXPECT_EQ(rows[1][1], "GL not found [9999]; Dpt not found [ZZ]");
  for (size_t r = 1; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), 8u);
    const size_t line_number = std::stoul(rows[r][0]);
    ASSERT_GE(line_number, 2u);
    ASSERT_LE(line_number, lines.size());
    std::vector<std::string> fields(rows[r].begin() + 2, rows[r].end());
    // The fields are those of the line the report names.
    EXPECT_EQ(CsvLine(fields), lines[line_number - 1]) << "line " << line_number;
    const std::string& reasons = rows[r][1];
    if (reasons.find("GL not found") != std::string::npos) fields[0] = "5000";
    if (reasons.find("Client not found") != std::string::npos) fields[2] = "C001";
    if (reasons.find("Dpt not found") != std::string::npos) fields[4] = "GA";
    lines[line_number - 1] = CsvLine(fields);
  }
  Csv("balances.csv", lines);
  const ProcessResult rechecked = Cli("check", csv, {"--errors-csv", report});
  EXPECT_EQ(rechecked.exit_code, 0) << rechecked.output << stderr_;
  EXPECT_THAT(rechecked.output, Not(HasSubstr("Errors written")));
}

TEST_F(CliReport, ErrorsCsvIsWrittenOnlyForErrorsAndAFailedWriteIsSaid) {
  std::vector<std::string> bad = kCleanLines;
  bad[1] = "9999,Cash,NONE,Debit,GA,250.00";
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::string report;        // relative to the test folder
    std::string older_report;  // there before the run ("": nothing)
    int want_exit;
    std::string want_report;  // afterwards ("": no such file)
    std::string want_stderr;  // a part of standard error ("": none expected)
  } kCases[] = {
      // A clean check leaves an older report as it was.
      {"clean", kCleanLines, "older.csv", "an older report\r\n", 0, "an older report\r\n", ""},
      {"clean, no older report", kCleanLines, "none.csv", "", 0, "", ""},
      // The errors' exit code stays; the failure is said, nothing is left.
      {"folder missing", bad, "missing/errors.csv", "", 1, "",
       "quillmere-cli: the errors could not be written as CSV: Unable to create " +
           dir_.File("missing/errors.csv") + ": No such file or directory"},
  };
  for (const auto& c : kCases) {
    const std::string report = dir_.File(c.report);
    if (!c.older_report.empty()) WriteFile(report, c.older_report);
    const ProcessResult run = Cli("check", Csv("balances.csv", c.lines), {"--errors-csv", report});
    EXPECT_EQ(run.exit_code, c.want_exit) << c.name << ": " << run.output << stderr_;
    EXPECT_EQ(std::filesystem::exists(report), !c.want_report.empty()) << c.name;
    if (!c.want_report.empty()) {
      EXPECT_EQ(ReadFile(report), c.want_report) << c.name;
    }
    EXPECT_THAT(run.output, Not(HasSubstr("Errors written"))) << c.name;
    if (!c.want_stderr.empty()) {
      EXPECT_THAT(stderr_, HasSubstr(c.want_stderr)) << c.name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing"));
}

TEST_F(CliReport, ErrorsCsvNeverReplacesTheBalanceSheet) {
  std::vector<std::string> bad = kCleanLines;
  bad[1] = "9999,Cash,NONE,Debit,GA,250.00";
  const std::string csv = Csv("balances.csv", bad);
  std::filesystem::create_directory(dir_.path() / "sub");
  std::filesystem::create_symlink(csv, dir_.File("link.csv"));
  for (const std::string& report : {csv, dir_.File("./balances.csv"),
                                    dir_.File("sub/../balances.csv"), dir_.File("link.csv")}) {
    const ProcessResult run = Cli("check", csv, {"--errors-csv", report});
    EXPECT_EQ(run.exit_code, 2) << report << ": " << run.output << stderr_;
    EXPECT_THAT(stderr_, HasSubstr("--errors-csv names the balance sheet")) << report;
    EXPECT_EQ(ReadFile(csv), Joined(bad)) << report;
  }
}

TEST_F(CliReport, JsonOfACleanCheckIsTheOnlyOutput) {
  const ProcessResult checked = Cli("check", Csv("balances.csv", kCleanLines), {"--json"});
  ASSERT_EQ(checked.exit_code, 0) << checked.output << stderr_;
  EXPECT_THAT(stderr_, HasSubstr("Run log: "));  // said, but not on standard output
  const QJsonObject o = ParsedJson(checked.output).object();
  for (const char* key : {"accounts", "rows", "zero_rows", "debit", "credit", "net", "first_je",
                          "last_je", "first_inv", "last_inv", "record_writes", "policy_inserted",
                          "policy_updated", "already_posted", "warnings"}) {
    EXPECT_TRUE(o.contains(QString::fromLatin1(key))) << key;
  }
  EXPECT_TRUE(At(o, "accounts").isArray());
  EXPECT_TRUE(At(o, "record_writes").isArray());
  EXPECT_TRUE(At(o, "warnings").isArray());
  EXPECT_TRUE(At(o, "net").isString());
  EXPECT_TRUE(At(o, "first_je").isDouble());

  // What pass 1 read: five data lines, one of them zero; three accounts in GL order.
  EXPECT_EQ(At(o, "rows").toDouble(-1), 5);
  EXPECT_EQ(At(o, "zero_rows").toDouble(-1), 1);
  const QJsonArray accounts = At(o, "accounts").toArray();
  std::vector<std::string> gls;
  for (const auto& account : accounts) gls.push_back(Text(At(account.toObject(), "gl")));
  EXPECT_EQ(gls, (std::vector<std::string>{"1000", "1120", "4000"}));
  if (accounts.size() == 3) {
    const QJsonObject clients = accounts[1].toObject();
    EXPECT_EQ(At(clients, "rows").toDouble(-1), 2);
    EXPECT_EQ(Text(At(clients, "debit")), "110.00");
    EXPECT_EQ(At(clients, "parties").toDouble(-1), 1);
    EXPECT_EQ(At(clients, "shared_parties").toDouble(-1), 1);
  }
  EXPECT_EQ(Text(At(o, "net")), "0.00");
}

TEST_F(CliReport, JsonOfAFileWithErrorsListsThemByLine) {
  std::vector<std::string> lines = kCleanLines;
  lines[2] = "1120,Clients,NOBODY,Debit,ZZ,100.00";
  const ProcessResult checked = Cli("check", Csv("balances.csv", lines), {"--json"});
  ASSERT_EQ(checked.exit_code, 1) << checked.output << stderr_;
  const QJsonArray errors = At(ParsedJson(checked.output).object(), "errors").toArray();
  ASSERT_EQ(errors.size(), 1);
  const QJsonObject e = errors[0].toObject();
  EXPECT_EQ(At(e, "line").toDouble(-1), 3);
  EXPECT_EQ(Text(At(e, "text")), lines[2]);
  std::vector<std::string> reasons;
  for (const auto& reason : At(e, "reasons").toArray()) reasons.push_back(Text(reason));
  EXPECT_EQ(reasons, (std::vector<std::string>{"Dpt not found [ZZ]", "Client not found [NOBODY]"}));
}

TEST_F(CliReport, CleanCheckShowsWhatTheImportWouldPost) {
  const ProcessResult checked = Cli("check", Csv("balances.csv", kCleanLines));
  ASSERT_EQ(checked.exit_code, 0) << checked.output << stderr_;
  EXPECT_THAT(checked.output, HasSubstr("Rows read: 5\nOpening trial balance"));
  EXPECT_THAT(checked.output, HasSubstr("  Net total (debits less credits): 0.00\n"));
}

TEST_F(CliReport, ImportThatPostedRemindsOfTheHostsRebuild) {
  const ProcessResult imported =
      Cli("import", Csv("balances.csv", kCleanLines), {"--je", "100000", "--inv", "500000"});
  ASSERT_EQ(imported.exit_code, 0) << imported.output << stderr_;
  EXPECT_THAT(imported.output,
              HasSubstr("\nYou need to rebuild control totals and migrate accounting\n"));
}

// Option mistakes are refused before anything is read (no database needed).
TEST(CliOptions, ReportOptionsBelongToTheirCommands) {
  const struct {
    std::vector<std::string> args;
    std::string want;
  } kCases[] = {
      {{"import", "--json"}, "quillmere-cli: --json belongs to check\n"},
      {{"export", "--errors-csv", "x.csv"},
       "quillmere-cli: --errors-csv belongs to check and import\n"},
      {{"check", "--errors-csv="}, "quillmere-cli: --errors-csv needs a file name\n"},
      {{"check", "--errors-csv"}, "quillmere-cli: --errors-csv needs a value\n"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> argv = {QUILLMERE_BINARY_DIR "/quillmere-cli"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult run = RunProgram(argv);
    EXPECT_EQ(run.exit_code, 2) << c.args[0] << " " << c.args[1];
    EXPECT_TRUE(run.output.starts_with(c.want)) << run.output;
  }
}

}  // namespace
}  // namespace quillmere::testing
