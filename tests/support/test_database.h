// A fresh MySQL database per test on the private server that `scripts/testdb start` runs,
// with tools/sql/schema.sql loaded, dropped again at the end. Header-only: only the tests that
// link the Qt side include it.
//
//   TEST_F(PolicyTableTest, ...) {            // SetUp: if (!TestDatabase::Available())
//     TestDatabase db;                         //          GTEST_SKIP() << TestDatabase::kSkip;
//     db.Exec("INSERT INTO Agency VALUES ('01', 'First')");
//     QSqlDatabase conn = db.Connect("policy");
#pragma once

#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/qt_text.h"

namespace quillmere::testing {

// Qt loads the SQL driver plugins only inside an application object; window tests create a
// QApplication before any database use, the others get this one.
inline void EnsureCoreApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char arg0[] = "quillmere-test";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: Qt SQL's registry of connections is gone by then, and the application's
  // clean-up would reach for it.
  new QCoreApplication(argc, argv);
}

class TestDatabase {
 public:
  static constexpr const char* kSkip =
      "no test database: run eval \"$(scripts/testdb start DIR)\" first";

  // True when QUILLMERE_TEST_DB_PORT is set (the tests skip otherwise).
  static bool Available() { return !Env("QUILLMERE_TEST_DB_PORT").empty(); }

  static std::string Host() {
    const std::string host = Env("QUILLMERE_TEST_DB_HOST");
    return host.empty() ? "127.0.0.1" : host;
  }
  static int Port() { return std::atoi(Env("QUILLMERE_TEST_DB_PORT").c_str()); }
  static std::string User() {
    const std::string user = Env("QUILLMERE_TEST_DB_USER");
    return user.empty() ? "root" : user;
  }
  static std::string Password() { return Env("QUILLMERE_TEST_DB_PASS"); }

  // Creates the database "qm_<pid>_<n>" and loads the schema into it. Throws on failure.
  TestDatabase() {
    EnsureCoreApplication();
    static std::atomic<int> counter{0};
    name_ = "qm_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    admin_name_ = QStringLiteral("test-admin-") + FromRecordText(name_);
    {
      QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), admin_name_);
      admin.setHostName(FromRecordText(Host()));
      admin.setPort(Port());
      admin.setUserName(FromRecordText(User()));
      admin.setPassword(FromRecordText(Password()));
      if (!admin.open()) Fail("connect", admin.lastError().text());
      Exec("CREATE DATABASE `" + name_ + "` CHARACTER SET latin1");
      Exec("USE `" + name_ + "`");
      QFile schema(QStringLiteral(QUILLMERE_SOURCE_DIR "/tools/sql/schema.sql"));
      if (!schema.open(QIODevice::ReadOnly)) Fail("read schema.sql", schema.errorString());
      QString statement;
      for (const QByteArray& line : schema.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(QStringLiteral("--"))) continue;
        statement += QString::fromUtf8(line) + QLatin1Char('\n');
        if (text.endsWith(QLatin1Char(';'))) {
          Exec(ToRecordText(statement));
          statement.clear();
        }
      }
    }
  }

  ~TestDatabase() {
    for (const QString& name : connections_) QSqlDatabase::removeDatabase(name);
    {
      QSqlDatabase admin = QSqlDatabase::database(admin_name_, false);
      QSqlQuery(admin).exec(FromRecordText("DROP DATABASE IF EXISTS `" + name_ + "`"));
      admin.close();
    }
    QSqlDatabase::removeDatabase(admin_name_);
  }

  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& name() const { return name_; }

  // Runs one statement on the admin connection (in this database). Throws on failure.
  void Exec(const std::string& sql) {
    QSqlQuery query(QSqlDatabase::database(admin_name_, false));
    if (!query.exec(FromRecordText(sql))) Fail(sql, query.lastError().text());
  }

  // The rows of a SELECT as Latin-1 text, each row's columns joined by "|" (NULL as "NULL").
  std::vector<std::string> Rows(const std::string& sql) {
    QSqlQuery query(QSqlDatabase::database(admin_name_, false));
    if (!query.exec(FromRecordText(sql))) Fail(sql, query.lastError().text());
    std::vector<std::string> rows;
    while (query.next()) {
      QStringList columns;
      for (int i = 0; i < query.record().count(); ++i) {
        columns << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
      }
      rows.push_back(ToRecordText(columns.join(QLatin1Char('|'))));
    }
    return rows;
  }

  // Opens a connection named `connection_name` on this database, removed at the end.
  QSqlDatabase Connect(const QString& connection_name) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connection_name);
    db.setHostName(FromRecordText(Host()));
    db.setPort(Port());
    db.setUserName(FromRecordText(User()));
    db.setPassword(FromRecordText(Password()));
    db.setDatabaseName(FromRecordText(name_));
    if (!db.open()) Fail("connect", db.lastError().text());
    connections_ << connection_name;
    return db;
  }

  // Removes a connection at the end that the code under test registered itself.
  void ForgetAtEnd(const QString& connection_name) { connections_ << connection_name; }

  // The lines of a settings file that point the site configuration at this database.
  std::string SettingsText() const {
    return "[VelfilesNdx]\nmdbserv=" + Host() + "\nmdbport=" + std::to_string(Port()) +
           "\nmdbuser=" + User() + "\nmdbpass=" + Password() + "\nmdbbase=" + name_ + "\n";
  }

 private:
  static std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
  }
  [[noreturn]] static void Fail(const std::string& what, const QString& error) {
    throw std::runtime_error("test database: " + what + ": " + ToRecordText(error));
  }

  std::string name_;
  QString admin_name_;
  QStringList connections_;
};

}  // namespace quillmere::testing
