// Test plumbing: a temporary folder per test, a recording Operator, and a record-file store
// with the agency's master records, all on the real SQLite store.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "context/operator.h"
#include "recfiles/btrv_layout.h"

namespace quillmere::testing {

// A fresh folder under the system's temporary folder, removed with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable (nullptr: removes it) for the life of the object, then puts the
// old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Records what an operation showed; answers Confirm from a script (default: no) and Choose
// with `choose_answer` (default -1: nobody was asked).
class RecordingOperator : public Operator {
 public:
  void ErrorWindow(const std::string& message) override { errors.push_back(message); }
  bool Confirm(const std::string& prompt) override {
    prompts.push_back(prompt);
    return confirm_answer;
  }
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ProcessEvents() override { ++events_processed; }
  void Launch(const std::string& path) override { launched.push_back(path); }
  int Choose(const std::string& question, const std::vector<std::string>& answers) override {
    questions.push_back(question);
    choices.push_back(answers);
    return choose_answer;
  }
  bool StopRequested() override { return stop_requested; }

  std::vector<std::string> errors, prompts, statuses, launched, questions;
  std::vector<std::vector<std::string>> choices;  // the answers each Choose offered
  int events_processed = 0;
  bool confirm_answer = false;
  int choose_answer = -1;
  bool stop_requested = false;
};

// Writes `content` to `path` as bytes.
void WriteFile(const std::string& path, const std::string& content);
// The bytes of `path` ("" when missing).
std::string ReadFile(const std::string& path);
// The lines of a CR LF (or LF) text file, without their ends.
std::vector<std::string> ReadLines(const std::string& path);
// The rows of the CSV file at `path` as Python's csv module reads them (strict quoting, the
// bytes as Latin-1), each field as the file's bytes: an independent reader of what we write.
std::vector<std::vector<std::string>> PythonCsvRows(const std::string& path);

// Writes <dir>/VELFILES.ini pointing the store at <dir>, creates the store there and opens it
// (as quillmere-recfile init does) and creates the six standard record files (ap, extap, jcki,
// desc, trans.ndx, pol). Returns the settings file's path.
std::string InitStore(const std::filesystem::path& dir);

// A master record: blanks, then FileNum+ProNum (`kind`), agency, code, Seq "00", name, ApType
// and SubAccountsNum; stored with the replace-by-key write on a fresh handle on "ap".
void PutMaster(std::string_view kind, std::string_view agency, std::string_view code,
               std::string_view name = "", char ap_type = ' ',
               std::string_view sub_accounts = "000");
// Every record of record file `name`, in key order, as byte strings.
std::vector<std::string> DumpRecords(const std::string& name);

}  // namespace quillmere::testing
