#include "ui/preview_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "db/qt_text.h"
#include "ui/window_font.h"

namespace quillmere {

namespace {

QString Text(const std::string& text) { return FromRecordText(text); }
QString Number(int64_t n) { return QString::number(n); }
QString Amount(int64_t cents) { return Text(FormatCents(cents)); }
QString Document(int32_t number) {
  return QStringLiteral("%1").arg(number, 6, 10, QLatin1Char('0'));
}
QString Range(int32_t first, int32_t last) {
  if (first == 0) return QStringLiteral("none");
  return Document(first) + QStringLiteral(" to ") + Document(last);
}

QLabel* Paragraph(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  return label;
}

}  // namespace

PreviewDialog::PreviewDialog(const Preview& preview, const std::string& what, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dlgPreview"));
  setWindowTitle(QStringLiteral("Quillmere - what will be posted"));
  setFont(WindowFont());
  setModal(true);
  resize(860, 680);
  auto* layout = new QVBoxLayout(this);

  layout->addWidget(Paragraph(
      QStringLiteral("Posting ") + Text(what) + QStringLiteral(". Nothing has been posted yet."),
      "lblHeading", this));

  // The trial balance: one line per account, then the totals.
  auto* table = new QTableWidget(static_cast<int>(preview.accounts.size()) + 1, 6, this);
  table->setObjectName(QStringLiteral("tblTrialBalance"));
  table->setHorizontalHeaderLabels({QStringLiteral("GL"), QStringLiteral("Rows"),
                                    QStringLiteral("Debit"), QStringLiteral("Credit"),
                                    QStringLiteral("Parties"), QStringLiteral("On several rows")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionMode(QAbstractItemView::NoSelection);
  table->setFocusPolicy(Qt::NoFocus);
  const auto put = [table](int row, int column, const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(number ? (Qt::AlignRight | Qt::AlignVCenter) : Qt::AlignVCenter);
    table->setItem(row, column, item);
  };
  int row = 0;
  bool shared = false;
  for (const AccountTotal& account : preview.accounts) {
    put(row, 0, Text(account.gl), false);
    put(row, 1, Number(account.rows), true);
    put(row, 2, Amount(account.debit_cents), true);
    put(row, 3, Amount(account.credit_cents), true);
    put(row, 4, account.control ? Number(account.parties) : QString(), true);
    put(row, 5, account.control ? Number(account.shared_parties) : QString(), true);
    shared = shared || account.shared_parties > 0;
    ++row;
  }
  int64_t rows = 0;
  for (const AccountTotal& account : preview.accounts) rows += account.rows;
  put(row, 0, QStringLiteral("Total"), false);
  put(row, 1, Number(rows), true);
  put(row, 2, Amount(preview.debit_cents), true);
  put(row, 3, Amount(preview.credit_cents), true);
  QFont bold = table->font();
  bold.setBold(true);
  for (int column = 0; column < 4; ++column) table->item(row, column)->setFont(bold);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  layout->addWidget(table, 1);

  QString facts = QStringLiteral("Net total: ") + Amount(preview.net_cents()) +
                  QStringLiteral(".  Rows read: ") + Number(preview.rows) +
                  QStringLiteral(", zero rows skipped: ") + Number(preview.zero_rows) +
                  QStringLiteral(".");
  if (preview.already_posted > 0) {
    facts += QStringLiteral("  Rows posted by the run's earlier part, skipped now: ") +
             Number(preview.already_posted) + QStringLiteral(".");
  }
  layout->addWidget(Paragraph(facts, "lblTotals", this));
  if (shared) {
    layout->addWidget(Paragraph(
        QStringLiteral("A party on several rows gets one placeholder policy, which keeps the "
                       "department and invoice of its last row."),
        "lblShared", this));
  }
  layout->addWidget(
      Paragraph(QStringLiteral("Journal entries: ") + Range(preview.first_je, preview.last_je) +
                    QStringLiteral(";  invoices: ") + Range(preview.first_inv, preview.last_inv) +
                    QStringLiteral(". A forecast: numbers another program takes before posting are "
                                   "passed over then."),
                "lblNumbers", this));
  QString writes = QStringLiteral("Writes: ");
  for (const RecordFileWrites& file : preview.record_writes) {
    writes += Text(file.file) + QStringLiteral(" ") + Number(file.inserted) +
              QStringLiteral(" new, ") + Number(file.replaced) + QStringLiteral(" replaced;  ");
  }
  writes += QStringLiteral("Policy rows ") + Number(preview.policy_inserted) +
            QStringLiteral(" new, ") + Number(preview.policy_updated) + QStringLiteral(" updated.");
  layout->addWidget(Paragraph(writes, "lblWrites", this));

  if (!preview.warnings.empty()) {
    QString text;
    for (const PreviewWarning& warning : preview.warnings) {
      if (!text.isEmpty()) text += QLatin1Char('\n');
      text += QStringLiteral("Warning: ");
      if (warning.line_number > 0) {
        text += QStringLiteral("line ") + Number(warning.line_number) + QStringLiteral(": ");
      }
      text += Text(warning.text);
    }
    QLabel* warnings = Paragraph(text, "lblWarnings", this);
    warnings->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold;"));
    layout->addWidget(warnings);
  }

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* post = buttons->addButton(QStringLiteral("&Post"), QDialogButtonBox::AcceptRole);
  post->setObjectName(QStringLiteral("btnPost"));
  QPushButton* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  // Enter never posts by accident: the default is Cancel.
  post->setAutoDefault(false);
  cancel->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

}  // namespace quillmere
