// quillmere-cli: the import check, the import and the GL chart export without a window.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/version.h"
#include "context/clock.h"
#include "context/logging_operator.h"
#include "db/connection.h"
#include "db/sql_policy_table.h"
#include "export/gl_export.h"
#include "import/error_report.h"
#include "import/import_run.h"
#include "import/preview.h"
#include "journal/run_journal.h"
#include "journal/undo.h"
#include "recfiles/record_store.h"
#include "startup/registry.h"
#include "startup/run_options.h"
#include "startup/run_values.h"
#include "startup/user_folders.h"

namespace quillmere {
namespace {

constexpr char kUsage[] =
    "usage: quillmere-cli COMMAND [options]\n"
    "       quillmere-cli --help | --version\n"
    "\n"
    "Commands:\n"
    "  check    check a balance sheet CSV against the agency's master file; posts nothing\n"
    "  import   check, then post a clean file: journal entries, invoices and policies\n"
    "  export   write the agency's GL chart as a balance sheet CSV template\n"
    "  runs     list the imports the record files' run journal holds (--agency: of one agency)\n"
    "  undo RUN take a whole import run back: its records and Policy rows as they were before\n"
    "\n"
    "Options (defaults as the window's):\n"
    "  --settings FILE  data-directory settings file, used as given. Without it, VELFILES.ini\n"
    "                   is looked for beside the program, then in $XDG_CONFIG_HOME/quillmere\n"
    "                   (default ~/.config/quillmere), then in /etc/quillmere; none found:\n"
    "                   exit 2, naming the places searched\n"
    "  --host FILE      host settings file handed to the record-file library, used as given;\n"
    "                   without it, zel.ini is looked for the same way\n"
    "  --agency CODE    agency code, at most 2 characters (default: the per-user registry\n"
    "                   value AgencyCode, else 01)\n"
    "  --date M/D/YYYY  posting date (default: the last day of last month)\n"
    "  --csv FILE       balance sheet CSV (default balances.csv)\n"
    "  --je N           starting JE number; the first one posted is the next free above it\n"
    "                   (default 100000)\n"
    "  --inv N          starting invoice number, likewise (default 500000)\n"
    "  --log-dir DIR    where the run log balances_<date>-<time>.txt is written (default: the\n"
    "                   working folder)\n"
    "  --force          export: replace an existing CSV file\n"
    "  --resume         import: go on with the unfinished run of this file for this agency;\n"
    "                   its posting date and numbers are used (others given are refused)\n"
    "  --again          import: post a file that was posted before for this agency, on purpose\n"
    "  --errors-csv FILE  check, import: when the check finds errors, also write them to FILE\n"
    "                   as CSV (one row per failing line: line number, reasons, the line's six\n"
    "                   fields), replacing an older FILE. A clean file writes nothing and\n"
    "                   leaves an older FILE as it is: go by the exit code, not by FILE.\n"
    "                   FILE may not be the balance sheet itself (exit 2)\n"
    "  --json           check: print the result as one JSON object instead of text, and\n"
    "                   nothing else on standard output: a clean file's preview (trial\n"
    "                   balance, document numbers, writes, warnings) or the errors by line;\n"
    "                   nothing on exit 2 or 3 (docs/check_json.md)\n"
    "  -h, --help       this text\n"
    "  --version        the version line\n"
    "\n"
    "Exit codes: 0 done (check: the file is clean); 1 the file has errors, nothing posted;\n"
    "2 setup failure, nothing done (settings, record files, database, a CSV that is missing,\n"
    "not a regular file or unreadable, bad option, another import posting into the same record\n"
    "files); 3 stopped part-way (the rows before are posted whole; the run log names the row;\n"
    "import --resume posts the rest); 4 the file was posted before for this agency (--resume or\n"
    "--again); 5 undo or resume refused (unknown run, nothing to resume, values that differ,\n"
    "records changed since the run), nothing changed.\n"
    "\n"
    "A clean check prints what the import would post: the opening trial balance per GL\n"
    "account, the document numbers it would draw, the records and Policy rows it would write,\n"
    "and warnings (an out-of-balance file on a line starting WARNING:).\n"
    "Messages go to standard error. Ctrl-C or SIGTERM stops a check or an import within a\n"
    "second, or when the database statement in progress ends or times out: the rows before\n"
    "are posted whole, exit 3.\n";

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// SIGINT and SIGTERM ask the running check or import to stop at the next row, and the record
// store's wait for another program's lock to give up. Without SA_RESTART a blocking read or
// sleep ends at the signal. A second signal changes nothing: the run still ends in order and
// says what is posted; the database time-outs bound the wait for a statement in progress.
void StopOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  SetStoreStopFlag(&g_interrupted);
}

// The command line's operator: messages on standard error; on a terminal, the status and
// progress as one line that is rewritten in place (at most ten times a second, cut to the
// terminal's width so it never wraps); off a terminal, no status at all.
class CliOperator : public Operator {
 public:
  void ErrorWindow(const std::string& message) override {
    EndLine();
    std::cerr << message << "\n";
  }
  bool Confirm(const std::string& prompt) override {
    EndLine();
    std::cerr << prompt << " (no)\n";
    return false;
  }
  void SetStatus(const std::string& text) override {
    if (!tty_) return;
    // A new stage starts its progress afresh; the rows of one stage keep it.
    if (text.compare(0, kStageLength, status_, 0, kStageLength) != 0) percent_ = -1;
    status_ = text;
    Show(false);
  }
  void ProcessEvents() override {}
  void Launch(const std::string&) override {}
  void ShowProgress(long long done, long long total) override {
    if (!tty_ || total <= 0) return;
    percent_ = static_cast<int>(std::min(done, total) * 100 / total);
    Show(done >= total);
  }
  bool StopRequested() override { return g_interrupted != 0; }
  // Clears the status line, so the next output starts on a clean line.
  void EndLine() {
    if (tty_ && shown_) std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  static constexpr size_t kStageLength = 14;  // "Pass 2: Import" and its rows are one stage

  void Show(bool now) {
    const auto time = std::chrono::steady_clock::now();
    if (!now && shown_ && time - last_shown_ < std::chrono::milliseconds(100)) return;
    last_shown_ = time;
    std::string line = status_;
    if (percent_ >= 0) {
      if (!line.empty()) line += ' ';
      line += std::to_string(percent_) + "%";
    }
    winsize size{};
    const size_t width =
        ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    if (line.size() > width) line.resize(width);
    std::cerr << "\r\033[K" << line << std::flush;
    shown_ = true;
  }

  bool tty_ = isatty(STDERR_FILENO) != 0;
  std::string status_;
  int percent_ = -1;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_shown_;
};

struct CliOptions {
  std::string command;
  std::string run;  // undo's run id
  std::map<std::string, std::string> values;
  bool force = false;
  bool resume = false;
  bool again = false;
  bool json = false;
};

bool ParseArgs(int argc, char** argv, CliOptions* options, std::string* error) {
  static const char* const kValued[] = {"--settings", "--host", "--agency",  "--date",      "--csv",
                                        "--je",       "--inv",  "--log-dir", "--errors-csv"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--force" || arg == "--resume" || arg == "--again" || arg == "--json") {
      (arg == "--force"    ? options->force
       : arg == "--resume" ? options->resume
       : arg == "--again"  ? options->again
                           : options->json) = true;
      continue;
    }
    bool valued = false;
    for (const char* name : kValued) {
      if (arg == name) {
        if (i + 1 >= argc) {
          *error = arg + " needs a value";
          return false;
        }
        options->values[arg] = argv[++i];
        valued = true;
      } else if (arg.rfind(std::string(name) + "=", 0) == 0) {
        options->values[name] = arg.substr(std::string(name).size() + 1);
        valued = true;
      }
    }
    if (valued) continue;
    if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    }
    if (options->command == "undo" && options->run.empty()) {
      options->run = arg;
      continue;
    }
    if (!options->command.empty()) {
      *error = "one command only, not " + options->command + " and " + arg;
      return false;
    }
    options->command = arg;
  }
  static const char* const kCommands[] = {"check", "import", "export", "runs", "undo"};
  if (std::find(std::begin(kCommands), std::end(kCommands), options->command) ==
      std::end(kCommands)) {
    *error =
        options->command.empty() ? "a command is needed" : "unknown command " + options->command;
    return false;
  }
  if (options->command == "undo" && options->run.empty()) {
    *error = "undo needs the number of the run (quillmere-cli runs lists them)";
    return false;
  }
  if (options->resume && options->again) {
    *error = "--resume and --again exclude each other";
    return false;
  }
  if ((options->resume || options->again) && options->command != "import") {
    *error = std::string(options->resume ? "--resume" : "--again") + " belongs to import";
    return false;
  }
  if (options->json && options->command != "check") {
    *error = "--json belongs to check";
    return false;
  }
  if (options->values.count("--errors-csv") != 0) {
    if (options->command != "check" && options->command != "import") {
      *error = "--errors-csv belongs to check and import";
      return false;
    }
    if (options->values["--errors-csv"].empty()) {
      *error = "--errors-csv needs a file name";
      return false;
    }
  }
  return true;
}

