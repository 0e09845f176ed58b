// The import's dialogs on the offscreen platform: the preview, the error report and the
// summary after posting show what they are given, as plain text, and their buttons do what
// they say.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>
#include <optional>

#include "import/error_report.h"
#include "support/test_support.h"
#include "ui/error_report_dialog.h"
#include "ui/posted_dialog.h"
#include "ui/preview_dialog.h"
#include "ui/window_test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::EnsureApplication;
using ::testing::HasSubstr;
using ::testing::Not;

std::string LabelText(const QWidget& dialog, const char* name) {
  const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
  return label == nullptr ? "<no " + std::string(name) + ">" : ToRecordText(label->text());
}

std::vector<std::string> TableRow(const QWidget& dialog, const char* name, int row) {
  const auto* table = dialog.findChild<QTableWidget*>(QString::fromLatin1(name));
  std::vector<std::string> cells;
  if (table == nullptr) return {"<no table>"};
  for (int column = 0; column < table->columnCount(); ++column) {
    const QTableWidgetItem* item = table->item(row, column);
    cells.push_back(item == nullptr ? "" : ToRecordText(item->text()));
  }
  return cells;
}

Preview SamplePreview() {
  Preview preview;
  preview.accounts = {
      {"1000", 2, 357107, 0}, {"1120", 3, 8550, 0, true, 2, 1}, {"4<b>", 1, 0, 100}};
  preview.rows = 7;
  preview.zero_rows = 1;
  preview.debit_cents = 357107 + 8550;
  preview.credit_cents = 100;
  preview.first_je = 100001;
  preview.last_je = 100006;
  preview.first_inv = 500001;
  preview.last_inv = 500003;
  preview.record_writes = {{"jcki", 14, 0}, {"desc", 9, 0}, {"pol", 2, 1}};
  preview.policy_inserted = 2;
  preview.policy_updated = 1;
  preview.warnings = {{PreviewWarning::Kind::kOutOfBalance, 0, "The file is out of balance"},
                      {PreviewWarning::Kind::kKindName, 4, "SubType [Bank] of GL 1000"}};
  return preview;
}

