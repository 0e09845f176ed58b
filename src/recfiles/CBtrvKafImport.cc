// The record-file library's entry points: each takes the lock of the process's one store and
// forwards to it (sqlite_store.h; store administration in store_admin.cc). See
// CBtrvKafImport.h for the API and record_store.h for the store's layout, durability and
// sharing rules.
#include "recfiles/CBtrvKafImport.h"

#include <mutex>

#include "recfiles/record_store.h"
#include "recfiles/sqlite_store.h"
#include "recfiles/store_faults.h"

namespace quillmere {
namespace {

// The one store of the process, and the lock that serialises calls into it.
std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}
sqlite::Store& TheStore() {
  static sqlite::Store store;
  return store;
}

}  // namespace

int16_t OpenRecordStore(const std::string& data_dir, const std::string& host_settings_path,
                        bool create) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Open(data_dir, host_settings_path, create);
}

void CloseRecordStore() {
  std::lock_guard lock(StoreMutex());
  TheStore().Close();
}

int16_t QrtInitializeFauxBtrieve(const char* settings_path, const char* host_settings_path) {
  if (settings_path == nullptr) return kStatusFileNotFound;
  return OpenRecordStore(DataDirectoryFromSettings(settings_path),
                         host_settings_path == nullptr ? "" : host_settings_path,
                         /*create=*/false);
}

std::string RecordStoreError() {
  std::lock_guard lock(StoreMutex());
  return TheStore().error();
}

int32_t CBtrvOapi() {
  std::lock_guard lock(StoreMutex());
  return TheStore().NewHandle();
}

int16_t btrOpen(int32_t handle, const char* /*owner*/, const char* file_name, int16_t /*mode*/,
                int16_t /*share*/, int16_t /*flags*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().OpenFile(handle, file_name);
}

int16_t btrClose(int32_t handle) {
  std::lock_guard lock(StoreMutex());
  return TheStore().CloseFile(handle);
}

int16_t btrGetEqual(int32_t handle, void* record, uint32_t* record_length, const void* key,
                    int16_t /*key_number*/, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().GetEqual(handle, record, record_length, key);
}

int16_t btrGetGreater(int32_t handle, void* record, uint32_t* record_length, const void* key,
                      int16_t /*key_number*/, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().GetGreater(handle, record, record_length, key);
}

int16_t btrGetNext(int32_t handle, void* record, uint32_t* record_length, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().GetNext(handle, record, record_length);
}

int16_t btrInsert(int32_t handle, const void* record, uint32_t* record_length, int16_t /*lock*/) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Insert(handle, record, record_length);
}

int16_t btrUpdate(int32_t handle, const void* record, uint32_t* record_length) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Update(handle, record, record_length);
}

int16_t btrDelete(int32_t handle) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Delete(handle);
}

int16_t btrBeginTransaction() {
  std::lock_guard lock(StoreMutex());
  return TheStore().BeginTransaction();
}

int16_t btrEndTransaction() {
  std::lock_guard lock(StoreMutex());
  return TheStore().EndTransaction();
}

int16_t btrAbortTransaction() {
  std::lock_guard lock(StoreMutex());
  return TheStore().AbortTransaction();
}

int16_t ReplaceByKey(int32_t handle, const void* record, uint32_t* record_length) {
  std::lock_guard lock(StoreMutex());
  return TheStore().ReplaceByKey(handle, record, record_length);
}

int16_t btrCreateFile(const char* file_name, uint32_t record_length, uint32_t key_length) {
  std::lock_guard lock(StoreMutex());
  return TheStore().CreateFile(file_name, record_length, key_length);
}

int16_t btrListFiles(std::vector<RecordFileInfo>* files) {
  std::lock_guard lock(StoreMutex());
  return TheStore().ListFiles(files);
}

int16_t btrCheck(std::string* report) {
  std::lock_guard lock(StoreMutex());
  return TheStore().Check(report);
}

std::string btrDataDirectory() {
  std::lock_guard lock(StoreMutex());
  return TheStore().data_dir();
}

std::string btrHostSettingsPath() {
  std::lock_guard lock(StoreMutex());
  return TheStore().host_settings_path();
}

void SetRecordCapture(bool on) {
  std::lock_guard lock(StoreMutex());
  TheStore().SetCapture(on);
}

std::vector<RecordChange> TakeRecordChanges() {
  std::lock_guard lock(StoreMutex());
  return TheStore().TakeChanges();
}

int16_t ReadRecordImage(const std::string& file, std::string_view key,
                        std::optional<std::string>* image) {
  std::lock_guard lock(StoreMutex());
  return TheStore().ReadImage(file, key, image);
}

int16_t WriteRecordImage(const std::string& file, std::string_view key,
                         const std::optional<std::string>& image) {
  std::lock_guard lock(StoreMutex());
  return TheStore().WriteImage(file, key, image);
}

int16_t BeginRecordReads() {
  std::lock_guard lock(StoreMutex());
  return TheStore().BeginReads();
}

void EndRecordReads() {
  std::lock_guard lock(StoreMutex());
  TheStore().EndReads();
}

sqlite3* RecordStoreConnection() {
  std::lock_guard lock(StoreMutex());
  return TheStore().connection();
}

void SetStoreFaults(StoreFaults* faults) {
  std::lock_guard lock(StoreMutex());
  TheStore().SetFaults(faults);
}

}  // namespace quillmere
