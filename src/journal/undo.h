// Undo of a whole import run: the records it inserted are deleted, the records it replaced get
// their earlier images back, the Policy rows it inserted are deleted and those it updated get
// their earlier values back; all or nothing. The rows are taken back last first, and each key
// must still hold the image the run left there (each Policy row the values it wrote): where
// later work changed one, nothing is changed and the undo is refused, naming them.
//
// Like a row of a run, the undo commits in the record store first (records back, the run
// marked undone with its Policy restore pending) and in MySQL second; the next program start
// restores the Policy rows again when that second commit was not confirmed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "context/client_files.h"
#include "context/operator.h"

namespace quillmere {

enum class UndoOutcome {
  kUndone,       // taken back whole
  kRefused,      // unknown run, already undone, or later work changed what it wrote; nothing
                 // changed (`changes` lists what differs)
  kSetupFailed,  // the store lock, the journal, the database: nothing changed
  kStopped,      // the records are back, the Policy restore was not confirmed: the next start
                 // completes it
};

struct UndoResult {
  UndoOutcome outcome = UndoOutcome::kSetupFailed;
  std::string message;               // what happened, in words (also shown through `op`)
  std::vector<std::string> changes;  // kRefused: each key or Policy row that differs
  int64_t rows = 0;                  // rows taken back
};

// Needs the open client file set; takes the store's import lock and completes unfinished runs
// first (recovery.h).
UndoResult UndoRun(ClientFileSet& files, Operator& op, int64_t run_id);

}  // namespace quillmere
