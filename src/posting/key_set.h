// A set of 64-bit key hashes in one flat table (open addressing, at most three quarters full):
// 11 to 21 bytes per key, and 32 while it grows, for the millions of keys a big file's posting
// writes; a node-based set takes about 40.
#pragma once

#include <cstdint>
#include <vector>

namespace quillmere {

class KeySet {
 public:
  // Adds `hash`; false when it was there already.
  bool Insert(uint64_t hash) {
    if (hash == kEmpty) hash = 1;                     // 0 marks a free slot
    if ((size_ + 1) * 4 > slots_.size() * 3) Grow();  // at most three quarters full
    for (size_t i = Slot(hash);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i] == hash) return false;
      if (slots_[i] == kEmpty) {
        slots_[i] = hash;
        ++size_;
        return true;
      }
    }
  }
  size_t size() const { return size_; }

 private:
  static constexpr uint64_t kEmpty = 0;
  size_t Slot(uint64_t hash) const {
    // The hash's high bits mixed in: std::hash of a string is good, but not in every bit.
    return static_cast<size_t>((hash ^ (hash >> 29)) * 0x9e3779b97f4a7c15ull >> 7) &
           (slots_.size() - 1);
  }
  void Grow() {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, kEmpty);
    size_ = 0;
    for (const uint64_t hash : old) {
      if (hash != kEmpty) Insert(hash);
    }
  }

  std::vector<uint64_t> slots_;
  size_t size_ = 0;
};

}  // namespace quillmere
