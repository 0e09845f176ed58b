#include "journal/recovery.h"

#include <unistd.h>

#include "context/clock.h"
#include "journal/run_journal.h"
#include "journal/store_transaction.h"

namespace quillmere {
bool RecoverUnfinishedRuns(ClientFileSet& files, Operator& op, StoreLock& lock) {
  RunJournal journal;
  if (!journal.Present()) return true;  // no import ran on this store since it had a journal
  const bool own_lock = !lock.held();
  if (own_lock) {
    std::string why;
    switch (lock.Take("recovery, process " + std::to_string(::getpid()), &why)) {
      case StoreLock::Result::kTaken:
        break;
      case StoreLock::Result::kBusy:
        return true;  // an import is posting; it completed the journal when it started
      case StoreLock::Result::kFailed:
        op.ErrorWindow("The run journal could not be checked: " + why +
                       ". Nothing else is done until it can be.");
        return false;
    }
  }
  struct ReleaseOwn {
    StoreLock& lock;
    bool own;
    ~ReleaseOwn() {
      if (own) lock.Release();
    }
  } release{lock, own_lock};

  const auto fail = [&](const JournalRun& run, const std::string& why) {
    op.ErrorWindow("The unfinished work of " + RunName(run) + " could not be completed: " + why +
                   ". Nothing else is done until it is: start the program again once this is "
                   "mended.");
    return false;
  };
  const std::string now = FormatJournalTime(NowLocal());
  // With the lock held, a run still marked posting belongs to a program that died.
  for (const JournalRun& run : journal.Runs()) {
    if (run.state != kRunPosting) continue;
    StoreTransaction transaction;
    if (transaction.status() != 0 || !journal.SetState(run.id, kRunStopped, now) ||
        transaction.Commit() != 0) {
      return fail(
          run, journal.error().empty() ? "the record store could not be written" : journal.error());
    }
  }
  const std::vector<JournalRun> runs = journal.RunsToRecover();
  if (!journal.error().empty()) {
    op.ErrorWindow("The run journal could not be read: " + journal.error() +
                   ". Nothing else is done until it can be.");
    return false;
  }
  for (const JournalRun& run : runs) {
    PolicyTable* table = files.policy_table();
    if (table == nullptr) return fail(run, "the database is not open");
    std::string db_error;
    if (run.unconfirmed > 0) {
      std::vector<JournalRow> rows = journal.Rows(run.id, /*unconfirmed_only=*/true);
      if (!journal.error().empty()) return fail(run, journal.error());
      if (!table->Begin(&db_error)) return fail(run, "the database: " + db_error);
      std::vector<int64_t> ids;
      for (const JournalRow& row : rows) {
        PolicyWrite write;
        if (row.policy && !table->Post(*row.policy, &write, &db_error)) {
          table->Rollback();
          return fail(run, "the database: " + db_error);
        }
        ids.push_back(row.policy ? write.policy_id : 0);
      }
      if (!table->Commit(&db_error)) return fail(run, "the database: " + db_error);
      StoreTransaction transaction;
      bool ok = transaction.status() == 0;
      for (size_t i = 0; ok && i < rows.size(); ++i) {
        ok = journal.Confirm(run.id, rows[i].line, ids[i]);
      }
      if (!ok || transaction.Commit() != 0) {
        return fail(run, journal.error().empty() ? "the record store could not be written"
                                                 : journal.error());
      }
      std::string lines;
      for (const JournalRow& row : rows) {
        lines += (lines.empty() ? "" : ", ") + std::to_string(row.line);
      }
      op.ErrorWindow("Completed " + RunName(run) + ": the Policy row" +
                     (rows.size() == 1 ? " of line " : "s of lines ") + lines +
                     ", whose database commit was not confirmed, written again.");
    }
    if (run.undo_pending) {
      std::vector<JournalRow> rows = journal.Rows(run.id, /*unconfirmed_only=*/false);
      if (!journal.error().empty()) return fail(run, journal.error());
      if (!table->Begin(&db_error)) return fail(run, "the database: " + db_error);
      for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        if (!row->policy) continue;
        if (!table->Restore(row->policy_write.policy_id, row->policy_write.inserted,
                            row->policy_write.earlier, &db_error)) {
          table->Rollback();
          return fail(run, "the database: " + db_error);
        }
      }
      if (!table->Commit(&db_error)) return fail(run, "the database: " + db_error);
      StoreTransaction transaction;
      if (transaction.status() != 0 || !journal.SetUndoPending(run.id, false) ||
          transaction.Commit() != 0) {
        return fail(run, journal.error().empty() ? "the record store could not be written"
                                                 : journal.error());
      }
      op.ErrorWindow("Completed the undo of " + RunName(run) +
                     ": its Policy rows, whose restore was not confirmed, restored again.");
    }
  }
  return true;
}

}  // namespace quillmere
