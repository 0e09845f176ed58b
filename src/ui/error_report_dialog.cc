#include "ui/error_report_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "db/qt_text.h"
#include "import/error_report.h"
#include "ui/window_font.h"

namespace quillmere {

ErrorReportDialog::ErrorReportDialog(const std::vector<Pass1Error>& errors,
                                     const std::string& csv_path, const std::string& run_log,
                                     Services services, QWidget* parent)
    : QDialog(parent), errors_(errors), csv_path_(csv_path), services_(std::move(services)) {
  setObjectName(QStringLiteral("dlgErrors"));
  setWindowTitle(QStringLiteral("Quillmere - errors found"));
  setFont(WindowFont());
  setModal(true);
  resize(900, 480);
  auto* layout = new QVBoxLayout(this);

  const std::vector<ErrorLine> lines = GroupErrors(errors_);
  auto* heading = new QLabel(
      QStringLiteral("Errors found in input file: nothing was posted. Fix these lines and load "
                     "the file again."),
      this);
  heading->setObjectName(QStringLiteral("lblHeading"));
  heading->setTextFormat(Qt::PlainText);
  heading->setWordWrap(true);
  layout->addWidget(heading);

  auto* table = new QTableWidget(static_cast<int>(lines.size()), 3, this);
  table->setObjectName(QStringLiteral("tblErrors"));
  table->setHorizontalHeaderLabels(
      {QStringLiteral("Line"), QStringLiteral("Reasons"), QStringLiteral("Text")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // One text line per reason: rows as high as their reasons, never as a wrapped long line.
  table->setWordWrap(false);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setFocusPolicy(Qt::NoFocus);
  int row = 0;
  for (const ErrorLine& line : lines) {
    auto* number = new QTableWidgetItem(line.line_number == 0 ? QStringLiteral("file")
                                                              : QString::number(line.line_number));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignTop);
    table->setItem(row, 0, number);
    QString reasons;
    for (const std::string& reason : line.reasons) {
      if (!reasons.isEmpty()) reasons += QLatin1Char('\n');
      reasons += FromRecordText(reason);
    }
    table->setItem(row, 1, new QTableWidgetItem(reasons));
    table->setItem(row, 2, new QTableWidgetItem(FromRecordText(line.text)));
    ++row;
  }
  table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  table->resizeRowsToContents();
  layout->addWidget(table, 1);

  if (!run_log.empty()) {
    auto* log = new QLabel(
        QStringLiteral("Run log: ") + QFileInfo(FromPath(run_log)).absoluteFilePath(), this);
    log->setObjectName(QStringLiteral("lblRunLog"));
    log->setTextFormat(Qt::PlainText);
    log->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(log);
  }

  auto* buttons = new QDialogButtonBox(this);
  if (!run_log.empty()) {
    QPushButton* open =
        buttons->addButton(QStringLiteral("Open run log"), QDialogButtonBox::ActionRole);
    open->setObjectName(QStringLiteral("btnOpenLog"));
    const QString path = QFileInfo(FromPath(run_log)).absoluteFilePath();
    connect(open, &QPushButton::clicked, this, [this, path] { services_.open_file(path); });
  }
  QPushButton* save =
      buttons->addButton(QStringLiteral("Save errors as CSV..."), QDialogButtonBox::ActionRole);
  save->setObjectName(QStringLiteral("btnSaveErrors"));
  connect(save, &QPushButton::clicked, this, [this] {
    const QFileInfo csv(FromPath(csv_path_));
    const QString preset =
        csv.absoluteDir().filePath(csv.completeBaseName() + QStringLiteral("_errors.csv"));
    if (const std::optional<QString> path = services_.choose_save(this, preset)) SaveTo(*path);
  });
  QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("btnClose"));
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

bool ErrorReportDialog::SaveTo(const QString& path) {
  std::string error;
  if (WriteErrorsCsv(ToPath(path), errors_, &error)) {
    services_.show_message(this, QStringLiteral("The errors were saved to ") + path);
    return true;
  }
  services_.show_message(this,
                         QStringLiteral("The errors could not be saved: ") + FromRecordText(error));
  return false;
}

}  // namespace quillmere
