// TForm1: the operator's window. It collects the run values, starts the import or the GL
// export on the core objects it owns (client file set, Policy table, import run), runs the site
// configuration when first activated, and is the Operator those operations talk to.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "context/client_files.h"
#include "context/operator.h"
#include "db/connection.h"
#include "db/sql_policy_table.h"
#include "export/gl_export.h"
#include "import/import_run.h"
#include "startup/run_options.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace quillmere {

class DateBox;
class TfrmConfirm;

// What the window is started with.
struct WindowSetup {
  RunOptions run_options;
  // Where settings files named without a folder are looked for, nearest first
  // (SettingsFolders in startup/user_folders.h).
  std::vector<std::string> settings_folders;
  std::string work_dir = ".";  // where "utility.ini" and the run logs are written
  QString connection_name = QStringLiteral("quillmere");
  // A configuration that failed is retried on a later activation, but not on the one that
  // follows at once from closing its own error message.
  int retry_quiet_ms = 500;
};

// The desktop services the window uses; each defaults to the real one, tests replace them.
struct DesktopServices {
  // A modal message with an OK button, titled with the program's name. The text is shown as
  // it is, never as markup (also the question of `choose`).
  std::function<void(QWidget* parent, const QString& text)> show_message;
  // The file chooser, opened in `folder` with `file_name` preset, CSV files listed first; it may
  // name a file that does not exist yet (the export writes one). The path chosen, or nullopt
  // when cancelled.
  std::function<std::optional<QString>(QWidget* parent, const QString& folder,
                                       const QString& file_name)>
      choose_file;
  // Opens an absolute path with the desktop's associated program, without waiting.
  std::function<void(const QString& path)> open_file;
  // A modal question with one button per answer, titled with the program's name: the index of
  // the answer pressed, -1 when the dialog was closed without one. Null: nobody is asked (-1).
  std::function<int(QWidget* parent, const QString& question, const QStringList& answers)> choose;
  // The preview of a clean file (`what`: the file, agency and date): true to post it.
  std::function<bool(QWidget* parent, const Preview& preview, const QString& what)> approve_preview;
  // The errors a check found in `csv_path`, with the run's log.
  std::function<void(QWidget* parent, const ImportSummary& summary, const std::string& csv_path)>
      show_errors;
  // What a posting that ran did.
  std::function<void(QWidget* parent, const ImportSummary& summary)> show_posted;
};
DesktopServices RealDesktopServices();

// A modal message with an OK button, titled with the program's name; the text is shown as it
// is, never as markup (the real services' show_message; also the start-up's messages).
void ShowPlainMessage(QWidget* parent, const QString& text);

inline constexpr char kProgramName[] = "Quillmere";

class TForm1 : public QWidget, public Operator {
  Q_OBJECT

 public:
  explicit TForm1(WindowSetup setup, QWidget* parent = nullptr);
  ~TForm1() override;

  void set_confirm_dialog(TfrmConfirm* dialog) { confirm_ = dialog; }
  void set_desktop_services(DesktopServices services) { desktop_ = std::move(services); }

  // Operator.
  void ErrorWindow(const std::string& message) override;
  bool Confirm(const std::string& prompt) override;
  int Choose(const std::string& question, const std::vector<std::string>& answers) override;
  void SetStatus(const std::string& text) override;
  void ProcessEvents() override;
  void Launch(const std::string& path) override;
  void ShowProgress(long long done, long long total) override;
  bool StopRequested() override { return stop_requested_; }

  // Creation: the posting date becomes the last day of the previous month.
  void FormCreate();
  // Activation: the site configuration on the first activation, and again only after one that
  // failed; then the database name in lblDSNNAme.
  void FormActivate();
  // The site configuration. False (the error shown, the texts left as they were) on failure:
  // a settings file named by /c that is not there, a setting that cannot work, a record-file
  // store that does not open, a connection that fails. Puts the start-up agency into edtAgy
  // unless the operator has typed in it.
  bool SetVelFiles();
  // Looks up the agency typed in edtAgy and shows its name or " Not Found" in edtAgyName. A code
  // with no Agency row disables both operation buttons until a lookup finds one. On a database
  // error shows the error, leaves edtAgyName as it was and the buttons enabled: an operation
  // then looks the code up again when it starts.
  void ShowAgyName();

