// quillmere-cli's exit codes: one per outcome of an operation, kept in this one place.
//   0 done: the check is clean, the import posted every row, the export is written
//   1 the CSV has errors (pass 1); nothing posted
//   2 setup failure: option, settings, store, database, CSV not readable; nothing done
//   3 stopped part-way: the rows before are posted whole
//   4 refused by the second-load guard: the file was posted (or is posting) for the agency
//   5 undo or resume refused: unknown run, nothing to resume, records changed since
#pragma once

#include "export/gl_export.h"
#include "import/import_run.h"
#include "journal/undo.h"

namespace quillmere {

enum ExitCodes : int {
  kExitDone = 0,
  kExitErrors = 1,
  kExitSetupFailed = 2,
  kExitStopped = 3,
  kExitAlreadyPosted = 4,
  kExitRefused = 5,
};

inline int ExitCode(ImportOutcome outcome) {
  switch (outcome) {
    case ImportOutcome::kClean:
    case ImportOutcome::kPosted:
      return kExitDone;
    case ImportOutcome::kErrors:
      return kExitErrors;
    case ImportOutcome::kSetupFailed:
      return kExitSetupFailed;
    case ImportOutcome::kStopped:
      return kExitStopped;
    case ImportOutcome::kAlreadyPosted:
      return kExitAlreadyPosted;
    case ImportOutcome::kRefused:
    case ImportOutcome::kCancelled:  // the command line asks nothing; only a window cancels
      return kExitRefused;
  }
  return kExitSetupFailed;
}

inline int ExitCode(ExportOutcome outcome) {
  switch (outcome) {
    case ExportOutcome::kWritten:
      return kExitDone;
    case ExportOutcome::kDeclined:  // the command line asks no question; --force replaces
    case ExportOutcome::kFailed:
    case ExportOutcome::kSetupFailed:
      return kExitSetupFailed;
  }
  return kExitSetupFailed;
}

inline int ExitCode(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::kUndone:
      return kExitDone;
    case UndoOutcome::kRefused:
      return kExitRefused;
    case UndoOutcome::kSetupFailed:
      return kExitSetupFailed;
    case UndoOutcome::kStopped:
      return kExitStopped;
  }
  return kExitSetupFailed;
}

}  // namespace quillmere
