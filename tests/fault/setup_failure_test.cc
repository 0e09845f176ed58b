// quillmere-cli refuses what cannot work before anything is written: a store that is missing,
// damaged or locked, record files an operation needs that do not open, and settings that cannot
// reach the right server. Each case runs the built program against the real store and MariaDB
// and checks the exit code, the one message and what the stores hold afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fault/fault_support.h"
#include "recfiles/record_store.h"
#include "support/process.h"
#include "support/test_database.h"

namespace quillmere::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

// How often `part` occurs in `text`.
int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A SQLite connection of another program to a store, holding it as that program chooses.
class OtherProgram {
 public:
  explicit OtherProgram(const fs::path& store) {
    EXPECT_EQ(sqlite3_open(store.string().c_str(), &db_), SQLITE_OK);
  }
  ~OtherProgram() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }

 private:
  sqlite3* db_ = nullptr;
};

// One run of the program on a copy of the agency, set up by the case.
struct Site {
  fs::path dir;          // the copy's folder, also the settings file's
  std::string settings;  // its VELFILES.ini
  std::string db_keys;   // the [VelfilesNdx] section with the keys that reach the test database
  fs::path store() const { return dir / kRecordStoreFileName; }
  // The settings with `lines` first in the section: the first of a repeated key counts.
  std::string SettingsWithFirst(const std::string& lines) const {
    return "[VelfilesNdx]\n" + lines + db_keys.substr(db_keys.find('\n') + 1) + "datapath=.\n";
  }
};

