// TfrmConfirm on Qt's offscreen platform: its controls and the result of each way out.
#include "ui/confirm_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "ui/window_test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::EnsureApplication;

TEST(TfrmConfirm, HasItsCaptionSizeAndControls) {
  EnsureApplication();
  TfrmConfirm dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("frmConfirm"));
  EXPECT_EQ(dialog.size(), QSize(442, 147));
  EXPECT_FALSE(dialog.isVisible());  // hidden until asked
  auto* prompt = dialog.findChild<QLabel*>(QStringLiteral("lblPrompt"));
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(prompt->text(), QStringLiteral("Please Confirm"));
  EXPECT_EQ(prompt->geometry().topLeft(), QPoint(40, 32));
  EXPECT_EQ(prompt->width(), 377);
  EXPECT_TRUE(prompt->alignment() & Qt::AlignHCenter);
  EXPECT_FALSE(prompt->wordWrap());
  auto* yes = dialog.findChild<QPushButton*>(QStringLiteral("Button1"));
  auto* no = dialog.findChild<QPushButton*>(QStringLiteral("Button2"));
  ASSERT_NE(yes, nullptr);
  ASSERT_NE(no, nullptr);
  EXPECT_EQ(yes->text(), QStringLiteral("Yes"));
  EXPECT_EQ(yes->geometry(), QRect(32, 80, 150, 32));
  EXPECT_TRUE(yes->isDefault());
  EXPECT_EQ(no->text(), QStringLiteral("No"));
  EXPECT_EQ(no->geometry(), QRect(267, 80, 150, 32));
}

TEST(TfrmConfirm, EachWayOutGivesItsResult) {
  EnsureApplication();
  const struct {
    const char* way;
    std::function<void(TfrmConfirm&)> leave;
    int want;
  } kCases[] = {
      {"Yes", [](TfrmConfirm& d) { d.findChild<QPushButton*>(QStringLiteral("Button1"))->click(); },
       6},
      {"No", [](TfrmConfirm& d) { d.findChild<QPushButton*>(QStringLiteral("Button2"))->click(); },
       7},
      {"close box", [](TfrmConfirm& d) { d.close(); }, 0},  // neither yes nor no
  };
  for (const auto& c : kCases) {
    TfrmConfirm dialog;
    QString shown;
    QTimer::singleShot(0, [&] {
      shown = dialog.findChild<QLabel*>(QStringLiteral("lblPrompt"))->text();
      c.leave(dialog);
    });
    EXPECT_EQ(dialog.Ask(QStringLiteral("[chart.csv] exists. Overwrite?")), c.want) << c.way;
    EXPECT_EQ(shown, QStringLiteral("[chart.csv] exists. Overwrite?")) << c.way;
  }
}

// A prompt holding "<b>" (a file name may) is shown as those characters, never as bold.
TEST(TfrmConfirm, PromptShowsMarkupAsCharacters) {
  EnsureApplication();
  TfrmConfirm dialog;
  const QString kPrompt = QStringLiteral("[<b>x</b>.csv] exists. Overwrite?");
  int shown_width = 0;
  QTimer::singleShot(0, [&] {
    shown_width = dialog.findChild<QLabel*>(QStringLiteral("lblPrompt"))->sizeHint().width();
    dialog.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
  });
  dialog.Ask(kPrompt);
  EXPECT_GE(shown_width, dialog.fontMetrics().horizontalAdvance(kPrompt));
}

}  // namespace
}  // namespace quillmere
