#include "import/csv_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recfiles/encodings.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Fields(std::string line, int count) {
  std::vector<std::string> fields;
  for (int i = 0; i < count; ++i) fields.push_back(GetNextField(&line));
  return fields;
}

TEST(GetNextField, TakesFieldsOffTheFrontOfTheLine) {
  const struct {
    std::string line;
    std::vector<std::string> want;
  } kCases[] = {
      {"", {"", "", ""}},
      {"a,b,c", {"a", "b", "c"}},
      {"\"Smith, John\",x", {"Smith, John", "x", "x"}},  // a quoted comma stays
      {"\"  1120 \",x", {"1120", "x", "x"}},             // quoted: trimmed
      {"  1120 ,x", {"  1120 ", "x", "x"}},              // unquoted: kept as is
      {"\"a\"\"b\",x", {"a", "b", "x"}},                 // a doubled quote ends the field
      {"\"abc", {"", "bc", "bc"}},                       // no closing quote: empty field
      {"1500", {"1500", "1500", "1500"}},                // the last field repeats
      {"a\"b,c", {"ab", "c", "c"}},                      // stray quotes leave unquoted fields
      {"\"a\"x\"b\",c", {"a", "b", "c"}},                // any character after the quote goes
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Fields(c.line, static_cast<int>(c.want.size())), c.want) << c.line;
  }
}

TEST(ReadRow, ReadsTheSixColumns) {
  const struct {
    std::string line;
    std::string gl, sgl, dpt, amount_text;
  } kCases[] = {
      {"4000,Cash,NONE,Debit,ga,1234.5", "4000", "", "GA", "1234.5"},
      {"1120,Clients,none,Debit,GA,1", "1120", "", "GA", "1"},        // NONE in any case
      {"1120,Clients,NoNe ,Debit,GA,1", "1120", "NoNe ", "GA", "1"},  // not NONE with a blank
      {"4000,Cash,NONE,Debit,gä,1", "4000", "", "Gä", "1"},           // only a-z upper-cased
      {"4000,Cash,NONE,Debit,GA", "4000", "", "GA", "GA"},            // fewer than six fields
      {"1500", "1500", "1500", "1500", "1500"},
      {"", "", "", "", "0"},  // an empty line: zero
      {"4000,Cash,,,GA,\"$1,234.50\"", "4000", "", "GA", "1234.50"},
      {"4000,Cash,,,GA,$1,234.50", "4000", "", "GA", "1"},  // cut at the comma
      {"4000,Cash,,,GA,'500", "4000", "", "GA", "500"},
      {"4000,Cash,,,GA,(500)", "4000", "", "GA", "(500)"},
      {"\"4000\",\"Cash\",\"None\",\"Debit\",\"GA\",\"0.0\",", "4000", "", "GA", "0.0"},
  };
  for (const auto& c : kCases) {
    const CsvRow row = ReadRow(c.line);
    EXPECT_EQ(row.gl, c.gl) << c.line;
    EXPECT_EQ(row.sgl, c.sgl) << c.line;
    EXPECT_EQ(row.dpt, c.dpt) << c.line;
    EXPECT_EQ(row.amount_text, c.amount_text) << c.line;
  }
}

TEST(ReadRow, AmountConversionOfCleanedText) {
  const struct {
    std::string line;
    std::optional<double> want;
  } kCases[] = {
      {"4000,,,,GA,\"$1,234.50\"", 1234.5},
      {"4000,,,,GA,'500", 500.0},
      {"4000,,,,GA,(500)", std::nullopt},
      {"4000,,,,GA,0E5", 0.0},
      {"4000,,,,GA,-0", 0.0},
      {"4000,,,,GA,1e", std::nullopt},
      {"4000,Cash,NONE,Debit,GA", std::nullopt},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ParseAmount(ReadRow(c.line).amount_text), c.want) << c.line;
}

TEST(AmountSplitAtComma, SeesAnUnquotedAmountCutAtAThousandsComma) {
  const struct {
    std::string line;
    bool want;
  } kCases[] = {
      {"4000,Cash,,,GA,$1,234.50", true},
      {"4000,Cash,,,GA,1,234", true},
      {"4000,Cash,,,GA,12,345,678.00", true},
      {"4000,Cash,,,GA,\"$1,234.50\"", false},                           // quoted: whole
      {"4000,Cash,,,GA,1234.50,note", false},                            // a note after it
      {"\"4000\",\"Cash\",\"None\",\"Debit\",\"GA\",\"10.0\",", false},  // the template
      {"4000,Cash,,,GA,1234.50", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(AmountSplitAtComma(ReadRow(c.line)), c.want) << c.line;
}

TEST(CsvLineReader, SplitsLinesAtLfAndCrLfOnly) {
  testing::TempDir dir;
  const struct {
    std::string content;
    std::vector<std::string> want;
  } kCases[] = {
      {"", {}},
      {"h\r\n", {"h"}},
      {"h\r\na\nb", {"h", "a", "b"}},                // a last line without an end is a line
      {"h\na\r\n\r\nb\n", {"h", "a", "", "b"}},      // an empty line in between is a row
      {"h\na\rb\n", {"h", "a\rb"}},                  // a lone CR is data
      {"\xEF\xBB\xBFh\n1", {"\xEF\xBB\xBFh", "1"}},  // a BOM belongs to the header
  };
  for (const auto& c : kCases) {
    const std::string path = dir.File("f.csv");
    testing::WriteFile(path, c.content);
    CsvLineReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::vector<std::string> lines;
    for (std::string line; reader.NextLine(&line);) lines.push_back(line);
    EXPECT_EQ(lines, c.want) << c.content;
    EXPECT_EQ(reader.size(), c.content.size());
  }
}

TEST(CsvLineReader, HashTellsAChangedFile) {
  testing::TempDir dir;
  const std::string path = dir.File("f.csv");
  const auto hash_of = [&](const std::string& content) {
    testing::WriteFile(path, content);
    CsvLineReader reader;
    EXPECT_TRUE(reader.Open(path));
    reader.ReadToEnd();
    return reader.hash();
  };
  EXPECT_EQ(hash_of("h\n4000,,,,GA,10\n"), hash_of("h\n4000,,,,GA,10\n"));
  EXPECT_NE(hash_of("h\n4000,,,,GA,10\n"), hash_of("h\n4000,,,,GA,19\n"));
}

}  // namespace
}  // namespace quillmere
