// The template round trip on the demo agency, through the programs an operator runs:
// quillmere-cli export writes the GL chart, amounts (and, on control accounts, real codes) go
// into some of its rows, quillmere-cli check accepts the file and quillmere-cli import posts
// exactly those rows. Needs the private MariaDB (QUILLMERE_TEST_DB_*); skipped without it.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/encodings.h"
#include "support/process.h"
#include "support/test_database.h"
#include "support/test_support.h"

namespace quillmere::testing {
namespace {

using ::testing::HasSubstr;

// The quoted fields of a template line: "a","b",...,  ->  {a, b, ...}
std::vector<std::string> QuotedFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t pos = 0;
  while (pos < line.size()) {
    const size_t open = line.find('"', pos);
    if (open == std::string::npos) break;
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos) break;
    fields.push_back(line.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return fields;
}

std::string TemplateLine(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& f : fields) line += "\"" + f + "\",";
  return line;
}

class TemplateRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    db_ = std::make_unique<TestDatabase>();
    db_->Exec("INSERT INTO Agency (AgyCode, AgencyName) VALUES ('01', 'Harborview Insurance')");
    settings_ = dir_.File("VELFILES.ini");
    WriteFile(settings_, db_->SettingsText() + "datapath=data\n");
    // The demo agency's master file, made by the demo's own generator.
    ASSERT_EQ(RunProgram({"python3", QUILLMERE_SOURCE_DIR "/tools/demo/make_demo_agency.py",
                          dir_.File("gen")})
                  .exit_code,
              0);
    std::filesystem::create_directory(dir_.path() / "data");
    const ProcessResult init = RecFile({"init"});
    ASSERT_EQ(init.exit_code, 0) << init.output;
    const ProcessResult load = RecFile({"load", "ap", dir_.File("gen/ap.txt")});
    ASSERT_EQ(load.exit_code, 0) << load.output;
    for (const std::string& line : ReadLines(dir_.File("gen/ap.txt"))) masters_.push_back(line);
  }

  ProcessResult RecFile(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUILLMERE_BINARY_DIR "/quillmere-recfile", "--settings",
                                     settings_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
  }
  ProcessResult Cli(const std::string& command, const std::string& csv) {
    return RunProgram({QUILLMERE_BINARY_DIR "/quillmere-cli", command, "--settings", settings_,
                       "--agency", "01", "--date", "12/31/2024", "--je", "100000", "--inv",
                       "500000", "--csv", csv, "--log-dir", dir_.path().string()});
  }

  // The code of the first master record of `kind` ("001000" clients ...) with ApType `type`.
  std::string FirstCode(const std::string& kind, char type = ' ') const {
    for (const std::string& rec : masters_) {
      if (rec.compare(0, 6, kind) == 0 && rec[50] == type) {
        std::string code = rec.substr(8, 6);
        return code.substr(code.find_first_not_of(' '));
      }
    }
    return "";
  }

  std::string RunLogPath(const ProcessResult& result) const {
    const size_t at = result.output.find("Run log: ");
    if (at == std::string::npos) return "";
    return result.output.substr(at + 9, result.output.find('\n', at) - at - 9);
  }

  TempDir dir_;
  std::unique_ptr<TestDatabase> db_;
  std::string settings_;
  std::vector<std::string> masters_;
};

