#include "ui/program_icon.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QString>

// The resources of a static library register only when asked to.
static void InitProgramIconResource() { Q_INIT_RESOURCE(program_icon); }

namespace quillmere {

QIcon ProgramIcon() {
  InitProgramIconResource();
  QIcon icon;
  for (const int size : {16, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/quillmere-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

void ApplyProgramIcon() {
  QApplication::setWindowIcon(ProgramIcon());
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntryName));
}

}  // namespace quillmere
