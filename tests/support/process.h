// Child processes for the tests: the built programs, the scripts and tools they need, and
// functions run in a forked copy of the test. No shell comes between: each argument reaches the
// program as it is.
//
//   const ProcessResult check =
//       RunProgram({QUILLMERE_BINARY_DIR "/quillmere-recfile", "--dir", dir, "check"});
//   EXPECT_EQ(check.exit_code, 0) << check.output;
//
//   ProcessOptions options;
//   options.environment = {"QUILLMERE_STORE_FAULT=commit:18:3"};
//   const pid_t pid = Spawn({QUILLMERE_BINARY_DIR "/quillmere-cli", "import", ...},
//                           run.File("out.txt"), options);
//   kill(pid, SIGKILL);
//   EXPECT_EQ(WaitFor(pid), 128 + SIGKILL);
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::testing {

struct ProcessOptions {
  // "NAME=value" entries, set in the child's environment over those of this process.
  std::vector<std::string> environment;
  // When not "": the child's standard error goes to this file, apart from its standard output.
  std::string error_path;
  // >= 0: the child drops its supplementary groups and takes this user and group id before the
  // program starts (exit 126 when it cannot).
  int as_user = -1;
};

// Starts `argv` (argv[0] a path, or a name looked up on PATH) with its standard output and
// error written to `output_path`, created or emptied ("": discarded). Returns the child's pid,
// or -1 when no process could be made. The child exits 127 when the program cannot start.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& output_path,
            const ProcessOptions& options = {});

// Runs `child` in a forked copy of this process, which exits with what `child` returns.
// Returns the child's pid. The copy inherits open files and connections: close the record
// store before forking when the child opens it (record_store.h).
pid_t ForkChild(const std::function<int()>& child);

// Waits for child `pid` to end. Returns its exit code, or 128 + the number of the signal that
// ended it; -1 when `pid` is no child of this process (or was waited for already, or is -1
// from a failed Spawn).
int WaitFor(pid_t pid);

// The exit code (as WaitFor gives it) once child `pid` has ended, nullopt while it runs. After
// a value, the child is gone: do not wait for it again.
std::optional<int> ExitCodeIfEnded(pid_t pid);

struct ProcessResult {
  int exit_code = -1;  // as WaitFor gives it
  std::string output;  // standard output, and standard error unless options.error_path
};

// Runs `argv` as Spawn does and waits for its end.
ProcessResult RunProgram(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace quillmere::testing
