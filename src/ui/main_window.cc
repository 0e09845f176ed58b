#include "ui/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include "context/clock.h"
#include "db/agency.h"
#include "db/qt_text.h"
#include "export/gl_export.h"
#include "recfiles/encodings.h"
#include "startup/run_values.h"
#include "ui/confirm_dialog.h"
#include "ui/date_box.h"
#include "ui/error_report_dialog.h"
#include "ui/posted_dialog.h"
#include "ui/preview_dialog.h"
#include "ui/window_font.h"

namespace quillmere {

namespace {

constexpr int kUnactivatedConfigureMs = 1000;

// A dialog in the middle of a run gets the ordinary pointer back while it is open.
class ArrowWhileAsking {
 public:
  ArrowWhileAsking() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
  ~ArrowWhileAsking() { QApplication::restoreOverrideCursor(); }
  ArrowWhileAsking(const ArrowWhileAsking&) = delete;
  ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;
};

// A document-number box: 0 to 999999 in steps of 100, in the digits of its locale; an entry
// left empty becomes 0.
class NumberBox : public QSpinBox {
 public:
  explicit NumberBox(QWidget* parent) : QSpinBox(parent) {
    setRange(0, 999999);
    setSingleStep(100);
  }
  void fixup(QString& input) const override {
    if (input.trimmed().isEmpty()) input = locale().toString(0);
    QSpinBox::fixup(input);
  }
};

// The number a box shows, also while it is being typed, read in the box's locale: "١٢٣٤٠٠" in
// ar_EG is 123400 (the locale takes ASCII digits too); empty or not a number, 0.
int NumberEntry(const QSpinBox* box) {
  bool ok = false;
  const int value = box->locale().toInt(box->cleanText(), &ok);
  return ok ? value : 0;
}

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top, int width,
                  int height, Qt::Alignment alignment) {
  auto* label =
      Place(new QLabel(QString::fromLatin1(text), parent), name, left, top, width, height);
  label->setAlignment(alignment | Qt::AlignVCenter);
  label->setTextFormat(Qt::PlainText);  // a status naming a file "<b>.csv" shows those characters
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top,
                        int width) {
  return Place(new QPushButton(QString::fromLatin1(text), parent), name, left, top, width, 32);
}

}  // namespace

void ShowPlainMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramName), text, QMessageBox::Ok,
                  parent);
  box.setTextFormat(Qt::PlainText);  // names and codes in messages are never markup
  box.exec();
}

namespace {

// Without an associated program there is nothing to open; the file is written all the same.
void OpenWithDesktop(const QString& path) {
  (void)QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace

DesktopServices RealDesktopServices() {
  DesktopServices services;
  services.show_message = ShowPlainMessage;
  services.choose_file = [](QWidget* parent, const QString& folder,
                            const QString& file_name) -> std::optional<QString> {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")});
    dialog.setDirectory(folder);
    dialog.selectFile(file_name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    return dialog.selectedFiles().first();
  };
  services.choose = [](QWidget* parent, const QString& question, const QStringList& answers) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kProgramName), question,
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    std::vector<QAbstractButton*> buttons;
    for (const QString& answer : answers) {
      buttons.push_back(box.addButton(answer, QMessageBox::ActionRole));
    }
    // Escape and the close box take the last answer, which is "Cancel".
    if (!buttons.empty()) box.setEscapeButton(buttons.back());
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
    }
    return -1;
  };
  services.approve_preview = [](QWidget* parent, const Preview& preview, const QString& what) {
    PreviewDialog dialog(preview, ToRecordText(what), parent);
    return dialog.exec() == QDialog::Accepted;
  };
  services.show_errors = [](QWidget* parent, const ImportSummary& summary,
                            const std::string& csv_path) {
    ErrorReportDialog::Services report;
    report.open_file = OpenWithDesktop;
    report.choose_save = [](QWidget* parent, const QString& preset) -> std::optional<QString> {
      QFileDialog dialog(parent, QStringLiteral("Save the errors as CSV"));
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setNameFilters({QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")});
      dialog.setDefaultSuffix(QStringLiteral("csv"));
      dialog.selectFile(preset);
      if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
      }
      return dialog.selectedFiles().first();
    };
    report.show_message = ShowPlainMessage;
    ErrorReportDialog dialog(summary.errors, csv_path, summary.run_log, report, parent);
    dialog.exec();
  };
  services.show_posted = [](QWidget* parent, const ImportSummary& summary) {
    PostedDialog dialog(summary, OpenWithDesktop, parent);
    dialog.exec();
  };
  services.open_file = OpenWithDesktop;
  return services;
}

// Marks an operation as running; at its end, closes the window if Quit was confirmed meanwhile.
class TForm1::RunScope {
 public:
  explicit RunScope(TForm1* form) : form_(form) {
    form_->running_ = true;
    form_->stop_requested_ = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);  // busy, also while pass 1 paints nothing
  }
  ~RunScope() {
    QApplication::restoreOverrideCursor();
    form_->running_ = false;
    form_->barProgress->hide();
    if (form_->close_when_done_) form_->close();
  }

