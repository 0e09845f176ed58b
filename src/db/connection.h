// The MySQL connection: its parameter list and the site configuration steps below the window
// (settings read, "utility.ini" written, record-file library initialised, connection opened).
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <string>
#include <string_view>

#include "startup/site_settings.h"

namespace quillmere {

// What the connection is opened with. The names follow the lines of "utility.ini".
struct ConnectionParams {
  std::string driver_id = "MySQL";
  std::string server;
  std::string user_name;
  std::string password;
  std::string database;
  int port = 3306;  // not a line of "utility.ini": the settings' optional mdbport
};

// The parameters the settings give: server, user, password, database and port.
ConnectionParams ParamsFromSettings(const SiteSettings& settings);

// The parameter list from name=value lines (CR LF or LF ends), replacing every value: a name
// the lines do not hold is empty. Names match in any case, a later line wins, lines without
// "=" and unknown names are ignored. The port is not a line and comes from `port`.
//   ParamsFromLines("DriverID=MySQL\r\nserver=db1\r\n", 3306).server == "db1"
ConnectionParams ParamsFromLines(std::string_view text, int port);

// Opens the QMYSQL connection named `connection_name` with `params`, closing and reusing one
// already registered under that name. True when open; false with the driver's error text
// ("Can't connect to MySQL server on '127.0.0.1' (111) QMYSQL: Unable to connect"). The
// connection stays registered either way, holding the parameters it was given.
bool OpenConnection(const QString& connection_name, const ConnectionParams& params,
                    std::string* error);

// Where the site configuration finds and writes its files.
struct SitePaths {
  std::string program_dir;                     // the running program's folder
  std::string velfiles_name = "VELFILES.ini";  // data-directory settings file (run option)
  std::string ini_name = "zel.ini";            // host settings file (run option)
  std::string work_dir = ".";                  // where "utility.ini" is written
};

// What a site configuration read, wrote and opened.
struct SiteConfiguration {
  std::string settings_path;       // program folder + velfiles_name
  std::string host_settings_path;  // program folder + ini_name
  std::string utility_ini_path;    // work_dir + "/utility.ini"
  SiteSettings settings;
  ConnectionParams params;  // the parameter list the connection was opened with
};

// The site configuration's steps up to the open connection: reads the settings file (defaults
// for what is missing), writes "utility.ini" (owner-only), initialises the record-file library
// with the two settings paths, and opens connection `connection_name` from the lines of
// "utility.ini" (from the settings when that file is gone). Stops at the first failure with
// its text in `*error` and returns false; `*out` holds what was done up to then.
bool ConfigureSite(const SitePaths& paths, const QString& connection_name, SiteConfiguration* out,
                   std::string* error);

}  // namespace quillmere