bool ParseNumber(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *out = std::stoll(text);
  return true;
}

// True when `a` and `b` name one file: the same path once "." and ".." are resolved, or one
// file reached through links.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ignored;
  if (std::filesystem::equivalent(a, b, ignored)) return true;
  const std::filesystem::path canonical_a = std::filesystem::weakly_canonical(a, ignored);
  return !canonical_a.empty() && canonical_a == std::filesystem::weakly_canonical(b, ignored);
}

// What the run did, on standard output: the error lines after errors, else the counts (and,
// for a clean check, what the import would post).
void PrintSummary(const ImportSummary& s, ImportOutcome outcome, bool import) {
  if (outcome == ImportOutcome::kErrors) {
    std::cout << s.errors.size() << " error line(s) in " << s.rows << " row(s):\n";
    for (const Pass1Error& error : s.errors) std::cout << NumberedErrorLine(error) << "\n";
  } else if (outcome != ImportOutcome::kSetupFailed && outcome != ImportOutcome::kAlreadyPosted &&
             outcome != ImportOutcome::kRefused) {
    std::cout << "Rows read: " << s.rows << "\n";
    if (!import && outcome == ImportOutcome::kClean && s.previewed) {
      for (const std::string& line : PreviewLines(s.preview)) std::cout << line << "\n";
    }
    if (import) {
      if (s.run_id != 0) {
        std::cout << "Run: " << s.run_id << (s.resumed ? " (resumed)" : "") << "\n";
      }
      if (s.resumed) std::cout << "Rows posted before: " << s.already_posted << "\n";
      std::cout << "Rows posted: " << s.posted << "\nZero rows skipped: " << s.skipped << "\n";
      if (!s.first_je.empty()) {
        std::cout << "JE numbers: " << s.first_je << " to " << s.last_je << "\n";
      }
      if (!s.first_inv.empty()) {
        std::cout << "Invoice numbers: " << s.first_inv << " to " << s.last_inv << "\n";
      }
      if (s.messages > 0) std::cout << "Messages shown: " << s.messages << " (see the run log)\n";
      if (outcome == ImportOutcome::kPosted) {
        std::cout << "You need to rebuild control totals and migrate accounting\n";
      }
    }
  }
  if (!s.run_log.empty()) std::cout << "Run log: " << s.run_log << "\n";
}