 private:
  TForm1* form_;
};

TForm1::TForm1(WindowSetup setup, QWidget* parent)
    : QWidget(parent),
      setup_(std::move(setup)),
      desktop_(RealDesktopServices()),
      policy_table_(setup_.connection_name),
      files_(
          &policy_table_, [] { return StringDateStamp(); }, setup_.work_dir),
      import_run_(files_, *this),
      export_run_(files_, *this) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Quillmere Loader"));
  setFixedSize(852, 292);
  setFont(WindowFont());

  const Qt::Alignment right = Qt::AlignRight;
  Label1 = MakeLabel(this, "Label1", "Agency Code", 8, 27, 200, 23, right);
  Label2 = MakeLabel(this, "Label2", "Posting Date", 8, 60, 200, 23, right);
  Label3 = MakeLabel(this, "Label3", "CSV File Name", 8, 94, 200, 23, right);
  Label4 = MakeLabel(this, "Label4", "Starting JE Number", 8, 130, 200, 23, right);
  Label5 = MakeLabel(this, "Label5", "Starting Inv Number", 8, 163, 200, 23, right);
  Label6 =
      MakeLabel(this, "Label6", "Select an Option to Begin", 8, 207, 337, 26, Qt::AlignHCenter);
  lblDSNNAme = MakeLabel(this, "lblDSNNAme", "DSN Name here", 8, 243, 337, 23, Qt::AlignHCenter);

  edtAgy = Place(new QLineEdit(QStringLiteral("01"), this), "edtAgy", 224, 24, 49, 31);
  edtAgy->installEventFilter(this);
  connect(edtAgy, &QLineEdit::textEdited, this, [this] { agency_typed_ = true; });
  edtAgyName =
      Place(new QLineEdit(QStringLiteral("Your New Agency"), this), "edtAgyName", 280, 24, 329, 31);
  edtAgyName->setEnabled(false);

  edtPostDate = Place(new DateBox(this), "edtPostDate", 224, 59, 185, 31);

  edtCSVName = Place(new QLineEdit(QString::fromLatin1(kDefaultCsvName), this), "edtCSVName", 224,
                     91, 385, 31);
  btnBrowse = Place(new QPushButton(this), "btnBrowse", 615, 90, 32, 32);
  btnBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  btnBrowse->setIconSize(QSize(20, 20));
  btnBrowse->setToolTip(QStringLiteral("Choose the balance sheet CSV"));

  edtJENumber = Place(new NumberBox(this), "edtJENumber", 224, 128, 137, 31);
  edtJENumber->setValue(static_cast<int>(kDefaultFirstJeNumber));
  edtInvNumber = Place(new NumberBox(this), "edtInvNumber", 224, 160, 137, 31);
  edtInvNumber->setValue(static_cast<int>(kDefaultFirstInvNumber));

  Button1 = MakeButton(this, "Button1", "Create GL CSV", 616, 152, 200);
  LoadCSV = MakeButton(this, "LoadCSV", "Load Balances - CSV", 616, 192, 200);
  Button3 = MakeButton(this, "Button3", "Quit", 616, 240, 200);

  barProgress = Place(new QProgressBar(this), "barProgress", 352, 211, 256, 18);
  barProgress->setRange(0, 1000);
  barProgress->setTextVisible(false);
  barProgress->hide();

  QWidget* const tab_order[] = {edtAgy,      edtAgyName,   edtPostDate, edtCSVName, btnBrowse,
                                edtJENumber, edtInvNumber, Button1,     LoadCSV,    Button3};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }

  connect(btnBrowse, &QPushButton::clicked, this, &TForm1::BrowseClick);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(LoadCSV, &QPushButton::clicked, this, &TForm1::LoadCSVClick);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);

  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  const RunValues defaults = DefaultRunValues(setup_.run_options, NowLocal().date);
  edtPostDate->setText(FromRecordText(defaults.posting_date));
}

