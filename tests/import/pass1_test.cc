// The start of an import run and its checking pass, on a fixture agency in the real store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "import/csv_reader.h"
#include "import/import_run.h"
#include "support/fixture_agency.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::vector<std::string> kOpenLines = {
    "Opened AP file [ap]",     "Opened ExtAP file [extap]",        "Opened JCKI file [jcki]",
    "Opened Desc file [desc]", "Opened TransNDX file [trans.ndx]", "Opened Pol file [pol]"};

class Pass1Test : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeFixtureAgency(dir_.path()); }

  ImportOutcome Check(const std::string& csv, ImportRequest request = {}) {
    testing::WriteFile(dir_.File("balances.csv"), csv);
    if (request.csv_path == kDefaultCsvName) request.csv_path = dir_.File("balances.csv");
    if (request.agency_code.empty()) request.agency_code = "01";
    if (request.posting_date.empty()) request.posting_date = "12/31/2024";
    return run_.Check(request);
  }
  // The run log after the file-set lines.
  std::vector<std::string> RunLogLines(const std::string& name = "balances_T.txt") {
    std::vector<std::string> lines = testing::ReadLines(dir_.File(name));
    EXPECT_GE(lines.size(), kOpenLines.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), kOpenLines);
    return std::vector<std::string>(lines.begin() + 6, lines.end());
  }

  testing::TempDir dir_;
  testing::RecordingOperator op_;
  ClientFileSet files_{nullptr, [] { return std::string("T"); }, dir_.path().string()};
  ImportRun run_{files_, op_};
};

TEST_F(Pass1Test, CleanFileLogsNoErrors) {
  const ImportOutcome outcome = Check(
      "GL,Name,SubType,Normal,Dept,Value\r\n"
      "4000,Commission,NONE,Credit,GA,-1500.00\r\n"
      "1120,Clients,C001,Debit,ga,250.10\r\n"
      "1130,Company,ABC,Debit,01,10\r\n"
      "2110,Company,7,Credit,GA,-20\r\n"
      "2120,Producer,P01,Credit,GA,-30\r\n"
      "9999,Not in the chart but zero,NONE,Debit,XX,0\r\n"
      "\r\n"
      "\"4000\",\"Commission\",\"None\",\"Credit\",\"GA\",\"0.0\",\r\n");
  EXPECT_EQ(outcome, ImportOutcome::kClean);
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_THAT(RunLogLines(),
              ElementsAre("Pass1, error scan",
                          "Checking Balances Effective [12/31/2024] (nothing posted)", "All done"));
  EXPECT_THAT(op_.statuses, ElementsAre("Pass 1: Error Scan", "Working out what will be posted",
                                        "Checked: no errors; nothing was posted"));
}

TEST_F(Pass1Test, EveryKindOfErrorIsOneLineInRowOrder) {
  const std::vector<std::string> rows = {
      "4000,Cash,NONE,Debit,GA,abc",       "9999,X,NONE,Debit,ZZ,abc",
      "1120,Clients,NONE,Debit,GA,5",      "1130,Company,AB,Debit,GA,5",
      "2110,Company,NOC,Debit,GA,5",       "2120,Producer,P99,Credit,GA,5",
      "01120,Clients,C001,Debit,GA,5",     " 1120,Clients,C001,Debit,GA,5",
      "4000,Cash,NONE,Debit,GA,100000000", "4000,Cash,NONE,Debit,GA,$1,234.50",
      "4000,Cash,NONE,Debit,GAX,5",        "4000,Cash,TOOLONG1,Debit,GA,5",
      "1130,Company,ABCD,Debit,GA,5",      "5000,Zero rows are not tested,NONE,Debit,XX,0",
  };
  std::string csv = "GL,Name,SubType,Normal,Dept,Value\n";
  for (const auto& row : rows) csv += row + "\n";
  EXPECT_EQ(Check(csv), ImportOutcome::kErrors);

  const auto in = [&](int i) { return "] in line [" + rows[i] + "]"; };
  const std::string log_path = dir_.File("balances_T.txt");
  EXPECT_THAT(RunLogLines(),
              ElementsAreArray({
                  std::string("Pass1, error scan"),
                  std::string("Checking Balances Effective [12/31/2024] (nothing posted)"),
                  "Unable to convert (abc) to floating point in line [" + rows[0] + "]",
                  "Unable to convert (abc) to floating point in line [" + rows[1] + "]",
                  "GL not found [9999" + in(1),
                  "Dpt not found [ZZ" + in(1),
                  "Client not found [      " + in(2),
                  "1130 Company not found [ AB" + in(3),
                  "2110 Company not found [NOC" + in(4),  // found, but not a company
                  "2120 Producer not found [P99" + in(5),
                  "GL not found [01120" + in(6),
                  "GL longer than 4 characters [01120" + in(6),
                  // " 1120" right-aligned in 6 is the key of GL 1120: found, but too long
                  "GL longer than 4 characters [ 1120" + in(7),
                  "Amount out of range (100000000) in line [" + rows[8] + "]",
                  "Amount split at a comma ($1,234.50) in line [" + rows[9] + "]",
                  "Dpt not found [GAX" + in(10),
                  "Dpt longer than 2 characters [GAX" + in(10),
                  "SGL longer than 6 characters [TOOLONG1" + in(11),
                  "1130 Company not found [ABCD" + in(12),
                  "SGL longer than 3 characters [ABCD" + in(12),
                  "Errors found in input file. See " + log_path,
                  std::string("1 message was shown during this run; each is written above"),
                  std::string("All done"),
              }));
  EXPECT_THAT(op_.errors, ElementsAre("Errors found in input file. See " + log_path));
  EXPECT_THAT(op_.launched, ElementsAre(log_path));
}

