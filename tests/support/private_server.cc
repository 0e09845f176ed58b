#include "support/private_server.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/process.h"

namespace quillmere::testing {
namespace {

constexpr char kTestdbScript[] = QUILLMERE_SOURCE_DIR "/scripts/testdb";

// The state letter of process `pid` from /proc ('T' stopped, 'S' sleeping ...); '?' when unknown.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const size_t close = text.rfind(')');  // the command name may hold blanks and parentheses
  return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// Waits up to two seconds for `done`; true when it came.
template <typename Done>
bool WaitUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

PrivateServer::PrivateServer() {
  const ProcessResult start = RunProgram({kTestdbScript, "start", dir_.path().string()});
  start_output_ = start.output;
  started_ = start.exit_code == 0;
  // Lines such as "export QUILLMERE_TEST_DB_PORT=41231".
  std::istringstream lines(start_output_);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("export ", 0) == 0) line.erase(0, 7);
    const size_t eq = line.find('=');
    if (line.rfind("QUILLMERE_TEST_DB_", 0) != 0 || eq == std::string::npos) continue;
    values_[line.substr(0, eq)] = line.substr(eq + 1);
  }
  // The server may write its pid file a moment after it answers.
  std::string pid_text;
  if (started_) {
    WaitUntil([&] { return !(pid_text = ReadFile(Value("QUILLMERE_TEST_DB_PIDFILE"))).empty(); });
  }
  if (started_ && !pid_text.empty()) pid_ = static_cast<pid_t>(std::atol(pid_text.c_str()));
}

PrivateServer::~PrivateServer() { Stop(); }

std::string PrivateServer::Value(std::string_view name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? "" : it->second;
}

int PrivateServer::port() const { return std::atoi(Value("QUILLMERE_TEST_DB_PORT").c_str()); }

std::string PrivateServer::SettingsText() const {
  return "[VelfilesNdx]\nmdbserv=" + host() + "\nmdbport=" + std::to_string(port()) +
         "\nmdbuser=" + user() + "\nmdbpass=" + password() + "\nmdbbase=" + database() + "\n";
}

void PrivateServer::Stop() {
  if (!started_) return;
  if (paused_) (void)Resume();  // a stopped process would not act on the script's SIGTERM
  (void)RunProgram({kTestdbScript, "stop", dir_.path().string()});
  started_ = false;
  pid_ = -1;
}

bool PrivateServer::Pause() {
  if (!started_ || pid_ <= 0 || kill(pid_, SIGSTOP) != 0) return false;
  paused_ = true;
  // A signal takes effect a moment after kill() returns: a test that goes on at once could
  // still be answered.
  return WaitUntil([&] { return ProcessState(pid_) == 'T'; });
}

bool PrivateServer::Resume() {
  if (!started_ || pid_ <= 0 || kill(pid_, SIGCONT) != 0) return false;
  paused_ = false;
  return true;
}

}  // namespace quillmere::testing
