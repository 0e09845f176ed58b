// TForm1 on Qt's offscreen platform: its controls, the site configuration against the private
// MariaDB, the file chooser, and the wiring of the operations.
#include "ui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCalendarWidget>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "context/clock.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/encodings.h"
#include "support/test_database.h"
#include "support/test_support.h"
#include "ui/theme.h"
#include "ui/window_test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::EnsureApplication;
using ::quillmere::testing::ReadFile;
using ::quillmere::testing::RecordingDesktop;
using ::quillmere::testing::TempDir;
using ::quillmere::testing::TestDatabase;
using ::quillmere::testing::WaitFor;
using ::quillmere::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const QString kConnection = QStringLiteral("window-test");

std::string Text(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w)) return ToRecordText(label->text());
  if (auto* edit = qobject_cast<const QLineEdit*>(w)) return ToRecordText(edit->text());
  if (auto* spin = qobject_cast<const QSpinBox*>(w)) return ToRecordText(spin->text());
  if (auto* button = qobject_cast<const QPushButton*>(w)) return ToRecordText(button->text());
  return "?";
}

// Types `text` into `edit` as the operator does, replacing what it holds.
void TypeInto(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  for (const QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, ch.unicode(), Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(edit, &press);
    QKeyEvent release(QEvent::KeyRelease, ch.unicode(), Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(edit, &release);
  }
}

// Types `code` into the agency box and leaves it with Tab, which looks the code up.
void LeaveAgencyBoxWith(QLineEdit* agy, const QString& code) {
  TypeInto(agy, code);
  QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(agy, &tab);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    setup_.settings_folders = {program_.path().string()};
    setup_.work_dir = work_.path().string();
    setup_.connection_name = kConnection;
    setup_.run_options.sLastAgyCode = "07";
    setup_.run_options.VelFilesName = "VELFILES.ini";  // as the start-up leaves it
  }
  void TearDown() override {
    form_.reset();
    QSqlDatabase::removeDatabase(kConnection);
  }

  TForm1& Form() {
    if (!form_) {
      form_.emplace(setup_);
      form_->set_desktop_services(desktop_.Services());
    }
    return *form_;
  }
  template <typename W = QWidget>
  W* Child(const char* name) {
    W* w = Form().findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string TextOf(const char* name) { return Text(Child(name)); }

  // Writes the settings file that points the window at `db` (and the store at the program
  // folder) and creates the six record files there.
  void UseDatabase(TestDatabase& db) {
    testing::InitStore(program_.path());
    WriteFile(program_.File("VELFILES.ini"), db.SettingsText() + "datapath=.\n");
    db.Exec(
        "INSERT INTO Agency (AgyCode, AgencyName) VALUES ('07', 'Seventh Agency'), "
        "(' 5', 'Fifth Agency')");
  }

  TempDir program_, work_, user_;
  WindowSetup setup_;
  RecordingDesktop desktop_;
  std::optional<TForm1> form_;
};

TEST_F(WindowTest, ControlsHaveTheirNamesTextsAndPlaces) {
  const struct {
    const char* name;
    std::string text;
    QRect geometry;  // left, top, width, height
  } kControls[] = {
      {"Label1", "Agency Code", {8, 27, 200, 23}},
      {"Label2", "Posting Date", {8, 60, 200, 23}},
      {"Label3", "CSV File Name", {8, 94, 200, 23}},
      {"Label4", "Starting JE Number", {8, 130, 200, 23}},
      {"Label5", "Starting Inv Number", {8, 163, 200, 23}},
      {"Label6", "Select an Option to Begin", {8, 207, 337, 26}},
      {"lblDSNNAme", "DSN Name here", {8, 243, 337, 23}},
      {"edtAgy", "01", {224, 24, 49, 31}},
      {"edtAgyName", "Your New Agency", {280, 24, 329, 31}},
      {"edtCSVName", "balances.csv", {224, 91, 385, 31}},
      {"btnBrowse", "", {615, 90, 32, 32}},
      {"edtJENumber", "100000", {224, 128, 137, 31}},
      {"edtInvNumber", "500000", {224, 160, 137, 31}},
      {"Button1", "Create GL CSV", {616, 152, 200, 32}},
      {"LoadCSV", "Load Balances - CSV", {616, 192, 200, 32}},
      {"Button3", "Quit", {616, 240, 200, 32}},
  };
  for (const auto& c : kControls) {
    const QWidget* w = Child(c.name);
    if (w == nullptr) continue;
    EXPECT_EQ(Text(w), c.text) << c.name;
    EXPECT_EQ(w->geometry(), c.geometry) << c.name;
  }
  EXPECT_EQ(Child("edtPostDate")->geometry(), QRect(224, 59, 185, 31));
  for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
    EXPECT_TRUE(Child<QLabel>(name)->alignment() & Qt::AlignRight) << name;
  }
  for (const char* name : {"Label6", "lblDSNNAme"}) {
    EXPECT_TRUE(Child<QLabel>(name)->alignment() & Qt::AlignHCenter) << name;
  }
  EXPECT_FALSE(Child("edtAgyName")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>("btnBrowse")->icon().isNull());
}

TEST_F(WindowTest, WindowHasItsCaptionSizeAndFont) {
  EXPECT_EQ(Form().windowTitle(), QStringLiteral("Quillmere Loader"));
  EXPECT_EQ(Form().size(), QSize(852, 292));
  EXPECT_EQ(Form().font().pixelSize(), 19);
}

TEST_F(WindowTest, TabOrderFollowsTheForm) {
  const QStringList kNamed = {QStringLiteral("edtAgy"),       QStringLiteral("edtAgyName"),
                              QStringLiteral("edtPostDate"),  QStringLiteral("edtCSVName"),
                              QStringLiteral("btnBrowse"),    QStringLiteral("edtJENumber"),
                              QStringLiteral("edtInvNumber"), QStringLiteral("Button1"),
                              QStringLiteral("LoadCSV"),      QStringLiteral("Button3")};
  QStringList order;
  QWidget* start = Child("edtAgy");
  QWidget* w = start;
  do {
    if (kNamed.contains(w->objectName()) && !order.contains(w->objectName())) {
      order << w->objectName();
    }
    w = w->nextInFocusChain();
  } while (w != start);
  EXPECT_EQ(order, kNamed);
}

TEST_F(WindowTest, NumberBoxesHaveTheirLimitsAndCountEmptyAsZero) {
  for (const char* name : {"edtJENumber", "edtInvNumber"}) {
    auto* box = Child<QSpinBox>(name);
    EXPECT_EQ(box->minimum(), 0) << name;
    EXPECT_EQ(box->maximum(), 999999) << name;
    EXPECT_EQ(box->singleStep(), 100) << name;
  }
  auto* je = Child<QSpinBox>("edtJENumber");
  je->findChild<QLineEdit*>()->clear();
  EXPECT_EQ(Form().ReadImportRequest().first_je_number, 0);
  je->interpretText();  // what leaving the box does
  EXPECT_EQ(je->value(), 0);
  EXPECT_EQ(Form().ReadImportRequest().first_inv_number, 500000);
}

