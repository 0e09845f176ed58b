// The raw floor of an import: the same work as quillmere-cli does, with nothing but SQLite and
// the MySQL driver. Prints seconds for each part, one "name seconds" line each.
//
//   import_floor --store DIR --lookups L --rows R --jcki J --desc D --pol P --policies Q
//                --sync FULL|NORMAL [--db-host H --db-port N --db-user U --db-pass P --db-name B]
//
// lookups:  L get-equal reads of master records (keys of DIR's "ap" file, in turn), each a
//           prepared SELECT by key, as pass 1 does.
// writes:   J records of 99 bytes, D of 64 and P of 120, spread over R rows, each written with
//           the bare replace-by-key statement (INSERT OR REPLACE, prepared) into scratch tables
//           of DIR's store, one transaction per 100 rows.
// policies: Q upserts of a Policy row (UPDATE by AgyCode, PolNum, PolSeq, then INSERT when no
//           row matched), prepared, one transaction per 100, agency "~F", removed afterwards.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "import_floor: %s: %s\n", what, sqlite3_errmsg(db));
  std::exit(1);
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db, sql.c_str());
  return stmt;
}

void Exec(sqlite3* db, const std::string& sql) {
  Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, sql.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::map<std::string, std::string> opt;
  for (int i = 1; i + 1 < argc; i += 2) opt[argv[i]] = argv[i + 1];
  const auto num = [&](const char* name) { return std::atoll(opt[name].c_str()); };
  const long long lookups = num("--lookups"), rows = num("--rows"), jcki = num("--jcki"),
                  desc = num("--desc"), pol = num("--pol"), policies = num("--policies");

  sqlite3* db = nullptr;
  Check(sqlite3_open_v2((opt["--store"] + "/recfiles.sqlite").c_str(), &db, SQLITE_OPEN_READWRITE,
                        nullptr),
        db, "open");
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA synchronous=" + (opt["--sync"].empty() ? std::string("FULL") : opt["--sync"]));

  // Lookups.
  std::vector<std::string> keys;
  {
    sqlite3_stmt* all = Prepare(db, "SELECT key FROM ap");
    while (sqlite3_step(all) == SQLITE_ROW) {
      keys.emplace_back(static_cast<const char*>(sqlite3_column_blob(all, 0)),
                        sqlite3_column_bytes(all, 0));
    }
    sqlite3_finalize(all);
  }
  sqlite3_stmt* get = Prepare(db, "SELECT record FROM ap WHERE key = ?1");
  double t = Now();
  size_t found = 0;
  for (long long i = 0; i < lookups && !keys.empty(); ++i) {
    const std::string& key = keys[i % keys.size()];
    sqlite3_bind_blob(get, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (sqlite3_step(get) == SQLITE_ROW) found += sqlite3_column_bytes(get, 0) > 0;
    sqlite3_reset(get);
  }
  std::printf("lookups %.3f\n", Now() - t);
  sqlite3_finalize(get);

  // Record writes.
  struct Kind {
    const char* table;
    int length;
    int key_length;
    long long count;
  };
  const Kind kinds[] = {
      {"floor_jcki", 99, 25, jcki}, {"floor_desc", 64, 11, desc}, {"floor_pol", 120, 24, pol}};
  std::vector<sqlite3_stmt*> put;
  for (const Kind& k : kinds) {
    Exec(db, std::string("DROP TABLE IF EXISTS ") + k.table);
    Exec(db, std::string("CREATE TABLE ") + k.table +
                 " (key BLOB PRIMARY KEY, record BLOB NOT NULL) WITHOUT ROWID");
    put.push_back(Prepare(
        db, std::string("INSERT OR REPLACE INTO ") + k.table + " (key, record) VALUES (?1, ?2)"));
  }
  t = Now();
  const long long total = jcki + desc + pol;
  long long written[3] = {0, 0, 0};
  std::string record(120, ' ');
  Exec(db, "BEGIN");
  for (long long row = 0; row < rows; ++row) {
    // This row's share of each kind, so records spread evenly over the rows.
    for (int k = 0; k < 3; ++k) {
      const long long until = kinds[k].count * (row + 1) / (rows == 0 ? 1 : rows);
      for (; written[k] < until; ++written[k]) {
        std::snprintf(record.data(), 32, "01J%012lld%010lld", written[k], row);
        record[31] = ' ';
        sqlite3_bind_blob(put[k], 1, record.data(), kinds[k].key_length, SQLITE_STATIC);
        sqlite3_bind_blob(put[k], 2, record.data(), kinds[k].length, SQLITE_STATIC);
        Check(sqlite3_step(put[k]), db, "write");
        sqlite3_reset(put[k]);
      }
    }
    if ((row + 1) % 100 == 0) {
      Exec(db, "COMMIT");
      Exec(db, "BEGIN");
    }
  }
  Exec(db, "COMMIT");
  std::printf("writes %.3f\n", Now() - t);
  for (sqlite3_stmt* s : put) sqlite3_finalize(s);
  for (const Kind& k : kinds) Exec(db, std::string("DROP TABLE ") + k.table);
  sqlite3_close(db);
  (void)total;

  // Policy upserts.
  if (opt["--db-port"].empty() || policies == 0) {
    std::printf("policies 0\n");
    return 0;
  }
  QSqlDatabase mysql = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"));
  mysql.setHostName(QString::fromStdString(opt["--db-host"]));
  mysql.setPort(std::atoi(opt["--db-port"].c_str()));
  mysql.setUserName(QString::fromStdString(opt["--db-user"]));
  mysql.setPassword(QString::fromStdString(opt["--db-pass"]));
  mysql.setDatabaseName(QString::fromStdString(opt["--db-name"]));
  if (!mysql.open()) {
    std::fprintf(stderr, "import_floor: %s\n", mysql.lastError().text().toStdString().c_str());
    return 1;
  }
  QSqlQuery update(mysql), insert(mysql), cleanup(mysql);
  const QString columns = QStringLiteral(
      "CltNum = ?, CmpCode = ?, TrnCode = ?, ClsCode = ?, DptCode = ?, InvNum = ?, EntryDate = ?, "
      "EffectiveDate = ?, ExpirationDate = ?, CmpName = ?, TagDesc = ?");
  update.prepare(QStringLiteral("UPDATE Policy SET ") + columns +
                 QStringLiteral(" WHERE AgyCode = ? AND PolNum = ? AND PolSeq = ? LIMIT 1"));
  insert.prepare(QStringLiteral(
      "INSERT INTO Policy (AgyCode, PolNum, PolSeq, CltNum, CmpCode, TrnCode, ClsCode, DptCode, "
      "InvNum, EntryDate, EffectiveDate, ExpirationDate, CmpName, TagDesc) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  const QDateTime now = QDateTime::currentDateTime();
  t = Now();
  mysql.transaction();
  for (long long i = 0; i < policies; ++i) {
    const QString number = QStringLiteral("BF-241231-%1").arg(i);
    const QVariant values[] = {QStringLiteral("C00001"),
                               QStringLiteral("ZZZ"),
                               QStringLiteral(" BF"),
                               QStringLiteral(" BF"),
                               QStringLiteral("GA"),
                               QStringLiteral("%1").arg(500000 + i),
                               now,
                               now,
                               now,
                               QStringLiteral("Balance Forward"),
                               QStringLiteral("Beginning Balance")};
    int n = 0;
    for (const QVariant& v : values) update.bindValue(n++, v);
    update.bindValue(n++, QStringLiteral("~F"));
    update.bindValue(n++, number);
    update.bindValue(n++, 99);
    if (!update.exec()) {
      std::fprintf(stderr, "import_floor: %s\n", update.lastError().text().toStdString().c_str());
      return 1;
    }
    if (update.numRowsAffected() == 0) {
      insert.bindValue(0, QStringLiteral("~F"));
      insert.bindValue(1, number);
      insert.bindValue(2, 99);
      n = 3;
      for (const QVariant& v : values) insert.bindValue(n++, v);
      if (!insert.exec()) {
        std::fprintf(stderr, "import_floor: %s\n", insert.lastError().text().toStdString().c_str());
        return 1;
      }
    }
    if ((i + 1) % 100 == 0) {
      mysql.commit();
      mysql.transaction();
    }
  }
  mysql.commit();
  std::printf("policies %.3f\n", Now() - t);
  cleanup.exec(QStringLiteral("DELETE FROM Policy WHERE AgyCode = '~F'"));
  return 0;
}
