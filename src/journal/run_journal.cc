#include "journal/run_journal.h"

#include <cstdio>
#include <string_view>

#include "journal/policy_row_codec.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/sha256.h"

namespace quillmere {
namespace {

// Texts are 8-bit, as the host stores them: kept as BLOBs, so every byte survives and
// comparisons are bytewise.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS journal_runs("
    " run_id INTEGER PRIMARY KEY, agency BLOB NOT NULL, csv_name BLOB NOT NULL,"
    " csv_size INTEGER NOT NULL, csv_hash BLOB NOT NULL, posting_date BLOB NOT NULL,"
    " run_time BLOB NOT NULL, first_je INTEGER NOT NULL, first_inv INTEGER NOT NULL,"
    " started BLOB NOT NULL, ended BLOB NOT NULL, state TEXT NOT NULL,"
    " undo_pending INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS journal_runs_content ON journal_runs(agency, csv_hash);"
    "CREATE TABLE IF NOT EXISTS journal_rows("
    " run_id INTEGER NOT NULL, line INTEGER NOT NULL, je INTEGER NOT NULL, inv INTEGER NOT NULL,"
    " confirmed INTEGER NOT NULL, policy_row BLOB, policy_inserted INTEGER,"
    " policy_id INTEGER, policy_earlier BLOB, records BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS journal_rows_line ON journal_rows(run_id, line);"
    "CREATE INDEX IF NOT EXISTS journal_rows_unconfirmed ON journal_rows(run_id, line)"
    " WHERE confirmed = 0;";

constexpr char kRunColumns[] =
    "SELECT r.run_id, r.agency, r.csv_name, r.csv_size, r.csv_hash, r.posting_date, r.run_time,"
    " r.first_je, r.first_inv, r.started, r.ended, r.state, r.undo_pending,"
    " COUNT(w.line), IFNULL(MAX(w.line), 0), IFNULL(MIN(NULLIF(w.je, 0)), 0),"
    " IFNULL(MAX(w.je), 0), IFNULL(MIN(NULLIF(w.inv, 0)), 0), IFNULL(MAX(w.inv), 0),"
    " IFNULL(SUM(w.confirmed = 0), 0), IFNULL(SUM(w.inv <> 0), 0)"
    " FROM journal_runs r LEFT JOIN journal_rows w ON w.run_id = r.run_id ";

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_blob(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// A run's state is TEXT, so the statements' literals ('posted', ...) compare equal to it.
void BindState(sqlite3_stmt* stmt, int index, const std::string& state) {
  sqlite3_bind_text(stmt, index, state.data(), static_cast<int>(state.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const void* bytes = sqlite3_column_blob(stmt, column);
  return std::string(
      static_cast<const char*>(bytes),
      bytes == nullptr ? 0 : static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

std::optional<std::string> ColumnOptional(sqlite3_stmt* stmt, int column) {
  if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return std::nullopt;
  return ColumnText(stmt, column);
}

// Resets the statement when the scope ends, so no read stays open.
struct Reset {
  sqlite3_stmt* stmt;
  ~Reset() {
    if (stmt != nullptr) {
      sqlite3_reset(stmt);
      sqlite3_clear_bindings(stmt);
    }
  }
};

// A row's record changes in one BLOB, so a posted row costs one journal insert however many
// records it wrote. Each change: its file and key, each a length (one byte below 128, as a
// varint) and its bytes; a byte of flags (1: an earlier image follows, 2: a written one was
// kept); the earlier image as a length and its bytes; the written image's RecordDigest. An undo
// needs the whole earlier image to put it back, and of the written one only whether the record
// still holds it: the digest keeps the journal small, which keeps posting fast.
void PutLength(std::string* out, size_t length) {
  while (length >= 0x80) {
    out->push_back(static_cast<char>((length & 0x7F) | 0x80));
    length >>= 7;
  }
  out->push_back(static_cast<char>(length));
}

bool TakeLength(std::string_view* in, size_t* length) {
  *length = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (in->empty()) return false;
    const auto byte = static_cast<uint8_t>(in->front());
    in->remove_prefix(1);
    *length |= static_cast<size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

void PutBytes(std::string* out, std::string_view bytes) {
  PutLength(out, bytes.size());
  out->append(bytes);
}

bool TakeBytes(std::string_view* in, std::string* bytes) {
  size_t length = 0;
  if (!TakeLength(in, &length) || in->size() < length) return false;
  bytes->assign(in->substr(0, length));
  in->remove_prefix(length);
  return true;
}

std::string EncodeRecordChanges(const std::vector<RecordChange>& changes) {
  std::string out;
  for (const RecordChange& change : changes) {
    PutBytes(&out, change.file);
    PutBytes(&out, change.key);
    out.push_back(static_cast<char>((change.before ? 1 : 0) | (change.after ? 2 : 0)));
    if (change.before) PutBytes(&out, *change.before);
    if (change.after) PutBytes(&out, RecordDigest(*change.after));
  }
  return out;
}

bool DecodeRecordChanges(std::string_view in, std::vector<RecordChange>* changes) {
  while (!in.empty()) {
    RecordChange& change = changes->emplace_back();
    if (!TakeBytes(&in, &change.file) || !TakeBytes(&in, &change.key) || in.empty()) return false;
    const auto flags = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    if (flags > 3) return false;
    if (flags & 1) {
      if (!TakeBytes(&in, &change.before.emplace())) return false;
    }
    if (flags & 2) {
      if (!TakeBytes(&in, &change.after.emplace())) return false;
    }
  }
  return true;
}

}  // namespace

std::string RecordDigest(std::string_view image) { return Sha256Hex(image).substr(0, 32); }

std::string RunName(const JournalRun& run) {
  return "run " + std::to_string(run.id) + " (" + run.csv_name + " for agency " + run.agency +
         ", started " + run.started + ")";
}

std::string FormatJournalTime(const DateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.date.year, t.date.month,
                t.date.day, t.hour, t.minute, t.second);
  return text;
}

std::optional<DateTime> ParseJournalTime(const std::string& text) {
  DateTime t;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.date.year, &t.date.month,
                  &t.date.day, &t.hour, &t.minute, &t.second, &tail) != 6) {
    return std::nullopt;
  }
  return t;
}

RunJournal::~RunJournal() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
}

sqlite3_stmt* RunJournal::Statement(const char* sql) { return Statement(sql, sql); }

sqlite3_stmt* RunJournal::Statement(const char* key, const std::string& sql) {
  sqlite3* db = RecordStoreConnection();
  if (db == nullptr) {
    error_ = "the record store is not open";
    return nullptr;
  }
  if (db != db_) {  // the store was opened again: its statements went with the old connection
    for (auto& [text, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    db_ = db;
  }
  sqlite3_stmt*& stmt = statements_[key];
  if (stmt == nullptr && sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                                            nullptr) != SQLITE_OK) {
    error_ = std::string("the run journal could not be read: ") + sqlite3_errmsg(db_);
    statements_.erase(key);
    return nullptr;
  }
  return stmt;
}

bool RunJournal::Failed(const char* what) {
  error_ = std::string("the run journal could not ") + what + ": " +
           (db_ != nullptr ? sqlite3_errmsg(db_) : "the record store is not open");
  return false;
}

bool RunJournal::Present() {
  sqlite3* db = RecordStoreConnection();
  if (db == nullptr) return false;
  static constexpr char kSql[] =
      "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name IN "
      "('journal_runs', 'journal_rows')";
  sqlite3_stmt* stmt = Statement(kSql);
  if (stmt == nullptr) return false;
  Reset reset{stmt};
  return sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 2;
}

bool RunJournal::Prepare() {
  error_.clear();
  if (Present()) return true;
  sqlite3* db = RecordStoreConnection();
  if (db == nullptr) return Failed("be made");
  db_ = db;
  if (const int16_t begin = btrBeginTransaction(); begin != 0) {
    error_ = "the run journal could not be made: the record store could not be locked, status " +
             std::to_string(begin);
    return false;
  }
  const std::string sql =
      std::string(kSchema) + "PRAGMA user_version = " + std::to_string(kStoreFormat) + ";";
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Failed("be made");
    (void)btrAbortTransaction();
    return false;
  }
  if (const int16_t end = btrEndTransaction(); end != 0) {
    error_ = "the run journal could not be made: the store did not commit, status " +
             std::to_string(end);
    return false;
  }
  return true;
}

std::vector<JournalRun> RunJournal::SelectRuns(const char* where_sql,
                                               const std::vector<std::string>& params) {
  error_.clear();
  std::vector<JournalRun> runs;
  if (!Present()) return runs;
  // One statement per condition; the condition texts are literals, so their address keys it.
  sqlite3_stmt* stmt = Statement(where_sql, std::string(kRunColumns) + where_sql);
  if (stmt == nullptr) return runs;
  Reset reset{stmt};
  for (size_t i = 0; i < params.size(); ++i) BindText(stmt, static_cast<int>(i) + 1, params[i]);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    JournalRun& run = runs.emplace_back();
    run.id = sqlite3_column_int64(stmt, 0);
    run.agency = ColumnText(stmt, 1);
    run.csv_name = ColumnText(stmt, 2);
    run.csv_size = sqlite3_column_int64(stmt, 3);
    run.csv_hash = ColumnText(stmt, 4);
    run.posting_date = ColumnText(stmt, 5);
    run.run_time = ParseJournalTime(ColumnText(stmt, 6)).value_or(DateTime{});
    run.first_je = sqlite3_column_int(stmt, 7);
    run.first_inv = sqlite3_column_int(stmt, 8);
    run.started = ColumnText(stmt, 9);
    run.ended = ColumnText(stmt, 10);
    run.state = ColumnText(stmt, 11);
    run.undo_pending = sqlite3_column_int(stmt, 12) != 0;
    run.rows = sqlite3_column_int64(stmt, 13);
    run.last_line = sqlite3_column_int64(stmt, 14);
    run.low_je = sqlite3_column_int(stmt, 15);
    run.high_je = sqlite3_column_int(stmt, 16);
    run.low_inv = sqlite3_column_int(stmt, 17);
    run.high_inv = sqlite3_column_int(stmt, 18);
    run.unconfirmed = sqlite3_column_int64(stmt, 19);
    run.invoice_rows = sqlite3_column_int64(stmt, 20);
  }
  if (rc != SQLITE_DONE) {
    Failed("be read");
    runs.clear();
  }
  return runs;
}

namespace {

// The first run a selection found, if any.
std::optional<JournalRun> First(std::vector<JournalRun> runs) {
  if (runs.empty()) return std::nullopt;
  return std::move(runs.front());
}

}  // namespace

std::vector<JournalRun> RunJournal::Runs(const std::string& agency) {
  if (agency.empty()) return SelectRuns("GROUP BY r.run_id ORDER BY r.run_id", {});
  return SelectRuns("WHERE r.agency = ?1 GROUP BY r.run_id ORDER BY r.run_id", {agency});
}

std::optional<JournalRun> RunJournal::FindRun(int64_t id) {
  // The parameters are bound as BLOBs, which never equal an INTEGER: the id is cast back.
  return First(
      SelectRuns("WHERE r.run_id = CAST(?1 AS INTEGER) GROUP BY r.run_id", {std::to_string(id)}));
}

std::optional<JournalRun> RunJournal::PostedBefore(const std::string& agency,
                                                   const std::string& hash) {
  return First(
      SelectRuns("WHERE r.agency = ?1 AND r.csv_hash = ?2 AND r.state <> 'undone'"
                 " GROUP BY r.run_id"
                 " HAVING COUNT(w.line) > 0 OR r.state IN ('posting', 'posted')"
                 " ORDER BY r.run_id DESC LIMIT 1",
                 {agency, hash}));
}

std::optional<JournalRun> RunJournal::Unfinished(const std::string& agency,
                                                 const std::string& hash) {
  return First(
      SelectRuns("WHERE r.agency = ?1 AND r.csv_hash = ?2"
                 " AND r.state IN ('posting', 'stopped')"
                 " GROUP BY r.run_id ORDER BY r.run_id DESC LIMIT 1",
                 {agency, hash}));
}

std::vector<JournalRun> RunJournal::RunsToRecover() {
  return SelectRuns(
      "GROUP BY r.run_id HAVING SUM(w.confirmed = 0) > 0 OR r.undo_pending <> 0"
      " ORDER BY r.run_id",
      {});
}

std::vector<int64_t> RunJournal::PostedLines(int64_t run_id) {
  error_.clear();
  std::vector<int64_t> lines;
  sqlite3_stmt* stmt = Statement("SELECT line FROM journal_rows WHERE run_id = ?1 ORDER BY line");
  if (stmt == nullptr) return lines;
  Reset reset{stmt};
  sqlite3_bind_int64(stmt, 1, run_id);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) lines.push_back(sqlite3_column_int64(stmt, 0));
  if (rc != SQLITE_DONE) {
    Failed("be read");
    lines.clear();
  }
  return lines;
}

std::optional<::quillmere::PostedBefore> RunJournal::PostedPolicy(int64_t run_id, int64_t line) {
  error_.clear();
  sqlite3_stmt* stmt =
      Statement("SELECT policy_row, policy_id FROM journal_rows WHERE run_id = ?1 AND line = ?2");
  if (stmt == nullptr) return std::nullopt;
  Reset reset{stmt};
  sqlite3_bind_int64(stmt, 1, run_id);
  sqlite3_bind_int64(stmt, 2, line);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) {
    Failed("be read");
    return std::nullopt;
  }
  const std::optional<std::string> policy = ColumnOptional(stmt, 0);
  if (!policy) return std::nullopt;
  std::optional<PolicyRow> row = DecodePolicyRow(*policy);
  if (!row) {
    error_ = "the run journal holds a damaged Policy entry for line " + std::to_string(line) +
             " of run " + std::to_string(run_id);
    return std::nullopt;
  }
  return ::quillmere::PostedBefore{sqlite3_column_int64(stmt, 1), std::move(*row)};
}

