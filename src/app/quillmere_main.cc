// quillmere: the desktop program. Settles the run options, applies the theme, shows the main
// window and runs the event loop until the window closes.
#include <QApplication>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/version.h"
#include "db/qt_text.h"
#include "startup/registry.h"
#include "startup/run_options.h"
#include "startup/user_folders.h"
#include "ui/confirm_dialog.h"
#include "ui/main_window.h"
#include "ui/program_entry.h"
#include "ui/program_icon.h"
#include "ui/theme.h"
#include "ui/window_font.h"

namespace {

constexpr char kUsage[] =
    R"(usage: quillmere [/aCODE] [/cNAME] [/iNAME] [--user-folder] [Qt options]
       quillmere --help | --version

The desktop window that checks a balance sheet CSV against an agency's master file and imports
it into the agency's record files and MySQL Policy table, or writes the agency's GL chart as a
CSV template.

Switches (the letter of /a, /c and /i in any case; the last of each counts):
  /aCODE         start-up agency code (default: the per-user registry value AgencyCode,
                 else 01)
  /cNAME         data-directory settings file (default VELFILES.ini); its extension is made
                 .ini; the name is read as typed when that file exists, else in lower case
  /iNAME         host settings file handed to the record-file library (default zel.ini)
  --user-folder  work in ~/Quillmere, made when missing: utility.ini and the run logs are
                 written there, and the CSV name is looked for there (the desktop entry
                 starts the window this way)
  -h, --help     this text
  --version      the version line
Other switches are ignored. Qt's own options (such as -platform NAME) are accepted.

Settings files: a name with a folder in it is used as given (relative to the working folder);
a bare name is looked for beside the program, then in $XDG_CONFIG_HOME/quillmere (default
~/.config/quillmere), then in /etc/quillmere, and the first found is used. When no settings
file is found, the window uses the built-in settings and says which places it searched.
Without --user-folder, utility.ini and the run logs (balances_<date>-<time>.txt) are written
in the working folder.

Exit status: 0 when the window closes; 1 when the program ends before its window (a registry
value that is not text, a user folder that cannot be made).
)";

// --help and --version, answered before QApplication exists, so they need no display. Returns
// the exit status when one of them was given (the first counts), else nullopt.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << quillmere::VersionLine("quillmere") << "\n";
      return 0;
    }
  }
  return std::nullopt;
}

std::string ExecutablePath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.string();
  return quillmere::ToPath(QCoreApplication::applicationFilePath());
}

// The start's messages, before there is a window: a registry value or a folder name is shown as
// its characters, never read as markup.
void ShowStartupMessage(const QString& text) { quillmere::ShowPlainMessage(nullptr, text); }

}  // namespace

int main(int argc, char** argv) {
  using namespace quillmere;
  if (const std::optional<int> status = AnswerHelpOrVersion(argc, argv)) return *status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kProgramName));
  QApplication::setFont(WindowFont());  // message boxes read like the window

  const std::string exe = ExecutablePath();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--user-folder") != args.end()) {
    // The desktop entry's start: utility.ini, the run logs and the balance sheets go to a folder
    // of the user's, never to whatever folder the desktop started the program in.
    std::string folder, error;
    if (!EnterUserWorkFolder(&folder, &error)) {
      ShowStartupMessage(FromRecordText(error));
      return 1;
    }
  }
  const std::optional<RunOptions> options =
      SettleRunOptionsOrReport(exe, args, RegistryFilePath(), ShowStartupMessage);
  if (!options) return 1;

  std::string error;
  if (!ApplyTheme(app, &error)) {
    ShowStartupMessage(FromRecordText(error));
  }
  ApplyProgramIcon();

  WindowSetup setup;
  setup.run_options = *options;
  setup.settings_folders = SettingsFolders(std::filesystem::path(exe).parent_path().string());
  TForm1 form(setup);
  TfrmConfirm confirm(&form);
  form.set_confirm_dialog(&confirm);
  form.show();
  return app.exec();
}
