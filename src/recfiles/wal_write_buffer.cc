#include "recfiles/wal_write_buffer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace quillmere::sqlite {
namespace {

constexpr char kVfsName[] = "quillmere-wal-buffer";
// The default VFS writes at most 128 KiB - 1 bytes per call (it never gets more from SQLite,
// whose pages are 64 KiB at most).
constexpr size_t kMaxWrite = 128 * 1024 - 1;
// A transaction larger than this (a bulk load) is written in blocks as it goes.
constexpr size_t kMaxBuffered = 1 << 20;
// A WAL frame header is 24 bytes; bytes 4 to 7 hold the database size in pages after the
// transaction on a commit frame and 0 on every other frame (the documented WAL file format).
constexpr int kFrameHeaderSize = 24;

sqlite3_vfs g_vfs;
sqlite3_vfs* g_base = nullptr;

// A WAL file: the default VFS's file follows this object in the same allocation.
struct WalFile {
  sqlite3_file base;
  sqlite3_file* real;
  std::vector<char>* pending;  // consecutive writes not yet on disk
  sqlite3_int64 pending_offset;
  bool commit_header;  // the last write was a commit frame's header
};

int Flush(WalFile* f) {
  std::vector<char>& pending = *f->pending;
  int rc = SQLITE_OK;
  for (size_t done = 0; done < pending.size() && rc == SQLITE_OK;) {
    const size_t size = std::min(pending.size() - done, kMaxWrite);
    rc = f->real->pMethods->xWrite(f->real, pending.data() + done, static_cast<int>(size),
                                   f->pending_offset + static_cast<sqlite3_int64>(done));
    done += size;
  }
  // On failure the transaction fails with this error and SQLite rolls it back; the frames are
  // given up either way.
  pending.clear();
  return rc;
}

WalFile* Wal(sqlite3_file* file) { return reinterpret_cast<WalFile*>(file); }

int Close(sqlite3_file* file) {
  WalFile* f = Wal(file);
  (void)Flush(f);  // only frames of a transaction that never committed can be left here
  delete f->pending;
  f->pending = nullptr;
  return f->real->pMethods->xClose(f->real);
}

int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  WalFile* f = Wal(file);
  const int rc = Flush(f);
  if (rc != SQLITE_OK) return rc;
  return f->real->pMethods->xRead(f->real, data, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  WalFile* f = Wal(file);
  std::vector<char>& pending = *f->pending;
  const sqlite3_int64 end = f->pending_offset + static_cast<sqlite3_int64>(pending.size());
  const char* bytes = static_cast<const char*>(data);
  if (!pending.empty() && offset >= f->pending_offset && offset + amount <= end) {
    // A frame of this transaction written again.
    std::memcpy(pending.data() + (offset - f->pending_offset), bytes, static_cast<size_t>(amount));
  } else {
    if (pending.empty() || offset != end) {
      const int rc = Flush(f);
      if (rc != SQLITE_OK) return rc;
      f->pending_offset = offset;
    }
    pending.insert(pending.end(), bytes, bytes + amount);
  }
  const bool was_commit_header = f->commit_header;
  f->commit_header = amount == kFrameHeaderSize &&
                     (bytes[4] != 0 || bytes[5] != 0 || bytes[6] != 0 || bytes[7] != 0);
  // The page after a commit frame's header completes the transaction: it goes to disk now,
  // before SQLite makes the commit visible to readers.
  if ((was_commit_header && amount != kFrameHeaderSize) || pending.size() >= kMaxBuffered) {
    return Flush(f);
  }
  return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  WalFile* f = Wal(file);
  const int rc = Flush(f);
  return rc != SQLITE_OK ? rc : f->real->pMethods->xTruncate(f->real, size);
}

int Sync(sqlite3_file* file, int flags) {
  WalFile* f = Wal(file);
  const int rc = Flush(f);
  return rc != SQLITE_OK ? rc : f->real->pMethods->xSync(f->real, flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  WalFile* f = Wal(file);
  const int rc = Flush(f);
  return rc != SQLITE_OK ? rc : f->real->pMethods->xFileSize(f->real, size);
}

int Lock(sqlite3_file* file, int level) {
  return Wal(file)->real->pMethods->xLock(Wal(file)->real, level);
}

int Unlock(sqlite3_file* file, int level) {
  return Wal(file)->real->pMethods->xUnlock(Wal(file)->real, level);
}

int CheckReservedLock(sqlite3_file* file, int* out) {
  return Wal(file)->real->pMethods->xCheckReservedLock(Wal(file)->real, out);
}

int FileControl(sqlite3_file* file, int op, void* arg) {
  WalFile* f = Wal(file);
  const int rc = Flush(f);
  return rc != SQLITE_OK ? rc : f->real->pMethods->xFileControl(f->real, op, arg);
}

int SectorSize(sqlite3_file* file) {
  return Wal(file)->real->pMethods->xSectorSize(Wal(file)->real);
}

int DeviceCharacteristics(sqlite3_file* file) {
  return Wal(file)->real->pMethods->xDeviceCharacteristics(Wal(file)->real);
}

// Version 1: SQLite asks a WAL file for nothing beyond these (shared memory and memory mapping
// belong to the database file, which this VFS leaves to the default one).
const sqlite3_io_methods kWalMethods = {
    .iVersion = 1,
    .xClose = Close,
    .xRead = Read,
    .xWrite = Write,
    .xTruncate = Truncate,
    .xSync = Sync,
    .xFileSize = FileSize,
    .xLock = Lock,
    .xUnlock = Unlock,
    .xCheckReservedLock = CheckReservedLock,
    .xFileControl = FileControl,
    .xSectorSize = SectorSize,
    .xDeviceCharacteristics = DeviceCharacteristics,
    .xShmMap = nullptr,
    .xShmLock = nullptr,
    .xShmBarrier = nullptr,
    .xShmUnmap = nullptr,
    .xFetch = nullptr,
    .xUnfetch = nullptr,
};

size_t RealFileOffset() {
  constexpr size_t align = alignof(std::max_align_t);
  return (sizeof(WalFile) + align - 1) / align * align;
}

int Open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  (void)vfs;
  // Every other file is the default VFS's file, in place.
  if ((flags & SQLITE_OPEN_WAL) == 0) return g_base->xOpen(g_base, name, file, flags, out_flags);
  WalFile* f = Wal(file);
  f->base.pMethods = nullptr;  // SQLite does not close a file whose open failed
  f->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + RealFileOffset());
  const int rc = g_base->xOpen(g_base, name, f->real, flags, out_flags);
  if (rc != SQLITE_OK) {
    if (f->real->pMethods != nullptr) f->real->pMethods->xClose(f->real);
    return rc;
  }
  f->pending = new (std::nothrow) std::vector<char>();
  if (f->pending == nullptr) {
    f->real->pMethods->xClose(f->real);
    return SQLITE_NOMEM;
  }
  f->pending_offset = 0;
  f->commit_header = false;
  f->base.pMethods = &kWalMethods;
  return SQLITE_OK;
}