TEST_F(TemplateRoundTrip, ImportPostsExactlyTheFilledRows) {
  const std::string template_csv = dir_.File("template.csv");
  const ProcessResult exported = Cli("export", template_csv);
  ASSERT_EQ(exported.exit_code, 0) << exported.output;

  std::vector<std::string> lines = ReadLines(template_csv);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], R"("GL","Name","SubType","Normal","Dept","Value")");
  std::map<std::string, size_t> line_of_gl;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = QuotedFields(lines[i]);
    ASSERT_EQ(f.size(), 6u) << lines[i];
    EXPECT_EQ(f[5], "0.0") << lines[i];
    line_of_gl[f[0]] = i;
  }
  EXPECT_EQ(line_of_gl.size(), 129u);  // every GL account of the demo chart

  const std::string client = FirstCode("001000");
  const std::string company = FirstCode("003000", 'C');
  const std::string producer = FirstCode("002000");
  ASSERT_FALSE(client.empty() || company.empty() || producer.empty());

  // What the operator types into the spreadsheet: a department and an amount, and on the
  // control accounts a real code over the kind name. Ordinary rows keep the kind "None".
  const struct {
    std::string gl, want_kind, code, dept, amount;
  } kFilled[] = {
      {"1000", "None", "", "GA", "500.00"},
      {"1120", "Clients", client, "PL", "2500.00"},
      {"1130", "Company/Vendor", company, "CL", "800.00"},
      {"1300", "None", "", "GA", "12000.00"},
      {"2010", "None", "", "GA", "-3150.25"},
      {"2110", "Company/Vendor", company, "PL", "-4200.50"},
      {"2120", "Producer", producer, "CL", "-750.00"},
      {"3000", "None", "", "GA", "-1000.00"},
      {"3100", "None", "", "GA", "-6699.25"},
  };
  for (const auto& row : kFilled) {
    ASSERT_TRUE(line_of_gl.count(row.gl)) << row.gl;
    std::vector<std::string> f = QuotedFields(lines[line_of_gl[row.gl]]);
    EXPECT_EQ(f[2], row.want_kind) << row.gl;
    if (!row.code.empty()) f[2] = row.code;
    f[4] = row.dept;
    f[5] = row.amount;
    lines[line_of_gl[row.gl]] = TemplateLine(f);
  }
  std::string filled;
  for (const std::string& line : lines) filled += line + "\r\n";
  const std::string filled_csv = dir_.File("filled.csv");
  WriteFile(filled_csv, filled);

  const ProcessResult checked = Cli("check", filled_csv);
  EXPECT_EQ(checked.exit_code, 0) << checked.output;
  EXPECT_THAT(checked.output, HasSubstr("Rows read: 129\n"));

  const ProcessResult imported = Cli("import", filled_csv);
  ASSERT_EQ(imported.exit_code, 0) << imported.output;
  EXPECT_THAT(imported.output, HasSubstr("Rows posted: 9\nZero rows skipped: 120\n"));

  // The run log has one row line per filled row, in file order; the other rows are logged as
  // skipped zero rows.
  std::vector<std::string> row_lines, want_row_lines;
  int skipped_lines = 0;
  for (const std::string& line : ReadLines(RunLogPath(imported))) {
    if (line.rfind("# GL [", 0) != 0) continue;
    if (line.ends_with("Amt [ZERO-SKIPPED]")) {
      ++skipped_lines;
    } else {
      row_lines.push_back(line);
    }
  }
  EXPECT_EQ(skipped_lines, 120);
  for (const auto& row : kFilled) {
    char amount[32];
    std::snprintf(amount, sizeof amount, "%10.2f", std::stod(row.amount));
    want_row_lines.push_back("# GL [" + row.gl + "] SGL [" + LeftPad(row.code, 6) +
                             "] date [12/31/2024] Dpt [" + row.dept + "] Amt [" + amount + "]");
  }
  EXPECT_EQ(row_lines, want_row_lines);

  // Every journal-entry line carries one filled row: its GL, its code ("None" stored as no
  // code), its department and amount. The four control rows made one invoice and policy each.
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings_.c_str(), ""), 0);
  std::multiset<std::tuple<std::string, std::string, std::string, std::string>> je_lines, want;
  for (const std::string& rec : DumpRecords("jcki")) {
    if (rec[2] == 'J' && rec[16] == '6') {
      je_lines.insert(
          {rec.substr(17, 4), rec.substr(24, 6), rec.substr(45, 2), rec.substr(53, 10)});
    }
  }
  for (const auto& row : kFilled) {
    want.insert({row.gl, LeftPad(row.code, 6), row.dept, EncodeBCD(std::stod(row.amount))});
  }
  EXPECT_EQ(je_lines, want);
  EXPECT_EQ(DumpRecords("pol").size(), 4u);
  EXPECT_EQ(db_->Rows("SELECT COUNT(*) FROM Policy WHERE AgyCode = '01'"),
            std::vector<std::string>{"4"});
}

// The command line runs on the settings it could read and says which lines it could not.
TEST_F(TemplateRoundTrip, SettingsLineThatIsNotASettingIsReportedAndTheRestIsUsed) {
  WriteFile(settings_, ReadFile(settings_) + "mdbbase: elsewhere\n");
  const ProcessResult exported = Cli("export", dir_.File("template.csv"));
  EXPECT_EQ(exported.exit_code, 0) << exported.output;
  const int line = static_cast<int>(ReadLines(settings_).size());
  EXPECT_THAT(exported.output,
              HasSubstr("quillmere-cli: " + settings_ + " line " + std::to_string(line) +
                        " is not a setting and was ignored: mdbbase: elsewhere\n"));
}

}  // namespace
}  // namespace quillmere::testing
