#include "db/mysql_statement.h"

#include <QDateTime>
#include <QSqlDriver>

namespace quillmere {

MYSQL* MysqlHandle(const QSqlDatabase& db) {
  if (!db.isValid() || !db.isOpen() || db.driver() == nullptr) return nullptr;
  const QVariant handle = db.driver()->handle();
  // Qt's driver registers the handle's type as "MYSQL*", which Qt names after the struct.
  const char* type = handle.typeName();
  if (!handle.isValid() || type == nullptr ||
      (qstrcmp(type, "MYSQL*") != 0 && qstrcmp(type, "st_mysql*") != 0)) {
    return nullptr;
  }
  return *static_cast<MYSQL* const*>(handle.constData());
}

bool MysqlStatement::Prepare(MYSQL* mysql, const QString& sql, std::string* error) {
  Close();
  if (mysql == nullptr) {
    *error = "the connection is not an open MySQL connection";
    return false;
  }
  stmt_ = mysql_stmt_init(mysql);
  if (stmt_ == nullptr) {
    error_number_ = mysql_errno(mysql);
    *error = mysql_error(mysql);
    return false;
  }
  const QByteArray text = sql.toUtf8();
  if (mysql_stmt_prepare(stmt_, text.constData(), static_cast<unsigned long>(text.size())) != 0) {
    Failed(error);
    Close();
    return false;
  }
  mysql_ = mysql;
  return true;
}

void MysqlStatement::Close() {
  // Safe after the connection closed: the client library then detached its statements.
  if (stmt_ != nullptr) mysql_stmt_close(stmt_);
  stmt_ = nullptr;
  mysql_ = nullptr;
  has_result_ = false;
}

bool MysqlStatement::Failed(std::string* error) {
  error_number_ = mysql_stmt_errno(stmt_);
  *error = mysql_stmt_error(stmt_);
  if (error->empty())
    *error = "the MySQL client library reported error " + std::to_string(error_number_);
  return false;
}

bool MysqlStatement::Execute(const std::vector<QVariant>& params, std::string* error) {
  error_number_ = 0;
  if (stmt_ == nullptr) {
    *error = "the statement is not prepared";
    return false;
  }
  if (has_result_) {
    mysql_stmt_free_result(stmt_);
    has_result_ = false;
  }
  const size_t count = mysql_stmt_param_count(stmt_);
  if (count != params.size()) {
    *error = "the statement takes " + std::to_string(count) + " values, not " +
             std::to_string(params.size());
    return false;
  }
  // The bound buffers must stay put until the execution returns.
  std::vector<MYSQL_BIND> binds(count);
  std::vector<QByteArray> bytes(count);
  std::vector<unsigned long> lengths(count);
  std::vector<long long> integers(count);
  std::vector<double> doubles(count);
  std::vector<MYSQL_TIME> times(count);
  for (size_t i = 0; i < count; ++i) {
    MYSQL_BIND& bind = binds[i];
    const QVariant& value = params[i];
    if (value.isNull()) {
      bind.buffer_type = MYSQL_TYPE_NULL;
      continue;
    }
    switch (value.metaType().id()) {
      case QMetaType::Int:
      case QMetaType::LongLong:
        integers[i] = value.toLongLong();
        bind.buffer_type = MYSQL_TYPE_LONGLONG;
        bind.buffer = &integers[i];
        break;
      case QMetaType::Double:
        doubles[i] = value.toDouble();
        bind.buffer_type = MYSQL_TYPE_DOUBLE;
        bind.buffer = &doubles[i];
        break;
      case QMetaType::QDateTime: {
        // The date and time as the value holds them, as Qt's driver sends them.
        const QDateTime t = value.toDateTime();
        MYSQL_TIME& time = times[i];
        time = MYSQL_TIME{};
        time.year = static_cast<unsigned>(t.date().year());
        time.month = static_cast<unsigned>(t.date().month());
        time.day = static_cast<unsigned>(t.date().day());
        time.hour = static_cast<unsigned>(t.time().hour());
        time.minute = static_cast<unsigned>(t.time().minute());
        time.second = static_cast<unsigned>(t.time().second());
        time.time_type = MYSQL_TIMESTAMP_DATETIME;
        bind.buffer_type = MYSQL_TYPE_DATETIME;
        bind.buffer = &time;
        break;
      }
      case QMetaType::QString:
      case QMetaType::QByteArray:
        bytes[i] = value.metaType().id() == QMetaType::QString ? value.toString().toUtf8()
                                                               : value.toByteArray();
        lengths[i] = static_cast<unsigned long>(bytes[i].size());
        bind.buffer_type =
            value.metaType().id() == QMetaType::QString ? MYSQL_TYPE_STRING : MYSQL_TYPE_BLOB;
        bind.buffer = bytes[i].data();
        bind.buffer_length = lengths[i];
        bind.length = &lengths[i];
        break;
      default:
        *error = std::string("a value of type ") + value.typeName() + " cannot be bound";
        return false;
    }
  }
  if ((count > 0 && mysql_stmt_bind_param(stmt_, binds.data()) != 0) ||
      mysql_stmt_execute(stmt_) != 0) {
    return Failed(error);
  }
  if (mysql_stmt_field_count(stmt_) > 0) {
    // The rows came with the answer; this only reads them off the connection.
    if (mysql_stmt_store_result(stmt_) != 0) return Failed(error);
    has_result_ = true;
  }
  return true;
}

uint64_t MysqlStatement::affected_rows() const {
  return stmt_ == nullptr ? 0 : mysql_stmt_affected_rows(stmt_);
}

uint64_t MysqlStatement::insert_id() const {
  return stmt_ == nullptr ? 0 : mysql_stmt_insert_id(stmt_);
}

bool MysqlStatement::Fetch(std::vector<std::optional<std::string>>* row, std::string* error) {
  error->clear();
  if (!has_result_) return false;
  const unsigned count = mysql_stmt_field_count(stmt_);
  std::vector<MYSQL_BIND> binds(count);
  std::vector<unsigned long> lengths(count);
  std::vector<my_bool> nulls(count);
  for (unsigned i = 0; i < count; ++i) {
    binds[i].buffer_type = MYSQL_TYPE_STRING;
    binds[i].length = &lengths[i];
    binds[i].is_null = &nulls[i];
  }
  if (mysql_stmt_bind_result(stmt_, binds.data()) != 0) return Failed(error);
  // With no buffers every column comes back truncated, with its length; each is then read
  // whole into a string of that length.
  const int fetched = mysql_stmt_fetch(stmt_);
  if (fetched == MYSQL_NO_DATA) return false;
  if (fetched != 0 && fetched != MYSQL_DATA_TRUNCATED) return Failed(error);
  row->assign(count, std::nullopt);
  for (unsigned i = 0; i < count; ++i) {
    if (nulls[i]) continue;
    std::string value(lengths[i], '\0');
    if (lengths[i] > 0) {
      MYSQL_BIND column{};
      unsigned long length = 0;
      column.buffer_type = MYSQL_TYPE_STRING;
      column.buffer = value.data();
      column.buffer_length = lengths[i];
      column.length = &length;
      if (mysql_stmt_fetch_column(stmt_, &column, i, 0) != 0) return Failed(error);
    }
    (*row)[i] = std::move(value);
  }
  return true;
}

}  // namespace quillmere