bool TForm1::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) FormActivate();
  // A desktop without a window manager never activates the window: a second after its first
  // showing it is configured all the same (a configured window ignores this).
  if (event->type() == QEvent::Show && !shown_once_) {
    shown_once_ = true;
    QTimer::singleShot(kUnactivatedConfigureMs, this, [this] { FormActivate(); });
  }
  return QWidget::event(event);
}

void TForm1::FormActivate() {
  if (configured_ || configuring_ || running_) return;
  // The activation that follows at once from closing a failed configuration's own message is
  // not a new attempt; without this pause a stopped server would show its error forever.
  if (since_failed_configuration_.isValid() &&
      since_failed_configuration_.elapsed() < setup_.retry_quiet_ms) {
    return;
  }
  configuring_ = true;
  configured_ = SetVelFiles();
  configuring_ = false;
}

bool TForm1::SetVelFiles() {
  const SettingsFileChoice choice = ChooseSettingsFile(setup_.settings_folders, setup_.run_options);
  if (!choice.missing.empty()) {
    // Every default in its place would reach another database without a word.
    ShowConfigurationError(choice.missing);
    return false;
  }
  SitePaths paths;
  paths.settings_path = choice.path;
  paths.host_settings_path = ChooseHostSettingsFile(setup_.settings_folders, setup_.run_options);
  paths.work_dir = setup_.work_dir;
  SiteConfiguration config;
  std::string error;
  const bool connected = ConfigureSite(paths, setup_.connection_name, &config, &error);
  if (!settings_notes_shown_) {
    settings_notes_shown_ = true;  // once per program start, not at every retry
    std::string text;
    if (!choice.searched.empty()) {
      text = "No settings file was found: " + choice.searched + ". The built-in defaults are used.";
    }
    for (const SettingsProblem& problem : config.settings.problems) {
      text += problem.Message() + "\n";
    }
    if (!config.settings.problems.empty()) text += "The other settings of the file are used.";
    if (!text.empty()) ErrorWindow(text);
  }
  // The store's failure and the connection's, when both fail, in one message.
  std::string failures = config.store_status != 0 ? config.store_message : "";
  if (!connected) failures += (failures.empty() ? "" : "\n") + error;
  if (!failures.empty()) {
    ShowConfigurationError(failures);
    return false;
  }
  // The start-up agency, until the operator types one: a configuration that runs again after a
  // failed one (also when a button is pressed) leaves a typed code as it is, and the operation
  // then runs for that code.
  if (!agency_typed_) edtAgy->setText(FromRecordText(setup_.run_options.sLastAgyCode));
  if (!LookUpAgency(&error)) {
    ShowConfigurationError(error);
    return false;
  }
  lblDSNNAme->setText(FromRecordText(config.params.database));
  ProcessEvents();
  return true;
}

