// A server-side prepared statement run on the MySQL client library under a Qt connection.
// Qt's driver resets a prepared statement on the server before every execution, one more round
// trip each time; the posting runs its statements once per row, so it runs them here, where an
// execution is one round trip. The values are bound as Qt's driver binds them.
#pragma once

#include <mysql.h>

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillmere {

// The client library's handle of an open Qt MySQL connection; nullptr for any other.
MYSQL* MysqlHandle(const QSqlDatabase& db);

class MysqlStatement {
 public:
  MysqlStatement() = default;
  ~MysqlStatement() { Close(); }
  MysqlStatement(const MysqlStatement&) = delete;
  MysqlStatement& operator=(const MysqlStatement&) = delete;

  // False with the server's text when the statement cannot be prepared.
  bool Prepare(MYSQL* mysql, const QString& sql, std::string* error);
  void Close();
  bool prepared() const { return stmt_ != nullptr; }
  MYSQL* connection() const { return mysql_; }

  // Runs the statement with `params` bound in order: a null QVariant as NULL, int, qlonglong,
  // double, QDateTime (as DATETIME, to the second), QString (as UTF-8 text) and QByteArray (as
  // bytes). A statement that returns rows keeps them until Fetch or the next Execute. False
  // with the client library's text and error number otherwise.
  bool Execute(const std::vector<QVariant>& params, std::string* error);
  unsigned error_number() const { return error_number_; }
  uint64_t affected_rows() const;
  uint64_t insert_id() const;

  // The next row of the last Execute, each column as the bytes the server sent (nullopt: NULL);
  // false at the end, or with `*error` when it could not be read.
  bool Fetch(std::vector<std::optional<std::string>>* row, std::string* error);

 private:
  bool Failed(std::string* error);

  MYSQL* mysql_ = nullptr;
  MYSQL_STMT* stmt_ = nullptr;
  bool has_result_ = false;
  unsigned error_number_ = 0;
};

}  // namespace quillmere