  // "Load Balances - CSV": checks the CSV against the master file; errors are shown in a table;
  // a clean file's preview is shown, and only "Post" posts it, after which a summary says what
  // was posted. Both operation buttons stay disabled once a posting ran; after anything that
  // posted nothing (errors, a file not found, a cancel, a refused start) they are given back,
  // so the operator fixes the file and loads it again.
  // Like the export, it starts only for an agency code that has an Agency row: a code not looked
  // up yet (or whose lookup could not run) is looked up first.
  void LoadCSVClick();
  // "Create GL CSV": writes the agency's GL chart as a CSV template, opens it and closes.
  void Button1Click();
  // "Quit": closes the window (during an operation: asks, then stops it at a safe point).
  void Button3Click();
  // The folder button beside the CSV name: the file chooser, opened in the folder of the name
  // in edtCSVName (a bare or relative name is taken from the current folder, as the import
  // takes it) with that name preset, puts the chosen path into the box; Cancel leaves the box
  // as it was.
  void BrowseClick();

  // The import's run values as the window holds them now: the posting date as the box shows it,
  // date or not (the import refuses one that is no date); an empty number box counts as 0.
  ImportRequest ReadImportRequest() const;

  bool configured() const { return configured_; }
  bool running() const { return running_; }
  ClientFileSet& files() { return files_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class RunScope;
  // Looks up the code in edtAgy and shows the name (or " Not Found"); switches the operation
  // buttons by the result. False with the database's error when the lookup could not run.
  bool LookUpAgency(std::string* error);
  // True when the code now in edtAgy has an Agency row, looking it up unless the last lookup was
  // of this code; false when it has none (the buttons are then disabled) or the lookup could not
  // run (the error is shown).
  bool AgencyFound();
  // Disables both operation buttons for an agency code without a row, or enables them again
  // when they were disabled for that reason only (never after an import has started).
  void AllowOperationsForAgency(bool allow);
  // Runs the site configuration now unless it completed before; false when it failed (shown).
  bool EnsureConfigured();
  void ShowConfigurationError(const std::string& message);

  WindowSetup setup_;
  DesktopServices desktop_;
  TfrmConfirm* confirm_ = nullptr;
  TfrmConfirm* own_confirm_ = nullptr;

  SqlPolicyTable policy_table_;
  ClientFileSet files_;
  ImportRun import_run_;
  ExportRun export_run_;

  bool configured_ = false;
  bool shown_once_ = false;
  bool configuring_ = false;
  bool settings_notes_shown_ = false;  // a missing settings file, lines that are not settings
  bool agency_typed_ = false;          // the operator edited edtAgy: configuration leaves it alone
  // The code of the last agency lookup that ran and whether it found a row; nullopt when none
  // ran yet or the last one could not run.
  std::optional<QString> looked_up_agency_;
  bool agency_found_ = false;
  bool operations_off_for_agency_ = false;  // the buttons are disabled for an unknown code
  QElapsedTimer since_failed_configuration_;
  bool running_ = false;
  bool stop_requested_ = false;
  bool close_when_done_ = false;

  QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *lblDSNNAme;
  QLineEdit *edtAgy, *edtAgyName, *edtCSVName;
  DateBox* edtPostDate;  // the posting date exactly as typed
  QPushButton* btnBrowse;
  QSpinBox *edtJENumber, *edtInvNumber;
  QPushButton *Button1, *LoadCSV, *Button3;
  QProgressBar* barProgress;
};

}  // namespace quillmere
