// The errors a check found, one row per CSV line (line, reasons, the line's text), with buttons
// to open the run log and to save the errors as a CSV file for fixing in a spreadsheet.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "import/import_run.h"

namespace quillmere {

class ErrorReportDialog : public QDialog {
  Q_OBJECT

 public:
  struct Services {
    // Opens an absolute path with the desktop's associated program.
    std::function<void(const QString& path)> open_file;
    // A file name to save as, `preset` proposed; nullopt when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& preset)> choose_save;
    // A message with an OK button.
    std::function<void(QWidget* parent, const QString& text)> show_message;
  };

  // `csv_path`: the checked file (the saved errors are proposed beside it); `run_log`: the
  // run's log, "" when it has none.
  ErrorReportDialog(const std::vector<Pass1Error>& errors, const std::string& csv_path,
                    const std::string& run_log, Services services, QWidget* parent = nullptr);

  // Saves the errors to `path` whole (or not at all, with the reason shown); true when saved.
  bool SaveTo(const QString& path);

 private:
  std::vector<Pass1Error> errors_;
  std::string csv_path_;
  Services services_;
};

}  // namespace quillmere
