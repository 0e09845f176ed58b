// Completes what earlier runs left unconfirmed in the run journal, before an operation does
// anything else: the Policy rows of posted rows whose MySQL commit was not confirmed are
// written again with their intended values (writing them twice is harmless), and an undo whose
// Policy restore was not confirmed restores them again. Runs whose program died while posting
// are marked stopped, so they can be resumed or undone.
#pragma once

#include "context/client_files.h"
#include "context/operator.h"
#include "journal/store_lock.h"

namespace quillmere {

// Needs the open client file set (the record store and the Policy table). `lock` is the
// store's import lock: when the caller does not hold it, recovery takes it for its own work
// and gives it back; when another process holds it (an import posting now, which completed
// recovery when it started) there is nothing to do. Says what it completed through `op`, one
// message per run. False, after a message through `op` that says nothing else runs until it
// succeeds, when the work could not be done (the database does not answer, the store cannot be
// written): the operation must stop (a setup failure).
bool RecoverUnfinishedRuns(ClientFileSet& files, Operator& op, StoreLock& lock);

}  // namespace quillmere
