// The import lock of a record store: an flock(2) on "recfiles.lock" in the store's folder,
// held by a posting import (and by an undo or a recovery) for as long as it runs. The system
// releases it when the process ends, however it ends, so a lock is never left behind; the lock
// file says who holds it, so a refused import can name the running one.
#pragma once

#include <string>

namespace quillmere {

inline constexpr char kStoreLockFileName[] = "recfiles.lock";

class StoreLock {
 public:
  StoreLock() = default;
  ~StoreLock() { Release(); }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  enum class Result { kTaken, kBusy, kFailed };
  // Takes the lock of the open record store without waiting, and writes `holder` (what runs:
  // "import of balances.csv for agency 01, process 4242, since 2026-12-10 07:12:56") into the
  // lock file. kBusy: another process holds it, *why is what its holder wrote. kFailed: no store
  // is open or the lock file cannot be made; *why says so.
  Result Take(const std::string& holder, std::string* why);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The folder of the open record store; "" when none is open.
std::string RecordStoreFolder();

}  // namespace quillmere
