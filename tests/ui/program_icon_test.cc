// The program's icon: built into the program in every size, given to the application, and named
// like the desktop entry that the package installs.
#include "ui/program_icon.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include "ui/window_test_support.h"

namespace quillmere {
namespace {

TEST(ProgramIcon, EverySizeLoadsFromTheProgramsResources) {
  testing::EnsureApplication();
  const QIcon icon = ProgramIcon();
  for (const int size : {16, 32, 48, 64, 128, 256}) {
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    const QPixmap pixmap = icon.pixmap(QSize(size, size));
    EXPECT_EQ(pixmap.size(), QSize(size, size)) << size;
  }
}

TEST(ProgramIcon, ApplyGivesTheApplicationItsIconAndDesktopEntry) {
  testing::EnsureApplication();
  ApplyProgramIcon();
  EXPECT_FALSE(QApplication::windowIcon().isNull());
  EXPECT_TRUE(QApplication::windowIcon().availableSizes().contains(QSize(48, 48)));
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("quillmere"));
}

// A desktop shows the entry's icon for the running window only when the name the program gives
// is the entry's file name, and the entry names the icon that the package installs.
TEST(ProgramIcon, DesktopEntryMatchesTheNameTheProgramGives) {
  const QString dir = QStringLiteral(QUILLMERE_SOURCE_DIR "/packaging/");
  const QString name = QString::fromLatin1(kDesktopEntryName);
  QFile entry(dir + name + QStringLiteral(".desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text)) << entry.fileName().toStdString();
  const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
  EXPECT_TRUE(lines.contains(QStringLiteral("Icon=") + name));
  EXPECT_TRUE(QFile::exists(dir + QStringLiteral("icons/") + name + QStringLiteral(".svg")));
}

}  // namespace
}  // namespace quillmere