// Makes `locale` the default for the widgets created meanwhile; the old default comes back.
class DefaultLocale {
 public:
  explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
  ~DefaultLocale() { QLocale::setDefault(old_); }

 private:
  QLocale old_;
};

// In a locale with digits of its own the boxes show and take those digits; what is read is
// the number shown, never 0.
TEST_F(WindowTest, NumberBoxesReadTheNumberShownInAnyLocale) {
  for (const char* name : {"ar_EG", "fa_IR", "de_DE", "en_US"}) {
    SCOPED_TRACE(name);
    QLocale locale{QString::fromLatin1(name)};
    const DefaultLocale in_locale(locale);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);  // as a spin box shows numbers
    form_.reset();
    auto* je = Child<QSpinBox>("edtJENumber");
    auto* inv = Child<QSpinBox>("edtInvNumber");
    je->setLocale(locale);
    inv->setLocale(locale);
    EXPECT_EQ(je->text(), locale.toString(100000));  // "١٠٠٠٠٠" in ar_EG
    EXPECT_EQ(Form().ReadImportRequest().first_je_number, 100000);
    EXPECT_EQ(Form().ReadImportRequest().first_inv_number, 500000);

    TypeInto(je->findChild<QLineEdit*>(), locale.toString(123400));  // the locale's digits
    TypeInto(inv->findChild<QLineEdit*>(), QStringLiteral("2500"));  // the keyboard's digits
    EXPECT_EQ(je->text(), locale.toString(123400));
    const ImportRequest request = Form().ReadImportRequest();
    EXPECT_EQ(request.first_je_number, 123400);
    EXPECT_EQ(request.first_inv_number, 2500);
  }
}

TEST_F(WindowTest, PostingDateDefaultsToTheLastDayOfLastMonth) {
  const std::string want = FormatShortDate(LastDayOfLastMonth(NowLocal().date));
  EXPECT_EQ(TextOf("edtPostDate"), want);  // mm/dd/yyyy, no time
  EXPECT_EQ(Form().ReadImportRequest().posting_date, want);
}

// Selects what `box` holds and types `text` over it with the keyboard, as the operator does
// (an empty `text` deletes the selection), then leaves the box with Tab.
void TypeOverSelection(QWidget* box, const QString& text) {
  box->setFocus();
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  if (text.isEmpty()) QTest::keyClick(box, Qt::Key_Delete);
  QTest::keyClicks(box, text);
  QTest::keyClick(box, Qt::Key_Tab);
}

// What the operator types is what the box keeps and what the import is given, never a date the
// box made up; a text that is no date is refused when the import starts (see the configured
// tests), not corrected here.
TEST_F(WindowTest, TypedPostingDateIsTakenAsTyped) {
  const char* const kTyped[] = {
      "12/31/2024",  // over 11/30/2024, a month with a different last day
      "1/5/2024",    // one-digit month and day
      "10/15/2024",
      "02/30/2024",  // no such day: kept as typed, not turned into 02/29
      "12/31/24",    // a two-digit year: kept, not completed to a year of the box's choice
      "",
  };
  for (const char* typed : kTyped) {
    form_.reset();
    Form().show();
    auto* box = Child<QLineEdit>("edtPostDate");
    box->setText(QStringLiteral("11/30/2024"));
    TypeOverSelection(box, QString::fromLatin1(typed));
    EXPECT_EQ(TextOf("edtPostDate"), typed) << typed;
    EXPECT_EQ(Form().ReadImportRequest().posting_date, typed) << typed;
  }
}

// The calendar opens on the date the box holds and puts the day picked into the box; closed
// without a pick, it leaves the box as it was.
TEST_F(WindowTest, PostingDateCalendarOpensOnTheBoxesDateAndFillsTheBox) {
  const struct {
    const char* box;   // what the box holds when the calendar opens
    QDate opens_on;    // the calendar's selected day then
    int key;           // pressed in the calendar after moving one day on
    const char* want;  // the box afterwards
  } kCases[] = {
      {"3/4/2024", QDate(2024, 3, 4), Qt::Key_Return, "03/05/2024"},
      {"12/31/2024", QDate(2024, 12, 31), Qt::Key_Return, "01/01/2025"},
      {"02/30/2024", QDate::currentDate(), Qt::Key_Escape, "02/30/2024"},  // no date: today
      {"", QDate::currentDate(), Qt::Key_Escape, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.box);
    form_.reset();
    Form().show();
    auto* box = Child<QLineEdit>("edtPostDate");
    box->setText(QString::fromLatin1(c.box));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
    auto* calendar = box->findChild<QCalendarWidget*>();
    ASSERT_NE(calendar, nullptr);
    ASSERT_TRUE(calendar->isVisible());
    EXPECT_EQ(calendar->selectedDate(), c.opens_on);
    QWidget* days = calendar->findChild<QWidget*>(QStringLiteral("qt_calendar_calendarview"));
    ASSERT_NE(days, nullptr);
    QTest::keyClick(days, Qt::Key_Right);
    QTest::keyClick(days, static_cast<Qt::Key>(c.key));
    EXPECT_FALSE(calendar->isVisible());
    EXPECT_EQ(TextOf("edtPostDate"), c.want);
  }
}

// The chooser opens where the typed name is, on that name; Cancel leaves the box as it was.
TEST_F(WindowTest, ChooserOpensOnTheTypedNameAndCancelLeavesTheBox) {
  const QString here = QDir::currentPath();
  const struct {
    const char* box;
    QString folder, name;  // what the chooser opens on
  } kCases[] = {
      {"balances.csv", here, QStringLiteral("balances.csv")},  // the import reads it from here
      {"sub/bal.csv", here + QStringLiteral("/sub"), QStringLiteral("bal.csv")},
      {"/data/agency 7/bal.csv", QStringLiteral("/data/agency 7"), QStringLiteral("bal.csv")},
      {"/data/agency 7/", QStringLiteral("/data/agency 7"), QString()},
      {"", here, QString()},
  };
  for (const auto& c : kCases) {
    desktop_.chooser_folders.clear();
    desktop_.chooser_names.clear();
    Child<QLineEdit>("edtCSVName")->setText(QString::fromLatin1(c.box));
    Child<QPushButton>("btnBrowse")->click();
    EXPECT_THAT(desktop_.chooser_folders, ElementsAre(c.folder)) << c.box;
    EXPECT_THAT(desktop_.chooser_names, ElementsAre(c.name)) << c.box;
    EXPECT_EQ(TextOf("edtCSVName"), c.box);  // cancelled
  }

  desktop_.chooser_answer = QStringLiteral("/data/agency 7/bal.csv");
  Child<QPushButton>("btnBrowse")->click();
  EXPECT_EQ(TextOf("edtCSVName"), "/data/agency 7/bal.csv");
}

