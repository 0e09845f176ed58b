#include "import/csv_reader.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "import/csv_file.h"
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

TEST(AmountTextProblem, TellsAnAmountThatCannotBeReadAsWritten) {
  const struct {
    std::string amount;  // the sixth field and anything after it
    std::optional<std::string> want;
  } kCases[] = {
      {"1234.50", std::nullopt},
      {"1234", std::nullopt},
      {"0", std::nullopt},
      {"1234,56", "Amount split at a comma (1234,56)"},
      {"0,50", "Amount split at a comma (0,50)"},  // not a zero row
      {"$1,234.50", "Amount split at a comma ($1,234.50)"},
      {"12,345,678.00", "Amount split at a comma (12,345)"},
      {"-1,5", "Amount split at a comma (-1,5)"},
      {",5", "Amount split at a comma (,5)"},  // an empty amount before a number
      {"1500.00,123", std::nullopt},           // a point makes it whole: a reference after it
      {"1e3,123", std::nullopt},               // so does an exponent
      {"1234,note", std::nullopt},             // a note, not digits
      {"1234,", std::nullopt},
      {"1234,\"56\"", "Amount split at a comma (1234,56)"},
      {"\"$1,234.50\"", std::nullopt},
      {"\"-$12,345.67\"", std::nullopt},
      {"\"1,234,567\"", std::nullopt},
      {"\"123,456.7\",9", std::nullopt},  // quoted: a field after it is ignored
      {"\"1234,56\"", "Amount with a comma that is not a thousands separator (1234,56)"},
      {"\"1.234,50\"", "Amount with a comma that is not a thousands separator (1.234,50)"},
      {"\"1,234,5\"", "Amount with a comma that is not a thousands separator (1,234,5)"},
      {"\"12,34,567\"", "Amount with a comma that is not a thousands separator (12,34,567)"},
      {"\"1234,567\"", "Amount with a comma that is not a thousands separator (1234,567)"},
      {"\",123\"", "Amount with a comma that is not a thousands separator (,123)"},
      {"\"1,234.5,6\"", "Amount with a comma that is not a thousands separator (1,234.5,6)"},
      {"\"500.00", "Amount without its closing quote (\"500.00)"},
      {"\"500.00,note", "Amount without its closing quote (\"500.00,note)"},
      {"\"", "Amount without its closing quote (\")"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(AmountTextProblem(ReadRow("4000,Cash,NONE,Debit,GA," + c.amount)), c.want)
        << c.amount;
  }
}

// An open descriptor on `content`, read from its start.
UniqueFd FileWith(const testing::TempDir& dir, const std::string& content) {
  const std::string path = dir.File("f.csv");
  testing::WriteFile(path, content);
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

std::vector<std::string> AllLines(CsvLineReader* reader) {
  std::vector<std::string> lines;
  for (std::string line; reader->NextLine(&line);) lines.push_back(line);
  return lines;
}

// The bytes of descriptor `fd` from its start.
std::string ContentOf(int fd) {
  std::string content;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n) {
    content.append(buffer, static_cast<size_t>(n));
  }
  return content;
}

TEST(CsvLineReader, SplitsLinesAtLfAndCrLfOnlyAndCopiesEveryByte) {
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
      {"h\ra\rb", {"h\ra\rb"}},                      // CR line ends: one line
      {"\xEF\xBB\xBFh\n1", {"\xEF\xBB\xBFh", "1"}},  // a BOM belongs to the header
      {std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}},
  };
  // Chunks of one and two bytes put a CR LF across two reads.
  for (size_t chunk : {size_t{1}, size_t{2}, CsvLineReader::kChunkSize}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE("chunk " + std::to_string(chunk) + ": " + c.content);
      const UniqueFd in = FileWith(dir, c.content);
      std::string error;
      const UniqueFd copy = CreatePrivateCopy(dir.path().string(), &error);
      ASSERT_TRUE(copy) << error;
      CsvLineReader reader(in.get(), copy.get(), chunk);
      EXPECT_EQ(AllLines(&reader), c.want);
      EXPECT_EQ(reader.failure(), CsvLineReader::Failure::kNone);
      EXPECT_EQ(reader.size(), c.content.size());
      EXPECT_EQ(ContentOf(copy.get()), c.content);
    }
  }
}

