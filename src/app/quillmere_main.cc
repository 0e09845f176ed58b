// quillmere: the desktop program. Settles the run options, applies the theme, shows the main
// window and runs the event loop until the window closes.
#include <QApplication>
#include <QMessageBox>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "db/qt_text.h"
#include "startup/registry.h"
#include "startup/run_options.h"
#include "ui/confirm_dialog.h"
#include "ui/main_window.h"
#include "ui/program_entry.h"
#include "ui/program_icon.h"
#include "ui/theme.h"
#include "ui/window_font.h"

namespace {

std::string ExecutablePath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.string();
  return quillmere::ToPath(QCoreApplication::applicationFilePath());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillmere;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kProgramName));
  QApplication::setFont(WindowFont());  // message boxes read like the window

  const std::string exe = ExecutablePath();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::optional<RunOptions> options =
      SettleRunOptionsOrReport(exe, args, RegistryFilePath(), [](const QString& text) {
        QMessageBox::critical(nullptr, QString::fromLatin1(kProgramName), text);
      });
  if (!options) return 1;

  std::string error;
  if (!ApplyTheme(app, &error)) {
    QMessageBox::warning(nullptr, QString::fromLatin1(kProgramName), FromRecordText(error));
  }
  ApplyProgramIcon();

  WindowSetup setup;
  setup.run_options = *options;
  setup.program_dir = std::filesystem::path(exe).parent_path().string();
  TForm1 form(setup);
  TfrmConfirm confirm(&form);
  form.set_confirm_dialog(&confirm);
  form.show();
  return app.exec();
}
