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
  // Not a line of "utility.ini" either: the settings' optional mdbtimeout, in seconds (2 or
  // more).
  int timeout_seconds = kDefaultDbTimeoutSeconds;
};

// The parameters the settings give: server, user, password, database and port.
ConnectionParams ParamsFromSettings(const SiteSettings& settings);

// The parameter list from name=value lines (CR LF or LF ends), replacing every value: a name
// the lines do not hold is empty. Names match in any case, a later line wins, lines without
// "=" and unknown names are ignored. The port is not a line and comes from `port`.
//   ParamsFromLines("DriverID=MySQL\r\nserver=db1\r\n", 3306).server == "db1"
ConnectionParams ParamsFromLines(std::string_view text, int port);

// Opens the QMYSQL connection named `connection_name` with `params`, closing and reusing one
// already registered under that name. The server, user, password and database reach the server
// as exactly their bytes (FromExactUtf8 in qt_text.h). True when open; false with the driver's
// error text ("Can't connect to MySQL server on '127.0.0.1' (111) QMYSQL: Unable to connect"),
// the connection staying registered with the parameters it was given; false before anything is
// registered when a value's bytes cannot be sent as they are (not UTF-8).
// A server that stops answering never holds the program: connecting gives up after
// `timeout_seconds` (at most 10), and each read or write of a statement after
// `timeout_seconds` ("Lost connection to server during query"); the client library waits
// exactly that long, without retries. The session's innodb_lock_wait_timeout is half of it, so a
// statement waiting for a lock ends with the server's own error first.
bool OpenConnection(const QString& connection_name, const ConnectionParams& params,
                    std::string* error);

// Where the site configuration finds and writes its files.
struct SitePaths {
  // The two settings files, as the program found them (ChooseSettingsFile and
  // ChooseHostSettingsFile in startup/run_options.h) or was given them; a missing settings
  // file gives every default.
  std::string settings_path;
  std::string host_settings_path;
  // Where "utility.ini" is written; "" writes none, and the connection takes its parameters
  // from the settings (the command line leaves the file alone).
  std::string work_dir = ".";
};

// What a site configuration read, wrote and opened.
struct SiteConfiguration {
  std::string settings_path;       // the data-directory settings file read
  std::string host_settings_path;  // handed to the record-file library
  std::string utility_ini_path;    // work_dir + "/utility.ini"; "" when none is written
  SiteSettings settings;
  int16_t store_status = 0;        // what the record-file library's initialisation returned
  std::string store_message;       // when it failed: StoreFailureMessage (site_settings.h)
  ConnectionParams params;         // the parameter list the connection was opened with
  bool connection_failed = false;  // the failure was the connection's own (the driver's text)
};

// The site configuration, the one path for the window and the command line: reads the
// settings file (defaults for what is missing) and refuses, before anything is written, a
// settings file that is there but cannot be read (SiteSettings::read_error), and values that
// cannot work
// anything is written (an mdbport that is not a port number; a server, user, password or
// database name whose bytes are not UTF-8 text, which the driver cannot send as they are);
// writes "utility.ini" (owner-only) where `paths.work_dir` says, initialises the record-file
// library with the two settings paths (its status kept in `store_status` with the message in
// `store_message`: each program decides what a failure means), and opens connection
// `connection_name` from the lines of "utility.ini" (from the settings when there is no such
// file). Stops at the first failure with its text in `*error` and returns false; `*out` holds
// what was done up to then.
//   "mdbpass in /site/VELFILES.ini is not UTF-8 text: the database server is sent the
//    connection settings as UTF-8, so these bytes cannot reach it as they are. Save the
//    settings file as UTF-8."
bool ConfigureSite(const SitePaths& paths, const QString& connection_name, SiteConfiguration* out,
                   std::string* error);

}  // namespace quillmere
