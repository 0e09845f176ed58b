// quillmere-recfile, run as a program on a store in a temporary folder, and its line parser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "recfiles/record_lines.h"
#include "recfiles/record_store.h"
#include "support/process.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::ReadFile;
using ::quillmere::testing::TempDir;
using ::quillmere::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct ParseCase {
  std::string data;
  bool hex;
  std::vector<std::string> want;  // records, when it parses
  std::string_view error;         // the error, when it does not
};

TEST(ParseRecordLines, SplitsByLengthAndNamesTheBadLine) {
  using namespace std::string_literals;
  const ParseCase kCases[] = {
      {"", false, {}, ""},
      {"abc\ndef\r\n", false, {"abc", "def"}, ""},
      {"abc", false, {}, "line 1: no line end after the record"},
      {"a\rc\n\nxy\r\n", false, {"a\rc", "\nxy"}, ""},  // records may hold CR and LF
      {"\xff\x80\x00\n"s, false, {"\xff\x80\x00"s}, ""},
      {"abc\nab\n", false, {}, "line 2: 2 bytes, the record length is 3"},
      {"abcd\n", false, {}, "line 1: more than 3 bytes before the line end"},
      {"abc\n\n", false, {}, "line 2: 0 bytes, the record length is 3"},  // an empty line
      {"ab\nabc\n", false, {}, "line 1: 2 bytes, the record length is 3"},
      {"41ff00\r\n7a7A7a\n", true, {"A\xff\x00"s, "zzz"}, ""},
      {"41ff00", true, {"A\xff\x00"s}, ""},
      {"41ff00\n41ff\n", true, {}, "line 2: 4 hex digits, the record length is 6 (3 bytes)"},
      {"41ff00\n41fg00\n", true, {}, "line 2: not hex digits"},
      {"41ff00\n\n", true, {}, "line 2: 0 hex digits, the record length is 6 (3 bytes)"},
  };
  for (const ParseCase& c : kCases) {
    std::vector<std::string> records;
    std::string error;
    const bool ok = ParseRecordLines(c.data, 3, c.hex, &records, &error);
    EXPECT_EQ(ok, c.error.empty()) << c.data;
    EXPECT_EQ(error, c.error) << c.data;
    if (ok) {
      EXPECT_EQ(records, c.want) << c.data;
    }
  }
}

TEST(HexDecode, RefusesOddLengthsAndNonDigits) {
  EXPECT_EQ(HexDecode("00fFa0"), std::string("\x00\xff\xa0", 3));
  EXPECT_EQ(HexDecode("0"), std::nullopt);
  EXPECT_EQ(HexDecode("0x"), std::nullopt);
  EXPECT_EQ(HexEncode(std::string("\x00\xff\xa0", 3)), "00FFA0");
}

struct ToolRun {
  int exit_code = -1;
  std::string out, err;
};

class RecfileToolTest : public ::testing::Test {
 protected:
  // Runs quillmere-recfile with `args` split at spaces (the temporary paths have none), and
  // `env` ("NAME=value") added to its environment.
  ToolRun Tool(const std::string& args, const std::string& env = "") {
    std::vector<std::string> argv = {QUILLMERE_BINARY_DIR "/quillmere-recfile"};
    for (size_t start = 0, end; start < args.size(); start = end + 1) {
      end = std::min(args.find(' ', start), args.size());
      if (end > start) argv.push_back(args.substr(start, end - start));
    }
    testing::ProcessOptions options;
    if (!env.empty()) options.environment = {env};
    options.error_path = dir_.File("tool.err");
    const testing::ProcessResult result = testing::RunProgram(argv, options);
    return ToolRun{result.exit_code, result.output, ReadFile(options.error_path)};
  }
  std::string Dir() const { return "--dir " + dir_.path().string(); }
  void Init() { ASSERT_EQ(Tool(Dir() + " init").exit_code, 0); }
  // A 64-byte desc record with every byte value somewhere: key `n`, then bytes from `n`.
  static std::string Desc(int n) {
    std::string record = std::string("K").append(std::to_string(100 + n));  // GCC 12 -Wrestrict
    record.resize(11, '\0');
    for (int i = 11; i < 64; ++i) record += static_cast<char>((n * 53 + i) % 256);
    return record;
  }

