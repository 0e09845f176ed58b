#include "ui/theme.h"

#include <QApplication>
#include <QFile>

#include "db/qt_text.h"

// The resources of a static library register only when asked to.
static void InitThemeResource() { Q_INIT_RESOURCE(theme); }

namespace quillmere {

bool ApplyTheme(QApplication& app, std::string* error) {
  InitThemeResource();
  QFile file(QStringLiteral(":/themes/sapphire_kamri.qss"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    *error = "Unable to apply the theme " + std::string(kThemeName) + ": " +
             ToRecordText(file.errorString());
    return false;
  }
  app.setStyleSheet(QString::fromUtf8(file.readAll()));
  return true;
}

}  // namespace quillmere