std::vector<JournalRow> RunJournal::Rows(int64_t run_id, bool unconfirmed_only) {
  error_.clear();
  std::vector<JournalRow> rows;
  sqlite3_stmt* stmt = Statement(
      "SELECT line, je, inv, confirmed, policy_row, policy_inserted, policy_id, policy_earlier,"
      " records FROM journal_rows WHERE run_id = ?1 AND (?2 = 0 OR confirmed = 0) ORDER BY line");
  if (stmt == nullptr) return rows;
  {
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, run_id);
    sqlite3_bind_int(stmt, 2, unconfirmed_only ? 1 : 0);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      JournalRow& row = rows.emplace_back();
      row.line = sqlite3_column_int64(stmt, 0);
      row.je = sqlite3_column_int(stmt, 1);
      row.inv = sqlite3_column_int(stmt, 2);
      row.confirmed = sqlite3_column_int(stmt, 3) != 0;
      if (const std::optional<std::string> policy = ColumnOptional(stmt, 4)) {
        row.policy = DecodePolicyRow(*policy);
        if (!row.policy) {
          error_ = "the run journal holds a damaged Policy entry for line " +
                   std::to_string(row.line) + " of run " + std::to_string(run_id);
          return {};
        }
      }
      row.policy_write.inserted = sqlite3_column_int(stmt, 5) != 0;
      row.policy_write.policy_id = sqlite3_column_int64(stmt, 6);
      row.policy_write.earlier = ColumnText(stmt, 7);
      if (!DecodeRecordChanges(ColumnText(stmt, 8), &row.records)) {
        error_ = "the run journal holds damaged record images for line " +
                 std::to_string(row.line) + " of run " + std::to_string(run_id);
        return {};
      }
    }
    if (rc != SQLITE_DONE) {
      Failed("be read");
      return {};
    }
  }
  return rows;
}

