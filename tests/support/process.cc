#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "support/test_support.h"

extern char** environ;

namespace quillmere::testing {
namespace {

// This process's environment with `overrides` ("NAME=value") set over it.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
  const auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    bool overridden = false;
    for (const std::string& o : overrides) overridden = overridden || name_of(*e) == name_of(o);
    if (!overridden) entries.emplace_back(*e);
  }
  entries.insert(entries.end(), overrides.begin(), overrides.end());
  return entries;
}

// Pointers for exec: the strings of `v`, then a null.
std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> pointers;
  for (std::string& s : v) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int ExitCode(int wstatus) {
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// Opens `path` for the child's output: created or emptied; "" is /dev/null.
int OpenOutput(const std::string& path) {
  return path.empty() ? open("/dev/null", O_WRONLY)
                      : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, const std::string& output_path,
            const ProcessOptions& options) {
  // Everything the child needs is made before fork(): a child of a process with threads may
  // only make async-signal-safe calls.
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = ChildEnvironment(options.environment);
  std::vector<char*> arg_pointers = CStrings(args);
  std::vector<char*> environment_pointers = CStrings(environment);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int out = OpenOutput(output_path);
  const int err = options.error_path.empty() ? out : OpenOutput(options.error_path);
  if (out >= 0) dup2(out, 1);
  if (err >= 0) dup2(err, 2);
  if (out > 2) close(out);
  if (err > 2 && err != out) close(err);
  if (options.as_user >= 0 && (setgroups(0, nullptr) != 0 || setgid(options.as_user) != 0 ||
                               setuid(options.as_user) != 0)) {
    _exit(126);
  }
  execvpe(arg_pointers[0], arg_pointers.data(), environment_pointers.data());
  _exit(127);
}

pid_t ForkChild(const std::function<int()>& child) {
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  return pid;
}

int WaitFor(pid_t pid) {
  if (pid <= 0) return -1;  // waitpid would wait for any child
  int wstatus = 0;
  pid_t waited;
  while ((waited = waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
  }
  return waited == pid ? ExitCode(wstatus) : -1;
}

std::optional<int> ExitCodeIfEnded(pid_t pid) {
  if (pid <= 0) return -1;
  int wstatus = 0;
  const pid_t waited = waitpid(pid, &wstatus, WNOHANG);
  if (waited == 0) return std::nullopt;
  return waited == pid ? ExitCode(wstatus) : -1;
}

ProcessResult RunProgram(const std::vector<std::string>& argv, const ProcessOptions& options) {
  const TempDir dir;  // a file, not a pipe: a server the program leaves running cannot hold it
  const std::string output_path = dir.File("output");
  ProcessResult result;
  result.exit_code = WaitFor(Spawn(argv, output_path, options));
  result.output = ReadFile(output_path);
  return result;
}

}  // namespace quillmere::testing
