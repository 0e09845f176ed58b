// The site configuration below the window against the private MariaDB: which settings reach
// "utility.ini" and the connection, and what a failure leaves behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "db/connection.h"
#include "db/qt_text.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"
#include "support/private_server.h"
#include "support/server_connection.h"
#include "support/test_database.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::ReadFile;
using ::quillmere::testing::TempDir;
using ::quillmere::testing::TestDatabase;
using ::quillmere::testing::WriteFile;
using ::testing::HasSubstr;

const QString kConnection = QStringLiteral("site-test");

class SiteConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    db_.emplace();
    db_->ForgetAtEnd(kConnection);
    paths_.settings_path = program_.File("VELFILES.ini");
    paths_.host_settings_path = program_.File("zel.ini");
    paths_.work_dir = work_.path().string();
  }

  bool Configure() { return ConfigureSite(paths_, kConnection, &config_, &error_); }
  std::string UtilityIni() const { return ReadFile(work_.File("utility.ini")); }
  QSqlDatabase Connection() const { return QSqlDatabase::database(kConnection, false); }

  std::optional<TestDatabase> db_;  // destroyed last: it removes the connections
  TempDir program_, work_;
  SitePaths paths_;
  SiteConfiguration config_;
  std::string error_;
};

TEST_F(SiteConfigurationTest, SettingsFileThatDoesNotReadConfiguresNothing) {
  std::filesystem::create_directory(program_.path() / "VELFILES.ini");  // a folder of that name
  EXPECT_FALSE(Configure());
  EXPECT_EQ(error_, "The settings file " + program_.File("VELFILES.ini") +
                        " cannot be read: it is a folder, not a file");
  EXPECT_FALSE(std::filesystem::exists(work_.File("utility.ini")));
  EXPECT_FALSE(QSqlDatabase::contains(kConnection));
}

TEST_F(SiteConfigurationTest, NoSettingsFileGivesEveryDefault) {
  EXPECT_FALSE(Configure());  // nothing listens at the default host
  EXPECT_EQ(UtilityIni(),
            "DriverID=MySQL\r\nserver=localhost\r\nUser_Name=root\r\nPassword=rezoreza\r\n"
            "database=Pellam\r\n");
  EXPECT_FALSE(error_.empty());
  const QSqlDatabase conn = Connection();
  EXPECT_EQ(conn.hostName(), QStringLiteral("localhost"));
  EXPECT_EQ(conn.port(), 3306);
  EXPECT_EQ(conn.userName(), QStringLiteral("root"));
  EXPECT_EQ(conn.password(), QStringLiteral("rezoreza"));
  EXPECT_EQ(conn.databaseName(), QStringLiteral("Pellam"));
}

TEST_F(SiteConfigurationTest, OnlyDatabaseNameKeepsTheOtherDefaults) {
  WriteFile(program_.File("VELFILES.ini"), "[VelfilesNdx]\r\nmdbbase=" + db_->name() + "\r\n");
  Configure();
  EXPECT_EQ(UtilityIni(),
            "DriverID=MySQL\r\nserver=localhost\r\nUser_Name=root\r\nPassword=rezoreza\r\n"
            "database=" +
                db_->name() + "\r\n");
  EXPECT_EQ(Connection().databaseName(), FromRecordText(db_->name()));
  EXPECT_EQ(Connection().hostName(), QStringLiteral("localhost"));
}

TEST_F(SiteConfigurationTest, UpperCaseKeyNamesReachTheServer) {
  WriteFile(program_.File("VELFILES.ini"),
            "[VELFILESNDX]\r\nMDBSERV=" + TestDatabase::Host() + "\r\nMDBPORT=" +
                std::to_string(TestDatabase::Port()) + "\r\nMDBUSER=" + TestDatabase::User() +
                "\r\nMDBPASS=" + TestDatabase::Password() + "\r\nMDBBASE=" + db_->name() + "\r\n");
  ASSERT_TRUE(Configure()) << error_;
  EXPECT_EQ(UtilityIni(), "DriverID=MySQL\r\nserver=" + TestDatabase::Host() + "\r\nUser_Name=" +
                              TestDatabase::User() + "\r\nPassword=" + TestDatabase::Password() +
                              "\r\ndatabase=" + db_->name() + "\r\n");
  EXPECT_TRUE(Connection().isOpen());
  EXPECT_EQ(Connection().databaseName(), FromRecordText(db_->name()));
}