// The real chooser: CSV files first, opened on the folder and name given, and it takes a name
// that is not there yet (the export's new file).
TEST_F(WindowTest, FileChooserListsCsvFirstAndTakesANewName) {
  const QString folder = FromPath(work_.path().string());
  WriteFile(work_.File("old.csv"), "GL,Name\r\n");
  const struct {
    const char* way;
    std::function<void(QFileDialog&)> leave;
    std::optional<QString> want;
  } kCases[] = {
      {"Cancel", [](QFileDialog& d) { d.reject(); }, std::nullopt},
      {"the preset, not there yet", [](QFileDialog& d) { static_cast<QDialog&>(d).accept(); },
       folder + QStringLiteral("/new.csv")},
      {"another file",
       [](QFileDialog& d) {
         d.selectFile(QStringLiteral("old.csv"));
         static_cast<QDialog&>(d).accept();  // as the Open button does
       },
       folder + QStringLiteral("/old.csv")},
  };
  const DesktopServices real = RealDesktopServices();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.way);
    QStringList filters, selected;
    QString shown_folder;
    bool any_file = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      filters = dialog->nameFilters();
      any_file = dialog->fileMode() == QFileDialog::AnyFile;
      shown_folder = dialog->directory().absolutePath();
      selected = dialog->selectedFiles();
      c.leave(*dialog);
      if (dialog->isVisible()) dialog->reject();  // a name it refused: fail, not hang
    });
    EXPECT_EQ(real.choose_file(&Form(), folder, QStringLiteral("new.csv")), c.want);
    EXPECT_THAT(filters,
                ElementsAre(QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")));
    EXPECT_TRUE(any_file);
    EXPECT_EQ(shown_folder, folder);
    EXPECT_THAT(selected, ElementsAre(folder + QStringLiteral("/new.csv")));
  }
}

TEST_F(WindowTest, ErrorWindowIsAModalMessageTitledWithTheProgramName) {
  Form().set_desktop_services(RealDesktopServices());
  QString title, text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  Form().ErrorWindow("Unable to open Jcki file jcki, status is 12");
  EXPECT_EQ(title, QStringLiteral("Quillmere"));
  EXPECT_EQ(text, QStringLiteral("Unable to open Jcki file jcki, status is 12"));
}

// A label that shows `text` character for character is at least as wide as those characters;
// one that took them for markup shows a bold "x" only.
void ExpectShownAsCharacters(const QLabel* label, const QString& text, const char* where) {
  ASSERT_NE(label, nullptr) << where;
  EXPECT_EQ(label->text(), text) << where;
  EXPECT_GE(label->sizeHint().width(), label->fontMetrics().horizontalAdvance(text)) << where;
}

// A file name or code holding "<b>" is shown as those characters, never as bold.
TEST_F(WindowTest, StatusAndMessagesShowMarkupAsCharacters) {
  const QString kText = QStringLiteral("<b>x</b>");
  const DesktopServices real = RealDesktopServices();
  // Inspects the label of the message box that opens next, then closes it.
  const auto inspect_box = [&](const char* where) {
    QTimer::singleShot(0, [&, where] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr) << where;
      ExpectShownAsCharacters(box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")), kText,
                              where);
      box->buttons().first()->click();
    });
  };
  const struct {
    const char* where;
    std::function<const QLabel*()> show;  // shows kText; the label it is in, if not a dialog's
  } kCases[] = {
      {"status line",
       [&] {
         Form().SetStatus(ToRecordText(kText));
         return Child<QLabel>("Label6");
       }},
      {"database name",
       [&] {
         Child<QLabel>("lblDSNNAme")->setText(kText);
         return Child<QLabel>("lblDSNNAme");
       }},
      {"message",
       [&]() -> const QLabel* {
         inspect_box("message");
         real.show_message(&Form(), kText);
         return nullptr;
       }},
      {"question",
       [&]() -> const QLabel* {
         inspect_box("question");
         real.choose(&Form(), kText, {QStringLiteral("Yes"), QStringLiteral("Cancel")});
         return nullptr;
       }},
  };
  for (const auto& c : kCases) {
    if (const QLabel* label = c.show()) ExpectShownAsCharacters(label, kText, c.where);
  }
}

TEST_F(WindowTest, OperatorCallsReachTheWindow) {
  Form().SetStatus("Pass 1: row 12");
  EXPECT_EQ(TextOf("Label6"), "Pass 1: row 12");
  Form().Launch("relative.csv");
  EXPECT_THAT(desktop_.opened,
              ElementsAre(QDir::current().absoluteFilePath(QStringLiteral("relative.csv"))));
  Form().ShowProgress(50, 200);
  EXPECT_EQ(Child<QProgressBar>("barProgress")->value(), 250);
  EXPECT_FALSE(Form().StopRequested());
}

// --- against the private MariaDB ---

class ConfiguredWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    WindowTest::SetUp();
    db_.emplace();
  }
  void TearDown() override {
    WindowTest::TearDown();
    db_.reset();
  }
  // The window on the test database, shown and configured.
  void ShowConfigured() {
    UseDatabase(*db_);
    Form().show();
    Form().FormActivate();
    ASSERT_TRUE(Form().configured());
  }
  std::optional<TestDatabase> db_;
};

TEST_F(ConfiguredWindowTest, FirstActivationConfiguresTheWindow) {
  UseDatabase(*db_);
  EXPECT_EQ(TextOf("edtAgy"), "01");
  EXPECT_EQ(TextOf("edtAgyName"), "Your New Agency");
  EXPECT_EQ(TextOf("lblDSNNAme"), "DSN Name here");

  Form().show();
  Form().activateWindow();
  ASSERT_TRUE(WaitFor([&] { return Form().configured(); }))
      << desktop_.messages.join(u'\n').toStdString();
  EXPECT_EQ(TextOf("edtAgy"), "07");
  EXPECT_EQ(TextOf("edtAgyName"), "Seventh Agency");
  EXPECT_EQ(TextOf("lblDSNNAme"), db_->name());
  EXPECT_THAT(desktop_.messages, ::testing::IsEmpty());
  EXPECT_THAT(ReadFile(work_.File("utility.ini")), HasSubstr("database=" + db_->name() + "\r\n"));

  // A later activation does not configure again: the typed code stays.
  Child<QLineEdit>("edtAgy")->setText(QStringLiteral("5"));
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&Form(), &activate);
  EXPECT_EQ(TextOf("edtAgy"), "5");
}

