#include "db/agency.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "db/qt_text.h"
#include "recfiles/encodings.h"

namespace quillmere {

std::optional<std::string> LookupAgencyName(const QSqlDatabase& db, std::string_view typed_code,
                                            std::string* error) {
  QSqlQuery query(db);
  if (!query.prepare(QStringLiteral("Select * from Agency where AgyCode = ?"))) {
    *error = ToRecordText(query.lastError().text());
    return std::nullopt;
  }
  query.addBindValue(FromRecordText(LeftPad(typed_code, 2)));
  if (!query.exec()) {
    *error = ToRecordText(query.lastError().text());
    return std::nullopt;
  }
  if (!query.next()) return std::string(kAgencyNotFound);
  return ToRecordText(query.value(query.record().indexOf(QStringLiteral("AgencyName"))).toString());
}

}  // namespace quillmere