TEST_F(SiteConfigurationTest, UtilityIniIsReadableByTheOwnerOnly) {
  WriteFile(work_.File("utility.ini"), "old text, longer than the new one will be ...........");
  ::chmod(work_.File("utility.ini").c_str(), 0644);
  WriteFile(program_.File("VELFILES.ini"), db_->SettingsText());
  ASSERT_TRUE(Configure()) << error_;
  struct stat st {};
  ASSERT_EQ(::stat(work_.File("utility.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_THAT(UtilityIni(), ::testing::StartsWith("DriverID=MySQL\r\n"));
}

TEST_F(SiteConfigurationTest, TheSettingsFileGivenIsTheOneRead) {
  WriteFile(program_.File("VELFILES.ini"), "[VelfilesNdx]\nmdbbase=wrong\n");
  WriteFile(program_.File("site2.ini"), db_->SettingsText());
  paths_.settings_path = program_.File("site2.ini");
  ASSERT_TRUE(Configure()) << error_;
  EXPECT_EQ(config_.settings_path, program_.File("site2.ini"));
  EXPECT_EQ(config_.host_settings_path, program_.File("zel.ini"));
  EXPECT_EQ(Connection().databaseName(), FromRecordText(db_->name()));
}

TEST_F(SiteConfigurationTest, StoppedServerGivesTheDriversError) {
  // Port 9 (discard): no server listens there.
  WriteFile(program_.File("VELFILES.ini"),
            "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\nmdbbase=" + db_->name() + "\n");
  EXPECT_FALSE(Configure());
  EXPECT_THAT(error_, HasSubstr("Can't connect"));
  EXPECT_FALSE(Connection().isOpen());
}

TEST_F(SiteConfigurationTest, UnwritableUtilityIniStopsBeforeTheConnection) {
  WriteFile(program_.File("VELFILES.ini"), db_->SettingsText());
  paths_.work_dir = work_.File("no-such-folder");
  EXPECT_FALSE(Configure());
  EXPECT_THAT(error_, HasSubstr("utility.ini"));
  EXPECT_FALSE(QSqlDatabase::contains(kConnection));
}

TEST_F(SiteConfigurationTest, RecordFileLibraryUsesTheSettingsFile) {
  // The store lives where the settings file's datapath says; a file created there is found.
  WriteFile(program_.File("VELFILES.ini"), db_->SettingsText() + "datapath=store\n");
  std::filesystem::create_directory(program_.path() / "store");
  ASSERT_EQ(OpenRecordStore((program_.path() / "store").string(), "", /*create=*/true), 0);
  ASSERT_EQ(btrCreateFile("jcki", 99, 21), 0);
  CloseRecordStore();
  ASSERT_TRUE(Configure()) << error_;
  EXPECT_EQ(config_.store_status, 0);
  EXPECT_EQ(config_.store_message, "");
  EXPECT_EQ(btrDataDirectory(), (program_.path() / "store").string());
  EXPECT_EQ(btrOpen(CBtrvOapi(), "", "jcki", 1, 1, 0), 0);
}

// The folder searched, where it came from, and why its store did not open; nothing is created.
TEST_F(SiteConfigurationTest, StoreThatDoesNotOpenIsNamedWithItsFolderAndCause) {
  const std::string settings = program_.File("VELFILES.ini");
  const std::string store_dir = program_.File("store");
  std::filesystem::create_directory(store_dir);
  const struct {
    std::string datapath_line;
    std::string want;
  } kCases[] = {
      {"datapath=store\n",
       "Unable to open the record files in " + store_dir + " (datapath in " + settings +
           "): no recfiles.sqlite there (quillmere-recfile init creates the store), status is 12"},
      {"", "Unable to open the record files in " + program_.path().string() + " (the folder of " +
               settings +
               ", which sets no datapath): no recfiles.sqlite there (quillmere-recfile init "
               "creates the store), status is 12"},
      {"datapath=gone\n", "Unable to open the record files in " + program_.File("gone") +
                              " (datapath in " + settings +
                              "): the folder does not exist, status is 12"},
  };
  for (const auto& c : kCases) {
    WriteFile(settings, db_->SettingsText() + c.datapath_line);
    EXPECT_TRUE(Configure()) << error_;  // the connection is the program's to refuse with it
    EXPECT_EQ(config_.store_status, kStatusFileNotFound) << c.datapath_line;
    EXPECT_EQ(config_.store_message, c.want);
  }
  EXPECT_FALSE(std::filesystem::exists(program_.path() / "recfiles.sqlite"));
  EXPECT_FALSE(std::filesystem::exists(program_.path() / "store" / "recfiles.sqlite"));
  EXPECT_FALSE(std::filesystem::exists(program_.path() / "gone"));
}

TEST_F(SiteConfigurationTest, PortThatIsNotAPortNumberIsRefusedBeforeAnythingIsWritten) {
  for (const std::string port : {"abc", "0", "70000", "", "3306x"}) {
    WriteFile(program_.File("VELFILES.ini"), "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=" + port +
                                                 "\nmdbbase=" + db_->name() + "\n");
    EXPECT_FALSE(Configure()) << port;
    EXPECT_EQ(error_, "mdbport in " + program_.File("VELFILES.ini") +
                          " is not a port number (1 to 65535): " + port);
    EXPECT_FALSE(config_.connection_failed) << port;
    EXPECT_FALSE(std::filesystem::exists(work_.File("utility.ini"))) << port;
    EXPECT_FALSE(QSqlDatabase::contains(kConnection)) << port;
  }
}

// A user whose password holds letters beyond ASCII, created from the bytes themselves.
class EightBitUser {
 public:
  EightBitUser(TestDatabase& db, std::string_view password_bytes) : db_(db) {
    name_ = "qm8_" + std::to_string(::getpid());
    std::string hex;
    for (const unsigned char c : password_bytes) {
      static constexpr char kHex[] = "0123456789abcdef";
      hex += kHex[c >> 4];
      hex += kHex[c & 15];
    }
    const std::string hash = db_.Rows("SELECT PASSWORD(x'" + hex + "')").at(0);
    db_.Exec("CREATE USER '" + name_ + "'@'%' IDENTIFIED BY PASSWORD '" + hash + "'");
    db_.Exec("GRANT ALL ON `" + db_.name() + "`.* TO '" + name_ + "'@'%'");
  }
  ~EightBitUser() { db_.Exec("DROP USER '" + name_ + "'@'%'"); }
  const std::string& name() const { return name_; }

 private:
  TestDatabase& db_;
  std::string name_;
};

TEST_F(SiteConfigurationTest, PasswordReachesTheServerAsTheBytesOfTheFile) {
  const std::string kUtf8 = "P\xC3\xA4ssw\xC3\xB6rt \xE2\x82\xAC";  // "Pässwört €" in UTF-8
  EightBitUser user(*db_, kUtf8);
  const struct {
    std::string file_bytes;
    bool want_connected;
    std::string want_error;
  } kCases[] = {
      {kUtf8, true, ""},
      // The same letters in Latin-1: no QString makes the driver send these bytes.
      {"P\xE4ssw\xF6rt \x80", false,
       "mdbpass in " + program_.File("VELFILES.ini") +
           " is not UTF-8 text: the database server is sent the connection settings as UTF-8, "
           "so these bytes cannot reach it as they are. Save the settings file as UTF-8."},
      {"P\xC3\xA4ssw\xC3\xB6rt", false, "Access denied"},  // another password: the server says no
  };
  for (const auto& c : kCases) {
    std::filesystem::remove(work_.File("utility.ini"));
    WriteFile(program_.File("VELFILES.ini"),
              "[VelfilesNdx]\nmdbserv=" + TestDatabase::Host() +
                  "\nmdbport=" + std::to_string(TestDatabase::Port()) + "\nmdbuser=" + user.name() +
                  "\nmdbpass=" + c.file_bytes + "\nmdbbase=" + db_->name() + "\n");
    EXPECT_EQ(Configure(), c.want_connected) << c.file_bytes << ": " << error_;
    if (c.want_connected) {
      EXPECT_TRUE(Connection().isOpen());
      EXPECT_THAT(UtilityIni(), HasSubstr("\r\nPassword=" + kUtf8 + "\r\n"));
    } else {
      EXPECT_THAT(error_, HasSubstr(c.want_error));
    }
    // Refused before anything is written: no utility.ini with bytes that never reach the server.
    EXPECT_EQ(std::filesystem::exists(work_.File("utility.ini")),
              c.want_connected || c.want_error == "Access denied")
        << c.file_bytes;
    QSqlDatabase::removeDatabase(kConnection);
  }
}

TEST(FromExactUtf8, GivesBackExactlyTheBytesOrNothing) {
  const struct {
    std::string bytes;
    bool want;
  } kCases[] = {
      {"", true},
      {"rezoreza", true},
      {"P\xC3\xA4ss \xE2\x82\xAC \xF0\x9F\x94\x91", true},
      {"P\xE4ss", false},               // Latin-1
      {"\xC3", false},                  // cut in the middle of a letter
      {"\xC0\xAF", false},              // an overlong form of "/"
      {"\xED\xA0\x80", false},          // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", false},      // beyond U+10FFFF
      {std::string("a\0b", 3), false},  // the driver's C string would end at the NUL
  };
  for (const auto& c : kCases) {
    const std::optional<QString> text = FromExactUtf8(c.bytes);
    EXPECT_EQ(text.has_value(), c.want) << c.bytes;
    if (text) {
      EXPECT_EQ(text->toUtf8(), QByteArray(c.bytes.data(), static_cast<qsizetype>(c.bytes.size())));
    }
  }
}

TEST_F(SiteConfigurationTest, TimeOutThatIsNotANumberOfSecondsIsRefusedBeforeAnythingIsWritten) {
  for (const std::string value : {"abc", "1", "0", ""}) {
    WriteFile(program_.File("VELFILES.ini"), db_->SettingsText() + "mdbtimeout=" + value + "\n");
    EXPECT_FALSE(Configure()) << value;
    EXPECT_EQ(error_, "The setting mdbtimeout [" + value + "] in " + program_.File("VELFILES.ini") +
                          " is not a whole number of seconds from 2 to 86400");
    EXPECT_FALSE(std::filesystem::exists(work_.File("utility.ini"))) << value;
    EXPECT_FALSE(QSqlDatabase::contains(kConnection)) << value;
  }
}

// A statement that waits for a lock ends with the server's own error while the client still
// waits for its answer: the session's lock wait is half the read time-out.
TEST_F(SiteConfigurationTest, SessionLockWaitIsHalfTheTimeOut) {
  const struct {
    std::string line;
    std::string want_lock_wait;
  } kCases[] = {
      {"", "15"},
      {"mdbtimeout=2\n", "1"},
      {"mdbtimeout=9\n", "4"},
  };
  for (const auto& c : kCases) {
    WriteFile(program_.File("VELFILES.ini"), db_->SettingsText() + c.line);
    ASSERT_TRUE(Configure()) << error_;
    QSqlQuery query(Connection());
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT @@SESSION.innodb_lock_wait_timeout")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(ToRecordText(query.value(0).toString()), c.want_lock_wait) << c.line;
  }
}

// A server that stops answering (SIGSTOP: its connections stay open, nothing comes back) holds
// neither the connect nor a statement longer than the time-out.
TEST(SilentServerTest, ConnectAndStatementsGiveUpAfterTheTimeOut) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  testing::EnsureCoreApplication();
  testing::PrivateServer server;
  ASSERT_TRUE(server.started()) << server.start_output();
  const ConnectionParams params = testing::ParamsOf(server, 2);
  const QString connection = QStringLiteral("silent-server");
  using Clock = std::chrono::steady_clock;
  for (const bool connect_while_silent : {true, false}) {
    SCOPED_TRACE(connect_while_silent ? "connect" : "statement");
    std::string error;
    if (!connect_while_silent) {
      ASSERT_TRUE(OpenConnection(connection, params, &error)) << error;
    }
    ASSERT_TRUE(server.Pause());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // every server thread halted
    const Clock::time_point start = Clock::now();
    bool ok = false;
    if (connect_while_silent) {
      ok = OpenConnection(connection, params, &error);
    } else {
      QSqlQuery query(QSqlDatabase::database(connection, false));
      ok = query.exec(QStringLiteral("SELECT 1"));
      error = ToRecordText(query.lastError().text());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_TRUE(server.Resume());
    EXPECT_FALSE(ok);
    EXPECT_THAT(error, HasSubstr("Lost connection"));
    EXPECT_GE(seconds, 1.5);
    EXPECT_LT(seconds, 6.0);
  }
  QSqlDatabase::removeDatabase(connection);
}

TEST(ParamsFromLines, ReplacesTheWholeList) {
  const ConnectionParams p =
      ParamsFromLines("driverid=MySQL\r\nSERVER=db1\nUser_Name=u=v\r\nnoise\r\n", 3307);
  EXPECT_EQ(p.driver_id, "MySQL");
  EXPECT_EQ(p.server, "db1");
  EXPECT_EQ(p.user_name, "u=v");  // the value runs to the line end, "=" included
  EXPECT_EQ(p.password, "");      // absent lines leave nothing behind
  EXPECT_EQ(p.database, "");
  EXPECT_EQ(p.port, 3307);
}

}  // namespace
}  // namespace quillmere