TEST_F(ConfiguredWindowTest, LeavingTheAgencyBoxLooksTheNameUp) {
  UseDatabase(*db_);
  Form().FormActivate();
  ASSERT_TRUE(Form().configured());
  auto* agy = Child<QLineEdit>("edtAgy");
  agy->setText(QStringLiteral("5"));
  QFocusEvent window_change(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QCoreApplication::sendEvent(agy, &window_change);
  EXPECT_EQ(TextOf("edtAgyName"), "Seventh Agency");  // switching windows is not leaving
  QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(agy, &tab);
  EXPECT_EQ(TextOf("edtAgyName"), "Fifth Agency");
  agy->setText(QStringLiteral("99"));
  QCoreApplication::sendEvent(agy, &tab);
  EXPECT_EQ(TextOf("edtAgyName"), " Not Found");
}

// A code without an Agency row disables both operations until a lookup finds one, also when
// the start-up code is the unknown one.
TEST_F(ConfiguredWindowTest, UnknownAgencyDisablesTheOperationsUntilOneIsFound) {
  setup_.run_options.sLastAgyCode = "42";
  ShowConfigured();
  EXPECT_EQ(TextOf("edtAgyName"), " Not Found");
  EXPECT_FALSE(Child("Button1")->isEnabled());
  EXPECT_FALSE(Child("LoadCSV")->isEnabled());
  const struct {
    const char* code;
    const char* name;
    bool enabled;
  } kSteps[] = {
      {"99", " Not Found", false}, {"5", "Fifth Agency", true},  // " 5" has a row
      {"98", " Not Found", false}, {"97", " Not Found", false}, {"07", "Seventh Agency", true},
  };
  for (const auto& step : kSteps) {
    LeaveAgencyBoxWith(Child<QLineEdit>("edtAgy"), QString::fromLatin1(step.code));
    EXPECT_EQ(TextOf("edtAgyName"), step.name) << step.code;
    EXPECT_EQ(Child("Button1")->isEnabled(), step.enabled) << step.code;
    EXPECT_EQ(Child("LoadCSV")->isEnabled(), step.enabled) << step.code;
  }
  EXPECT_THAT(desktop_.messages, IsEmpty());
}

// A lookup that cannot run leaves the operations enabled; a press looks the code up before the
// operation starts, and runs it only for a code that has a row.
TEST_F(ConfiguredWindowTest, OperationLooksUpACodeWhoseLookupCouldNotRun) {
  ShowConfigured();
  const std::string chart = work_.File("chart.csv");
  testing::PutMaster(kGlKind, "07", "1000", "Cash in Bank", 'A', "009");
  Child<QLineEdit>("edtCSVName")->setText(FromPath(chart));
  auto* agy = Child<QLineEdit>("edtAgy");
  LeaveAgencyBoxWith(agy, QStringLiteral("99"));
  ASSERT_FALSE(Child("Button1")->isEnabled());

  db_->Exec("RENAME TABLE Agency TO AgencyAway");  // no lookup can run now
  LeaveAgencyBoxWith(agy, QStringLiteral("98"));
  ASSERT_EQ(desktop_.messages.size(), 1);
  EXPECT_THAT(ToRecordText(desktop_.messages[0]), HasSubstr("Agency"));
  EXPECT_TRUE(Child("Button1")->isEnabled());
  EXPECT_TRUE(Child("LoadCSV")->isEnabled());

  desktop_.messages.clear();
  Child<QPushButton>("Button1")->click();  // the lookup still cannot run: nothing is done
  ASSERT_EQ(desktop_.messages.size(), 1);
  EXPECT_THAT(ToRecordText(desktop_.messages[0]), HasSubstr("Agency"));
  EXPECT_FALSE(std::filesystem::exists(chart));
  EXPECT_TRUE(Child("Button1")->isEnabled());

  db_->Exec("RENAME TABLE AgencyAway TO Agency");
  desktop_.messages.clear();
  Child<QPushButton>("Button1")->click();  // "98" has no row: nothing is done
  EXPECT_EQ(TextOf("edtAgyName"), " Not Found");
  EXPECT_FALSE(std::filesystem::exists(chart));
  EXPECT_FALSE(Child("Button1")->isEnabled());
  EXPECT_FALSE(Child("LoadCSV")->isEnabled());
  EXPECT_THAT(desktop_.messages, IsEmpty());

  LeaveAgencyBoxWith(agy, QStringLiteral("07"));
  Child<QPushButton>("Button1")->click();
  EXPECT_THAT(ReadFile(chart), HasSubstr("Cash in Bank"));
}

// The server is down when the window starts, and the operator types a code that turns out to
// have no row: the press configures, looks the code up, and does nothing.
TEST_F(ConfiguredWindowTest, OperationAfterAFailedConfigurationRefusesAnUnknownCode) {
  setup_.retry_quiet_ms = 0;
  UseDatabase(*db_);
  const std::string reachable = ReadFile(program_.File("VELFILES.ini"));
  const std::string csv = work_.File("balances.csv");
  WriteFile(csv, "GL,Name,SubType,Normal,Dept,Value\r\n1120,Receivables,C001,Debit,GA,50\r\n");
  for (const char* button : {"Button1", "LoadCSV"}) {
    SCOPED_TRACE(button);
    form_.reset();
    desktop_.messages.clear();
    WriteFile(program_.File("VELFILES.ini"), "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\n");
    Form().FormActivate();
    ASSERT_FALSE(Form().configured());
    TypeInto(Child<QLineEdit>("edtAgy"), QStringLiteral("99"));
    Child<QLineEdit>("edtCSVName")
        ->setText(FromPath(std::string(button) == "Button1" ? work_.File("chart.csv") : csv));
    EXPECT_TRUE(Child(button)->isEnabled());
    WriteFile(program_.File("VELFILES.ini"), reachable);  // the server is back
    desktop_.messages.clear();

    Child<QPushButton>(button)->click();

    EXPECT_TRUE(Form().configured());
    EXPECT_EQ(TextOf("edtAgyName"), " Not Found");
    EXPECT_FALSE(Child("Button1")->isEnabled());
    EXPECT_FALSE(Child("LoadCSV")->isEnabled());
    EXPECT_FALSE(Form().files().log().is_open());  // no run started
    EXPECT_FALSE(std::filesystem::exists(work_.File("chart.csv")));
    EXPECT_THAT(desktop_.messages, IsEmpty());
  }
  EXPECT_THAT(db_->Rows("SELECT COUNT(*) FROM Policy"), ElementsAre("0"));
}

TEST_F(ConfiguredWindowTest, StoppedServerShowsTheDriversErrorAndKeepsTheTexts) {
  WriteFile(program_.File("VELFILES.ini"),
            "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\nmdbbase=" + db_->name() + "\n");
  Form().FormActivate();
  EXPECT_FALSE(Form().configured());
  ASSERT_EQ(desktop_.messages.size(), 1);
  EXPECT_THAT(ToRecordText(desktop_.messages[0]), HasSubstr("Can't connect"));
  EXPECT_EQ(TextOf("edtAgy"), "01");
  EXPECT_EQ(TextOf("edtAgyName"), "Your New Agency");
  EXPECT_EQ(TextOf("lblDSNNAme"), "DSN Name here");

  // The activation that closing the message causes is not another attempt ...
  Form().FormActivate();
  EXPECT_EQ(desktop_.messages.size(), 1);
}

TEST_F(ConfiguredWindowTest, FailedConfigurationIsRetriedOnALaterActivation) {
  setup_.retry_quiet_ms = 0;
  WriteFile(program_.File("VELFILES.ini"),
            "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\nmdbbase=" + db_->name() + "\n");
  Form().FormActivate();
  ASSERT_FALSE(Form().configured());
  UseDatabase(*db_);  // the operator fixed the settings meanwhile
  Form().FormActivate();
  EXPECT_TRUE(Form().configured());
  EXPECT_EQ(TextOf("edtAgyName"), "Seventh Agency");
}

TEST_F(ConfiguredWindowTest, LineThatIsNotASettingIsShownOncePerProgramStart) {
  setup_.retry_quiet_ms = 0;
  const std::string settings = program_.File("VELFILES.ini");
  WriteFile(settings, "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\nmdbuser: loader\n");
  Form().FormActivate();  // fails: nothing listens on port 9
  ASSERT_FALSE(Form().configured());
  ASSERT_EQ(desktop_.messages.size(), 2);
  EXPECT_EQ(ToRecordText(desktop_.messages[0]),
            settings +
                " line 4 is not a setting and was ignored: mdbuser: loader\n"
                "The other settings of the file are used.");
  EXPECT_THAT(ToRecordText(desktop_.messages[1]), HasSubstr("Can't connect"));

  UseDatabase(*db_);
  WriteFile(settings, ReadFile(settings) + "mdbuser: loader\n");
  desktop_.messages.clear();
  Form().FormActivate();  // the retry reads the file again, and says nothing more of it
  EXPECT_TRUE(Form().configured());
  EXPECT_TRUE(desktop_.messages.isEmpty()) << desktop_.messages.join(u'\n').toStdString();
}

TEST_F(ConfiguredWindowTest, ExportWritesTheChartLaunchesItAndCloses) {
  ShowConfigured();
  const std::string csv = work_.File("chart.csv");
  Child<QLineEdit>("edtCSVName")->setText(FromPath(csv));
  Child<QPushButton>("Button1")->click();
  EXPECT_TRUE(std::filesystem::exists(csv)) << desktop_.messages.join(u'\n').toStdString();
  EXPECT_THAT(desktop_.opened, ElementsAre(FromPath(csv)));
  EXPECT_FALSE(Form().isVisible());
}

TEST_F(ConfiguredWindowTest, ExportRefusesALongAgencyCodeBeforeOpeningAnything) {
  ShowConfigured();
  const std::string csv = work_.File("chart.csv");
  Child<QLineEdit>("edtCSVName")->setText(FromPath(csv));
  Child<QLineEdit>("edtAgy")->setText(QStringLiteral("123"));
  Child<QPushButton>("Button1")->click();
  EXPECT_FALSE(std::filesystem::exists(csv));
  ASSERT_EQ(desktop_.messages.size(), 1);
  EXPECT_TRUE(desktop_.messages.front().contains(QStringLiteral("longer than 2 characters")));
  EXPECT_TRUE(Child("Button1")->isEnabled());  // the operator may correct the code
  EXPECT_TRUE(Form().isVisible());
}

// Nothing was posted: the operator corrects the name and loads again, no restart needed.
TEST_F(ConfiguredWindowTest, MissingFileGivesTheButtonsBackAndSaysWhatHappened) {
  UseDatabase(*db_);
  Form().FormActivate();
  ASSERT_TRUE(Form().configured());
  Child<QLineEdit>("edtCSVName")->setText(FromPath(work_.File("missing.csv")));
  Child<QPushButton>("LoadCSV")->click();
  EXPECT_TRUE(Child("LoadCSV")->isEnabled());
  EXPECT_TRUE(Child("Button1")->isEnabled());
  ASSERT_EQ(desktop_.messages.size(), 1);  // the missing file is reported
  EXPECT_THAT(ToRecordText(desktop_.messages[0]), HasSubstr("missing.csv not found"));
  EXPECT_EQ(Text(Child("Label6")), "Not started; nothing was posted");
}

TEST_F(ConfiguredWindowTest, ScreenshotOfTheConfiguredWindow) {
  std::string error;
  ASSERT_TRUE(ApplyTheme(*qApp, &error)) << error;
  ShowConfigured();
  const QString dir = QStringLiteral(QUILLMERE_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  EXPECT_TRUE(Form().grab().save(dir + QStringLiteral("/main-window.png")));
  qApp->setStyleSheet(QString());
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

TEST_F(ConfiguredWindowTest, QuitDuringARunAsksThenStopsAndCloses) {
  ShowConfigured();
  Child<QLineEdit>("edtCSVName")->setText(FromPath(work_.File("missing.csv")));
  bool stop_seen = false, closed_during_run = true;
  DesktopServices services = desktop_.Services();
  services.show_message = [&](QWidget*, const QString&) {
    if (Form().StopRequested()) return;
    QTimer::singleShot(0, [] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();  // Yes
    });
    Form().close();  // the operator presses Quit while the import shows a message
    stop_seen = Form().StopRequested();
    closed_during_run = !Form().isVisible();
  };
  Form().set_desktop_services(services);
  Child<QPushButton>("LoadCSV")->click();
  EXPECT_TRUE(stop_seen);
  EXPECT_FALSE(closed_during_run);  // the window waits for the run to stop
  EXPECT_FALSE(Form().isVisible());
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

TEST_F(ConfiguredWindowTest, OperationsWaitForACompletedConfiguration) {
  WriteFile(program_.File("VELFILES.ini"),
            "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\nmdbbase=" + db_->name() + "\n");
  Form().FormActivate();
  ASSERT_FALSE(Form().configured());
  for (const char* button : {"Button1", "LoadCSV"}) {
    desktop_.messages.clear();
    Child<QPushButton>(button)->click();
    ASSERT_EQ(desktop_.messages.size(), 1) << button;
    EXPECT_THAT(ToRecordText(desktop_.messages[0]), HasSubstr("Can't connect")) << button;
    EXPECT_FALSE(Form().files().log().is_open()) << button;  // nothing opened, no run log
    EXPECT_TRUE(Child(button)->isEnabled()) << button;
  }

  UseDatabase(*db_);  // the server is reachable now: the export configures and runs
  Child<QLineEdit>("edtCSVName")->setText(FromPath(work_.File("chart.csv")));
  Child<QPushButton>("Button1")->click();
  EXPECT_TRUE(Form().configured());
  EXPECT_TRUE(std::filesystem::exists(work_.File("chart.csv")));
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

// The operator types another agency after a failed first configuration; the server is back
// when a button is pressed, which configures again: the operation runs for the typed agency.
TEST_F(ConfiguredWindowTest, OperationAfterAFailedConfigurationRunsForTheTypedAgency) {
  setup_.retry_quiet_ms = 0;
  UseDatabase(*db_);  // agencies 07 (the start-up one) and " 5"
  for (const char* agency : {"07", " 5"}) {
    testing::PutMaster(kGlKind, agency, "1120", std::string("Receivables of ") + agency, 'A',
                       "001");
    testing::PutMaster(kDepartmentKind, agency, "GA", "General Agency");
    testing::PutMaster(kClientKind, agency, "C001", "Smith, John");
  }
  const std::string csv = work_.File("balances.csv");
  WriteFile(csv, "GL,Name,SubType,Normal,Dept,Value\r\n1120,Receivables,C001,Debit,GA,50\r\n");
  const std::string reachable = ReadFile(program_.File("VELFILES.ini"));
  const std::string stopped = "[VelfilesNdx]\nmdbserv=127.0.0.1\nmdbport=9\nmdbbase=x\n";

  const struct {
    const char* button;
    std::function<void()> check;  // what the operation wrote, for agency " 5" only
  } kCases[] = {
      {"Button1",
       [&] {
         const std::string chart = ReadFile(work_.File("chart.csv"));
         EXPECT_THAT(chart, HasSubstr("Receivables of  5"));
         EXPECT_THAT(chart, ::testing::Not(HasSubstr("Receivables of 07")));
       }},
      {"LoadCSV",
       [&] {
         EXPECT_EQ(db_->Rows("SELECT AgyCode, CltNum FROM Policy"),
                   std::vector<std::string>{" 5|  C001"});
         for (const std::string& record : testing::DumpRecords("jcki")) {
           EXPECT_EQ(record.substr(0, 2), " 5");
         }
       }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.button);
    form_.reset();
    desktop_.messages.clear();
    WriteFile(program_.File("VELFILES.ini"), stopped);
    Form().FormActivate();
    ASSERT_FALSE(Form().configured());
    TypeInto(Child<QLineEdit>("edtAgy"), QStringLiteral("5"));
    Child<QLineEdit>("edtCSVName")
        ->setText(FromPath(std::string(c.button) == "Button1" ? work_.File("chart.csv") : csv));
    WriteFile(program_.File("VELFILES.ini"), reachable);  // the server is back

    Child<QPushButton>(c.button)->click();

    EXPECT_TRUE(Form().configured());
    EXPECT_EQ(TextOf("edtAgy"), "5");
    EXPECT_EQ(TextOf("edtAgyName"), "Fifth Agency");
    c.check();
  }
}

// The import posts with the date typed, and refuses one that is no date of 1900-2099 before
// it does anything, the box still showing what was typed.
TEST_F(ConfiguredWindowTest, ImportPostsWithTheTypedDateOrRefusesIt) {
  UseDatabase(*db_);
  testing::PutMaster(kGlKind, "07", "1120", "Client Receivables", 'A', "001");
  testing::PutMaster(kDepartmentKind, "07", "GA", "General Agency");
  testing::PutMaster(kClientKind, "07", "C001", "Smith, John");
  const std::string csv = work_.File("balances.csv");
  WriteFile(csv, "GL,Name,SubType,Normal,Dept,Value\r\n1120,Receivables,C001,Debit,GA,50\r\n");
  // A fresh window, configured, the date typed over the default, then "Load Balances - CSV".
  const auto load_with_date = [&](const char* typed) {
    form_.reset();
    desktop_.messages.clear();
    Form().show();
    Form().FormActivate();
    ASSERT_TRUE(Form().configured());
    Child<QLineEdit>("edtCSVName")->setText(FromPath(csv));
    TypeOverSelection(Child("edtPostDate"), QString::fromLatin1(typed));
    Child<QPushButton>("LoadCSV")->click();
  };

  const char* const kRefused[] = {
      "02/30/2024",  // no such day
      "12/31/24",    // a two-digit year
      "12/31/1899",  // the stored date has no year code before 1900
      "13/01/2024", "31.12.2024", "",
  };
  for (const char* typed : kRefused) {
    SCOPED_TRACE(typed);
    load_with_date(typed);
    EXPECT_THAT(desktop_.messages,
                ElementsAre(FromRecordText(std::string("The posting date [") + typed +
                                           "] is not a date of 1900 to 2099 written "
                                           "month/day/year; nothing was done.")));
    EXPECT_EQ(TextOf("edtPostDate"), typed);
    EXPECT_FALSE(Form().files().log().is_open());  // no run started
    EXPECT_TRUE(Child("LoadCSV")->isEnabled());
  }
  EXPECT_THAT(db_->Rows("SELECT COUNT(*) FROM Policy"), ElementsAre("0"));

  load_with_date("12/31/2024");
  EXPECT_THAT(db_->Rows("SELECT PolNum FROM Policy"), ElementsAre(HasSubstr("BF-241231-")))
      << desktop_.messages.join(u'\n').toStdString();
  EXPECT_EQ(TextOf("edtPostDate"), "12/31/2024");
}

TEST_F(ConfiguredWindowTest, SettingThatCannotWorkIsShownAndNothingIsConfigured) {
  const std::string settings = program_.File("VELFILES.ini");
  const std::string db_keys = "[VelfilesNdx]\nmdbserv=" + TestDatabase::Host() +
                              "\nmdbbase=" + db_->name() + "\nmdbuser=" + TestDatabase::User() +
                              "\n";
  const struct {
    const char* what;
    std::optional<std::string> c_switch;  // "/c" as typed, extension forced
    std::string settings_text;            // written to VELFILES.ini
    std::string want;
  } kCases[] = {
      {"a /c file that is not there", "MyFiles.ini", db_keys,
       "The settings file named by /c is not there: no MyFiles.ini or myfiles.ini in " +
           program_.path().string() + "."},
      {"a port that is not a port number", std::nullopt, db_keys + "mdbport=33O6\n",
       "mdbport in " + settings + " is not a port number (1 to 65535): 33O6"},
      {"a Latin-1 password", std::nullopt, db_keys + "mdbpass=Pa\xdf\n",
       "mdbpass in " + settings +
           " is not UTF-8 text: the database server is sent the connection settings as UTF-8, "
           "so these bytes cannot reach it as they are. Save the settings file as UTF-8."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    form_.reset();
    desktop_.messages.clear();
    setup_.run_options.vel_files_as_typed = c.c_switch;
    setup_.run_options.VelFilesName = c.c_switch ? AsciiLower(*c.c_switch) : "VELFILES.ini";
    WriteFile(settings, c.settings_text);
    Form().FormActivate();
    EXPECT_FALSE(Form().configured());
    EXPECT_THAT(desktop_.messages, ElementsAre(FromRecordText(c.want)));
    EXPECT_FALSE(std::filesystem::exists(work_.File("utility.ini")));  // nothing written
    EXPECT_FALSE(QSqlDatabase::contains(kConnection));                 // nothing connected
    EXPECT_EQ(TextOf("lblDSNNAme"), "DSN Name here");
  }
}

TEST_F(ConfiguredWindowTest, SettingsFileNamedByCIsFoundInTheSettingsFolders) {
  const std::string store = program_.path().string();
  const struct {
    const char* what;
    std::string typed;   // the /c name, extension forced
    std::string folder;  // the settings file's folder under user_ ("": none)
  } kCases[] = {
      {"a bare name, in the user's settings folder", "MyFiles.ini", "cfg"},
      {"a name with a folder, used as given", user_.File("Conf/MyFiles.ini"), ""},
  };
  UseDatabase(*db_);
  // The program folder's file would reach another database: it must not be read.
  WriteFile(program_.File("VELFILES.ini"), "[VelfilesNdx]\nmdbbase=wrong\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    form_.reset();
    desktop_.messages.clear();
    setup_.settings_folders = {program_.path().string(), user_.File("cfg")};
    setup_.run_options.vel_files_as_typed = c.typed;
    setup_.run_options.VelFilesName = AsciiLower(c.typed);
    const std::string file = c.folder.empty()
                                 ? c.typed
                                 : (std::filesystem::path(user_.File(c.folder)) / c.typed).string();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    WriteFile(file, db_->SettingsText() + "datapath=" + store + "\n");
    Form().FormActivate();
    EXPECT_TRUE(Form().configured()) << desktop_.messages.join(u'\n').toStdString();
    EXPECT_EQ(TextOf("lblDSNNAme"), db_->name());
  }
}

TEST_F(ConfiguredWindowTest, NoSettingsFileAnywhereSaysWhereItLookedOnceAndUsesTheDefaults) {
  setup_.retry_quiet_ms = 0;
  setup_.settings_folders = {program_.path().string(), user_.File("cfg")};
  std::filesystem::remove(program_.File("VELFILES.ini"));
  Form().FormActivate();  // the defaults: nothing listens at the default server here
  ASSERT_FALSE(Form().configured());
  ASSERT_GE(desktop_.messages.size(), 2);
  EXPECT_EQ(ToRecordText(desktop_.messages[0]),
            "No settings file was found: no VELFILES.ini in " + program_.path().string() + " or " +
                user_.File("cfg") + ". The built-in defaults are used.");
  EXPECT_EQ(ReadFile(work_.File("utility.ini")),
            "DriverID=MySQL\r\nserver=localhost\r\nUser_Name=root\r\nPassword=rezoreza\r\n"
            "database=Pellam\r\n");

  desktop_.messages.clear();
  Form().FormActivate();  // the retry says nothing more of the search
  for (const QString& message : desktop_.messages) {
    EXPECT_FALSE(message.startsWith(QStringLiteral("No settings file"))) << message.toStdString();
  }
}

// The store is missing from the folder the settings name: one message naming it, nothing is
// created there, and the window stays usable; once the store is there, the next press runs.
TEST_F(ConfiguredWindowTest, StoreThatDoesNotOpenIsShownOnceAndTheNextPressTriesAgain) {
  setup_.retry_quiet_ms = 0;
  const std::string settings = program_.File("VELFILES.ini");
  const std::string data = program_.File("data");
  std::filesystem::create_directory(data);
  WriteFile(settings, db_->SettingsText() + "datapath=data\n");
  db_->Exec("INSERT INTO Agency (AgyCode, AgencyName) VALUES ('07', 'Seventh Agency')");
  const std::string want = "Unable to open the record files in " + data + " (datapath in " +
                           settings +
                           "): no recfiles.sqlite there (quillmere-recfile init creates the "
                           "store), status is 12";
  Form().FormActivate();
  EXPECT_FALSE(Form().configured());
  EXPECT_THAT(desktop_.messages, ElementsAre(FromRecordText(want)));
  const std::string chart = work_.File("chart.csv");
  Child<QLineEdit>("edtCSVName")->setText(FromPath(chart));
  desktop_.messages.clear();
  Child<QPushButton>("Button1")->click();
  EXPECT_THAT(desktop_.messages, ElementsAre(FromRecordText(want)));
  EXPECT_FALSE(std::filesystem::exists(chart));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(data) / "recfiles.sqlite"));
  EXPECT_TRUE(Child("Button1")->isEnabled());

  testing::InitStore(data);
  testing::PutMaster(kGlKind, "07", "1000", "Cash in Bank", 'A', "009");
  desktop_.messages.clear();
  Child<QPushButton>("Button1")->click();
  EXPECT_TRUE(Form().configured());
  EXPECT_THAT(ReadFile(chart), HasSubstr("Cash in Bank"));
  EXPECT_THAT(desktop_.messages, IsEmpty());
}

// Removes record files from the store of `dir`, as a damaged installation would lack them.
void DropRecordFiles(const std::filesystem::path& dir, const std::vector<std::string>& names) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "recfiles.sqlite").string().c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  for (const std::string& name : names) {
    const std::string sql =
        "DROP TABLE \"" + name + "\"; DELETE FROM recfile_catalogue WHERE name = '" + name + "'";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << name;
  }
  sqlite3_close(db);
}

// The record files the import writes are missing: nothing is done, both buttons stay usable,
// and the press after the files are there posts.
TEST_F(ConfiguredWindowTest, ImportWhoseFilesDoNotOpenLeavesTheWindowUsable) {
  UseDatabase(*db_);
  testing::PutMaster(kGlKind, "07", "1120", "Client Receivables", 'A', "001");
  testing::PutMaster(kDepartmentKind, "07", "GA", "General Agency");
  testing::PutMaster(kClientKind, "07", "C001", "Smith, John");
  DropRecordFiles(program_.path(), {"jcki", "pol"});
  const std::string csv = work_.File("balances.csv");
  WriteFile(csv, "GL,Name,SubType,Normal,Dept,Value\r\n1120,Receivables,C001,Debit,GA,50\r\n");
  Form().FormActivate();
  ASSERT_TRUE(Form().configured());
  Child<QLineEdit>("edtCSVName")->setText(FromPath(csv));

  Child<QPushButton>("LoadCSV")->click();
  ASSERT_EQ(desktop_.messages.size(), 1);
  EXPECT_EQ(ToRecordText(desktop_.messages[0]),
            "Unable to open Jcki file jcki (the store has no file of that name), status is 12\n"
            "Unable to open pol file pol (the store has no file of that name), status is 12\n"
            "Nothing was done.");
  EXPECT_TRUE(Child("LoadCSV")->isEnabled());
  EXPECT_TRUE(Child("Button1")->isEnabled());
  EXPECT_THAT(db_->Rows("SELECT COUNT(*) FROM Policy"), ElementsAre("0"));

  for (const StandardFile& f : {kJckiFile, kPolFile}) {
    ASSERT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0);
  }
  desktop_.messages.clear();
  Child<QPushButton>("LoadCSV")->click();
  EXPECT_THAT(db_->Rows("SELECT AgyCode, CltNum FROM Policy"), ElementsAre("07|  C001"));
  EXPECT_FALSE(Child("LoadCSV")->isEnabled());  // a posting that ran is the program's last
  EXPECT_THAT(desktop_.messages, IsEmpty());    // the summary says what was posted
  ASSERT_EQ(desktop_.posted_shown.size(), 1u);
  EXPECT_EQ(desktop_.posted_shown[0].posted, 1);
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

// The import in the window: check, preview, then post only on "Post"; a window that posted
// nothing is ready for the next try.
class ImportFlowTest : public ConfiguredWindowTest {
 protected:
  void SetUp() override {
    ConfiguredWindowTest::SetUp();
    if (IsSkipped()) return;
    UseDatabase(*db_);
    testing::PutMaster(kGlKind, "07", "1120", "Client Receivables", 'A', "001");
    testing::PutMaster(kGlKind, "07", "4000", "Commission Income", 'I', "000");
    testing::PutMaster(kDepartmentKind, "07", "GA", "General Agency");
    testing::PutMaster(kClientKind, "07", "C001", "Smith, John");
    Form().show();
    Form().FormActivate();
    ASSERT_TRUE(Form().configured());
    Child<QLineEdit>("edtCSVName")->setText(FromPath(csv_));
  }
  void Load(const std::string& rows) {
    WriteFile(csv_, "GL,Name,SubType,Normal,Dept,Value\r\n" + rows);
    Child<QPushButton>("LoadCSV")->click();
  }
  std::string PolicyCount() { return db_->Rows("SELECT COUNT(*) FROM Policy")[0]; }
  bool ButtonsEnabled() { return Child("LoadCSV")->isEnabled() && Child("Button1")->isEnabled(); }

  std::string csv_ = work_.File("balances.csv");
};

TEST_F(ImportFlowTest, CancelAtThePreviewPostsNothingAndTheButtonWorksAgain) {
  const std::string rows =
      "1120,Receivables,C001,Debit,GA,50\r\n4000,Commission,NONE,Credit,GA,-50\r\n";
  desktop_.approve = false;
  Load(rows);
  ASSERT_EQ(desktop_.previews.size(), 1u);
  EXPECT_EQ(desktop_.previews[0].accounts.size(), 2u);
  EXPECT_EQ(desktop_.previews[0].policy_inserted, 1);
  EXPECT_EQ(desktop_.preview_what[0], FromPath(csv_) +
                                          QStringLiteral(" for agency 07, posting date ") +
                                          QString::fromLatin1(Text(Child("edtPostDate")).c_str()));
  EXPECT_EQ(PolicyCount(), "0");
  EXPECT_THAT(testing::DumpRecords("jcki"), IsEmpty());
  EXPECT_TRUE(ButtonsEnabled());
  EXPECT_EQ(Text(Child("Label6")), "Cancelled at the preview; nothing was posted");
  EXPECT_THAT(desktop_.messages, IsEmpty());
  EXPECT_THAT(desktop_.posted_shown, IsEmpty());

  desktop_.approve = true;
  Child<QPushButton>("LoadCSV")->click();
  ASSERT_EQ(desktop_.previews.size(), 2u);
  EXPECT_EQ(desktop_.previews[1], desktop_.previews[0]);
  EXPECT_EQ(PolicyCount(), "1");
  ASSERT_EQ(desktop_.posted_shown.size(), 1u);
  EXPECT_EQ(desktop_.posted_shown[0].posted, 2);
  EXPECT_EQ(desktop_.posted_shown[0].first_je, "100001");
  EXPECT_EQ(Text(Child("Label6")), "Done!");
  EXPECT_FALSE(ButtonsEnabled());  // a posting that ran is the window's last operation
  // No agency lookup opens them again.
  for (const char* code : {"99", "5", "07"}) {
    LeaveAgencyBoxWith(Child<QLineEdit>("edtAgy"), QString::fromLatin1(code));
    EXPECT_FALSE(Child("LoadCSV")->isEnabled()) << code;
    EXPECT_FALSE(Child("Button1")->isEnabled()) << code;
  }
}

TEST_F(ImportFlowTest, ErrorsAreShownAsATableThenTheFixedFileLoads) {
  Load("4000,Commission,NONE,Credit,GA,-50\r\n9999,Nowhere,NONE,Debit,ZZ,50\r\n");
  ASSERT_EQ(desktop_.errors_shown.size(), 1u);
  const std::vector<Pass1Error>& errors = desktop_.errors_shown[0].errors;
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].line_number, 3);
  EXPECT_EQ(errors[0].reason, "GL not found [9999]");
  EXPECT_EQ(errors[1].reason, "Dpt not found [ZZ]");
  // The table replaces the message and the log's opening; the log keeps the line.
  EXPECT_THAT(desktop_.messages, IsEmpty());
  EXPECT_THAT(desktop_.opened, IsEmpty());
  EXPECT_THAT(ReadFile(desktop_.errors_shown[0].run_log),
              HasSubstr("Errors found in input file. See "));
  EXPECT_THAT(desktop_.previews, IsEmpty());
  EXPECT_EQ(Text(Child("Label6")), "Errors found; nothing was posted");
  EXPECT_TRUE(ButtonsEnabled());

  Load("4000,Commission,NONE,Credit,GA,-50\r\n1120,Receivables,C001,Debit,GA,50\r\n");
  EXPECT_EQ(desktop_.errors_shown.size(), 1u);
  EXPECT_EQ(desktop_.previews.size(), 1u);
  EXPECT_EQ(PolicyCount(), "1");
  EXPECT_EQ(desktop_.posted_shown.size(), 1u);
}

TEST_F(ImportFlowTest, PassTwoShowsItsProgress) {
  std::string rows;
  for (int i = 0; i < 300; ++i)
    rows += "4000,Commission,NONE,Credit,GA," + std::to_string(i + 1) + "\r\n";
  std::vector<std::string> statuses;
  std::vector<int> bar;
  QTimer sampler;
  sampler.setInterval(0);
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    const std::string status = Text(Child("Label6"));
    if (status.rfind("Pass 2: Import", 0) != 0) return;
    if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
    bar.push_back(Child<QProgressBar>("barProgress")->value());
  });
  desktop_.on_preview = [&] { sampler.start(); };
  Load(rows);
  sampler.stop();
  ASSERT_EQ(desktop_.posted_shown.size(), 1u);
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses.front(), "Pass 2: Import [4000][NONE] row 1 of 300");
  EXPECT_THAT(statuses.back(), ::testing::StartsWith("Pass 2: Import [4000][NONE] row 300 of 300"));
  ASSERT_FALSE(bar.empty());
  EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
  EXPECT_LT(bar.front(), 100);
  EXPECT_GT(bar.back(), 900);
}

}  // namespace
}  // namespace quillmere
