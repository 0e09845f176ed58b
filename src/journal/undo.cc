#include "journal/undo.h"

#include <unistd.h>

#include <set>
#include <utility>

#include "context/clock.h"
#include "journal/recovery.h"
#include "journal/run_journal.h"
#include "journal/store_lock.h"
#include "journal/store_transaction.h"
#include "recfiles/encodings.h"
#include "recfiles/record_store.h"

namespace quillmere {
UndoResult UndoRun(ClientFileSet& files, Operator& op, int64_t run_id) {
  UndoResult result;
  const auto finish = [&](UndoOutcome outcome, const std::string& message) {
    result.outcome = outcome;
    result.message = message;
    op.ErrorWindow(message);
    return result;
  };
  StoreLock lock;
  std::string why;
  const std::string holder = "undo of run " + std::to_string(run_id) + ", process " +
                             std::to_string(::getpid()) + ", since " +
                             FormatJournalTime(NowLocal());
  switch (lock.Take(holder, &why)) {
    case StoreLock::Result::kTaken:
      break;
    case StoreLock::Result::kBusy:
      return finish(UndoOutcome::kSetupFailed,
                    "Nothing was undone: another program is posting into this store (" + why +
                        "). Undo once it has ended.");
    case StoreLock::Result::kFailed:
      return finish(UndoOutcome::kSetupFailed, "Nothing was undone: " + why + ".");
  }
  if (!RecoverUnfinishedRuns(files, op, lock)) {
    result.message = "Nothing was undone.";
    return result;
  }
  RunJournal journal;
  const std::optional<JournalRun> run = journal.Present() ? journal.FindRun(run_id) : std::nullopt;
  if (!journal.error().empty()) {
    return finish(UndoOutcome::kSetupFailed, "Nothing was undone: " + journal.error() + ".");
  }
  if (!run) {
    return finish(UndoOutcome::kRefused,
                  "There is no run " + std::to_string(run_id) +
                      " in this store's journal (quillmere-cli runs lists them); nothing was "
                      "undone.");
  }
  const std::string name = RunName(*run);
  if (run->state == kRunUndone) {
    return finish(UndoOutcome::kRefused,
                  "The " + name + " was undone already, on " + run->ended + "; nothing changed.");
  }
  const std::vector<JournalRow> rows = journal.Rows(run->id, /*unconfirmed_only=*/false);
  if (!journal.error().empty()) {
    return finish(UndoOutcome::kSetupFailed, "Nothing was undone: " + journal.error() + ".");
  }
  PolicyTable* table = files.policy_table();
  bool has_policy = false;
  for (const JournalRow& row : rows) has_policy = has_policy || row.policy.has_value();
  if (has_policy && table == nullptr) {
    return finish(UndoOutcome::kSetupFailed, "Nothing was undone: the database is not open.");
  }

  std::string db_error;
  if (has_policy && !table->Begin(&db_error)) {
    return finish(UndoOutcome::kSetupFailed, "Nothing was undone: the database: " + db_error);
  }
  StoreTransaction transaction;
  const auto abort_both = [&] {
    transaction.Abort();
    if (has_policy) table->Rollback();
  };
  if (transaction.status() != 0) {
    abort_both();
    return finish(UndoOutcome::kSetupFailed,
                  StatusMessage("Nothing was undone: the record files could not be locked",
                                transaction.status()));
  }
  // A key found changed is named once; the run's earlier rows on it are not compared again.
  std::set<std::pair<std::string, std::string>> changed_keys;
  // Last row first: a key the run wrote twice then holds, at each step, what that row left.
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    const std::string at = "line " + std::to_string(row->line) + ": ";
    for (auto change = row->records.rbegin(); change != row->records.rend(); ++change) {
      if (changed_keys.contains({change->file, change->key})) continue;
      std::optional<std::string> now;
      if (const int16_t read = ReadRecordImage(change->file, change->key, &now); read != 0) {
        abort_both();
        return finish(
            UndoOutcome::kSetupFailed,
            StatusMessage("Nothing was undone: " + change->file + " could not be read", read));
      }
      const std::optional<std::string> now_digest =
          now ? std::optional<std::string>(RecordDigest(*now)) : std::nullopt;
      if (now_digest != change->after) {
        changed_keys.insert({change->file, change->key});
        result.changes.push_back(
            at + change->file + " record [" + ShowControlBytes(change->key) + "] " +
            (now ? (change->after ? "was changed" : "was added") : "was removed") +
            " after the run wrote it");
        continue;
      }
      if (const int16_t written = WriteRecordImage(change->file, change->key, change->before);
          written != 0) {
        abort_both();
        return finish(UndoOutcome::kSetupFailed,
                      StatusMessage("Nothing was undone: " + change->file + " could not be written",
                                    written));
      }
    }
    if (!row->policy) continue;
    bool holds = false;
    if (!table->Holds(row->policy_write.policy_id, *row->policy, &holds, &db_error)) {
      abort_both();
      return finish(UndoOutcome::kSetupFailed, "Nothing was undone: the database: " + db_error);
    }
    if (!holds) {
      result.changes.push_back(at + "Policy row " + std::to_string(row->policy_write.policy_id) +
                               " [" + row->policy->PolNum +
                               "] was changed or removed after the run wrote it");
      continue;
    }
    if (!table->Restore(row->policy_write.policy_id, row->policy_write.inserted,
                        row->policy_write.earlier, &db_error)) {
      abort_both();
      return finish(UndoOutcome::kSetupFailed, "Nothing was undone: the database: " + db_error);
    }
  }
  if (!result.changes.empty()) {
    abort_both();
    std::string list;
    for (const std::string& change : result.changes) list += "\n  " + change;
    return finish(UndoOutcome::kRefused, "The " + name +
                                             " was not undone: later work changed what it "
                                             "wrote, and an undo would overwrite it. Nothing "
                                             "changed." +
                                             list);
  }
  const std::string now = FormatJournalTime(NowLocal());
  if (!journal.SetState(run->id, kRunUndone, now) ||
      (has_policy && !journal.SetUndoPending(run->id, true))) {
    abort_both();
    return finish(UndoOutcome::kSetupFailed, "Nothing was undone: " + journal.error());
  }
  if (const int16_t end = transaction.Commit(); end != 0) {
    if (has_policy) table->Rollback();
    return finish(UndoOutcome::kSetupFailed,
                  StatusMessage("Nothing was undone: the record store did not commit", end));
  }
  result.rows = static_cast<int64_t>(rows.size());
  if (has_policy) {
    if (!table->Commit(&db_error)) {
      return finish(UndoOutcome::kStopped,
                    "The records of " + name +
                        " are taken back, but the database did not confirm the restore of its "
                        "Policy rows (" +
                        db_error + "). The next start of the program completes it.");
    }
    StoreTransaction confirm;
    if (confirm.status() != 0 || !journal.SetUndoPending(run->id, false) || confirm.Commit() != 0) {
      return finish(UndoOutcome::kStopped,
                    "The " + name +
                        " is undone; the journal could not note that its Policy rows are "
                        "restored, so the next start restores them again (harmless).");
    }
  }
  result.outcome = UndoOutcome::kUndone;
  result.message = "Undid " + name + ": " + std::to_string(rows.size()) +
                   " row(s) taken back from the record files and the Policy table.";
  return result;
}

}  // namespace quillmere