// The rest is the default VFS's.
int Delete(sqlite3_vfs*, const char* name, int sync_dir) {
  return g_base->xDelete(g_base, name, sync_dir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_base->xAccess(g_base, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_base->xFullPathname(g_base, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_base->xDlOpen(g_base, name); }
void DlError(sqlite3_vfs*, int size, char* out) { g_base->xDlError(g_base, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return g_base->xDlSym(g_base, handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) { g_base->xDlClose(g_base, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return g_base->xRandomness(g_base, size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return g_base->xSleep(g_base, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_base->xCurrentTime(g_base, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) {
  return g_base->xGetLastError(g_base, size, out);
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return g_base->xCurrentTimeInt64(g_base, out);
}

bool Register() {
  g_base = sqlite3_vfs_find(nullptr);
  if (g_base == nullptr || g_base->iVersion < 2 || g_base->xCurrentTimeInt64 == nullptr) {
    return false;
  }
  g_vfs = sqlite3_vfs{};
  g_vfs.iVersion = 2;
  g_vfs.szOsFile = static_cast<int>(RealFileOffset()) + g_base->szOsFile;
  g_vfs.mxPathname = g_base->mxPathname;
  g_vfs.zName = kVfsName;
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xAccess = Access;
  g_vfs.xFullPathname = FullPathname;
  g_vfs.xDlOpen = DlOpen;
  g_vfs.xDlError = DlError;
  g_vfs.xDlSym = DlSym;
  g_vfs.xDlClose = DlClose;
  g_vfs.xRandomness = Randomness;
  g_vfs.xSleep = Sleep;
  g_vfs.xCurrentTime = CurrentTime;
  g_vfs.xGetLastError = GetLastError;
  g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  return sqlite3_vfs_register(&g_vfs, /*makeDflt=*/0) == SQLITE_OK;
}

}  // namespace

const char* WalWriteBufferVfs() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] { registered = Register(); });
  return registered ? kVfsName : nullptr;
}

}  // namespace quillmere::sqlite
