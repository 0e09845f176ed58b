#include "ui/confirm_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "ui/window_font.h"

namespace quillmere {

TfrmConfirm::TfrmConfirm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmConfirm"));
  setWindowTitle(QStringLiteral("frmConfirm"));
  setFixedSize(442, 147);
  setFont(WindowFont());
  setModal(true);

  lblPrompt = new QLabel(QStringLiteral("Please Confirm"), this);
  lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt->setGeometry(40, 32, 377, 23);
  lblPrompt->setAlignment(Qt::AlignCenter);
  lblPrompt->setWordWrap(false);
  lblPrompt->setTextFormat(Qt::PlainText);  // a file name in the prompt is never markup

  Button1 = new QPushButton(QStringLiteral("Yes"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(32, 80, 150, 32);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, [this] { done(kYes); });

  Button2 = new QPushButton(QStringLiteral("No"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(267, 80, 150, 32);
  connect(Button2, &QPushButton::clicked, this, [this] { done(kNo); });
}

int TfrmConfirm::Ask(const QString& prompt) {
  lblPrompt->setText(prompt);
  Button1->setFocus();
  return exec();
}

}  // namespace quillmere
