// What a posting did, once it ran: rows posted and skipped, the numbers used, the run log with a
// button to open it, and the reminder of what the operator does next.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "import/import_run.h"

namespace quillmere {

class PostedDialog : public QDialog {
  Q_OBJECT

 public:
  PostedDialog(const ImportSummary& summary, std::function<void(const QString& path)> open_file,
               QWidget* parent = nullptr);
};

}  // namespace quillmere