  TempDir dir_;
};

TEST_F(RecfileToolTest, InitLoadDumpRoundTripsEveryByte) {
  Init();
  std::vector<std::string> records;
  std::string input;
  for (int n = 9; n >= 0; --n) {  // out of key order; CR LF line ends
    records.push_back(Desc(n));
    input += records.back() + "\r\n";
  }
  WriteFile(dir_.File("desc.bin"), input);
  ToolRun load = Tool(Dir() + " load desc " + dir_.File("desc.bin"));
  ASSERT_EQ(load.exit_code, 0) << load.err;
  std::sort(records.begin(), records.end());
  std::string want;
  for (const std::string& r : records) want += r + "\n";
  ToolRun dump = Tool(Dir() + " dump desc");
  ASSERT_EQ(dump.exit_code, 0) << dump.err;
  EXPECT_EQ(dump.out, want);

  // Hex out of one store and into another gives the same bytes.
  ToolRun hex = Tool(Dir() + " dump desc --hex");
  ASSERT_EQ(hex.exit_code, 0);
  TempDir other;
  WriteFile(other.File("desc.hex"), hex.out);
  ASSERT_EQ(Tool("--dir " + other.path().string() + " init").exit_code, 0);
  ASSERT_EQ(Tool("--dir " + other.path().string() + " load desc --hex " + other.File("desc.hex"))
                .exit_code,
            0);
  EXPECT_EQ(Tool("--dir " + other.path().string() + " dump desc").out, want);

  // --from starts at the first key at or above the given one.
  ToolRun from = Tool(Dir() + " dump desc --from K105");
  EXPECT_EQ(from.out, want.substr(5 * 65));
}

TEST_F(RecfileToolTest, CreateListAndCheck) {
  Init();
  ASSERT_EQ(Tool(Dir() + " create extra --reclen 5 --keylen 2").exit_code, 0);
  WriteFile(dir_.File("extra.txt"), "ab123\ncd456\nab789\n");  // ab twice: the last one stays
  ASSERT_EQ(Tool(Dir() + " load extra " + dir_.File("extra.txt")).exit_code, 0);
  EXPECT_EQ(Tool(Dir() + " dump extra").out, "ab789\ncd456\n");
  const ToolRun list = Tool("--settings " + dir_.File("site.ini") + " --host /site/zel.ini list");
  ASSERT_EQ(list.exit_code, 0) << list.err;  // site.ini is absent: its folder is the store's
  EXPECT_EQ(list.out, "data directory: " + dir_.path().string() +
                          "\nhost settings: /site/zel.ini\n"
                          "name\trecord_length\tkey_length\trecords\n"
                          "ap\t150\t16\t0\ndesc\t64\t11\t0\nextap\t138\t16\t0\nextra\t5\t2\t2\n"
                          "jcki\t99\t14\t0\npol\t120\t25\t0\ntrans.ndx\t64\t8\t0\n");
  EXPECT_EQ(Tool(Dir() + " check").out, "ok\n");

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() / kRecordStoreFileName).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE extra SET record = x'00'", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const ToolRun check = Tool(Dir() + " check");
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_THAT(check.err, HasSubstr("extra: 2 record(s) of the wrong length"));
}

