#include "db/sql_policy_table.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "db/qt_text.h"

namespace quillmere {
namespace {

// Exact match on a text column: both sides as bytes of one character set, compared as binary
// strings, so neither a case-insensitive collation nor PAD SPACE can merge two values.
QString ExactText(const QString& column) {
  return QStringLiteral(
             "CAST(CONVERT(%1 USING utf8mb4) AS BINARY) = "
             "CAST(CONVERT(? USING utf8mb4) AS BINARY)")
      .arg(column);
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
  std::function<QVariant(const PolicyRow&)> value;
};

// Every column the posting writes besides the three that identify the row, in the order the
// posting assigns them.
const std::vector<Column>& WrittenColumns() {
  static const std::vector<Column> columns = {
      {"CltNum", [](const PolicyRow& r) { return TextValue(r.CltNum); }},
      {"CmpCode", [](const PolicyRow& r) { return TextValue(r.CmpCode); }},
      {"TrnCode", [](const PolicyRow& r) { return TextValue(r.TrnCode); }},
      {"ClsCode", [](const PolicyRow& r) { return TextValue(r.ClsCode); }},
      {"DptCode", [](const PolicyRow& r) { return TextValue(r.DptCode); }},
      {"InvNum", [](const PolicyRow& r) { return TextValue(r.InvNum); }},
      {"EntryDate", [](const PolicyRow& r) { return DateTimeValue(r.EntryDate); }},
      {"EffectiveDate", [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"ExpirationDate", [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"Status", [](const PolicyRow& r) { return QVariant(r.Status); }},
      {"PQBFlag", [](const PolicyRow& r) { return QVariant(r.PQBFlag); }},
      {"CmpStatus", [](const PolicyRow& r) { return QVariant(r.CmpStatus); }},
      {"CurrentPremium", [](const PolicyRow& r) { return QVariant(r.CurrentPremium); }},
      {"CurrentNonPremium", [](const PolicyRow& r) { return QVariant(r.CurrentNonPremium); }},
      {"TotalPremium", [](const PolicyRow& r) { return QVariant(r.TotalPremium); }},
      {"TotalNonPremium", [](const PolicyRow& r) { return QVariant(r.TotalNonPremium); }},
      {"NameInsuredCode", [](const PolicyRow& r) { return TextValue(r.NameInsuredCode); }},
      {"PolicyTermMonths", [](const PolicyRow& r) { return QVariant(r.PolicyTermMonths); }},
      {"CancelMethod", [](const PolicyRow& r) { return QVariant(r.CancelMethod); }},
      {"MinEarnedPrem", [](const PolicyRow& r) { return QVariant(r.MinEarnedPrem); }},
      {"UnearnedFactor", [](const PolicyRow& r) { return QVariant(r.UnearnedFactor); }},
      {"ReturnPremium", [](const PolicyRow& r) { return QVariant(r.ReturnPremium); }},
      {"WrittenAmt", [](const PolicyRow& r) { return QVariant(r.WrittenAmt); }},
      {"BinderEffectDate", [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"BinderExpireDate", [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"CmpName", [](const PolicyRow& r) { return TextValue(r.CmpName); }},
      {"StartRiskSeq", [](const PolicyRow& r) { return QVariant(r.StartRiskSeq); }},
      {"CurRiskSeq", [](const PolicyRow& r) { return QVariant(r.CurRiskSeq); }},
      {"Prd Code", [](const PolicyRow& r) { return TextValue(r.PrdCode); }},
      {"Opr Code", [](const PolicyRow& r) { return TextValue(r.OprCode); }},
      {"PolicyTermExpDate", [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"PolicyTermEffDate", [](const PolicyRow& r) { return DateValue(r.PolicyDate); }},
      {"D_filler1", [](const PolicyRow& r) { return QVariant(r.D_filler1); }},
      {"D_filler2", [](const PolicyRow& r) { return QVariant(r.D_filler2); }},
      {"D_filler3", [](const PolicyRow& r) { return QVariant(r.D_filler3); }},
      {"EndorseNumber", [](const PolicyRow& r) { return QVariant(r.EndorseNumber); }},
      {"ActiveSeq", [](const PolicyRow& r) { return QVariant(r.ActiveSeq); }},
      {"TagDesc", [](const PolicyRow& r) { return TextValue(r.TagDesc); }},
      {"OverrideAnnualized", [](const PolicyRow& r) { return TextValue(r.OverrideAnnualized); }},
  };
  return columns;
}

std::string ErrorOf(const QSqlQuery& query) { return ToRecordText(query.lastError().text()); }

}  // namespace

SqlPolicyTable::SqlPolicyTable(QString connection_name)
    : connection_name_(std::move(connection_name)) {}

bool SqlPolicyTable::Open(std::string* error) {
  Close();
  QSqlDatabase db = QSqlDatabase::database(connection_name_, /*open=*/false);
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
  const QString where = QStringLiteral(" WHERE AgyCode = ? AND PolNum = ? AND PolSeq = ? AND ") +
                        ExactText(QStringLiteral("AgyCode")) + QStringLiteral(" AND ") +
                        ExactText(QStringLiteral("PolNum"));
  QStringList assignments, names;
  for (const Column& column : WrittenColumns()) {
    const QString name = quote(QString::fromLatin1(column.name));
    assignments << name + QStringLiteral(" = ?");
    names << name;
  }

  // The collation comparisons let the server use its index; the binary ones make the match
  // exact.
  QSqlQuery update(db), insert(db);
  if (!update.prepare(QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                      assignments.join(QStringLiteral(", ")) + where +
                      QStringLiteral(" LIMIT 1"))) {
    *error = ErrorOf(update);
    return false;
  }
  // Inserts only when no row matches, so a new row costs one statement.
  QStringList marks;
  for (qsizetype i = 0; i < names.size() + 3; ++i) marks << QStringLiteral("?");
  if (!insert.prepare(QStringLiteral("INSERT INTO ") + table +
                      QStringLiteral(" (AgyCode, PolNum, PolSeq, ") +
                      names.join(QStringLiteral(", ")) + QStringLiteral(") SELECT ") +
                      marks.join(QStringLiteral(", ")) +
                      QStringLiteral(" FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM ") + table +
                      where + QStringLiteral(")"))) {
    *error = ErrorOf(insert);
    return false;
  }
  update_ = std::move(update);
  insert_ = std::move(insert);
  return true;
}

void SqlPolicyTable::Close() {
  update_.reset();
  insert_.reset();
}

uint64_t SqlPolicyTable::KeyHash(const PolicyRow& row) {
  std::string key = row.AgyCode;
  key += '\0';
  key += row.PolNum;
  key += '\0';
  key += std::to_string(row.PolSeq);
  return std::hash<std::string>{}(key);
}

bool SqlPolicyTable::Post(const PolicyRow& row, std::string* error) {
  if (!update_ && !Open(error)) return false;
  // Two imports inserting near the same key at once can deadlock on the index gap, and the
  // server then undoes the victim's whole transaction. When that held nothing but this row's
  // statements, the row simply runs again; after an earlier Post of the same transaction the
  // caller has to know that those rows are gone too.
  for (int attempt = 0;; ++attempt) {
    bool deadlock = false;
    if (PostOnce(row, &deadlock, error)) {
      posted_ = in_transaction_;
      return true;
    }
    if (!deadlock || posted_ || attempt == 5) return false;
    started_ = false;  // the next statement opens the transaction again
  }
}

bool SqlPolicyTable::PostOnce(const PolicyRow& row, bool* deadlock, std::string* error) {
  if (in_transaction_ && !started_) {
    QSqlDatabase db = QSqlDatabase::database(connection_name_, /*open=*/false);
    if (!db.transaction()) {
      *error = db.lastError().isValid() ? ToRecordText(db.lastError().text())
                                        : std::string("the database offers no transactions");
      return false;
    }
    started_ = true;
  }
  const QVariant agency = TextValue(row.AgyCode);
  const QVariant policy = TextValue(row.PolNum);
  const QVariant seq = QVariant(row.PolSeq);
  const auto& columns = WrittenColumns();
  // The statements' conditions take AgyCode, PolNum and PolSeq, then AgyCode and PolNum again.
  const auto bind_condition = [&](QSqlQuery& query, int i) {
    for (const QVariant& value : {agency, policy, seq, agency, policy}) query.bindValue(i++, value);
  };
  const auto failed = [&](const QSqlQuery& query) {
    *error = ErrorOf(query);
    *deadlock = query.lastError().nativeErrorCode() == QStringLiteral("1213");
    return false;
  };

  // Each returns false on a failed statement; `*matched` says whether a row matched (update)
  // or was already there (insert).
  const auto update = [&](bool* changed) {
    int i = 0;
    for (const Column& column : columns) update_->bindValue(i++, column.value(row));
    bind_condition(*update_, i);
    if (!update_->exec()) return failed(*update_);
    // The server counts changed rows: an update that changes nothing counts 0.
    *changed = update_->numRowsAffected() > 0;
    return true;
  };
  const auto insert = [&](bool* inserted) {
    int i = 0;
    insert_->bindValue(i++, agency);
    insert_->bindValue(i++, policy);
    insert_->bindValue(i++, seq);
    for (const Column& column : columns) insert_->bindValue(i++, column.value(row));
    bind_condition(*insert_, i);
    if (!insert_->exec()) return failed(*insert_);
    *inserted = insert_->numRowsAffected() > 0;
    return true;
  };

  // A row this table posted before is most likely still there: update first. Otherwise insert
  // unless it is there, and update it when it was. Either way a row that matched is updated
  // and a missing one inserted; the remembered keys only choose the order.
  if (known_.empty()) known_.assign(kKnownSlots, 0);
  const uint64_t key_hash = KeyHash(row);
  const uint32_t hash = static_cast<uint32_t>(key_hash >> 32) | 1;  // never 0, the empty slot
  uint32_t& slot = known_[key_hash & (kKnownSlots - 1)];
  bool done = false;
  if (slot == hash) {
    if (!update(&done)) return false;
    // Nothing changed: either no row matched or the matching row already holds these values.
    if (!done && !insert(&done)) return false;
  } else {
    if (!insert(&done)) return false;
    if (!done && !update(&done)) return false;
  }
  slot = hash;
  return true;
}

bool SqlPolicyTable::Begin(std::string* error) {
  if (in_transaction_) {
    *error = "a transaction of the Policy table is open already";
    return false;
  }
  in_transaction_ = true;
  started_ = posted_ = false;
  return true;
}

bool SqlPolicyTable::Commit(std::string* error) {
  const bool started = started_;
  in_transaction_ = started_ = posted_ = false;
  if (!started) return true;
  QSqlDatabase db = QSqlDatabase::database(connection_name_, /*open=*/false);
  if (db.commit()) return true;
  *error = ToRecordText(db.lastError().text());
  return false;
}

void SqlPolicyTable::Rollback() {
  const bool started = started_;
  in_transaction_ = started_ = posted_ = false;
  if (!started) return;
  QSqlDatabase db = QSqlDatabase::database(connection_name_, /*open=*/false);
  (void)db.rollback();  // a lost connection has undone it already
}

}  // namespace quillmere