// A 32 MB line read 256 bytes at a time: a reader that searched the line from its start after
// each read would search it 131072 times, each time up to what it has read so far.
TEST(CsvLineReader, ReadsALongLineInLinearTime) {
  testing::TempDir dir;
  const std::string long_line(32 << 20, 'x');
  const UniqueFd in = FileWith(dir, "h\n" + long_line + "\r\nlast");
  CsvLineReader reader(in.get(), -1, 256);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> lines = AllLines(&reader);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], long_line);
  EXPECT_EQ(lines[2], "last");
  EXPECT_LT(seconds.count(), 10.0);  // well under a second; searching again takes about a minute
}

TEST(CsvLineReader, FailedReadOrCopyEndsTheLinesAndSaysWhich) {
  testing::TempDir dir;
  const UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));  // every write: disk full
  ASSERT_TRUE(folder);
  ASSERT_TRUE(full);
  {
    CsvLineReader reader(folder.get());
    EXPECT_THAT(AllLines(&reader), ElementsAre());
    EXPECT_EQ(reader.failure(), CsvLineReader::Failure::kRead);
    EXPECT_EQ(reader.failure_errno(), EISDIR);
  }
  {
    // The first chunk holds two lines and the start of a third; its copy fails: no line is
    // given, as none of them is in the copy.
    const UniqueFd in = FileWith(dir, "h\na\nb");
    CsvLineReader reader(in.get(), full.get());
    EXPECT_THAT(AllLines(&reader), ElementsAre());
    EXPECT_EQ(reader.failure(), CsvLineReader::Failure::kCopyWrite);
    EXPECT_EQ(reader.failure_errno(), ENOSPC);
  }
}

TEST(OpenCsvFile, RefusesWhatIsNotARegularFile) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("b.csv"), "h\n4000,,,,GA,1\n");
  const struct {
    std::string path;
    bool opens;
    std::string reason;
  } kCases[] = {
      {dir.File("b.csv"), true, ""},
      {dir.File("nosuch.csv"), false, ""},  // the caller says "not found"
      {dir.path().string(), false, "it is a folder, not a file"},
      {"/dev/null", false, "it is a device, not a file"},
      {"/dev/zero", false, "it is a device, not a file"},
      {dir.File("b.csv") + "/x", false, "Not a directory"},
  };
  for (const auto& c : kCases) {
    uint64_t size = 0;
    std::string reason = "left over";
    const UniqueFd fd = OpenCsvFile(c.path, &size, &reason);
    EXPECT_EQ(static_cast<bool>(fd), c.opens) << c.path;
    EXPECT_EQ(reason, c.reason) << c.path;
    if (fd) {
      EXPECT_EQ(size, 15u);
      EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0) << "reads block again";
      EXPECT_NE(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);
    }
  }
}

TEST(CreatePrivateCopy, IsOwnerOnlyAndHasNoName) {
  testing::TempDir dir;
  std::string error;
  const UniqueFd copy = CreatePrivateCopy(dir.path().string(), &error);
  ASSERT_TRUE(copy) << error;
  struct stat st {};
  ASSERT_EQ(::fstat(copy.get(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_nlink, 0u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_EQ(::write(copy.get(), "abc", 3), 3);
  EXPECT_EQ(ContentOf(copy.get()), "abc");

  const UniqueFd none = CreatePrivateCopy(dir.File("nosuch"), &error);
  EXPECT_FALSE(none);
  EXPECT_EQ(error, "No such file or directory");
}

}  // namespace
}  // namespace quillmere
