// The preview of a clean file before it is posted: its opening trial balance, the numbers and
// writes the posting will make, and the warnings; "Post" accepts, "Cancel" (the default, and
// Escape or the close box) rejects. Nothing is posted while it is open.
#pragma once

#include <QDialog>
#include <string>

#include "import/preview.h"

namespace quillmere {

class PreviewDialog : public QDialog {
  Q_OBJECT

 public:
  // `what`: what will be posted, for the heading ("balances.csv for agency 01, posting date
  // 12/31/2024").
  PreviewDialog(const Preview& preview, const std::string& what, QWidget* parent = nullptr);
};

}  // namespace quillmere