TEST(SetupFailure, ProgramRefusesWhatCannotWorkAndWritesNothing) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  TestDatabase db;
  TempDir agency;  // the agency every case copies
  (void)MakeFaultAgency(agency.path(), 2, "");
  CloseRecordStore();
  const PlannedImport plan = PlanImport(2);
  WriteFile(agency.File("balances.csv"), plan.csv);
  const std::string kNoStore =
      "no recfiles.sqlite there (quillmere-recfile init creates the store)";
  const auto no_such = [](std::string_view what, std::string_view name) {
    return "Unable to open " + std::string(what) + " file " + std::string(name) +
           " (the store has no file of that name), status is 12";
  };
  const auto drop = [](const Site& site, std::vector<std::string> names) {
    OtherProgram other(site.store());
    for (const std::string& name : names) {
      other.Exec("DROP TABLE \"" + name + "\"; DELETE FROM recfile_catalogue WHERE name = '" +
                 name + "'");
    }
  };
  std::unique_ptr<OtherProgram> holder;  // the locking program of the locked case
  std::function<void()> locker;          // takes the lock, once the case is set up

  const struct {
    const char* what;
    const char* command;
    std::function<void(Site&)> prepare;
    std::string want;   // the message; "$DIR" and "$INI" stand for the site's folder and settings
    bool want_run_log;  // the operation started (its run log holds the message too)
  } kCases[] = {
      {"a folder without a store", "import",
       [&](Site& s) {
         fs::create_directory(s.dir / "data");
         WriteFile(s.settings, s.db_keys + "datapath=data\n");
       },
       "Unable to open the record files in $DIR/data (datapath in $INI): " + kNoStore +
           ", status is 12",
       false},
      {"no datapath and no store beside the settings", "export",
       [&](Site& s) {
         fs::remove(s.store());
         WriteFile(s.settings, s.db_keys);
       },
       "Unable to open the record files in $DIR (the folder of $INI, which sets no datapath): " +
           kNoStore + ", status is 12",
       false},
      {"a datapath folder that is not there", "check",
       [&](Site& s) { WriteFile(s.settings, s.db_keys + "datapath=gone\n"); },
       "Unable to open the record files in $DIR/gone (datapath in $INI): the folder does not "
       "exist, status is 12",
       false},
      {"a damaged store", "import",
       [&](Site& s) { WriteFile(s.store().string(), std::string(8192, '\x5a')); },
       "Unable to open the record files in $DIR (datapath in $INI): recfiles.sqlite: file is not "
       "a database, status is 2",
       false},
      {"a store truncated to 0 bytes", "import", [&](Site& s) { fs::resize_file(s.store(), 0); },
       "Unable to open the record files in $DIR (datapath in $INI): recfiles.sqlite is empty, "
       "status is 2",
       false},
      {"a store another program keeps to itself", "import",
       [&](Site& s) {
         // Taken last: closing any descriptor of the file in this process would end the lock.
         locker = [&holder, store = s.store()] {
           holder = std::make_unique<OtherProgram>(store);
           holder->Exec("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; CREATE TABLE x (a)");
         };
       },
       "Unable to open the record files in $DIR (datapath in $INI): recfiles.sqlite is locked by "
       "another program, status is 85",
       false},
      {"an import without jcki, desc and pol", "import",
       [&](Site& s) {
         drop(s, {"jcki", "desc", "pol"});
       },
       no_such("Jcki", "jcki") + "\n" + no_such("Desc", "desc") + "\n" + no_such("pol", "pol") +
           "\nNothing was done.",
       true},
      {"a check without pol", "check", [&](Site& s) { drop(s, {"pol"}); },
       no_such("pol", "pol") + "\nNothing was done.", true},
      {"an export without the master file", "export", [&](Site& s) { drop(s, {"ap"}); },
       no_such("ap", "ap") + "\nNothing was done.", true},
      {"a port that is not a port number", "import",
       [&](Site& s) { WriteFile(s.settings, s.SettingsWithFirst("mdbport=33O6\n")); },
       "mdbport in $INI is not a port number (1 to 65535): 33O6", false},
      {"a password that is not UTF-8", "import",
       [&](Site& s) { WriteFile(s.settings, s.SettingsWithFirst("mdbpass=Gr\xfc\xdf\n")); },
       "mdbpass in $INI is not UTF-8 text: the database server is sent the connection settings "
       "as UTF-8, so these bytes cannot reach it as they are. Save the settings file as UTF-8.",
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    TempDir run;
    Site site{run.path(), run.File("VELFILES.ini"), db.SettingsText()};
    fs::copy_file(agency.path() / kRecordStoreFileName, site.store());
    WriteFile(site.settings, site.db_keys + "datapath=.\n");
    c.prepare(site);
    const bool store_there = fs::is_regular_file(site.store());
    const std::string store_before = store_there ? ReadFile(site.store().string()) : "";
    if (locker) locker();
    locker = nullptr;

    TempDir logs;
    const std::string csv = logs.File("out.csv");
    std::vector<std::string> args = {
        CliPath(), c.command, "--settings", site.settings, "--agency",
        kAgency,   "--date",  "12/31/2024", "--log-dir",   logs.path().string()};
    if (std::string(c.command) == "export") {
      args.insert(args.end(), {"--csv", csv});
    } else {
      args.insert(args.end(), {"--csv", agency.File("balances.csv")});
    }
    ProcessOptions options;
    options.environment = {"QUILLMERE_RECFILE_BUSY_MS=300"};
    const ProcessResult result = RunProgram(args, options);
    holder.reset();

    std::string want = c.want;
    for (const auto& [mark, value] :
         {std::pair{"$DIR", run.path().string()}, std::pair{"$INI", site.settings}}) {
      for (size_t at; (at = want.find(mark)) != std::string::npos;) want.replace(at, 4, value);
    }
    EXPECT_EQ(result.exit_code, 2) << result.output;
    EXPECT_THAT(result.output, HasSubstr(want + "\n"));
    // Said once: seven lines of one status were what a broken store used to give.
    EXPECT_EQ(Count(result.output, "Unable to open"), Count(want, "Unable to open"))
        << result.output;
    const std::string log = RunLogIn(logs.path());
    EXPECT_EQ(!log.empty(), c.want_run_log) << log;
    if (!log.empty() && std::string(c.command) != "export") {
      EXPECT_THAT(result.output, HasSubstr("Run log: " + log + "\n"));
    }
    if (!log.empty()) {
      std::string log_lines = want + "\n";
      for (size_t at = 0; (at = log_lines.find('\n', at)) != std::string::npos; at += 2) {
        log_lines.replace(at, 1, "\r\n");
      }
      EXPECT_THAT(ReadFile(log), HasSubstr(log_lines));
    }

    // Nothing written: no output file, no Policy row, the store as it was (or still absent).
    EXPECT_FALSE(fs::exists(csv));
    EXPECT_EQ(db.Rows("SELECT COUNT(*) FROM Policy"), std::vector<std::string>{"0"});
    EXPECT_EQ(fs::is_regular_file(site.store()), store_there);
    if (store_there && !c.want_run_log) {  // refused before the store was opened
      EXPECT_TRUE(ReadFile(site.store().string()) == store_before) << "the store changed";
    }
    for (const char* folder : {"data", "gone"}) {
      EXPECT_FALSE(fs::exists(run.path() / folder / kRecordStoreFileName)) << folder;
    }
  }
}

}  // namespace
}  // namespace quillmere::testing