TEST(PreviewDialogTest, ShowsTheTrialBalanceNumbersWritesAndWarnings) {
  EnsureApplication();
  PreviewDialog dialog(SamplePreview(), "b.csv for agency 01, posting date 12/31/2024");
  EXPECT_THAT(LabelText(dialog, "lblHeading"), HasSubstr("b.csv for agency 01"));
  EXPECT_EQ(TableRow(dialog, "tblTrialBalance", 0),
            (std::vector<std::string>{"1000", "2", "3571.07", "0.00", "", ""}));
  EXPECT_EQ(TableRow(dialog, "tblTrialBalance", 1),
            (std::vector<std::string>{"1120", "3", "85.50", "0.00", "2", "1"}));
  EXPECT_EQ(TableRow(dialog, "tblTrialBalance", 2)[0], "4<b>");  // plain text
  EXPECT_EQ(TableRow(dialog, "tblTrialBalance", 3),
            (std::vector<std::string>{"Total", "6", "3656.57", "1.00", "", ""}));
  EXPECT_THAT(LabelText(dialog, "lblTotals"), HasSubstr("Net total: 3655.57"));
  EXPECT_THAT(LabelText(dialog, "lblShared"), HasSubstr("last row"));
  EXPECT_THAT(LabelText(dialog, "lblNumbers"),
              HasSubstr("Journal entries: 100001 to 100006;  invoices: 500001 to 500003"));
  EXPECT_THAT(LabelText(dialog, "lblWrites"), HasSubstr("pol 2 new, 1 replaced"));
  EXPECT_THAT(LabelText(dialog, "lblWrites"), HasSubstr("Policy rows 2 new, 1 updated"));
  EXPECT_THAT(LabelText(dialog, "lblWarnings"), HasSubstr("Warning: line 4: SubType [Bank]"));
  const auto* label = dialog.findChild<QLabel*>(QStringLiteral("lblWarnings"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->textFormat(), Qt::PlainText);

  // Post accepts, Cancel (also the default button) rejects.
  auto* post = dialog.findChild<QPushButton*>(QStringLiteral("btnPost"));
  auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("btnCancel"));
  ASSERT_NE(post, nullptr);
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(cancel->isDefault());
  EXPECT_FALSE(post->isDefault());
  dialog.show();
  post->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  dialog.show();
  cancel->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(PostedDialogTest, SaysWhatWasPostedWhereTheLogIsAndWhatComesNext) {
  EnsureApplication();
  ImportSummary summary;
  summary.posted = 8;
  summary.skipped = 1;
  summary.run_id = 3;
  summary.first_je = "100002";
  summary.last_je = "100009";
  summary.first_inv = "500001";
  summary.last_inv = "500006";
  summary.run_log = "/var/tmp/balances_1.txt";
  QStringList opened;
  PostedDialog dialog(summary, [&](const QString& path) { opened << path; });
  EXPECT_EQ(LabelText(dialog, "lblPosted"),
            "Rows posted: 8\nZero rows skipped: 1\nRun: 3\nJournal entries: 100002 to 100009\n"
            "Invoices: 500001 to 500006");
  EXPECT_EQ(LabelText(dialog, "lblRunLog"), "Run log: /var/tmp/balances_1.txt");
  EXPECT_EQ(LabelText(dialog, "lblReminder"), kPostingReminder);
  dialog.findChild<QPushButton*>(QStringLiteral("btnOpenLog"))->click();
  EXPECT_EQ(opened, QStringList{QStringLiteral("/var/tmp/balances_1.txt")});
}

TEST(ErrorReportDialogTest, OneRowPerLineAndTheErrorsSavedAsCsv) {
  EnsureApplication();
  testing::TempDir dir;
  const std::vector<Pass1Error> errors = {
      {3, "GL not found [9999]", "9999,X,NONE,Debit,ZZ,5"},
      {3, "Dpt not found [ZZ]", "9999,X,NONE,Debit,ZZ,5"},
      {5, "Unable to convert (<b>) to floating point", "4000,Cash,NONE,Debit,GA,<b>"},
      {0, "Starting JE Number [999999] leaves 0 numbers below 1000000 for 2 journal entries", ""}};
  QStringList opened, messages;
  std::optional<QString> save_as;
  QStringList presets;
  ErrorReportDialog::Services services;
  services.open_file = [&](const QString& path) { opened << path; };
  services.choose_save = [&](QWidget*, const QString& preset) {
    presets << preset;
    return save_as;
  };
  services.show_message = [&](QWidget*, const QString& text) { messages << text; };
  ErrorReportDialog dialog(errors, dir.File("b.csv"), dir.File("balances_T.txt"), services);

  EXPECT_EQ(TableRow(dialog, "tblErrors", 0),
            (std::vector<std::string>{"3", "GL not found [9999]\nDpt not found [ZZ]",
                                      "9999,X,NONE,Debit,ZZ,5"}));
  EXPECT_EQ(TableRow(dialog, "tblErrors", 1)[1], "Unable to convert (<b>) to floating point");
  EXPECT_EQ(TableRow(dialog, "tblErrors", 2)[0], "file");

  dialog.findChild<QPushButton*>(QStringLiteral("btnOpenLog"))->click();
  EXPECT_EQ(opened, QStringList{FromPath(dir.File("balances_T.txt"))});

  // Cancel in the chooser writes nothing; a chosen name gets the errors whole.
  auto* save = dialog.findChild<QPushButton*>(QStringLiteral("btnSaveErrors"));
  save->click();
  EXPECT_EQ(presets, QStringList{FromPath(dir.File("b_errors.csv"))});
  EXPECT_TRUE(messages.isEmpty());
  save_as = FromPath(dir.File("fix.csv"));
  save->click();
  EXPECT_EQ(testing::ReadFile(dir.File("fix.csv")), ErrorsCsv(errors));
  ASSERT_EQ(messages.size(), 1);
  EXPECT_THAT(ToRecordText(messages[0]), HasSubstr("saved to"));

  // A folder that is not there: the reason, and nothing written.
  EXPECT_FALSE(dialog.SaveTo(FromPath(dir.File("nosuch/fix.csv"))));
  ASSERT_EQ(messages.size(), 2);
  EXPECT_THAT(ToRecordText(messages[1]), HasSubstr("could not be saved"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("nosuch")));
}

}  // namespace
}  // namespace quillmere