// check --json: the one JSON object on standard output, everything else on standard error.
void PrintJsonSummary(const ImportSummary& s, ImportOutcome outcome) {
  if (outcome == ImportOutcome::kErrors) {
    std::cout << ErrorsJson(s.errors) << "\n";
  } else if (outcome == ImportOutcome::kClean) {
    if (s.previewed) {
      std::cout << PreviewJson(s.preview) << "\n";
    } else {
      std::cerr << "quillmere-cli: the check is clean, but what the import would post could "
                   "not be worked out\n";
    }
  }
  if (!s.run_log.empty()) std::cerr << "Run log: " << s.run_log << "\n";
}

// --errors-csv: the errors of a check that found some, written whole or not at all; said on
// `out`. A clean check writes nothing.
void WriteErrorReport(const ImportSummary& s, ImportOutcome outcome, const std::string& path,
                      std::ostream& out) {
  if (path.empty() || outcome != ImportOutcome::kErrors) return;
  std::string error;
  if (WriteErrorsCsv(path, s.errors, &error)) {
    out << "Errors written to " << path << "\n";
  } else {
    std::cerr << "quillmere-cli: the errors could not be written as CSV: " << error << "\n";
  }
}

// The run journal's runs, one line each, on standard output.
int ListRuns(const std::string& agency) {
  RunJournal journal;
  const std::vector<JournalRun> runs = journal.Runs(agency);
  if (!journal.error().empty()) {
    std::cerr << "quillmere-cli: " << journal.error() << "\n";
    return kExitSetupFailed;
  }
  if (runs.empty()) {
    std::cout << "The run journal holds no run" << (agency.empty() ? "" : " of agency " + agency)
              << ".\n";
    return kExitDone;
  }
  const auto numbers = [](int32_t low, int32_t high) {
    return low == 0
               ? std::string("-")
               : LeftPadZero(std::to_string(low), 6) + "-" + LeftPadZero(std::to_string(high), 6);
  };
  std::cout << "Run  Agency  Started              Rows  JE numbers     Invoice numbers  State"
               "      File\n";
  for (const JournalRun& run : runs) {
    std::string state = run.state;
    if (run.unconfirmed > 0 || run.undo_pending) state += " (recovery pending)";
    char line[160];
    std::snprintf(line, sizeof line, "%-4lld %-7s %-19s %6lld  %-13s  %-15s  %-9s  ",
                  static_cast<long long>(run.id), run.agency.c_str(), run.started.c_str(),
                  static_cast<long long>(run.rows), numbers(run.low_je, run.high_je).c_str(),
                  numbers(run.low_inv, run.high_inv).c_str(), state.c_str());
    std::cout << line << run.csv_name << "\n";
  }
  return kExitDone;
}

