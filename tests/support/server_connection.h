// The connection parameters of a test's private server, for the tests that open a connection
// of their own with OpenConnection (they link the database library).
#pragma once

#include "db/connection.h"
#include "support/private_server.h"

namespace quillmere::testing {

// `server`'s address, user, password and database, with the time-outs of `timeout_seconds`.
inline ConnectionParams ParamsOf(const PrivateServer& server, int timeout_seconds) {
  ConnectionParams params;
  params.server = server.host();
  params.port = server.port();
  params.user_name = server.user();
  params.password = server.password();
  params.database = server.database();
  params.timeout_seconds = timeout_seconds;
  return params;
}

}  // namespace quillmere::testing
