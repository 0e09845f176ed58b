// Window-test plumbing: the QApplication on Qt's offscreen platform, and desktop services that
// record what the window asked for instead of opening dialogs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

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
  std::vector<Preview> previews;               // each preview shown
  QStringList preview_what;
  bool approve = true;               // the answer to each preview: Post
  std::function<void()> on_preview;  // called while a preview is shown
  std::vector<ImportSummary> errors_shown, posted_shown;

  DesktopServices Services() {
    DesktopServices services;
    services.show_message = [this](QWidget*, const QString& text) { messages << text; };
    services.choose_file = [this](QWidget*, const QString& folder, const QString& file_name) {
      chooser_folders << folder;
      chooser_names << file_name;
      return chooser_answer;
    };
    services.open_file = [this](const QString& path) { opened << path; };
    services.approve_preview = [this](QWidget*, const Preview& preview, const QString& what) {
      previews.push_back(preview);
      preview_what << what;
      if (on_preview) on_preview();
      return approve;
    };
    services.show_errors = [this](QWidget*, const ImportSummary& summary, const std::string&) {
      errors_shown.push_back(summary);
    };
    services.show_posted = [this](QWidget*, const ImportSummary& summary) {
      posted_shown.push_back(summary);
    };
    return services;
  }
};

}  // namespace quillmere::testing