// Undo of one run, with a run log of its own.
int Undo(ClientFileSet& files, CliOperator& op, int64_t run_id) {
  std::string error;
  if (!files.OpenClientFiles(op, kImportFiles, &error)) {
    std::cerr << error << "\n";
    files.log().Close();
    return kExitSetupFailed;
  }
  files.log().Line("Undo of run " + std::to_string(run_id));
  LoggingOperator logged(op, files.log());
  const UndoResult result = UndoRun(files, logged, run_id);
  if (result.outcome == UndoOutcome::kUndone) {
    files.log().Line(result.message);
    std::cout << result.message << "\n";
  }
  std::cout << "Run log: " << files.log().path() << "\n";
  files.log().Close();
  return ExitCode(result.outcome);
}

int Main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return kExitDone;
    }
    if (arg == "--version") {
      std::cout << VersionLine("quillmere-cli") << "\n";
      return kExitDone;
    }
  }
  if (!ParseArgs(argc, argv, &options, &error)) {
    std::cerr << "quillmere-cli: " << error << "\n\n" << kUsage;
    return kExitSetupFailed;
  }
  const auto value = [&](const std::string& name, const std::string& fallback) {
    const auto it = options.values.find(name);
    return it == options.values.end() ? fallback : it->second;
  };

  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  RunOptions run_options;
  try {
    run_options = SettleRunOptions(exe, {}, RegistryFilePath());
  } catch (const RegistryError& e) {
    std::cerr << "quillmere-cli: " << e.what() << "\n";
    return kExitSetupFailed;
  }
  const std::vector<std::string> folders =
      SettingsFolders(std::filesystem::path(exe).parent_path().string());
  SitePaths paths;
  paths.settings_path = value("--settings", "");
  paths.host_settings_path = value("--host", ChooseHostSettingsFile(folders, run_options));
  paths.work_dir.clear();  // the command line writes no utility.ini
  if (paths.settings_path.empty()) {
    // Unlike the window, no built-in defaults: a script would reach whatever database they name.
    const SettingsFileChoice choice = ChooseSettingsFile(folders, run_options);
    if (!choice.searched.empty()) {
      std::cerr << "quillmere-cli: no settings file was found (" << choice.searched
                << "); put one there or give --settings FILE\n";
      return kExitSetupFailed;
    }
    paths.settings_path = choice.path;
  } else if (!std::filesystem::exists(paths.settings_path)) {
    std::cerr << "quillmere-cli: the settings file " << paths.settings_path << " is not there\n";
    return kExitSetupFailed;
  }

  const QString connection = QStringLiteral("quillmere-cli");
  SiteConfiguration site;
  const bool connected = ConfigureSite(paths, connection, &site, &error);
  for (const SettingsProblem& problem : site.settings.problems) {
    std::cerr << "quillmere-cli: " << problem.Message() << "\n";
  }
  if (!connected && !site.connection_failed) {  // a setting that cannot work: nothing was tried
    std::cerr << "quillmere-cli: " << error << "\n";
    return kExitSetupFailed;
  }
  if (site.store_status != 0) {
    std::cerr << "quillmere-cli: " << site.store_message << "\n";
    return kExitSetupFailed;
  }
  if (!connected) {
    std::cerr << "quillmere-cli: cannot connect to the database: " << error << "\n";
    return kExitSetupFailed;
  }

  SqlPolicyTable policy_table(connection);
  ClientFileSet files(
      &policy_table, [] { return StringDateStamp(); }, value("--log-dir", "."));
  CliOperator op;
  RunValues defaults = DefaultRunValues(run_options, NowLocal().date);
  const std::string agency = value("--agency", defaults.agency_code);
  const std::string csv = value("--csv", defaults.csv_path);

  if (options.command == "runs")
    return ListRuns(options.values.count("--agency") != 0 ? LeftPad(agency, 2) : std::string());
  if (options.command == "undo") {
    int64_t run_id = 0;
    if (!ParseNumber(options.run, &run_id)) {
      std::cerr
          << "quillmere-cli: the run to undo is a number (quillmere-cli runs lists them), not "
          << options.run << "\n";
      return kExitSetupFailed;
    }
    StopOnSignals();
    return Undo(files, op, run_id);
  }

  if (options.command == "export") {
    if (std::filesystem::exists(csv) && !options.force) {
      std::cerr << "quillmere-cli: " << csv << " exists; give --force to replace it\n";
      return kExitSetupFailed;
    }
    ExportRun run(files, op);
    const ExportOutcome outcome = run.Run({agency, csv, /*ask_before_overwrite=*/false});
    if (outcome == ExportOutcome::kWritten) {
      std::cout << "Wrote " << csv << "\nRun log: " << run.run_log() << "\n";
    }
    return ExitCode(outcome);
  }

  const std::string errors_csv = value("--errors-csv", "");
  if (!errors_csv.empty() && SameFile(errors_csv, csv)) {
    // The report would replace the balance sheet the operator is about to fix.
    std::cerr << "quillmere-cli: --errors-csv names the balance sheet " << csv
              << " itself; give the error report a name of its own\n";
    return kExitSetupFailed;
  }
  ImportRequest request = defaults;
  request.agency_code = agency;
  request.csv_path = csv;
  request.posting_date = value("--date", defaults.posting_date);
  if (!ParseNumber(value("--je", std::to_string(defaults.first_je_number)),
                   &request.first_je_number) ||
      !ParseNumber(value("--inv", std::to_string(defaults.first_inv_number)),
                   &request.first_inv_number)) {
    std::cerr << "quillmere-cli: --je and --inv take a whole number from 0 to 999999\n";
    return kExitSetupFailed;
  }
  LoadOptions load;
  load.mode = options.resume  ? LoadMode::kResume
              : options.again ? LoadMode::kAgain
                              : LoadMode::kNew;
  load.date_given = options.values.count("--date") != 0;
  load.je_given = options.values.count("--je") != 0;
  load.inv_given = options.values.count("--inv") != 0;
  StopOnSignals();
  ImportRun run(files, op);
  const ImportOutcome outcome =
      options.command == "check" ? run.Check(request) : run.Run(request, load);
  op.EndLine();
  if (!run.summary().stopped_by_operator.empty()) {
    std::cerr << run.summary().stopped_by_operator << "\n";
  }
  if (options.json) {
    PrintJsonSummary(run.summary(), outcome);
  } else {
    PrintSummary(run.summary(), outcome, options.command == "import");
  }
  WriteErrorReport(run.summary(), outcome, errors_csv, options.json ? std::cerr : std::cout);
  return ExitCode(outcome);
}

}  // namespace
}  // namespace quillmere

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  return quillmere::Main(argc, argv);
}
