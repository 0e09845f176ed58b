#include "recfiles/record_file_handle.h"

#include <utility>

#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

RecordFileHandle::RecordFileHandle(RecordFileHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      open_(std::exchange(other.open_, false)),
      record_length_(other.record_length_),
      length_(other.length_) {}

RecordFileHandle& RecordFileHandle::operator=(RecordFileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
    open_ = std::exchange(other.open_, false);
    record_length_ = other.record_length_;
    length_ = other.length_;
  }
  return *this;
}

int16_t RecordFileHandle::Open(const std::string& file_name, uint32_t record_length) {
  Close();
  record_length_ = record_length;
  handle_ = CBtrvOapi();
  const int16_t status = btrOpen(handle_, "", file_name.c_str(), 1, 1, 0);
  open_ = status == kStatusOk;
  return status;
}

void RecordFileHandle::Close() {
  if (!open_) return;
  (void)btrClose(handle_);
  open_ = false;
}

int16_t RecordFileHandle::GetEqual(const void* key, void* record) {
  length_ = record_length_;
  return btrGetEqual(handle_, record, &length_, key, 0, 0);
}

int16_t RecordFileHandle::GetGreater(const void* key, void* record) {
  length_ = record_length_;
  return btrGetGreater(handle_, record, &length_, key, 0, 0);
}

int16_t RecordFileHandle::GetNext(void* record) {
  length_ = record_length_;
  return btrGetNext(handle_, record, &length_, 0);
}

int16_t RecordFileHandle::ReplaceByKey(const void* record) {
  length_ = record_length_;
  return quillmere::ReplaceByKey(handle_, record, &length_);
}

}  // namespace quillmere