TEST_F(Pass1Test, SummaryCarriesEachErrorWithItsCsvLine) {
  const std::string bad_gl = "9999,X,NONE,Debit,GA,5";
  const std::string bad_both = "4000,Cash,NONE,Debit,ZZ,abc";
  ImportRequest request;
  request.first_inv_number = 999999;  // no invoice number left for the one control row
  EXPECT_EQ(Check("GL,Name,SubType,Normal,Dept,Value\r\n" + bad_gl + "\r\n" +
                      "4000,Fine,NONE,Credit,GA,1\r\n" + bad_both + "\r\n" +
                      "1120,Clients,C001,Debit,GA,5\r\n",
                  request),
            ImportOutcome::kErrors);

  EXPECT_THAT(run_.summary().errors,
              ElementsAre(Pass1Error{2, "GL not found [9999]", bad_gl},
                          Pass1Error{4, "Unable to convert (abc) to floating point", bad_both},
                          Pass1Error{4, "Dpt not found [ZZ]", bad_both},
                          // about the whole file: no line
                          Pass1Error{0,
                                     "Starting Inv Number [999999] leaves 0 numbers below "
                                     "1000000 for 1 invoices",
                                     ""}));
  EXPECT_EQ(run_.summary().rows, 4);
  // The run log holds the same lines, each in its usual form.
  std::vector<std::string> logged;
  for (const Pass1Error& e : run_.summary().errors) logged.push_back(e.RunLogLine());
  EXPECT_EQ(logged[0], "GL not found [9999] in line [" + bad_gl + "]");
  const std::vector<std::string> log = RunLogLines();
  EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.begin() + 6), logged);
}

TEST_F(Pass1Test, CheckAgainAfterTheFileIsFixedWritesALogOfItsOwn) {
  EXPECT_EQ(Check("GL,Name,SubType,Normal,Dept,Value\r\n9999,X,NONE,Debit,GA,5\r\n"),
            ImportOutcome::kErrors);
  EXPECT_EQ(run_.summary().errors.size(), 1u);

  // The same program start: the operator fixes the file and checks it again.
  EXPECT_EQ(Check("GL,Name,SubType,Normal,Dept,Value\r\n4000,X,NONE,Debit,GA,5\r\n"),
            ImportOutcome::kClean);
  EXPECT_THAT(run_.summary().errors, IsEmpty());
  EXPECT_EQ(run_.summary().run_log, dir_.File("balances_T_2.txt"));
  EXPECT_THAT(RunLogLines("balances_T_2.txt"),
              ElementsAre("Pass1, error scan",
                          "Checking Balances Effective [12/31/2024] (nothing posted)", "All done"));
  EXPECT_THAT(RunLogLines(),
              ::testing::Contains("GL not found [9999] in line [9999,X,NONE,Debit,GA,5]"));
}

TEST_F(Pass1Test, StartingNumbersThatLeaveTooFewNumbersAreAnError) {
  ImportRequest request;
  request.first_je_number = 999998;
  EXPECT_EQ(Check("h\n4000,,,,GA,1\n4000,,,,GA,2\n4000,,,,GA,3\n", request),
            ImportOutcome::kErrors);
  EXPECT_THAT(RunLogLines(),
              ::testing::Contains("Starting JE Number [999998] leaves 1 numbers below 1000000 for "
                                  "3 journal entries"));
}