TEST_F(RecfileToolTest, FailuresExitNonZeroWithAMessage) {
  const std::string empty_dir = dir_.File("empty");
  std::filesystem::create_directories(empty_dir);
  const std::string store = dir_.File("store");
  std::filesystem::create_directories(store);
  ASSERT_EQ(Tool("--dir " + store + " init").exit_code, 0);
  const std::string good = "K1" + std::string(62, 'x') + "\n";
  WriteFile(dir_.File("short.bin"), good + "K2 too short\n");
  WriteFile(dir_.File("bad.hex"), std::string(128, '0') + "\n" + std::string(127, '0') + "g\n");
  const std::string fifo = dir_.File("records.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string args;
    int want_exit;
    std::string want_message;
  } kCases[] = {
      {"--dir " + empty_dir + " list", 1, "no record-file store in " + empty_dir},
      {"--dir " + empty_dir + " dump desc", 1, "no record-file store"},
      {"--dir " + dir_.File("nowhere") + " init", 1, "no data directory"},
      {"--dir " + store + " load desc " + dir_.File("short.bin"), 1,
       "short.bin: line 2: 12 bytes, the record length is 64; nothing loaded"},
      {"--dir " + store + " load desc --hex " + dir_.File("bad.hex"), 1,
       "bad.hex: line 2: not hex digits; nothing loaded"},
      {"--dir " + store + " load nosuch " + dir_.File("short.bin"), 1, "no record file nosuch"},
      {"--dir " + store + " dump nosuch", 1, "no record file nosuch"},
      {"--dir " + store + " load desc " + dir_.File("absent.bin"), 1, "cannot read"},
      // Not a regular file: refused, never "loaded 0 record(s)", never blocked on a FIFO.
      {"--dir " + store + " load desc " + empty_dir, 1,
       "cannot read " + empty_dir + ": it is a folder, not a file; nothing loaded"},
      {"--dir " + store + " load desc " + fifo, 1,
       "cannot read " + fifo + ": it is not a regular file; nothing loaded"},
      {"--dir " + store + " load desc /dev/zero", 1,
       "cannot read /dev/zero: it is not a regular file; nothing loaded"},
      {"--dir " + store + " create desc --reclen 64 --keylen 11", 1, "desc exists already"},
      {"--dir " + store + " create x --reclen 4 --keylen 5", 1, "do not fit"},
      {"--dir " + store + " create x --reclen 4", 2, "create needs NAME --reclen N --keylen K"},
      {"list", 2, "give either --dir or --settings"},
      {"--dir " + store + " frobnicate", 2, "unknown command frobnicate"},
  };
  for (const auto& c : kCases) {
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.exit_code, c.want_exit) << c.args;
    EXPECT_THAT(run.err, HasSubstr(c.want_message)) << c.args;
  }
  EXPECT_THAT(Tool("--dir " + store + " dump desc").out, IsEmpty());  // nothing half-loaded
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(empty_dir) / kRecordStoreFileName));
}

TEST_F(RecfileToolTest, LoadIntoALockedStoreLoadsNothing) {
  Init();
  WriteFile(dir_.File("desc.bin"), Desc(1) + "\n" + Desc(2) + "\n");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() / kRecordStoreFileName).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const ToolRun load =
      Tool(Dir() + " load desc " + dir_.File("desc.bin"), "QUILLMERE_RECFILE_BUSY_MS=100");
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(load.exit_code, 1);
  EXPECT_THAT(load.err, HasSubstr("status is 85 (the store is locked by another process)"));
  EXPECT_THAT(Tool(Dir() + " dump desc").out, IsEmpty());
}