void TForm1::ShowConfigurationError(const std::string& message) {
  ErrorWindow(message);
  since_failed_configuration_.start();  // from the moment the message is closed
}

bool TForm1::LookUpAgency(std::string* error) {
  const QString code = edtAgy->text();
  const std::optional<std::string> name = LookupAgencyName(
      QSqlDatabase::database(setup_.connection_name, /*open=*/false), ToRecordText(code), error);
  if (!name) {
    // Unknown whether the code has a row: the operation asks again when it starts.
    looked_up_agency_.reset();
    AllowOperationsForAgency(true);
    return false;
  }
  edtAgyName->setText(FromRecordText(*name));
  looked_up_agency_ = code;
  agency_found_ = *name != kAgencyNotFound;
  AllowOperationsForAgency(agency_found_);
  return true;
}

bool TForm1::AgencyFound() {
  if (looked_up_agency_ != edtAgy->text()) {
    std::string error;
    if (!LookUpAgency(&error)) {
      ErrorWindow(error);
      return false;
    }
  }
  AllowOperationsForAgency(agency_found_);
  return agency_found_;
}

void TForm1::AllowOperationsForAgency(bool allow) {
  if (!allow && !operations_off_for_agency_ && LoadCSV->isEnabled()) {
    operations_off_for_agency_ = true;
    LoadCSV->setEnabled(false);
    Button1->setEnabled(false);
  } else if (allow && operations_off_for_agency_) {
    operations_off_for_agency_ = false;
    LoadCSV->setEnabled(true);
    Button1->setEnabled(true);
  }
}

void TForm1::ShowAgyName() {
  std::string error;
  if (!LookUpAgency(&error)) ErrorWindow(error);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edtAgy && event->type() == QEvent::FocusOut) {
    // Leaving the box, not the window: a message box or another program taking the focus
    // does not count.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && !configuring_) {
      ShowAgyName();
    }
  }
  return QWidget::eventFilter(watched, event);
}

ImportRequest TForm1::ReadImportRequest() const {
  ImportRequest request;
  request.agency_code = ToRecordText(edtAgy->text());
  request.posting_date = ToRecordText(edtPostDate->text());
  request.csv_path = ToPath(edtCSVName->text());
  request.first_je_number = NumberEntry(edtJENumber);
  request.first_inv_number = NumberEntry(edtInvNumber);
  return request;
}

bool TForm1::EnsureConfigured() {
  if (configured_) return true;
  // The client file set opens once per program start; opening it without a configured
  // library and connection would leave it unusable for the rest of the run.
  configuring_ = true;
  configured_ = SetVelFiles();
  configuring_ = false;
  return configured_;
}

void TForm1::LoadCSVClick() {
  if (running_ || !EnsureConfigured()) return;
  const ImportRequest request = ReadImportRequest();
  // A request that cannot start (bad date, long or unknown agency code) leaves all as it was.
  if (!import_run_.CheckRequest(request) || !AgencyFound()) return;
  LoadCSV->setEnabled(false);
  Button1->setEnabled(false);
  ImportOutcome outcome;
  {
    RunScope run(this);
    LoadOptions load;
    const QString what = FromPath(request.csv_path) + QStringLiteral(" for agency ") +
                         FromRecordText(LeftPad(request.agency_code, 2)) +
                         QStringLiteral(", posting date ") + FromRecordText(request.posting_date);
    load.approve = [this, &what](const Preview& preview) {
      if (!desktop_.approve_preview) return false;
      ArrowWhileAsking arrow;
      return desktop_.approve_preview(this, preview, what);
    };
    import_run_.set_errors_shown_by_caller(true);
    outcome = import_run_.Run(request, load);
    // Quit during the run: where it stopped and how to go on, before the window closes.
    if (!import_run_.summary().stopped_by_operator.empty()) {
      ErrorWindow(import_run_.summary().stopped_by_operator);
    }
  }
  const ImportSummary& summary = import_run_.summary();
  if (summary.resumed) {
    // A resumed run posts with its own date and numbers: the boxes show what was used.
    if (const std::optional<Date> date = ParseDate(summary.posting_date)) {
      edtPostDate->setDate(QDate(date->year, date->month, date->day));
    }
    edtJENumber->setValue(static_cast<int>(summary.first_je_number));
    edtInvNumber->setValue(static_cast<int>(summary.first_inv_number));
  }
  if (outcome == ImportOutcome::kErrors && desktop_.show_errors) {
    ArrowWhileAsking arrow;
    desktop_.show_errors(this, summary, request.csv_path);
  }
  // A posting that ran (whole or stopped part-way) ends the window's work; anything that
  // posted nothing gives the buttons back for another try.
  const bool posting_ran = summary.run_id != 0;
  if (posting_ran && outcome == ImportOutcome::kPosted && desktop_.show_posted) {
    ArrowWhileAsking arrow;
    desktop_.show_posted(this, summary);
  }
  if (!posting_ran) {
    LoadCSV->setEnabled(true);
    Button1->setEnabled(true);
  }
}

