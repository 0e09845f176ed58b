// quillmere-cli's exit codes: one per outcome of an operation, kept in this one place.
//   0 done: the check is clean, the import posted every row, the export is written
//   1 the CSV has errors (pass 1); nothing posted
//   2 setup failure: option, settings, store, database, CSV not readable; nothing done
//   3 stopped part-way: the rows before are posted whole
#pragma once

#include "export/gl_export.h"
#include "import/import_run.h"

namespace quillmere {

enum ExitCodes : int { kExitDone = 0, kExitErrors = 1, kExitSetupFailed = 2, kExitStopped = 3 };

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

}  // namespace quillmere
