#include "ui/posted_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "db/qt_text.h"
#include "ui/window_font.h"

namespace quillmere {

namespace {

QString Range(const std::string& first, const std::string& last) {
  if (first.empty()) return QStringLiteral("none");
  return FromRecordText(first) + QStringLiteral(" to ") + FromRecordText(last);
}

}  // namespace

PostedDialog::PostedDialog(const ImportSummary& summary,
                           std::function<void(const QString& path)> open_file, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dlgPosted"));
  setWindowTitle(QStringLiteral("Quillmere - posted"));
  setFont(WindowFont());
  setModal(true);
  resize(720, 300);
  auto* layout = new QVBoxLayout(this);

  QString text = QStringLiteral("Rows posted: ") + QString::number(summary.posted) +
                 QStringLiteral("\nZero rows skipped: ") + QString::number(summary.skipped);
  if (summary.resumed) {
    text += QStringLiteral("\nRows posted before, by the run's earlier part: ") +
            QString::number(summary.already_posted);
  }
  if (summary.run_id != 0) text += QStringLiteral("\nRun: ") + QString::number(summary.run_id);
  text += QStringLiteral("\nJournal entries: ") + Range(summary.first_je, summary.last_je) +
          QStringLiteral("\nInvoices: ") + Range(summary.first_inv, summary.last_inv);
  if (summary.messages > 0) {
    text += QStringLiteral("\nMessages shown: ") + QString::number(summary.messages) +
            QStringLiteral(" (each is in the run log)");
  }
  auto* facts = new QLabel(text, this);
  facts->setObjectName(QStringLiteral("lblPosted"));
  facts->setTextFormat(Qt::PlainText);
  layout->addWidget(facts);

  const QString log = QFileInfo(FromPath(summary.run_log)).absoluteFilePath();
  auto* log_label = new QLabel(QStringLiteral("Run log: ") + log, this);
  log_label->setObjectName(QStringLiteral("lblRunLog"));
  log_label->setTextFormat(Qt::PlainText);
  log_label->setWordWrap(true);
  log_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(log_label);

  auto* reminder = new QLabel(FromRecordText(kPostingReminder), this);
  reminder->setObjectName(QStringLiteral("lblReminder"));
  reminder->setTextFormat(Qt::PlainText);
  QFont bold = reminder->font();
  bold.setBold(true);
  reminder->setFont(bold);
  layout->addWidget(reminder);
  layout->addStretch(1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* open =
      buttons->addButton(QStringLiteral("Open run log"), QDialogButtonBox::ActionRole);
  open->setObjectName(QStringLiteral("btnOpenLog"));
  connect(open, &QPushButton::clicked, this, [open_file, log] { open_file(log); });
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("btnOK"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

}  // namespace quillmere
