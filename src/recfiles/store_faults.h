// The store's fault seam, a test seam: what the record-file store asks before each write, so a
// test can fail one chosen write of the real store (a full disk in the middle of a row), as a
// storage engine's tests wrap its environment object. Production code installs nothing.
//
// In a child process (a program started by a test), the environment variable
//   QUILLMERE_STORE_FAULT=OPERATION:STATUS:N
// fails the Nth call (counting from 1, from when the store opens) of OPERATION ("insert",
// "update", "delete" or "commit") with status STATUS (1 to 32767), and only that call:
//   QUILLMERE_STORE_FAULT=commit:18:5    the fifth commit fails with 18 (disk full)
// The store reads it each time it opens. A value of another form is ignored: no fault.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillmere {

inline constexpr char kStoreFaultVariable[] = "QUILLMERE_STORE_FAULT";

// What the store asks before each write; tests implement it to fail chosen calls.
class StoreFaults {
 public:
  virtual ~StoreFaults() = default;
  // Asked before each store write: "insert", "update", "delete", or "commit" (the end of a
  // transaction, or of a write outside one). Non-zero: the call fails with that status and
  // the write is not done. Called with the store's lock held: it must not call the store.
  virtual int16_t BeforeWrite(std::string_view operation) = 0;
};

// Installs `faults` for every later write of the process's store; nullptr removes it. The
// caller keeps it alive until it is removed. While one is installed, QUILLMERE_STORE_FAULT is
// not asked.
void SetStoreFaults(StoreFaults* faults);

// Fails the `nth` call (counting from 1) of `operation` with `status`, and no other call.
class FailNthWrite : public StoreFaults {
 public:
  FailNthWrite(std::string operation, int16_t status, int64_t nth)
      : operation_(std::move(operation)), status_(status), nth_(nth) {}
  int16_t BeforeWrite(std::string_view operation) override;

 private:
  std::string operation_;
  int16_t status_;
  int64_t nth_;
  int64_t seen_ = 0;
};

// The fault a QUILLMERE_STORE_FAULT value names; nullopt for a value of another form.
//   ParseStoreFault("commit:18:5") fails the fifth commit with 18
//   ParseStoreFault("commit:18") == nullopt, ParseStoreFault("write:18:1") == nullopt
std::optional<FailNthWrite> ParseStoreFault(std::string_view text);

}  // namespace quillmere
