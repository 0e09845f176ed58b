// quillmere: the desktop program. Settles the run options, applies the theme, shows the main
// window and runs the event loop until the window closes.
#include <QApplication>
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "db/qt_text.h"
#include "startup/registry.h"
#include "startup/run_options.h"
#include "startup/user_folders.h"
#include "ui/confirm_dialog.h"
#include "ui/main_window.h"
#include "ui/program_entry.h"
#include "ui/theme.h"
#include "ui/window_font.h"

namespace {

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

  WindowSetup setup;
  setup.run_options = *options;
  setup.settings_folders = SettingsFolders(std::filesystem::path(exe).parent_path().string());
  TForm1 form(setup);
  TfrmConfirm confirm(&form);
  form.set_confirm_dialog(&confirm);
  form.show();
  return app.exec();
}