bool RunJournal::AddRun(JournalRun* run) {
  error_.clear();
  sqlite3_stmt* stmt = Statement(
      "INSERT INTO journal_runs(agency, csv_name, csv_size, csv_hash, posting_date, run_time,"
      " first_je, first_inv, started, ended, state) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9,"
      " ?10, ?11)");
  if (stmt == nullptr) return false;
  Reset reset{stmt};
  BindText(stmt, 1, run->agency);
  BindText(stmt, 2, run->csv_name);
  sqlite3_bind_int64(stmt, 3, run->csv_size);
  BindText(stmt, 4, run->csv_hash);
  BindText(stmt, 5, run->posting_date);
  BindText(stmt, 6, FormatJournalTime(run->run_time));
  sqlite3_bind_int(stmt, 7, run->first_je);
  sqlite3_bind_int(stmt, 8, run->first_inv);
  BindText(stmt, 9, run->started);
  BindText(stmt, 10, run->ended);
  BindState(stmt, 11, run->state);
  if (sqlite3_step(stmt) != SQLITE_DONE) return Failed("be written");
  run->id = sqlite3_last_insert_rowid(db_);
  return true;
}

bool RunJournal::AddRow(int64_t run_id, const JournalRow& row) {
  error_.clear();
  sqlite3_stmt* stmt = Statement(
      "INSERT INTO journal_rows(run_id, line, je, inv, confirmed, policy_row, policy_inserted,"
      " policy_id, policy_earlier, records) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  if (stmt == nullptr) return false;
  {
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, run_id);
    sqlite3_bind_int64(stmt, 2, row.line);
    sqlite3_bind_int(stmt, 3, row.je);
    sqlite3_bind_int(stmt, 4, row.inv);
    sqlite3_bind_int(stmt, 5, row.confirmed ? 1 : 0);
    if (row.policy) {
      BindText(stmt, 6, EncodePolicyRow(*row.policy));
      sqlite3_bind_int(stmt, 7, row.policy_write.inserted ? 1 : 0);
      sqlite3_bind_int64(stmt, 8, row.policy_write.policy_id);
      BindText(stmt, 9, row.policy_write.earlier);
    }
    BindText(stmt, 10, EncodeRecordChanges(row.records));
    if (sqlite3_step(stmt) != SQLITE_DONE) return Failed("be written");
  }
  return true;
}