TEST_F(Pass1Test, MissingCsvEndsTheRunWithItsName) {
  ImportRequest request;
  request.csv_path = dir_.File("nosuch.csv");
  request.agency_code = "01";
  request.posting_date = "12/31/2024";
  EXPECT_EQ(run_.Check(request), ImportOutcome::kSetupFailed);
  EXPECT_THAT(op_.errors, ElementsAre(request.csv_path + " not found"));
}

// The CSV must be a file that can be read to its end: anything else ends the run before any
// row is read, its reason in the message and the run log.
TEST_F(Pass1Test, CsvThatIsNotAReadableFileEndsTheRunWithTheReason) {
  const struct {
    std::string path;
    std::string want;
  } kCases[] = {
      {dir_.path().string(), dir_.path().string() + " not found: it is a folder, not a file"},
      {"/dev/null", "/dev/null not found: it is a device, not a file"},
      {dir_.File("balances.csv") + "/x",
       dir_.File("balances.csv") + "/x not found: Not a directory"},
      // A regular file whose reading fails (the kernel gives EIO for this one).
      {"/proc/self/mem",
       "/proc/self/mem could not be read at line 1: Input/output error; nothing was posted."},
  };
  testing::WriteFile(dir_.File("balances.csv"), "GL,Name,SubType,Normal,Dept,Value\n");
  for (const auto& c : kCases) {
    testing::RecordingOperator op;
    ImportRun run(files_, op);
    ImportRequest request{"01", "12/31/2024", c.path};
    EXPECT_EQ(run.Check(request), ImportOutcome::kSetupFailed) << c.path;
    EXPECT_THAT(op.errors, ElementsAre(c.want));
    const std::string log = run.summary().run_log;
    EXPECT_THAT(RunLogLines(log.substr(log.rfind('/') + 1)),
                ElementsAre("Pass1, error scan",
                            "Checking Balances Effective [12/31/2024] (nothing posted)", c.want));
    EXPECT_FALSE(files_.log().is_open()) << c.path;
  }
}

// A header that shows the file cannot be read as a balance sheet is an error of line 1; the
// rows after such a header are counted but not checked, each would only repeat the fault.
TEST_F(Pass1Test, HeaderThatShowsAFileReadWronglyIsAnError) {
  const std::string row1 = "4000,Commission,NONE,Credit,GA,-1500.00";
  const std::string row2 = "1120,Clients,C001,Debit,GA,250.10";
  const struct {
    std::string csv;
    std::vector<Pass1Error> want;
    int64_t rows;
  } kCases[] = {
      // CR line ends: the whole file is the header; its first 60 characters are shown.
      {"GL,Name,SubType,Normal,Dept,Value\r" + row1 + "\r" + row2 + "\r",
       {{1, "Lone CR line ends: save the file with CR LF or LF line ends",
         "GL,Name,SubType,Normal,Dept,Value\\x0D4000,Commission,NONE,Credi"}},
       0},
      {"GL,Name,SubType,Normal,Dept,Value\rx\r\n" + row1 + "\r\n",
       {{1, "Lone CR line ends: save the file with CR LF or LF line ends",
         "GL,Name,SubType,Normal,Dept,Value\\x0Dx"}},
       1},
      {"GL;Name;SubType;Normal;Dept;Value\r\n4000;Commission;NONE;Credit;GA;-1500,00\r\n",
       {{1, "Semicolon-separated file: save it with commas", "GL;Name;SubType;Normal;Dept;Value"}},
       1},
      {"GL\tName\tSubType\tNormal\tDept\tValue\n4000\tCommission\tNONE\tCredit\tGA\t-1500.00\n",
       {{1, "Tab-separated file: save it with commas",
         "GL\\x09Name\\x09SubType\\x09Normal\\x09Dept\\x09Value"}},
       1},
      {"GL,Name;Memo,SubType,Normal,Dept,Value\n" + row1 + "\n", {}, 1},  // commas too
      {"GL,Name,SubType,Normal,Dept,Value\tMemo\n" + row1 + "\n", {}, 1},
      // No bytes at all: not a balance sheet of no rows.
      {"", {{0, "Empty file: it holds no header and no rows", ""}}, 0},
      {"GL,Name,SubType,Normal,Dept,Value\n", {}, 0},
      // No header: the first balance would be lost.
      {row1 + "\r\n" + row2 + "\r\n",
       {{1, "First line is a balance row, not the header", row1}},
       1},
      {"4000,Commission,NONE,Credit,GA,0\r\n" + row2 + "\r\n", {}, 1},  // a zero row: nothing lost
      {"9999,Not in the chart,NONE,Credit,GA,5\r\n" + row2 + "\r\n", {}, 1},
      {"GL,Name,SubType,Normal,Dept,Value\r\n" + row1 + "\r\n", {}, 1},
  };
  for (const auto& c : kCases) {
    testing::RecordingOperator op;
    ImportRun run(files_, op);
    testing::WriteFile(dir_.File("balances.csv"), c.csv);
    EXPECT_EQ(run.Check({"01", "12/31/2024", dir_.File("balances.csv")}),
              c.want.empty() ? ImportOutcome::kClean : ImportOutcome::kErrors)
        << c.csv;
    EXPECT_EQ(run.summary().errors, c.want) << c.csv;
    EXPECT_EQ(run.summary().rows, c.rows) << c.csv;
  }
}

