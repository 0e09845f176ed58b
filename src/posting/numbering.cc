// Journal-entry and invoice numbering: the counter goes up by one before each draw and passes
// over numbers that any line of the agency's transaction lines already uses.
#include <algorithm>
#include <cstring>
#include <optional>

#include "posting/posting.h"
#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

namespace {

constexpr int32_t kLastNumber = 999999;  // the 6-character number fields hold no more

}  // namespace

Posting::Posting(ClientFileSet& files, Operator& op, std::function<DateTime()> now)
    : files_(files), op_(op), now_(std::move(now)) {
  Blank(&JckiRec_);
}

std::string Posting::TodayStored() const { return EncodeDate(now_().date); }

int16_t Posting::Store(RecordFileHandle& file, const void* record) {
  Status_ = counts_ != nullptr ? CountWrite(file, record) : file.ReplaceByKey(record);
  // A file that could not be opened with the set was reported then; its writes are reported
  // one by one and the row goes on, as the host's programs do. Any other failure is the store
  // failing under an open file (full disk, I/O error): the import run rolls that row back.
  if (Status_ != 0 && Status_ != kStatusNotOpen) {
    ++failed_writes_;
    failed_status_ = Status_;
  }
  return Status_;
}

int16_t Posting::CountWrite(RecordFileHandle& file, const void* record) {
  if (!file.is_open()) return kStatusNotOpen;
  const StandardFile* layout = nullptr;
  for (const auto& [handle, standard] :
       {std::pair{&files_.jcki(), &kJckiFile}, std::pair{&files_.desc(), &kDescFile},
        std::pair{&files_.pol(), &kPolFile}, std::pair{&files_.ap(), &kApFile}}) {
    if (handle == &file) layout = standard;
  }
  if (layout == nullptr) return kStatusNotOpen;  // no file of the set: nothing would be written
  const std::string_view key(static_cast<const char*>(record), layout->key_length);
  const bool known = !counted_keys_.Insert(
      std::hash<std::string>{}(std::string(layout->name) + '\0' + std::string(key)));
  // The record as its key finds it: the lookup reads the key's bytes from the record itself.
  std::string found(file.record_length(), '\0');
  const bool there = known || file.GetEqual(record, found.data()) == kStatusOk;
  auto it = std::find_if(counts_->files.begin(), counts_->files.end(),
                         [&](const WriteCounts::File& f) { return f.name == layout->name; });
  if (it == counts_->files.end()) {
    counts_->files.push_back({std::string(layout->name), 0, 0});
    it = counts_->files.end() - 1;
  }
  ++(there ? it->replaced : it->inserted);
  return kStatusOk;
}

bool Posting::CountPolicyWrite(PolicyTable& table, const PolicyRow& row, std::string* error) {
  // A tag keeps the Policy keys apart from the record keys in the one set.
  const bool known = !counted_keys_.Insert(PolicyKeyHash(row) ^ 0x9e3779b97f4a7c15ull);
  bool there = known;
  if (!known && !table.Exists(row, &there, error)) return false;
  ++(there ? counts_->policy_updated : counts_->policy_inserted);
  return true;
}

bool Posting::DocumentExists(const std::string& sAgy, char type, const std::string& number) {
  // Any line of the document: the first key at or after agency + type + number.
  char key[kJckiKeyLen + 1] = {};
  const std::string prefix = sAgy + type + number;
  std::memcpy(key, prefix.data(), std::min<size_t>(prefix.size(), kJckiKeyLen));
  rJckiRec found;
  Status_ = files_.jcki().GetGreater(key, &found);
  if (Status_ != 0) return false;
  return std::memcmp(&found, prefix.data(), std::min<size_t>(prefix.size(), 9)) == 0;
}

bool Posting::PingJE(const std::string& sAgy, const std::string& number) {
  return DocumentExists(sAgy, 'J', number);
}

bool Posting::PingInvoice(const std::string& sAgy, const std::string& number) {
  return DocumentExists(sAgy, 'I', number);
}

std::optional<std::string> Posting::DrawFreeNumber(const std::string& sAgy, char type,
                                                   int32_t* counter) {
  for (;;) {
    // A number past 999999 would be stored cut to six digits, on top of another document.
    if (*counter >= kLastNumber) return std::nullopt;
    ++*counter;
    std::string candidate = LeftPadZero(std::to_string(*counter), 6);
    if (!DocumentExists(sAgy, type, candidate)) return candidate;
  }
}

std::string Posting::NextFreeNumber(const std::string& sAgy, char type, int32_t* counter,
                                    const char* what) {
  std::optional<std::string> number = DrawFreeNumber(sAgy, type, counter);
  if (!number) {
    throw PostingStopped(std::string("No ") + what + " number is left below 1000000 (last tried " +
                         std::to_string(*counter) + ")");
  }
  return *std::move(number);
}

int64_t Posting::FreeNumbers(const std::string& sAgy, char type, int32_t start, int64_t wanted) {
  int32_t counter = start;
  int64_t found = 0;
  while (found < wanted && DrawFreeNumber(sAgy, type, &counter)) ++found;
  return found;
}

int64_t Posting::FreeJENumbers(const std::string& sAgy, int32_t start, int64_t wanted) {
  return FreeNumbers(sAgy, 'J', start, wanted);
}

int64_t Posting::FreeInvNumbers(const std::string& sAgy, int32_t start, int64_t wanted) {
  return FreeNumbers(sAgy, 'I', start, wanted);
}

std::string Posting::GetNextJENum(const std::string& sAgy) {
  return NextFreeNumber(sAgy, 'J', &iJENum_, "journal-entry");
}

std::string Posting::GetNextInvNum(const std::string& sAgy) {
  return NextFreeNumber(sAgy, 'I', &iInvNum_, "invoice");
}

}  // namespace quillmere
