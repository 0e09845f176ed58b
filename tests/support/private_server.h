// A MariaDB server of one test's own, for tests that stop or pause the server in the middle of
// a run (the shared server of QUILLMERE_TEST_DB_* must stay up for the other tests).
// `scripts/testdb start` runs it in a temporary folder: 127.0.0.1, a free port, user root
// without a password, tools/sql/schema.sql loaded into its database. Takes a few seconds.
//
//   PrivateServer server;
//   ASSERT_TRUE(server.started()) << server.start_output();
//   WriteFile(settings, server.SettingsText() + "datapath=" + dir + "\n");
//   ... server.Pause(); ... server.Resume(); ... server.Stop();
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <string_view>

#include "support/test_support.h"

namespace quillmere::testing {

class PrivateServer {
 public:
  // Starts the server; started() says whether it came up.
  PrivateServer();
  // Stops the server (resuming it first when paused) and removes its folder.
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // True when the server came up and the script named its port.
  bool started() const { return started_ && port() != 0; }
  // What `scripts/testdb start` printed: its env lines, or why the server did not come up.
  const std::string& start_output() const { return start_output_; }

  // One of the script's env lines, by name: Value("QUILLMERE_TEST_DB_PORT") == "41231"; ""
  // when the script printed no such line.
  std::string Value(std::string_view name) const;
  std::string host() const { return Value("QUILLMERE_TEST_DB_HOST"); }
  int port() const;  // 0 when unknown
  std::string user() const { return Value("QUILLMERE_TEST_DB_USER"); }
  std::string password() const { return Value("QUILLMERE_TEST_DB_PASS"); }
  std::string database() const { return Value("QUILLMERE_TEST_DB_NAME"); }
  // The server's process id, from its pid file; -1 when unknown.
  pid_t pid() const { return pid_; }

  // The [VelfilesNdx] section with the database keys that point a site at this server:
  // "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=41231\nmdbuser=root\nmdbpass=\nmdbbase=...\n".
  std::string SettingsText() const;

  // Stops the server (`scripts/testdb stop`, which waits for its end). Later calls do nothing.
  void Stop();
  // SIGSTOP and SIGCONT to the server: while paused it keeps its connections open and answers
  // nothing, as a hung server does; Pause returns once the server is stopped. False when there
  // is no running server to signal (or it did not stop).
  bool Pause();
  bool Resume();

 private:
  TempDir dir_;  // declared first: removed after the server has stopped
  std::string start_output_;
  std::map<std::string, std::string, std::less<>> values_;
  pid_t pid_ = -1;
  bool started_ = false;
  bool paused_ = false;
};

}  // namespace quillmere::testing
