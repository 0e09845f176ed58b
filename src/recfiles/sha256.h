// SHA-256 (FIPS 180-4) of a byte string, as lower-case hex: names the exact bytes of a file
// (the CSV an import posted) so a later run can tell the same file from a changed one. Pure
// code, no I/O, no library; fed in pieces of any size, it hashes 64-byte blocks in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillmere {

// The hash of the bytes given to Update so far, in pieces of any size:
//   Sha256 hash; hash.Update("ab"); hash.Update("c");
//   hash.HexDigest() == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"
class Sha256 {
 public:
  Sha256() { Reset(); }

  // Adds `bytes` to the hashed text.
  void Update(std::string_view bytes);
  // Finishes: the hash of every byte given since construction (or the last HexDigest), 64
  // lower-case hex digits. The object then starts over, as if new.
  std::string HexDigest();

 private:
  void Reset();
  // Hashes `count` whole 64-byte blocks at `data` into state_.
  void Compress(const unsigned char* data, size_t count);

  uint32_t state_[8];
  unsigned char buffer_[64];  // the bytes of an unfinished block
  size_t buffered_ = 0;       // how many of buffer_ hold bytes
  uint64_t length_ = 0;       // bytes given in all
};

// The hash of `bytes` in one call:
//   Sha256Hex("") == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
std::string Sha256Hex(std::string_view bytes);

}  // namespace quillmere
