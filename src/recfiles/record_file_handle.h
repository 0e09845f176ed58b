// One handle on one record file, closed by its destructor; the record-length variable the
// library is passed by reference lives with it.
#pragma once

#include <cstdint>
#include <string>

namespace quillmere {

class RecordFileHandle {
 public:
  RecordFileHandle() = default;
  ~RecordFileHandle() { Close(); }
  RecordFileHandle(RecordFileHandle&& other) noexcept;
  RecordFileHandle& operator=(RecordFileHandle&& other) noexcept;
  RecordFileHandle(const RecordFileHandle&) = delete;
  RecordFileHandle& operator=(const RecordFileHandle&) = delete;

  // Closes any file open on this handle, takes a new handle (CBtrvOapi) and opens `file_name` on
  // it with the host's modes; `record_length` is the file's fixed record length. 0, or the
  // library's status (12: no such file): the handle then stays without an open file, and every
  // call on it gives 3 (file not open).
  [[nodiscard]] int16_t Open(const std::string& file_name, uint32_t record_length);
  // Closes the file (btrClose, result ignored as the host does); a closed handle ignores it.
  void Close();
  bool is_open() const { return open_; }

  // The record-file library's calls on this handle, with the file's record length.
  [[nodiscard]] int16_t GetEqual(const void* key, void* record);
  [[nodiscard]] int16_t GetGreater(const void* key, void* record);
  [[nodiscard]] int16_t GetNext(void* record);
  // The replace-by-key write: 0 or the failing status; a failure leaves the old record.
  [[nodiscard]] int16_t ReplaceByKey(const void* record);

  uint32_t record_length() const { return record_length_; }

 private:
  int32_t handle_ = -1;  // -1: no handle taken yet
  bool open_ = false;
  uint32_t record_length_ = 0;
  uint32_t length_ = 0;  // what each call is passed by reference; reset before each call
};

}  // namespace quillmere