// Runs SQL on the store file directly, as a damaged or hand-edited store would be.
void Sql(const std::filesystem::path& store, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

TEST_F(RecfileToolTest, CheckFailsOnAStoreWithoutItsCatalogueOrFilesAndNamesWhatIsWrong) {
  const struct {
    std::string name;
    std::string sql;  // run on an initialised store
    std::vector<std::string> want;
  } kCases[] = {
      {"pol dropped",
       "DROP TABLE pol; DELETE FROM recfile_catalogue WHERE name = 'pol'",
       {"pol: missing (a standard record file; quillmere-recfile init creates it)"}},
      {"two files dropped",
       "DROP TABLE jcki; DROP TABLE ap; DELETE FROM recfile_catalogue WHERE name IN ('jcki', 'ap')",
       {"ap: missing", "jcki: missing"}},
      {"table gone, catalogue kept",
       "DROP TABLE desc",
       {"desc: catalogued but its table is missing"}},
      {"wrong lengths",
       "UPDATE recfile_catalogue SET record_length = 100 WHERE name = 'jcki'",
       {"jcki: record length 100 and key length 14, the host's file has 99 and 14"}},
      // A store that does not open at all is named with its cause.
      {"no catalogue",
       "DROP TABLE recfile_catalogue",
       {"cannot open the store in", "recfiles.sqlite holds no record-file catalogue, status is 2"}},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    const std::string args = "--dir " + dir.path().string();
    ASSERT_EQ(Tool(args + " init").exit_code, 0);
    Sql(dir.path() / kRecordStoreFileName, c.sql);
    const ToolRun check = Tool(args + " check");
    EXPECT_EQ(check.exit_code, 1) << c.name;
    for (const std::string& want : c.want) EXPECT_THAT(check.err, HasSubstr(want)) << c.name;
  }
}

// The run journal's tables sit beside the record files; the tool lists and checks the record
// files only, and a store of a newer format is left alone by every verb.
TEST_F(RecfileToolTest, JournalTablesAreNoRecordFilesAndANewerStoreIsLeftAlone) {
  Init();
  const std::filesystem::path store = dir_.path() / kRecordStoreFileName;
  Sql(store,
      "CREATE TABLE journal_runs (id INTEGER PRIMARY KEY); INSERT INTO journal_runs VALUES (1);"
      "PRAGMA user_version = 2");
  const ToolRun list = Tool(Dir() + " list");
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_THAT(list.out,
              ::testing::EndsWith("name\trecord_length\tkey_length\trecords\n"
                                  "ap\t150\t16\t0\ndesc\t64\t11\t0\nextap\t138\t16\t0\n"
                                  "jcki\t99\t14\t0\npol\t120\t25\t0\ntrans.ndx\t64\t8\t0\n"));
  const ToolRun check = Tool(Dir() + " check");
  EXPECT_EQ(check.exit_code, 0) << check.err;
  EXPECT_EQ(check.out, "ok\n");

  Sql(store, "PRAGMA user_version = 3");
  const std::string before = ReadFile(store.string());
  for (const std::string verb : {"check", "list", "init", "create extra --reclen 5 --keylen 2"}) {
    const ToolRun run = Tool(Dir() + " " + verb);
    EXPECT_EQ(run.exit_code, 1) << verb;
    EXPECT_THAT(run.err, HasSubstr("recfiles.sqlite has store format 3; this program reads "
                                   "format 2 at most: use a newer Quillmere"))
        << verb;
    EXPECT_TRUE(ReadFile(store.string()) == before) << verb;
  }
}

TEST_F(RecfileToolTest, DamagedStoreIsNamedWithItsCauseAndLeftAsItIs) {
  const std::vector<std::string> kEveryVerb = {"check", "list",
                                               "create extra --reclen 5 --keylen 2", "init"};
  const struct {
    std::string name, content, want;
    size_t verbs;  // how many of kEveryVerb refuse it: init may make a store of an empty file
  } kCases[] = {
      {"truncated to 0 bytes", "", "recfiles.sqlite is empty", 3},
      {"not a database", std::string(4096, 'x'), "file is not a database", 4},
  };
  for (const auto& c : kCases) {
    for (size_t v = 0; v < c.verbs; ++v) {
      TempDir dir;
      const std::filesystem::path store = dir.path() / kRecordStoreFileName;
      WriteFile(store.string(), c.content);
      const ToolRun run = Tool("--dir " + dir.path().string() + " " + kEveryVerb[v]);
      EXPECT_EQ(run.exit_code, 1) << c.name << ": " << kEveryVerb[v];
      EXPECT_THAT(run.err, HasSubstr(c.want)) << c.name << ": " << kEveryVerb[v];
      EXPECT_TRUE(ReadFile(store.string()) == c.content) << c.name << ": " << kEveryVerb[v];
    }
  }
  TempDir empty;  // only init makes a store
  const ToolRun create = Tool("--dir " + empty.path().string() + " create x --reclen 4 --keylen 2");
  EXPECT_EQ(create.exit_code, 1);
  EXPECT_THAT(create.err, HasSubstr("quillmere-recfile init creates one"));
  EXPECT_FALSE(std::filesystem::exists(empty.path() / kRecordStoreFileName));
}

}  // namespace
}  // namespace quillmere