bool RunJournal::Confirm(int64_t run_id, int64_t line, int64_t policy_id) {
  error_.clear();
  sqlite3_stmt* stmt = Statement(
      "UPDATE journal_rows SET confirmed = 1, policy_id = ?3 WHERE run_id = ?1 AND line = ?2");
  if (stmt == nullptr) return false;
  Reset reset{stmt};
  sqlite3_bind_int64(stmt, 1, run_id);
  sqlite3_bind_int64(stmt, 2, line);
  sqlite3_bind_int64(stmt, 3, policy_id);
  return sqlite3_step(stmt) == SQLITE_DONE || Failed("be written");
}

bool RunJournal::SetState(int64_t run_id, const std::string& state, const std::string& ended) {
  error_.clear();
  sqlite3_stmt* stmt =
      Statement("UPDATE journal_runs SET state = ?2, ended = ?3 WHERE run_id = ?1");
  if (stmt == nullptr) return false;
  Reset reset{stmt};
  sqlite3_bind_int64(stmt, 1, run_id);
  BindState(stmt, 2, state);
  BindText(stmt, 3, ended);
  return sqlite3_step(stmt) == SQLITE_DONE || Failed("be written");
}

bool RunJournal::SetUndoPending(int64_t run_id, bool pending) {
  error_.clear();
  sqlite3_stmt* stmt = Statement("UPDATE journal_runs SET undo_pending = ?2 WHERE run_id = ?1");
  if (stmt == nullptr) return false;
  Reset reset{stmt};
  sqlite3_bind_int64(stmt, 1, run_id);
  sqlite3_bind_int(stmt, 2, pending ? 1 : 0);
  return sqlite3_step(stmt) == SQLITE_DONE || Failed("be written");
}

}  // namespace quillmere