// A code holding a control byte (NUL, ESC, CR as data ...) would be stored as it is; the error
// line shows each such byte as \xNN, in the code and in the line.
TEST_F(Pass1Test, ControlCharacterInACodeIsAnError) {
  const struct {
    std::string row;
    std::vector<std::string> want;  // the run log's error lines
  } kCases[] = {
      {"4000,Cash,AB\x1b[0m,Debit,GA,5",
       {"Control character in SubType [AB\\x1B[0m] in line [4000,Cash,AB\\x1B[0m,Debit,GA,5]"}},
      {std::string("4000,Cash,A\0B,Debit,GA,5", 24),
       {"Control character in SubType [A\\x00B] in line [4000,Cash,A\\x00B,Debit,GA,5]"}},
      {"4000,Cash,C001\r,Debit,GA,5",  // a lone CR is data
       {"Control character in SubType [C001\\x0D] in line [4000,Cash,C001\\x0D,Debit,GA,5]"}},
      {"4000\t,Cash,NONE,Debit,GA,5",
       {"Control character in GL [4000\\x09] in line [4000\\x09,Cash,NONE,Debit,GA,5]",
        "GL not found [4000\\x09] in line [4000\\x09,Cash,NONE,Debit,GA,5]",
        "GL longer than 4 characters [4000\\x09] in line [4000\\x09,Cash,NONE,Debit,GA,5]"}},
      {"4000,Cash,NONE,Debit,G\x7f,5",
       {"Control character in Dpt [G\\x7F] in line [4000,Cash,NONE,Debit,G\\x7F,5]",
        "Dpt not found [G\\x7F] in line [4000,Cash,NONE,Debit,G\\x7F,5]"}},
      {"4000,Cash,A\x1b,Debit,GA,0", {}},     // a zero row stores nothing
      {"4000,Ca\x01sh,NONE,Debit,GA,5", {}},  // the name is never stored
  };
  for (const auto& c : kCases) {
    testing::RecordingOperator op;
    ImportRun run(files_, op);
    testing::WriteFile(dir_.File("balances.csv"), "GL,Name,SubType,Normal,Dept,Value\n" + c.row);
    EXPECT_EQ(run.Check({"01", "12/31/2024", dir_.File("balances.csv")}),
              c.want.empty() ? ImportOutcome::kClean : ImportOutcome::kErrors)
        << ShowControlBytes(c.row);
    std::vector<std::string> logged;
    for (const Pass1Error& e : run.summary().errors) logged.push_back(e.RunLogLine());
    EXPECT_EQ(logged, c.want) << ShowControlBytes(c.row);
  }
}

TEST_F(Pass1Test, RequestsThatCannotStartDoNothing) {
  const struct {
    std::string agency, date;
  } kCases[] = {{"123", "12/31/2024"}, {"01", "13/01/2024"}, {"01", "2/30/2024"},
                {"01", "12/31/24"},    {"01", "1/1/2100"},   {"01", "not a date"}};
  for (const auto& c : kCases) {
    testing::RecordingOperator op;
    ImportRun run(files_, op);
    ImportRequest request{c.agency, c.date, dir_.File("balances.csv")};
    EXPECT_EQ(run.Check(request), ImportOutcome::kSetupFailed) << c.agency << " " << c.date;
    EXPECT_EQ(op.errors.size(), 1u);
    EXPECT_FALSE(files_.log().is_open()) << "no run log for " << c.agency << " " << c.date;
    EXPECT_FALSE(files_.files_open()) << "nothing opened for " << c.agency << " " << c.date;
  }
}

}  // namespace
}  // namespace quillmere
