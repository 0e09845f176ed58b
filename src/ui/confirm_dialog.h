// TfrmConfirm: the Yes/No question an operation may ask (overwrite the exported file, stop the
// running import). Created hidden at start-up; a caller sets the prompt and shows it modally.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace quillmere {

class TfrmConfirm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kYes = 6;  // "Yes"
  static constexpr int kNo = 7;   // "No"; the close box gives neither

  explicit TfrmConfirm(QWidget* parent = nullptr);

  // Shows `prompt` in lblPrompt and the dialog modally; 6, 7, or another result (0) when the
  // dialog was closed by its close box or Escape.
  int Ask(const QString& prompt);

 private:
  QLabel* lblPrompt;
  QPushButton* Button1;
  QPushButton* Button2;
};

}  // namespace quillmere
