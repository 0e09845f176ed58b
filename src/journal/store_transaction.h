// One transaction of the record store (btrBeginTransaction ... btrEndTransaction) that rolls
// back unless committed, for the journal's own writes.
#pragma once

#include <cstdint>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"

namespace quillmere {

class StoreTransaction {
 public:
  // status() is 0 when the transaction began.
  StoreTransaction() : status_(btrBeginTransaction()), open_(status_ == 0) {}
  ~StoreTransaction() {
    if (open_) (void)btrAbortTransaction();
  }
  StoreTransaction(const StoreTransaction&) = delete;
  StoreTransaction& operator=(const StoreTransaction&) = delete;

  int16_t status() const { return status_; }
  // 0 once committed; else the status, and the transaction is rolled back.
  int16_t Commit() {
    if (!open_) return status_ != 0 ? status_ : kStatusNoTransaction;
    open_ = false;
    const int16_t end = btrEndTransaction();
    if (end != 0) (void)btrAbortTransaction();
    return end;
  }
  void Abort() {
    if (open_) (void)btrAbortTransaction();
    open_ = false;
  }

 private:
  int16_t status_;
  bool open_;
};

}  // namespace quillmere
