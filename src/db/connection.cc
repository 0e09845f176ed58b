#include "db/connection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "db/qt_text.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/encodings.h"
#include "recfiles/record_store.h"
#include "startup/run_options.h"

namespace quillmere {
namespace {

// Connecting takes a moment on any working server; an unreachable one is reported soon.
constexpr int kMaxConnectTimeoutSeconds = 10;

}  // namespace

ConnectionParams ParamsFromSettings(const SiteSettings& settings) {
  ConnectionParams params;
  params.server = settings.mdbserv;
  params.user_name = settings.mdbuser;
  params.password = settings.mdbpass;
  params.database = settings.mdbbase;
  params.port = settings.mdbport;
  params.timeout_seconds = settings.mdbtimeout;
  return params;
}

ConnectionParams ParamsFromLines(std::string_view text, int port) {
  ConnectionParams params;
  params.driver_id.clear();
  params.port = port;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string name = AsciiLower(line.substr(0, eq));
    const std::string value(line.substr(eq + 1));
    if (name == "driverid") {
      params.driver_id = value;
    } else if (name == "server") {
      params.server = value;
    } else if (name == "user_name") {
      params.user_name = value;
    } else if (name == "password") {
      params.password = value;
    } else if (name == "database") {
      params.database = value;
    }
  }
  return params;
}

bool OpenConnection(const QString& connection_name, const ConnectionParams& params,
                    std::string* error) {
  const std::optional<QString> host = FromExactUtf8(params.server);
  const std::optional<QString> user = FromExactUtf8(params.user_name);
  const std::optional<QString> password = FromExactUtf8(params.password);
  const std::optional<QString> database = FromExactUtf8(params.database);
  if (!host || !user || !password || !database) {
    *error =
        "The database connection settings hold bytes that are not UTF-8 text; they cannot "
        "reach the server as they are.";
    return false;
  }
  QSqlDatabase db;
  if (QSqlDatabase::contains(connection_name)) {
    db = QSqlDatabase::database(connection_name, /*open=*/false);
    db.close();
  } else {
    db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connection_name);
  }
  db.setHostName(*host);
  db.setPort(params.port);
  db.setUserName(*user);
  db.setPassword(*password);
  db.setDatabaseName(*database);
  // An unreachable host or a server that stops answering fails after a while instead of
  // holding the window or the run forever.
  const int timeout = params.timeout_seconds;
  db.setConnectOptions(QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=%2;"
                                      "MYSQL_OPT_WRITE_TIMEOUT=%2")
                           .arg(std::min(timeout, kMaxConnectTimeoutSeconds))
                           .arg(timeout));
  if (!db.open()) {
    *error = ToRecordText(db.lastError().text());
    return false;
  }
  QSqlQuery lock_wait(db);
  if (!lock_wait.exec(QStringLiteral("SET SESSION innodb_lock_wait_timeout = %1")
                          .arg(std::max(1, timeout / 2)))) {
    *error = ToRecordText(lock_wait.lastError().text());
    db.close();
    return false;
  }
  return true;
}

bool ConfigureSite(const SitePaths& paths, const QString& connection_name, SiteConfiguration* out,
                   std::string* error) {
  out->settings_path = paths.settings_path;
  out->host_settings_path = paths.host_settings_path;
  out->utility_ini_path.clear();
  if (!paths.work_dir.empty()) {
    out->utility_ini_path =
        paths.work_dir == "." ? std::string("utility.ini") : paths.work_dir + "/utility.ini";
  }
  out->settings = ReadSiteSettings(out->settings_path);
  out->store_status = 0;
  out->store_message.clear();
  out->connection_failed = false;
  if (!out->settings.read_error.empty()) {
    *error = out->settings.read_error;
    return false;
  }
  if (!out->settings.mdbport_error.empty()) {
    *error = out->settings.mdbport_error;
    return false;
  }
  if (out->settings.bad_mdbtimeout) {
    *error = "The setting mdbtimeout [" + *out->settings.bad_mdbtimeout + "] in " +
             out->settings_path + " is not a whole number of seconds from " +
             std::to_string(kMinDbTimeoutSeconds) + " to " + std::to_string(kMaxDbTimeoutSeconds);
    return false;
  }
  const SiteSettings& s = out->settings;
  for (const auto& [key, value] :
       {std::pair{"mdbserv", &s.mdbserv}, std::pair{"mdbuser", &s.mdbuser},
        std::pair{"mdbpass", &s.mdbpass}, std::pair{"mdbbase", &s.mdbbase}}) {
    if (!FromExactUtf8(*value)) {
      *error = std::string(key) + " in " + out->settings_path +
               " is not UTF-8 text: the database server is sent the connection settings as "
               "UTF-8, so these bytes cannot reach it as they are. Save the settings file as "
               "UTF-8.";
      return false;
    }
  }
  if (!out->utility_ini_path.empty() &&
      !WriteUtilityIni(out->utility_ini_path, out->settings, error)) {
    return false;
  }
  out->store_status =
      QrtInitializeFauxBtrieve(out->settings_path.c_str(), out->host_settings_path.c_str());
  if (out->store_status != 0) {
    out->store_message =
        StoreFailureMessage(out->settings_path, out->store_status, RecordStoreError());
  }

  std::ifstream in;
  if (!out->utility_ini_path.empty()) in.open(out->utility_ini_path, std::ios::binary);
  if (in.is_open()) {
    std::ostringstream text;
    text << in.rdbuf();
    out->params = ParamsFromLines(text.str(), out->settings.mdbport);
    out->params.timeout_seconds = out->settings.mdbtimeout;
  } else {
    out->params = ParamsFromSettings(out->settings);
  }
  out->connection_failed = !OpenConnection(connection_name, out->params, error);
  return !out->connection_failed;
}

}  // namespace quillmere