void TForm1::Button1Click() {
  if (running_ || !EnsureConfigured()) return;
  ExportRequest request;
  request.agency_code = ToRecordText(edtAgy->text());
  request.csv_path = ToPath(edtCSVName->text());
  // Before the wait cursor and anything opened.
  if (!CheckExportRequest(request, *this) || !AgencyFound()) return;
  RunScope run(this);
  if (export_run_.Run(request) == ExportOutcome::kWritten) {
    Launch(request.csv_path);
    close_when_done_ = true;  // the export ends the program
  }
}

void TForm1::Button3Click() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
  if (!running_) {
    event->accept();
    return;
  }
  // An operation is running: stop it at a safe point first, then close.
  event->ignore();
  if (!stop_requested_ && Confirm("Stop the running operation and quit?")) {
    stop_requested_ = true;
    close_when_done_ = true;
  }
}

void TForm1::BrowseClick() {
  const QFileInfo typed(edtCSVName->text());
  const QString folder = edtCSVName->text().isEmpty() ? QDir::currentPath() : typed.absolutePath();
  const std::optional<QString> chosen = desktop_.choose_file(this, folder, typed.fileName());
  if (chosen) edtCSVName->setText(*chosen);
}

void TForm1::ErrorWindow(const std::string& message) {
  ArrowWhileAsking arrow;
  desktop_.show_message(this, FromRecordText(message));
}

bool TForm1::Confirm(const std::string& prompt) {
  TfrmConfirm* dialog = confirm_;
  if (dialog == nullptr) {
    if (own_confirm_ == nullptr) own_confirm_ = new TfrmConfirm(this);
    dialog = own_confirm_;
  }
  ArrowWhileAsking arrow;
  return dialog->Ask(FromRecordText(prompt)) == TfrmConfirm::kYes;
}

int TForm1::Choose(const std::string& question, const std::vector<std::string>& answers) {
  if (!desktop_.choose) return -1;
  QStringList texts;
  for (const std::string& answer : answers) texts << FromRecordText(answer);
  ArrowWhileAsking arrow;
  return desktop_.choose(this, FromRecordText(question), texts);
}

void TForm1::SetStatus(const std::string& text) { Label6->setText(FromRecordText(text)); }

void TForm1::ProcessEvents() { QCoreApplication::processEvents(); }

void TForm1::Launch(const std::string& path) {
  desktop_.open_file(QFileInfo(FromPath(path)).absoluteFilePath());
}

void TForm1::ShowProgress(long long done, long long total) {
  if (total <= 0) return;
  const long long clamped = std::min(std::max(done, 0LL), total);
  barProgress->setValue(static_cast<int>(clamped * 1000 / total));
  barProgress->show();
  // Paints now without handling input: the scan must not be re-entered by a click.
  barProgress->repaint();
}

}  // namespace quillmere
