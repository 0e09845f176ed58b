#include "db/sql_policy_table.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <charconv>
#include <functional>
#include <string_view>

#include "db/qt_text.h"

namespace quillmere {
namespace {

// Exact comparison of a text column with a bound value: both sides as bytes of one character
// set, compared as binary strings, so neither a case-insensitive collation nor PAD SPACE can
// merge two values. `op` is "=" or the NULL-safe "<=>".
QString ExactText(const QString& column, const QString& op = QStringLiteral("=")) {
  return QStringLiteral(
             "CAST(CONVERT(%1 USING utf8mb4) AS BINARY) %2 "
             "CAST(CONVERT(? USING utf8mb4) AS BINARY)")
      .arg(column, op);
}

QVariant TextValue(const std::string& s) { return FromRecordText(s); }

// The columns hold a date and a time of day, no zone: the values are built as UTC, so they
// reach the server as given (a local time inside a daylight-saving gap would be moved) and
// building them does not consult the time zone.
QVariant DateValue(const Date& d) {
  const QDate date(d.year, d.month, d.day);
  if (!date.isValid()) return QVariant(QMetaType::fromType<QDateTime>());  // NULL
  return QDateTime(date, QTime(0, 0), Qt::UTC);
}

QVariant DateTimeValue(const DateTime& t) {
  const QDate date(t.date.year, t.date.month, t.date.day);
  if (!date.isValid()) return QVariant(QMetaType::fromType<QDateTime>());
  return QDateTime(date, QTime(t.hour, t.minute, t.second), Qt::UTC);
}

struct Column {
  const char* name;
  bool text;  // compared as bytes; the others as their column type compares
  std::function<QVariant(const PolicyRow&)> value;
};

// Every column the posting writes besides the three that identify the row, in the order the
// posting assigns them. The order is part of the layout of PolicyWrite::earlier.
const std::vector<Column>& WrittenColumns() {
  static const std::vector<Column> columns = {
      {"CltNum", true, [](const PolicyRow& r) { return TextValue(r.CltNum); }},
      {"CmpCode", true, [](const PolicyRow& r) { return TextValue(r.CmpCode); }},
      {"TrnCode", true, [](const PolicyRow& r) { return TextValue(r.TrnCode); }},
      {"ClsCode", true, [](const PolicyRow& r) { return TextValue(r.ClsCode); }},
      {"DptCode", true, [](const PolicyRow& r) { return TextValue(r.DptCode); }},
      {"InvNum", true, [](const PolicyRow& r) { return TextValue(r.InvNum); }},
      {"EntryDate", false, [](const PolicyRow& r) { return DateTimeValue(r.EntryDate); }},
      {"EffectiveDate", false, [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"ExpirationDate", false, [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"Status", false, [](const PolicyRow& r) { return QVariant(r.Status); }},
      {"PQBFlag", false, [](const PolicyRow& r) { return QVariant(r.PQBFlag); }},
      {"CmpStatus", false, [](const PolicyRow& r) { return QVariant(r.CmpStatus); }},
      {"CurrentPremium", false, [](const PolicyRow& r) { return QVariant(r.CurrentPremium); }},
      {"CurrentNonPremium", false,
       [](const PolicyRow& r) { return QVariant(r.CurrentNonPremium); }},
      {"TotalPremium", false, [](const PolicyRow& r) { return QVariant(r.TotalPremium); }},
      {"TotalNonPremium", false, [](const PolicyRow& r) { return QVariant(r.TotalNonPremium); }},
      {"NameInsuredCode", true, [](const PolicyRow& r) { return TextValue(r.NameInsuredCode); }},
      {"PolicyTermMonths", false, [](const PolicyRow& r) { return QVariant(r.PolicyTermMonths); }},
      {"CancelMethod", false, [](const PolicyRow& r) { return QVariant(r.CancelMethod); }},
      {"MinEarnedPrem", false, [](const PolicyRow& r) { return QVariant(r.MinEarnedPrem); }},
      {"UnearnedFactor", false, [](const PolicyRow& r) { return QVariant(r.UnearnedFactor); }},
      {"ReturnPremium", false, [](const PolicyRow& r) { return QVariant(r.ReturnPremium); }},
      {"WrittenAmt", false, [](const PolicyRow& r) { return QVariant(r.WrittenAmt); }},
      {"BinderEffectDate", false, [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"BinderExpireDate", false, [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"CmpName", true, [](const PolicyRow& r) { return TextValue(r.CmpName); }},
      {"StartRiskSeq", false, [](const PolicyRow& r) { return QVariant(r.StartRiskSeq); }},
      {"CurRiskSeq", false, [](const PolicyRow& r) { return QVariant(r.CurRiskSeq); }},
      {"Prd Code", true, [](const PolicyRow& r) { return TextValue(r.PrdCode); }},
      {"Opr Code", true, [](const PolicyRow& r) { return TextValue(r.OprCode); }},
      {"PolicyTermExpDate", false, [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"PolicyTermEffDate", false, [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"D_filler1", false, [](const PolicyRow& r) { return QVariant(r.D_filler1); }},
      {"D_filler2", false, [](const PolicyRow& r) { return QVariant(r.D_filler2); }},
      {"D_filler3", false, [](const PolicyRow& r) { return QVariant(r.D_filler3); }},
      {"EndorseNumber", false, [](const PolicyRow& r) { return QVariant(r.EndorseNumber); }},
      {"ActiveSeq", false, [](const PolicyRow& r) { return QVariant(r.ActiveSeq); }},
      {"TagDesc", true, [](const PolicyRow& r) { return TextValue(r.TagDesc); }},
      {"OverrideAnnualized", true,
       [](const PolicyRow& r) { return TextValue(r.OverrideAnnualized); }},
  };
  return columns;
}

// The layout of PolicyWrite::earlier (see the header): "<count>:" then per value "-" (NULL) or
// "<length>=<bytes>".
void AppendEarlier(const std::vector<std::optional<std::string>>& row, size_t first,
                   std::string* out) {
  *out = std::to_string(row.size() - first) + ":";
  for (size_t i = first; i < row.size(); ++i) {
    if (!row[i]) {
      *out += '-';
      continue;
    }
    *out += std::to_string(row[i]->size()) + "=";
    *out += *row[i];
  }
}

// Reads an unsigned decimal number that ends at `end` off the front of `*in`.
bool ConsumeCount(std::string_view* in, char end, size_t* n) {
  const auto [ptr, ec] = std::from_chars(in->data(), in->data() + in->size(), *n);
  if (ec != std::errc() || ptr == in->data() || ptr == in->data() + in->size() || *ptr != end) {
    return false;
  }
  in->remove_prefix(static_cast<size_t>(ptr - in->data()) + 1);
  return true;
}

// The values of `earlier`, nullopt for NULL; false when it is not exactly `count` values.
bool ParseEarlier(std::string_view earlier, size_t count,
                  std::vector<std::optional<std::string_view>>* values) {
  size_t n = 0;
  if (!ConsumeCount(&earlier, ':', &n) || n != count) return false;
  values->clear();
  for (size_t i = 0; i < count; ++i) {
    if (!earlier.empty() && earlier.front() == '-') {
      earlier.remove_prefix(1);
      values->push_back(std::nullopt);
      continue;
    }
    size_t length = 0;
    if (!ConsumeCount(&earlier, '=', &length) || length > earlier.size()) return false;
    values->push_back(earlier.substr(0, length));
    earlier.remove_prefix(length);
  }
  return earlier.empty();
}

constexpr unsigned kDeadlock = 1213;  // ER_LOCK_DEADLOCK

// The values Post binds for `row`, in the layout of PolicyWrite::earlier after a "=": text as
// its record bytes, numbers as their shortest exact decimals, times as "YYYY-MM-DD hh:mm:ss".
std::string EncodeBound(const PolicyRow& row) {
  const auto& columns = WrittenColumns();
  std::string out = "=" + std::to_string(columns.size()) + ":";
  for (const Column& column : columns) {
    const QVariant value = column.value(row);
    if (value.isNull()) {
      out += '-';
      continue;
    }
    std::string text;
    switch (value.metaType().id()) {
      case QMetaType::QString:
        text = ToRecordText(value.toString());
        break;
      case QMetaType::Double: {
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value.toDouble());
        text.assign(buffer, ec == std::errc() ? end : buffer);
        break;
      }
      case QMetaType::QDateTime:
        text = value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString();
        break;
      default:
        text = std::to_string(value.toLongLong());
    }
    out += std::to_string(text.size()) + "=" + text;
  }
  return out;
}

// Appends `text` read whole as a T; false when it is not one.
template <typename T>
bool PushNumber(std::string_view text, std::vector<QVariant>* values) {
  T n{};
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || ptr != text.data() + text.size()) return false;
  values->push_back(QVariant(n));
  return true;
}

// EncodeBound's values back as Post binds them; false when one does not read as its column's
// type.
bool DecodeBound(const std::vector<std::optional<std::string_view>>& texts,
                 std::vector<QVariant>* values) {
  const auto& columns = WrittenColumns();
  values->clear();
  for (size_t i = 0; i < columns.size(); ++i) {
    // The type Post binds for this column (a default row's value may be NULL, but has its type).
    const QMetaType type = columns[i].value(PolicyRow{}).metaType();
    if (!texts[i]) {
      values->push_back(QVariant(type));
      continue;
    }
    const std::string_view text = *texts[i];
    switch (type.id()) {
      case QMetaType::QString:
        values->push_back(TextValue(std::string(text)));
        break;
      case QMetaType::Double:
        if (!PushNumber<double>(text, values)) return false;
        break;
      case QMetaType::QDateTime: {
        // Date and time apart: read as one local time, a time in a daylight-saving gap moves.
        const QString both = QString::fromStdString(std::string(text));
        const QDate date = QDate::fromString(both.left(10), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(both.mid(11), QStringLiteral("hh:mm:ss"));
        if (both.size() != 19 || both[10] != QLatin1Char(' ') || !date.isValid() ||
            !time.isValid()) {
          return false;
        }
        values->push_back(QDateTime(date, time, Qt::UTC));
        break;
      }
      case QMetaType::Int:
        if (!PushNumber<int>(text, values)) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

bool SameKey(const PolicyRow& a, const PolicyRow& b) {
  return a.AgyCode == b.AgyCode && a.PolNum == b.PolNum && a.PolSeq == b.PolSeq;
}

bool Failed(const QSqlQuery& query, bool* deadlock, std::string* error) {
  *error = ToRecordText(query.lastError().text());
  *deadlock = query.lastError().nativeErrorCode() == QString::number(kDeadlock);
  return false;
}

bool Failed(const MysqlStatement& statement, bool* deadlock) {
  *deadlock = statement.error_number() == kDeadlock;
  return false;
}

}  // namespace

SqlPolicyTable::SqlPolicyTable(QString connection_name)
    : connection_name_(std::move(connection_name)) {}

QSqlDatabase SqlPolicyTable::Database() const {
  return QSqlDatabase::database(connection_name_, /*open=*/false);
}

bool SqlPolicyTable::Open(std::string* error) {
  Close();
  QSqlDatabase db = Database();
  if (!db.isValid() || !db.isOpen()) {
    *error =
        db.isValid() ? "the database connection is not open" : "there is no database connection";
    if (db.isValid() && db.lastError().isValid())
      *error += ": " + ToRecordText(db.lastError().text());
    return false;
  }
  const auto quote = [&db](const QString& name) {
    return db.driver()->escapeIdentifier(name, QSqlDriver::FieldName);
  };
  const QString table =
      db.driver()->escapeIdentifier(QStringLiteral("Policy"), QSqlDriver::TableName);
  const QString exact_key = ExactText(QStringLiteral("AgyCode")) + QStringLiteral(" AND ") +
                            ExactText(QStringLiteral("PolNum"));
  // The collation comparisons let the server use its index; the binary ones make the match
  // exact.
  const QString where =
      QStringLiteral(" WHERE AgyCode = ? AND PolNum = ? AND PolSeq = ? AND ") + exact_key;
  QStringList assignments, names, read, same;
  for (const Column& column : WrittenColumns()) {
    const QString name = quote(QString::fromLatin1(column.name));
    assignments << name + QStringLiteral(" = ?");
    names << name;
    // The server's own text of each value, exact for every type, NULL staying NULL: a text
    // column's bytes, the shortest decimal that reads back as the same double, a time to the
    // second. The driver sizes its buffer by the declared length, which for a DOUBLE (22) is
    // shorter than some values ("-2.2250738585072014e-308"); CHAR(32) holds any of them.
    read << QStringLiteral("CAST(") + name +
                (column.text ? QStringLiteral(" AS BINARY)") : QStringLiteral(" AS CHAR(32))"));
    same << (column.text ? ExactText(name, QStringLiteral("<=>"))
                         : name + QStringLiteral(" <=> ?"));
  }

  QSqlQuery remove(db), holds(db);
  const auto prepare = [error](QSqlQuery& query, const QString& sql) {
    if (query.prepare(sql)) return true;
    *error = ToRecordText(query.lastError().text());
    return false;
  };
  MYSQL* const mysql = MysqlHandle(db);
  const auto prepare_direct = [error, mysql](MysqlStatement& statement, const QString& sql) {
    return statement.Prepare(mysql, sql, error);
  };
  QStringList marks;
  for (qsizetype i = 0; i < names.size() + 3; ++i) marks << QStringLiteral("?");
  const bool prepared =
      prepare_direct(update_, QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                                  assignments.join(QStringLiteral(", ")) +
                                  QStringLiteral(" WHERE PolicyID = ?")) &&
      // Inserts only when no row matches, so a new row costs one statement.
      prepare_direct(insert_, QStringLiteral("INSERT INTO ") + table +
                                  QStringLiteral(" (AgyCode, PolNum, PolSeq, ") +
                                  names.join(QStringLiteral(", ")) + QStringLiteral(") SELECT ") +
                                  marks.join(QStringLiteral(", ")) +
                                  QStringLiteral(" FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM ") +
                                  table + where + QStringLiteral(")")) &&
      prepare_direct(select_, QStringLiteral("SELECT PolicyID, ") +
                                  read.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") +
                                  table + where +
                                  QStringLiteral(" ORDER BY PolicyID LIMIT 1 FOR UPDATE")) &&
      prepare_direct(update_held_, QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                                       assignments.join(QStringLiteral(", ")) +
                                       QStringLiteral(" WHERE PolicyID = ? AND ") +
                                       same.join(QStringLiteral(" AND ")) +
                                       QStringLiteral(" AND PolSeq = ? AND ") + exact_key) &&
      prepare_direct(exists_, QStringLiteral("SELECT PolicyID FROM ") + table + where +
                                  QStringLiteral(" LIMIT 1")) &&
      prepare(remove,
              QStringLiteral("DELETE FROM ") + table + QStringLiteral(" WHERE PolicyID = ?")) &&
      prepare(holds, QStringLiteral("SELECT PolicyID FROM ") + table +
                         QStringLiteral(" WHERE PolicyID = ? AND ") +
                         same.join(QStringLiteral(" AND ")) +
                         QStringLiteral(" AND PolSeq = ? AND ") + exact_key +
                         QStringLiteral(" FOR UPDATE"));
  if (!prepared) {
    Close();
    return false;
  }
  delete_ = std::move(remove);
  holds_ = std::move(holds);
  return true;
}

void SqlPolicyTable::Close() {
  EndChain();
  update_.Close();
  insert_.Close();
  select_.Close();
  update_held_.Close();
  exists_.Close();
  delete_.reset();
  holds_.reset();
}

bool SqlPolicyTable::Ready() const {
  return holds_.has_value() && update_.prepared() &&
         update_.connection() == MysqlHandle(Database());
}

void SqlPolicyTable::EndChain() {
  if (!chained_) return;
  chained_ = false;
  QSqlDatabase db = Database();
  if (db.isValid() && db.isOpen()) (void)db.commit();  // an empty transaction: nothing to lose
}

bool SqlPolicyTable::StartTransaction(std::string* error) {
  if (!in_transaction_) {
    // A statement outside Begin/Commit must commit on its own, not join the chained one.
    EndChain();
    return true;
  }
  if (started_) return true;
  if (chained_) {
    chained_ = false;
    started_ = true;
    return true;
  }
  QSqlDatabase db = Database();
  if (!db.transaction()) {
    *error = db.lastError().isValid() ? ToRecordText(db.lastError().text())
                                      : std::string("the database offers no transactions");
    return false;
  }
  started_ = true;
  return true;
}

bool SqlPolicyTable::Retrying(
    const std::function<bool(bool* deadlock, std::string* error)>& attempt, std::string* error) {
  // Two imports writing near the same key at once can deadlock on the index gap, and the
  // server then undoes the victim's whole transaction. When that held nothing but this call's
  // statements, the call simply runs again; after an earlier statement of the same transaction
  // the caller has to know that its work is gone too.
  for (int i = 0;; ++i) {
    bool deadlock = false;
    if (attempt(&deadlock, error)) {
      worked_ = in_transaction_;
      return true;
    }
    if (!deadlock || worked_ || i == 5) return false;
    started_ = chained_ = false;  // the next statement opens the transaction again
  }
}

bool SqlPolicyTable::Post(const PolicyRow& row, const PostedBefore* before, PolicyWrite* write,
                          std::string* error) {
  if (!Ready() && !Open(error)) return false;
  return Retrying([&](bool* deadlock,
                      std::string* error) { return PostOnce(row, before, write, deadlock, error); },
                  error);
}

bool SqlPolicyTable::PostOnce(const PolicyRow& row, const PostedBefore* before, PolicyWrite* write,
                              bool* deadlock, std::string* error) {
  *write = PolicyWrite{};
  if (!StartTransaction(error)) return false;
  const QVariant agency = TextValue(row.AgyCode);
  const QVariant policy = TextValue(row.PolNum);
  const QVariant seq = QVariant(row.PolSeq);
  const auto& columns = WrittenColumns();
  // The key conditions take AgyCode, PolNum and PolSeq, then AgyCode and PolNum again.
  const std::vector<QVariant> key_values = {agency, policy, seq, agency, policy};
  std::vector<QVariant> values;
  values.reserve(columns.size() + 1 + key_values.size());
  // Inserts the row unless one matches; `*inserted` says whether it did.
  const auto insert = [&](bool* inserted) {
    values = {agency, policy, seq};
    for (const Column& column : columns) values.push_back(column.value(row));
    values.insert(values.end(), key_values.begin(), key_values.end());
    if (!insert_.Execute(values, error)) return Failed(insert_, deadlock);
    *inserted = insert_.affected_rows() > 0;
    if (!*inserted) return true;
    write->inserted = true;
    write->policy_id = static_cast<int64_t>(insert_.insert_id());
    if (write->policy_id > 0) return true;
    *error = "the server did not say which PolicyID the new Policy row of [" + row.PolNum + "] has";
    return false;
  };

  if (known_.empty()) known_.assign(kKnownSlots, 0);
  const uint64_t key_hash = PolicyKeyHash(row);
  const uint32_t hash = static_cast<uint32_t>(key_hash >> 32) | 1;  // never 0, the empty slot
  uint32_t& slot = known_[key_hash & (kKnownSlots - 1)];
  // The row this run wrote before, if it still holds exactly that: one statement, which also
  // says what it held. The server counts a row as changed only when a value differs; a row
  // that matched without changing is left to the read below.
  if (before != nullptr && before->policy_id > 0 && SameKey(before->row, row)) {
    values.clear();
    for (const Column& column : columns) values.push_back(column.value(row));
    values.push_back(QVariant(static_cast<qlonglong>(before->policy_id)));
    for (const Column& column : columns) values.push_back(column.value(before->row));
    values.insert(values.end(), {seq, agency, policy});
    if (!update_held_.Execute(values, error)) return Failed(update_held_, deadlock);
    if (update_held_.affected_rows() == 1) {
      write->policy_id = before->policy_id;
      write->earlier = EncodeBound(before->row);
      slot = hash;
      return true;
    }
  }
  // A key this table posted before is most likely still there: read it first. Otherwise insert
  // unless it is there. The remembered keys only choose the order; the table decides.
  bool inserted = false;
  if (slot != hash) {
    if (!insert(&inserted)) return false;
    if (inserted) {
      slot = hash;
      return true;
    }
  }

  // The read, the update and what `earlier` says must be one: outside the caller's
  // transaction they get one of their own.
  QSqlDatabase db = Database();
  const bool own = !in_transaction_;
  if (own && !db.transaction()) {
    *error = ToRecordText(db.lastError().text());
    return false;
  }
  const auto fail = [&](const MysqlStatement& statement) {
    Failed(statement, deadlock);
    if (own) (void)db.rollback();  // after a deadlock the server has undone it already
    return false;
  };
  // Between a read that finds nothing and the insert another connection may insert the row
  // (outside a transaction nothing holds the gap); it is read again.
  bool done = false;
  for (int round = 0; round < 3 && !done; ++round) {
    if (!select_.Execute(key_values, error)) return fail(select_);
    std::vector<std::optional<std::string>> found_row;
    const bool found = select_.Fetch(&found_row, error);
    // A row the client library could not fetch must not pass for no row.
    if (!found && !error->empty()) return fail(select_);
    if (found) {
      if (found_row.size() != columns.size() + 1 || !found_row[0] ||
          std::from_chars(found_row[0]->data(), found_row[0]->data() + found_row[0]->size(),
                          write->policy_id)
                  .ec != std::errc()) {
        *error = "the server's answer for the Policy row of [" + row.PolNum + "] is not a row";
        if (own) (void)db.rollback();
        return false;
      }
      AppendEarlier(found_row, 1, &write->earlier);
      values.clear();
      for (const Column& column : columns) values.push_back(column.value(row));
      values.push_back(QVariant(static_cast<qlonglong>(write->policy_id)));
      if (!update_.Execute(values, error)) return fail(update_);
      done = true;
    } else {
      // Gone since this table posted it, or removed between the insert and the read.
      if (!insert(&done)) {
        if (own) (void)db.rollback();
        return false;
      }
    }
  }
  if (!done) {
    *error = "the Policy row of [" + row.PolNum + "] kept appearing and disappearing";
    if (own) (void)db.rollback();
    return false;
  }
  if (own && !db.commit()) {
    *error = ToRecordText(db.lastError().text());
    return false;
  }
  slot = hash;
  return true;
}

bool SqlPolicyTable::Restore(int64_t policy_id, bool inserted, const std::string& earlier,
                             std::string* error) {
  if (!Ready() && !Open(error)) return false;
  const auto& columns = WrittenColumns();
  std::vector<std::optional<std::string_view>> values;
  // "=": the values a Post bound, bound again the same way; otherwise the server's text.
  const bool bound = !earlier.empty() && earlier.front() == '=';
  std::vector<QVariant> bound_values;
  if (!inserted &&
      (!ParseEarlier(std::string_view(earlier).substr(bound ? 1 : 0), columns.size(), &values) ||
       (bound && !DecodeBound(values, &bound_values)))) {
    *error = "the earlier values of Policy row " + std::to_string(policy_id) +
             " are damaged or not this table's";
    return false;
  }
  return Retrying(
      [&](bool* deadlock, std::string* error) {
        if (!StartTransaction(error)) return false;
        // A row that is gone matches nothing, which is no failure.
        if (inserted) {
          delete_->bindValue(0, QVariant(static_cast<qlonglong>(policy_id)));
          if (!delete_->exec()) return Failed(*delete_, deadlock, error);
          return true;
        }
        std::vector<QVariant> params = bound_values;
        if (!bound) {
          for (const auto& value : values) {
            // Bytes, which the server converts to the column's type as it converts its own
            // text. A QByteArray over a string's data is never null, so "" stays "".
            params.push_back(
                value ? QVariant(QByteArray(value->data(), static_cast<qsizetype>(value->size())))
                      : QVariant(QMetaType::fromType<QByteArray>()));
          }
        }
        params.push_back(QVariant(static_cast<qlonglong>(policy_id)));
        if (!update_.Execute(params, error)) return Failed(update_, deadlock);
        return true;
      },
      error);
}

bool SqlPolicyTable::Holds(int64_t policy_id, const PolicyRow& row, bool* holds,
                           std::string* error) {
  if (!Ready() && !Open(error)) return false;
  return Retrying(
      [&](bool* deadlock, std::string* error) {
        *holds = false;
        if (!StartTransaction(error)) return false;
        int i = 0;
        holds_->bindValue(i++, QVariant(static_cast<qlonglong>(policy_id)));
        for (const Column& column : WrittenColumns()) holds_->bindValue(i++, column.value(row));
        holds_->bindValue(i++, QVariant(row.PolSeq));
        holds_->bindValue(i++, TextValue(row.AgyCode));
        holds_->bindValue(i++, TextValue(row.PolNum));
        if (!holds_->exec()) return Failed(*holds_, deadlock, error);
        *holds = holds_->next();
        if (!*holds && holds_->lastError().isValid()) return Failed(*holds_, deadlock, error);
        holds_->finish();
        return true;
      },
      error);
}

bool SqlPolicyTable::Exists(const PolicyRow& row, bool* exists, std::string* error) {
  if (!Ready() && !Open(error)) return false;
  return Retrying(
      [&](bool* deadlock, std::string* error) {
        *exists = false;
        if (!StartTransaction(error)) return false;
        const QVariant agency = TextValue(row.AgyCode);
        const QVariant policy = TextValue(row.PolNum);
        if (!exists_.Execute({agency, policy, QVariant(row.PolSeq), agency, policy}, error)) {
          return Failed(exists_, deadlock);
        }
        std::vector<std::optional<std::string>> found;
        *exists = exists_.Fetch(&found, error);
        // A row the client library could not fetch must not pass for no row.
        if (!*exists && !error->empty()) return Failed(exists_, deadlock);
        // The statement's result is read to its end, so the next Execute starts clean.
        while (exists_.Fetch(&found, error)) {
        }
        return error->empty();
      },
      error);
}

bool SqlPolicyTable::Begin(std::string* error) {
  if (in_transaction_) {
    *error = "a transaction of the Policy table is open already";
    return false;
  }
  in_transaction_ = true;
  started_ = worked_ = false;
  return true;
}

bool SqlPolicyTable::Commit(std::string* error) {
  const bool started = started_;
  in_transaction_ = started_ = worked_ = false;
  if (!started) return true;
  QSqlQuery commit(Database());
  if (commit.exec(QStringLiteral("COMMIT AND CHAIN"))) {
    chained_ = true;
    return true;
  }
  *error = ToRecordText(commit.lastError().text());
  return false;
}

void SqlPolicyTable::Rollback() {
  const bool started = started_;
  in_transaction_ = started_ = worked_ = false;
  if (!started) return;
  chained_ = false;
  QSqlDatabase db = Database();
  (void)db.rollback();  // a lost connection has undone it already
}

}  // namespace quillmere
