// A SQLite VFS that writes each transaction's WAL frames with one system call.
//
// SQLite appends a transaction's pages to the write-ahead log one frame at a time, two writes
// per frame (its 24-byte header, then the page): a posted row of about 15 pages costs some 30
// `pwrite` calls, and on a virtual machine each call is dear. This VFS keeps a WAL file's
// consecutive writes in memory and writes them as one block when the transaction's commit frame
// is complete, before SQLite goes on to publish the commit, so an error (a full disk) is still
// the error of the commit and nothing another connection can read was left unwritten. Anything
// else that touches the file (a read, a sync, a truncation, its size, closing it) writes the
// block first. The files' format and locking are the default VFS's own: other programs open the
// store as before.
#pragma once

namespace quillmere::sqlite {

// The name to pass to sqlite3_open_v2; registers the VFS on first use. nullptr when it cannot
// be registered (the store then opens with the default VFS).
const char* WalWriteBufferVfs();

}  // namespace quillmere::sqlite
