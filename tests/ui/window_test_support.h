// Window-test plumbing: the QApplication on Qt's offscreen platform, and desktop services that
// record what the window asked for instead of opening dialogs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "db/qt_text.h"
#include "ui/main_window.h"

namespace quillmere::testing {

// The one QApplication of a window test program, on the offscreen platform unless the
// environment chose another.
inline void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
  }
  static int argc = 1;
  static char arg0[] = "quillmere-window-test";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: Qt SQL's registry of connections is gone by then, and the application's
  // clean-up would reach for it.
  new QApplication(argc, argv);
}

// Handles events until `done()` holds or `ms` milliseconds passed; returns `done()`.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

struct RecordingDesktop {
  QStringList messages, opened;
  QStringList chooser_folders, chooser_names;  // what each file chooser opened on
  std::optional<QString> chooser_answer;       // nullopt: the operator cancels

  DesktopServices Services() {
    DesktopServices services;
    services.show_message = [this](QWidget*, const QString& text) { messages << text; };
    services.choose_file = [this](QWidget*, const QString& folder, const QString& file_name) {
      chooser_folders << folder;
      chooser_names << file_name;
      return chooser_answer;
    };
    services.open_file = [this](const QString& path) { opened << path; };
    return services;
  }
};

}  // namespace quillmere::testing
